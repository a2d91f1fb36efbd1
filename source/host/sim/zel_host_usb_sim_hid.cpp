// The simulated adapter's HID gamepad interface: its report descriptor, the
// HID class requests, input reports on interrupt IN and output reports on
// interrupt OUT.
#include <string.h>

#include "zel_host_usb_backend.h"
#include "zel_host_usb_sim_internal.h"

namespace zel_sim {
namespace {

enum : uint8_t {
    HID_GET_REPORT = 0x01,
    HID_GET_IDLE = 0x02,
    HID_SET_REPORT = 0x09,
    HID_SET_IDLE = 0x0A,
    HID_SET_PROTOCOL = 0x0B,
};

// The HID descriptor that follows the interface's descriptor, or null.
const uint8_t *hid_descriptor(const Device &d, int index) {
    const uint8_t *begin = d.config_desc.data();
    const uint8_t *end = begin + d.config_desc.size();
    const uint8_t *p =
        zel_host_usb_find_interface(begin, (uint32_t)d.config_desc.size(), (uint8_t)index, d.alt[index], -1, nullptr);
    if (!p) return nullptr;
    for (p += p[0]; p + 2 <= end && p[0] >= 2 && p[0] <= end - p && p[1] != DESC_INTERFACE; p += p[0])
        if (p[1] == DESC_HID && p[0] >= 9) return p;
    return nullptr;
}

}  // namespace

void hid_report_descriptor(std::vector<uint8_t> &out) {
    // A gamepad with one 64-byte input report and one 32-byte output report.
    static const uint8_t desc[] = {
        0x05, 0x01,        // Usage Page (Generic Desktop)
        0x09, 0x05,        // Usage (Game Pad)
        0xA1, 0x01,        // Collection (Application)
        0x06, 0x00, 0xFF,  //   Usage Page (Vendor Defined)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Variable, Absolute)
        0x95, 0x20,        //   Report Count (32)
        0x09, 0x02,        //   Usage (2)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0xC0,              // End Collection
    };
    out.assign(desc, desc + sizeof desc);
}

int hid_in(Lock &lock, Open &o, uint8_t endpoint, uint8_t *data, uint32_t length, uint32_t timeout_ms) {
    Device &d = *o.dev;
    // A halt that comes while the read waits ends it, as a stalled IN token does.
    const int r =
        wait_for(lock, o, timeout_ms, [&d, endpoint] { return !d.hid.input.empty() || is_halted(d, endpoint); });
    if (r) return r;
    if (is_halted(d, endpoint)) return ZEL_HOST_USB_EPIPE;
    std::vector<uint8_t> report = std::move(d.hid.input.front());
    d.hid.input.pop_front();
    const uint32_t n = take_short(d, endpoint, (uint32_t)report.size());
    if (n > length) return ZEL_HOST_USB_EOVERFLOW;  // the report does not fit: babble
    memcpy(data, report.data(), n);
    return (int)n;
}

int hid_out(Device &d, const uint8_t *data, uint32_t length) {
    const uint32_t n = length < kHidReportMax ? length : kHidReportMax;
    d.hid.output.assign(data, data + n);
    return (int)n;
}

int hid_request(Device &d, const zel_host_usb_setup_t &setup, uint8_t *data) {
    const int index = interface_index(d, (uint8_t)setup.wIndex);
    if (index < 0 || d.interfaces[index].function != Function::HID) return ZEL_HOST_USB_EPIPE;
    if (setup.bmRequestType == 0x81 && setup.bRequest == REQ_GET_DESCRIPTOR) {
        const uint8_t type = (uint8_t)(setup.wValue >> 8);
        if (type == DESC_HID_REPORT) return reply(setup, data, d.report_desc.data(), (uint32_t)d.report_desc.size());
        const uint8_t *hid = type == DESC_HID ? hid_descriptor(d, index) : nullptr;
        return hid ? reply(setup, data, hid, hid[0]) : ZEL_HOST_USB_EPIPE;
    }
    switch (setup.bRequest) {
    case HID_SET_IDLE:
    case HID_SET_PROTOCOL: return setup.bmRequestType == 0x21 ? 0 : ZEL_HOST_USB_EPIPE;
    case HID_SET_REPORT:
        if (setup.bmRequestType != 0x21) return ZEL_HOST_USB_EPIPE;
        hid_out(d, data, setup.wLength);
        return setup.wLength;
    case HID_GET_IDLE:
    case HID_GET_REPORT: {
        if (setup.bmRequestType != 0xA1) return ZEL_HOST_USB_EPIPE;
        const uint8_t zeros[kHidReportMax] = {};
        return reply(setup, data, zeros, setup.bRequest == HID_GET_IDLE ? 1 : kHidReportMax);
    }
    default: return ZEL_HOST_USB_EPIPE;
    }
}

}  // namespace zel_sim

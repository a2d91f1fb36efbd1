// The simulated adapter's descriptors and its answers to the standard
// requests on endpoint 0; class requests go to the interface's function.
#include <string.h>

#include "zel_host_usb_backend.h"
#include "zel_host_usb_sim_internal.h"
#include "zel_usb_wire.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "descriptors are built in host byte order");

namespace zel_sim {
namespace {

struct __attribute__((packed)) HidDesc {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdHID;
    uint8_t bCountryCode;
    uint8_t bNumDescriptors;
    uint8_t bReportType;
    uint16_t wReportLength;
};
static_assert(sizeof(HidDesc) == 9);

struct __attribute__((packed)) QualifierDesc {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint8_t bNumConfigurations;
    uint8_t bReserved;
};
static_assert(sizeof(QualifierDesc) == 10);

enum : uint8_t { RECIP_DEVICE = 0, RECIP_INTERFACE = 1, RECIP_ENDPOINT = 2 };
enum : uint8_t { TYPE_STANDARD = 0, TYPE_CLASS = 1 };
constexpr uint16_t kFeatureEndpointHalt = 0;
constexpr uint16_t kFeatureRemoteWakeup = 1;

template <class T>
void append(std::vector<uint8_t> &out, const T &desc) {
    // resize + memcpy rather than insert: GCC 12 at -O3 reports a bogus
    // out-of-bounds write for a range insert into a vector this small.
    const size_t at = out.size();
    out.resize(at + sizeof desc);
    memcpy(out.data() + at, &desc, sizeof desc);
}

void append_interface(
    std::vector<uint8_t> &out, uint8_t number, uint8_t endpoints, uint8_t cls, uint8_t sub, uint8_t proto) {
    append(out, zel_usb_interface_desc_t{9, DESC_INTERFACE, number, 0, endpoints, cls, sub, proto, 0});
}

void append_endpoint(std::vector<uint8_t> &out, uint8_t address, uint8_t type, uint16_t packet, uint8_t interval) {
    append(out, zel_usb_endpoint_desc_t{7, DESC_ENDPOINT, address, type, packet, interval});
}

bool high_speed(const Device &d) { return d.config.speed == ZEL_HOST_USB_SPEED_HIGH; }

void build_device(Device &d) {
    const zel_usb_device_desc_t dev{18, DESC_DEVICE, (uint16_t)(high_speed(d) ? 0x0200 : 0x0110), 0, 0, 0, 64,
        d.config.vid, d.config.pid, d.config.bcd_device, 1, 2, 3, 1};
    memcpy(d.device_desc, &dev, sizeof dev);
}

void build_config(Device &d) {
    std::vector<uint8_t> &c = d.config_desc;
    c.clear();
    append(c, zel_usb_config_desc_t{9, DESC_CONFIGURATION, 0, 0, 1, 0, 0x80, 50});
    uint8_t number = 0;
    if (d.config.msc) {
        append_interface(c, number++, 2, 0x08, 0x06, 0x50);
        append_endpoint(c, 0x81, ZEL_HOST_USB_PIPE_BULK, d.bulk_packet, 0);
        append_endpoint(c, 0x02, ZEL_HOST_USB_PIPE_BULK, d.bulk_packet, 0);
    }
    if (d.config.hid) {
        append_interface(c, number++, 2, 0x03, 0x00, 0x00);
        append(c, HidDesc{9, DESC_HID, 0x0111, 0, 1, DESC_HID_REPORT, (uint16_t)d.report_desc.size()});
        const uint8_t interval = high_speed(d) ? 4 : 1;  // 1 ms either way
        append_endpoint(c, 0x83, ZEL_HOST_USB_PIPE_INTERRUPT, kHidReportMax, interval);
        append_endpoint(c, 0x04, ZEL_HOST_USB_PIPE_INTERRUPT, kHidReportMax, interval);
    }
    c[4] = number;
    c[2] = (uint8_t)c.size();
    c[3] = (uint8_t)(c.size() >> 8);
}

Function function_of(const uint8_t *iface) {
    if (iface[5] == 0x08 && iface[6] == 0x06 && iface[7] == 0x50) return Function::MASS_STORAGE;
    if (iface[5] == 0x03) return Function::HID;
    return Function::OTHER;
}

int string_descriptor(const Device &d, const zel_host_usb_setup_t &setup, uint8_t index, uint8_t *data) {
    uint8_t desc[2 + 2 * 126];
    if (index == 0) {
        const uint8_t langs[4] = {4, DESC_STRING, 0x09, 0x04};  // English (US)
        return reply(setup, data, langs, sizeof langs);
    }
    if (index > 3) return ZEL_HOST_USB_EPIPE;
    const std::string &s = d.strings[index - 1];
    const size_t n = s.size() < 126 ? s.size() : 126;
    desc[0] = (uint8_t)(2 + 2 * n);
    desc[1] = DESC_STRING;
    for (size_t i = 0; i < n; i++) {
        desc[2 + 2 * i] = (uint8_t)s[i];
        desc[3 + 2 * i] = 0;
    }
    return reply(setup, data, desc, desc[0]);
}

int get_descriptor(const Device &d, const zel_host_usb_setup_t &setup, uint8_t *data) {
    const uint8_t type = (uint8_t)(setup.wValue >> 8);
    const uint8_t index = (uint8_t)setup.wValue;
    switch (type) {
    case DESC_DEVICE: return reply(setup, data, d.device_desc, sizeof d.device_desc);
    case DESC_CONFIGURATION:
        if (index != 0) return ZEL_HOST_USB_EPIPE;
        return reply(setup, data, d.config_desc.data(), (uint32_t)d.config_desc.size());
    case DESC_STRING: return string_descriptor(d, setup, index, data);
    case DESC_DEVICE_QUALIFIER: {
        if (!high_speed(d)) return ZEL_HOST_USB_EPIPE;
        const QualifierDesc q{
            10, DESC_DEVICE_QUALIFIER, 0x0200, d.device_desc[4], d.device_desc[5], d.device_desc[6], 64, 1, 0};
        return reply(setup, data, &q, sizeof q);
    }
    default: return ZEL_HOST_USB_EPIPE;
    }
}

// Whether `endpoint` belongs to the current setting of any interface.
bool endpoint_exists(const Device &d, uint8_t endpoint) {
    for (int i = 0; i < d.interface_count; i++) {
        const uint8_t *iface = zel_host_usb_find_interface(
            d.config_desc.data(), (uint32_t)d.config_desc.size(), (uint8_t)i, d.alt[i], -1, nullptr);
        for (int p = 0; iface && p < iface[4]; p++) {
            const uint8_t *ep = nullptr;
            zel_host_usb_find_interface(
                d.config_desc.data(), (uint32_t)d.config_desc.size(), (uint8_t)i, d.alt[i], p, &ep);
            if (ep && ep[2] == endpoint) return true;
        }
    }
    return false;
}

int endpoint_feature(Device &d, const zel_host_usb_setup_t &setup, bool set) {
    const uint8_t endpoint = (uint8_t)setup.wIndex;
    if (setup.wValue != kFeatureEndpointHalt) return ZEL_HOST_USB_EPIPE;
    if ((endpoint & 0x0F) == 0) return 0;  // endpoint 0 clears itself
    if (!endpoint_exists(d, endpoint)) return ZEL_HOST_USB_EPIPE;
    if (set) {
        d.halted |= halt_bit(endpoint);
        bot_halt_changed(d);
    } else {
        d.halted &= ~halt_bit(endpoint);
    }
    d.changed.notify_all();
    return 0;
}

int set_configuration(Device &d, uint16_t value) {
    if (value != 0 && value != d.config_desc[5]) return ZEL_HOST_USB_EPIPE;
    d.configuration = (uint8_t)value;
    memset(d.alt, 0, sizeof d.alt);
    d.halted = 0;
    bot_reset(d);
    d.changed.notify_all();
    return 0;
}

int standard_request(Device &d, const zel_host_usb_setup_t &setup, uint8_t *data) {
    const uint8_t recipient = setup.bmRequestType & 0x1F;
    switch (setup.bRequest) {
    case REQ_GET_STATUS: {
        uint8_t status[2] = {};
        if (recipient == RECIP_ENDPOINT) status[0] = is_halted(d, (uint8_t)setup.wIndex) ? 1 : 0;
        return reply(setup, data, status, 2);
    }
    case REQ_CLEAR_FEATURE:
    case REQ_SET_FEATURE:
        if (recipient == RECIP_ENDPOINT) return endpoint_feature(d, setup, setup.bRequest == REQ_SET_FEATURE);
        return recipient == RECIP_DEVICE && setup.wValue == kFeatureRemoteWakeup ? 0 : ZEL_HOST_USB_EPIPE;
    case REQ_SET_ADDRESS: return 0;
    case REQ_GET_DESCRIPTOR:
        if (recipient == RECIP_INTERFACE) return hid_request(d, setup, data);
        return get_descriptor(d, setup, data);
    case REQ_GET_CONFIGURATION: return reply(setup, data, &d.configuration, 1);
    case REQ_SET_CONFIGURATION: return set_configuration(d, setup.wValue);
    case REQ_GET_INTERFACE: {
        const int i = interface_index(d, (uint8_t)setup.wIndex);
        if (i < 0 || d.configuration == 0) return ZEL_HOST_USB_EPIPE;
        return reply(setup, data, &d.alt[i], 1);
    }
    case REQ_SET_INTERFACE: {
        const int i = interface_index(d, (uint8_t)setup.wIndex);
        if (i < 0) return ZEL_HOST_USB_EPIPE;
        return select_alt(d, (uint8_t)i, (uint8_t)setup.wValue) == 0 ? 0 : ZEL_HOST_USB_EPIPE;
    }
    default: return ZEL_HOST_USB_EPIPE;
    }
}

// The first bulk IN and bulk OUT endpoints of alternate setting 0.
void find_bulk_pair(Device &d, uint8_t index) {
    for (int p = 0;; p++) {
        const uint8_t *ep = nullptr;
        if (!zel_host_usb_find_interface(d.config_desc.data(), (uint32_t)d.config_desc.size(), index, 0, p, &ep))
            return;
        if ((ep[3] & 3) != ZEL_HOST_USB_PIPE_BULK) continue;
        uint8_t &slot = (ep[2] & 0x80) ? d.bot_in : d.bot_out;
        if (!slot) slot = ep[2];
    }
}

void clear_halts(Device &d, uint8_t index, uint8_t alt) {
    for (int p = 0;; p++) {
        const uint8_t *ep = nullptr;
        if (!zel_host_usb_find_interface(d.config_desc.data(), (uint32_t)d.config_desc.size(), index, alt, p, &ep))
            return;
        d.halted &= ~halt_bit(ep[2]);
    }
}

}  // namespace

int interface_index(const Device &d, uint8_t number) {
    for (int i = 0; i < d.interface_count; i++)
        if (d.interfaces[i].number == number) return i;
    return -1;
}

int select_alt(Device &d, uint8_t index, uint8_t alt) {
    if (index >= d.interface_count) return ZEL_HOST_USB_ENOENT;
    if (!zel_host_usb_find_interface(d.config_desc.data(), (uint32_t)d.config_desc.size(), index, alt, -1, nullptr))
        return ZEL_HOST_USB_ENOENT;
    // The endpoints of the old and the new setting start clear.
    clear_halts(d, index, d.alt[index]);
    clear_halts(d, index, alt);
    d.alt[index] = alt;
    d.changed.notify_all();
    return 0;
}

bool build_descriptors(Device &d) {
    d.bulk_packet = high_speed(d) ? 512 : 64;
    hid_report_descriptor(d.report_desc);
    if (d.config.device_desc) {
        memcpy(d.device_desc, d.config.device_desc, sizeof d.device_desc);
        if (d.device_desc[0] != 18 || d.device_desc[1] != DESC_DEVICE) return false;
    } else {
        build_device(d);
    }
    if (d.config.config_desc) {
        const uint8_t *c = d.config.config_desc;
        const uint16_t length = d.config.config_length;
        if (length < 9 || c[0] != 9 || c[1] != DESC_CONFIGURATION || (uint16_t)(c[2] | c[3] << 8) != length)
            return false;
        d.config_desc.assign(c, c + length);
    } else {
        build_config(d);
    }
    const uint8_t *c = d.config_desc.data();
    const uint32_t length = (uint32_t)d.config_desc.size();
    const int count = zel_host_usb_count_interfaces(c, length);
    if (count > kMaxInterfaces) return false;
    d.interface_count = count;
    for (int i = 0; i < count; i++) {
        const uint8_t *iface = zel_host_usb_find_interface(c, length, (uint8_t)i, 0, -1, nullptr);
        if (!iface) return false;  // an interface without alternate setting 0
        d.interfaces[i] = Interface{iface[2], function_of(iface)};
        if (d.interfaces[i].function == Function::MASS_STORAGE && !d.bot_in) find_bulk_pair(d, (uint8_t)i);
    }
    return true;
}

int standard_control(Device &d, const zel_host_usb_setup_t &setup, uint8_t *data) {
    const uint8_t type = (setup.bmRequestType >> 5) & 3;
    if (type == TYPE_STANDARD) return standard_request(d, setup, data);
    if (type == TYPE_CLASS && (setup.bmRequestType & 0x1F) == RECIP_INTERFACE) {
        const int i = interface_index(d, (uint8_t)setup.wIndex);
        if (i < 0) return ZEL_HOST_USB_EPIPE;
        switch (d.interfaces[i].function) {
        case Function::MASS_STORAGE: return bot_class_request(d, setup, data);
        case Function::HID: return hid_request(d, setup, data);
        default: return ZEL_HOST_USB_EPIPE;
        }
    }
    return ZEL_HOST_USB_EPIPE;
}

}  // namespace zel_sim

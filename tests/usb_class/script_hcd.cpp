#include "script_hcd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "zel_heap.h"
#include "zel_test.h"
#include "zel_usbh_enum.h"
#include "zel_usbh_hid.h"
#include "zel_usbh_libusb.h"
#include "zel_usbh_msc.h"

namespace usb_class_test {

namespace {

constexpr int16_t kStall = -32;

std::map<zel_usbh_t *, ScriptHcd *> g_hcds;

ScriptHcd &hcd_of(zel_usbh_t *host) { return *g_hcds.at(host); }

int32_t init(zel_eda_t *, zel_evt_t, zel_usbh_t *) { return 0; }
int32_t zero() { return 0; }
int32_t alloc_device(zel_usbh_t *, zel_usbh_dev_t *) { return 0; }
void free_device(zel_usbh_t *, zel_usbh_dev_t *) {}

zel_usbh_hcd_urb_t *alloc_urb(zel_usbh_t *host) {
    auto *urb = static_cast<zel_usbh_hcd_urb_t *>(zel_heap_calloc(1, sizeof(zel_usbh_hcd_urb_t)));
    hcd_of(host).live.push_back(urb);
    return urb;
}

void forget(std::vector<zel_usbh_hcd_urb_t *> &list, zel_usbh_hcd_urb_t *urb) {
    list.erase(std::remove(list.begin(), list.end(), urb), list.end());
}

void free_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb) {
    ScriptHcd &h = hcd_of(host);
    forget(h.live, urb);
    forget(h.waiting_in, urb);
    forget(h.held, urb);
    zel_usbh_hcd_urb_free_buffer(urb);
    zel_heap_free(urb);
}

const Bytes *descriptor(const ScriptDevice &d, const zel_usbh_setup_t &s) {
    const uint8_t type = s.wValue >> 8, index = s.wValue & 0xFF;
    if (s.bmRequestType == 0x81) return type == ZEL_USB_DT_REPORT ? &d.report_desc : nullptr;
    if (type == ZEL_USB_DT_DEVICE) return &d.device;
    if (type == ZEL_USB_DT_CONFIG && index < d.configs.size()) return &d.configs[index];
    if (type == ZEL_USB_DT_STRING && d.strings.count(index)) return &d.strings.at(index);
    return nullptr;
}

void answer_control(ScriptHcd &h, zel_usbh_hcd_urb_t *urb) {
    const zel_usbh_setup_t &s = urb->setup;
    urb->status = 0;
    urb->actual_length = 0;
    if (s.bRequest != ZEL_USB_REQ_GET_DESCRIPTOR || !(s.bmRequestType & ZEL_USB_DIR_IN)) return;
    const Bytes *src = descriptor(h.dev, s);
    if (s.bmRequestType == 0x81 && h.dev.report_desc_status) {
        urb->status = h.dev.report_desc_status;
        return;
    }
    if (!src) {
        urb->status = kStall;
        return;
    }
    const uint32_t n = std::min<uint32_t>(s.wLength, (uint32_t)src->size());
    if (n) memcpy(urb->buffer, src->data(), n);
    urb->actual_length = n;
}

int32_t submit_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb) {
    ScriptHcd &h = hcd_of(host);
    const zel_usbh_pipe_t pipe = urb->pipe;
    if (zel_pipe_type(pipe) == ZEL_USB_XFER_CONTROL) {
        const zel_usbh_setup_t &refused = h.dev.refused;
        if (urb->setup.bmRequestType == refused.bmRequestType && urb->setup.bRequest == refused.bRequest)
            return ZEL_USBH_ERR_HCD;
        h.control.push_back(urb->setup);
        const zel_usbh_setup_t &s = urb->setup;
        const bool config_read = s.bmRequestType == ZEL_USB_DIR_IN && s.bRequest == ZEL_USB_REQ_GET_DESCRIPTOR &&
                                 (s.wValue >> 8) == ZEL_USB_DT_CONFIG && s.wLength > 9;
        if ((h.dev.hold_vendor_requests && (s.bmRequestType & 0x60) == 0x40) ||
            (h.dev.hold_config_reads && config_read)) {
            h.held.push_back(urb);
            return 0;
        }
        answer_control(h, urb);
    } else if (zel_pipe_is_in(pipe)) {
        for (int n = h.dev.refuse_in.load(); n > 0;)
            if (h.dev.refuse_in.compare_exchange_weak(n, n - 1)) return ZEL_USBH_ERR_HCD;
        h.in_submits++;
        if (const int16_t status = h.dev.in_status.load()) {
            urb->status = status;
            urb->actual_length = 0;
            return zel_eda_post_msg(urb->owner, urb);
        }
        h.waiting_in.push_back(urb);
        return 0;
    } else {
        const auto *data = static_cast<const uint8_t *>(urb->buffer);
        h.out_reports.emplace_back(data, data + urb->transfer_length);
        urb->status = 0;
        urb->actual_length = urb->transfer_length;
    }
    return zel_eda_post_msg(urb->owner, urb);
}

int32_t relink_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb) {
    hcd_of(host).relinks++;
    return submit_urb(host, urb);
}

int32_t reset_dev(zel_usbh_t *, zel_usbh_dev_t *) { return 0; }
bool is_dev_reset(zel_usbh_t *, zel_usbh_dev_t *) { return false; }

const zel_usbh_hcd_drv_t kScriptDrv = {
    .init = init,
    .unused = {zero, zero, zero, zero},
    .alloc_device = alloc_device,
    .free_device = free_device,
    .alloc_urb = alloc_urb,
    .free_urb = free_urb,
    .submit_urb = submit_urb,
    .relink_urb = relink_urb,
    .reset_dev = reset_dev,
    .is_dev_reset = is_dev_reset,
};

}  // namespace

std::vector<std::string> ScriptHcd::requests() const {
    std::vector<std::string> out;
    for (const zel_usbh_setup_t &s : control)
        out.push_back(std::to_string(s.bRequest) + ":" + std::to_string(s.wValue) + ":" + std::to_string(s.wIndex) +
                      ":" + std::to_string(s.wLength));
    return out;
}

zel_usbh_t *new_script_host(ScriptHcd *hcd) {
    struct Slot {
        zel_usbh_t host{};
        zel_usbh_class_node_t nodes[6]{};
    };
    static std::deque<Slot> slots;
    Slot &slot = slots.emplace_back();
    zel_usbh_t *host = &slot.host;
    host->hcd = &kScriptDrv;
    zel_test::run_as_irq([&] { g_hcds[host] = hcd; });
    const zel_usbh_class_drv_t *order[6] = {&zel_usbh_libusb_class, &zel_usbh_msc_class, &zel_usbh_hid_class,
        &zel_usbh_ds4_class, &zel_usbh_nspro_class, &zel_usbh_xb360_class};
    EXPECT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_usbh_init(host));
        for (int i = 0; i < 6; i++) {
            slot.nodes[i].drv = order[i];
            zel_usbh_register_class(host, &slot.nodes[i]);
        }
    }));
    EXPECT_TRUE(zel_test::wait_until([&] { return host->agent.handler.plain == zel_usbh_enum_evthandler; }));
    return host;
}

zel_usbh_dev_t *plug(zel_usbh_t *host) {
    zel_usbh_dev_t *dev = nullptr;
    EXPECT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_FULL); }));
    EXPECT_TRUE(zel_test::wait_until([&] { return host->enum_dev == nullptr; }));
    zel_test::settle();
    return dev;
}

void unplug(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    EXPECT_TRUE(zel_test::run_in_agent([&] { zel_usbh_disconnect_device(host, dev); }));
    zel_test::settle();
}

bool feed(ScriptHcd *hcd, const Bytes &report, int16_t status) {
    if (!wait_for_read(hcd)) return false;
    zel_test::run_as_irq([&] {
        zel_usbh_hcd_urb_t *urb = hcd->waiting_in.front();
        hcd->waiting_in.erase(hcd->waiting_in.begin());
        const uint32_t n = std::min<uint32_t>((uint32_t)report.size(), urb->transfer_length);
        if (n && urb->buffer) memcpy(urb->buffer, report.data(), n);
        urb->status = status;
        urb->actual_length = status ? 0 : n;
        EXPECT_EQ(0, zel_eda_post_msg(urb->owner, urb));
    });
    zel_test::settle();
    return true;
}

bool wait_for_read(ScriptHcd *hcd) {
    return zel_test::wait_until([&] { return !hcd->waiting_in.empty(); });
}

void release_held(ScriptHcd *hcd, int16_t status) {
    zel_test::run_as_irq([&] {
        for (zel_usbh_hcd_urb_t *urb : hcd->held) {
            if (status == 0) {
                answer_control(*hcd, urb);
            } else {
                urb->status = status;
                urb->actual_length = 0;
            }
            EXPECT_EQ(0, zel_eda_post_msg(urb->owner, urb));
        }
        hcd->held.clear();
    });
    zel_test::settle();
}

std::string bound(zel_usbh_dev_t *dev, int i) {
    std::string name;
    zel_test::run_as_irq([&] {
        if (dev->ifs && i < dev->ifs_count && dev->ifs[i].drv) name = dev->ifs[i].drv->name;
    });
    return name;
}

usb_test::Ifs hid_ifs(uint8_t number, uint8_t cls, uint8_t sub, uint8_t proto, uint16_t report_length) {
    const Bytes hid = {9, 0x21, 0x11, 0x01, 0, 1, 0x22, (uint8_t)report_length, (uint8_t)(report_length >> 8)};
    return {number, 0, cls, sub, proto, {{0x81, 3, 64, 1}, {0x02, 3, 64, 1}}, hid};
}

Bytes string_desc(const std::u16string &text) {
    Bytes d = {(uint8_t)(2 + 2 * text.size()), 3};
    for (char16_t c : text) {
        d.push_back((uint8_t)c);
        d.push_back((uint8_t)(c >> 8));
    }
    return d;
}

}  // namespace usb_class_test

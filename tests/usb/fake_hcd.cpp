// The scripted host-controller driver of the core's tests.
#include "fake_hcd.h"

#include <cstring>
#include <deque>
#include <map>

#include <gtest/gtest.h>

#include "zel_heap.h"
#include "zel_test.h"

namespace usb_test {

namespace {

std::map<zel_usbh_t *, FakeHcd *> g_fakes;

FakeHcd &fake_of(zel_usbh_t *host) { return *g_fakes.at(host); }

int32_t init(zel_eda_t *, zel_evt_t, zel_usbh_t *) { return 0; }
int32_t zero() { return 0; }

int32_t alloc_device(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    if (fake_of(host).fail_alloc_device) return -1;
    dev->hcd_ctx = &fake_of(host);
    return 0;
}

void free_device(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    fake_of(host).devices_freed++;
    dev->hcd_ctx = nullptr;
}

zel_usbh_hcd_urb_t *alloc_urb(zel_usbh_t *host) {
    FakeHcd &f = fake_of(host);
    if (f.fail_alloc_urb || f.urbs_before_failure == 0) return nullptr;
    if (f.urb_refusals > 0) {
        f.urb_refusals--;
        return nullptr;
    }
    if (f.urbs_before_failure > 0) f.urbs_before_failure--;
    auto *urb = static_cast<zel_usbh_hcd_urb_t *>(zel_heap_calloc(1, sizeof(zel_usbh_hcd_urb_t)));
    fake_of(host).live.insert(urb);
    return urb;
}

void free_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb) {
    FakeHcd &f = fake_of(host);
    f.urbs_freed++;
    f.live.erase(urb);
    zel_usbh_hcd_urb_free_buffer(urb);
    zel_heap_free(urb);
}

void answer(FakeHcd &f, zel_usbh_hcd_urb_t *urb) {
    const zel_usbh_setup_t &s = urb->setup;
    urb->status = f.fault ? f.fault(*urb) : 0;
    urb->actual_length = 0;
    if (urb->status != 0 || s.bRequest != ZEL_USB_REQ_GET_DESCRIPTOR) return;
    const Bytes *src = nullptr;
    if (s.wValue >> 8 == ZEL_USB_DT_DEVICE) src = &f.device;
    if (s.wValue >> 8 == ZEL_USB_DT_CONFIG && (s.wValue & 0xFF) < f.configs.size()) src = &f.configs[s.wValue & 0xFF];
    if (!src) {
        urb->status = -32;
        return;
    }
    const uint32_t n = std::min<uint32_t>(s.wLength, (uint32_t)src->size());
    if (n) memcpy(urb->buffer, src->data(), n);
    urb->actual_length = n;
}

int32_t submit_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb) {
    FakeHcd &f = fake_of(host);
    if (zel_pipe_type(urb->pipe) != ZEL_USB_XFER_CONTROL) {
        f.bulk.push_back(urb->pipe.word);
        return 0;
    }
    if (f.refuse_after == 0 && f.refuse_count > 0) {
        f.refuse_count--;
        f.refused++;
        return ZEL_ERR_NO_MEMORY;
    }
    if (f.refuse_after > 0) f.refuse_after--;
    f.sent.push_back({urb->setup, urb->pipe.word});
    answer(f, urb);
    if (f.tamper) f.tamper(*urb);
    return zel_eda_post_msg(urb->owner, urb);
}

int32_t relink_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *) {
    fake_of(host).relinks++;
    return 0;
}

int32_t reset_dev(zel_usbh_t *host, zel_usbh_dev_t *) {
    FakeHcd &f = fake_of(host);
    f.resets++;
    f.polls_left = f.reset_polls;
    return 0;
}

bool is_dev_reset(zel_usbh_t *host, zel_usbh_dev_t *) {
    FakeHcd &f = fake_of(host);
    if (f.polls_left == 0) return false;
    f.polls_left--;
    return true;
}

}  // namespace

const zel_usbh_hcd_drv_t fake_hcd_drv = {
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

std::vector<std::string> FakeHcd::requests() const {
    std::vector<std::string> out;
    for (const Sent &s : sent)
        out.push_back(std::to_string(s.setup.bRequest) + ":" + std::to_string(s.setup.wValue) + ":" +
                      std::to_string(s.setup.wIndex) + ":" + std::to_string(s.setup.wLength));
    return out;
}

zel_usbh_t *new_fake_host(FakeHcd *fake) {
    static std::deque<zel_usbh_t> hosts;
    zel_usbh_t *host = &hosts.emplace_back();
    host->hcd = &fake_hcd_drv;
    zel_test::run_as_irq([&] { g_fakes[host] = fake; });
    EXPECT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_usbh_init(host)); }));
    zel_test::settle();
    return host;
}

zel_usbh_dev_t *plug(zel_usbh_t *host, uint8_t speed) {
    zel_usbh_dev_t *dev = nullptr;
    EXPECT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, speed); }));
    EXPECT_TRUE(zel_test::wait_until([&] { return host->enum_dev == nullptr; }));
    return dev;
}

}  // namespace usb_test

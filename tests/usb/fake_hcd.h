// A host-controller driver for the core's tests: it answers control
// requests from a scripted device at once (message 265 to the owner) and
// records every request, reset and URB.
#ifndef FAKE_HCD_H
#define FAKE_HCD_H

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "usb_descs.h"
#include "zel_usbh_enum.h"
#include "zel_usbh_hcd.h"

namespace usb_test {

struct Sent {
    zel_usbh_setup_t setup;
    uint32_t pipe;
};

struct FakeHcd {
    Bytes device;
    std::vector<Bytes> configs;
    // A non-zero answer fails the transfer with that status.
    std::function<int16_t(const zel_usbh_hcd_urb_t &)> fault;
    // Runs on every answered control request: may change what came back.
    std::function<void(zel_usbh_hcd_urb_t &)> tamper;
    uint32_t reset_polls = 2;  // is_dev_reset answers true this often after a reset
    bool fail_alloc_device = false;
    bool fail_alloc_urb = false;
    int urbs_before_failure = -1;  // allocations that still work, -1 for ever
    int urb_refusals = 0;          // the next this many URB allocations fail
    // After `refuse_after` more control submits went through (-1: never),
    // the next `refuse_count` are refused for want of event nodes.
    int refuse_after = -1;
    int refuse_count = 1;
    int refused = 0;

    // what happened (kernel context writes, tests read once things settled)
    std::vector<Sent> sent;
    std::vector<uint32_t> bulk;  // pipes of submitted non-control URBs
    int resets = 0, relinks = 0, urbs_freed = 0, devices_freed = 0;
    std::set<zel_usbh_hcd_urb_t *> live;
    uint32_t polls_left = 0;

    // The requests sent, as "bRequest:wValue:wIndex:wLength".
    std::vector<std::string> requests() const;
};

extern const zel_usbh_hcd_drv_t fake_hcd_drv;

// A fresh host object over the fake driver, its agent started. Host objects
// live for the whole test binary.
zel_usbh_t *new_fake_host(FakeHcd *fake);

// Connects a device (kernel context) and waits until its enumeration ended.
zel_usbh_dev_t *plug(zel_usbh_t *host, uint8_t speed);

}  // namespace usb_test

#endif

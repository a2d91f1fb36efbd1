// A host-controller driver for the class tests: one scripted device per
// host. Control requests are answered at once from the script; interrupt-in
// URBs wait until a test feeds a report; interrupt-out URBs are recorded and
// completed at once. Every completion is message 265 to the URB's owner.
#ifndef SCRIPT_HCD_H
#define SCRIPT_HCD_H

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "usb_descs.h"
#include "zel_usbh_hcd.h"

namespace usb_class_test {

using usb_test::Bytes;

struct ScriptDevice {
    Bytes device;
    std::vector<Bytes> configs;
    std::map<uint8_t, Bytes> strings;   // by index; 0 holds the language list
    Bytes report_desc;                  // answers GET_DESCRIPTOR(0x22)
    int16_t report_desc_status = 0;     // non-zero fails that request
    bool hold_vendor_requests = false;  // vendor requests (type bits 0x40) wait for release_held()
    bool hold_config_reads = false;     // reads of a whole configuration (beyond its 9-byte header) too
    // Non-zero: interrupt-in URBs fail with it at once (a stalled endpoint).
    // Any thread may set it: a class that spins on the failures keeps the
    // kernel too busy to enter.
    std::atomic<int16_t> in_status{0};
    // The next this many interrupt-in submissions are refused (the
    // controller driver answers ZEL_USBH_ERR_HCD and nothing is queued).
    std::atomic<int> refuse_in{0};
    // A control request (bmRequestType, bRequest) whose submission fails.
    zel_usbh_setup_t refused{0xFF, 0xFF, 0, 0, 0};
};

struct ScriptHcd {
    ScriptDevice dev;

    // what happened (kernel context writes; read once things settled)
    std::vector<zel_usbh_setup_t> control;  // every control request
    std::vector<Bytes> out_reports;         // data of interrupt-out URBs
    std::atomic<int> in_submits{0};         // interrupt-in submissions (first and relinks); any thread reads it
    int relinks = 0;
    std::vector<zel_usbh_hcd_urb_t *> waiting_in;  // interrupt-in URBs without data yet
    std::vector<zel_usbh_hcd_urb_t *> held;        // held control requests
    std::vector<zel_usbh_hcd_urb_t *> live;        // allocated URBs

    // "bRequest:wValue:wIndex:wLength" of every control request.
    std::vector<std::string> requests() const;
};

// A host object over the scripted driver with the six classes registered
// in the program's order ("libusb", "msc", "hid", "ds4", "nspro", "xb360").
zel_usbh_t *new_script_host(ScriptHcd *hcd);

// Plugs the scripted device (full speed) and waits until its enumeration
// ended; unplugs it (kernel context).
zel_usbh_dev_t *plug(zel_usbh_t *host);
void unplug(zel_usbh_t *host, zel_usbh_dev_t *dev);

// Completes the oldest waiting interrupt-in URB with `report` (kernel
// context); false when none waits.
bool feed(ScriptHcd *hcd, const Bytes &report, int16_t status = 0);
// Waits until an interrupt-in URB waits (a read is running).
bool wait_for_read(ScriptHcd *hcd);
// Completes the held control requests with `status`; status 0 answers
// them from the script.
void release_held(ScriptHcd *hcd, int16_t status);

// The name of the class bound to interface i, "" when none.
std::string bound(zel_usbh_dev_t *dev, int i);

// A HID interface: its HID descriptor (report descriptor of
// `report_length` bytes), interrupt IN 0x81 and OUT 0x02.
usb_test::Ifs hid_ifs(uint8_t number, uint8_t cls = 3, uint8_t sub = 0, uint8_t proto = 0, uint16_t report_length = 40);
// A string descriptor of UTF-16 units.
Bytes string_desc(const std::u16string &text);

}  // namespace usb_class_test

#endif

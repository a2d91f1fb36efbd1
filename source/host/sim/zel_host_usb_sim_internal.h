// The simulated adapter's device record, shared by its files: the device
// and its registry (zel_host_usb_sim.cpp), descriptors and standard requests
// (zel_host_usb_sim_std.cpp), Bulk-Only Transport (zel_host_usb_sim_bot.cpp)
// and HID (zel_host_usb_sim_hid.cpp); and the back end's table, which the
// offers (zel_host_usb_sim.cpp, zel_host_usb_sim_env.cpp) hand the layer.
#ifndef ZEL_HOST_USB_SIM_INTERNAL_H
#define ZEL_HOST_USB_SIM_INTERNAL_H

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "zel_host_usb_backend.h"
#include "zel_host_usb_sim.h"

// The back end's table (zel_host_usb_sim.cpp), which the offers hand the
// host-USB layer.
extern const zel_host_usb_backend_t zel_host_usb_sim_backend;

namespace zel_sim {

constexpr int kMaxInterfaces = 8;
constexpr uint32_t kHidReportMax = 64;
constexpr uint32_t kHidQueueMax = 16;
constexpr uint32_t kBotDataMax = 4u << 20;  // largest data phase the device buffers

// Descriptor types and requests the device knows.
enum : uint8_t {
    DESC_DEVICE = 1,
    DESC_CONFIGURATION = 2,
    DESC_STRING = 3,
    DESC_INTERFACE = 4,
    DESC_ENDPOINT = 5,
    DESC_DEVICE_QUALIFIER = 6,
    DESC_HID = 0x21,
    DESC_HID_REPORT = 0x22,
};

// Standard requests.
enum : uint8_t {
    REQ_GET_STATUS = 0,
    REQ_CLEAR_FEATURE = 1,
    REQ_SET_FEATURE = 3,
    REQ_SET_ADDRESS = 5,
    REQ_GET_DESCRIPTOR = 6,
    REQ_GET_CONFIGURATION = 8,
    REQ_SET_CONFIGURATION = 9,
    REQ_GET_INTERFACE = 10,
    REQ_SET_INTERFACE = 11,
};

enum class Function : uint8_t { OTHER, MASS_STORAGE, HID };

// Bulk-Only Transport phases, seen from the device.
enum class BotPhase : uint8_t {
    COMMAND,     // waiting for a CBW on bulk OUT
    EXECUTING,   // the SCSI unit runs the command
    DATA_IN,     // data for the host on bulk IN
    DATA_OUT,    // data from the host on bulk OUT
    STATUS,      // the CSW is ready on bulk IN
    NEEDS_RESET  // invalid CBW: both bulk endpoints stall until a reset
};

struct Bot {
    BotPhase phase = BotPhase::COMMAND;
    uint32_t epoch = 0;  // changes on reset and plug: a running command's result is dropped
    uint32_t tag = 0;
    uint32_t expected = 0;  // dCBWDataTransferLength
    bool data_in = false;
    uint8_t cdb[16] = {};
    uint8_t cdb_length = 0;
    std::vector<uint8_t> data;
    uint32_t data_length = 0;  // bytes the device has for the host, or has taken
    uint32_t offset = 0;       // bytes moved in the data phase so far
    uint8_t status = 0;
    uint32_t residue = 0;
};

struct Hid {
    std::deque<std::vector<uint8_t>> input;
    std::vector<uint8_t> output;
};

// One interface of the configuration.
struct Interface {
    uint8_t number = 0;
    Function function = Function::OTHER;
};

}  // namespace zel_sim

struct zel_host_usb_sim_dev {
    std::mutex m;
    std::condition_variable changed;  // phase, queue, plug and cancel changes

    uint32_t id = 0;  // the path's slot number
    zel_host_usb_sim_config_t config{};
    std::string strings[3];
    uint8_t device_desc[18] = {};
    std::vector<uint8_t> config_desc;
    std::vector<uint8_t> report_desc;
    zel_sim::Interface interfaces[zel_sim::kMaxInterfaces];
    int interface_count = 0;
    uint16_t bulk_packet = 512;
    uint8_t bot_in = 0;  // bulk endpoints of the mass-storage interface
    uint8_t bot_out = 0;

    bool plugged = false;
    uint32_t plug_epoch = 0;
    bool installed = false;
    uint8_t configuration = 0;
    uint8_t alt[zel_sim::kMaxInterfaces] = {};
    uint32_t halted = 0;
    int open_count = 0;
    bool destroyed = false;  // freed by the last close

    uint32_t fail_count = 0;
    int fail_code = 0;
    uint8_t short_endpoint = 0;
    uint32_t short_bytes = 0;
    bool short_armed = false;
    uint32_t status_stalls = 0;   // CSW reads still to stall
    uint32_t status_corrupt = 0;  // CSWs still to send with a wrong signature
    bool status_held = false;     // the CSW is kept back
    int install_code = 0;
    std::string install_text;
    int open_code = 0;

    uint32_t commands = 0;
    uint32_t bot_resets = 0;
    uint32_t installs = 0;

    zel_sim::Bot bot;
    zel_sim::Hid hid;
};

namespace zel_sim {

using Device = zel_host_usb_sim_dev;
using Lock = std::unique_lock<std::mutex>;

// An open handle of the back end.
struct Open {
    Device *dev;
    uint32_t epoch;  // plug epoch at open
    bool cancelled;
};

inline uint32_t halt_bit(uint8_t endpoint) { return 1u << ((endpoint & 0x0F) | ((endpoint & 0x80) ? 16 : 0)); }
inline bool is_halted(const Device &d, uint8_t endpoint) { return (d.halted & halt_bit(endpoint)) != 0; }

// True while the handle still reaches the plugged device it opened.
inline bool alive(const Open &o) { return !o.cancelled && o.dev->plugged && o.dev->plug_epoch == o.epoch; }

// Waits (the device's lock held by `lock`) until `ready` holds: 0, or
// ZEL_HOST_USB_ENODEV once the handle dies, or ZEL_HOST_USB_ETIMEDOUT at
// `deadline` (none when timeout_ms was 0).
template <class Pred>
int wait_for(Lock &lock, const Open &o, uint32_t timeout_ms, Pred ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (!alive(o)) return ZEL_HOST_USB_ENODEV;
        if (ready()) return 0;
        if (timeout_ms == 0)
            o.dev->changed.wait(lock);
        else if (o.dev->changed.wait_until(lock, deadline) == std::cv_status::timeout && !ready())
            return alive(o) ? ZEL_HOST_USB_ETIMEDOUT : ZEL_HOST_USB_ENODEV;
    }
}

// The IN bytes a transfer may carry: `wanted`, cut by an armed short fault.
uint32_t take_short(Device &d, uint8_t endpoint, uint32_t wanted);

// The data stage of an IN request: `length` bytes of `src`, cut to wLength.
inline int reply(const zel_host_usb_setup_t &setup, uint8_t *data, const void *src, uint32_t length) {
    const uint32_t n = length < setup.wLength ? length : setup.wLength;
    if (n) memcpy(data, src, n);
    return (int)n;
}

// Descriptors and standard requests (zel_host_usb_sim_std.cpp).
bool build_descriptors(Device &d);
int standard_control(Device &d, const zel_host_usb_setup_t &setup, uint8_t *data);
int interface_index(const Device &d, uint8_t number);  // -1 when none
int select_alt(Device &d, uint8_t index, uint8_t alt);

// Bulk-Only Transport (zel_host_usb_sim_bot.cpp).
void bot_reset(Device &d);
// A halted bulk endpoint ends the data phase that uses it: the device goes
// on to the CSW, counting what was not moved as residue.
void bot_halt_changed(Device &d);
int bot_out(Lock &lock, Open &o, const uint8_t *data, uint32_t length, uint32_t timeout_ms);
int bot_in(Lock &lock, Open &o, uint8_t *data, uint32_t length, uint32_t timeout_ms);
int bot_class_request(Device &d, const zel_host_usb_setup_t &setup, uint8_t *data);

// HID (zel_host_usb_sim_hid.cpp).
int hid_in(Lock &lock, Open &o, uint8_t endpoint, uint8_t *data, uint32_t length, uint32_t timeout_ms);
int hid_out(Device &d, const uint8_t *data, uint32_t length);
int hid_request(Device &d, const zel_host_usb_setup_t &setup, uint8_t *data);
void hid_report_descriptor(std::vector<uint8_t> &out);

}  // namespace zel_sim

#endif

// A stand-in for libusb under the host-USB layer's libusb back end: devices
// of our own making behind the back end's table of libusb calls, with what
// libusb would answer and what it was asked.
//
// Every field is guarded by standin::lock(); the calls take it themselves.
#ifndef LIBUSB_STANDIN_H
#define LIBUSB_STANDIN_H

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "zel_host_usb_libusb_calls.h"

namespace standin {

struct Endpoint {
    uint8_t address;
    uint8_t type;  // LIBUSB_TRANSFER_TYPE_*
};

struct Interface {
    uint8_t number;
    uint8_t cls;
    std::vector<Endpoint> endpoints;
    bool kernel_driver = false;
};

struct Control {
    uint8_t request_type, request;
    uint16_t value, index, length;
    unsigned timeout;
};

struct Device {
    uint16_t vid = 0xABCD, pid = 0;
    uint8_t bus = 3, address = 7;
    std::vector<uint8_t> ports = {1, 2};
    int speed = LIBUSB_SPEED_HIGH;
    uint8_t configuration = 1;
    std::vector<Interface> interfaces;
    int open_error = 0;    // what libusb_open answers
    int detach_error = 0;  // what libusb_detach_kernel_driver answers

    // state
    bool gone = false;
    int refs = 0;
    int handles = 0;
    std::set<int> claimed;
    std::set<uint8_t> halted;
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> in_data;  // by IN endpoint
    std::vector<std::vector<uint8_t>> out_data;
    std::vector<uint8_t> control_answer;  // data stage of control IN requests
    std::deque<int> control_errors;       // the next control transfers answer these
    std::deque<int> pipe_errors;          // the next bulk / interrupt transfers too

    // what was asked
    std::vector<Control> controls;
    std::vector<int> set_configurations;  // values, in order
    bool set_configuration_while_claimed = false;
    std::vector<std::pair<int, int>> alt_settings;  // (interface, alt)
    std::vector<uint8_t> cleared;                   // clear_halt endpoints
    int bulk_calls = 0, interrupt_calls = 0;
};

std::mutex &lock();

// The table to hand the back end.
extern const zel_host_usb_libusb_calls_t calls;

// Empties the bus (devices are kept until reset: the back end may still
// hold them) and sets whether hotplug is offered.
void reset(bool hotplug);
// Attaches or detaches a device: hotplug events follow when offered.
Device *plug(const Device &model);
void unplug(Device *dev);
// Hotplug callbacks registered now.
int hotplug_callbacks();

}  // namespace standin

#endif

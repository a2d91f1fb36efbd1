// The program's USB host (zel_usbh over winusb_hcd with the "msc" class)
// on the simulated adapter of the host-USB layer. The stack starts once per
// test binary; each test plugs its own devices and unplugs them again.
#ifndef SIM_STACK_H
#define SIM_STACK_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usb_hooks.h"
#include "zel_host_usb_sim.h"
#include "zel_host_usb_sim_disk.h"
#include "zel_test.h"
#include "zel_winusb_hcd.h"

extern "C" int app_usbh_setup(void);

namespace usb_test {

// Starts the stack on the simulated back end (once).
void start_sim_stack();

// True once the driver holds no device (nothing open, nothing connected).
bool hcd_idle();
// The core's record of the adapter while it is connected.
zel_usbh_dev_t *adapter_record();

// A simulated adapter (vendor 0xABCD) whose mass-storage unit is a disk.
struct SimAdapter {
    zel_host_usb_sim_config_t config{};
    zel_host_usb_sim_disk_t *disk = nullptr;
    zel_host_usb_sim_dev_t *dev = nullptr;

    // A memory disk of `blocks` blocks, or the image file at `image`.
    explicit SimAdapter(uint32_t blocks = 2048, const std::string &image = "", uint16_t pid = 0x0001);
    ~SimAdapter();
    SimAdapter(const SimAdapter &) = delete;
    SimAdapter &operator=(const SimAdapter &) = delete;

    void create();
    // Plugs the device and waits until the class has handed its disk over.
    ::testing::AssertionResult plug_and_wait_for_disk();
    // Unplugs and waits until the driver has let go of it.
    ::testing::AssertionResult unplug_and_wait();
    zel_host_usb_sim_status_t status();
};

}  // namespace usb_test

#endif

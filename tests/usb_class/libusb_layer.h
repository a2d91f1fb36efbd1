// The libusb-style API in a booted layer: the init process starts the
// libusb layer as the program's does, and scripted devices are published
// through the "libusb" class of their own hosts; the program's own host on
// the simulated adapter.
#ifndef LIBUSB_LAYER_H
#define LIBUSB_LAYER_H

#include <functional>
#include <string>
#include <vector>

#include "script_hcd.h"
#include "zel_host_usb_sim.h"

namespace usb_class_test {

// Boots the layer (once) and waits until the watcher listens.
void start_libusb_layer();

// Devices the watcher has listed.
uint32_t listed();

// A scripted device on a host of its own, plugged and listed.
struct Listed {
    ScriptHcd hcd;
    zel_usbh_t *host = nullptr;
    zel_usbh_dev_t *dev = nullptr;

    // Plugs and waits until the watcher listed it.
    ::testing::AssertionResult plug();
    // Unplugs and waits until the watcher has handled its departure.
    ::testing::AssertionResult unplug();
    ~Listed();
};

// The program's USB host (zel_usbh over winusb_hcd, the six classes) on
// the simulated adapter, started once; true once its driver holds no
// device.
void start_sim_host();
bool sim_host_idle();

// A device without a mass-storage interface on the simulated adapter, made
// from the descriptors, plugged into the program's host and listed by the
// watcher; null (with the failure recorded) when any step fails.
zel_host_usb_sim_dev_t *plug_listed_sim(const Bytes &device, const Bytes &config);

// Runs lsusb with `args` in a process of the layer: its status word and
// what it printed.
struct LsusbRun {
    int status;
    std::string output;
};
LsusbRun lsusb(const std::vector<std::string> &args);

}  // namespace usb_class_test

#endif

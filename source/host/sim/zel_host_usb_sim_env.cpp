// The simulated adapter that a person asks for: ZEL_USB=sim with
// ZEL_USB_SIM_DISK=<disk image> plugs it when the program starts; and the
// offer of the programs that take it from there.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "zel_host_usb_sim_disk.h"
#include "zel_host_usb_sim_internal.h"

namespace {

constexpr uint16_t kAdapterVid = 0xABCD;
constexpr uint16_t kAdapterPid = 0x0000;
constexpr uint32_t kBlockSize = 512;

std::atomic<zel_host_usb_sim_dev_t *> g_env_device{nullptr};

}  // namespace

extern "C" int zel_host_usb_sim_plug_from_env(void) {
    const char *image = getenv("ZEL_USB_SIM_DISK");
    if (!image || !*image) {
        if (zel_host_usb_kind() == ZEL_HOST_USB_SIM)
            fprintf(stderr, "ZEL_USB=sim but ZEL_USB_SIM_DISK names no disk image: no simulated adapter is plugged\n");
        return 0;
    }
    if (zel_host_usb_kind() != ZEL_HOST_USB_SIM) {
        fprintf(stderr, "ZEL_USB_SIM_DISK is set but ZEL_USB is not \"sim\": no simulated adapter is plugged\n");
        return 0;
    }
    // Both live as long as the program: the adapter stays plugged.
    zel_host_usb_sim_disk_t *disk = zel_host_usb_sim_disk_file(image, kBlockSize);
    if (!disk && errno == EBUSY) {
        fprintf(stderr,
            "ZEL_USB_SIM_DISK: \"%s\" is in use by a mount or another program: no simulated adapter is plugged\n",
            image);
        return ZEL_HOST_USB_EBUSY;
    }
    if (!disk) {
        const int error = errno;
        if (error == EMFILE || error == ENFILE || error == ENOMEM) {
            // The program ran short, not the image.
            fprintf(stderr,
                "ZEL_USB_SIM_DISK: \"%s\" cannot be opened for the simulated adapter: %s: no simulated adapter is "
                "plugged\n",
                image, strerror(error));
            return error == ENOMEM ? ZEL_HOST_USB_ENOMEM : ZEL_HOST_USB_EIO;
        }
        fprintf(stderr,
            "ZEL_USB_SIM_DISK: cannot use \"%s\" as the simulated adapter's disk: %s (it must be a readable and "
            "writable file of at least %u bytes)\n",
            image, error == EINVAL ? "it holds less than one block or more than 2^32" : strerror(error), kBlockSize);
        return ZEL_HOST_USB_EINVAL;
    }
    zel_host_usb_sim_config_t config;
    zel_host_usb_sim_config_init(&config, kAdapterVid, kAdapterPid);
    config.scsi = zel_host_usb_sim_disk_unit(disk);
    zel_host_usb_sim_dev_t *dev = zel_host_usb_sim_create(&config);
    const int r = dev ? zel_host_usb_sim_plug(dev) : ZEL_HOST_USB_ENOMEM;
    if (r != 0) {
        fprintf(stderr, "ZEL_USB_SIM_DISK: the simulated adapter cannot be plugged: %s\n", zel_host_usb_strerror(r));
        if (dev) zel_host_usb_sim_destroy(dev);
        zel_host_usb_sim_disk_destroy(disk);
        return r;
    }
    g_env_device.store(dev);
    return 1;
}

extern "C" zel_host_usb_sim_dev_t *zel_host_usb_sim_env_device(void) { return g_env_device.load(); }

namespace {

constexpr zel_host_usb_simulator_t kSimulatorFromEnv = {
    .backend = &zel_host_usb_sim_backend,
    .plug_from_env = zel_host_usb_sim_plug_from_env,
};

}  // namespace

extern "C" void zel_host_usb_sim_offer_env(void) { zel_host_usb_offer_sim(&kSimulatorFromEnv); }

#include "sim_stack.h"

#include <mutex>

#include "zel_usbh_enum.h"

namespace usb_test {

void start_sim_stack() {
    static std::once_flag once;
    std::call_once(once, [] {
        zel_test::boot();
        ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_SIM));
        ASSERT_TRUE(zel_test::run_in_agent([] { app_usbh_setup(); }));
        ASSERT_TRUE(zel_test::wait_until([] { return zel_usbh.agent.handler.plain == zel_usbh_enum_evthandler; }))
            << "the controller driver started";
    });
}

bool hcd_idle() {
    const zel_winusb_hcd_dev_t *d = zel_winusb_hcd_get_dev();
    return __atomic_load_n(&d->file, __ATOMIC_ACQUIRE) == ZEL_WINUSB_FILE_NONE &&
           d->state == ZEL_WINUSB_STATE_NOT_CONNECTED && zel_usbh.enum_dev == nullptr;
}

zel_usbh_dev_t *adapter_record() { return zel_winusb_hcd_get_dev()->dev; }

SimAdapter::SimAdapter(uint32_t blocks, const std::string &image, uint16_t pid) {
    zel_host_usb_sim_config_init(&config, 0xABCD, pid);
    config.msc = 1;
    disk = image.empty() ? zel_host_usb_sim_disk_memory(512, blocks) : zel_host_usb_sim_disk_file(image.c_str(), 512);
    EXPECT_NE(nullptr, disk);
    if (disk) config.scsi = zel_host_usb_sim_disk_unit(disk);
}

void SimAdapter::create() {
    if (!dev) dev = zel_host_usb_sim_create(&config);
    EXPECT_NE(nullptr, dev);
}

SimAdapter::~SimAdapter() {
    if (dev) {
        unplug_and_wait();
        zel_host_usb_sim_destroy(dev);
    }
    if (disk) zel_host_usb_sim_disk_destroy(disk);
}

::testing::AssertionResult SimAdapter::plug_and_wait_for_disk() {
    create();
    if (!dev) return ::testing::AssertionFailure() << "no simulated device";
    if (zel_host_usb_sim_plug(dev) != 0) return ::testing::AssertionFailure() << "plug refused";
    if (!zel_test::wait_until([] { return connected_disk() != nullptr; }))
        return ::testing::AssertionFailure() << "no disk handed over";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SimAdapter::unplug_and_wait() {
    if (status().plugged && zel_host_usb_sim_unplug(dev) != 0) return ::testing::AssertionFailure() << "unplug refused";
    if (!zel_test::wait_until(hcd_idle)) return ::testing::AssertionFailure() << "the driver kept the device";
    return ::testing::AssertionSuccess();
}

zel_host_usb_sim_status_t SimAdapter::status() {
    zel_host_usb_sim_status_t s{};
    if (dev) zel_host_usb_sim_get_status(dev, &s);
    return s;
}

}  // namespace usb_test

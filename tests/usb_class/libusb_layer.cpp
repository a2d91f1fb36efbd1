#include <gtest/gtest.h>

#include "libusb_layer.h"

#include <mutex>

#include "zel_linux_libusb.h"
#include "zel_host_usb.h"
#include "zel_linux_test.h"
#include "zel_thread.h"
#include "zel_usbh_enum.h"
#include "zel_winusb_hcd.h"

extern "C" int lsusb_main(int argc, char **argv);
extern "C" int app_usbh_setup(void);

// The init process starts the libusb layer and keeps its watcher thread,
// as the program's init process does (it becomes the console shell there).
extern "C" int app_create_file_hierarchy(void) {
    EXPECT_EQ(0, zel_linux_libusb_startup());
    for (;;) zel_thread_wait();
}

namespace usb_class_test {

void start_libusb_layer() {
    static std::once_flag once;
    std::call_once(once, [] {
        zel_linux_test::boot();
        ASSERT_TRUE(zel_test::wait_until([] { return !zel_dlist_is_empty(&zel_linux_libusb.watcher_sem.waiters); }))
            << "the watcher waits for its first report";
    });
}

uint32_t listed() {
    uint32_t n = 0;
    zel_test::run_as_irq([&] { n = zel_linux_libusb.count; });
    return n;
}

::testing::AssertionResult Listed::plug() {
    start_libusb_layer();
    const uint32_t before = listed();
    if (!host) host = new_script_host(&hcd);
    dev = usb_class_test::plug(host);
    if (!dev) return ::testing::AssertionFailure() << "no device record";
    if (!zel_test::wait_until([&] { return zel_linux_libusb.count == before + 1; }))
        return ::testing::AssertionFailure() << "not listed";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Listed::unplug() {
    if (!dev) return ::testing::AssertionSuccess();
    usb_class_test::unplug(host, dev);
    dev = nullptr;
    if (!zel_test::wait_until([] { return zel_dlist_is_empty(&zel_linux_libusb.detach_queue); }))
        return ::testing::AssertionFailure() << "the watcher kept the device";
    return ::testing::AssertionSuccess();
}

Listed::~Listed() { EXPECT_TRUE(unplug()); }

void start_sim_host() {
    static std::once_flag once;
    std::call_once(once, [] {
        start_libusb_layer();
        ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_SIM));
        ASSERT_TRUE(zel_test::run_in_agent([] { app_usbh_setup(); }));
        ASSERT_TRUE(zel_test::wait_until([] { return zel_usbh.agent.handler.plain == zel_usbh_enum_evthandler; }));
    });
}

zel_host_usb_sim_dev_t *plug_listed_sim(const Bytes &device, const Bytes &config) {
    start_sim_host();
    zel_host_usb_sim_config_t c;
    zel_host_usb_sim_config_init(&c, 0xABCD, 0x0000);
    c.msc = 0;
    c.device_desc = device.data();
    c.config_desc = config.data();
    c.config_length = (uint16_t)config.size();
    zel_host_usb_sim_dev_t *sim = zel_host_usb_sim_create(&c);
    EXPECT_NE(nullptr, sim);
    if (!sim) return nullptr;
    const bool listed =
        zel_host_usb_sim_plug(sim) == 0 && zel_test::wait_until([] { return zel_linux_libusb.count == 1; });
    EXPECT_TRUE(listed) << "the simulated device was not plugged and listed";
    if (!listed) {
        zel_host_usb_sim_destroy(sim);
        return nullptr;
    }
    return sim;
}

bool sim_host_idle() {
    const zel_winusb_hcd_dev_t *d = zel_winusb_hcd_get_dev();
    return __atomic_load_n(&d->file, __ATOMIC_ACQUIRE) == ZEL_WINUSB_FILE_NONE &&
           d->state == ZEL_WINUSB_STATE_NOT_CONNECTED && zel_usbh.enum_dev == nullptr;
}

LsusbRun lsusb(const std::vector<std::string> &args) {
    start_libusb_layer();
    zel_linux_test::take_output();
    const int status = zel_linux_test::run_process([&] {
        std::vector<std::string> words = {"lsusb"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        return lsusb_main((int)words.size(), argv.data());
    });
    return {status, zel_linux_test::take_output()};
}

}  // namespace usb_class_test

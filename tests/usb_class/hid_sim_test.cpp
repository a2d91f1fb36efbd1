// The "hid" class on the simulated adapter's gamepad, through the
// program's own host and winusb_hcd.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "libusb_layer.h"
#include "usb_hooks.h"
#include "zel_host_usb_sim.h"
#include "zel_test.h"
#include "zel_usbh_hid.h"
#include "zel_winusb_hcd.h"

namespace usb_class_test {
namespace {

std::mutex g_mutex;
std::vector<Bytes> g_reports;

void capture(zel_usbh_hid_t *, const uint8_t *report, uint32_t length) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_reports.emplace_back(report, report + length);
}

size_t captured() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_reports.size();
}

// Plugs a simulated gamepad (HID only) with product id `pid` and waits until
// the hid class has it; null when it could not be made, plugged or bound.
zel_host_usb_sim_dev_t *plug_gamepad(uint16_t pid) {
    zel_host_usb_sim_config_t c;
    zel_host_usb_sim_config_init(&c, 0xABCD, pid);
    c.msc = 0;
    c.hid = 1;
    zel_host_usb_sim_dev_t *sim = zel_host_usb_sim_create(&c);
    if (!sim) return nullptr;
    const bool bound = zel_host_usb_sim_plug(sim) == 0 && zel_test::wait_until([] {
        zel_usbh_dev_t *dev = zel_winusb_hcd_get_dev()->dev;
        return dev && dev->ifs && dev->ifs[0].drv == &zel_usbh_hid_class && dev->mutex.count == 1;
    });
    EXPECT_TRUE(bound) << "the gamepad " << pid << " was not bound";
    return bound ? sim : nullptr;  // a failed one stays as it is, for the test to end
}

TEST(HidSim, ProgramsHostTriesItsSixClassesInOrder) {
    start_sim_host();
    std::vector<std::string> names;
    zel_test::run_as_irq([&] {
        for (zel_usbh_class_node_t *n = zel_usbh.classes; n; n = n->next) names.push_back(n->drv->name);
    });
    EXPECT_EQ(std::vector<std::string>({"xb360", "nspro", "ds4", "hid", "msc", "libusb"}), names);
}

TEST(HidSim, GamepadReportsOfTheAdapterReachTheHidClass) {
    start_sim_host();
    zel_test::run_as_irq([] { zel_usbh_hid_report_hook = capture; });
    zel_host_usb_sim_dev_t *sim = plug_gamepad(0x0002);
    ASSERT_NE(nullptr, sim);

    Bytes first(64, 0x21), second(64, 0x42);
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(sim, first.data(), (uint32_t)first.size()));
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(sim, second.data(), (uint32_t)second.size()));
    ASSERT_TRUE(zel_test::wait_until([] { return captured() == 2; }));
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        EXPECT_EQ(first, g_reports[0]);
        EXPECT_EQ(second, g_reports[1]);
    }

    EXPECT_EQ(0, zel_host_usb_sim_unplug(sim));
    EXPECT_TRUE(zel_test::wait_until(sim_host_idle));
    zel_host_usb_sim_destroy(sim);
    zel_test::run_as_irq([] { zel_usbh_hid_report_hook = [](zel_usbh_hid_t *, const uint8_t *, uint32_t) {}; });
    EXPECT_EQ(1u, usb_test::events().count("interface removed"));
    usb_test::events().take();
}

// A gamepad whose interrupt IN keeps failing through the program's own
// stack: the class clears the halt through the driver and backs off, so the
// failures are used up slowly instead of in one burst; reports flow again
// once the endpoint works.
TEST(HidSim, FailingInterruptEndpointIsClearedAndBacksOff) {
    start_sim_host();
    zel_test::run_as_irq([] { zel_usbh_hid_report_hook = capture; });
    zel_host_usb_sim_dev_t *sim = plug_gamepad(0x0003);
    ASSERT_NE(nullptr, sim);
    const size_t before = captured();
    constexpr uint32_t kFailures = 1000;
    // The halt ends the running read; once it is cleared every read fails.
    zel_host_usb_sim_fail_transfers(sim, kFailures, ZEL_HOST_USB_EPIPE);
    ASSERT_EQ(0, zel_host_usb_sim_stall(sim, 0x83));
    auto failures_left = [sim] {
        zel_host_usb_sim_status_t s{};
        zel_host_usb_sim_get_status(sim, &s);
        return s.failures_left;
    };
    ASSERT_TRUE(zel_test::wait_until([&] { return failures_left() < kFailures; }))
        << "the halt was cleared and the read tried again";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GT(failures_left(), kFailures - 40) << "failed reads are not resubmitted at once";

    zel_host_usb_sim_fail_transfers(sim, 0, 0);
    Bytes report(64, 0x33);
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(sim, report.data(), (uint32_t)report.size()));
    EXPECT_TRUE(zel_test::wait_until([&] { return captured() == before + 1; })) << "reports flow again";

    EXPECT_EQ(0, zel_host_usb_sim_unplug(sim));
    EXPECT_TRUE(zel_test::wait_until(sim_host_idle));
    zel_host_usb_sim_destroy(sim);
    zel_test::run_as_irq([] { zel_usbh_hid_report_hook = [](zel_usbh_hid_t *, const uint8_t *, uint32_t) {}; });
    usb_test::events().take();
}

}  // namespace
}  // namespace usb_class_test

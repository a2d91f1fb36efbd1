// The host-USB layer in a program that does not link the simulated adapter
// (the product as built by default): asking for it says so in one line on
// stderr, and the machine's USB stays in use. This binary has its own main,
// which offers no simulator.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "zel_host_usb.h"

namespace {

// Runs `body` in a fresh process (where no back end is chosen yet) with the
// two variables set as given (null: unset); expects it to answer true and its
// stderr to match `pattern`.
void expect_in_fresh_process(
    const char *zel_usb, const char *sim_disk, const std::function<bool()> &body, const char *pattern) {
    SCOPED_TRACE(std::string("ZEL_USB=") + (zel_usb ? zel_usb : "(unset)") +
                 " ZEL_USB_SIM_DISK=" + (sim_disk ? sim_disk : "(unset)"));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    zel_usb ? setenv("ZEL_USB", zel_usb, 1) : unsetenv("ZEL_USB");
    sim_disk ? setenv("ZEL_USB_SIM_DISK", sim_disk, 1) : unsetenv("ZEL_USB_SIM_DISK");
    EXPECT_EXIT(_exit(body() ? 3 : 4), ::testing::ExitedWithCode(3), pattern);
    unsetenv("ZEL_USB");
    unsetenv("ZEL_USB_SIM_DISK");
}

bool uses_libusb() { return zel_host_usb_kind() == ZEL_HOST_USB_LIBUSB; }
bool plugs_nothing() { return zel_host_usb_plug_from_env() == 0; }

TEST(HostUsbWithoutSim, ZelUsbSimKeepsLibusbAndSaysWhyInOneLine) {
    expect_in_fresh_process("sim", nullptr, uses_libusb, "^ZEL_USB=sim: this build has no simulated adapter[^\n]*\n$");
    expect_in_fresh_process("libusb", nullptr, uses_libusb, "^$");
}

TEST(HostUsbWithoutSim, AnUnknownZelUsbKeepsLibusbAndSaysSoInOneLine) {
    expect_in_fresh_process("usb3", nullptr, uses_libusb, "^ZEL_USB=usb3 is not known[^\n]*\n$");
    expect_in_fresh_process("", nullptr, uses_libusb, "^$");
}

TEST(HostUsbWithoutSim, SwitchingToTheSimIsNotSupported) {
    EXPECT_EQ(ZEL_HOST_USB_ENOTSUP, zel_host_usb_use(ZEL_HOST_USB_SIM));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_use(static_cast<zel_host_usb_kind_t>(7)));
    ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_LIBUSB));
    EXPECT_EQ(ZEL_HOST_USB_LIBUSB, zel_host_usb_kind());
}

TEST(HostUsbWithoutSim, ADiskImageIsNotPluggedAndSaysSo) {
    // Nothing asked for: nothing to say.
    expect_in_fresh_process(nullptr, nullptr, plugs_nothing, "^$");
    expect_in_fresh_process(nullptr, "/tmp/adapter.img", plugs_nothing,
        "^ZEL_USB_SIM_DISK is set but this program has no simulated adapter[^\n]*\n$");
    // With ZEL_USB=sim as well, the one line is the back end's.
    expect_in_fresh_process(
        "sim", "/tmp/adapter.img", plugs_nothing, "^ZEL_USB=sim: this build has no simulated adapter[^\n]*\n$");
}

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The libusb back end on a machine without the adapter: every way in
// reports the absence cleanly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "zel_host_usb.h"

namespace {

TEST(HostUsbLibusb, IsTheDefaultBackEnd) {
    // ZEL_USB is not "sim" in the test environment unless someone set it.
    const char *env = getenv("ZEL_USB");
    if (env && strcmp(env, "sim") == 0) GTEST_SKIP() << "ZEL_USB=sim";
    EXPECT_EQ(ZEL_HOST_USB_LIBUSB, zel_host_usb_kind());
}

TEST(HostUsbLibusb, EnvironmentChoosesTheBackEndAtFirstUse) {
    // Each check runs in a fresh process, where nothing has chosen yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char *before = getenv("ZEL_USB");
    const std::string saved = before ? before : "";
    setenv("ZEL_USB", "sim", 1);
    EXPECT_EXIT(_exit(zel_host_usb_kind() == ZEL_HOST_USB_SIM ? 3 : 4), ::testing::ExitedWithCode(3), "");
    setenv("ZEL_USB", "usb", 1);  // unknown: the product's default
    EXPECT_EXIT(_exit(zel_host_usb_kind() == ZEL_HOST_USB_LIBUSB ? 3 : 4), ::testing::ExitedWithCode(3), "");
    if (before)
        setenv("ZEL_USB", saved.c_str(), 1);
    else
        unsetenv("ZEL_USB");
}

TEST(HostUsbLibusb, FindsNoAdapter) {
    ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_LIBUSB));
    zel_host_usb_found_t found[4];
    memset(found, 0xA5, sizeof found);
    EXPECT_EQ(0, zel_host_usb_find(0xABCD, 0, found, 4));
    EXPECT_EQ(0xA5, (uint8_t)found[0].path[0]);  // nothing written
    EXPECT_EQ(0, zel_host_usb_find(0xABCD, 0x1234, nullptr, 0));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_find(0xABCD, 0, nullptr, 1));
    EXPECT_EQ(0, zel_host_usb_driver_find(0xABCD, 0, true, found));

    char text[64] = {};
    EXPECT_EQ(ZEL_HOST_USB_ENODEV,
        zel_host_usb_driver_install("libusb:vid_abcd&pid_0001&port_1-1&addr_2", text, sizeof text));
    EXPECT_STREQ(zel_host_usb_strerror(ZEL_HOST_USB_ENODEV), text);
    zel_host_usb_handle_t h = 7;
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_open("libusb:vid_abcd&pid_0001&port_1-1&addr_2", &h));
    EXPECT_EQ(0u, h);
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_open(nullptr, &h));
}

TEST(HostUsbLibusb, CallsOnNoHandleAnswerNoDevice) {
    ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_LIBUSB));
    uint8_t b[8];
    const zel_host_usb_setup_t s{0x80, 6, 0x0100, 0, 8};
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_speed(0));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_control(0x105, &s, b, 100));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_read_pipe(0x105, 0, 0x81, b, sizeof b, 100));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_write_pipe(0x105, 0, 0x02, b, sizeof b, 100));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_reset_pipe(0x105, 0, 0x81));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_set_alt(0x105, 0, 0));
    // Wrong directions and endpoint 0 are refused before any device is asked.
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_read_pipe(0x105, 0, 0x02, b, sizeof b, 100));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_write_pipe(0x105, 0, 0x81, b, sizeof b, 100));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_read_pipe(0x105, 0, 0x80, b, sizeof b, 100));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_control(0x105, &s, nullptr, 100));
}

TEST(HostUsbLibusb, HooksRegisterAndLeave) {
    ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_LIBUSB));
    int calls = 0;
    const int a = zel_host_usb_notify_register([](void *arg) { ++*static_cast<int *>(arg); }, &calls);
    ASSERT_GT(a, 0);
    const int b = zel_host_usb_notify_register([](void *) {}, nullptr);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    zel_host_usb_notify_unregister(a);
    zel_host_usb_notify_unregister(a);  // twice: ignored
    zel_host_usb_notify_unregister(b);
    // Again after the thread has stopped.
    const int c = zel_host_usb_notify_register([](void *) {}, nullptr);
    ASSERT_GT(c, 0);
    zel_host_usb_notify_unregister(c);
}

}  // namespace

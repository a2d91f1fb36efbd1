// The simulated adapter's descriptors, interface and pipe queries, and the
// standard requests on endpoint 0.
#include "sim_fixture.h"

namespace {

using namespace sim_test;

class SimDescriptors : public SimAdapter {
protected:
    void Configure(zel_host_usb_sim_config_t &c) override { c.hid = 1; }
};

TEST_F(SimDescriptors, DeviceAndConfigurationAsOnTheWire) {
    uint8_t d[18] = {};
    ASSERT_EQ(18, Control(0x80, 6, 0x0100, 0, 64, d));
    EXPECT_EQ(18, d[0]);
    EXPECT_EQ(1, d[1]);
    EXPECT_EQ(0x0200, d[2] | d[3] << 8);  // high speed: USB 2.0
    EXPECT_EQ(64, d[7]);
    EXPECT_EQ(kVid, d[8] | d[9] << 8);
    EXPECT_EQ(kPid, d[10] | d[11] << 8);
    EXPECT_EQ(1, d[17]);

    // The header first, then the whole configuration, as an enumerator asks.
    uint8_t head[9] = {};
    ASSERT_EQ(9, Control(0x80, 6, 0x0200, 0, 9, head));
    const uint16_t total = head[2] | head[3] << 8;
    EXPECT_EQ(9 + (9 + 7 + 7) + (9 + 9 + 7 + 7), total);
    EXPECT_EQ(2, head[4]);  // mass storage and HID
    std::vector<uint8_t> c(total);
    ASSERT_EQ(total, Control(0x80, 6, 0x0200, 0, total, c.data()));
    const uint8_t msc[9] = {9, 4, 0, 0, 2, 0x08, 0x06, 0x50, 0};
    EXPECT_EQ(0, memcmp(c.data() + 9, msc, 9));
    const uint8_t bulk_in[7] = {7, 5, 0x81, 2, 0x00, 0x02, 0};
    EXPECT_EQ(0, memcmp(c.data() + 18, bulk_in, 7));
    EXPECT_EQ(0x21, c[32 + 9 + 1]);  // the HID descriptor follows the HID interface

    // Only configuration 0 exists; other types stall.
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x80, 6, 0x0201, 0, 9, head));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x80, 6, 0x0700, 0, 9, head));
    uint8_t q[10] = {};
    EXPECT_EQ(10, Control(0x80, 6, 0x0600, 0, 10, q));
}

TEST_F(SimDescriptors, StringsInUtf16) {
    uint8_t s[64] = {};
    ASSERT_EQ(4, Control(0x80, 6, 0x0300, 0, 64, s));
    EXPECT_EQ(0x0409, s[2] | s[3] << 8);
    ASSERT_EQ(2 + 2 * 11, Control(0x80, 6, 0x0302, 0x0409, 64, s));
    EXPECT_EQ('U', s[2]);
    EXPECT_EQ(0, s[3]);
    EXPECT_EQ('r', s[22]);
    // wLength cuts the answer.
    EXPECT_EQ(2, Control(0x80, 6, 0x0302, 0x0409, 2, s));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x80, 6, 0x0309, 0x0409, 64, s));
}

TEST_F(SimDescriptors, InterfacesAndPipesByIndex) {
    EXPECT_EQ(ZEL_HOST_USB_SPEED_HIGH, zel_host_usb_speed(h));
    ASSERT_EQ(2, zel_host_usb_interface_count(h));
    zel_host_usb_interface_desc_t id{};
    ASSERT_EQ(0, zel_host_usb_query_interface(h, 1, 0, &id));
    EXPECT_EQ(1, id.bInterfaceNumber);
    EXPECT_EQ(0x03, id.bInterfaceClass);
    EXPECT_EQ(2, id.bNumEndpoints);

    zel_host_usb_pipe_info_t p{};
    ASSERT_EQ(0, zel_host_usb_query_pipe(h, 0, 0, 1, &p));
    EXPECT_EQ(ZEL_HOST_USB_PIPE_BULK, p.type);
    EXPECT_EQ(0x02, p.id);
    EXPECT_EQ(512, p.max_packet);
    ASSERT_EQ(0, zel_host_usb_query_pipe(h, 1, 0, 0, &p));
    EXPECT_EQ(ZEL_HOST_USB_PIPE_INTERRUPT, p.type);
    EXPECT_EQ(0x83, p.id);
    EXPECT_EQ(64, p.max_packet);

    EXPECT_EQ(ZEL_HOST_USB_ENOENT, zel_host_usb_query_pipe(h, 0, 0, 2, &p));
    EXPECT_EQ(ZEL_HOST_USB_ENOENT, zel_host_usb_query_interface(h, 0, 1, &id));
    EXPECT_EQ(ZEL_HOST_USB_ENOENT, zel_host_usb_query_interface(h, 2, 0, &id));
    EXPECT_EQ(ZEL_HOST_USB_ENOENT, zel_host_usb_set_alt(h, 0, 1));
    EXPECT_EQ(0, zel_host_usb_set_alt(h, 0, 0));
    // A pipe of another interface is not this interface's.
    uint8_t b[64];
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_read_pipe(h, 1, kBulkIn, b, sizeof b, kTimeout));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_write_pipe(h, 0, 0x81, b, sizeof b, kTimeout));
}

TEST_F(SimDescriptors, ConfigurationFeaturesAndStatus) {
    uint8_t v = 0xFF;
    ASSERT_EQ(1, Control(0x80, 8, 0, 0, 1, &v));
    EXPECT_EQ(1, v);  // the host configured it on plug

    // Halt through SET_FEATURE, seen by GET_STATUS, gone with CLEAR_FEATURE.
    uint8_t st[2] = {};
    EXPECT_EQ(0, Control(0x02, 3, 0, kBulkIn, 0, nullptr));
    ASSERT_EQ(2, Control(0x82, 0, 0, kBulkIn, 2, st));
    EXPECT_EQ(1, st[0]);
    EXPECT_EQ(0, Control(0x02, 1, 0, kBulkIn, 0, nullptr));
    ASSERT_EQ(2, Control(0x82, 0, 0, kBulkIn, 2, st));
    EXPECT_EQ(0, st[0]);
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x02, 1, 0, 0x85, 0, nullptr));

    EXPECT_EQ(0, Control(0x01, 11, 0, 1, 0, nullptr));  // SET_INTERFACE
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x01, 11, 3, 1, 0, nullptr));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x00, 9, 7, 0, 0, nullptr));

    // Unconfigured, the bulk pipes do not work.
    EXPECT_EQ(0, Control(0x00, 9, 0, 0, 0, nullptr));
    uint8_t b[13];
    EXPECT_EQ(ZEL_HOST_USB_EIO, zel_host_usb_read_pipe(h, 0, kBulkIn, b, sizeof b, kTimeout));
    EXPECT_EQ(0, Control(0x00, 9, 1, 0, 0, nullptr));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x40, 0x55, 0, 0, 0, nullptr));  // vendor request
}

TEST_F(SimDescriptors, HidReportsBothWays) {
    uint8_t hid[9] = {};
    ASSERT_EQ(9, Control(0x81, 6, 0x2100, 1, 9, hid));
    const uint16_t report_length = hid[7] | hid[8] << 8;
    std::vector<uint8_t> report(report_length);
    ASSERT_EQ(report_length, Control(0x81, 6, 0x2200, 1, report_length, report.data()));
    EXPECT_EQ(0x05, report[0]);
    EXPECT_EQ(0xC0, report.back());
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0x81, 6, 0x2200, 0, 64, report.data()));  // not HID
    EXPECT_EQ(0, Control(0x21, 0x0A, 0, 1, 0, nullptr));                            // SET_IDLE

    uint8_t in[64] = {1, 2, 3};
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(dev, in, 64));
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(dev, in, 10));
    uint8_t got[64] = {};
    EXPECT_EQ(64, zel_host_usb_read_pipe(h, 1, 0x83, got, 64, kTimeout));
    EXPECT_EQ(0, memcmp(in, got, 64));
    // A report larger than the read overflows.
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(dev, in, 64));
    EXPECT_EQ(10, zel_host_usb_read_pipe(h, 1, 0x83, got, 64, kTimeout));
    EXPECT_EQ(ZEL_HOST_USB_EOVERFLOW, zel_host_usb_read_pipe(h, 1, 0x83, got, 32, kTimeout));
    // Nothing queued: the read waits out its timeout.
    EXPECT_EQ(ZEL_HOST_USB_ETIMEDOUT, zel_host_usb_read_pipe(h, 1, 0x83, got, 64, 1));

    const uint8_t out[32] = {0x05, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(32, zel_host_usb_write_pipe(h, 1, 0x04, out, sizeof out, kTimeout));
    uint8_t seen[64] = {};
    EXPECT_EQ(32, zel_host_usb_sim_hid_output(dev, seen, sizeof seen));
    EXPECT_EQ(0, memcmp(out, seen, 32));
}

class SimRawDescriptors : public SimAdapter {
protected:
    // A gamepad-only device: one HID interface with two alternate settings,
    // the second without endpoints.
    void Configure(zel_host_usb_sim_config_t &c) override {
        // clang-format off
        static const uint8_t cfg[] = {
            9, 2, 9 + 9 + 9 + 7 + 9, 0, 1, 1, 0, 0x80, 50,
            9, 4, 0, 0, 1, 0x03, 0, 0, 0,
            9, 0x21, 0x11, 0x01, 0, 1, 0x22, 31, 0,
            7, 5, 0x81, 3, 64, 0, 4,
            9, 4, 0, 1, 0, 0x03, 0, 0, 0,
        };
        // clang-format on
        c.vid = 0x054C;
        c.pid = 0x05C4;
        c.msc = 0;
        c.config_desc = cfg;
        c.config_length = sizeof cfg;
        open_at_start = false;
    }
};

TEST_F(SimRawDescriptors, GivenConfigurationIsServedAndAlternateSettingsSwitch) {
    zel_host_usb_found_t f{};
    ASSERT_EQ(1, zel_host_usb_find(0x054C, 0, &f, 1));
    EXPECT_NE(nullptr, strstr(f.path, "vid_054c"));
    EXPECT_NE(nullptr, strstr(f.path, "pid_05c4"));
    ASSERT_EQ(0, zel_host_usb_open(f.path, &h));
    ASSERT_EQ(1, zel_host_usb_interface_count(h));
    zel_host_usb_pipe_info_t p{};
    ASSERT_EQ(0, zel_host_usb_query_pipe(h, 0, 0, 0, &p));
    EXPECT_EQ(0x81, p.id);
    EXPECT_EQ(4, p.interval);
    // Switching settings clears the halts of that interface's endpoints.
    ASSERT_EQ(0, zel_host_usb_sim_stall(dev, 0x81));
    ASSERT_EQ(0, zel_host_usb_set_alt(h, 0, 1));
    ASSERT_EQ(0, zel_host_usb_set_alt(h, 0, 0));
    uint8_t b[64] = {};
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(dev, b, 8));
    EXPECT_EQ(8, zel_host_usb_read_pipe(h, 0, 0x81, b, 64, kTimeout));
    ASSERT_EQ(0, zel_host_usb_set_alt(h, 0, 1));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_read_pipe(h, 0, 0x81, b, 64, kTimeout));
    zel_host_usb_sim_status_t st{};
    zel_host_usb_sim_get_status(dev, &st);
    EXPECT_EQ(1, st.alt[0]);
}

TEST(SimCreate, GamepadOnlyDeviceHasItsHidInterfaceFirst) {
    ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_SIM));
    zel_host_usb_sim_config_t c{};
    zel_host_usb_sim_config_init(&c, 0x054C, 0x05C4);
    c.msc = 0;
    c.hid = 1;
    zel_host_usb_sim_dev_t *pad = zel_host_usb_sim_create(&c);
    ASSERT_NE(nullptr, pad);
    ASSERT_EQ(0, zel_host_usb_sim_plug(pad));
    zel_host_usb_found_t f{};
    ASSERT_EQ(1, zel_host_usb_find(0x054C, 0x05C4, &f, 1));
    zel_host_usb_handle_t h = 0;
    ASSERT_EQ(0, zel_host_usb_open(f.path, &h));
    EXPECT_EQ(1, zel_host_usb_interface_count(h));
    zel_host_usb_interface_desc_t id{};
    ASSERT_EQ(0, zel_host_usb_query_interface(h, 0, 0, &id));
    EXPECT_EQ(0, id.bInterfaceNumber);
    EXPECT_EQ(0x03, id.bInterfaceClass);
    const uint8_t report[64] = {0x01, 0x80, 0x80};
    ASSERT_EQ(0, zel_host_usb_sim_hid_input(pad, report, sizeof report));
    uint8_t got[64] = {};
    EXPECT_EQ(64, zel_host_usb_read_pipe(h, 0, 0x83, got, sizeof got, kTimeout));
    EXPECT_EQ(0, memcmp(report, got, sizeof got));
    zel_host_usb_close(h);
    zel_host_usb_sim_destroy(pad);
}

TEST(SimCreate, RefusesMalformedDescriptors) {
    zel_host_usb_sim_config_t c{};
    zel_host_usb_sim_config_init(&c, kVid, 1);
    const uint8_t short_total[] = {9, 2, 40, 0, 1, 1, 0, 0x80, 50};  // claims 40 bytes
    c.config_desc = short_total;
    c.config_length = sizeof short_total;
    EXPECT_EQ(nullptr, zel_host_usb_sim_create(&c));
    const uint8_t bad_device[18] = {18, 2};
    c.config_desc = nullptr;
    c.device_desc = bad_device;
    EXPECT_EQ(nullptr, zel_host_usb_sim_create(&c));
}

}  // namespace

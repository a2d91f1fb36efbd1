// lsusb's listing, byte for byte: on scripted devices, and on the
// simulated adapter through the program's own USB host.
#include <gtest/gtest.h>

#include <mutex>

#include "libusb_layer.h"
#include "usb_hooks.h"
#include "zel_host_usb_sim.h"
#include "zel_linux_libusb.h"
#include "zel_test.h"

namespace usb_class_test {
namespace {

using usb_test::config_desc;
using usb_test::device_desc;
using usb_test::Ifs;

const Bytes kLanguages = {4, 3, 0x09, 0x04};
constexpr int kFailed = -1 * 256;  // the status word of main returning -1

Bytes without_strings(Bytes device) {
    device[14] = device[15] = device[16] = 0;
    return device;
}

// A vendor interface 0 with two bulk endpoints and a second setting
// without endpoints.
std::vector<Ifs> vendor_settings() {
    return {{0, 0, 0xFF, 0, 0, {{0x81, 2, 512, 0}, {0x02, 2, 512, 0}}, {}}, {0, 1, 0xFF, 0, 0, {}, {}}};
}

const char kVendorRest[] = "    iConfiguration:       0\n"
                           "    bmAttributes:         80h\n"
                           "    bMaxPower:            50\n"
                           "    Interface:\n"
                           "      bInterfaceNumber:   0\n"
                           "      bAlternateSetting:  0\n"
                           "      bNumEndpoints:      2\n"
                           "      bInterfaceClass:    255\n"
                           "      bInterfaceSubClass: 0\n"
                           "      bInterfaceProtocol: 0\n"
                           "      iInterface:         0\n"
                           "      Endpoint:\n"
                           "        bEndpointAddress: 81h\n"
                           "        bmAttributes:     02h\n"
                           "        wMaxPacketSize:   512\n"
                           "        bInterval:        0\n"
                           "        bRefresh:         0\n"
                           "        bSynchAddress:    0\n"
                           "      Endpoint:\n"
                           "        bEndpointAddress: 02h\n"
                           "        bmAttributes:     02h\n"
                           "        wMaxPacketSize:   512\n"
                           "        bInterval:        0\n"
                           "        bRefresh:         0\n"
                           "        bSynchAddress:    0\n"
                           "    Interface:\n"
                           "      bInterfaceNumber:   0\n"
                           "      bAlternateSetting:  1\n"
                           "      bNumEndpoints:      0\n"
                           "      bInterfaceClass:    255\n"
                           "      bInterfaceSubClass: 0\n"
                           "      bInterfaceProtocol: 0\n"
                           "      iInterface:         0\n";

// The configuration of vendor_settings(), with `value` and `interfaces`.
std::string vendor_block(int value, int interfaces) {
    return std::string("  Configuration:\n"
                       "    wTotalLength:         41\n"
                       "    bNumInterfaces:       ") +
           std::to_string(interfaces) +
           "\n"
           "    bConfigurationValue:  " +
           std::to_string(value) + "\n" + kVendorRest;
}

// Interface 0 of vendor_settings() with two more endpoints that name
// endpoint 0 (IN and OUT).
std::vector<Ifs> settings_naming_endpoint_zero() {
    std::vector<Ifs> s = vendor_settings();
    s[0].eps.push_back({0x80, 3, 8, 1});
    s[0].eps.push_back({0x00, 2, 64, 0});
    return s;
}

// The control pipes of the only listed device: IN control on endpoint 0,
// OUT control on endpoint 0, in that order.
::testing::AssertionResult control_pipes_intact() {
    ::testing::AssertionResult r = ::testing::AssertionSuccess();
    zel_test::run_as_irq([&] {
        zel_dlist_node_t *n = zel_linux_libusb.devices.head;
        if (!n) {
            r = ::testing::AssertionFailure() << "no device listed";
            return;
        }
        const libusb_device *dev = ZEL_CONTAINER_OF(n, libusb_device, node);
        const zel_usbh_pipe_t in = dev->in[0].pipe, out = dev->out[0].pipe;
        if (zel_pipe_type(in) != ZEL_USB_XFER_CONTROL || zel_pipe_ep(in) != 0 || !zel_pipe_is_in(in) ||
            zel_pipe_type(out) != ZEL_USB_XFER_CONTROL || zel_pipe_ep(out) != 0 || zel_pipe_is_in(out))
            r = ::testing::AssertionFailure() << "slot 0 holds pipes " << std::hex << in.word << " / " << out.word;
    });
    return r;
}

class LsusbTest : public ::testing::Test {
protected:
    void SetUp() override { start_libusb_layer(); }
    void TearDown() override { usb_test::events().take(); }
};

TEST_F(LsusbTest, NoDeviceIsAFailure) {
    ASSERT_EQ(0u, listed());
    const LsusbRun r = lsusb({});
    EXPECT_EQ(kFailed, r.status);
    EXPECT_EQ("no usb device connected\r\n", r.output);
}

TEST_F(LsusbTest, DeviceWithoutStringsShowsItsIds) {
    Listed d;
    d.hcd.dev.device = without_strings(device_desc(0xABCD, 0x0000, 1));
    // The second configuration has bNumInterfaces 2 but describes only
    // interface 0: nothing shows for interface 1.
    d.hcd.dev.device[17] = 2;
    d.hcd.dev.configs = {config_desc(1, 1, vendor_settings()), config_desc(2, 2, vendor_settings())};
    ASSERT_TRUE(d.plug());
    LsusbRun r = lsusb({});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Dev (bus 0, device 1): ABCD - 0000\n", r.output);

    r = lsusb({"-v"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Dev (bus 0, device 1): ABCD - 0000\n" + vendor_block(1, 1) + vendor_block(2, 2), r.output);

    for (const std::vector<std::string> &args : {std::vector<std::string>{"-x"}, {"-v", "-v"}}) {
        r = lsusb(args);
        EXPECT_EQ("Dev (bus 0, device 1): ABCD - 0000\n", r.output) << "only a lone -v is verbose";
    }
}

TEST_F(LsusbTest, StringsJoinAndUnreadableConfigurationsAreSkipped) {
    Listed a;
    a.hcd.dev.device = device_desc(0x1234, 0x5678, 2);  // strings 1, 2, 3; serial missing
    a.hcd.dev.strings = {{0, kLanguages}, {1, string_desc(u"Trellow")}, {2, string_desc(u"USB Adapter")}};
    a.hcd.dev.configs = {config_desc(1, 1, vendor_settings())};  // configuration 1 cannot be read
    ASSERT_TRUE(a.plug());
    Listed b;
    b.hcd.dev.device = device_desc(0xABCD, 0x0001, 1);
    b.hcd.dev.strings = {{0, kLanguages}, {1, string_desc(u"Maker")}, {3, string_desc(u"SN7")}};
    b.hcd.dev.configs = {config_desc(1, 1, {{0, 0, 0xFF, 0, 0, {}, {}}})};
    ASSERT_TRUE(b.plug());

    LsusbRun r = lsusb({});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Dev (bus 0, device 1): Trellow - USB Adapter\n"
              "Dev (bus 0, device 1): Maker - 0001 - SN7\n",
        r.output);
    r = lsusb({"-v"});
    EXPECT_EQ("Dev (bus 0, device 1): Trellow - USB Adapter\n" + vendor_block(1, 1) +
                  "Dev (bus 0, device 1): Maker - 0001 - SN7\n"
                  "  Configuration:\n"
                  "    wTotalLength:         18\n"
                  "    bNumInterfaces:       1\n"
                  "    bConfigurationValue:  1\n"
                  "    iConfiguration:       0\n"
                  "    bmAttributes:         80h\n"
                  "    bMaxPower:            50\n"
                  "    Interface:\n"
                  "      bInterfaceNumber:   0\n"
                  "      bAlternateSetting:  0\n"
                  "      bNumEndpoints:      0\n"
                  "      bInterfaceClass:    255\n"
                  "      bInterfaceSubClass: 0\n"
                  "      bInterfaceProtocol: 0\n"
                  "      iInterface:         0\n",
        r.output);
}

// A configuration that names endpoint 0 is listed as it stands, and the
// device keeps answering control requests on its control pipe: every
// listing after the first one is whole as well.
TEST_F(LsusbTest, EndpointZeroInAConfigurationLeavesTheControlPipeAlone) {
    Listed d;
    d.hcd.dev.device = without_strings(device_desc(0xABCD, 0x0000, 1));
    d.hcd.dev.configs = {config_desc(1, 1, settings_naming_endpoint_zero())};
    ASSERT_TRUE(d.plug());
    zel_test::TraceCapture trace;
    const LsusbRun first = lsusb({"-v"});
    EXPECT_EQ(0, first.status);
    EXPECT_NE(std::string::npos, first.output.find("bEndpointAddress: 80h\n"));
    EXPECT_NE(std::string::npos, first.output.find("bEndpointAddress: 00h\n"));
    EXPECT_TRUE(trace.contains("endpoint 80h skipped, endpoint 0 is the control pipe"));
    EXPECT_TRUE(trace.contains("endpoint 00h skipped, endpoint 0 is the control pipe"));
    // Checked before the next listing: a control request sent on an
    // interrupt pipe would wait in the scripted driver for ever.
    ASSERT_TRUE(control_pipes_intact());
    for (int round = 0; round < 2; round++) {
        const LsusbRun again = lsusb({"-v"});
        EXPECT_EQ(0, again.status);
        EXPECT_EQ(first.output, again.output) << "listing " << round + 2;
    }
}

TEST_F(LsusbTest, SimulatedAdapterIsListedThroughTheProgramsHost) {
    const Bytes device = device_desc(0xABCD, 0x0000, 1);
    const Bytes config = config_desc(1, 1, vendor_settings());
    zel_host_usb_sim_dev_t *sim = plug_listed_sim(device, config);
    ASSERT_NE(nullptr, sim);

    LsusbRun r = lsusb({});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Dev (bus 0, device 1): Trellow - USB Adapter - 0001\n", r.output);
    r = lsusb({"-v"});
    EXPECT_EQ("Dev (bus 0, device 1): Trellow - USB Adapter - 0001\n" + vendor_block(1, 1), r.output);

    zel_host_usb_sim_status_t status{};
    zel_host_usb_sim_get_status(sim, &status);
    EXPECT_EQ(0, status.alt[0]) << "nothing was selected on the device";

    EXPECT_EQ(0, zel_host_usb_sim_unplug(sim));
    EXPECT_TRUE(zel_test::wait_until([] { return zel_linux_libusb.count == 0; }));
    EXPECT_TRUE(zel_test::wait_until(sim_host_idle));
    zel_host_usb_sim_destroy(sim);
    EXPECT_EQ(kFailed, lsusb({}).status);
}

// The same on the program's own host: control requests keep going to the
// simulated device's endpoint 0 after a listing read endpoints named 0.
TEST_F(LsusbTest, SimulatedAdapterNamingEndpointZeroIsListedEveryTime) {
    const Bytes device = device_desc(0xABCD, 0x0000, 1);
    const Bytes config = config_desc(1, 1, settings_naming_endpoint_zero());
    zel_host_usb_sim_dev_t *sim = plug_listed_sim(device, config);
    ASSERT_NE(nullptr, sim);
    const LsusbRun first = lsusb({"-v"});
    EXPECT_EQ(0, first.status);
    EXPECT_EQ(0u, first.output.find("Dev (bus 0, device 1): Trellow - USB Adapter - 0001\n  Configuration:\n"))
        << first.output;
    EXPECT_NE(std::string::npos, first.output.find("bEndpointAddress: 80h\n"));
    for (int round = 0; round < 2; round++) {
        const LsusbRun again = lsusb({"-v"});
        EXPECT_EQ(0, again.status);
        EXPECT_EQ(first.output, again.output) << "listing " << round + 2;
    }
    EXPECT_TRUE(control_pipes_intact());

    EXPECT_EQ(0, zel_host_usb_sim_unplug(sim));
    EXPECT_TRUE(zel_test::wait_until([] { return zel_linux_libusb.count == 0; }));
    EXPECT_TRUE(zel_test::wait_until(sim_host_idle));
    zel_host_usb_sim_destroy(sim);
}

}  // namespace
}  // namespace usb_class_test

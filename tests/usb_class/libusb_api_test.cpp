// The libusb-style API inside the layer: device list, descriptors, control
// transfers, and devices that leave.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "libusb_layer.h"
#include "usb_hooks.h"
#include "zel_libusb.h"
#include "zel_linux_libusb.h"
#include "zel_linux_test.h"

namespace usb_class_test {
namespace {

using usb_test::config_desc;
using usb_test::device_desc;
using usb_test::Ifs;

const Bytes kLanguages = {4, 3, 0x09, 0x04};

Ifs vendor_ifs(uint8_t number) { return {number, 0, 0xFF, 0, 0, {{0x81, 2, 64, 0}, {0x02, 2, 64, 0}}, {}}; }

// The only listed device (inside the layer).
libusb_device *only_device() {
    libusb_device **list = nullptr;
    if (libusb_get_device_list(nullptr, &list) != 1) return nullptr;
    libusb_device *dev = list[0];
    libusb_free_device_list(list, 1);
    return dev;
}

class LibusbApiTest : public ::testing::Test {
protected:
    void SetUp() override { start_libusb_layer(); }
    void TearDown() override { usb_test::events().take(); }
    void script(uint8_t configs = 1) {
        d.hcd.dev.device = device_desc(0xABCD, 0x1234, configs, 64, 0xFF);
        d.hcd.dev.configs = {config_desc(1, 1, {vendor_ifs(0)})};
        d.hcd.dev.strings = {
            {0, kLanguages}, {1, string_desc(u"Trellow")}, {2, string_desc(u"Caf\u00e9 \u4e2d")}, {3, {10, 3, '0', 0}}};
    }
    Listed d;
};

TEST_F(LibusbApiTest, WithoutDevicesTheListIsEmptyAndNotStored) {
    ASSERT_EQ(0u, listed());
    EXPECT_EQ(0, zel_linux_test::run_process([] {
        IN_LAYER_CHECK(libusb_init(nullptr) == 0);
        const int fd = zel_linux_libusb.event_fd;
        IN_LAYER_CHECK(fd >= 0);
        IN_LAYER_CHECK(libusb_init(nullptr) == 0);
        IN_LAYER_CHECK(zel_linux_libusb.event_fd == fd);  // one event descriptor
        static libusb_device *stale[1];
        libusb_device **list = stale;
        IN_LAYER_CHECK(libusb_get_device_list(nullptr, &list) == 0);
        IN_LAYER_CHECK(list == nullptr);
        IN_LAYER_CHECK(libusb_get_device_list(nullptr, nullptr) == 0);
        libusb_exit(nullptr);
        IN_LAYER_CHECK(zel_linux_libusb.event_fd < 0);
        libusb_exit(nullptr);  // nothing left to stop
        return 0;
    }));
}

TEST_F(LibusbApiTest, EventDescriptorTurnsReadableWhenTheListChangesAndCloses) {
    script();
    std::thread plugger([&] {
        if (zel_test::wait_until([] { return zel_linux_libusb.event_fd >= 0; })) {
            EXPECT_TRUE(d.plug());
        }
    });
    EXPECT_EQ(0, zel_linux_test::run_process([] {
        IN_LAYER_CHECK(libusb_init(nullptr) == 0);
        const int fd = zel_linux_libusb.event_fd;
        zel_linux_pollfd entry = {fd, ZEL_LINUX_POLLIN, 0};
        IN_LAYER_CHECK(zel_linux_poll(&entry, 1, 20000) == 1);
        EXPECT_EQ(ZEL_LINUX_POLLIN, entry.revents);
        libusb_exit(nullptr);
        EXPECT_EQ(nullptr, zel_linux_fd_get(fd)) << "closed";
        return 0;
    }));
    plugger.join();
}

TEST_F(LibusbApiTest, ListedDeviceAnswersDescriptorsAndControlTransfers) {
    script();
    ASSERT_TRUE(d.plug());
    const Bytes device = d.hcd.dev.device;
    const uint8_t address = d.dev->address;
    EXPECT_EQ(0, zel_linux_test::run_process([&] {
        IN_LAYER_CHECK(libusb_init(nullptr) == 0);
        libusb_device **list = nullptr;
        IN_LAYER_CHECK(libusb_get_device_list(nullptr, &list) == 1);
        IN_LAYER_CHECK(list[1] == nullptr);
        libusb_device *dev = list[0];
        libusb_free_device_list(list, 1);
        libusb_device_handle *h = nullptr;
        IN_LAYER_CHECK(libusb_open(dev, &h) == 0 && h == dev);
        EXPECT_EQ(address, libusb_get_device_address(dev));

        libusb_device_descriptor desc;
        IN_LAYER_CHECK(libusb_get_device_descriptor(dev, &desc) == 0);
        EXPECT_EQ(0, memcmp(device.data(), &desc, sizeof desc));
        EXPECT_EQ(0xABCD, desc.idVendor);

        unsigned char raw[64];
        EXPECT_EQ(18, libusb_control_transfer(h, 0x80, 6, 0x0100, 0, raw, sizeof raw, 1000));
        EXPECT_EQ(0, libusb_control_transfer(h, 0x40, 1, 2, 3, nullptr, 0, 1000)) << "no data stage";
        EXPECT_EQ(LIBUSB_ERROR_IO, libusb_control_transfer(h, 0x80, 6, 0x0300 | 9, 0x0409, raw, 255, 1000))
            << "a stalled request";

        unsigned char s[256];
        EXPECT_EQ(7, libusb_get_string_descriptor_ascii(h, 1, s, sizeof s));
        EXPECT_STREQ("Trellow", reinterpret_cast<char *>(s));
        EXPECT_EQ(6, libusb_get_string_descriptor_ascii(h, 2, s, sizeof s));
        EXPECT_STREQ("Caf? ?", reinterpret_cast<char *>(s)) << "units that are not ASCII";
        EXPECT_EQ(3, libusb_get_string_descriptor_ascii(h, 1, s, 4));
        EXPECT_STREQ("Tre", reinterpret_cast<char *>(s));
        s[0] = 'x';
        EXPECT_EQ(0, libusb_get_string_descriptor_ascii(h, 1, s, 1));
        EXPECT_EQ(0, s[0]) << "a length of 1 holds the empty string";
        EXPECT_EQ(LIBUSB_ERROR_IO, libusb_get_string_descriptor_ascii(h, 3, s, sizeof s))
            << "bLength that disagrees with what came";
        EXPECT_EQ(LIBUSB_ERROR_IO, libusb_get_string_descriptor_ascii(h, 7, s, sizeof s));
        libusb_close(h);
        libusb_exit(nullptr);
        return 0;
    }));
    const std::vector<std::string> req = d.hcd.requests();
    EXPECT_EQ("6:768:0:255", req[req.size() - 2]) << "string 0, the languages";
    EXPECT_EQ("6:775:1033:255", req.back()) << "then the string in the first language";
}

// A configuration exercising the parse: class descriptors before and after
// endpoints, a second setting without endpoints, a 9-byte endpoint, a
// setting that claims more endpoints than follow.
Bytes rich_config() {
    Bytes c = {9, 2, 0, 0, 2, 1, 4, 0xC0, 50};
    const Bytes parts[] = {
        {5, 0x24, 1, 2, 3},                       // before any setting: skipped
        {9, 4, 0, 0, 2, 0xFF, 1, 2, 5},           // interface 0, setting 0
        {6, 0x21, 1, 1, 0, 1},                    // extra of the setting
        {7, 5, 0x81, 3, 0x40, 0x00, 4},           // endpoint 0x81 interrupt
        {4, 0x25, 9, 9},                          // extra of 0x81
        {3, 0x26, 8},                             // more extra of 0x81
        {7, 5, 0x02, 2, 0x00, 0x02, 0},           // endpoint 0x02 bulk 512
        {9, 4, 0, 1, 0, 0xFF, 1, 2, 0},           // interface 0, setting 1: no endpoints
        {9, 4, 1, 0, 3, 1, 2, 0, 0},              // interface 1 claims 3 endpoints
        {9, 5, 0x83, 1, 0xC0, 0x00, 1, 7, 0x04},  // a 9-byte isochronous endpoint
    };
    for (const Bytes &p : parts) c.insert(c.end(), p.begin(), p.end());
    c[2] = (uint8_t)c.size();
    c[3] = (uint8_t)(c.size() >> 8);
    return c;
}

TEST_F(LibusbApiTest, ConfigurationRecordHoldsSettingsEndpointsAndExtras) {
    script(5);
    const Bytes rich = rich_config();
    Bytes wrong_type = rich;
    wrong_type[1] = 7;
    Bytes cut = rich;  // ends inside interface 1's endpoint
    cut.resize(cut.size() - 4);
    Bytes crowded = config_desc(1, 1, {vendor_ifs(0), vendor_ifs(1), vendor_ifs(2)});  // more than bNumInterfaces
    d.hcd.dev.configs = {config_desc(1, 1, {vendor_ifs(0)}), rich, wrong_type, cut, crowded};
    ASSERT_TRUE(d.plug());
    EXPECT_EQ(0, zel_linux_test::run_process([&] {
        libusb_device *dev = only_device();
        IN_LAYER_CHECK(dev);
        libusb_config_descriptor *c = nullptr;
        IN_LAYER_CHECK(libusb_get_config_descriptor(dev, 1, &c) == 0);
        EXPECT_EQ(rich.size(), c->wTotalLength);
        EXPECT_EQ(2, c->bNumInterfaces);
        EXPECT_EQ(4, c->iConfiguration);
        EXPECT_EQ(0xC0, c->bmAttributes);
        EXPECT_EQ(50, c->MaxPower);
        EXPECT_EQ(0, memcmp(rich.data(), c->raw, rich.size()));
        EXPECT_EQ(0, c->extra_length);

        const libusb_interface &i0 = c->interface[0];
        IN_LAYER_CHECK(i0.num_altsetting == 2);
        const libusb_interface_descriptor &s0 = i0.altsetting[0];
        EXPECT_EQ(2, s0.bNumEndpoints);
        EXPECT_EQ(5, s0.iInterface);
        EXPECT_EQ(c->raw + 9 + 5 + 9, s0.extra);
        EXPECT_EQ(6, s0.extra_length);
        IN_LAYER_CHECK(s0.endpoint);
        EXPECT_EQ(0x81, s0.endpoint[0].bEndpointAddress);
        EXPECT_EQ(64, s0.endpoint[0].wMaxPacketSize);
        EXPECT_EQ(4, s0.endpoint[0].bInterval);
        EXPECT_EQ(0, s0.endpoint[0].bRefresh);
        EXPECT_EQ(7, s0.endpoint[0].extra_length) << "both class descriptors after it";
        EXPECT_EQ(0x02, s0.endpoint[1].bEndpointAddress);
        EXPECT_EQ(512, s0.endpoint[1].wMaxPacketSize);
        EXPECT_EQ(nullptr, s0.endpoint[1].extra);
        EXPECT_EQ(1, i0.altsetting[1].bAlternateSetting);
        EXPECT_EQ(nullptr, i0.altsetting[1].endpoint);

        const libusb_interface &i1 = c->interface[1];
        IN_LAYER_CHECK(i1.num_altsetting == 1);
        EXPECT_EQ(1, i1.altsetting[0].bNumEndpoints) << "no more endpoints than follow the setting";
        EXPECT_EQ(7, i1.altsetting[0].endpoint[0].bRefresh);
        EXPECT_EQ(4, i1.altsetting[0].endpoint[0].bSynchAddress);
        EXPECT_EQ(0u, dev->in[3].pipe.word) << "only the active configuration's endpoints take the slots";
        libusb_free_config_descriptor(c);

        EXPECT_EQ(LIBUSB_ERROR_IO, libusb_get_config_descriptor(dev, 2, &c)) << "type byte not 2";

        IN_LAYER_CHECK(libusb_get_config_descriptor(dev, 3, &c) == 0);
        EXPECT_EQ(2, c->interface[0].num_altsetting);
        EXPECT_EQ(1, c->interface[1].num_altsetting);
        EXPECT_EQ(0, c->interface[1].altsetting[0].bNumEndpoints) << "its endpoint did not arrive";
        libusb_free_config_descriptor(c);

        IN_LAYER_CHECK(libusb_get_config_descriptor(dev, 4, &c) == 0);
        EXPECT_EQ(1, c->interface[0].num_altsetting);
        libusb_free_config_descriptor(c);

        EXPECT_EQ(LIBUSB_ERROR_IO, libusb_get_config_descriptor(dev, 5, &c)) << "no such configuration";
        libusb_free_config_descriptor(nullptr);
        return 0;
    }));
}

// The endpoint slots hold the endpoints of the configuration the device
// was bound from, whichever configurations a caller reads; slot 0 stays
// the control pipe, also when a configuration names endpoint 0.
TEST_F(LibusbApiTest, EndpointSlotsFollowTheActiveConfigurationAlone) {
    script(2);
    const Ifs active = {
        0, 0, 0xFF, 0, 0, {{0x81, 3, 64, 4}, {0x80, 3, 8, 1}, {0x02, 2, 512, 0}, {0x83, 1, 192, 1}}, {}};
    const Ifs other = {0, 0, 0xFF, 0, 0, {{0x81, 2, 512, 0}, {0x84, 2, 64, 0}, {0x00, 2, 64, 0}}, {}};
    d.hcd.dev.configs = {config_desc(1, 1, {active}), config_desc(2, 1, {other})};
    ASSERT_TRUE(d.plug());
    zel_test::TraceCapture trace;
    EXPECT_EQ(0, zel_linux_test::run_process([&] {
        libusb_device *dev = only_device();
        IN_LAYER_CHECK(dev);
        const zel_usbh_pipe_t control_in = dev->in[0].pipe, control_out = dev->out[0].pipe;
        const auto read = [&](uint8_t index) {
            libusb_config_descriptor *c = nullptr;
            EXPECT_EQ(0, libusb_get_config_descriptor(dev, index, &c));
            libusb_free_config_descriptor(c);
        };
        read(1);
        EXPECT_EQ(0u, dev->in[1].pipe.word) << "another configuration leaves the slots alone";
        EXPECT_EQ(0u, dev->in[4].pipe.word);
        read(0);
        EXPECT_EQ(ZEL_USB_XFER_INT, zel_pipe_type(dev->in[1].pipe));
        EXPECT_EQ(64u, zel_pipe_mps(dev->in[1].pipe));
        EXPECT_EQ(ZEL_USB_XFER_BULK, zel_pipe_type(dev->out[2].pipe));
        EXPECT_FALSE(zel_pipe_is_in(dev->out[2].pipe));
        EXPECT_EQ(3, zel_pipe_ep(dev->in[3].pipe));
        EXPECT_EQ(ZEL_USB_XFER_ISOC, zel_pipe_type(dev->in[3].pipe));
        read(1);
        EXPECT_EQ(ZEL_USB_XFER_INT, zel_pipe_type(dev->in[1].pipe)) << "still the active configuration's";
        EXPECT_EQ(0u, dev->in[4].pipe.word);
        EXPECT_EQ(control_in.word, dev->in[0].pipe.word) << "slot 0 stays the control pipe";
        EXPECT_EQ(control_in.interval, dev->in[0].pipe.interval);
        EXPECT_EQ(control_out.word, dev->out[0].pipe.word);
        IN_LAYER_CHECK(zel_pipe_type(dev->in[0].pipe) == ZEL_USB_XFER_CONTROL);
        libusb_device_descriptor desc;
        EXPECT_EQ(0, libusb_get_device_descriptor(dev, &desc));
        EXPECT_EQ(0xABCD, desc.idVendor);
        return 0;
    }));
    EXPECT_TRUE(trace.contains("endpoint 80h skipped, endpoint 0 is the control pipe"));
    EXPECT_FALSE(trace.contains("endpoint 00h skipped")) << "the other configuration's endpoints are not looked at";
}

TEST_F(LibusbApiTest, DeviceThatLeavesDuringATransferGoesWhenTheTransferEnds) {
    script();
    d.hcd.dev.hold_vendor_requests = true;
    ASSERT_TRUE(d.plug());
    libusb_device *dev = nullptr;
    ASSERT_EQ(0, zel_linux_test::run_process([&] {
        dev = only_device();
        return dev ? 0 : 1;
    }));
    int held_result = 0;
    std::thread caller([&] {
        zel_test::run_in_thread([&] { held_result = libusb_control_transfer(dev, 0x40, 1, 0, 0, nullptr, 0, 1000); });
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return d.hcd.held.size() == 1; }));
    ASSERT_TRUE(d.unplug());
    EXPECT_EQ(0u, listed());

    // Still under way: the device stays, and a new request answers -1
    // without reaching the bus.
    const size_t sent = d.hcd.control.size();
    int late = 0;
    ASSERT_TRUE(zel_test::run_in_thread([&] { late = libusb_control_transfer(dev, 0x40, 2, 0, 0, nullptr, 0, 1000); }));
    EXPECT_EQ(LIBUSB_ERROR_IO, late);
    EXPECT_EQ(sent, d.hcd.control.size());

    release_held(&d.hcd, -19);
    caller.join();
    EXPECT_EQ(LIBUSB_ERROR_IO, held_result);
    EXPECT_TRUE(zel_test::wait_until([&] { return d.hcd.live.empty(); })) << "the device went with its URB";
}

TEST_F(LibusbApiTest, DeviceThatLeavesBeforeTheWatcherListedItIsNeverListed) {
    // The class reports both in one handler, before the watcher can run.
    zel_usbh_dev_t usb_dev{};
    usb_dev.address = 9;
    zel_usbh_libusb_dev_t record{};
    record.dev = &usb_dev;
    record.urb.pipe.word = ZEL_PIPE_VALID;
    const uint32_t before = listed();
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_linux_libusb_on_dev_evt(nullptr, &record, ZEL_USBH_LIBUSB_ARRIVED);
        EXPECT_FALSE(zel_dlist_is_empty(&zel_linux_libusb.attach_queue));
        EXPECT_EQ(1, record.opened);
        zel_linux_libusb_on_dev_evt(nullptr, &record, ZEL_USBH_LIBUSB_LEFT);
    }));
    zel_test::settle();
    EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_libusb.attach_queue));
    EXPECT_EQ(before, listed());
    EXPECT_EQ(0, record.opened) << "closed again, for the class to free";
    EXPECT_EQ(nullptr, record.link);
}

}  // namespace
}  // namespace usb_class_test

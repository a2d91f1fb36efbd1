// Enumeration and class binding over the scripted host-controller driver.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_hcd.h"
#include "test_classes.h"
#include "zel_test.h"

using namespace usb_test;

namespace {

using Reqs = std::vector<std::string>;

// GET_DESCRIPTOR, SET_ADDRESS and SET_CONFIGURATION as FakeHcd::requests writes them.
std::string get_desc(uint8_t type, uint8_t index, uint16_t length, uint16_t windex = 0) {
    return "6:" + std::to_string(type << 8 | index) + ":" + std::to_string(windex) + ":" + std::to_string(length);
}
std::string set_address(uint8_t a) { return "5:" + std::to_string(a) + ":0:0"; }
std::string set_config(uint8_t v) { return "9:" + std::to_string(v) + ":0:0"; }

struct EnumTest : ::testing::Test {
    FakeHcd fake;
    zel_usbh_t *host = nullptr;
    void SetUp() override {
        zel_test::boot();
        events().take();
    }
    void start() { host = new_fake_host(&fake); }
    void unplug(zel_usbh_dev_t *dev) {
        ASSERT_TRUE(zel_test::run_in_agent([&] { zel_usbh_disconnect_device(host, dev); }));
        zel_test::settle();
    }
    uint32_t ctrl_pipe(size_t request) const { return fake.sent.at(request).pipe; }
};

TEST_F(EnumTest, FullSpeedDeviceIsResetAddressedAndConfigured) {
    fake.device = device_desc(0x1234, 0x5678, 1, 8);
    fake.configs = {config_desc(3, 1, {msc_ifs(0, 64)})};
    start();
    zel_test::TraceCapture trace;
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });

    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_FULL);
    ASSERT_NE(nullptr, dev);
    EXPECT_EQ((Reqs{get_desc(1, 0, 64), set_address(1), get_desc(1, 0, 18), get_desc(2, 0, 9),
                  get_desc(2, 0, (uint16_t)fake.configs[0].size()), set_config(3)}),
        fake.requests());
    EXPECT_EQ(1, fake.resets);
    // The first request goes to address 0 with 64-byte packets; after
    // SET_ADDRESS the control pipe has the address and bMaxPacketSize0.
    zel_usbh_pipe_t first{ctrl_pipe(0), 0}, later{ctrl_pipe(2), 0};
    EXPECT_EQ(0, zel_pipe_addr(first));
    EXPECT_EQ(64u, zel_pipe_mps(first));
    EXPECT_EQ(0, zel_pipe_addr(zel_usbh_pipe_t{ctrl_pipe(1), 0}));
    EXPECT_EQ(1, zel_pipe_addr(later));
    EXPECT_EQ(8u, zel_pipe_mps(later));
    EXPECT_TRUE(zel_pipe_is_in(later));
    EXPECT_FALSE(zel_pipe_is_in(zel_usbh_pipe_t{ctrl_pipe(5), 0}));

    EXPECT_EQ(1, dev->address);
    ASSERT_EQ(1, dev->ifs_count);
    EXPECT_EQ(&msc.drv, dev->ifs[0].drv);
    EXPECT_EQ(&msc.param, dev->ifs[0].param);
    EXPECT_EQ(1, dev->mutex.count) << "the device mutex is free once configured";
    EXPECT_EQ(nullptr, host->enum_ctx);
    EXPECT_EQ(nullptr, zel_usbh_urb_peek_buffer(&dev->ctrl)) << "no buffer left on the control URB";
    EXPECT_TRUE(trace.contains("usbh: new full speed device connected\r\n"));
    EXPECT_TRUE(trace.contains("msc: vid1234 pid5678 interface0\r\n"));
    unplug(dev);
}

TEST_F(EnumTest, HighSpeedDeviceSkipsTheReset) {
    fake.device = device_desc(0x1234, 0x5678, 1);
    fake.configs = {config_desc(1, 1, {msc_ifs(0)})};
    start();
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    EXPECT_EQ(0, fake.resets);
    ASSERT_GE(fake.requests().size(), 2u);
    EXPECT_EQ(set_address(1), fake.requests()[1]);
    unplug(dev);
}

TEST_F(EnumTest, FirstConfigurationThatBindsIsChosen) {
    fake.device = device_desc(0x1234, 0x5678, 2);
    fake.configs = {config_desc(7, 1, {{0, 0, 0xFF, 0, 0, {}, {}}}), config_desc(9, 1, {msc_ifs(0)})};
    start();
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    const Reqs r = fake.requests();
    ASSERT_EQ(8u, r.size());
    EXPECT_EQ(get_desc(2, 1, 9), r[5]) << "configuration index 1 carries wIndex 0";
    EXPECT_EQ(set_config(9), r[7]);
    EXPECT_EQ(&msc.drv, dev->ifs[0].drv);
    unplug(dev);
}

TEST_F(EnumTest, ClassesAreTriedLastRegisteredFirstAndRefusalsPassOn) {
    fake.device = device_desc(0x054C, 0x09CC, 1);
    fake.configs = {config_desc(1, 2,
        {{0, 0, 3, 0, 0, {{0x83, 3, 64, 4}}, {}}, {1, 0, 0xFF, 0, 0, {}, {}},
            {1, 1, 0xFF, 0x5D, 0x01, {{0x84, 3, 32, 1}}, {}}})};
    start();
    TestClass &any = test_class(0, "libusb", {{ZEL_USBH_MATCH_BCD_LO, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}});
    TestClass &hid = test_class(1, "hid", {{ZEL_USBH_MATCH_IFS_CLASS, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0}});
    TestClass &pad = test_class(2, "ds4", {match_ids(0x054C, 0x05C4), match_ids(0x054C, 0x09CC)});
    TestClass &xb = test_class(3, "xb360", {match_ifs(0xFF, 0x5D, 0x01)});
    pad.accept = false;
    zel_test::run_as_irq([&] {
        for (TestClass *c : {&any, &hid, &pad, &xb}) zel_usbh_register_class(host, &c->node);
    });
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    // Interface 0: "xb360" does not match, "ds4" matches but refuses, "hid"
    // binds. Interface 1: "xb360" matches on alternate setting 1.
    EXPECT_EQ((std::vector<std::string>{"probe ds4 ifs0 alt0", "probe hid ifs0 alt0", "probe xb360 ifs1 alt1"}),
        events().take());
    EXPECT_EQ(&hid.drv, dev->ifs[0].drv);
    EXPECT_EQ(&xb.drv, dev->ifs[1].drv);
    EXPECT_EQ(1, dev->ifs[1].cur_alt);
    EXPECT_EQ(2, dev->ifs[1].alt_count);

    // Disconnect: hook then class disconnect, interface by interface, before
    // the control URB and the record go.
    const int freed = fake.urbs_freed;
    unplug(dev);
    EXPECT_EQ(
        (std::vector<std::string>{"interface removed", "disconnect hid", "interface removed", "disconnect xb360"}),
        events().take());
    EXPECT_EQ(freed + 1, fake.urbs_freed);
    EXPECT_TRUE(fake.live.empty());
}

TEST_F(EnumTest, ClassThatKeepsTheConfigurationGetsNoSetConfiguration) {
    fake.device = device_desc(0x1111, 0x2222, 1);
    fake.configs = {config_desc(1, 1, {{0, 0, 0xFF, 0, 0, {}, {}}})};
    start();
    TestClass &any = test_class(0, "libusb", {{ZEL_USBH_MATCH_BCD_LO, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}});
    any.skip_set_config = true;
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &any.node); });
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    for (const std::string &r : fake.requests()) EXPECT_NE('9', r[0]) << r;
    EXPECT_EQ(&any.drv, dev->ifs[0].drv);
    EXPECT_EQ(1, dev->mutex.count);
    unplug(dev);
}

TEST_F(EnumTest, FailedTransferResetsAndStartsAgain) {
    fake.device = device_desc(0x1234, 0x5678, 1);
    fake.configs = {config_desc(1, 1, {msc_ifs(0)})};
    int stalls = 1;
    fake.fault = [&](const zel_usbh_hcd_urb_t &u) -> int16_t {
        if (u.setup.bRequest == 6 && u.setup.wLength == 18 && stalls > 0) return (int16_t)(stalls--, -32);
        return 0;
    };
    start();
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    const Reqs r = fake.requests();
    ASSERT_GE(r.size(), 5u);
    EXPECT_EQ(get_desc(1, 0, 18), r[2]);
    EXPECT_EQ(get_desc(1, 0, 64), r[3]) << "after the stall the device is reset and asked again";
    EXPECT_EQ(0, zel_pipe_addr(zel_usbh_pipe_t{ctrl_pipe(3), 0}));
    EXPECT_EQ(1, fake.resets);
    EXPECT_EQ(set_config(1), r.back());
    unplug(dev);
}

// A submit the stack refuses for now (the controller driver without event
// nodes, no URB to be had) is sent again after a back-off: whichever
// request of the enumeration it hits, once or several times in a row, the
// device ends configured with its class bound, and what reached it is what
// a plain enumeration sends.
TEST_F(EnumTest, RefusedSubmitIsSentAgainUntilTheDeviceIsConfigured) {
    fake.device = device_desc(0x1234, 0x5678, 1, 8);
    fake.configs = {config_desc(3, 1, {msc_ifs(0, 64)})};
    fake.reset_polls = 1;
    start();
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });
    const Reqs plain = {get_desc(1, 0, 64), set_address(1), get_desc(1, 0, 18), get_desc(2, 0, 9),
        get_desc(2, 0, (uint16_t)fake.configs[0].size()), set_config(3)};
    auto expect_configured = [&](zel_usbh_dev_t *dev) {
        ASSERT_NE(nullptr, dev);
        EXPECT_EQ(plain, fake.requests());
        ASSERT_EQ(1, dev->ifs_count);
        ASSERT_NE(nullptr, dev->ifs);
        EXPECT_EQ(&msc.drv, dev->ifs[0].drv);
        EXPECT_EQ(1, dev->mutex.count) << "configured: the mutex is free";
        EXPECT_EQ(nullptr, zel_usbh_urb_peek_buffer(&dev->ctrl));
        EXPECT_EQ(nullptr, host->enum_ctx);
    };
    for (const uint8_t speed : {ZEL_USB_SPEED_HIGH, ZEL_USB_SPEED_FULL})
        for (int n = 0; n < (int)plain.size(); n++)
            for (const int times : {1, 4}) {
                SCOPED_TRACE("speed " + std::to_string(speed) + ", submit " + std::to_string(n) + " refused " +
                             std::to_string(times) + " times");
                zel_test::run_as_irq([&] {
                    fake.sent.clear();
                    fake.refused = 0;
                    fake.refuse_after = n;
                    fake.refuse_count = times;
                });
                zel_usbh_dev_t *dev = plug(host, speed);
                EXPECT_EQ(times, fake.refused);
                expect_configured(dev);
                if (dev) unplug(dev);
                events().take();
            }
    // The control URB cannot be had at first.
    zel_test::run_as_irq([&] {
        fake.sent.clear();
        fake.refuse_after = -1;
        fake.urb_refusals = 3;
    });
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    EXPECT_EQ(0, fake.urb_refusals);
    expect_configured(dev);
    if (dev) unplug(dev);
    EXPECT_TRUE(fake.live.empty());
}

// Refusals that go on are tried again until the device leaves; it is then
// let go like any device under way.
TEST_F(EnumTest, UnplugWhileASubmitIsRefusedEndsTheRetries) {
    fake.device = device_desc(0x1234, 0x5678, 1);
    fake.configs = {config_desc(1, 1, {msc_ifs(0)})};
    fake.refuse_after = 2;
    fake.refuse_count = 1000000;
    start();
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return fake.refused >= 3; })) << "sent again, not given up";
    zel_test::run_as_irq([&] {
        EXPECT_EQ(host->enum_dev, dev);
        EXPECT_EQ(ZEL_USBH_ENUM_REFUSED, host->enum_ctx->state);
    });
    unplug(dev);
    EXPECT_TRUE(zel_test::wait_until([&] { return host->enum_ctx == nullptr; }));
    int refused = 0;
    zel_test::run_as_irq([&] { refused = fake.refused; });
    zel_test::settle();
    zel_test::run_as_irq([&] { EXPECT_EQ(refused, fake.refused) << "no retry after the unplug"; });
    EXPECT_TRUE(fake.live.empty());
}

TEST_F(EnumTest, DeviceNothingBindsStaysUnconfiguredUntilUnplugged) {
    fake.device = device_desc(0x1234, 0x5678, 1);
    fake.configs = {config_desc(1, 1, {{0, 0, 0xFF, 0, 0, {}, {}}})};
    start();
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    ASSERT_NE(nullptr, dev);
    for (const std::string &r : fake.requests()) EXPECT_NE('9', r[0]) << r;
    EXPECT_EQ(0, dev->mutex.count) << "the mutex stays taken";
    EXPECT_EQ(1, fake.urbs_freed) << "the control URB is released at once";
    EXPECT_TRUE(zel_bitmap_test(host->addr_map, 1)) << "the address stays until unplugged";
    unplug(dev);
    EXPECT_FALSE(zel_bitmap_test(host->addr_map, 1));
    EXPECT_TRUE(fake.live.empty());

    // No configuration at all.
    fake.device = device_desc(0x1234, 0x5678, 0);
    fake.sent.clear();
    dev = plug(host, ZEL_USB_SPEED_HIGH);
    EXPECT_EQ(3u, fake.sent.size());
    unplug(dev);
}

TEST_F(EnumTest, UnplugWhileResettingLetsTheNextDeviceEnumerate) {
    fake.device = device_desc(0x1234, 0x5678, 1);
    fake.configs = {config_desc(1, 1, {msc_ifs(0)})};
    fake.reset_polls = 1000000;  // the reset never ends
    start();
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_FULL); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return fake.resets == 1; }));
    unplug(dev);
    EXPECT_TRUE(zel_test::wait_until([&] { return host->enum_ctx == nullptr; }));
    EXPECT_EQ(nullptr, host->enum_dev);

    fake.reset_polls = 1;
    fake.sent.clear();
    dev = plug(host, ZEL_USB_SPEED_FULL);
    ASSERT_NE(nullptr, dev);
    EXPECT_EQ(1, dev->address) << "the address of the unplugged device is free again";
    EXPECT_EQ(set_config(1), fake.requests().back());
    unplug(dev);
}

TEST_F(EnumTest, DescriptorShorterThanItsHeaderCountsAsAFailedTransfer) {
    fake.device = {18, 1, 0, 2, 0, 0};  // ends before bMaxPacketSize0
    fake.reset_polls = 0;
    start();
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return fake.resets >= 2; })) << "reset and asked again";
    for (const std::string &r : fake.requests()) EXPECT_EQ(get_desc(1, 0, 64), r);
    unplug(dev);
    EXPECT_TRUE(zel_test::wait_until([&] { return host->enum_ctx == nullptr; }));
}

// The configuration's own wTotalLength may claim more than the device sent:
// the walk stays inside what arrived.
TEST_F(EnumTest, ConfigurationIsWalkedOnlyAsFarAsItsBytesCame) {
    fake.device = device_desc(0x1234, 0x5678, 1);
    Bytes cfg = config_desc(1, 1, {msc_ifs(0)});
    const uint16_t sent = (uint16_t)cfg.size();
    cfg[2] = cfg[3] = 0xFF;  // the full read says 0xFFFF of itself
    fake.configs = {cfg};
    fake.tamper = [sent](zel_usbh_hcd_urb_t &u) {
        if (u.setup.bRequest == 6 && u.setup.wValue == 0x0200 && u.setup.wLength == 9 && u.status == 0) {
            auto *b = static_cast<uint8_t *>(u.buffer);
            b[2] = (uint8_t)sent;  // while its header said the true length
            b[3] = (uint8_t)(sent >> 8);
        }
    };
    start();
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });
    zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
    ASSERT_NE(nullptr, dev);
    EXPECT_EQ(get_desc(2, 0, sent), fake.requests().at(4));
    ASSERT_EQ(1, dev->ifs_count);
    EXPECT_EQ(&msc.drv, dev->ifs[0].drv) << "the interface that did arrive is bound";
    unplug(dev);
}

// A device that does not let itself be configured is tried a few times and
// then left alone; its class drivers never started, so the application hears
// of no removal, neither during the retries nor at the unplug.
TEST_F(EnumTest, RefusedConfigurationIsRetriedAFewTimesWithoutRemovalHooks) {
    fake.device = device_desc(0x1234, 0x5678, 1);
    fake.configs = {config_desc(1, 1, {msc_ifs(0)})};
    fake.reset_polls = 0;
    fake.fault = [](const zel_usbh_hcd_urb_t &u) -> int16_t {
        return u.setup.bRequest == ZEL_USB_REQ_SET_CONFIGURATION ? -32 : 0;
    };
    start();
    TestClass &msc = test_class(0, "msc", {match_ifs(8, 6, 0x50)});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &msc.node); });
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return host->enum_dev == nullptr; }, zel_test::milliseconds(5000)))
        << "enumeration ends";
    zel_test::settle();
    EXPECT_GE(fake.resets, 1);
    EXPECT_LE(fake.resets, 5);
    size_t set_configs = 0;
    for (const std::string &r : fake.requests()) set_configs += r == set_config(1);
    EXPECT_EQ((size_t)fake.resets + 1, set_configs) << "each attempt ends at the refused request";
    const std::vector<std::string> e = events().take();
    EXPECT_EQ(0, std::count(e.begin(), e.end(), "interface removed"));
    EXPECT_EQ(std::count(e.begin(), e.end(), "probe msc ifs0 alt0"), std::count(e.begin(), e.end(), "disconnect msc"))
        << "each binding is let go again";
    EXPECT_EQ(nullptr, dev->ifs);
    EXPECT_EQ(0, dev->mutex.count) << "left alone, unconfigured";
    unplug(dev);
    EXPECT_TRUE(events().take().empty()) << "nothing bound, nothing to remove";
    EXPECT_TRUE(fake.live.empty());
}

// A device whose descriptor stops after 8 bytes fails every attempt at the
// 18-byte read; it is reset a few times, not for ever.
TEST_F(EnumTest, ShortDeviceDescriptorEndsEnumerationAfterAFewResets) {
    Bytes desc = device_desc(0x1234, 0x5678, 1);
    desc.resize(8);
    fake.device = desc;
    fake.reset_polls = 0;
    start();
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_FULL); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return host->enum_dev == nullptr; }, zel_test::milliseconds(5000)))
        << "enumeration ends";
    zel_test::settle();
    const int resets = fake.resets;
    EXPECT_LE(resets, 10) << "the speed reset of each attempt and the retries";
    EXPECT_EQ(nullptr, host->enum_ctx);
    zel_test::settle();
    EXPECT_EQ(resets, fake.resets) << "left alone";
    unplug(dev);
    EXPECT_TRUE(fake.live.empty());
}

// With 33 or more configurations of which none binds, the walk ends after
// the last index that the device record can hold.
TEST_F(EnumTest, ConfigurationWalkEndsAtTheLastIndexThatFits) {
    fake.device = device_desc(0x1234, 0x5678, 40);
    for (uint8_t i = 0; i < 40; i++)
        fake.configs.push_back(config_desc((uint8_t)(i + 1), 1, {{0, 0, 0xFF, 0, 0, {}, {}}}));
    start();
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    const bool ended = zel_test::wait_until([&] { return host->enum_dev == nullptr; }, zel_test::milliseconds(5000));
    unplug(dev);  // stops a walk that would not end
    ASSERT_TRUE(ended);
    std::vector<std::string> headers;
    for (const std::string &r : fake.requests())
        if (r.rfind("6:", 0) == 0 && r.size() > 4 && r.compare(r.size() - 4, 4, ":0:9") == 0) headers.push_back(r);
    ASSERT_EQ(32u, headers.size());
    for (uint8_t i = 0; i < 32; i++) EXPECT_EQ(get_desc(2, i, 9), headers[i]);
}

TEST_F(EnumTest, NewDeviceWithoutDriverContextOrAddressIsRefused) {
    fake.device = device_desc(0x1234, 0x5678, 0);
    start();
    fake.fail_alloc_device = true;
    zel_usbh_dev_t *dev = reinterpret_cast<zel_usbh_dev_t *>(1);
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    EXPECT_EQ(nullptr, dev);
    fake.fail_alloc_device = false;
    zel_test::run_as_irq([&] {
        for (int a = 1; a < ZEL_USBH_ADDR_COUNT; a++) zel_bitmap_set(host->addr_map, a);
    });
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    EXPECT_EQ(nullptr, dev);
    EXPECT_EQ(nullptr, host->enum_dev);
}

}  // namespace

// The mass-storage class on the scripted controller driver: which
// interfaces it takes, and its first request under the device mutex.
#include <gtest/gtest.h>

#include <thread>

#include "fake_hcd.h"
#include "usb_hooks.h"
#include "zel_test.h"
#include "zel_usbh_msc.h"

using namespace usb_test;

namespace {

struct MscProbeTest : ::testing::Test {
    FakeHcd fake;
    zel_usbh_t *host = nullptr;
    zel_usbh_class_node_t node{&zel_usbh_msc_class, nullptr};
    void SetUp() override {
        zel_test::boot();
        events().take();
        fake.device = device_desc(0xABCD, 0x0001, 1);
        host = new_fake_host(&fake);
        zel_test::run_as_irq([&] { zel_usbh_register_class(host, &node); });
    }
    zel_usbh_dev_t *plug_with(const Ifs &ifs) {
        fake.configs = {config_desc(1, 1, {ifs})};
        zel_usbh_dev_t *dev = plug(host, ZEL_USB_SPEED_HIGH);
        zel_test::settle();
        return dev;
    }
    void unplug(zel_usbh_dev_t *dev) {
        ASSERT_TRUE(zel_test::run_in_agent([&] { zel_usbh_disconnect_device(host, dev); }));
        zel_test::settle();
    }
};

TEST_F(MscProbeTest, GetMaxLunFollowsSetConfigurationThenTheDiskIsHandedOver) {
    zel_usbh_dev_t *dev = plug_with(msc_ifs(0));
    ASSERT_NE(nullptr, dev->ifs[0].drv);
    const std::vector<std::string> r = fake.requests();
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ("9:1:0:0", r[r.size() - 2]) << "the class waits for the device mutex";
    EXPECT_EQ("254:0:0:1", r.back());
    EXPECT_EQ(0xA1, fake.sent.back().setup.bmRequestType);
    ASSERT_TRUE(zel_test::wait_until([] { return connected_disk() != nullptr; }));
    auto *m = static_cast<zel_usbh_msc_t *>(dev->ifs[0].param);
    EXPECT_EQ(&m->scsi, connected_disk());
    EXPECT_EQ(&zel_usbh_msc_scsi_drv, m->scsi.drv);
    EXPECT_EQ(1, dev->mutex.count) << "released after GET MAX LUN";
    EXPECT_EQ(nullptr, zel_usbh_urb_peek_buffer(&dev->ctrl)) << "the LUN byte is not left on the control URB";
    EXPECT_EQ(0x81, zel_pipe_ep(zel_usbh_urb_get_pipe(&m->bulk_in)) | 0x80);
    EXPECT_EQ(2, zel_pipe_ep(zel_usbh_urb_get_pipe(&m->bulk_out)));

    unplug(dev);
    EXPECT_EQ((std::vector<std::string>{"disk connect", "interface removed", "disk disconnect"}), events().take());
    EXPECT_TRUE(fake.live.empty()) << "both bulk URBs and the control URB are freed";
}

TEST_F(MscProbeTest, InterfacesWithoutTwoBulkEndpointsAreRefused) {
    const std::vector<Ifs> refused = {
        {0, 0, 8, 6, 0x50, {{0x81, 2, 512, 0}}, {}},
        {0, 0, 8, 6, 0x50, {{0x81, 3, 64, 1}, {0x02, 2, 512, 0}}, {}},
        {0, 0, 8, 6, 0x50, {{0x81, 2, 512, 0}, {0x82, 2, 512, 0}}, {}},
        {0, 0, 8, 6, 0x50, {{0x81, 2, 512, 0}, {0x02, 2, 512, 0}, {0x83, 3, 8, 1}}, {}},
        {0, 0, 8, 6, 0x62, {{0x81, 2, 512, 0}, {0x02, 2, 512, 0}}, {}},
    };
    const auto short_of = [] {
        uint32_t n = 0;
        zel_test::run_as_irq([&] { n = zel_usbh_msc_refused(); });
        return n;
    };
    const uint32_t before = short_of();
    for (const Ifs &ifs : refused) {
        zel_usbh_dev_t *dev = plug_with(ifs);
        EXPECT_EQ(nullptr, dev->ifs) << "not bound";
        unplug(dev);
    }
    EXPECT_TRUE(fake.live.empty()) << "URBs of refused probes are freed";
    EXPECT_EQ(before, short_of()) << "a device's own descriptors are no shortage";
    // Allocation failure at probe refuses the interface too.
    fake.urbs_before_failure = 1;  // the control URB, then no bulk URB
    fake.configs = {config_desc(1, 1, {msc_ifs(0)})};
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return host->enum_dev == nullptr; }));
    EXPECT_EQ(nullptr, dev->ifs);
    EXPECT_LT(before, short_of()) << "a probe without its URB was short of memory or a host thread";
    fake.urbs_before_failure = -1;
    unplug(dev);
    EXPECT_EQ(0u, events().count("disk connect"));
}

// A device that refuses SET_CONFIGURATION never hands a disk over, so the
// application hears neither of a disk nor of a removal, however often the
// enumerator tries.
TEST_F(MscProbeTest, DeviceThatRefusesItsConfigurationNeverReachesTheApplication) {
    fake.fault = [](const zel_usbh_hcd_urb_t &u) -> int16_t {
        return u.setup.bRequest == ZEL_USB_REQ_SET_CONFIGURATION ? -32 : 0;
    };
    fake.reset_polls = 0;
    fake.configs = {config_desc(1, 1, {msc_ifs(0)})};
    zel_usbh_dev_t *dev = nullptr;
    ASSERT_TRUE(zel_test::run_in_agent([&] { dev = zel_usbh_new_device(host, ZEL_USB_SPEED_HIGH); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return host->enum_dev == nullptr; }, zel_test::milliseconds(5000)));
    zel_test::settle();
    EXPECT_TRUE(events().take().empty());
    unplug(dev);
    EXPECT_TRUE(events().take().empty());
    EXPECT_TRUE(fake.live.empty()) << "the bulk URBs of every binding are freed";
}

TEST_F(MscProbeTest, CommandInFlightEndsWhenTheDeviceGoes) {
    zel_usbh_dev_t *dev = plug_with(msc_ifs(0));
    ASSERT_TRUE(zel_test::wait_until([] { return connected_disk() != nullptr; }));
    zel_scsi_t *scsi = connected_disk();
    // The scripted driver never completes bulk transfers: the CBW stays out.
    intptr_t result = 0;
    std::thread cmd([&] {
        EXPECT_TRUE(zel_test::run_in_thread([&] {
            const uint8_t tur[16] = {};
            ASSERT_EQ(0, zel_scsi_execute(scsi, tur, nullptr));
            result = zel_eda_get_return_code();
        }));
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return fake.bulk.size() == 1; }));
    EXPECT_TRUE(zel_test::run_in_thread([&] {
        const uint8_t tur[16] = {};
        ASSERT_EQ(0, zel_scsi_execute(scsi, tur, nullptr));
        EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_eda_get_return_code()) << "a second command while one runs";
    }));
    EXPECT_EQ(1u, fake.bulk.size());
    unplug(dev);
    cmd.join();
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, result);
    const uint8_t tur[16] = {};
    EXPECT_TRUE(zel_test::run_in_thread([&] {
        ASSERT_EQ(0, zel_scsi_execute(scsi, tur, nullptr));
        EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_eda_get_return_code()) << "and so does every later one";
    }));
}

}  // namespace

// Pipes, URB handles and buffers, control requests, descriptor helpers and
// configuration layouts the parse refuses.
#include <gtest/gtest.h>

#include "fake_hcd.h"
#include "test_classes.h"
#include "zel_heap.h"
#include "zel_host_test_hooks.h"
#include "zel_test.h"

using namespace usb_test;

namespace {

struct CoreTest : ::testing::Test {
    FakeHcd fake;
    zel_usbh_t *host = nullptr;
    zel_usbh_dev_t dev{};
    void SetUp() override {
        zel_test::boot();
        host = new_fake_host(&fake);
        dev.address = 5;
        dev.speed = ZEL_USB_SPEED_HIGH;
    }
    void TearDown() override {
        zel_test::run_as_irq([&] {
            if (dev.speed & ZEL_USBH_DEV_CTRL_URB) zel_usbh_free_urb(host, &dev.ctrl);
        });
    }
};

TEST_F(CoreTest, PipesCarryEndpointTypeSpeedAddressAndInterval) {
    const zel_usb_endpoint_desc_t intr = {7, 5, 0x83, 3, 64, 4};
    zel_usbh_pipe_t p = zel_usbh_get_pipe_from_ep_desc(&dev, &intr);
    EXPECT_EQ(ZEL_PIPE_VALID, p.word & ZEL_PIPE_VALID);
    EXPECT_EQ(64u, zel_pipe_mps(p));
    EXPECT_EQ(3, zel_pipe_ep(p));
    EXPECT_EQ(ZEL_USB_XFER_INT, zel_pipe_type(p));
    EXPECT_EQ(5, zel_pipe_addr(p));
    EXPECT_TRUE(zel_pipe_is_in(p));
    EXPECT_EQ(8u, p.interval) << "high-speed interrupt: 2^(bInterval-1)";
    dev.speed = ZEL_USB_SPEED_FULL;
    EXPECT_EQ(4u, zel_usbh_get_pipe_from_ep_desc(&dev, &intr).interval);
    const zel_usb_endpoint_desc_t bulk = {7, 5, 0x02, 2, 512, 0};
    p = zel_usbh_get_pipe_from_ep_desc(&dev, &bulk);
    EXPECT_EQ(0u, p.interval);
    EXPECT_FALSE(zel_pipe_is_in(p));
    const zel_usb_endpoint_desc_t iso = {7, 5, 0x01, 1, 1023, 17};
    EXPECT_EQ(0u, zel_usbh_get_pipe_from_ep_desc(&dev, &iso).interval) << "cut to 16 bits";
}

TEST_F(CoreTest, UrbHandleHoldsThePipeUntilAllocatedAndGetsItBack) {
    const zel_usb_endpoint_desc_t intr = {7, 5, 0x81, 3, 8, 10};
    zel_usbh_urb_t h;
    zel_usbh_urb_prepare(&h, &dev, &intr);
    EXPECT_FALSE(zel_usbh_urb_is_alloced(&h));
    const zel_usbh_pipe_t pipe = zel_usbh_urb_get_pipe(&h);
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        fake.fail_alloc_urb = true;
        EXPECT_EQ(ZEL_USBH_ERR_NO_URB, zel_usbh_alloc_urb(host, &dev, &h));
        EXPECT_EQ(pipe.word, h.pipe.word) << "a failed allocation keeps the pipe";
        fake.fail_alloc_urb = false;
        ASSERT_EQ(0, zel_usbh_alloc_urb(host, &dev, &h));
        ASSERT_TRUE(zel_usbh_urb_is_alloced(&h));
        EXPECT_EQ(&dev, h.urb->dev);
        EXPECT_EQ(pipe.word, zel_usbh_urb_get_pipe(&h).word);

        // Interrupt URBs: the first submit, then relinks.
        EXPECT_EQ(0, zel_usbh_submit_urb(host, &h));
        EXPECT_EQ(0, zel_usbh_submit_urb(host, &h));
        EXPECT_EQ(0, zel_usbh_submit_urb(host, &h));
        EXPECT_EQ(1u, fake.bulk.size());
        EXPECT_EQ(2, fake.relinks);
        EXPECT_EQ(zel_eda_get_cur(), h.urb->owner);

        // An owned buffer is freed by the URB; a caller's never.
        void *owned = zel_usbh_urb_alloc_buffer(&h, 100);
        ASSERT_NE(nullptr, owned);
        EXPECT_EQ(100u, h.urb->transfer_length);
        static uint8_t mine[4];
        zel_usbh_urb_set_buffer(&h, mine, sizeof mine);  // frees `owned` (ASan would see a leak)
        EXPECT_EQ(mine, zel_usbh_urb_peek_buffer(&h));
        EXPECT_EQ(mine, zel_usbh_urb_take_buffer(&h));
        EXPECT_EQ(nullptr, zel_usbh_urb_peek_buffer(&h));
        ASSERT_NE(nullptr, zel_usbh_urb_alloc_buffer(&h, 8));

        zel_usbh_free_urb(host, &h);  // frees the owned buffer with it
        EXPECT_FALSE(zel_usbh_urb_is_alloced(&h));
        EXPECT_EQ(pipe.word, h.pipe.word) << "the handle gets its pipe back, not marked submitted";
        ASSERT_EQ(0, zel_usbh_alloc_urb(host, &dev, &h));
        EXPECT_EQ(0, zel_usbh_submit_urb(host, &h));
        EXPECT_EQ(2u, fake.bulk.size()) << "a new URB is submitted, not relinked";
        zel_usbh_free_urb(host, &h);
    }));
}

TEST_F(CoreTest, ControlRequestsUseTheClassBufferOrOneOfTheirOwn) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        // The first request allocates the control URB at address 5, 64-byte packets.
        static uint8_t lun = 0xEE;
        const zel_usbh_setup_t get_lun = {0xA1, 0xFE, 0, 2, 1};
        zel_usbh_urb_t *h = zel_usbh_control_msg_prepare(host, &dev, &get_lun);
        ASSERT_NE(nullptr, h);
        EXPECT_TRUE(dev.speed & ZEL_USBH_DEV_CTRL_URB);
        EXPECT_EQ(64u, zel_pipe_mps(h->urb->pipe));
        EXPECT_EQ(5, zel_pipe_addr(h->urb->pipe));
        EXPECT_EQ(2000, h->urb->timeout);
        zel_usbh_urb_set_buffer(&dev.ctrl, &lun, 1);
        EXPECT_EQ(0, zel_usbh_control_msg(host, &dev, &get_lun));
        EXPECT_EQ(&lun, zel_usbh_urb_peek_buffer(&dev.ctrl)) << "no heap buffer in place of the class's";
        EXPECT_TRUE(zel_pipe_is_in(dev.ctrl.urb->pipe));

        // A class buffer shorter than the request is refused, not overrun.
        const zel_usbh_setup_t longer = {0xA1, 0xFE, 0, 2, 2};
        EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_control_msg(host, &dev, &longer));
        EXPECT_EQ(&lun, zel_usbh_urb_take_buffer(&dev.ctrl));

        // A heap buffer left attached is replaced when a longer request comes.
        EXPECT_EQ(0, zel_usbh_get_descriptor(host, &dev, 1, 0, 18));
        EXPECT_EQ(0, zel_usbh_get_descriptor(host, &dev, 2, 0, 64));
        EXPECT_EQ(64u, dev.ctrl.urb->transfer_length);
        zel_usbh_urb_free_buffer(&dev.ctrl);

        EXPECT_EQ(0, zel_usbh_clear_endpoint_halt(host, &dev, 0x81));
        EXPECT_EQ(0, zel_usbh_get_class_descriptor(host, &dev, 1, 0x22, 0, 0));
    }));
    zel_test::settle();
    const std::vector<std::string> r = fake.requests();
    ASSERT_EQ(5u, r.size());
    EXPECT_EQ("254:0:2:1", r[0]);
    EXPECT_EQ("1:0:129:0", r[3]);
    EXPECT_EQ("6:8704:1:0", r[4]);
    EXPECT_EQ(0x02, fake.sent[3].setup.bmRequestType);
    EXPECT_EQ(0x81, fake.sent[4].setup.bmRequestType);
}

TEST_F(CoreTest, ControlRequestThatCannotBePreparedFails) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        fake.fail_alloc_urb = true;
        EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_set_configuration(host, &dev, 1));
        EXPECT_FALSE(dev.speed & ZEL_USBH_DEV_CTRL_URB);
        fake.fail_alloc_urb = false;
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_get_descriptor(host, &dev, 1, 0, 18)) << "no buffer";
    }));
}

// A class's own control URB: endpoint 0 of the device as its control URB
// knows it, no data stage, the device's control URB left alone.
TEST_F(CoreTest, ControlRequestOnAClassUrbLeavesTheDevicesUrbAlone) {
    zel_usbh_urb_t own{};
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        const zel_usbh_setup_t halt = {0x02, ZEL_USB_REQ_CLEAR_FEATURE, 0, 0x83, 0};
        fake.fail_alloc_urb = true;
        EXPECT_EQ(ZEL_USBH_ERR_NO_URB, zel_usbh_control_msg_own(host, &dev, &own, &halt, nullptr));
        fake.fail_alloc_urb = false;
        const zel_usbh_setup_t with_data = {0x80, ZEL_USB_REQ_GET_DESCRIPTOR, 0x0100, 0, 18};
        EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_control_msg_own(host, &dev, &own, &with_data, nullptr));

        // The device's control URB has learnt 8-byte packets.
        EXPECT_EQ(0, zel_usbh_get_descriptor(host, &dev, 1, 0, 18));
        zel_usbh_pipe_t p = zel_usbh_urb_get_pipe(&dev.ctrl);
        p.word = (p.word & ~ZEL_PIPE_MPS_MASK) | (8u << ZEL_PIPE_MPS_SHIFT);
        zel_usbh_urb_set_pipe(&dev.ctrl, p);
        EXPECT_EQ(0, zel_usbh_control_msg_own(host, &dev, &own, &halt, nullptr));
        ASSERT_TRUE(zel_usbh_urb_is_alloced(&own));
        EXPECT_NE(dev.ctrl.urb, own.urb);
        EXPECT_EQ(8u, zel_pipe_mps(own.urb->pipe));
        EXPECT_EQ(5, zel_pipe_addr(own.urb->pipe));
        EXPECT_FALSE(zel_pipe_is_in(own.urb->pipe));
        EXPECT_EQ(0u, own.urb->transfer_length);
        EXPECT_EQ(2000, own.urb->timeout);
        EXPECT_NE(nullptr, zel_usbh_urb_peek_buffer(&dev.ctrl)) << "the device's URB keeps its buffer";
        zel_usbh_urb_free_buffer(&dev.ctrl);
    }));
    zel_test::settle();
    EXPECT_EQ("1:0:131:0", fake.requests().back());
    zel_test::run_as_irq([&] { zel_usbh_free_urb(host, &own); });
}

TEST_F(CoreTest, FindDescAndNextEndpointStayInsideTheBuffer) {
    const uint8_t descs[] = {9, 4, 0, 0, 2, 3, 0, 0, 0, 9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x40, 0};
    const void *found = nullptr;
    ASSERT_EQ(0, zel_usbh_find_desc(descs, sizeof descs, 0x21, &found));
    EXPECT_EQ(descs + 9, found);
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_find_desc(descs, sizeof descs, 5, &found)) << "not there";
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_find_desc(descs, 1, 4, &found));
    const uint8_t bad[] = {9, 4, 0, 0, 1, 0, 0, 0, 0, 1, 5, 0, 0};
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_find_desc(bad, sizeof bad, 5, &found)) << "bLength below 2";
    const uint8_t cut[] = {9, 4, 0, 0, 1, 0, 0, 0, 0, 7, 5, 0x81};
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_usbh_find_desc(cut, sizeof cut, 5, &found)) << "runs past the end";

    // Two endpoints with a companion after the first.
    const uint8_t eps[] = {7, 5, 0x81, 2, 0, 4, 0, 6, 0x30, 0, 0, 0, 0, 7, 5, 0x02, 2, 0, 4, 0};
    auto *first = reinterpret_cast<const zel_usb_endpoint_desc_t *>(eps);
    const zel_usb_endpoint_desc_t *second = zel_usbh_next_ep_desc(first, sizeof eps);
    EXPECT_EQ(reinterpret_cast<const zel_usb_endpoint_desc_t *>(eps + 13), second);
    EXPECT_EQ(nullptr, zel_usbh_next_ep_desc(second, 7)) << "nothing after the last";
    EXPECT_EQ(nullptr, zel_usbh_next_ep_desc(first, 10)) << "a companion that ends the buffer";
}

// Layouts the parse does not follow are refused: no class is probed.
TEST_F(CoreTest, ParseRefusesConfigurationsLaidOutOtherwise) {
    TestClass &any = test_class(0, "any", {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}});
    zel_test::run_as_irq([&] { zel_usbh_register_class(host, &any.node); });
    const Bytes dd = device_desc(1, 2, 1);
    auto parse = [&](Bytes cfg) {
        int32_t r = 0;
        zel_test::run_as_irq([&] {
            zel_usbh_enum_t ctx{};
            ctx.dev = &dev;
            ctx.dev_desc = (zel_usb_device_desc_t *)dd.data();
            ctx.config = static_cast<uint8_t *>(zel_heap_malloc(cfg.size()));
            ctx.config_length = (uint16_t)cfg.size();
            memcpy(ctx.config, cfg.data(), cfg.size());
            r = zel_usbh_parse_config(host, &ctx);
            zel_usbh_free_parser(&ctx);
            for (uint8_t i = 0; dev.ifs && i < dev.ifs_count; i++) dev.ifs[i].drv = nullptr;
            zel_heap_free(dev.ifs);
            dev.ifs = nullptr;
        });
        return r;
    };
    events().take();
    EXPECT_EQ(0, parse(config_desc(1, 2, {{0, 0, 1, 0, 0, {}, {}}, {1, 0, 1, 0, 0, {}, {}}})));
    EXPECT_EQ(2u, events().take().size());
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, parse(config_desc(1, 0, {}))) << "no interface";
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, parse(config_desc(1, 2, {{1, 0, 1, 0, 0, {}, {}}, {0, 0, 1, 0, 0, {}, {}}})))
        << "interfaces out of order";
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, parse(config_desc(1, 2, {{0, 0, 1, 0, 0, {}, {}}}))) << "an interface missing";
    Bytes ep_first = {9, 2, 0, 0, 1, 1, 0, 0x80, 50, 7, 5, 0x81, 2, 64, 0, 0, 9, 4, 0, 0, 1, 8, 6, 0x50, 0};
    ep_first[2] = (uint8_t)ep_first.size();
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, parse(ep_first)) << "an endpoint before any interface";
    Bytes other_type = config_desc(1, 1, {{0, 0, 1, 0, 0, {}, {}}});
    other_type[1] = 7;
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, parse(other_type)) << "not a configuration descriptor";
    Bytes overlong = config_desc(1, 1, {{0, 0, 1, 0, 0, {{0x81, 2, 64, 0}}, {}}});
    overlong[9 + 9] = 40;  // the endpoint claims more than remains: the walk stops before it
    EXPECT_EQ(0, parse(overlong));
    zel_test::run_as_irq([&] { host->classes = nullptr; });
}

}  // namespace

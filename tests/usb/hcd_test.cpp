// winusb_hcd on the simulated adapter: search, installation, enumeration,
// URBs on host threads and unplug.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "sim_stack.h"
#include "zel_host_test_hooks.h"
#include "zel_usbh_msc.h"

using namespace usb_test;

namespace {

struct HcdTest : ::testing::Test {
    void SetUp() override {
        start_sim_stack();
        events().take();
    }
};

// A long-lived agent that collects the URBs completed to it.
struct Owner {
    std::vector<zel_usbh_hcd_urb_t *> done;
    zel_test::Agent agent{[this](zel_test::Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_MSG) done.push_back(static_cast<zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg()));
    }};
    Owner() {
        zel_test::run_as_irq([&] { agent.start(); });
    }
    ~Owner() { agent.finish(); }
    // In a framework context (wait_until, run_as_irq).
    size_t count() const { return done.size(); }
};

// A URB of the adapter on a pipe of the given kind.
zel_usbh_urb_t make_urb(zel_usbh_dev_t *dev, uint8_t ep, uint8_t type) {
    zel_usbh_urb_t h;
    h.word = 0;
    h.pipe = zel_usbh_get_pipe(dev, ep, type, 64, 0);
    zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_usbh_alloc_urb(&zel_usbh, dev, &h)); });
    return h;
}

void submit_to(Owner &o, zel_usbh_urb_t *h, zel_usbh_setup_t setup = {}, void *buffer = nullptr, uint32_t len = 0) {
    zel_test::run_as_irq([&] {
        h->urb->setup = setup;
        zel_usbh_urb_set_buffer(h, buffer, len);
        EXPECT_EQ(0, zel_usbh_submit_urb_ex(&zel_usbh, h, 0, o.agent.eda()));
    });
}

void free_urb(zel_usbh_urb_t *h) {
    zel_test::run_as_irq([&] { zel_usbh_free_urb(&zel_usbh, h); });
}

TEST_F(HcdTest, AdapterIsFoundEnumeratedAndAddressedByTheDriverItself) {
    zel_test::TraceCapture trace;
    SimAdapter a;
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_usbh_dev_t *dev = adapter_record();
    ASSERT_NE(nullptr, dev);
    const zel_winusb_hcd_dev_t *ctx = zel_winusb_hcd_get_dev();
    EXPECT_EQ(ctx, dev->hcd_ctx);
    EXPECT_EQ(dev->address, ctx->address) << "SET_ADDRESS answered by the driver";
    EXPECT_EQ(ZEL_USB_SPEED_HIGH, ctx->speed);
    EXPECT_EQ(1, ctx->ifs_count);
    EXPECT_EQ(0, ctx->ep_map[1 | 16].ifs) << "bulk IN 0x81 of interface 0";
    EXPECT_EQ(0, ctx->ep_map[2].ifs);
    EXPECT_EQ(ZEL_WINUSB_HCD_NO_IFS, ctx->ep_map[3].ifs);
    EXPECT_EQ(1, a.status().configuration);
    EXPECT_EQ(1, a.status().open_count);
    EXPECT_TRUE(trace.contains("usbh: new high speed device connected\r\n"));
    EXPECT_TRUE(trace.contains("msc: vidABCD pid0001 interface0\r\n"));
    EXPECT_TRUE(trace.contains("Device path: sim:vid_abcd"));
    EXPECT_EQ((std::vector<std::string>{"disk connect"}), events().take());

    ASSERT_TRUE(a.unplug_and_wait());
    EXPECT_EQ((std::vector<std::string>{"interface removed", "disk disconnect"}), events().take());
    EXPECT_EQ(0, a.status().open_count) << "handles released";
    EXPECT_TRUE(trace.contains("usbh: device disconnected\r\n"));

    // Plugged again, the same adapter enumerates again.
    ASSERT_TRUE(a.plug_and_wait_for_disk());
}

TEST_F(HcdTest, OtherVendorsAreLeftAlone) {
    zel_host_usb_sim_config_t c;
    zel_host_usb_sim_config_init(&c, 0x1234, 0x0001);
    zel_host_usb_sim_dev_t *other = zel_host_usb_sim_create(&c);
    ASSERT_EQ(0, zel_host_usb_sim_plug(other));
    SimAdapter a;
    ASSERT_TRUE(a.plug_and_wait_for_disk()) << "the adapter is found next to another device";
    zel_host_usb_sim_status_t s;
    zel_host_usb_sim_get_status(other, &s);
    EXPECT_EQ(0, s.open_count);
    // Device changes while the adapter is open only test that it is there.
    zel_test::TraceCapture trace;
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(0, zel_host_usb_sim_unplug(other));
        ASSERT_EQ(0, zel_host_usb_sim_plug(other));
    }
    zel_test::settle();
    EXPECT_EQ(1, a.status().open_count);
    EXPECT_FALSE(trace.contains("usbh:")) << "no disconnect, no second connect";
    EXPECT_EQ(1u, events().count("disk connect"));
    ASSERT_TRUE(a.unplug_and_wait());
    zel_host_usb_sim_destroy(other);
}

TEST_F(HcdTest, DriverIsInstalledWhenNeededAndFailuresReachTheHooks) {
    SimAdapter a;
    a.config.driver_installed = 0;
    a.create();
    zel_host_usb_sim_fail_install(a.dev, ZEL_HOST_USB_EACCES, "access denied");
    zel_test::TraceCapture trace;
    ASSERT_EQ(0, zel_host_usb_sim_plug(a.dev));
    // Not forced, then forced after the open failed: both fail (every scan
    // tries twice; device changes may bring more scans).
    ASSERT_TRUE(zel_test::wait_until([] { return events().count("install end abcd:0000 -13 access denied") >= 2; }));
    EXPECT_TRUE(zel_test::wait_until([&] { return trace.contains("Fail to initialize winusb: 16 "); }));
    EXPECT_GE(events().count("install begin abcd:0000"), 2u);
    EXPECT_EQ(nullptr, connected_disk());
    EXPECT_EQ(0, a.status().open_count);

    // Works on the next device change.
    zel_host_usb_sim_fail_install(a.dev, 0, nullptr);
    ASSERT_EQ(0, zel_host_usb_sim_unplug(a.dev));
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    const std::vector<std::string> e = events().take();
    ASSERT_GE(e.size(), 3u);
    EXPECT_EQ("install begin abcd:0000", e[e.size() - 3]);
    EXPECT_EQ(0u, e[e.size() - 2].rfind("install end abcd:0000 0 ", 0)) << e[e.size() - 2];
    EXPECT_EQ("disk connect", e.back());
    EXPECT_EQ(1u, a.status().installs);
}

TEST_F(HcdTest, UrbsCarryTheDriverAndHostCodes) {
    SimAdapter a;
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_usbh_dev_t *dev = adapter_record();
    Owner o;
    uint8_t desc[18] = {};
    zel_usbh_urb_t ctl = make_urb(dev, 0, ZEL_USB_XFER_CONTROL);
    zel_test::run_as_irq([&] { ctl.urb->pipe.word |= ZEL_PIPE_IN; });
    submit_to(o, &ctl, {0x80, 6, 0x0100, 0, 18}, desc, sizeof desc);
    zel_usbh_urb_t ep1 = make_urb(dev, 1, ZEL_USB_XFER_CONTROL);
    submit_to(o, &ep1, {0x80, 6, 0x0100, 0, 18}, desc, sizeof desc);
    zel_usbh_urb_t iso = make_urb(dev, 0x81, ZEL_USB_XFER_ISOC);
    submit_to(o, &iso, {}, desc, sizeof desc);
    zel_usbh_urb_t none = make_urb(dev, 0x85, ZEL_USB_XFER_BULK);
    submit_to(o, &none, {}, desc, sizeof desc);
    zel_usbh_urb_t stalled = make_urb(dev, 0x81, ZEL_USB_XFER_BULK);
    EXPECT_EQ(0, zel_host_usb_sim_stall(a.dev, 0x81));
    submit_to(o, &stalled, {}, desc, sizeof desc);
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 5; }));
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, ctl.urb->status);
        EXPECT_EQ(18u, ctl.urb->actual_length);
        EXPECT_EQ(0xABCD, desc[8] | desc[9] << 8);
        EXPECT_EQ(ZEL_USBH_ERR_HCD, ep1.urb->status) << "control transfer on endpoint 1";
        EXPECT_EQ(ZEL_USBH_ERR_HCD, iso.urb->status) << "isochronous";
        EXPECT_EQ(ZEL_HOST_USB_ENOENT, none.urb->status) << "an endpoint the device lacks";
        EXPECT_EQ(ZEL_HOST_USB_EPIPE, stalled.urb->status);
    });

    // CLEAR_FEATURE(ENDPOINT_HALT) frees the stalled endpoint.
    submit_to(o, &ctl, {0x02, 1, 0, 0x81, 0});
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 6; }));
    EXPECT_EQ(0u, a.status().halted);

    // A class request numbered like SET_INTERFACE goes to the device, which
    // refuses it, instead of switching the alternate setting.
    submit_to(o, &ctl, {0x21, 11, 0, 0, 0});
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 7; }));
    zel_test::run_as_irq([&] { EXPECT_EQ(ZEL_HOST_USB_EPIPE, ctl.urb->status); });

    // A control request the device refuses fails with the host's code.
    zel_host_usb_sim_fail_transfers(a.dev, 1, ZEL_HOST_USB_EIO);
    submit_to(o, &ctl, {0x80, 6, 0x0100, 0, 18}, desc, sizeof desc);
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 8; }));
    zel_test::run_as_irq([&] { EXPECT_EQ(ZEL_HOST_USB_EIO, ctl.urb->status); });
    for (zel_usbh_urb_t *h : {&ctl, &ep1, &iso, &none, &stalled}) free_urb(h);
}

// A URB completes while no event node can be had: its submit took the
// nodes of its completion. A submit that cannot take them queues nothing.
TEST_F(HcdTest, UrbsCompleteDuringAShortageOfEventNodes) {
    SimAdapter a;
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_usbh_dev_t *dev = adapter_record();
    Owner o;
    uint8_t desc[18] = {};
    zel_usbh_urb_t ctl = make_urb(dev, 0, ZEL_USB_XFER_CONTROL);
    static zel_test::EventNodeDrought *drought;
    zel_test::run_as_irq([&] {
        ctl.urb->pipe.word |= ZEL_PIPE_IN;
        ctl.urb->setup = {0x80, 6, 0x0100, 0, 18};
        zel_usbh_urb_set_buffer(&ctl, desc, sizeof desc);
        EXPECT_EQ(0, zel_usbh_submit_urb_ex(&zel_usbh, &ctl, 0, o.agent.eda()));
        drought = new zel_test::EventNodeDrought;
    });
    const bool completed = zel_test::wait_until([&] { return o.count() == 1; }, std::chrono::milliseconds(5000));
    zel_test::run_as_irq([&] {
        // the nodes the completion's dispatch gave back are taken as well
        delete drought;
        drought = new zel_test::EventNodeDrought;
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_usbh_submit_urb_ex(&zel_usbh, &ctl, 0, o.agent.eda()))
            << "the nodes of its completion cannot be had";
        const auto *u = reinterpret_cast<const zel_winusb_hcd_urb_t *>(ctl.urb);
        EXPECT_EQ(ZEL_WINUSB_URB_IDLE, u->state) << "nothing queued";
        delete drought;
    });
    ASSERT_TRUE(completed) << "the completion got through the shortage";
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, ctl.urb->status);
        EXPECT_EQ(18u, ctl.urb->actual_length);
    });
    EXPECT_EQ(0xABCD, desc[8] | desc[9] << 8);
    // with nodes back the same URB goes again
    desc[8] = desc[9] = 0;
    submit_to(o, &ctl, {0x80, 6, 0x0100, 0, 18}, desc, sizeof desc);
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 2; }));
    EXPECT_EQ(0xABCD, desc[8] | desc[9] << 8);
    free_urb(&ctl);
}

// Since `seq`, the interrupt log shows `t` waiting for the interrupt lock.
bool asks_for_the_lock(const zel_host_thread_t *t, uint32_t seq) {
    std::vector<zel_host_irq_log_t> log(1024);
    log.resize(zel_host_irq_log_read(log.data(), log.size()));
    for (const zel_host_irq_log_t &r : log)
        if (r.kind == 1 && r.context == t && (int32_t)(r.seq - seq) >= 0) return true;
    return false;
}

// A URB freed while it still waits in the driver's submit queue: its thread
// ends and its last message reaches the driver agent before the agent has
// taken the URB off the queue (the thread gets the interrupt lock before
// the idle kernel does). The record is released exactly once, by that last
// message: neither used after it was freed nor leaked (sanitizer builds).
TEST_F(HcdTest, UrbFreedWhileStillQueuedIsReleasedOnceByItsThreadsLastMessage) {
    SimAdapter a;
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_usbh_dev_t *dev = adapter_record();
    Owner o;
    uint8_t desc[18], data[31] = {};
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE(round);
        // A control IN request (it would start at once) and a bulk OUT one
        // (it would go through the device queue).
        for (const bool in : {true, false}) {
            zel_usbh_urb_t h = make_urb(dev, in ? 0 : 0x02, in ? ZEL_USB_XFER_CONTROL : ZEL_USB_XFER_BULK);
            bool asked = false;
            zel_test::run_as_irq([&] {
                if (in) {
                    h.urb->pipe.word |= ZEL_PIPE_IN;
                    h.urb->setup = {0x80, 6, 0x0100, 0, 18};
                }
                zel_usbh_urb_set_buffer(&h, in ? (void *)desc : (void *)data, in ? sizeof desc : sizeof data);
                ASSERT_EQ(0, zel_usbh_submit_urb_ex(&zel_usbh, &h, 0, o.agent.eda()));
                const zel_host_thread_t *thread = &reinterpret_cast<zel_winusb_hcd_urb_t *>(h.urb)->thread;
                const uint32_t seq = zel_host_irq_log_seq();
                zel_usbh_free_urb(&zel_usbh, &h);
                // Held here until the ending thread waits for the lock, so it
                // comes in ahead of the kernel.
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (!(asked = asks_for_the_lock(thread, seq)) && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
            });
            ASSERT_TRUE(asked) << "the URB's thread ended";
            zel_test::settle();
        }
    }
    // SET_ADDRESS, which the driver answers itself, freed while that answer
    // waits in the driver agent's queue; its thread asks to end meanwhile.
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE(round);
        zel_usbh_urb_t h = make_urb(dev, 0, ZEL_USB_XFER_CONTROL);
        bool freed = false;
        zel_test::Agent freer([&](zel_test::Agent &, zel_evt_t evt) {
            if (evt != ZEL_EVT_INIT) return;
            const zel_host_thread_t *thread = &reinterpret_cast<zel_winusb_hcd_urb_t *>(h.urb)->thread;
            const uint32_t seq = zel_host_irq_log_seq();
            zel_usbh_free_urb(&zel_usbh, &h);
            freed = true;
            // Room for the thread to come in between this dispatch and the
            // answer's (it need not: it may wait for that answer).
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
            while (!asks_for_the_lock(thread, seq) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
        zel_test::run_as_irq([&] {
            h.urb->setup = {0x00, ZEL_USB_REQ_SET_ADDRESS, (uint16_t)dev->address, 0, 0};
            ASSERT_EQ(0, zel_usbh_submit_urb_ex(&zel_usbh, &h, 0, o.agent.eda()));
            ASSERT_EQ(0, freer.start());  // served after the driver agent has taken the URB
        });
        ASSERT_TRUE(zel_test::wait_until([&] { return freed; }));
        zel_test::settle();
        freer.finish();
    }
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0u, o.count()) << "a freed URB completes to nobody";
        EXPECT_TRUE(zel_dlist_is_empty(&zel_winusb_hcd_get_dev()->queue));
    });
    // The driver goes on serving URBs.
    zel_usbh_urb_t ctl = make_urb(dev, 0, ZEL_USB_XFER_CONTROL);
    zel_test::run_as_irq([&] { ctl.urb->pipe.word |= ZEL_PIPE_IN; });
    submit_to(o, &ctl, {0x80, 6, 0x0100, 0, 18}, desc, sizeof desc);
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 1; }));
    EXPECT_EQ(0xABCD, desc[8] | desc[9] << 8);
    free_urb(&ctl);
}

TEST_F(HcdTest, OutUrbsWaitForTheOneInProgressWhileInUrbsGoAhead) {
    SimAdapter a;
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_usbh_dev_t *dev = adapter_record();
    Owner o;
    // A TEST UNIT READY CBW: afterwards the device only gives its CSW and
    // takes nothing on bulk OUT until the CSW has been read.
    uint8_t cbw[31] = {0x55, 0x53, 0x42, 0x43, 1, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 6};
    uint8_t cbw2[31];
    memcpy(cbw2, cbw, sizeof cbw);
    uint8_t csw[13], csw2[13], desc[18];
    zel_usbh_urb_t out1 = make_urb(dev, 0x02, ZEL_USB_XFER_BULK);
    zel_usbh_urb_t out2 = make_urb(dev, 0x02, ZEL_USB_XFER_BULK);
    zel_usbh_urb_t clear = make_urb(dev, 0, ZEL_USB_XFER_CONTROL);
    zel_usbh_urb_t get = make_urb(dev, 0, ZEL_USB_XFER_CONTROL);
    zel_usbh_urb_t in = make_urb(dev, 0x81, ZEL_USB_XFER_BULK);
    zel_test::run_as_irq([&] { get.urb->pipe.word |= ZEL_PIPE_IN; });
    submit_to(o, &out1, {}, cbw, sizeof cbw);
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 1; }));

    submit_to(o, &out2, {}, cbw2, sizeof cbw2);                       // blocks in the device
    submit_to(o, &clear, {0x02, 1, 0, 0x02, 0});                      // OUT: waits behind it
    submit_to(o, &get, {0x80, 6, 0x0100, 0, 18}, desc, sizeof desc);  // IN: goes at once
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 2; }));
    zel_test::run_as_irq([&] { EXPECT_EQ(get.urb, o.done[1]) << "the IN request is not held back"; });

    submit_to(o, &in, {}, csw, sizeof csw);  // the CSW frees bulk OUT
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 5; }));
    zel_test::run_as_irq([&] {
        // The CSW read lets the held write through; the CSW read's own
        // completion may arrive before or after the OUT URBs behind it, but
        // the OUT URBs complete in submission order.
        const std::set<zel_usbh_hcd_urb_t *> last{o.done[2], o.done[3], o.done[4]};
        EXPECT_EQ((std::set<zel_usbh_hcd_urb_t *>{in.urb, out2.urb, clear.urb}), last);
        const auto at = [&](zel_usbh_hcd_urb_t *u) {
            return std::find(o.done.begin(), o.done.end(), u) - o.done.begin();
        };
        EXPECT_LT(at(out2.urb), at(clear.urb)) << "OUT URBs complete in submission order";
        EXPECT_EQ(31u, out2.urb->actual_length);
        EXPECT_TRUE(zel_dlist_is_empty(&zel_winusb_hcd_get_dev()->queue));
    });
    submit_to(o, &in, {}, csw2, sizeof csw2);
    ASSERT_TRUE(zel_test::wait_until([&] { return o.count() == 6; }));
    for (zel_usbh_urb_t *h : {&out1, &out2, &clear, &get, &in}) free_urb(h);
}

TEST_F(HcdTest, UnplugAtAnyMomentLeavesTheDriverReadyForTheNextPlug) {
    SimAdapter a;
    a.create();
    for (int i = 0; i < 10; i++) {
        ASSERT_EQ(0, zel_host_usb_sim_plug(a.dev));
        if (i % 3 == 1) zel_test::settle();
        ASSERT_EQ(0, zel_host_usb_sim_unplug(a.dev));
        ASSERT_TRUE(zel_test::wait_until(hcd_idle));
    }
    events().take();
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    EXPECT_EQ(1u, events().count("disk connect"));
}

// A SCSI unit that holds its commands until opened: a transfer in the unit
// keeps the driver's close of the device waiting.
struct GatedUnit {
    zel_host_usb_sim_scsi_t inner{};
    std::mutex m;
    std::condition_variable cv;
    bool closed = false;
    int waiting = 0;

    static int execute(void *unit, const uint8_t *cdb, uint8_t length, void *data, uint32_t size, bool in) {
        auto *g = static_cast<GatedUnit *>(unit);
        {
            std::unique_lock<std::mutex> lock(g->m);
            g->waiting++;
            g->cv.wait(lock, [g] { return !g->closed; });
            g->waiting--;
        }
        return g->inner.execute(g->inner.unit, cdb, length, data, size, in);
    }
    void set_closed(bool c) {
        std::lock_guard<std::mutex> lock(m);
        closed = c;
        cv.notify_all();
    }
    int held() {
        std::lock_guard<std::mutex> lock(m);
        return waiting;
    }
};

bool releasing() {
    const zel_winusb_hcd_dev_t *d = zel_winusb_hcd_get_dev();
    return __atomic_load_n(&d->file, __ATOMIC_ACQUIRE) == ZEL_WINUSB_FILE_NONE &&
           (__atomic_load_n(&d->flags, __ATOMIC_ACQUIRE) & ZEL_WINUSB_FLAG_RELEASE) != 0;
}

// Every plug that follows an unplug is opened, also one that comes while
// the driver is still letting go of the old device.
TEST_F(HcdTest, PlugWhileTheOldDeviceIsReleasedIsSeen) {
    GatedUnit gate;
    SimAdapter a(64);
    gate.inner = a.config.scsi;
    a.config.scsi = {GatedUnit::execute, &gate};
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    for (int round = 0; round < 10; round++) {
        SCOPED_TRACE(round);
        zel_scsi_t *scsi = connected_disk();
        ASSERT_NE(nullptr, scsi);
        gate.set_closed(true);
        std::thread cmd([scsi] {
            EXPECT_TRUE(zel_test::run_in_thread([scsi] {
                const uint8_t tur[16] = {};
                ASSERT_EQ(0, zel_scsi_execute(scsi, tur, nullptr));
                EXPECT_EQ(ZEL_USBH_ERR_FAIL, zel_eda_get_return_code()) << "the device left under it";
            }));
        });
        const bool held = zel_test::wait_until([&] { return gate.held() == 1; }, zel_test::milliseconds(5000));
        if (held) {
            ASSERT_EQ(0, zel_host_usb_sim_unplug(a.dev));
            // The close waits for the transfer in the unit: the release stays
            // half done while the adapter comes back.
            EXPECT_TRUE(zel_test::wait_until(releasing, zel_test::milliseconds(5000)));
            ASSERT_EQ(0, zel_host_usb_sim_plug(a.dev));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // room for the plug's rescan
        }
        gate.set_closed(false);
        cmd.join();
        ASSERT_TRUE(held);
        ASSERT_TRUE(zel_test::wait_until([&] { return connected_disk() != nullptr; }, zel_test::milliseconds(5000)))
            << "the adapter plugged during the release is opened";
    }
    // Plugs that follow unplugs at once.
    for (int round = 0; round < 30; round++) {
        SCOPED_TRACE(round);
        ASSERT_EQ(0, zel_host_usb_sim_unplug(a.dev));
        ASSERT_EQ(0, zel_host_usb_sim_plug(a.dev));
        ASSERT_TRUE(zel_test::wait_until(
            [&] { return connected_disk() != nullptr && a.status().open_count == 1; }, zel_test::milliseconds(5000)));
    }
}

// Two users of the adapter's OUT side when it leaves: one's command is
// held in the device's unit (so its write is in progress until the test
// lets it go), the other's requests wait behind it. The waiting ones
// complete at the unplug with the answer of a device that is gone, in
// submission order; the held one completes once its unit lets it go.
TEST_F(HcdTest, UnplugCompletesTheOutUrbsQueuedBehindTheOneInProgress) {
    GatedUnit gate;
    SimAdapter a(64);
    gate.inner = a.config.scsi;
    a.config.scsi = {GatedUnit::execute, &gate};
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_usbh_dev_t *dev = adapter_record();
    Owner writer, other;
    uint8_t cbw[31] = {0x55, 0x53, 0x42, 0x43, 1, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 6};  // TEST UNIT READY
    uint8_t data[31] = {};
    zel_usbh_urb_t held = make_urb(dev, 0x02, ZEL_USB_XFER_BULK);
    zel_usbh_urb_t clear = make_urb(dev, 0, ZEL_USB_XFER_CONTROL);
    zel_usbh_urb_t write = make_urb(dev, 0x02, ZEL_USB_XFER_BULK);
    gate.set_closed(true);
    submit_to(writer, &held, {}, cbw, sizeof cbw);
    ASSERT_TRUE(zel_test::wait_until([&] { return gate.held() == 1; }, zel_test::milliseconds(5000)));
    submit_to(other, &clear, {0x02, 1, 0, 0x02, 0});
    submit_to(other, &write, {}, data, sizeof data);
    ASSERT_TRUE(zel_test::wait_until([] {
        const zel_dlist_t &q = zel_winusb_hcd_get_dev()->queue;
        return q.head && q.head->next && q.head->next->next;
    })) << "two OUT URBs wait behind the held one";

    ASSERT_EQ(0, zel_host_usb_sim_unplug(a.dev));
    const bool ended = zel_test::wait_until([&] { return other.count() == 2; }, zel_test::milliseconds(5000));
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0u, writer.count()) << "the held write is still in the unit";
        ASSERT_EQ(2u, other.count());
        EXPECT_EQ(clear.urb, other.done[0]) << "in submission order";
        EXPECT_EQ(ZEL_HOST_USB_ENODEV, clear.urb->status);
        EXPECT_EQ(ZEL_HOST_USB_ENODEV, write.urb->status);
        EXPECT_EQ(0u, write.urb->actual_length);
        EXPECT_TRUE(zel_dlist_is_empty(&zel_winusb_hcd_get_dev()->queue));
    });
    gate.set_closed(false);
    EXPECT_TRUE(ended) << "the queued OUT URBs of the device that left complete";
    EXPECT_TRUE(zel_test::wait_until([&] { return writer.count() == 1; }, zel_test::milliseconds(5000)));
    zel_test::run_as_irq(
        [&] { EXPECT_EQ(ZEL_HOST_USB_ENODEV, held.urb->status) << "the held write ends with the device"; });
    EXPECT_TRUE(zel_test::wait_until(hcd_idle));
    for (zel_usbh_urb_t *h : {&held, &clear, &write}) free_urb(h);
}

TEST_F(HcdTest, ResetIsCountedUntilTheDeviceThreadHasRun) {
    SimAdapter a;
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_test::run_as_irq([] { EXPECT_EQ(0, zel_winusb_hcd_reset_dev(&zel_usbh, adapter_record())); });
    EXPECT_TRUE(zel_test::wait_until([] { return !zel_winusb_hcd_is_dev_reset(&zel_usbh, adapter_record()); }));
}

}  // namespace

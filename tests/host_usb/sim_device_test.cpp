// The simulated adapter as a device that comes and goes: search, driver
// installation, handles, unplug during transfers, device-change hooks and
// injected faults.
#include <atomic>
#include <thread>

#include "sim_fixture.h"

namespace {

using namespace sim_test;

using SimDevice = SimAdapter;

TEST_F(SimDevice, SearchFiltersByIdsAndPresence) {
    zel_host_usb_sim_config_t other{};
    zel_host_usb_sim_config_init(&other, kVid, 0x0002);
    zel_host_usb_sim_dev_t *second = zel_host_usb_sim_create(&other);
    ASSERT_NE(nullptr, second);
    zel_host_usb_found_t f[4] = {};
    EXPECT_EQ(1, zel_host_usb_find(kVid, 0, f, 4));  // the second is not plugged
    ASSERT_EQ(0, zel_host_usb_sim_plug(second));
    EXPECT_EQ(2, zel_host_usb_find(kVid, 0, f, 4));
    EXPECT_EQ(2, zel_host_usb_find(kVid, 0, f, 1));  // counts beyond the room
    EXPECT_EQ(1, zel_host_usb_find(kVid, 0x0002, f, 4));
    EXPECT_EQ(0x0002, f[0].pid);
    EXPECT_NE(nullptr, strstr(f[0].path, "vid_abcd"));
    EXPECT_NE(nullptr, strstr(f[0].path, "pid_0002"));
    EXPECT_EQ(0, zel_host_usb_find(0x1234, 0, f, 4));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_sim_plug(second));
    zel_host_usb_sim_destroy(second);
    EXPECT_EQ(1, zel_host_usb_find(kVid, 0, f, 4));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_open("sim:vid_abcd&pid_0002&slot_999", &h));
    EXPECT_EQ(ZEL_HOST_USB_EBUSY, zel_host_usb_use(ZEL_HOST_USB_LIBUSB));  // a device is open
}

class SimUninstalled : public SimAdapter {
protected:
    void Configure(zel_host_usb_sim_config_t &c) override {
        c.driver_installed = 0;
        open_at_start = false;
    }
};

TEST_F(SimUninstalled, InstallGivesTheDeviceToUsOrSaysWhyNot) {
    zel_host_usb_found_t f{};
    ASSERT_EQ(1, zel_host_usb_driver_find(kVid, 0, false, &f));
    EXPECT_EQ(ZEL_HOST_USB_DRIVER_KERNEL, f.driver);
    EXPECT_STREQ("usb-storage", f.driver_name);
    EXPECT_EQ(ZEL_HOST_USB_EBUSY, zel_host_usb_open(f.path, &h));

    char text[64] = {};
    zel_host_usb_sim_fail_install(dev, ZEL_HOST_USB_EACCES, "Access denied by policy");
    EXPECT_EQ(ZEL_HOST_USB_EACCES, zel_host_usb_driver_install(f.path, text, sizeof text));
    EXPECT_STREQ("Access denied by policy", text);
    zel_host_usb_sim_fail_install(dev, 0, nullptr);

    // A text buffer that is too small is cut, not overrun.
    char tiny[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(0, zel_host_usb_driver_install(f.path, tiny, sizeof tiny));
    EXPECT_STREQ("Suc", tiny);
    zel_host_usb_sim_status_t st{};
    zel_host_usb_sim_get_status(dev, &st);
    EXPECT_EQ(1, st.driver_installed);
    EXPECT_EQ(1u, st.installs);

    // Installed: nothing left to install unless forced.
    EXPECT_EQ(0, zel_host_usb_driver_find(kVid, 0, false, &f));
    EXPECT_EQ(1, zel_host_usb_driver_find(kVid, 0, true, &f));
    EXPECT_EQ(ZEL_HOST_USB_DRIVER_OURS, f.driver);
    EXPECT_EQ(0, zel_host_usb_open(f.path, &h));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_driver_install("sim:vid_abcd&pid_9999&slot_1", text, sizeof text));
}

TEST_F(SimUninstalled, DeviceThatRefusesToOpen) {
    zel_host_usb_found_t f{};
    ASSERT_EQ(1, zel_host_usb_find(kVid, kPid, &f, 1));
    ASSERT_EQ(0, zel_host_usb_driver_install(f.path, nullptr, 0));
    zel_host_usb_sim_fail_open(dev, ZEL_HOST_USB_EACCES);
    EXPECT_EQ(ZEL_HOST_USB_EACCES, zel_host_usb_open(f.path, &h));
    EXPECT_EQ(0u, h);
    zel_host_usb_sim_fail_open(dev, 0);
    EXPECT_EQ(0, zel_host_usb_open(f.path, &h));
}

TEST_F(SimDevice, UnplugEndsWaitingTransfersAndKillsHandles) {
    // A status read with no command waits (the device NAKs) until unplugged.
    std::atomic<int> result{1};
    std::thread reader([&] {
        uint8_t b[13];
        result = zel_host_usb_read_pipe(h, 0, kBulkIn, b, sizeof b, 0);
    });
    ASSERT_EQ(0, zel_host_usb_sim_unplug(dev));
    reader.join();
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, result.load());
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_speed(h));  // the presence test
    uint8_t d[18];
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, Control(0x80, 6, 0x0100, 0, 18, d));

    // Plugged again, the old handle stays dead; a new open works.
    ASSERT_EQ(0, zel_host_usb_sim_plug(dev));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_speed(h));
    zel_host_usb_close(h);
    ASSERT_EQ(0, Open(&h));
    EXPECT_EQ(ZEL_HOST_USB_SPEED_HIGH, zel_host_usb_speed(h));
    Result r = Command({0x00, 0, 0, 0, 0, 0}, nullptr, 0, false);
    EXPECT_EQ(0, r.csw.status);
}

// A SCSI unit that lets the test unplug the device while a command runs.
struct Gate {
    zel_host_usb_sim_dev_t *dev = nullptr;
    std::atomic<int> calls{0};
    static int execute(void *unit, const uint8_t *, uint8_t, void *, uint32_t, bool) {
        Gate *g = static_cast<Gate *>(unit);
        g->calls++;
        EXPECT_EQ(0, zel_host_usb_sim_unplug(g->dev));
        return 0;
    }
};

TEST_F(SimDevice, UnplugWhileTheDiskWorksLosesTheCommand) {
    zel_host_usb_sim_config_t c{};
    zel_host_usb_sim_config_init(&c, kVid, 0x0042);
    Gate gate;
    c.scsi = {Gate::execute, &gate};
    zel_host_usb_sim_dev_t *slow = zel_host_usb_sim_create(&c);
    ASSERT_NE(nullptr, slow);
    gate.dev = slow;
    ASSERT_EQ(0, zel_host_usb_sim_plug(slow));
    zel_host_usb_found_t f{};
    ASSERT_EQ(1, zel_host_usb_find(kVid, 0x0042, &f, 1));
    zel_host_usb_handle_t sh = 0;
    ASSERT_EQ(0, zel_host_usb_open(f.path, &sh));
    const uint8_t cbw[31] = {'U', 'S', 'B', 'C', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6};
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_write_pipe(sh, 0, kBulkOut, cbw, sizeof cbw, kTimeout));
    EXPECT_EQ(1, gate.calls.load());
    zel_host_usb_close(sh);
    zel_host_usb_sim_destroy(slow);
}

TEST_F(SimDevice, DestroyedWhileOpenTheHandleFailsUntilClosed) {
    zel_host_usb_sim_config_t c{};
    zel_host_usb_sim_config_init(&c, kVid, 0x0043);
    c.speed = ZEL_HOST_USB_SPEED_FULL;
    zel_host_usb_sim_dev_t *gone = zel_host_usb_sim_create(&c);
    ASSERT_NE(nullptr, gone);
    ASSERT_EQ(0, zel_host_usb_sim_plug(gone));
    zel_host_usb_found_t f{};
    ASSERT_EQ(1, zel_host_usb_find(kVid, 0x0043, &f, 1));
    EXPECT_EQ(ZEL_HOST_USB_SPEED_FULL, f.speed);
    zel_host_usb_handle_t gh = 0;
    ASSERT_EQ(0, zel_host_usb_open(f.path, &gh));
    zel_host_usb_pipe_info_t p{};
    ASSERT_EQ(0, zel_host_usb_query_pipe(gh, 0, 0, 0, &p));
    EXPECT_EQ(64, p.max_packet);  // full speed
    zel_host_usb_sim_destroy(gone);
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_speed(gh));
    uint8_t b[13];
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_read_pipe(gh, 0, kBulkIn, b, sizeof b, kTimeout));
    zel_host_usb_close(gh);  // frees the record (the sanitizer sees a leak or a reuse otherwise)
}

TEST_F(SimDevice, CloseEndsWaitingTransfersAndStaleHandlesAreHarmless) {
    zel_host_usb_handle_t second = 0;
    ASSERT_EQ(0, Open(&second));
    std::atomic<int> result{1};
    std::thread reader([&] {
        uint8_t b[13];
        result = zel_host_usb_read_pipe(second, 0, kBulkIn, b, sizeof b, 0);
    });
    zel_host_usb_close(second);  // waits for the reader's transfer, if it began, to end
    reader.join();
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, result.load());
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_speed(second));
    zel_host_usb_close(second);  // twice: ignored
    zel_host_usb_close(0);
    zel_host_usb_close(0xFFFFFFFFu);
    // The other handle still works.
    EXPECT_EQ(ZEL_HOST_USB_SPEED_HIGH, zel_host_usb_speed(h));
    zel_host_usb_sim_status_t st{};
    zel_host_usb_sim_get_status(dev, &st);
    EXPECT_EQ(1, st.open_count);
}

TEST_F(SimDevice, FailedTransfersThenBackToNormal) {
    zel_host_usb_sim_fail_transfers(dev, 2, ZEL_HOST_USB_EIO);
    uint8_t d[18];
    EXPECT_EQ(ZEL_HOST_USB_EIO, Control(0x80, 6, 0x0100, 0, 18, d));
    const uint8_t tur[6] = {};
    EXPECT_EQ(ZEL_HOST_USB_EIO, SendCbw(tur, 6, 0, false, 1));
    EXPECT_EQ(18, Control(0x80, 6, 0x0100, 0, 18, d));
    zel_host_usb_sim_status_t st{};
    zel_host_usb_sim_get_status(dev, &st);
    EXPECT_EQ(0u, st.commands);  // the failed CBW never reached the device
    Result r = Command({0x00, 0, 0, 0, 0, 0}, nullptr, 0, false);
    EXPECT_EQ(0, r.csw.status);
}

TEST_F(SimDevice, HooksHearEveryPlugAndUnplug) {
    struct Counter {
        std::mutex m;
        std::condition_variable c;
        int calls = 0;
        static void hook(void *arg) {
            auto *k = static_cast<Counter *>(arg);
            std::lock_guard<std::mutex> lock(k->m);
            k->calls++;
            k->c.notify_all();
        }
        // Waits for a call after `seen` calls; the new count.
        int next(int seen) {
            std::unique_lock<std::mutex> lock(m);
            c.wait_for(lock, std::chrono::seconds(10), [&] { return calls > seen; });
            return calls;
        }
    } counter;
    const int id = zel_host_usb_notify_register(Counter::hook, &counter);
    ASSERT_GT(id, 0);
    EXPECT_EQ(ZEL_HOST_USB_EBUSY, zel_host_usb_use(ZEL_HOST_USB_LIBUSB));
    int seen = 0;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(0, zel_host_usb_sim_unplug(dev));
        seen = counter.next(seen);
        ASSERT_GT(seen, 2 * i) << "no call after unplug " << i;
        ASSERT_EQ(0, zel_host_usb_sim_plug(dev));
        seen = counter.next(seen);
        ASSERT_GT(seen, 2 * i + 1) << "no call after plug " << i;
    }
    zel_host_usb_notify_unregister(id);
    const int after = counter.calls;
    ASSERT_EQ(0, zel_host_usb_sim_unplug(dev));
    ASSERT_EQ(0, zel_host_usb_sim_plug(dev));
    // Unregistered and the thread gone: no call can be on its way.
    EXPECT_EQ(after, counter.calls);
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_notify_register(nullptr, nullptr));
}

TEST(HostUsbErrors, EveryCodeHasItsText) {
    for (int code : {ZEL_HOST_USB_ENOENT, ZEL_HOST_USB_EIO, ZEL_HOST_USB_ENOMEM, ZEL_HOST_USB_EACCES,
             ZEL_HOST_USB_EBUSY, ZEL_HOST_USB_ENODEV, ZEL_HOST_USB_EINVAL, ZEL_HOST_USB_EPIPE, ZEL_HOST_USB_EOVERFLOW,
             ZEL_HOST_USB_ENOTSUP, ZEL_HOST_USB_ETIMEDOUT})
        EXPECT_STRNE("Unknown error", zel_host_usb_strerror(code)) << code;
    EXPECT_STREQ("Unknown error", zel_host_usb_strerror(-9999));
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_use(static_cast<zel_host_usb_kind_t>(7)));
}

}  // namespace

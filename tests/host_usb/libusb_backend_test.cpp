// The libusb back end against a stand-in of libusb: finding and installing
// (kernel-driver detach), opening and claiming, the transfers with their
// timeouts, stalls and errors, the requests that must go through libusb's
// own calls, a host that refuses access, and device-change notification by
// hotplug and by polling.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <chrono>
#include <future>
#include <thread>

#include "libusb_standin.h"
#include "zel_host_usb.h"

namespace {

using std::chrono::milliseconds;
constexpr milliseconds kBound{20000};

const char kPath[] = "libusb:vid_abcd&pid_0000&port_3-1.2&addr_7";

standin::Device adapter() {
    standin::Device d;
    d.interfaces = {{0, 8, {{0x81, LIBUSB_TRANSFER_TYPE_BULK}, {0x02, LIBUSB_TRANSFER_TYPE_BULK}}, true},
        {1, 3, {{0x83, LIBUSB_TRANSFER_TYPE_INTERRUPT}}, false}};
    return d;
}

template <class T>
T locked(const std::function<T()> &read) {
    std::lock_guard<std::mutex> g(standin::lock());
    return read();
}

bool wait_for(const std::function<bool()> &pred) {
    const auto end = std::chrono::steady_clock::now() + kBound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

class LibusbBackend : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_LIBUSB));
        standin::reset(false);
        zel_host_usb_libusb_use_calls(&standin::calls);
    }
    void TearDown() override { zel_host_usb_libusb_use_calls(nullptr); }
};

TEST_F(LibusbBackend, InstallsOpensClaimsAndReleases) {
    standin::Device *dev = standin::plug(adapter());
    zel_host_usb_found_t found[2];
    ASSERT_EQ(1, zel_host_usb_find(0xABCD, 0, found, 2));
    EXPECT_STREQ(kPath, found[0].path);
    EXPECT_EQ(ZEL_HOST_USB_DRIVER_KERNEL, found[0].driver);
    EXPECT_EQ(ZEL_HOST_USB_SPEED_HIGH, found[0].speed);
    EXPECT_EQ(0, zel_host_usb_find(0xABCD, 0x1234, found, 2)) << "another product";

    zel_host_usb_handle_t h = 0;
    EXPECT_EQ(ZEL_HOST_USB_EBUSY, zel_host_usb_open(kPath, &h)) << "the kernel's driver holds interface 0";
    ASSERT_EQ(1, zel_host_usb_driver_find(0xABCD, 0, false, found));
    char text[64] = {};
    {
        std::lock_guard<std::mutex> g(standin::lock());
        dev->detach_error = LIBUSB_ERROR_ACCESS;
    }
    EXPECT_EQ(ZEL_HOST_USB_EACCES, zel_host_usb_driver_install(found[0].path, text, sizeof text));
    EXPECT_STREQ(zel_host_usb_strerror(ZEL_HOST_USB_EACCES), text);
    {
        std::lock_guard<std::mutex> g(standin::lock());
        dev->detach_error = 0;
    }
    ASSERT_EQ(0, zel_host_usb_driver_install(found[0].path, text, sizeof text));
    EXPECT_STREQ("Success", text);
    EXPECT_FALSE(locked<bool>([&] { return dev->interfaces[0].kernel_driver; })) << "detached";
    EXPECT_EQ(0, zel_host_usb_driver_find(0xABCD, 0, false, found)) << "ours now";

    ASSERT_EQ(0, zel_host_usb_open(kPath, &h));
    EXPECT_EQ((std::set<int>{0, 1}), locked<std::set<int>>([&] { return dev->claimed; }));
    EXPECT_EQ(2, zel_host_usb_interface_count(h));
    EXPECT_EQ(ZEL_HOST_USB_SPEED_HIGH, zel_host_usb_speed(h));
    zel_host_usb_interface_desc_t ifs;
    ASSERT_EQ(0, zel_host_usb_query_interface(h, 1, 0, &ifs));
    EXPECT_EQ(3, ifs.bInterfaceClass);
    EXPECT_EQ(ZEL_HOST_USB_ENOENT, zel_host_usb_query_interface(h, 1, 1, &ifs));
    zel_host_usb_pipe_info_t pipe;
    ASSERT_EQ(0, zel_host_usb_query_pipe(h, 0, 0, 1, &pipe));
    EXPECT_EQ(0x02, pipe.id);
    EXPECT_EQ(ZEL_HOST_USB_PIPE_BULK, pipe.type);
    EXPECT_EQ(ZEL_HOST_USB_ENOENT, zel_host_usb_query_pipe(h, 0, 0, 2, &pipe));

    zel_host_usb_close(h);
    EXPECT_TRUE(locked<bool>([&] { return dev->claimed.empty() && dev->handles == 0 && dev->refs == 0; }))
        << "interfaces released, handle closed, every reference returned";
    standin::unplug(dev);
}

TEST_F(LibusbBackend, RequestsThatChangeTheHostsViewGoThroughLibusbsCalls) {
    standin::Device model = adapter();
    model.interfaces[0].kernel_driver = false;
    standin::Device *dev = standin::plug(model);
    zel_host_usb_handle_t h = 0;
    ASSERT_EQ(0, zel_host_usb_open(kPath, &h));

    const zel_host_usb_setup_t set_config{0x00, 9, 1, 0, 0};
    EXPECT_EQ(0, zel_host_usb_control(h, &set_config, nullptr, 0));
    const zel_host_usb_setup_t set_alt{0x01, 11, 1, 1, 0};
    EXPECT_EQ(0, zel_host_usb_control(h, &set_alt, nullptr, 0));
    const zel_host_usb_setup_t clear{0x02, 1, 0, 0x81, 0};
    EXPECT_EQ(0, zel_host_usb_control(h, &clear, nullptr, 0));
    {
        std::lock_guard<std::mutex> g(standin::lock());
        EXPECT_TRUE(dev->controls.empty()) << "none of them went out as a raw request";
        EXPECT_EQ(std::vector<int>{1}, dev->set_configurations);
        EXPECT_FALSE(dev->set_configuration_while_claimed);
        EXPECT_EQ((std::set<int>{0, 1}), dev->claimed) << "claimed again after";
        EXPECT_EQ((std::vector<std::pair<int, int>>{{1, 1}}), dev->alt_settings);
        EXPECT_EQ(std::vector<uint8_t>{0x81}, dev->cleared);
    }
    // Another configuration: its interfaces are claimed instead.
    {
        std::lock_guard<std::mutex> g(standin::lock());
        dev->interfaces.resize(1);
    }
    const zel_host_usb_setup_t set_config2{0x00, 9, 2, 0, 0};
    EXPECT_EQ(0, zel_host_usb_control(h, &set_config2, nullptr, 0));
    EXPECT_EQ(1, zel_host_usb_interface_count(h));
    EXPECT_EQ((std::set<int>{0}), locked<std::set<int>>([&] { return dev->claimed; }));
    // A configuration whose interface a kernel driver holds: the request
    // fails with that, and nothing stays claimed.
    {
        std::lock_guard<std::mutex> g(standin::lock());
        dev->interfaces[0].kernel_driver = true;
    }
    const zel_host_usb_setup_t set_config3{0x00, 9, 3, 0, 0};
    EXPECT_EQ(ZEL_HOST_USB_EBUSY, zel_host_usb_control(h, &set_config3, nullptr, 0));
    EXPECT_EQ(0, zel_host_usb_interface_count(h));
    EXPECT_TRUE(locked<bool>([&] { return dev->claimed.empty(); }));

    // Any other request is a control transfer; no limit becomes 5 s.
    uint8_t buf[18] = {};
    {
        std::lock_guard<std::mutex> g(standin::lock());
        dev->control_answer = {18, 1, 0x00, 0x02};
    }
    const zel_host_usb_setup_t get{0x80, 6, 0x0100, 0, 18};
    EXPECT_EQ(4, zel_host_usb_control(h, &get, buf, 0));
    EXPECT_EQ(18, buf[0]);
    EXPECT_EQ(5000u, locked<unsigned>([&] { return dev->controls.back().timeout; }));
    EXPECT_EQ(4, zel_host_usb_control(h, &get, buf, 300));
    EXPECT_EQ(300u, locked<unsigned>([&] { return dev->controls.back().timeout; }));
    zel_host_usb_close(h);
    standin::unplug(dev);
}

TEST_F(LibusbBackend, TransfersTimeOutStallAndMapLibusbsErrors) {
    standin::Device model = adapter();
    model.interfaces[0].kernel_driver = false;
    standin::Device *dev = standin::plug(model);
    zel_host_usb_handle_t h = 0;
    ASSERT_EQ(0, zel_host_usb_open(kPath, &h));

    const uint8_t out[4] = {1, 2, 3, 4};
    EXPECT_EQ(4, zel_host_usb_write_pipe(h, 0, 0x02, out, sizeof out, 1000));
    uint8_t in[64] = {};
    {
        std::lock_guard<std::mutex> g(standin::lock());
        dev->in_data[0x81].push_back({9, 8, 7});
        dev->in_data[0x83].push_back({5});
    }
    EXPECT_EQ(3, zel_host_usb_read_pipe(h, 0, 0x81, in, sizeof in, 1000));
    EXPECT_EQ(7, in[2]);
    EXPECT_EQ(1, zel_host_usb_read_pipe(h, 1, 0x83, in, sizeof in, 1000));
    {
        std::lock_guard<std::mutex> g(standin::lock());
        EXPECT_EQ(std::vector<uint8_t>(out, out + 4), dev->out_data.at(0));
        EXPECT_EQ(2, dev->bulk_calls);
        EXPECT_EQ(1, dev->interrupt_calls) << "the interrupt endpoint through libusb's interrupt transfer";
    }
    EXPECT_EQ(ZEL_HOST_USB_EINVAL, zel_host_usb_read_pipe(h, 0, 0x83, in, sizeof in, 1000))
        << "an endpoint of another interface";

    // Nothing comes: slices pass until the timeout is used up.
    EXPECT_EQ(ZEL_HOST_USB_ETIMEDOUT, zel_host_usb_read_pipe(h, 0, 0x81, in, sizeof in, 300));

    // A stalled endpoint answers so until its halt is cleared.
    {
        std::lock_guard<std::mutex> g(standin::lock());
        dev->halted.insert(0x81);
        dev->in_data[0x81].push_back({1});
    }
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, 0x81, in, sizeof in, 1000));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, 0x81, in, sizeof in, 1000));
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, 0x81));
    EXPECT_EQ(1, zel_host_usb_read_pipe(h, 0, 0x81, in, sizeof in, 1000));

    const std::pair<int, int> mapping[] = {
        {LIBUSB_ERROR_IO, ZEL_HOST_USB_EIO},
        {LIBUSB_ERROR_INVALID_PARAM, ZEL_HOST_USB_EINVAL},
        {LIBUSB_ERROR_ACCESS, ZEL_HOST_USB_EACCES},
        {LIBUSB_ERROR_NO_DEVICE, ZEL_HOST_USB_ENODEV},
        {LIBUSB_ERROR_NOT_FOUND, ZEL_HOST_USB_ENOENT},
        {LIBUSB_ERROR_BUSY, ZEL_HOST_USB_EBUSY},
        {LIBUSB_ERROR_TIMEOUT, ZEL_HOST_USB_ETIMEDOUT},
        {LIBUSB_ERROR_OVERFLOW, ZEL_HOST_USB_EOVERFLOW},
        {LIBUSB_ERROR_PIPE, ZEL_HOST_USB_EPIPE},
        {LIBUSB_ERROR_INTERRUPTED, ZEL_HOST_USB_EIO},
        {LIBUSB_ERROR_NO_MEM, ZEL_HOST_USB_ENOMEM},
        {LIBUSB_ERROR_NOT_SUPPORTED, ZEL_HOST_USB_ENOTSUP},
        {LIBUSB_ERROR_OTHER, ZEL_HOST_USB_EIO},
    };
    const zel_host_usb_setup_t get{0x80, 6, 0x0100, 0, 18};
    for (const auto &[libusb, ours] : mapping) {
        {
            std::lock_guard<std::mutex> g(standin::lock());
            dev->control_errors.push_back(libusb);
            if (libusb != LIBUSB_ERROR_TIMEOUT) dev->pipe_errors.push_back(libusb);
        }
        EXPECT_EQ(ours, zel_host_usb_control(h, &get, in, 0)) << "control, libusb " << libusb;
        if (libusb != LIBUSB_ERROR_TIMEOUT) {
            EXPECT_EQ(ours, zel_host_usb_write_pipe(h, 0, 0x02, out, sizeof out, 0)) << "bulk, libusb " << libusb;
        }
    }

    // Gone: the presence test and every transfer say so.
    standin::unplug(dev);
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_speed(h));
    EXPECT_EQ(ZEL_HOST_USB_ENODEV, zel_host_usb_read_pipe(h, 0, 0x81, in, sizeof in, 0));
    zel_host_usb_close(h);
}

TEST_F(LibusbBackend, CloseEndsAReadThatWaitsWithoutLimit) {
    standin::Device model = adapter();
    model.interfaces[0].kernel_driver = false;
    standin::Device *dev = standin::plug(model);
    for (int round = 0; round < 20; round++) {
        zel_host_usb_handle_t h = 0;
        ASSERT_EQ(0, zel_host_usb_open(kPath, &h));
        auto read = std::async(std::launch::async, [h] {
            uint8_t in[8];
            return zel_host_usb_read_pipe(h, 0, 0x81, in, sizeof in, 0);
        });
        ASSERT_TRUE(wait_for([&] { return locked<int>([&] { return dev->bulk_calls; }) > 0; }));
        zel_host_usb_close(h);
        ASSERT_EQ(std::future_status::ready, read.wait_for(kBound)) << "round " << round;
        EXPECT_EQ(ZEL_HOST_USB_ENODEV, read.get());
        std::lock_guard<std::mutex> g(standin::lock());
        dev->bulk_calls = 0;
    }
    standin::unplug(dev);
}

TEST_F(LibusbBackend, NoPermissionIsSaidOnceOnStderr) {
    // Said once per device: each run of the test plugs one at a new address.
    static int run = 0;
    standin::Device model = adapter();
    model.open_error = LIBUSB_ERROR_ACCESS;
    model.address = (uint8_t)(10 + run++ % 100);
    standin::Device *dev = standin::plug(model);
    const std::string path = "libusb:vid_abcd&pid_0000&port_3-1.2&addr_" + std::to_string(model.address);
    ::testing::internal::CaptureStderr();
    zel_host_usb_found_t found[2];
    EXPECT_EQ(1, zel_host_usb_find(0xABCD, 0, found, 2));
    EXPECT_EQ(ZEL_HOST_USB_DRIVER_UNKNOWN, found[0].driver);
    zel_host_usb_handle_t h = 0;
    EXPECT_EQ(ZEL_HOST_USB_EACCES, zel_host_usb_open(path.c_str(), &h));
    EXPECT_EQ(ZEL_HOST_USB_EACCES, zel_host_usb_open(path.c_str(), &h));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
    EXPECT_NE(std::string::npos, err.find("abcd:0000")) << err;
    EXPECT_NE(std::string::npos, err.find("bus 3, address " + std::to_string(model.address))) << err;
    EXPECT_NE(std::string::npos, err.find("no permission")) << err;
    standin::unplug(dev);
}

// Device-change hooks: with libusb's hotplug callbacks, and without them by
// polling the device list.
class LibusbBackendNotify : public LibusbBackend, public ::testing::WithParamInterface<bool> {};

TEST_P(LibusbBackendNotify, PlugAndUnplugReachTheHooks) {
    const bool hotplug = GetParam();
    standin::reset(hotplug);
    std::atomic<int> calls{0};
    const int id = zel_host_usb_notify_register([](void *arg) { ++*static_cast<std::atomic<int> *>(arg); }, &calls);
    ASSERT_GT(id, 0);
    EXPECT_EQ(hotplug ? 1 : 0, standin::hotplug_callbacks());
    for (int round = 0; round < 3; round++) {
        const int before = calls;
        standin::Device *dev = standin::plug(adapter());
        EXPECT_TRUE(wait_for([&] { return calls > before; })) << "arrival, round " << round;
        const int plugged = calls;
        standin::unplug(dev);
        EXPECT_TRUE(wait_for([&] { return calls > plugged; })) << "departure, round " << round;
    }
    zel_host_usb_notify_unregister(id);
    EXPECT_EQ(0, standin::hotplug_callbacks());
}

INSTANTIATE_TEST_SUITE_P(HotplugOrPolling, LibusbBackendNotify, ::testing::Bool(),
    [](const ::testing::TestParamInfo<bool> &p) { return p.param ? "Hotplug" : "Polling"; });

}  // namespace

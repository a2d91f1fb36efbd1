// One device, many callers: control transfers take turns on the device's
// one URB, and a device that leaves stays for everyone who still holds it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "libusb_layer.h"
#include "usb_hooks.h"
#include "zel_host_usb_sim.h"
#include "zel_libusb.h"
#include "zel_linux_libusb.h"
#include "zel_linux_test.h"

extern "C" int lsusb_main(int argc, char **argv);

namespace usb_class_test {
namespace {

using usb_test::config_desc;
using usb_test::device_desc;

const Bytes kLanguages = {4, 3, 0x09, 0x04};

class LibusbShareTest : public ::testing::Test {
protected:
    void SetUp() override { start_libusb_layer(); }
    void TearDown() override { usb_test::events().take(); }
    void script() {
        d.hcd.dev.device = device_desc(0xABCD, 0x1234, 1, 64, 0xFF);
        d.hcd.dev.configs = {config_desc(1, 1, {{0, 0, 0xFF, 0, 0, {{0x81, 2, 64, 0}}, {}}})};
        d.hcd.dev.strings = {{0, kLanguages}, {2, string_desc(u"Adapter")}};
    }
    // The listed devices, each held by the returned list.
    libusb_device **take_list() {
        libusb_device **list = nullptr;
        EXPECT_TRUE(zel_test::run_in_thread([&] { EXPECT_EQ(1, libusb_get_device_list(nullptr, &list)); }));
        return list;
    }
    Listed d;
};

// Inside a process: two children list the devices `runs` times each, at
// the same time; their exit statuses.
void lsusb_twice(int runs, int *statuses) {
    int pids[2];
    for (int &pid : pids) {
        pid = zel_linux_test::spawn([runs](int, char **) {
            char name[] = "lsusb", verbose[] = "-v";
            char *argv[] = {name, verbose, nullptr};
            int failed = 0;
            for (int i = 0; i < runs; i++) failed += lsusb_main(2, argv) != 0;
            return failed;
        });
    }
    for (int i = 0; i < 2; i++)
        if (pids[i] < 0 || zel_linux_waitpid(pids[i], &statuses[i], 0) != pids[i]) statuses[i] = -1;
}

size_t count_of(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) n++;
    return n;
}

// Kernel context (wait_until's predicate).
bool control_lock_has_waiter(libusb_device *dev) { return !zel_dlist_is_empty(&dev->control_lock.waiters); }

TEST_F(LibusbShareTest, SecondCallerWaitsUntilTheFirstTransferEnded) {
    script();
    d.hcd.dev.hold_vendor_requests = true;
    ASSERT_TRUE(d.plug());
    libusb_device **list = take_list();
    ASSERT_NE(nullptr, list);
    libusb_device *dev = list[0];

    int first = 1;
    bool first_ran = false;
    std::thread a([&] {
        first_ran =
            zel_test::run_in_thread([&] { first = libusb_control_transfer(dev, 0x40, 1, 0, 0, nullptr, 0, 1000); });
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return d.hcd.held.size() == 1; }));

    int second = 0;
    libusb_device_descriptor desc{};
    bool second_ran = false;
    std::atomic<bool> second_done{false};
    std::thread b([&] {
        second_ran = zel_test::run_in_thread([&] { second = libusb_get_device_descriptor(dev, &desc); });
        second_done = true;
    });
    // The second request waits for the device's URB instead of taking it
    // over while the first is on the bus.
    EXPECT_TRUE(zel_test::wait_until([&] { return control_lock_has_waiter(dev) || second_done; }));
    EXPECT_FALSE(second_done) << "the second transfer went out while the first was under way";

    release_held(&d.hcd, 0);
    a.join();
    b.join();
    ASSERT_TRUE(first_ran);
    ASSERT_TRUE(second_ran);
    EXPECT_EQ(0, first);
    EXPECT_EQ(0, second);
    EXPECT_EQ(0, memcmp(d.hcd.dev.device.data(), &desc, sizeof desc));
    const std::vector<std::string> req = d.hcd.requests();
    ASSERT_GE(req.size(), 2u);
    EXPECT_EQ("1:0:0:0", req[req.size() - 2]);
    EXPECT_EQ("6:256:0:18", req.back());
    ASSERT_TRUE(zel_test::run_in_thread([&] { libusb_free_device_list(list, 1); }));
}

TEST_F(LibusbShareTest, DeviceThatLeavesStaysUntilItsLastHolderLetsGo) {
    script();
    ASSERT_TRUE(d.plug());
    zel_test::run_as_irq([&] { d.hcd.dev.hold_config_reads = true; });
    libusb_device **list = take_list();
    ASSERT_NE(nullptr, list);
    libusb_device *dev = list[0];
    const uint8_t address = d.dev->address;

    // A configuration read is on the bus when the device leaves; its caller
    // holds the device only through the list.
    int read = 1;
    libusb_config_descriptor *config = nullptr;
    libusb_device_handle *handle = nullptr;
    bool reader_ran = false;
    std::thread reader([&] {
        reader_ran = zel_test::run_in_thread([&] {
            ASSERT_EQ(0, libusb_open(dev, &handle));
            read = libusb_get_config_descriptor(dev, 0, &config);
        });
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return d.hcd.held.size() == 1; }));
    ASSERT_TRUE(d.unplug());
    EXPECT_EQ(0u, listed());
    release_held(&d.hcd, 0);
    reader.join();
    ASSERT_TRUE(reader_ran);
    EXPECT_EQ(0, read) << "the answer came before the departure was seen";

    // Gone from the bus, still there for its holders: the list and the
    // open handle.
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        libusb_free_config_descriptor(config);
        EXPECT_EQ(address, libusb_get_device_address(dev));
        libusb_device_descriptor desc;
        EXPECT_EQ(LIBUSB_ERROR_IO, libusb_get_device_descriptor(dev, &desc));
        EXPECT_EQ(dev, libusb_ref_device(dev));
        libusb_free_device_list(list, 1);
        libusb_close(handle);
    }));
    EXPECT_FALSE(d.hcd.live.empty()) << "a reference of our own still holds it";
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        EXPECT_EQ(address, libusb_get_device_address(dev));
        libusb_unref_device(dev);
    }));
    EXPECT_TRUE(zel_test::wait_until([&] { return d.hcd.live.empty(); })) << "released with its URB at the last hold";
}

// The simulated adapter through the program's own host, where transfers
// complete on host threads: several callers at once on one device, each
// getting its own answers, many rounds.
TEST_F(LibusbShareTest, CallersAtOnceOnTheSimulatedAdapterGetTheirOwnAnswers) {
    const Bytes device = device_desc(0xABCD, 0x0000, 1);
    const Bytes config = config_desc(1, 1, {{0, 0, 0xFF, 0, 0, {{0x81, 2, 512, 0}, {0x02, 2, 512, 0}}, {}}});
    zel_host_usb_sim_dev_t *sim = plug_listed_sim(device, config);
    ASSERT_NE(nullptr, sim);
    libusb_device **list = take_list();
    ASSERT_NE(nullptr, list);
    libusb_device *dev = list[0];

    constexpr int kCallers = 4;
    constexpr int kRounds = 40;
    std::vector<int> good(kCallers, 0);
    std::vector<char> ran(kCallers, 0);
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; i++) {
        callers.emplace_back([&, i] {
            ran[i] = zel_test::run_in_thread([&, i] {
                for (int round = 0; round < kRounds; round++) {
                    libusb_device_descriptor desc;
                    unsigned char text[64];
                    libusb_config_descriptor *cfg = nullptr;
                    const bool ok = libusb_get_device_descriptor(dev, &desc) == 0 &&
                                    memcmp(device.data(), &desc, sizeof desc) == 0 &&
                                    libusb_get_string_descriptor_ascii(dev, 2, text, sizeof text) == 11 &&
                                    strcmp("USB Adapter", reinterpret_cast<char *>(text)) == 0 &&
                                    libusb_get_config_descriptor(dev, 0, &cfg) == 0 &&
                                    memcmp(config.data(), cfg->raw, config.size()) == 0;
                    libusb_free_config_descriptor(cfg);
                    if (ok) good[i]++;
                }
            });
        });
    }
    for (std::thread &t : callers) t.join();
    for (int i = 0; i < kCallers; i++) {
        EXPECT_TRUE(ran[i]) << "caller " << i << " did not finish";
        EXPECT_EQ(kRounds, good[i]) << "caller " << i;
    }

    // Two listings at once: both succeed and print every device line.
    constexpr int kRuns = 10;
    zel_linux_test::take_output();
    int statuses[2] = {-1, -1};
    EXPECT_EQ(0, zel_linux_test::run_process([&] {
        lsusb_twice(kRuns, statuses);
        return 0;
    }));
    EXPECT_EQ(0, statuses[0]);
    EXPECT_EQ(0, statuses[1]);
    const std::string out = zel_linux_test::take_output();
    EXPECT_EQ(2u * kRuns, count_of(out, "Dev (bus 0, device 1): Trellow - USB Adapter - 0001\n")) << out;
    EXPECT_EQ(2u * kRuns, count_of(out, "        bEndpointAddress: 81h\n")) << out;

    ASSERT_TRUE(zel_test::run_in_thread([&] { libusb_free_device_list(list, 1); }));
    EXPECT_EQ(0, zel_host_usb_sim_unplug(sim));
    EXPECT_TRUE(zel_test::wait_until([] { return zel_linux_libusb.count == 0; }));
    EXPECT_TRUE(zel_test::wait_until(sim_host_idle));
    zel_host_usb_sim_destroy(sim);
}

}  // namespace
}  // namespace usb_class_test

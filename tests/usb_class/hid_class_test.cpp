// The HID classes at work: start-up requests, the interrupt-in read loop,
// what reaches the report hook, and output reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "script_hcd.h"
#include "zel_host_test_hooks.h"
#include "usb_hooks.h"
#include "zel_test.h"
#include "zel_usbh_ds4.h"
#include "zel_usbh_hid.h"
#include "zel_usbh_nspro.h"
#include "zel_usbh_xb360.h"

namespace usb_class_test {
namespace {

using usb_test::config_desc;
using usb_test::device_desc;

std::mutex g_mutex;
std::vector<Bytes> g_reports;

void capture(zel_usbh_hid_t *, const uint8_t *report, uint32_t length) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_reports.emplace_back(report, report + length);
}

std::vector<Bytes> take_reports() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<Bytes> out;
    out.swap(g_reports);
    return out;
}

constexpr zel_test::milliseconds kShortWait{5000};

size_t count(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
    return n;
}

Bytes report(uint32_t length, uint8_t first = 0xA0, uint8_t second = 0) {
    Bytes r(length, 0x11);
    if (length > 0) r[0] = first;
    if (length > 1) r[1] = second;
    return r;
}

// One device with one interface, plugged on a fresh host; unplugged and
// checked for stray URBs at the end.
class HidClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        zel_test::run_as_irq([] { zel_usbh_hid_report_hook = capture; });
        take_reports();
    }
    void TearDown() override {
        if (dev) unplug(host, dev);
        EXPECT_TRUE(hcd.live.empty()) << "the class freed its URBs";
        zel_test::run_as_irq([] { zel_usbh_hid_report_hook = [](zel_usbh_hid_t *, const uint8_t *, uint32_t) {}; });
        usb_test::events().take();
    }
    void start(uint16_t vid, uint16_t pid, const usb_test::Ifs &ifs) {
        hcd.dev.device = device_desc(vid, pid, 1);
        hcd.dev.configs = {config_desc(1, 1, {ifs})};
        hcd.dev.report_desc = Bytes(40, 0x05);
        host = new_script_host(&hcd);
        dev = plug(host);
        ASSERT_NE(nullptr, dev);
    }
    template <typename T>
    T *context() {
        return static_cast<T *>(dev->ifs[0].param);
    }
    // The running read stalls and so does every later one: the class clears
    // the halt and backs off instead of resubmitting at once; once the
    // endpoint works again the reads go on.
    // The window is counted from this thread alone: a class that spins
    // leaves the kernel no room for the test to enter it.
    void stall_then_recover(bool delivers) {
        ASSERT_TRUE(wait_for_read(&hcd));
        hcd.dev.in_status = -32;
        zel_test::run_as_irq([&] {
            zel_usbh_hcd_urb_t *urb = hcd.waiting_in.front();
            hcd.waiting_in.erase(hcd.waiting_in.begin());
            urb->status = -32;
            urb->actual_length = 0;
            EXPECT_EQ(0, zel_eda_post_msg(urb->owner, urb));
        });
        const int before = hcd.in_submits.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int during = hcd.in_submits.load() - before;
        hcd.dev.in_status = 0;  // the endpoint works again
        EXPECT_LT(during, 40) << "failed reads are not resubmitted at once";
        ASSERT_TRUE(wait_for_read(&hcd)) << "the reads go on once the endpoint works";
        std::vector<std::string> req;
        zel_test::run_as_irq([&] { req = hcd.requests(); });
        EXPECT_GE(std::count(req.begin(), req.end(), "1:0:129:0"), 1) << "CLEAR_FEATURE(ENDPOINT_HALT) on 0x81";
        take_reports();
        ASSERT_TRUE(feed(&hcd, report(delivers ? 64 : 20)));
        if (delivers) {
            EXPECT_EQ(1u, take_reports().size());
        }
        EXPECT_TRUE(wait_for_read(&hcd));
        EXPECT_EQ(1, dev->mutex.count) << "the device mutex is given back";
    }
    // A read that cannot be started is traced and started again after a
    // back-off, and the reports flow again: first when the next read's
    // buffer cannot be had, 1 to 3 times in a row (classes that read into
    // a fresh buffer each time), then when the controller driver refuses
    // it three times in a row.
    void refused_read_is_started_again(const char *name, uint32_t length, bool fresh_buffer) {
        ASSERT_TRUE(wait_for_read(&hcd));
        EXPECT_EQ(0, hcd.dev.refuse_in.load());
        const std::string line = std::string(name) + ": interface 0: interrupt-in read not started (";
        for (uint32_t refusals = 1; fresh_buffer && refusals <= 3; refusals++) {
            SCOPED_TRACE(refusals);
            zel_test::TraceCapture trace;
            ASSERT_TRUE(complete_refusing_buffers(report(length), refusals));
            ASSERT_TRUE(zel_test::wait_until([&] { return !hcd.waiting_in.empty(); }, kShortWait))
                << "the read is started again";
            zel_host_fail_heap_allocations(0);  // whatever another allocation left over
            EXPECT_EQ(refusals, count(trace.text(), line + "-6)")) << "each refused buffer is said in the trace";
            take_reports();
            ASSERT_TRUE(feed(&hcd, report(length)));
            EXPECT_EQ(1u, take_reports().size()) << "reports flow again";
        }
        zel_test::TraceCapture trace;
        hcd.dev.refuse_in = 3;
        const int before = hcd.in_submits.load();
        ASSERT_TRUE(feed(&hcd, report(length)));
        ASSERT_TRUE(zel_test::wait_until([&] { return !hcd.waiting_in.empty(); }, kShortWait))
            << "the read is started again once the driver takes it";
        EXPECT_EQ(0, hcd.dev.refuse_in.load());
        EXPECT_EQ(before + 1, hcd.in_submits.load());
        const std::string text = trace.text();
        EXPECT_EQ(3u, count(text, line + "-8)")) << text;
        EXPECT_NE(std::string::npos, text.find("again in 10 ms")) << text;
        take_reports();
        ASSERT_TRUE(feed(&hcd, report(length)));
        EXPECT_EQ(1u, take_reports().size());
        EXPECT_TRUE(wait_for_read(&hcd));
    }
    // Completes the waiting read with `data`; the next `count` heap
    // allocations (the buffers of the reads that follow) are refused.
    bool complete_refusing_buffers(const Bytes &data, uint32_t count) {
        if (!wait_for_read(&hcd)) return false;
        zel_test::run_as_irq([&] {
            zel_usbh_hcd_urb_t *urb = hcd.waiting_in.front();
            hcd.waiting_in.erase(hcd.waiting_in.begin());
            memcpy(urb->buffer, data.data(), std::min<size_t>(data.size(), urb->transfer_length));
            urb->status = 0;
            urb->actual_length = (uint32_t)std::min<size_t>(data.size(), urb->transfer_length);
            EXPECT_EQ(0, zel_eda_post_msg(urb->owner, urb));
            zel_host_fail_heap_allocations(count);  // the kernel runs the completion once this returns
        });
        return true;
    }
    size_t outputs() {
        size_t n = 0;
        zel_test::run_as_irq([&] { n = hcd.out_reports.size(); });
        return n;
    }
    ScriptHcd hcd;
    zel_usbh_t *host = nullptr;
    zel_usbh_dev_t *dev = nullptr;
};

TEST_F(HidClassTest, Ds4ReadsFullReportsOnlyAndSendsOneOutputAtATime) {
    start(0x054C, 0x05C4, hid_ifs(0));
    ASSERT_TRUE(wait_for_read(&hcd));
    const std::vector<std::string> req = hcd.requests();
    ASSERT_GE(req.size(), 2u);
    EXPECT_EQ("6:8704:0:40", req[req.size() - 2]) << "the report descriptor, its length from the HID descriptor";
    EXPECT_EQ("10:0:0:0", req.back()) << "SET_IDLE(0, 0) to interface 0";
    EXPECT_EQ(1, dev->mutex.count) << "the device mutex is free again";

    ASSERT_TRUE(feed(&hcd, report(64)));
    ASSERT_TRUE(feed(&hcd, report(63)));
    ASSERT_TRUE(feed(&hcd, report(64), -5));
    ASSERT_TRUE(feed(&hcd, report(64, 0xB0)));
    const std::vector<Bytes> got = take_reports();
    ASSERT_EQ(2u, got.size()) << "a short report and a failed read reach nobody";
    EXPECT_EQ(report(64), got[0]);
    EXPECT_EQ(report(64, 0xB0), got[1]);
    EXPECT_TRUE(wait_for_read(&hcd)) << "every completion starts the next read";

    // Two requests before the first output has completed: one report.
    auto *pad = context<zel_usbh_ds4_t>();
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_post_evt(&pad->hid.agent, ZEL_EVT_WAKE));
        EXPECT_EQ(0, zel_eda_post_evt(&pad->hid.agent, ZEL_EVT_WAKE));
    }));
    zel_test::settle();
    ASSERT_EQ(1u, outputs());
    Bytes expected(32, 0);
    expected[0] = 0x05;
    expected[1] = expected[2] = expected[3] = 0xFF;
    EXPECT_EQ(expected, hcd.out_reports[0]);
    EXPECT_EQ(1, pad->output_done);
}

TEST_F(HidClassTest, NsproAnswersItsHandShakeInOrderBeforeReporting) {
    start(0x057E, 0x2009, hid_ifs(0));
    ASSERT_TRUE(wait_for_read(&hcd));
    EXPECT_EQ("10:0:0:0", hcd.requests().back());
    auto *pad = context<zel_usbh_nspro_t>();

    ASSERT_TRUE(feed(&hcd, report(64, 0x81, 0x02)));
    EXPECT_EQ(0u, outputs()) << "0x81 0x02 before the status report changes nothing";
    Bytes status = report(64, 0x81, 0x01);
    const Bytes fields = {0x03, 0x44, 0x33, 0x22, 0x11, 0x66, 0x55};
    std::copy(fields.begin(), fields.end(), status.begin() + 3);
    ASSERT_TRUE(feed(&hcd, status));
    ASSERT_EQ(1u, outputs());
    EXPECT_EQ(Bytes({0x80, 0x02}), hcd.out_reports[0]);
    EXPECT_EQ(0x03, pad->status_byte3);
    EXPECT_EQ(0x11223344u, pad->status_word);
    EXPECT_EQ(0x5566, pad->status_half);

    ASSERT_TRUE(feed(&hcd, status));
    EXPECT_EQ(1u, outputs()) << "the status report again: still waiting for 0x81 0x02";
    ASSERT_TRUE(feed(&hcd, report(64, 0x81, 0x02)));
    ASSERT_EQ(2u, outputs());
    EXPECT_EQ(Bytes({0x80, 0x04}), hcd.out_reports[1]);
    EXPECT_TRUE(take_reports().empty()) << "no report before the hand-shake ended";

    ASSERT_TRUE(feed(&hcd, report(64, 0x30)));
    ASSERT_EQ(1u, take_reports().size());
    EXPECT_EQ(ZEL_NSPRO_RUNNING, (int)pad->state);
    EXPECT_EQ(1, pad->output_idle);
}

TEST_F(HidClassTest, Xb360StartsWithoutControlRequestsOfItsOwn) {
    start(0x045E, 0x028E, hid_ifs(0, 0xFF, 0x5D, 0x01));
    ASSERT_TRUE(wait_for_read(&hcd));
    EXPECT_EQ("6:8704:0:40", hcd.requests().back()) << "only the report descriptor after the configuration";
    ASSERT_EQ(1u, outputs());
    EXPECT_EQ(Bytes({0x00, 0x08, 0, 0, 0, 0, 0, 0}), hcd.out_reports[0]);
    EXPECT_EQ(1, context<zel_usbh_xb360_t>()->output_done);
    EXPECT_EQ(1, dev->mutex.count);

    ASSERT_TRUE(feed(&hcd, report(20)));
    ASSERT_TRUE(feed(&hcd, report(19)));
    const std::vector<Bytes> got = take_reports();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(report(20), got[0]);
    EXPECT_TRUE(wait_for_read(&hcd));
}

TEST_F(HidClassTest, GenericInputResubmitsTheSameUrbWithWhateverArrived) {
    start(0x1234, 0x0001, hid_ifs(0, 3, 1, 1));
    ASSERT_TRUE(wait_for_read(&hcd));
    EXPECT_EQ("6:8704:0:40", hcd.requests().back());
    EXPECT_EQ(1, dev->mutex.count);
    zel_usbh_hcd_urb_t *first = hcd.waiting_in.front();
    EXPECT_EQ(64u, first->transfer_length);

    ASSERT_TRUE(feed(&hcd, report(8)));
    ASSERT_TRUE(feed(&hcd, report(8), -71));
    ASSERT_TRUE(feed(&hcd, report(3, 0x02)));
    const std::vector<Bytes> got = take_reports();
    ASSERT_EQ(2u, got.size()) << "a failed read is skipped";
    EXPECT_EQ(report(8), got[0]);
    EXPECT_EQ(report(3, 0x02), got[1]);
    ASSERT_TRUE(wait_for_read(&hcd));
    EXPECT_EQ(first, hcd.waiting_in.front()) << "the same URB";
    EXPECT_EQ(3, hcd.relinks);
    EXPECT_EQ(4, hcd.in_submits);
}

TEST_F(HidClassTest, Ds4StalledEndpointIsClearedAndBacksOff) {
    start(0x054C, 0x05C4, hid_ifs(0));
    stall_then_recover(true);
}

TEST_F(HidClassTest, NsproStalledEndpointIsClearedAndBacksOff) {
    start(0x057E, 0x2009, hid_ifs(0));
    stall_then_recover(false);
}

TEST_F(HidClassTest, Xb360StalledEndpointIsClearedAndBacksOff) {
    start(0x045E, 0x028E, hid_ifs(0, 0xFF, 0x5D, 0x01));
    stall_then_recover(false);
}

TEST_F(HidClassTest, GenericInputStalledEndpointIsClearedAndBacksOff) {
    start(0x1234, 0x0001, hid_ifs(0, 3, 1, 1));
    stall_then_recover(true);
}

TEST_F(HidClassTest, Ds4ReadThatCannotBeStartedIsStartedAgain) {
    hcd.dev.refuse_in = 1;  // the first read too
    start(0x054C, 0x05C4, hid_ifs(0));
    refused_read_is_started_again("ds4", 64, true);
}

TEST_F(HidClassTest, NsproReadThatCannotBeStartedIsStartedAgain) {
    hcd.dev.refuse_in = 1;  // the first read too
    start(0x057E, 0x2009, hid_ifs(0));
    // Running, so that its reports reach the hook.
    ASSERT_TRUE(feed(&hcd, report(64, 0x81, 0x01)));
    ASSERT_TRUE(feed(&hcd, report(64, 0x81, 0x02)));
    ASSERT_EQ(ZEL_NSPRO_RUNNING, (int)context<zel_usbh_nspro_t>()->state);
    refused_read_is_started_again("nspro", 64, true);
}

TEST_F(HidClassTest, Xb360ReadThatCannotBeStartedIsStartedAgain) {
    hcd.dev.refuse_in = 1;  // the first read too
    start(0x045E, 0x028E, hid_ifs(0, 0xFF, 0x5D, 0x01));
    refused_read_is_started_again("xb360", 20, true);
}

TEST_F(HidClassTest, GenericInputReadThatCannotBeStartedIsStartedAgain) {
    hcd.dev.refuse_in = 1;  // the first read too
    start(0x1234, 0x0001, hid_ifs(0, 3, 1, 1));
    refused_read_is_started_again("hid", 8, false);  // its reads reuse one buffer
}

TEST_F(HidClassTest, FailedReportDescriptorRemovesTheInterfaceAndFreesTheMutex) {
    hcd.dev.report_desc_status = -32;
    start(0x1234, 0x0005, hid_ifs(0, 3, 0, 0));
    EXPECT_TRUE(zel_test::wait_until([&] { return dev->ifs[0].drv == nullptr; }));
    EXPECT_EQ(1u, usb_test::events().count("interface removed"));
    EXPECT_EQ(1, dev->mutex.count);
    EXPECT_EQ(0, hcd.in_submits);
}

TEST_F(HidClassTest, StartUpRequestThatCannotBeSubmittedRemovesTheInterface) {
    hcd.dev.refused = {0x21, ZEL_HID_REQ_SET_IDLE, 0, 0, 0};
    start(0x054C, 0x05C4, hid_ifs(0));
    EXPECT_TRUE(zel_test::wait_until([&] { return dev->ifs[0].drv == nullptr; }));
    EXPECT_EQ(1u, usb_test::events().count("interface removed"));
    EXPECT_EQ(1, dev->mutex.count) << "the device's other interfaces may still start";
}

TEST_F(HidClassTest, ReportDescriptorThatCannotBeRequestedRemovesTheInterface) {
    hcd.dev.refused = {0x81, ZEL_USB_REQ_GET_DESCRIPTOR, 0, 0, 0};
    start(0x057E, 0x2009, hid_ifs(0));
    EXPECT_TRUE(zel_test::wait_until([&] { return dev->ifs[0].drv == nullptr; }));
    EXPECT_EQ(1u, usb_test::events().count("interface removed"));
    EXPECT_EQ(1, dev->mutex.count);
    EXPECT_EQ(0, hcd.in_submits);
}

}  // namespace
}  // namespace usb_class_test

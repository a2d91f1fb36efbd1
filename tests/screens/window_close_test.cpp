// Closing the window while a copy onto the adapter runs: the program ends
// only once the copy has ended, saying meanwhile why it is still there;
// a copy that failed keeps the window, and the next close ends it.
// A close ends the window thread: each case runs in a process of its own
// (ctest runs them one by one).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "curl_server.h"
#include "i18n.h"
#include "main_screen.h"
#include "screens_fixture.h"
#include "shell_harness.h"
#include "transfer_job.h"
#include "upgrade_screen.h"
#include "window_close.h"
#include "zel_disp_memory.h"
#include "zel_host.h"
#include "zel_test.h"

namespace {

using namespace screens;

zel_test::Signal g_exited;
std::atomic<int> g_exit_code{-1};
void record_exit(int code) {
    g_exit_code = code;
    g_exited.set();  // and return: the window thread ends instead of the process
}

// The job waits in its first report after a block has been written until
// the test lets it go on.
std::atomic<bool> g_held{false};
std::atomic<bool> g_release{false};
void hold_after_first_block(const char *, const char *, uint32_t, uint32_t current) {
    if (current == 0 || g_held.exchange(true)) return;
    while (!g_release.load()) zel_thread_delay(zel_systimer_ms_to_tick(2));
}

class WindowClose : public ScreensTest {
protected:
    // A close ends the window thread for the rest of the process: a second
    // case run in the same process refuses at once and says why.
    void SetUp() override {
        static std::string closed_by;
        if (!closed_by.empty()) {
            GTEST_FAIL() << closed_by << " closed the window earlier in this process, which ended its thread: "
                         << "run these cases one per process (ctest does; by hand: --gtest_filter=<case>)";
        }
        const ::testing::TestInfo *now = ::testing::UnitTest::GetInstance()->current_test_info();
        closed_by = std::string(now->test_suite_name()) + "." + now->name();
        ScreensTest::SetUp();
    }
    // Starts copying `firmware` (from a host folder) over the adapter's
    // update.bin as the transfer job, whose done callback is `done`; the
    // copy holds after its first block until g_release.
    void start_copy(const std::string &firmware, transfer_done_cb_t done) {
        dir_ = work_dir_path("close/");
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ + "fw.bin", std::ios::binary | std::ios::trunc) << firmware;
        job_ = std::thread([this, done] {
            EXPECT_EQ(0, shell::in_process([&] {
                static char mount[256], name[] = "fw.bin";
                if (!transfer_mount_host_dir("update_bin", dir_.c_str(), name, mount, sizeof mount)) return 1;
                // This process has no VOLUMEID: the volume is named in the path.
                const transfer_job_t copy = {mount, name, "TRELLOW/update.bin", hold_after_first_block, done, 1, 1, 0};
                if (!transfer_job_start(&copy)) return 2;
                // The worker is this process's thread: the process waits for it.
                while (transfer_job.busy) zel_thread_delay(zel_systimer_ms_to_tick(5));
                return 0;
            }));
        });
    }
    void TearDown() override {
        g_release = true;
        if (job_.joinable()) job_.join();
    }
    // Closes the window while the copy holds: the close is held, and a
    // notice says why the window stays.
    void close_while_copying() {
        ASSERT_TRUE(zel_test::wait_until([] { return g_held.load(); })) << "the copy did not start";
        ASSERT_TRUE(zel_disp_memory_close());
        window_close_state_t state = WINDOW_CLOSE_OPEN;
        in_gui([&] { state = window_close_state(); });
        EXPECT_EQ(WINDOW_CLOSE_HELD, state);
        EXPECT_FALSE(g_exited.is_set()) << "the program ended in the middle of the copy";
        EXPECT_TRUE(wait_gui([] {
            lv_obj_t *notice = window_close_notice();
            return notice &&
                   std::string(lv_label_get_text(notice)) == i18n_get_text("正在复制，复制完成之后自动关窗口");
        })) << "no notice says why the window stays";
        // A second close while the copy runs changes nothing.
        ASSERT_TRUE(zel_disp_memory_close());
        EXPECT_FALSE(g_exited.is_set());
    }
    std::string dir_;
    std::thread job_;
};

TEST_F(WindowClose, WaitsForTheRunningCopyThenEnds) {
    const std::string firmware = curl_test::binary_bytes(kUpdateBin.size());
    zel_host_exit_hook_t previous = zel_host_set_exit_hook(record_exit);
    start_copy(firmware, nullptr);
    close_while_copying();

    g_release = true;
    ASSERT_TRUE(g_exited.wait()) << "the program did not end after the copy";
    zel_host_set_exit_hook(previous);
    EXPECT_EQ(0, g_exit_code.load());
    EXPECT_EQ(firmware, adapter_file("update.bin")) << "the adapter holds a half-written firmware";
    EXPECT_TRUE(adapter_clean());
}

// The copy the close waited for fails (its source shrinks under it): the
// program stays, the notice gives way to the failure on the firmware
// screen, and the next close ends the program.
TEST_F(WindowClose, AFailedCopyKeepsTheWindowUntilTheNextClose) {
    click([] { return main_screen.upgrade_btn; });
    ASSERT_TRUE(wait_gui([] { return upgrade_screen.screen != nullptr; }));
    zel_host_exit_hook_t previous = zel_host_set_exit_hook(record_exit);
    start_copy(curl_test::binary_bytes(kUpdateBin.size()), upgrade_done_cb);
    close_while_copying();

    std::filesystem::resize_file(dir_ + "fw.bin", 100);
    g_release = true;
    EXPECT_TRUE(wait_gui([] { return !transfer_job.busy && window_close_notice() == nullptr; }))
        << "the notice stays over the failure";
    EXPECT_FALSE(g_exited.is_set()) << "the program ended after a failed copy";
    window_close_state_t state = WINDOW_CLOSE_HELD;
    in_gui([&] { state = window_close_state(); });
    EXPECT_EQ(WINDOW_CLOSE_OPEN, state);
    EXPECT_EQ(0u, label_text(upgrade_screen.message).find(tr("升级失败！"))) << label_text(upgrade_screen.message);

    ASSERT_TRUE(zel_disp_memory_close());
    ASSERT_TRUE(g_exited.wait()) << "the next close did not end the program";
    zel_host_set_exit_hook(previous);
    EXPECT_EQ(0, g_exit_code.load());
    EXPECT_TRUE(adapter_clean());
}

}  // namespace

// Starting the display and closing its window.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <pthread.h>
#include <string>

#include "display_fixture.h"
#include "zel_disp_memory.h"
#include "zel_disp_windgi.h"
#include "zel_host_test_hooks.h"
#include "zel_test.h"

namespace {

const bool kMemoryWindow = setenv("ZEL_DISPLAY", "memory", 1) == 0;

TEST(DisplayLifecycle, RefusesWorkBeforeItStartsAndRetriesAFailedStart) {
    ASSERT_TRUE(kMemoryWindow);
    zel_test::boot();
    const uint16_t px[4] = {};
    int refresh_rc = 0, init_rc = 0;
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_disp_area_t area = {0, 0, 2, 2};
        refresh_rc = zel_disp_refresh(zel_disp_get(), &area, px);
        zel_host_fail_thread_creations(1);
        init_rc = zel_disp_init(zel_disp_get());
    }));
    EXPECT_EQ(-7, refresh_rc);
    EXPECT_EQ(-7, init_rc);
    EXPECT_EQ(0, disp_test::ready_stats().count);

    // Nothing of the failed start sticks: the next init starts the window.
    ASSERT_TRUE(disp_test::start_display());
    EXPECT_EQ(1, disp_test::ready_stats().count);
    EXPECT_EQ("disp_windgi", disp_test::ready_stats().last_thread);
}

zel_test::Signal g_exited;
int g_exit_code = -1;
std::string g_exit_thread;

void record_exit(int code) {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    g_exit_code = code;
    g_exit_thread = name;
    g_exited.set();  // and return: the window thread ends instead of the process
}

TEST(DisplayLifecycle, ClosingTheWindowEndsTheProcessWithZero) {
    ASSERT_TRUE(kMemoryWindow);
    ASSERT_TRUE(disp_test::start_display());
    ASSERT_TRUE(disp_test::claim_window_close());
    zel_host_exit_hook_t previous = zel_host_set_exit_hook(record_exit);
    EXPECT_TRUE(zel_disp_memory_close());
    ASSERT_TRUE(g_exited.wait());
    zel_host_set_exit_hook(previous);
    EXPECT_EQ(0, g_exit_code);
    EXPECT_EQ("disp_windgi", g_exit_thread);
}

std::atomic<int> g_queries{0};
bool hold_close() {
    g_queries++;
    return false;
}

// A held close leaves the window serving; the program's own close ends the
// process as the user's would have.
TEST(DisplayLifecycle, AHeldCloseEndsTheProcessWhenTheProgramSays) {
    ASSERT_TRUE(kMemoryWindow);
    ASSERT_TRUE(disp_test::start_display());
    ASSERT_TRUE(disp_test::claim_window_close());
    disp_test::listen_to_input();
    zel_host_exit_hook_t previous = zel_host_set_exit_hook(record_exit);
    zel_disp_windgi_set_close_query(hold_close);
    EXPECT_TRUE(zel_disp_memory_close());
    EXPECT_TRUE(zel_disp_memory_close());
    EXPECT_EQ(2, g_queries.load());
    EXPECT_FALSE(g_exited.is_set());
    // Still the window: input is reported.
    disp_test::take_inputs();
    EXPECT_TRUE(zel_disp_memory_key('A', true));
    EXPECT_TRUE(zel_disp_memory_key('A', false));
    EXPECT_EQ(2u, disp_test::take_inputs().size());

    zel_disp_windgi_close();
    ASSERT_TRUE(g_exited.wait());
    zel_disp_windgi_set_close_query(nullptr);
    zel_host_set_exit_hook(previous);
    EXPECT_EQ(0, g_exit_code);
    EXPECT_EQ("disp_windgi", g_exit_thread);
    EXPECT_EQ(2, g_queries.load()) << "the program's own close is not asked about";
}

}  // namespace

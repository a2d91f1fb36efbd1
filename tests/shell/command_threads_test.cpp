// Commands whose threads are still waiting when the command ends: the
// console shell gets the command's status and comes back to its prompt.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "shell_harness.h"
#include "zel_linux_fd.h"
#include "zel_linux_pthread.h"

namespace {

// What a thread left waiting in a read of the console got at last.
struct console_read {
    std::atomic<long> got{0};
    std::atomic<int> error{0};
    std::atomic<bool> ended{false};
};
console_read g_detached_read;
console_read g_main_read;
std::atomic<long> g_join_answer{0};
uint32_t g_main_tid;
std::atomic<long> g_lock_answer{0};
std::atomic<long> g_left_join_answer{-5};
std::atomic<uintptr_t> g_left_value{0};
zel_linux_pthread_mutex_t g_mutex;

void *read_console(void *arg) {
    auto *log = static_cast<console_read *>(arg);
    char c;
    *zel_linux_errno_ptr() = 0;
    log->got = zel_linux_read(0, &c, 1);
    log->error = *zel_linux_errno_ptr();
    log->ended = true;
    return nullptr;
}

void until_console_waited_on() {
    while (zel_linux_fd_waiter_count(zel_linux_fd_get(0)->priv) == 0) zel_thread_delay(zel_systimer_ms_to_tick(1));
}

void install_commands() {
    static bool done = false;
    if (done) return;
    done = true;
    // Ends while a detached thread of it waits for console input.
    shell::install("t_leave_reader", [](int, char **) {
        zel_linux_pthread_attr_t attr{{1, 0, 0, 1, 0, 0, 0, 0}};
        zel_linux_pthread_t tid;
        if (zel_linux_pthread_create(&tid, &attr, read_console, &g_detached_read) != 0) return 1;
        until_console_waited_on();
        return 0;
    });
    // A worker calls exit while main waits for console input.
    shell::install("t_exit_worker", [](int, char **) {
        zel_linux_pthread_t tid;
        if (zel_linux_pthread_create(
                &tid, nullptr,
                [](void *) -> void * {
                    until_console_waited_on();
                    zel_linux_exit(0);
                },
                nullptr) != 0)
            return 1;
        read_console(&g_main_read);
        return 1;
    });
    // Main leaves with pthread_exit.
    shell::install("t_main_leaves", [](int, char **) -> int { zel_linux_pthread_exit(nullptr); });
    // A thread joins main while main returns.
    shell::install("t_join_main", [](int, char **) {
        g_main_tid = zel_linux_get_cur_thread()->tid;
        zel_linux_pthread_t tid;
        if (zel_linux_pthread_create(
                &tid, nullptr,
                [](void *) -> void * {
                    g_join_answer = zel_linux_pthread_join(g_main_tid, nullptr);
                    return nullptr;
                },
                nullptr) != 0)
            return 1;
        while (!zel_linux_get_cur_thread()->joiner) zel_thread_delay(zel_systimer_ms_to_tick(1));
        return 0;
    });
    // Main returns holding a mutex that a joinable thread waits for.
    shell::install("t_lock_left", [](int, char **) {
        zel_linux_pthread_mutex_init(&g_mutex, nullptr);
        if (zel_linux_pthread_mutex_lock(&g_mutex) != 0) return 1;
        zel_linux_pthread_t tid;
        if (zel_linux_pthread_create(
                &tid, nullptr,
                [](void *) -> void * {
                    g_lock_answer = zel_linux_pthread_mutex_lock(&g_mutex);
                    return nullptr;
                },
                nullptr) != 0)
            return 1;
        auto *mutex = reinterpret_cast<zel_linux_mutex_t *>(&g_mutex);
        while (zel_dlist_is_empty(&mutex->sync.waiters)) zel_thread_delay(zel_systimer_ms_to_tick(1));
        return 0;
    });
    // A thread joins main once main has left with pthread_exit (and waits
    // for that thread).
    shell::install("t_join_left", [](int, char **) -> int {
        g_main_tid = zel_linux_get_cur_thread()->tid;
        zel_linux_pthread_t tid;
        if (zel_linux_pthread_create(
                &tid, nullptr,
                [](void *) -> void * {
                    while (!zel_linux_get_cur_thread()->joiner) zel_thread_delay(zel_systimer_ms_to_tick(1));
                    void *value = nullptr;
                    g_left_join_answer = zel_linux_pthread_join(g_main_tid, &value);
                    g_left_value = reinterpret_cast<uintptr_t>(value);
                    return nullptr;
                },
                nullptr) != 0)
            return 1;
        zel_linux_pthread_exit(reinterpret_cast<void *>(6));
    });
}

TEST(ShellConsole, CommandsWhoseThreadsStillWaitDoNotHangTheShell) {
    shell::Console &c = shell::console();
    install_commands();
    g_lock_answer = 0;
    g_left_join_answer = -5;
    g_left_value = 0;
    EXPECT_EQ("", c.run("t_leave_reader"));
    EXPECT_EQ("back\r\n", c.run("echo back"));
    EXPECT_TRUE(zel_test::wait_until([] { return g_detached_read.ended.load(); }));
    EXPECT_EQ(-1, g_detached_read.got.load());
    EXPECT_EQ(9, g_detached_read.error.load());

    EXPECT_EQ("", c.run("t_exit_worker"));
    EXPECT_EQ(-1, g_main_read.got.load());
    EXPECT_EQ(9, g_main_read.error.load());

    EXPECT_EQ("", c.run("t_main_leaves"));
    EXPECT_EQ("", c.run("t_join_main"));
    EXPECT_EQ(-1, g_join_answer.load());
    EXPECT_EQ("", c.run("t_lock_left"));
    EXPECT_EQ(-1, g_lock_answer.load());
    EXPECT_EQ("", c.run("t_join_left"));
    EXPECT_EQ(0, g_left_join_answer.load());
    EXPECT_EQ(6u, g_left_value.load());
    // Input typed now reaches the shell, not a reader left behind.
    EXPECT_EQ("still here\r\n", c.run("echo still here"));
}

}  // namespace

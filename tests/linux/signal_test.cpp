// Delivery of pending signals: lowest first, blocked ones kept, handler
// kinds, and the waiters woken with the signal.
#include <gtest/gtest.h>

#include <vector>

#include "zel_linux_process.h"
#include "zel_linux_signal.h"
#include "zel_linux_test.h"

using zel_linux_test::run_process;

namespace {

std::vector<int> g_calls;
zel_linux_siginfo_t g_info;

void plain(int signal) { g_calls.push_back(signal); }
void with_info(int signal, zel_linux_siginfo_t *info, void *context) {
    g_calls.push_back(100 + signal);
    g_info = *info;
    EXPECT_EQ(nullptr, context);
}

TEST(LinuxSignal, PendingSignalsReachTheirHandlersLowestFirst) {
    EXPECT_EQ(0, run_process([] {
        g_calls.clear();
        zel_linux_process_t *p = zel_linux_get_cur_process();
        zel_linux_thread_t *self = zel_linux_get_cur_thread();
        zel_linux_sig_handler_t ignored{nullptr, 2, 0, ZEL_LINUX_SIG_IGNORE};
        zel_linux_sig_handler_t informed{&ignored, 10, ZEL_LINUX_SA_SIGINFO, reinterpret_cast<uintptr_t>(with_info)};
        zel_linux_sig_handler_t simple{&informed, 5, 0, reinterpret_cast<uintptr_t>(plain)};
        zel_linux_sig_handler_t blocked{&simple, 7, 0, reinterpret_cast<uintptr_t>(plain)};
        p->sig_handlers = &blocked;
        p->sig_pending = 1u << 2 | 1u << 5 | 1u << 7 | 1u << 10 | 1u << 12;  // 12 has no handler
        p->sig_blocked = 1u << 7;
        p->sig_delivering = 1;

        zel_linux_trig_t trig;
        zel_linux_trig_init(&trig);
        zel_linux_sig_waiter_t waiter{};
        waiter.trig = &trig;
        zel_dlist_append(&p->sig_waiters, &waiter.node);

        EXPECT_EQ(0, zel_linux_deliver_signals(self));
        EXPECT_EQ((std::vector<int>{5, 110}), g_calls) << "the ignored, the blocked and the unhandled call nothing";
        EXPECT_EQ(10, g_info.signo);
        EXPECT_EQ(self->tid, g_info.thread);
        EXPECT_EQ(1u << 7, p->sig_pending) << "a blocked signal stays pending";
        EXPECT_EQ(0, p->sig_delivering);
        EXPECT_TRUE(zel_dlist_is_empty(&p->sig_waiters));
        EXPECT_EQ(12, waiter.signal);

        // Unblocked later, it is delivered by the next run.
        p->sig_blocked = 0;
        EXPECT_EQ(0, zel_linux_deliver_signals(self));
        EXPECT_EQ((std::vector<int>{5, 110, 7}), g_calls);
        EXPECT_EQ(0u, p->sig_pending);
        p->sig_handlers = nullptr;
        return 0;
    }));
}

}  // namespace

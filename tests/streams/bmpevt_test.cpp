// Bitmap events: waiters in all and any modes, the travelling notice,
// auto-reset, cancel, timeouts and adapters.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "zel_bmpevt.h"
#include "zel_kernel_internal.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

const int64_t kMs = 10000;

// Results in the order the waiters reached them, as "A3", "B4" ...
struct Log {
    std::vector<std::string> lines;
    size_t size() {
        size_t n = 0;
        zel_test::run_as_irq([&] { n = lines.size(); });
        return n;
    }
    std::vector<std::string> get() {
        std::vector<std::string> out;
        zel_test::run_as_irq([&] { out = lines; });
        return out;
    }
};

// An agent that starts a wait on event 266 and calls zel_bmpevt_wait again on
// each event until the wait ends.
struct Waiter {
    zel_bmpevt_t *b;
    zel_bmpevt_pender_t p{};
    int32_t timeout;
    std::string name;
    Log *log;
    std::function<void()> on_keep;  // runs once, the first time the wait goes on
    Agent agent{[this](Agent &self, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) return;
        if (evt != 266 && !zel_eda_is_waiting(self.eda())) return;
        int32_t r = zel_bmpevt_wait(b, &p, timeout);
        if (r != ZEL_SYNC_KEEP_WAITING)
            log->lines.push_back(name + std::to_string(r));
        else if (evt != 266 && on_keep)
            std::exchange(on_keep, nullptr)();
    }};
    Waiter(zel_bmpevt_t *bmp, uint32_t mask, uint8_t op, const char *n, Log *l, int32_t t = -1)
        : b(bmp), timeout(t), name(n), log(l) {
        p.mask = mask;
        p.op = op;
        zel_test::run_as_irq([&] { agent.start(0); });
    }
    void pend() {
        zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_eda_post_evt(agent.eda(), 266)); });
        zel_test::settle();
    }
    ~Waiter() {
        zel_test::run_in_agent([&] {
            zel_eda_wait_leave(agent.eda());
            EXPECT_EQ(0, zel_eda_fini(agent.eda()));
        });
        agent.finished().wait();
    }
};

size_t waiter_count(zel_bmpevt_t *b) {
    size_t n = 0;
    zel_test::run_as_irq([&] {
        for (zel_dlist_node_t *node = b->waiters.head; node; node = node->next) ++n;
    });
    return n;
}

void set_bits(zel_bmpevt_t *b, uint32_t mask) {
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_bmpevt_set(b, mask)); });
}

struct Bmp {
    zel_bmpevt_t b{};
    explicit Bmp(uint32_t auto_reset = 0, zel_bmpevt_adapter_t **adapters = nullptr, uint8_t count = 0) {
        zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_bmpevt_init_ex(&b, adapters, count, auto_reset)); });
    }
};

TEST(BmpEvt, AnyWaitersAreSatisfiedInTurnAsTheNoticeTravels) {
    Bmp bmp;
    Log log;
    Waiter a(&bmp.b, 0x1, 0, "A", &log), b(&bmp.b, 0x2, 0, "B", &log);
    a.pend();
    b.pend();
    EXPECT_EQ(2u, waiter_count(&bmp.b));
    EXPECT_EQ(0u, log.size());
    set_bits(&bmp.b, 0x3);
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"A3", "B3"}), log.get());
    EXPECT_EQ(0u, waiter_count(&bmp.b));
    EXPECT_EQ(0x3u, bmp.b.value);  // no auto-reset bits
    EXPECT_EQ(0, bmp.b.flags & ZEL_BMPEVT_NOTIFYING);
}

TEST(BmpEvt, AChangeWhileTheNoticeTravelsSendsItRoundAgain) {
    Bmp bmp;
    Log log;
    Waiter a(&bmp.b, 0x1, 0, "A", &log), b(&bmp.b, 0x2, 0, "B", &log);
    a.pend();
    b.pend();
    // A sees 0x2, keeps waiting and hands the notice to B; then 0x1 is set
    // while that notice is on its way. B takes it, and the notice must come
    // round to A again.
    a.on_keep = [&] { EXPECT_EQ(0, zel_eda_bmpevt_set(&bmp.b, 0x1)); };
    set_bits(&bmp.b, 0x2);
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"B3", "A3"}), log.get());
}

// The waiter that holds the notice (its 264 queued) ends before it takes
// it: finished, or started again. The notice must move on to the waiters
// behind it, and later changes must still be told.
TEST(BmpEvt, TheNoticeMovesOnWhenItsHolderEnds) {
    for (bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "restarted" : "finished");
        Bmp bmp;
        Log log;
        Waiter a(&bmp.b, 0x1, 0, "A", &log), b(&bmp.b, 0x2, 0, "B", &log);
        a.pend();
        b.pend();
        bool held = false;
        zel_test::run_in_agent([&] {
            EXPECT_EQ(0, zel_eda_bmpevt_set(&bmp.b, 0x2));
            zel_evt_node_t *queued = a.agent.eda()->pending.head;
            held = queued && queued->evt == ZEL_EVT_BMPEVT;
            if (restart)
                a.agent.start(0);
            else
                EXPECT_EQ(0, zel_eda_fini(a.agent.eda()));
        });
        ASSERT_TRUE(held) << "A did not hold the notice";
        ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 1; }));
        EXPECT_EQ(std::vector<std::string>{"B3"}, log.get());

        // The notice is free again: the next pend and change are told.
        b.pend();
        set_bits(&bmp.b, 0x2 | 0x4);
        ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 2; }));
        EXPECT_EQ(0, bmp.b.flags & ZEL_BMPEVT_NOTIFYING);
    }
}

TEST(BmpEvt, AllModeAndAutoResetConsumeTheSatisfyingBits) {
    Bmp bmp(0x3);
    Log log;
    Waiter all(&bmp.b, 0x3, ZEL_BMPEVT_ALL, "All", &log), any(&bmp.b, 0x1, 0, "Any", &log);
    all.pend();
    any.pend();
    set_bits(&bmp.b, 0x1);  // not enough for All; Any takes it
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 1; }));
    EXPECT_EQ(std::vector<std::string>{"Any3"}, log.get());
    EXPECT_EQ(0u, bmp.b.value);
    set_bits(&bmp.b, 0x2);
    zel_test::settle();
    EXPECT_EQ(1u, log.size());
    set_bits(&bmp.b, 0x1);
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 2; }));
    EXPECT_EQ("All3", log.get()[1]);
    EXPECT_EQ(0u, bmp.b.value);
}

TEST(BmpEvt, CancelEndsOnlyTheWaitsOnCancelledBits) {
    Bmp bmp;
    Log log;
    Waiter a(&bmp.b, 0x1, 0, "A", &log), b(&bmp.b, 0x2, 0, "B", &log);
    a.pend();
    b.pend();
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_bmpevt_cancel(&bmp.b, 0x1)); });
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 1; }));
    zel_test::settle();
    EXPECT_EQ(std::vector<std::string>{"A4"}, log.get());
    EXPECT_EQ(1u, waiter_count(&bmp.b));  // B waits on
    EXPECT_EQ(0, bmp.b.flags & ZEL_BMPEVT_CANCELLING);

    a.pend();  // a new pend on a cancelled bit is refused
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 2; }));
    EXPECT_EQ("A4", log.get()[1]);
    int32_t thread_result = -1;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_bmpevt_pender_t p{0x3, 0, nullptr};
        thread_result = zel_thread_bmpevt_pend(&bmp.b, &p, -1);
    }));
    EXPECT_EQ(ZEL_SYNC_OTHER, thread_result);

    set_bits(&bmp.b, 0x2);
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 3; }));
    EXPECT_EQ("B3", log.get()[2]);
}

TEST(BmpEvt, ThreadsTryTimeOutAndGetWoken) {
    Bmp bmp(0x4);
    int32_t r = -1;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_bmpevt_pender_t p{0x4, 0, nullptr};
        EXPECT_EQ(ZEL_SYNC_TIMEOUT, zel_thread_bmpevt_pend(&bmp.b, &p, 0));
        r = zel_thread_bmpevt_pend(&bmp.b, &p, 20 * kMs);
    }));
    EXPECT_EQ(ZEL_SYNC_TIMEOUT, r);
    EXPECT_EQ(0u, waiter_count(&bmp.b));

    std::thread setter([&] {
        ASSERT_TRUE(zel_test::wait_until([&] { return bmp.b.waiters.head != nullptr; }));
        set_bits(&bmp.b, 0x4 | 0x8);
    });
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_bmpevt_pender_t p{0x4, 0, nullptr};
        r = zel_thread_bmpevt_pend(&bmp.b, &p, 5000 * kMs);
    }));
    setter.join();
    EXPECT_EQ(ZEL_SYNC_OBTAINED, r);
    EXPECT_EQ(0x8u, bmp.b.value);  // the auto-reset bit was consumed

    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_bmpevt_pender_t p{0x8, ZEL_BMPEVT_ALL, nullptr};
        EXPECT_EQ(ZEL_SYNC_OBTAINED, zel_thread_bmpevt_pend(&bmp.b, &p, 0));
    }));
    EXPECT_EQ(0x8u, bmp.b.value);  // not an auto-reset bit
}

TEST(BmpEvtAdapter, ASemaphoreSetsItsBitAgainAfterEachConsume) {
    zel_sync_t sem{};
    EXPECT_EQ(0, zel_eda_sync_init(&sem, 0, 10));
    zel_bmpevt_adapter_t ad{};
    ad.op = &zel_bmpevt_adapter_sync_op;
    ad.mask = 0x1;
    ad.source = &sem;
    zel_bmpevt_adapter_t *list[1] = {&ad};
    Bmp bmp(0x1, list, 1);
    zel_test::settle();
    EXPECT_EQ(0u, bmp.b.value);

    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_sync_increase(&sem)); });
    ASSERT_TRUE(zel_test::wait_until([&] { return bmp.b.value == 0x1; }));

    Log log;
    Waiter w(&bmp.b, 0x1, 0, "W", &log);
    w.pend();
    ASSERT_TRUE(zel_test::wait_until([&] { return log.lines.size() == 1; }));
    zel_test::settle();
    EXPECT_EQ(0u, bmp.b.value);  // consumed; the adapter pends again
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_sync_increase(&sem)); });
    ASSERT_TRUE(zel_test::wait_until([&] { return bmp.b.value == 0x1; }));
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(&ad.agent)); });
}

TEST(BmpEvtAdapter, ATriggerSourceIsPendedOnByTheAdapterNotTheConsumer) {
    zel_sync_t trig{};
    EXPECT_EQ(0, zel_eda_sync_init(&trig, 0, ZEL_SYNC_NO_CONSUME | 1));
    zel_bmpevt_adapter_t ad{};
    ad.op = &zel_bmpevt_adapter_sync_op;
    ad.mask = 0x1;
    ad.source = &trig;
    zel_bmpevt_adapter_t *list[1] = {&ad};
    Bmp bmp(0x1, list, 1);
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_sync_increase(&trig)); });
    ASSERT_TRUE(zel_test::wait_until([&] { return bmp.b.value == 0x1; }));
    zel_test::run_in_agent([&] { zel_eda_sync_reset(&trig); });

    zel_eda_t *consumer = nullptr;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        consumer = zel_eda_get_cur();
        zel_bmpevt_pender_t p{0x1, 0, nullptr};
        EXPECT_EQ(ZEL_SYNC_OBTAINED, zel_thread_bmpevt_pend(&bmp.b, &p, 0));
    }));
    zel_eda_t *waiting = nullptr;
    zel_test::run_as_irq([&] { waiting = trig.waiters.head ? zel_eda_of_wait_node(trig.waiters.head) : nullptr; });
    EXPECT_EQ(&ad.agent, waiting);
    EXPECT_NE(consumer, waiting);
    EXPECT_EQ(0u, bmp.b.value);
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_sync_increase(&trig)); });
    ASSERT_TRUE(zel_test::wait_until([&] { return bmp.b.value == 0x1; }));
    zel_test::run_in_agent([&] {
        zel_eda_wait_leave(&ad.agent);
        EXPECT_EQ(0, zel_eda_fini(&ad.agent));
    });
}

TEST(BmpEvtAdapter, ABitmapEventSourceFiresAtOnceAndOnLaterChanges) {
    Bmp src;
    set_bits(&src.b, 0x4);
    zel_bmpevt_adapter_t ad{};
    ad.op = &zel_bmpevt_adapter_bmpevt_op;
    ad.mask = 0x2;
    ad.source = &src.b;
    ad.pender = {0x4, 0, nullptr};
    zel_bmpevt_adapter_t *list[2] = {nullptr, &ad};
    Bmp dst(0, list, 2);
    ASSERT_TRUE(zel_test::wait_until([&] { return dst.b.value == 0x2; }));  // satisfied at once

    // Reset clears the source's bits and the adapter waits for the next change.
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_bmpevt_reset(&dst.b, 0x2)); });
    zel_test::settle();
    EXPECT_EQ(0u, src.b.value);
    EXPECT_EQ(0u, dst.b.value);
    EXPECT_EQ(1u, waiter_count(&src.b));
    set_bits(&src.b, 0x4);
    ASSERT_TRUE(zel_test::wait_until([&] { return dst.b.value == 0x2; }));
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(&ad.agent)); });
}

}  // namespace

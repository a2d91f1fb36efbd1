// Agents and events: dispatch order, coalescing, refusal, finishing.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <vector>

#include "zel_host_test_hooks.h"
#include "zel_kernel_internal.h"
#include "zel_sync.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

// An agent that records every event it receives.
struct Recorder {
    std::vector<zel_evt_t> events;
    Agent agent{[this](Agent &, zel_evt_t evt) { events.push_back(evt); }};
    Recorder() {
        zel_test::run_as_irq([&] { EXPECT_EQ(0, agent.start(0)); });
        zel_test::settle();
    }
    ~Recorder() { EXPECT_TRUE(agent.finish()); }
};

TEST(Dispatch, AgentsTakeOneEventPerTurn) {
    std::vector<char> order;
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt != ZEL_EVT_INIT) order.push_back('A');
    });
    Agent b([&](Agent &, zel_evt_t evt) {
        if (evt != ZEL_EVT_INIT) order.push_back('B');
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        b.start(0);
    });
    zel_test::settle();
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 300));
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 301));
        EXPECT_EQ(0, zel_eda_post_evt(b.eda(), 266));
    });
    zel_test::settle();
    EXPECT_EQ((std::vector<char>{'A', 'B', 'A', 'A'}), order);
    ASSERT_TRUE(a.finish());
    ASSERT_TRUE(b.finish());
}

TEST(Dispatch, ContinueIsDroppedWhileAnEventIsPending) {
    Recorder r;
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, zel_eda_post_evt(r.agent.eda(), 266));
        EXPECT_EQ(0, zel_eda_post_evt(r.agent.eda(), ZEL_EVT_CONTINUE));  // answered 0, not queued
        EXPECT_EQ(0, zel_eda_post_evt(r.agent.eda(), 300));               // any other event is queued
    });
    zel_test::settle();
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, zel_eda_post_evt(r.agent.eda(), ZEL_EVT_CONTINUE));
        EXPECT_EQ(0, zel_eda_post_evt(r.agent.eda(), ZEL_EVT_CONTINUE));
    });
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, 266, 300, ZEL_EVT_CONTINUE}), r.events);
}

TEST(Dispatch, MessagesCarryTheirPointer) {
    int payload = 5;
    void *seen = nullptr;
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_MSG) seen = zel_eda_get_cur_msg();
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        EXPECT_EQ(0, zel_eda_post_msg(a.eda(), &payload));
        EXPECT_EQ(0xFFFF, zel_eda_get_cur_evt()) << "no dispatch runs in an interrupt";
        EXPECT_EQ(nullptr, zel_eda_get_cur_msg());
    });
    zel_test::settle();
    EXPECT_EQ(&payload, seen);
    ASSERT_TRUE(a.finish());
}

TEST(Dispatch, LimitedQueuedAgentRefusesOrdinaryPosts) {
    Recorder r;
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_eda_t *e = r.agent.eda();
        zel_eda_set_timeout(e, 100000000);       // waits with a timeout: limited
        EXPECT_EQ(0, zel_eda_post_evt(e, 266));  // not queued yet: accepted
        EXPECT_EQ(ZEL_ERR_STATE, zel_eda_post_evt(e, 300));
        EXPECT_EQ(ZEL_ERR_STATE, zel_eda_post_msg(e, nullptr));
        EXPECT_EQ(0, zel_eda_post_evt_msg_ex(e, ZEL_EVT_SYNC, nullptr, true)) << "forced wakes pass";
        EXPECT_EQ(0, zel_eda_cancel_timer_ex(e));
    }));
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, 266, ZEL_EVT_SYNC}), r.events);
}

TEST(Dispatch, PostWithoutEventNodesAnswersNoMemory) {
    Recorder r;
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_pool_t *pool = zel_kernel_evt_node_pool();
        std::vector<void *> taken;
        while (zel_pool_get_free_count(pool)) taken.push_back(zel_pool_alloc(pool));
        zel_test::TraceCapture trace;
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_post_evt(r.agent.eda(), 266));
        for (void *n : taken) zel_pool_free(pool, n);
    }));
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT}), r.events);
}

// A yield spends the node the agent holds for it, so a shortage of event
// nodes never keeps a yielding level from being resumed; a post that fails
// leaves no mark behind that would swallow a later continue.
TEST(YieldWithoutEventNodes, TheContinueArrivesAndLaterContinuesAreDelivered) {
    std::vector<zel_evt_t> events;
    Agent yielder([&](Agent &, zel_evt_t evt) {
        events.push_back(evt);
        if (evt == 300) {
            zel_test::EventNodeDrought drought;
            zel_eda_yield();
        }
    });
    Recorder other;
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, yielder.start(0));
        EXPECT_EQ(0, zel_eda_post_evt(yielder.eda(), 300));
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return events.size() == 3; }));
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, 300, ZEL_EVT_CONTINUE}), events);

    ASSERT_TRUE(zel_test::run_in_agent([&] {
        {
            zel_test::EventNodeDrought drought;
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_post_evt(other.agent.eda(), 266));
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_post_evt(yielder.eda(), ZEL_EVT_CONTINUE));
        }
        EXPECT_EQ(0, zel_eda_post_evt(other.agent.eda(), ZEL_EVT_CONTINUE));
        EXPECT_EQ(0, zel_eda_post_evt(yielder.eda(), ZEL_EVT_CONTINUE));
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return events.size() == 4 && other.events.size() == 2; }));
    EXPECT_EQ(ZEL_EVT_CONTINUE, events.back()) << "delivered, not dropped";
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, ZEL_EVT_CONTINUE}), other.events);
    ASSERT_TRUE(yielder.finish());
}

// zel_eda_wake spends the node a waiting agent holds for its wake.
TEST(YieldWithoutEventNodes, AWakeOfAnAgentThatRanSinceItsLastWakeNeedsNoAllocation) {
    Recorder r;
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_test::EventNodeDrought drought;
        EXPECT_EQ(0, zel_eda_wake(r.agent.eda(), ZEL_EVT_WAKE));
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_wake(r.agent.eda(), ZEL_EVT_WAKE)) << "its node is spent until it runs";
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return r.events.size() == 2; }));
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_test::EventNodeDrought drought;
        EXPECT_EQ(0, zel_eda_wake(r.agent.eda(), 300)) << "the wake it took refilled its node";
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return r.events.size() == 3; }));
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, ZEL_EVT_WAKE, 300}), r.events);
}

// A start of a live agent that waits is whole or changes nothing: during a
// shortage it starts with the node it holds for its wake (which its wait no
// longer needs), out of its wait and its timer; without even that node it
// answers -6 and waits on as it was.
TEST(StartWithoutEventNodes, ALiveAgentThatWaitsStartsAgainWholeOrNotAtAll) {
    zel_sync_t sem{};
    std::vector<zel_evt_t> events;
    Agent w([&](Agent &, zel_evt_t evt) {
        events.push_back(evt);
        if (evt == ZEL_EVT_INIT) {
            EXPECT_EQ(1, zel_eda_sync_decrease(&sem, 100000000));  // waits, with a timeout
        }
    });
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_sync_init(&sem, 0, 1));
        EXPECT_EQ(0, w.start(0));
    }));
    auto waits = [&] { return sem.waiters.head == &w.eda()->wait_node; };  // wait_until looks as an interrupt
    ASSERT_TRUE(zel_test::wait_until(waits));
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_test::EventNodeDrought drought;
        EXPECT_EQ(0, zel_eda_start(w.eda(), 0, 0));
        EXPECT_EQ(nullptr, sem.waiters.head) << "out of its wait";
        EXPECT_EQ(0, w.eda()->state & ZEL_EDA_ST_TIMER) << "and of the timer queue";
    }));
    ASSERT_TRUE(zel_test::wait_until(waits)) << "its 257 arrived and it waits again";

    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_evt_node_t *held = w.eda()->wake_node;
        w.eda()->wake_node = nullptr;
        {
            zel_test::EventNodeDrought drought;
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_start(w.eda(), 0, 0));
            EXPECT_EQ(&w.eda()->wait_node, sem.waiters.head) << "still waiting";
            EXPECT_NE(0, w.eda()->state & ZEL_EDA_ST_TIMER) << "with its timeout";
        }
        if (w.eda()->wake_node)
            zel_evt_node_free(held);
        else
            w.eda()->wake_node = held;
        EXPECT_EQ(0, zel_eda_sync_increase(&sem));
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return events.size() == 3; }));
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, ZEL_EVT_INIT, ZEL_EVT_SYNC}), events);
    ASSERT_TRUE(w.finish());
}

std::vector<zel_evt_t> g_restarted;
void restarted_handler(zel_eda_t *, zel_evt_t evt) { g_restarted.push_back(evt); }

// A restart whose 257 cannot be posted keeps the running handler; one made
// during a shortage posts with the node the agent holds for its wake.
TEST(StartWithoutEventNodes, ARestartThatCannotBePostedKeepsTheHandler) {
    g_restarted.clear();
    std::vector<zel_evt_t> events;
    Agent r([&](Agent &self, zel_evt_t evt) {
        events.push_back(evt);
        if (evt != 300) return;
        zel_evt_node_t *held = self.eda()->wake_node;
        self.eda()->wake_node = nullptr;
        zel_test::EventNodeDrought drought;
        const zel_eda_evthandler_t before = self.eda()->handler.plain;
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_restart(restarted_handler));
        EXPECT_EQ(before, self.eda()->handler.plain) << "kept";
        self.eda()->wake_node = held;
        EXPECT_EQ(0, zel_eda_restart(restarted_handler));
        EXPECT_EQ(restarted_handler, self.eda()->handler.plain);
    });
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, r.start(0));
        EXPECT_EQ(0, zel_eda_post_evt(r.eda(), 300));
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return !g_restarted.empty(); }));
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, 300}), events);
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT}), g_restarted);
    ASSERT_TRUE(r.finish());
}

TEST(Lifecycle, FiniWithPendingEventsFreesTheirNodesAndTerminatesOnce) {
    Agent a([](Agent &, zel_evt_t) { ADD_FAILURE() << "no event may reach a finished agent"; });
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_pool_t *pool = zel_kernel_evt_node_pool();
        ASSERT_EQ(0, a.start(0));  // its 257 is pending
        uint16_t free_before = zel_pool_get_free_count(pool);
        uint16_t used_before = pool->used_count;
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 300));
        EXPECT_EQ(0, zel_eda_fini(a.eda()));
        EXPECT_EQ(1, a.terminate_count());
        EXPECT_EQ(used_before - 3, pool->used_count) << "the 257 node and the two reserve nodes too are back";
        EXPECT_GE(zel_pool_get_free_count(pool), free_before);
        EXPECT_FALSE(a.eda()->state & ZEL_EDA_ST_QUEUED);
    }));
    zel_test::settle();
    EXPECT_EQ(1, a.terminate_count());
}

TEST(Lifecycle, FiniInsideTheOwnHandlerWaitsForTheHandler) {
    int count_in_handler = -1;
    Agent a([&](Agent &self, zel_evt_t evt) {
        if (evt != 266) return;
        EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 300));  // dropped: the agent finishes
        EXPECT_EQ(0, zel_eda_fini(nullptr));
        count_in_handler = self.terminate_count();
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    });
    ASSERT_TRUE(a.finished().wait());
    EXPECT_EQ(0, count_in_handler);
    zel_test::settle();
    EXPECT_EQ(1, a.terminate_count());
}

TEST(Lifecycle, RestartAfterFinish) {
    Recorder r;
    ASSERT_TRUE(r.agent.finish());
    zel_test::run_as_irq([&] { EXPECT_EQ(0, r.agent.start(0)); });
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, ZEL_EVT_INIT}), r.events);
}

TEST(Lifecycle, StartAtTheRunningPriority) {
    Agent child;
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        child.set_handler({});
        child.eda()->handler.plain = nullptr;
        EXPECT_EQ(0, child.start(-1));
        EXPECT_EQ(0, zel_eda_get_prio(child.eda()));
    }));
    ASSERT_TRUE(child.finish());
}

TEST(Lifecycle, PriorityOutsideTheConfigurationIsRefused) {
    Agent a;
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        ASSERT_EQ(1, zel_kernel_get_cfg()->prio_count);
        EXPECT_EQ(ZEL_ERR_STATE, a.start(1));
        EXPECT_EQ(ZEL_ERR_STATE, a.start(200));
        EXPECT_EQ(ZEL_ERR_STATE, a.start(-2));
        ASSERT_EQ(0, a.start(0));
        EXPECT_EQ(ZEL_ERR_STATE, zel_eda_change_prio(a.eda(), 1));
        EXPECT_EQ(0, zel_eda_get_prio(a.eda()));
        EXPECT_EQ(nullptr, zel_evtq_get(1));
        EXPECT_EQ(nullptr, zel_evtq_get(-1));
    }));
    ASSERT_TRUE(a.finish());
}

TEST(Lifecycle, ClearEvtDropsPendingEvents) {
    std::vector<zel_evt_t> seen;
    Agent a([&](Agent &self, zel_evt_t evt) {
        seen.push_back(evt);
        if (evt == 266) {
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 300));
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 301));
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 300));
            zel_eda_clear_evt(300);
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 302));
        }
        if (evt == 301) {
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 303));
            zel_eda_clear_evt(0);
        }
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    });
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, 266, 301}), seen) << "302 and 303 were dropped by clear(0)";
    zel_test::run_as_irq([&] { EXPECT_FALSE(a.eda()->state & ZEL_EDA_ST_QUEUED); });
    ASSERT_TRUE(a.finish());
}

TEST(Lifecycle, CpuTimeCounterGrows) {
    uint64_t cpu = 0;
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt == 266) {
            uint64_t until = zel_systimer_get_tick() + 20000;
            while (zel_systimer_get_tick() < until) {}
        }
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        a.eda()->cpu_time = &cpu;
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    });
    zel_test::settle();
    EXPECT_GE(cpu, 20000u);
    ASSERT_TRUE(a.finish());
}

// An agent started with frames, as threads and file operations are.
struct FramedAgent {
    static std::vector<zel_evt_t> seen;
    static int terminations;
    zel_eda_t eda{};
    static void handler(void *, zel_evt_t evt) { seen.push_back(evt); }
    static void terminated(zel_eda_t *) { terminations++; }
    int32_t start() {
        zel_eda_start_rec_t rec{handler, terminated, 0, ZEL_EDA_FEAT_FRAMES, 8, 1};
        return zel_eda_start_ex(&eda, &rec);
    }
};
std::vector<zel_evt_t> FramedAgent::seen;
int FramedAgent::terminations;

TEST(Lifecycle, PostsToAFinishedAgentAreRefusedWhoeverFinishedIt) {
    // finished by another context
    static FramedAgent f;
    f.seen.clear();
    f.terminations = 0;
    ASSERT_TRUE(zel_test::run_in_agent([&] { ASSERT_EQ(0, f.start()); }));
    zel_test::settle();
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(&f.eda)); }));
    zel_test::run_as_irq([&] {
        EXPECT_EQ(ZEL_ERR_STATE, zel_eda_post_evt(&f.eda, 266));
        EXPECT_EQ(ZEL_ERR_STATE, zel_eda_post_msg(&f.eda, nullptr));
    });
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT}), f.seen);
    EXPECT_EQ(1, f.terminations);
    // started again, it takes events as before
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, f.start());
        EXPECT_EQ(0, zel_eda_post_evt(&f.eda, 266));
    });
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, ZEL_EVT_INIT, 266}), f.seen);
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(&f.eda)); }));
    EXPECT_EQ(2, f.terminations);

    // finished by its own handler
    Agent a([](Agent &, zel_evt_t evt) {
        if (evt == 266) {
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        }
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    });
    ASSERT_TRUE(a.finished().wait());
    zel_test::settle();
    zel_test::run_as_irq([&] { EXPECT_EQ(ZEL_ERR_STATE, zel_eda_post_evt(a.eda(), 300)); });
    zel_test::settle();
    EXPECT_EQ(1, a.terminate_count()) << "a refused post terminates nothing again";
    std::vector<zel_evt_t> later;
    a.set_handler([&](Agent &, zel_evt_t evt) { later.push_back(evt); });
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, a.start(0));
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 300));
    });
    zel_test::settle();
    EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, 300}), later);
    ASSERT_TRUE(a.finish());
}

TEST(TestSupport, AContextThatDidNotRunFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(zel_test::run_in_thread([] {}, zel_test::kTimeout, 4096)), "did not start");
}

}  // namespace

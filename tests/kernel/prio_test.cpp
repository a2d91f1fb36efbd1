// Several priority levels: preemption between events, mutex waiter order and
// priority inheritance. This binary boots the kernel with four levels.
#include <gtest/gtest.h>

#include <vector>

#include "zel_kernel_internal.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

const bool kFourLevels = zel_test::set_priority_count(4);

struct Pender {
    zel_sync_t *sync;
    std::vector<int> results;
    Agent agent{[this](Agent &self, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) return;
        if (evt == 266) {
            if (zel_eda_sync_decrease(sync, -1) == 0)
                results.push_back(ZEL_SYNC_OBTAINED);
            else
                zel_eda_set_waiting(self.eda(), true);
            return;
        }
        if (evt == 301) {  // release
            EXPECT_EQ(0, zel_eda_sync_increase(sync));
            return;
        }
        int r = zel_eda_sync_get_reason(sync, evt);
        if (r != ZEL_SYNC_KEEP_WAITING) {
            zel_eda_set_waiting(self.eda(), false);
            results.push_back(r);
        }
    }};
    Pender(zel_sync_t *s, int prio) : sync(s) {
        zel_test::run_as_irq([&] { EXPECT_EQ(0, agent.start(prio)); });
        zel_test::settle();
    }
    void send(zel_evt_t evt) {
        zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_eda_post_evt(agent.eda(), evt)); });
        zel_test::settle();
    }
    uint8_t prio() {
        uint8_t p = 0;
        zel_test::run_as_irq([&] { p = zel_eda_get_prio(agent.eda()); });
        return p;
    }
    ~Pender() { EXPECT_TRUE(agent.finish()); }
};

TEST(Priority, HigherLevelRunsBeforeTheNextEventOfALowerOne) {
    ASSERT_TRUE(kFourLevels);
    std::vector<char> order;
    Agent high([&](Agent &, zel_evt_t evt) {
        if (evt == 266) order.push_back('H');
    });
    Agent low2([&](Agent &, zel_evt_t evt) {
        if (evt == 266) order.push_back('l');
    });
    Agent low([&](Agent &, zel_evt_t evt) {
        if (evt != 266) return;
        order.push_back('L');
        EXPECT_EQ(0, zel_eda_post_evt(low2.eda(), 266));
        EXPECT_EQ(0, zel_eda_post_evt(high.eda(), 266));
    });
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, high.start(2));
        EXPECT_EQ(0, low.start(0));
        EXPECT_EQ(0, low2.start(0));
        EXPECT_EQ(ZEL_ERR_STATE, Agent().start(4));
    });
    zel_test::settle();
    zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_eda_post_evt(low.eda(), 266)); });
    zel_test::settle();
    EXPECT_EQ((std::vector<char>{'L', 'H', 'l'}), order);
    ASSERT_TRUE(high.finish());
    ASSERT_TRUE(low.finish());
    ASSERT_TRUE(low2.finish());
}

TEST(Priority, ChangeOfTheDispatchedAgentIsAppliedAfterItsEvent) {
    uint8_t during_prio = 0, during_effective = 0;
    Agent a([&](Agent &self, zel_evt_t evt) {
        if (evt != 266) return;
        EXPECT_EQ(0, zel_eda_change_prio(self.eda(), 3));
        during_prio = self.eda()->prio;
        during_effective = zel_eda_get_prio(self.eda());
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    });
    zel_test::settle();
    EXPECT_EQ(0, during_prio);
    EXPECT_EQ(3, during_effective);
    zel_test::run_as_irq([&] {
        EXPECT_EQ(3, a.eda()->prio);
        EXPECT_EQ(ZEL_ERR_STATE, zel_eda_change_prio(a.eda(), 4));
    });
    ASSERT_TRUE(a.finish());
}

TEST(Mutex, WaitersQueueByPriorityThenArrival) {
    static zel_sync_t mutex;
    EXPECT_EQ(0, zel_eda_sync_init(&mutex, static_cast<int16_t>(0x8001), 1));
    Pender owner(&mutex, 0), c(&mutex, 1), d(&mutex, 1), e(&mutex, 3);
    owner.send(266);
    ASSERT_EQ((std::vector<int>{ZEL_SYNC_OBTAINED}), owner.results);
    c.send(266);
    d.send(266);
    e.send(266);
    std::vector<zel_eda_t *> order;
    zel_test::run_as_irq([&] {
        for (zel_dlist_node_t *n = mutex.waiters.head; n; n = n->next) order.push_back(zel_eda_of_wait_node(n));
    });
    EXPECT_EQ((std::vector<zel_eda_t *>{e.agent.eda(), c.agent.eda(), d.agent.eda()}), order);
    owner.send(301);
    EXPECT_EQ(e.agent.eda(), mutex.owner);
    e.send(301);
    EXPECT_EQ(c.agent.eda(), mutex.owner);
    c.send(301);
    d.send(301);
    EXPECT_EQ(nullptr, mutex.owner);
    EXPECT_EQ(0x8001, mutex.count);
}

TEST(Mutex, HigherWaiterLendsItsPriorityToTheOwner) {
    static zel_sync_t mutex;
    EXPECT_EQ(0, zel_eda_sync_init(&mutex, static_cast<int16_t>(0x8001), 1));
    Pender a(&mutex, 0), b(&mutex, 2);
    a.send(266);
    ASSERT_EQ(a.agent.eda(), mutex.owner);
    EXPECT_EQ(0x8000, mutex.count);
    b.send(266);
    EXPECT_EQ(2, a.prio()) << "the owner runs at the waiter's priority";
    a.send(301);
    EXPECT_EQ(0, a.prio()) << "the release restores the base priority";
    EXPECT_EQ(b.agent.eda(), mutex.owner);
    EXPECT_EQ((std::vector<int>{ZEL_SYNC_OBTAINED}), b.results);
    b.send(301);
}

TEST(Priority, ThreadSetPriority) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        EXPECT_EQ(0, zel_thread_set_priority(2));
        EXPECT_EQ(2, zel_eda_get_prio(zel_eda_get_cur()));
        EXPECT_EQ(2, zel_eda_get_cur()->base_prio);
        EXPECT_EQ(2, zel_thread_set_priority(9)) << "refused: stays at 2";
        EXPECT_EQ(2, zel_eda_get_prio(zel_eda_get_cur()));
        EXPECT_EQ(2, zel_thread_set_priority(0));
    }));
}

}  // namespace

// The gate that serialises a volume's operations and a device's requests.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "zel_host.h"
#include "zel_host_test_hooks.h"
#include "zel_io_gate.h"
#include "zel_kernel_internal.h"
#include "zel_test.h"

namespace {

// An agent that enters the gate when started and, once it has the gate,
// notes its turn and leaves (unless it is the first holder, which keeps it).
struct Waiter {
    int id;
    zel_io_gate_t *gate;
    std::vector<int> *turns;
    bool keep;
    zel_test::Agent agent{[this](zel_test::Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            if (zel_io_gate_enter(gate)) take();
        } else if (evt == ZEL_EVT_WAKE && zel_io_gate_is_mine(gate)) {
            take();
        }
    }};
    Waiter(int i, zel_io_gate_t *g, std::vector<int> *t, bool k) : id(i), gate(g), turns(t), keep(k) {}
    void take() {
        turns->push_back(id);
        if (!keep) zel_io_gate_leave(gate);
    }
};

TEST(IoGate, TurnsInArrivalOrderPastAFinishedWaiterAndALostWake) {
    static zel_io_gate_t gate{};
    std::vector<int> turns;
    std::vector<std::unique_ptr<Waiter>> w;
    for (int i = 0; i < 4; i++) w.push_back(std::make_unique<Waiter>(i, &gate, &turns, i == 0));
    zel_test::run_as_irq([&] {
        for (auto &x : w) x->agent.start();
    });
    zel_test::settle();
    ASSERT_EQ(std::vector<int>{0}, turns);

    ASSERT_TRUE(zel_test::run_in_agent([&] {
        // Waiter 2 is finished while it waits: the queue forgets it.
        EXPECT_EQ(0, zel_eda_fini(w[2]->agent.eda()));
        // The wake for waiter 1 cannot be posted: no event node to be had,
        // not even the one it holds for its wake.
        std::vector<zel_evt_node_t *> held;
        held.push_back(std::exchange(w[1]->agent.eda()->wake_node, nullptr));
        zel_host_fail_heap_allocations(1u << 30);
        while (zel_evt_node_t *n = zel_evt_node_alloc()) held.push_back(n);
        zel_io_gate_leave(&gate);
        EXPECT_EQ(1, gate.wake_owed);
        zel_host_fail_heap_allocations(0);
        for (zel_evt_node_t *n : held) zel_evt_node_free(n);
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return turns.size() == 3; }));
    EXPECT_EQ((std::vector<int>{0, 1, 3}), turns);
    EXPECT_EQ(nullptr, gate.owner);
    EXPECT_EQ(0, gate.wake_owed);
}

// The waiter whose wake was owed is finished before the wake can go out: the
// gate goes on to the next waiter instead of waking the finished agent for
// ever.
TEST(IoGate, AnOwedWakeWhoseOwnerIsFinishedPassesTheGateOn) {
    static zel_io_gate_t gate{};
    std::vector<int> turns;
    std::vector<std::unique_ptr<Waiter>> w;
    for (int i = 0; i < 3; i++) w.push_back(std::make_unique<Waiter>(i, &gate, &turns, i == 0));
    zel_test::run_as_irq([&] {
        for (auto &x : w) x->agent.start();
    });
    zel_test::settle();
    ASSERT_EQ(std::vector<int>{0}, turns);

    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_evt_node_t *stripped = std::exchange(w[1]->agent.eda()->wake_node, nullptr);
        {
            zel_test::EventNodeDrought drought;
            zel_io_gate_leave(&gate);
            EXPECT_EQ(1, gate.wake_owed);
            EXPECT_EQ(w[1]->agent.eda(), gate.owner);
        }
        zel_evt_node_free(stripped);
        // The new owner goes before it has had its turn.
        EXPECT_EQ(0, zel_eda_fini(w[1]->agent.eda()));
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return turns.size() == 2; }));
    EXPECT_EQ((std::vector<int>{0, 2}), turns);
    ASSERT_TRUE(zel_test::wait_until([&] { return gate.owner == nullptr && gate.wake_owed == 0; }));
}

}  // namespace

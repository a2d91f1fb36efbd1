// Call frames and sub-calls: results, parameters, user states, frame modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zel_host_test_hooks.h"
#include "zel_kernel_internal.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

struct Args {
    int32_t a;
    int32_t b;
};

intptr_t g_result_seen;
std::vector<int> g_trace;

// Sub-call handlers in the shape of a file operation: on 257 read the object
// from the parameter word and the arguments from the locals.
void add_op(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    const Args *args = static_cast<const Args *>(locals);
    EXPECT_EQ(0x1234u, zel_eda_locals_param(locals));
    zel_eda_return(static_cast<uintptr_t>(args->a + args->b));
}

void fail_op(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_eda_return(static_cast<uintptr_t>(-6));
}

void pointer_op(void *, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    void *block = zel_heap_malloc(64);
    zel_eda_return(reinterpret_cast<uintptr_t>(block));
}

// Two levels: the inner call's result plus one; each level keeps its own state.
void inner_op(void *, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    EXPECT_EQ(0, zel_eda_get_state()) << "a new level starts with state 0";
    zel_eda_set_state(3);
    g_trace.push_back(zel_eda_get_state());
    zel_eda_return(40);
}

void outer_op(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) {
        zel_eda_set_state(7);
        Args args{0, 0};
        ASSERT_EQ(0, zel_eda_call_param(inner_op, 1, sizeof args, sizeof args, &args));
        return;
    }
    if (evt == ZEL_EVT_RETURN) {
        g_trace.push_back(zel_eda_get_state());  // 7 again
        zel_eda_return(zel_eda_get_return_value() + 2);
    }
}

// Runs one sub-call from a fresh agent and records the result.
void run_call(zel_eda_frame_handler_t op, uintptr_t param, const Args &args) {
    zel_test::Signal returned;
    Agent caller([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            ASSERT_EQ(0, zel_eda_call_param(op, param, sizeof args, sizeof args, &args));
        } else if (evt == ZEL_EVT_RETURN) {
            g_result_seen = zel_eda_get_return_code();
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        }
    });
    zel_test::run_as_irq([&] { caller.start(0); });
    ASSERT_TRUE(caller.finished().wait());
    zel_test::settle();
}

TEST(SubCall, ResultsReachTheCaller) {
    run_call(add_op, 0x1234, Args{3, 4});
    EXPECT_EQ(7, g_result_seen);
    run_call(fail_op, 0, Args{});
    EXPECT_EQ(-6, g_result_seen) << "negative codes are sign-extended";
    run_call(pointer_op, 0, Args{});
    ASSERT_NE(0, g_result_seen);
    EXPECT_EQ(0u, static_cast<uintptr_t>(g_result_seen) % 16) << "a whole heap pointer";
    zel_heap_free(reinterpret_cast<void *>(g_result_seen));
}

TEST(SubCall, NestedLevelsKeepTheirOwnUserState) {
    g_trace.clear();
    run_call(outer_op, 9, Args{});
    EXPECT_EQ(42, g_result_seen);
    EXPECT_EQ((std::vector<int>{3, 7}), g_trace);
}

TEST(SubCall, ParametersAreCopiedUpToTheLocalSize) {
    struct Seen {
        unsigned char bytes[8];
    };
    static Seen seen;
    auto op = [](void *locals, zel_evt_t evt) {
        if (evt != ZEL_EVT_INIT) return;
        memcpy(seen.bytes, locals, 8);
        uint32_t guard;
        memcpy(&guard, static_cast<char *>(locals) + 8, 4);
        EXPECT_EQ(ZEL_EDA_FRAME_GUARD, guard) << "local size 5 gives 8 bytes, then the guard";
        zel_eda_return(0);
    };
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        const unsigned char params[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        ASSERT_EQ(0, zel_eda_call_param(op, 1, 5, sizeof params, params));
        EXPECT_EQ(0, memcmp(seen.bytes, params, 5));
        EXPECT_EQ(0, seen.bytes[5]) << "only local_size bytes are copied; the rest is zero";
        ASSERT_EQ(0, zel_eda_call_param(op, 1, 5, 0, params));
        EXPECT_EQ(0, seen.bytes[0]);
        ASSERT_EQ(0, zel_eda_call_param(op, 1, 5, 4, nullptr));
        EXPECT_EQ(0, seen.bytes[0]);
    }));
}

TEST(SubCall, NoMemoryForTheFrameStartsNothing) {
    zel_test::TraceCapture trace;
    Agent caller([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            zel_host_fail_heap_allocations(1);
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_call_param(add_op, 0, 8, 0, nullptr));
            EXPECT_FALSE(caller.eda()->features & ZEL_EDA_FEAT_FRAMES);
            EXPECT_EQ(0, zel_eda_post_evt(caller.eda(), 266));
        } else if (evt == 266) {
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        } else {
            ADD_FAILURE() << "unexpected event " << evt;
        }
    });
    zel_test::run_as_irq([&] { caller.start(0); });
    ASSERT_TRUE(caller.finished().wait());
    zel_test::settle();
}

TEST(SubCall, ReturnOfTheFirstLevelFinishesTheAgent) {
    Agent a([](Agent &, zel_evt_t evt) {
        if (evt == 266) {
            EXPECT_TRUE(zel_eda_return(5));
        }
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    });
    ASSERT_TRUE(a.finished().wait());
    zel_test::settle();
    EXPECT_EQ(1, a.terminate_count());
    EXPECT_EQ(5u, a.eda()->ret);
}

TEST(SubCall, BottomFrameIsLeftOnReturn) {
    std::vector<int> steps;
    Agent a([&](Agent &self, zel_evt_t evt) {
        if (evt == 266) {
            ASSERT_EQ(0, zel_eda_frame_set_param(55));
            EXPECT_TRUE(self.eda()->features & ZEL_EDA_FEAT_FRAMES);
            EXPECT_EQ(55u, zel_eda_get_frame_param());
            Args args{1, 1};
            ASSERT_EQ(0, zel_eda_call_param(add_op, 0x1234, sizeof args, sizeof args, &args));
            steps.push_back(1);
        } else if (evt == ZEL_EVT_RETURN) {
            // the plain handler is back, running on its own agent
            EXPECT_FALSE(self.eda()->features & ZEL_EDA_FEAT_FRAMES);
            EXPECT_EQ(2u, zel_eda_get_return_value());
            steps.push_back(2);
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 300));
        } else if (evt == 300) {
            steps.push_back(3);
            EXPECT_TRUE(zel_eda_return(0));
        }
    });
    zel_test::run_as_irq([&] {
        a.start(0);
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    });
    ASSERT_TRUE(a.finished().wait());
    zel_test::settle();
    EXPECT_EQ((std::vector<int>{1, 2, 3}), steps);
}

// A state machine that yields twice, waits once for 266, then ends with 9.
int machine(void *locals, zel_evt_t evt) {
    int *count = static_cast<int *>(locals);
    (void)evt;
    ++*count;
    if (*count < 3) return 1;  // run again
    if (*count == 3) {
        EXPECT_EQ(0, zel_eda_post_evt(zel_eda_get_cur(), 266));
        return 2;  // wait for another event
    }
    return 9;
}

TEST(SubCall, StateMachineResultReachesTheCallerThroughCallFsm) {
    int result = 0;
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            EXPECT_EQ(1, zel_eda_call_fsm(machine, 1, sizeof(int)));
        } else if (evt == ZEL_EVT_RETURN) {
            result = zel_eda_call_fsm(machine, 1, sizeof(int));
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        }
    });
    zel_test::run_as_irq([&] { a.start(0); });
    ASSERT_TRUE(a.finished().wait());
    zel_test::settle();
    EXPECT_EQ(9, result);
    int from_thread = 0;
    ASSERT_TRUE(zel_test::run_in_thread([&] { from_thread = zel_thread_call_fsm(machine, 1, sizeof(int)); }));
    EXPECT_EQ(9, from_thread);
}

TEST(SubCall, StartExWithFramesRunsTheFrameHandler) {
    static uintptr_t param_seen;
    static zel_test::Signal done;
    done.reset();
    auto handler = [](void *locals, zel_evt_t evt) {
        if (evt != ZEL_EVT_INIT) return;
        param_seen = zel_eda_locals_param(locals);
        zel_eda_return(0);
    };
    static zel_eda_t agent;
    agent = zel_eda_t{};
    zel_eda_start_rec_t rec{handler, [](zel_eda_t *) { done.set(); }, 0, 0, 16, 0xABC};
    zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_eda_start_ex(&agent, &rec)); });
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(0xABCu, param_seen);
}

// With one event node left, the callee's frame takes it and the heap fails
// its n-th allocation from there on, for every n: a call that answers -6
// started nothing and leaves the caller's yield its continue event.
TEST(SubCall, ACallerWhoseCalleeCouldNotBeStartedStillYields) {
    bool through = false;
    for (int64_t skip = 0; skip < 64; ++skip) {
        SCOPED_TRACE("allocations before the failure: " + std::to_string(skip));
        bool armed = false;
        int32_t r = 0;
        std::vector<zel_evt_t> seen;
        Agent caller([&](Agent &, zel_evt_t evt) {
            seen.push_back(evt);
            if (evt == ZEL_EVT_INIT) {
                r = zel_test::CallShortOfMemory(fail_op, skip, &armed);
                zel_eda_yield();
            } else {
                EXPECT_EQ(0, zel_eda_fini(nullptr));
            }
        });
        zel_test::run_as_irq([&] { caller.start(0); });
        ASSERT_TRUE(caller.finished().wait(std::chrono::milliseconds(5000))) << "no event after the yield";
        zel_test::settle();
        if (r == 0) {
            EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, ZEL_EVT_RETURN}), seen);
        } else {
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, r);
            EXPECT_EQ((std::vector<zel_evt_t>{ZEL_EVT_INIT, ZEL_EVT_CONTINUE}), seen);
        }
        through = armed;  // the call went through all its allocations
        if (through) break;
    }
    EXPECT_TRUE(through) << "the call did not get through its allocations";
}

TEST(SubCall, FromAThreadTheCallBlocksUntilTheReturn) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        Args args{20, 22};
        ASSERT_EQ(0, zel_eda_call_param(add_op, 0x1234, sizeof args, sizeof args, &args));
        EXPECT_EQ(42, zel_eda_get_return_code());
        g_trace.clear();
        ASSERT_EQ(0, zel_eda_call_param(outer_op, 0, 0, 0, nullptr));
        EXPECT_EQ(42, zel_eda_get_return_code());
    }));
}

// Callees that return where the 260 could not be posted on the spot: with no
// event node left, or with their agent queued and limited by a timeout.
void return_without_nodes(void *, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_test::EventNodeDrought drought;
    zel_eda_return(11);
}

void return_while_limited(void *, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_eda_set_timeout(nullptr, 100000 * 10000);
    zel_eda_return(12);
}

TEST(SubCall, TheReturnAlwaysReachesTheCaller) {
    run_call(return_without_nodes, 0, Args{});
    EXPECT_EQ(11, g_result_seen);
    run_call(return_while_limited, 0, Args{});
    EXPECT_EQ(12, g_result_seen);
}

TEST(SubCall, NoEventNodeForTheReturnStartsNothing) {
    zel_test::TraceCapture trace;
    Agent caller([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            zel_pool_t *pool = zel_kernel_evt_node_pool();
            std::vector<void *> taken;
            while (zel_pool_get_free_count(pool)) taken.push_back(zel_pool_alloc(pool));
            zel_host_fail_heap_allocations(1);  // the node's; the frame would come next
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_call_param(add_op, 0, 8, 0, nullptr));
            zel_host_fail_heap_allocations(0);
            for (void *n : taken) zel_pool_free(pool, n);
            EXPECT_FALSE(caller.eda()->features & ZEL_EDA_FEAT_FRAMES);
            EXPECT_EQ(0, zel_eda_post_evt(caller.eda(), 266));
        } else if (evt == 266) {
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        } else {
            ADD_FAILURE() << "unexpected event " << evt;
        }
    });
    zel_test::run_as_irq([&] { caller.start(0); });
    ASSERT_TRUE(caller.finished().wait());
    zel_test::settle();
}

}  // namespace

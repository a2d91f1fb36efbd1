// Framework threads: start, hand-over, blocking calls, restart and clean-up.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zel_bmpevt.h"
#include "zel_host_test_hooks.h"
#include "zel_irq_guard.h"
#include "zel_kernel_internal.h"
#include "zel_queue.h"
#include "zel_subcall.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

const uint64_t kMs = 10000;
// Long enough for any wait of these tests to end on a loaded machine; a wait
// still blocked after it is lost.
const std::chrono::milliseconds kEnds{5000};

// A framework thread with a lambda body.
struct TestThread {
    zel_thread_t th{};
    std::function<void(TestThread &)> body;
    zel_test::Signal done;
    std::atomic<int> terminated{0};
    std::atomic<int> kernel_side_active{0};

    explicit TestThread(std::function<void(TestThread &)> b, uint32_t stack = 16384) : body(std::move(b)) {
        th.rec.entry = entry;
        th.rec.stack_size = stack;
        th.eda.on_terminate = on_terminate;
    }
    static TestThread &of(zel_thread_rec_t *rec) { return *reinterpret_cast<TestThread *>(zel_thread_of(rec)); }
    static int entry(zel_thread_rec_t *rec) {
        TestThread &t = of(rec);
        t.body(t);
        return 0;
    }
    static void on_terminate(zel_eda_t *eda) {
        TestThread &t = *reinterpret_cast<TestThread *>(eda);
        t.terminated++;
        t.done.set();
    }
    int32_t start(int32_t prio = 0) {
        int32_t r = 0;
        zel_test::run_as_irq([&] { r = zel_thread_start(&th.eda, &th.rec, prio); });
        return r;
    }
    void post(zel_evt_t evt) {
        zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_eda_post_evt(&th.eda, evt)); });
    }
};

size_t host_threads_named(const std::string &name) {
    size_t n = 0;
    for (auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string s;
        std::getline(comm, s);
        if (s == name) n++;
    }
    return n;
}

TEST(ThreadStart, StackSizeRules) {
    TestThread t([](TestThread &) {});
    zel_test::run_as_irq([&] {
        t.th.rec.stack_size = 4096;
        EXPECT_EQ(ZEL_ERR_STACK_SMALL, zel_thread_start(&t.th.eda, &t.th.rec, 0));
        t.th.rec.stack_size = 12288 + 100;
        EXPECT_EQ(ZEL_ERR_STACK_ALIGN, zel_thread_start(&t.th.eda, &t.th.rec, 0));
        t.th.rec.stack_size = 8192;
        EXPECT_EQ(ZEL_ERR_STATE, zel_thread_start(&t.th.eda, &t.th.rec, 1)) << "one priority level";
    });
    EXPECT_EQ(0, t.start());
    ASSERT_TRUE(t.done.wait());
    TestThread u([](TestThread &) {}, 12288);
    EXPECT_EQ(0, u.start());
    ASSERT_TRUE(u.done.wait());
}

TEST(ThreadStart, EntryReturningAtOnceTerminatesOnceAndReleasesItsHostSide) {
    TestThread t([](TestThread &self) {
        EXPECT_TRUE(zel_eda_is_thread(zel_eda_get_cur()));
        EXPECT_EQ(&self.th.rec, zel_thread_get_rec());
    });
    ASSERT_EQ(0, t.start());
    ASSERT_TRUE(t.done.wait());
    zel_test::settle();
    EXPECT_EQ(1, t.terminated.load());
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, t.th.rec.own.initialised) << "wake object released";
        EXPECT_EQ(0u, t.th.rec.host.handle);
        EXPECT_EQ(nullptr, t.th.rec.host.wake);
        EXPECT_EQ(nullptr, t.th.rec.kwake);
        EXPECT_STREQ("zel_thread", t.th.rec.host.name);
    });
}

TEST(ThreadStart, EndedThreadsLeaveNoHostThreadBehind) {
    zel_test::boot();
    ASSERT_TRUE(zel_test::wait_until([] { return true; }));
    size_t before = host_threads_named("zel_thread");
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(zel_test::run_in_thread([] { zel_thread_yield(); }));
    }
    ASSERT_TRUE(zel_test::wait_until([&] { return host_threads_named("zel_thread") <= before; }));
}

TEST(ThreadStart, HostThreadThatCannotBeCreatedFinishesTheAgent) {
    zel_test::TraceCapture trace;
    std::atomic<bool> ran{false};
    TestThread t([&](TestThread &) { ran = true; });
    zel_test::settle();  // booted: the next host thread created is this one's
    zel_host_fail_thread_creations(1);
    ASSERT_EQ(0, t.start());
    ASSERT_TRUE(t.done.wait());
    zel_test::settle();
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(1, t.terminated.load());
    EXPECT_EQ(static_cast<uintptr_t>(ZEL_ERR_NO_MEMORY), t.th.eda.ret);
    EXPECT_TRUE(trace.contains("fail to create host thread \"zel_thread\""));
    zel_test::run_as_irq([&] { EXPECT_EQ(0, t.th.rec.own.initialised); });
}

// The program's start with the heap failing its n-th allocation from the
// kernel's boot on, for every n, each in a process of its own: the program
// either starts (its first thread runs) or ends at once, with status 1 and
// a line that says what it could not get. It never idles without its first
// thread. A child ends with 1 (told, from the kernel), 2 (started, the
// failure spent on the way), 3 (started, the failure not reached: the
// sweep is through) or 4 (neither started nor told).
TEST(ThreadStart, AProgramWhoseStartFailsEndsWithALine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int last = 0, told = 0;
    auto ended = [&](int status) {
        last = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (last == 1) told++;
        return last == 1 || last == 2 || last == 3;
    };
    for (int64_t skip = 0; skip < 200 && last != 3; ++skip) {
        SCOPED_TRACE("allocations before the failure: " + std::to_string(skip));
        EXPECT_EXIT(
            {
                zel_host_fail_heap_allocation_after(skip);
                if (!zel_test::boot(kEnds)) _exit(4);
                fprintf(stderr, "started\n");
                _exit(zel_host_heap_failure_armed() ? 3 : 2);
            },
            ended, "cannot start: |started");
    }
    EXPECT_EQ(3, last) << "the start did not get through its allocations";
    EXPECT_GT(told, 0);
}

TEST(HandOver, ThousandRoundTripsWithAnAgent) {
    int bounced = 0;
    TestThread t([&](TestThread &) {});
    Agent echo([&](Agent &, zel_evt_t evt) {
        if (evt == 266) {
            bounced++;
            EXPECT_EQ(0, zel_eda_post_evt(&t.th.eda, 266));
        }
    });
    int received = 0;
    t.body = [&](TestThread &self) {
        for (int i = 0; i < 1000; ++i) {
            EXPECT_EQ(0, zel_eda_post_evt(echo.eda(), 266));
            EXPECT_EQ(266, zel_thread_wait_for_evt(266));
            received++;
        }
        (void)self;
    };
    zel_test::run_as_irq([&] { echo.start(0); });
    ASSERT_EQ(0, t.start());
    ASSERT_TRUE(t.done.wait());
    EXPECT_EQ(1000, bounced);
    EXPECT_EQ(1000, received);
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(echo.eda())); }));
}

TEST(HandOver, WaitForEvtSkipsOtherEventsAndWaitForMsgReturnsTheMessage) {
    int payload = 3;
    std::vector<uint16_t> got;
    void *msg = nullptr;
    TestThread t([&](TestThread &) {
        got.push_back(zel_thread_wait_for_evt(266));
        msg = zel_thread_wait_for_msg();
        got.push_back(zel_thread_wait());
    });
    ASSERT_EQ(0, t.start());
    zel_test::settle();
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, zel_eda_post_evt(&t.th.eda, 300));
        EXPECT_EQ(0, zel_eda_post_evt(&t.th.eda, 266));
        EXPECT_EQ(0, zel_eda_post_msg(&t.th.eda, &payload));
        EXPECT_EQ(0, zel_eda_post_evt(&t.th.eda, 301));
    });
    ASSERT_TRUE(t.done.wait());
    EXPECT_EQ((std::vector<uint16_t>{266, 301}), got);
    EXPECT_EQ(&payload, msg);
}

TEST(Delay, ReturnsTheTimerEventAfterTheDelay) {
    TestThread t([](TestThread &) {
        uint64_t start = zel_systimer_get_tick();
        EXPECT_EQ(ZEL_EVT_TIMER, zel_thread_delay(3 * kMs));
        EXPECT_GE(zel_systimer_get_tick() - start, 3 * kMs);
        EXPECT_EQ(ZEL_EVT_TIMER, zel_thread_delay(0));
        EXPECT_EQ(ZEL_EVT_TIMER, zel_delay(1 * kMs));
    });
    ASSERT_EQ(0, t.start());
    ASSERT_TRUE(t.done.wait());
}

TEST(Delay, EndedEarlyByAnotherEventCancelsItsTimer) {
    // The first delay is far longer than any run of the test, so only the
    // event can end it, however loaded the machine.
    std::vector<uint16_t> got;
    TestThread t([&](TestThread &self) {
        got.push_back(zel_thread_delay(600000 * kMs));
        EXPECT_FALSE(self.th.eda.state & ZEL_EDA_ST_TIMER);  // off the timer list
        got.push_back(zel_thread_delay(2 * kMs));            // a fresh delay runs its own course
        got.push_back(zel_thread_wait());
    });
    ASSERT_EQ(0, t.start());
    zel_test::settle();
    t.post(300);
    ASSERT_TRUE(zel_test::wait_until([&] { return got.size() == 2; }));
    t.post(301);
    ASSERT_TRUE(t.done.wait());
    EXPECT_EQ((std::vector<uint16_t>{300, ZEL_EVT_TIMER, 301}), got);
}

TEST(Sync, ThreadWaitIgnoresUnrelatedEventsAndStaysListed) {
    static zel_sync_t sem;
    EXPECT_EQ(0, zel_eda_sync_init(&sem, 0, 5));
    int result = -1;
    TestThread t([&](TestThread &) { result = zel_thread_sync_decrease(&sem, -1); });
    ASSERT_EQ(0, t.start());
    zel_test::settle();
    t.post(300);
    t.post(ZEL_EVT_TIMER);  // a 261 that is not this wait's timeout
    zel_test::settle();
    zel_test::run_as_irq([&] {
        EXPECT_EQ(&t.th.eda.wait_node, sem.waiters.head);
        EXPECT_EQ(&t.th.eda.wait_node, sem.waiters.tail);
        EXPECT_EQ(-1, result);
    });
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_sync_increase(&sem)); }));
    ASSERT_TRUE(t.done.wait());
    EXPECT_EQ(ZEL_SYNC_OBTAINED, result);
    EXPECT_EQ(0, sem.count);
}

TEST(Sync, ThreadWaitTimesOutAndTryDoesNotHandBack) {
    static zel_sync_t mutex;
    EXPECT_EQ(0, zel_eda_sync_init(&mutex, static_cast<int16_t>(0x8001), 1));
    std::vector<int> results;
    TestThread owner([&](TestThread &) {
        results.push_back(zel_thread_sync_decrease(&mutex, -1));
        zel_thread_wait_for_evt(300);
        results.push_back(zel_thread_sync_increase(&mutex));
    });
    TestThread other([&](TestThread &) {
        uint32_t wakes = zel_host_idle_wakeups();
        results.push_back(zel_thread_sync_decrease(&mutex, 0));
        EXPECT_EQ(wakes, zel_host_idle_wakeups());
        results.push_back(zel_thread_sync_decrease(&mutex, 2 * kMs));
        results.push_back(zel_sync_wait(&mutex, -1));
        EXPECT_EQ(0, zel_thread_sync_increase(&mutex));
    });
    ASSERT_EQ(0, owner.start());
    zel_test::settle();
    ASSERT_EQ(0, other.start());
    ASSERT_TRUE(zel_test::wait_until([&] { return results.size() == 3; }));
    owner.post(300);
    ASSERT_TRUE(owner.done.wait());
    ASSERT_TRUE(other.done.wait());
    EXPECT_EQ((std::vector<int>{ZEL_SYNC_OBTAINED, ZEL_SYNC_TIMEOUT, ZEL_SYNC_TIMEOUT, 0, ZEL_SYNC_OBTAINED}), results);
}

TEST(Restart, EventInitRestartsTheThreadOnANewHostThread) {
    std::atomic<int> first_after_wait{0}, second_runs{0};
    uint32_t first_id = 0, second_id = 0;
    TestThread t([&](TestThread &self) {
        first_id = zel_host_thread_self_id();
        zel_thread_wait();
        first_after_wait++;  // never: the host thread is left behind
        (void)self;
    });
    ASSERT_EQ(0, t.start());
    zel_test::settle();
    uint32_t generation = t.th.rec.host.generation;
    zel_test::run_as_irq([&] {
        t.th.rec.entry = [](zel_thread_rec_t *rec) {
            TestThread &self = TestThread::of(rec);
            self.kernel_side_active = static_cast<int>(zel_host_thread_self_id());
            return 0;
        };
        EXPECT_EQ(0, zel_eda_post_evt(&t.th.eda, ZEL_EVT_INIT));
    });
    ASSERT_TRUE(t.done.wait());
    second_id = static_cast<uint32_t>(t.kernel_side_active.load());
    second_runs = 1;
    EXPECT_EQ(0, first_after_wait.load());
    EXPECT_NE(0u, second_id);
    EXPECT_NE(first_id, second_id);
    EXPECT_EQ(generation + 1, t.th.rec.host.generation);
    EXPECT_EQ(1, t.terminated.load());
}

TEST(Restart, FiniOfAParkedThreadLetsItsHostThreadGo) {
    std::atomic<int> after_wait{0};
    TestThread t([&](TestThread &) {
        zel_thread_wait();
        after_wait++;
    });
    ASSERT_EQ(0, t.start());
    zel_test::settle();
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(&t.th.eda)); }));
    ASSERT_TRUE(t.done.wait());
    zel_test::run_as_irq([&] { EXPECT_EQ(0, t.th.rec.own.initialised); });
    EXPECT_EQ(0, after_wait.load());
}

TEST(Exit, ThreadExitEndsTheThreadAtOnce) {
    std::atomic<int> after{0};
    TestThread t([&](TestThread &) {
        zel_thread_exit();
        after++;
    });
    ASSERT_EQ(0, t.start());
    ASSERT_TRUE(t.done.wait());
    zel_test::settle();
    EXPECT_EQ(0, after.load());
    EXPECT_EQ(1, t.terminated.load());
}

int child_entry(zel_thread_rec_t *) {
    zel_thread_delay(1 * kMs);
    return 0;
}

TEST(CallThread, ThreadsRunAsSubCalls) {
    static zel_thread_rec_t child;
    ASSERT_TRUE(zel_test::run_in_thread([] {
        child = zel_thread_rec_t{};
        zel_thread_desc_t desc{child_entry, nullptr, 8192};
        EXPECT_EQ(0, zel_thread_call_thread(&child, &desc));
        EXPECT_EQ(1, child.ended);
        EXPECT_EQ(0, child.own.initialised);
    }));
    bool got_return = false;
    Agent caller([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            child = zel_thread_rec_t{};
            zel_thread_desc_t desc{child_entry, nullptr, 8192};
            EXPECT_EQ(0, zel_thread_prepare(&child, &desc));
            EXPECT_EQ(0, zel_eda_call_thread(&child));
        } else if (evt == ZEL_EVT_RETURN) {
            got_return = true;
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        }
    });
    zel_test::run_as_irq([&] { caller.start(0); });
    ASSERT_TRUE(caller.finished().wait());
    EXPECT_TRUE(got_return);
}

TEST(Yield, AgentAndThreadForms) {
    std::vector<uint16_t> r;
    Agent a([&](Agent &, zel_evt_t evt) {
        r.push_back(zel_yield());
        if (evt == ZEL_EVT_CONTINUE) {
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        }
    });
    zel_test::run_as_irq([&] { a.start(0); });
    ASSERT_TRUE(a.finished().wait());
    EXPECT_EQ((std::vector<uint16_t>{0, 1}), r);
    ASSERT_TRUE(zel_test::run_in_thread([] { EXPECT_EQ(1, zel_yield()); }));
}

// A thread's yield during a shortage of event nodes returns (its continue
// goes with the node the thread holds for it), and so does the next one.
TEST(Yield, AThreadYieldsWithoutEventNodes) {
    ASSERT_TRUE(zel_test::run_in_thread(
        [] {
            for (int i = 0; i < 3; i++) {
                zel_test::EventNodeDrought drought;
                zel_thread_yield();
            }
            EXPECT_EQ(1, zel_yield());
        },
        std::chrono::milliseconds(5000)));
}

// Objects that nobody signals, one for each timed wait a thread can make.
struct Unsignalled {
    zel_sync_t sem{};
    zel_bmpevt_t bmp{};
    zel_bmpevt_pender_t pender{};
    zel_eda_queue_t queue{};
    int item = 0;
    static void put(zel_eda_queue_t *, const void *) {}
    static void take(zel_eda_queue_t *, void *) {}
    Unsignalled() {
        queue.enqueue = put;
        queue.dequeue = take;
        pender.mask = 1;
        EXPECT_TRUE(zel_test::run_in_agent([&] {
            EXPECT_EQ(0, zel_eda_sync_init(&sem, 0, 5));
            EXPECT_EQ(0, zel_eda_bmpevt_init_ex(&bmp, nullptr, 0, 0));
            EXPECT_EQ(0, zel_eda_queue_init(&queue, 4));
        }));
    }
};

struct TimedWaitKind {
    const char *name;
    std::function<int(Unsignalled &, int64_t timeout)> wait;
    std::function<void(Unsignalled &)> release;  // kernel context
};

const TimedWaitKind kTimedWaits[] = {
    {"sync", [](Unsignalled &u, int64_t t) { return zel_thread_sync_decrease(&u.sem, t); },
        [](Unsignalled &u) { EXPECT_EQ(0, zel_eda_sync_increase(&u.sem)); }},
    {"bitmap event", [](Unsignalled &u, int64_t t) { return zel_thread_bmpevt_pend(&u.bmp, &u.pender, t); },
        [](Unsignalled &u) { EXPECT_EQ(0, zel_eda_bmpevt_set(&u.bmp, 1)); }},
    {"queue", [](Unsignalled &u, int64_t t) { return zel_thread_queue_recv(&u.queue, &u.item, t); },
        [](Unsignalled &u) { EXPECT_EQ(0, zel_eda_queue_send(&u.queue, &u.item, 0)); }},

};

// Makes the timed wait of `waiter` expire while `evt` is queued to it: the
// timer task's expiry run is queued ahead of the event, so it finds the
// waiter queued. False when the wait was not armed any more (it had ended).
bool expire_behind_an_event(zel_eda_t *waiter, zel_evt_t evt) {
    bool armed = false;
    EXPECT_TRUE(zel_test::run_in_agent([&] {
        armed = (waiter->state & ZEL_EDA_ST_TIMER) && !(waiter->state & ZEL_EDA_ST_QUEUED);
        if (!armed) return;
        while (!zel_systimer_is_due(waiter->due)) {}
        EXPECT_EQ(0, zel_evtq_post_evt(zel_timer_task(), ZEL_EVT_TIMER));
        EXPECT_EQ(0, zel_eda_post_evt(waiter, evt));
    }));
    return armed;
}

TEST(TimedWait, EndsByItsTimeoutWhenAnUnrelatedEventIsQueuedAtExpiry) {
    Unsignalled u;
    for (const TimedWaitKind &kind : kTimedWaits) {
        SCOPED_TRACE(kind.name);
        int exercised = 0;
        for (int round = 0; round < 20 && exercised < 2; ++round) {
            std::atomic<int> result{-1};
            TestThread t([&](TestThread &) { result = kind.wait(u, 20 * kMs); });
            ASSERT_EQ(0, t.start());
            const uint8_t waiting = ZEL_EDA_ST_TIMER | ZEL_EDA_ST_LIMITED;
            ASSERT_TRUE(zel_test::wait_until([&] {
                return result.load() != -1 ||
                       ((t.th.eda.state & waiting) == waiting && !(t.th.eda.state & ZEL_EDA_ST_QUEUED));
            }));
            if (expire_behind_an_event(&t.th.eda, 266)) exercised++;
            if (!t.done.wait(kEnds)) {
                ADD_FAILURE() << "the timed wait is still blocked after its timeout";
                ASSERT_TRUE(zel_test::run_in_agent([&] { kind.release(u); }));
                ASSERT_TRUE(t.done.wait());
            }
            EXPECT_EQ(ZEL_SYNC_TIMEOUT, result.load());
        }
        EXPECT_GT(exercised, 0) << "the expiry never met a queued event";
    }
}

void noop_op(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_eda_return(0);
}

int noop_entry(zel_thread_rec_t *) { return 0; }

TEST(CallFromThread, ACalleeThatCannotBeStartedEndsTheCallWithItsCode) {
    auto calls = [] {
        zel_eda_t *self = zel_eda_get_cur();
        const uint8_t features = self->features;
        zel_eda_frame_t *const top = self->handler.frame;
        // a limited thread is refused the callee's 257
        zel_eda_set_timeout(self, 100000 * kMs);
        EXPECT_EQ(ZEL_ERR_STATE, zel_eda_call_param(noop_op, 0, 8, 0, nullptr));
        EXPECT_EQ(top, self->handler.frame) << "the callee's frame is gone";
        EXPECT_EQ(features, self->features);
        static zel_thread_rec_t child;
        child = zel_thread_rec_t{};
        zel_thread_desc_t desc{noop_entry, nullptr, 8192};
        EXPECT_EQ(ZEL_ERR_STATE, zel_thread_call_thread(&child, &desc));
        EXPECT_EQ(top, self->handler.frame);
        EXPECT_EQ(features, self->features);
        EXPECT_EQ(0, child.started);
        EXPECT_EQ(0, zel_eda_cancel_timer());
        zel_agent_clear_state(self, ZEL_EDA_ST_LIMITED);
        // no event node for the callee: the call fails at once
        {
            zel_test::EventNodeDrought drought;
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_call_param(noop_op, 0, 8, 0, nullptr));
            EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_thread_call_thread(&child, &desc));
        }
        EXPECT_EQ(top, self->handler.frame);
        // and the calls work again afterwards
        EXPECT_EQ(0, zel_eda_call_param(noop_op, 0, 8, 0, nullptr));
        EXPECT_EQ(0, zel_thread_call_thread(&child, &desc));
        EXPECT_EQ(1, child.ended);
    };
    ASSERT_TRUE(zel_test::run_in_thread(calls, kEnds));
}

// With one event node left, a sub-call's frame takes it and the heap fails
// its n-th allocation from there on, for every n: the call answers -6 when
// its frame or its start could not be had, nothing of it is left on the
// thread, and the thread goes on: its turn and its yield come back.
TEST(CallFromThread, AThreadWhoseCalleeCouldNotBeStartedGoesOn) {
    bool through = false;
    for (int64_t skip = 0; skip < 64; ++skip) {
        SCOPED_TRACE("allocations before the failure: " + std::to_string(skip));
        bool armed = false;
        auto calls = [&] {
            zel_eda_t *self = zel_eda_get_cur();
            zel_eda_frame_t *const top = self->handler.frame;
            const int32_t r = zel_test::CallShortOfMemory(noop_op, skip, &armed);
            EXPECT_TRUE(r == 0 || r == ZEL_ERR_NO_MEMORY) << r;
            EXPECT_EQ(top, self->handler.frame);
            zel_thread_rec_t *rec = zel_thread_get_rec();
            while (zel_systimer_get_tick() - rec->resumed < zel_systimer_ms_to_tick(1)) {}
            zel_thread_give_turn();  // run 1 ms: a yield
            zel_thread_yield();
        };
        ASSERT_TRUE(zel_test::run_in_thread(calls, kEnds)) << "the thread hangs in its yield";
        through = armed;  // the call went through all its allocations
        if (through) break;
    }
    EXPECT_TRUE(through) << "the call did not get through its allocations";
}

// Where the levels of a two-level sub-call ran: each step with its host
// thread. The inner level waits 1 ms for a timer first when `wait` is set.
struct Calls {
    std::vector<std::string> steps;
    std::vector<uint32_t> hosts;
    bool wait = false;
    void note(const char *step) {
        steps.push_back(step);
        hosts.push_back(zel_host_thread_self_id());
    }
};

void inner_op(void *locals, zel_evt_t evt) {
    Calls *c = zel_target<Calls>(locals);
    if (evt == ZEL_EVT_INIT) {
        c->note("inner");
        if (!c->wait) {
            zel_eda_return(6);
            return;
        }
        EXPECT_EQ(0, zel_eda_set_timer(1 * kMs));
    } else if (evt == ZEL_EVT_TIMER) {
        c->note("inner timer");
        zel_eda_return(6);
    }
}

void outer_op(void *locals, zel_evt_t evt) {
    Calls *c = zel_target<Calls>(locals);
    if (evt == ZEL_EVT_INIT) {
        c->note("outer");
        EXPECT_EQ(0, zel_eda_call_param(inner_op, reinterpret_cast<uintptr_t>(c), 0, 0, nullptr));
    } else if (evt == ZEL_EVT_RETURN) {
        c->note("outer return");
        zel_eda_return(zel_eda_get_return_value() + 1);
    }
}

// Calls outer_op from the running thread: its answer, or -1.
intptr_t call_outer(Calls &c) {
    zel_eda_t *self = zel_eda_get_cur();
    const uint8_t features = self->features;
    zel_eda_frame_t *const top = self->handler.frame;
    if (zel_eda_call_param(outer_op, reinterpret_cast<uintptr_t>(&c), 0, 0, nullptr) != 0) return -1;
    EXPECT_EQ(top, self->handler.frame) << "the callee's frames are gone";
    EXPECT_EQ(features, self->features);
    return static_cast<intptr_t>(zel_eda_get_return_value());
}

TEST(CallFromThread, WhileNothingElseIsReadyASubCallRunsOnTheThreadsOwnHostThread) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        const uint32_t self = zel_host_thread_self_id();
        // A stray interrupt due to be let in sends a call to the kernel's
        // host thread instead: each call runs wholly on one of the two, and
        // a quiet kernel leaves them to the thread.
        int here = 0;
        for (int round = 0; round < 3; ++round) {
            Calls c;
            EXPECT_EQ(7, call_outer(c));
            EXPECT_EQ((std::vector<std::string>{"outer", "inner", "outer return"}), c.steps);
            ASSERT_EQ(3u, c.hosts.size());
            EXPECT_TRUE(c.hosts[0] == c.hosts[1] && c.hosts[1] == c.hosts[2]);
            if (c.hosts[0] == self) here++;
        }
        EXPECT_GT(here, 0);
    }));
}

TEST(CallFromThread, AReadyAgentGoesFirstAndAWaitingLevelGoesOnInTheKernel) {
    Calls c;
    Agent other([&](Agent &, zel_evt_t evt) {
        if (evt == 300) c.note("agent");
    });
    zel_test::run_as_irq([&] { other.start(0); });
    const uint32_t kernel = zel_host_irq_main_record()->id;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        // The agent's event was queued first: it runs first, and the sub-call
        // with it in the kernel, in order.
        EXPECT_EQ(0, zel_eda_post_evt(other.eda(), 300));
        EXPECT_EQ(7, call_outer(c));
        EXPECT_EQ((std::vector<std::string>{"agent", "outer", "inner", "outer return"}), c.steps);
        EXPECT_EQ(std::vector<uint32_t>(4, kernel), c.hosts);
        // A level that waits hands the rest to the kernel, which answers the thread.
        Calls w;
        w.wait = true;
        EXPECT_EQ(7, call_outer(w));
        EXPECT_EQ((std::vector<std::string>{"outer", "inner", "inner timer", "outer return"}), w.steps);
        ASSERT_EQ(4u, w.hosts.size());
        EXPECT_EQ(kernel, w.hosts[2]);
        EXPECT_EQ(kernel, w.hosts[3]);
    }));
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(other.eda())); }));
}

void fini_self_op(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) {
        EXPECT_EQ(0, zel_eda_fini(nullptr));
    }
}

TEST(CallFromThread, ASubCallThatEndsItsOwnThreadEndsItOnce) {
    std::atomic<int> after{0};
    TestThread t([&](TestThread &) {
        (void)zel_eda_call_param(fini_self_op, 0, 8, 0, nullptr);
        after++;
    });
    ASSERT_EQ(0, t.start());
    ASSERT_TRUE(t.done.wait());
    zel_test::settle();
    EXPECT_EQ(0, after.load());
    EXPECT_EQ(1, t.terminated.load());
    zel_test::run_as_irq([&] { EXPECT_EQ(0, t.th.rec.own.initialised); });
}

}  // namespace

// Agent timers, callback timers and the timer task.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "zel_host_test_hooks.h"
#include "zel_kernel_internal.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

const uint64_t kMs = 10000;

// Agents that log their name on every 261.
struct Sleeper {
    std::vector<char> *log;
    char name;
    int timeouts = 0;
    Agent agent{[this](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_TIMER) {
            timeouts++;
            log->push_back(name);
        }
    }};
    Sleeper(std::vector<char> *l, char n) : log(l), name(n) {
        zel_test::run_as_irq([&] { agent.start(0); });
    }
    ~Sleeper() { EXPECT_TRUE(agent.finish()); }
};

TEST(AgentTimer, ExpiresInDueOrderAndEqualDueTicksInReverseArmingOrder) {
    std::vector<char> log;
    Sleeper a(&log, 'a'), b(&log, 'b'), c(&log, 'c'), d(&log, 'd');
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        uint64_t now = zel_systimer_get_tick();
        EXPECT_EQ(0, zel_eda_set_timer_ex(a.agent.eda(), 30 * kMs));
        EXPECT_EQ(0, zel_eda_set_timer_ex(b.agent.eda(), 10 * kMs));
        zel_eda_timer_add(c.agent.eda(), now + 20 * kMs);
        zel_eda_timer_add(d.agent.eda(), now + 20 * kMs);  // armed after c, same due: runs first
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return log.size() == 4; }));
    EXPECT_EQ((std::vector<char>{'b', 'd', 'c', 'a'}), log);
}

TEST(AgentTimer, ZeroTicksIsRefused) {
    ASSERT_TRUE(zel_test::run_in_agent([] {
        EXPECT_EQ(ZEL_ERR_ZERO_TIMEOUT, zel_eda_set_timer(0));
        EXPECT_FALSE(zel_eda_get_cur()->state & ZEL_EDA_ST_TIMER);
    }));
}

TEST(AgentTimer, ArmingAnArmedTimerReplacesIt) {
    std::vector<char> log;
    Sleeper a(&log, 'a'), b(&log, 'b');
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_set_timer_ex(a.agent.eda(), 40 * kMs));
        EXPECT_EQ(0, zel_eda_set_timer_ex(b.agent.eda(), 60 * kMs));
        EXPECT_EQ(0, zel_eda_set_timer_ex(a.agent.eda(), 1 * kMs));  // earlier
        EXPECT_EQ(0, zel_eda_set_timer_ex(b.agent.eda(), 2 * kMs));  // earlier again
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return log.size() == 2; }));
    EXPECT_EQ((std::vector<char>{'a', 'b'}), log);
    std::this_thread::sleep_for(std::chrono::milliseconds(90));  // past the replaced due ticks
    zel_test::settle();
    EXPECT_EQ(1, a.timeouts);
    EXPECT_EQ(1, b.timeouts);
    zel_test::run_as_irq([&] { EXPECT_EQ(nullptr, a.agent.eda()->timer_node.next); });
}

TEST(AgentTimer, CancelDropsAnExpiryAlreadyQueued) {
    std::vector<char> log;
    Sleeper sleeper(&log, 's');
    bool cancelled = false;
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt == 300) {
            EXPECT_EQ(0, zel_eda_cancel_timer());
            cancelled = true;
        }
        if (evt == ZEL_EVT_TIMER) log.push_back('a');
    });
    zel_test::run_as_irq([&] { a.start(0); });
    zel_test::settle();
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_set_timer_ex(a.eda(), 1));
        while (!zel_systimer_is_due(a.eda()->due)) {}
        // the timer task's expiry run queues 261 behind the 300
        zel_evtq_post_evt(zel_timer_task(), ZEL_EVT_TIMER);
        EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 300));
    }));
    zel_test::settle();
    EXPECT_TRUE(cancelled);
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_set_timer_ex(sleeper.agent.eda(), 5 * kMs)); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return !log.empty(); }));
    EXPECT_EQ((std::vector<char>{'s'}), log) << "the cancelled 261 never arrived";
    ASSERT_TRUE(a.finish());
}

TEST(AgentTimer, DelayInAnAgent) {
    std::vector<uint16_t> results;
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            results.push_back(zel_delay(0));
            results.push_back(zel_delay(2 * kMs));
            EXPECT_TRUE(zel_eda_is_waiting(zel_eda_get_cur()));
            EXPECT_EQ(0, zel_eda_post_evt(zel_eda_get_cur(), 300));
            return;
        }
        results.push_back(zel_delay(2 * kMs));
        if (evt == ZEL_EVT_TIMER) {
            EXPECT_FALSE(zel_eda_is_waiting(zel_eda_get_cur()));
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        }
    });
    zel_test::run_as_irq([&] { a.start(0); });
    ASSERT_TRUE(a.finished().wait());
    EXPECT_EQ((std::vector<uint16_t>{ZEL_EVT_TIMER, 0xFFFF, 300, ZEL_EVT_TIMER}), results);
}

struct Tick {
    zel_callback_timer_t timer;
    std::vector<int> *log;
    int id;
    int rearm;
};

void tick_cb(zel_callback_timer_t *t) {
    Tick *k = reinterpret_cast<Tick *>(t);
    k->log->push_back(k->id);
    EXPECT_EQ(0u, t->due) << "due is cleared before the callback";
    if (k->rearm > 0) {
        k->rearm--;
        EXPECT_EQ(0, zel_callback_timer_add(t, 1 * kMs));
    }
}

Tick make_tick(std::vector<int> *log, int id, int rearm = 0) {
    Tick k{};
    zel_callback_timer_init(&k.timer);
    k.timer.callback = tick_cb;
    k.log = log;
    k.id = id;
    k.rearm = rearm;
    return k;
}

// "Forever" spelled as the largest delay: the due tick stays in the far
// future instead of wrapping into the past and firing at once.
TEST(FarDelays, NeverExpireAtOnce) {
    std::vector<char> log;
    Sleeper agent_timer(&log, 'a');
    Sleeper timed_wait(&log, 'w');
    std::vector<int> ticks;
    Tick callback = make_tick(&ticks, 1);
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_set_timer_ex(agent_timer.agent.eda(), UINT64_MAX - 5));
        zel_eda_set_timeout(timed_wait.agent.eda(), INT64_MAX);
        EXPECT_EQ(0, zel_callback_timer_add(&callback.timer, UINT64_MAX - 5));
    }));
    EXPECT_GT(agent_timer.agent.eda()->due, zel_systimer_get_tick());
    EXPECT_GT(timed_wait.agent.eda()->due, zel_systimer_get_tick());
    EXPECT_GT(callback.timer.due, zel_systimer_get_tick());
    zel_test::settle();
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(ticks.empty());
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_cancel_timer_ex(agent_timer.agent.eda()));
        EXPECT_EQ(0, zel_eda_cancel_timer_ex(timed_wait.agent.eda()));
        EXPECT_EQ(0, zel_callback_timer_remove(&callback.timer));
    }));
}

TEST(CallbackTimer, RunInDueOrderAndCanReArmThemselves) {
    std::vector<int> log;
    Tick t1 = make_tick(&log, 1), t2 = make_tick(&log, 2), t3 = make_tick(&log, 3, 2);
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_callback_timer_add(&t1.timer, 30 * kMs));
        EXPECT_EQ(0, zel_callback_timer_add(&t2.timer, 10 * kMs));
        EXPECT_EQ(0, zel_callback_timer_add(&t3.timer, 20 * kMs));
        uint64_t due = t2.timer.due;
        EXPECT_EQ(ZEL_ERR_STATE, zel_callback_timer_add(&t2.timer, 1));
        EXPECT_EQ(due, t2.timer.due);
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return log.size() == 5; }));
    EXPECT_EQ(2, log[0]);
    EXPECT_EQ(3, log[1]);
    EXPECT_EQ(3, std::count(log.begin(), log.end(), 3));
    EXPECT_EQ(1, std::count(log.begin(), log.end(), 1));
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0u, t1.timer.due);
        EXPECT_EQ(0u, t3.timer.due);
    });
}

TEST(CallbackTimer, RemovedTimerNeverRuns) {
    std::vector<int> log;
    Tick queued = make_tick(&log, 1), due = make_tick(&log, 2), kept = make_tick(&log, 3);
    Agent remover([&](Agent &, zel_evt_t evt) {
        if (evt == 300) {
            EXPECT_EQ(0, zel_callback_timer_remove(&due.timer));
        }
    });
    zel_test::run_as_irq([&] { remover.start(0); });
    zel_test::settle();
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_callback_timer_add(&queued.timer, 20 * kMs));
        EXPECT_EQ(0, zel_callback_timer_remove(&queued.timer));  // from the queue
        EXPECT_EQ(0, zel_callback_timer_add(&due.timer, 1));
        while (!zel_systimer_is_due(due.timer.due)) {}
        // expiry moves the timer to the due list; the remover runs before the callbacks
        zel_evtq_post_evt(zel_timer_task(), ZEL_EVT_TIMER);
        EXPECT_EQ(0, zel_eda_post_evt(remover.eda(), 300));
    }));
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_callback_timer_add(&kept.timer, 30 * kMs)); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return !log.empty(); }));
    EXPECT_EQ((std::vector<int>{3}), log);
    ASSERT_TRUE(remover.finish());
}

TEST(CallbackTimer, InterruptSideAddAndRemove) {
    std::vector<int> log;
    Tick fired = make_tick(&log, 1), removed = make_tick(&log, 2), readded = make_tick(&log, 3);
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, zel_callback_timer_add_isr(&removed.timer, 1 * kMs));
        EXPECT_EQ(0, zel_callback_timer_remove_isr(&removed.timer));  // its 267 is on the way
        EXPECT_EQ(0, zel_callback_timer_add_isr(&readded.timer, 1 * kMs));
        EXPECT_EQ(0, zel_callback_timer_remove_isr(&readded.timer));
        EXPECT_EQ(0, zel_callback_timer_add_isr(&readded.timer, 2 * kMs));
        EXPECT_EQ(ZEL_ERR_STATE, zel_callback_timer_add_isr(&readded.timer, 2 * kMs));
        EXPECT_EQ(0, zel_callback_timer_add_isr(&fired.timer, 10 * kMs));
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return log.size() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    zel_test::settle();
    EXPECT_EQ((std::vector<int>{3, 1}), log);
}

TEST(AgentTimer, ReArmingWithTheExpiryQueuedDeliversOneExpiryAtTheNewDueTick) {
    uint64_t new_due = 0;
    int timeouts = 0;
    int early = 0;
    bool old_expiry_was_queued = false;
    Agent sleeper([&](Agent &, zel_evt_t evt) {
        if (evt != ZEL_EVT_TIMER) return;
        timeouts++;
        if (!zel_systimer_is_due(new_due)) early++;
    });
    Agent rearmer([&](Agent &, zel_evt_t evt) {
        if (evt != 300) return;
        for (zel_evt_node_t *n = sleeper.eda()->pending.head; n; n = n->next)
            if (n->evt == ZEL_EVT_TIMER) old_expiry_was_queued = true;
        EXPECT_EQ(0, zel_eda_set_timer_ex(sleeper.eda(), 20 * kMs));
        new_due = sleeper.eda()->due;
    });
    zel_test::run_as_irq([&] {
        sleeper.start(0);
        rearmer.start(0);
    });
    zel_test::settle();
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_set_timer_ex(sleeper.eda(), 1));
        while (!zel_systimer_is_due(sleeper.eda()->due)) {}
        // the expiry run queues the sleeper's 261; the re-arm comes before it is dispatched
        zel_evtq_post_evt(zel_timer_task(), ZEL_EVT_TIMER);
        EXPECT_EQ(0, zel_eda_post_evt(rearmer.eda(), 300));
    }));
    // once the timer is disarmed and nothing is queued, no further 261 can come
    ASSERT_TRUE(zel_test::wait_until(
        [&] { return timeouts > 0 && !(sleeper.eda()->state & (ZEL_EDA_ST_TIMER | ZEL_EDA_ST_QUEUED)); }));
    EXPECT_TRUE(old_expiry_was_queued);
    EXPECT_EQ(1, timeouts);
    EXPECT_EQ(0, early);
    ASSERT_TRUE(sleeper.finish());
    ASSERT_TRUE(rearmer.finish());
}

// An agent that counts its 261s.
struct Expiries {
    std::atomic<int> count{0};
    Agent agent{[this](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_TIMER) count++;
    }};
    Expiries() {
        zel_test::run_as_irq([&] { agent.start(0); });
    }
    ~Expiries() { EXPECT_TRUE(agent.finish()); }
};

// Runs set-up code as the handler of an agent that lives on: an agent that
// finishes gives its reserve nodes back, which would end a drought begun in
// its handler (as run_in_agent's one-shot agent does).
struct SetupAgent {
    std::function<void()> fn;
    zel_test::Signal done;
    Agent agent{[this](Agent &, zel_evt_t evt) {
        if (evt != 301) return;
        fn();
        done.set();
    }};
    SetupAgent() {
        zel_test::run_as_irq([&] { EXPECT_EQ(0, agent.start(0)); });
        zel_test::settle();
    }
    ~SetupAgent() { EXPECT_TRUE(agent.finish()); }
    bool run(std::function<void()> f) {
        fn = std::move(f);
        done.reset();
        zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_eda_post_evt(agent.eda(), 301)); });
        return done.wait();
    }
};

TEST(AgentTimer, AnExpiryThatFindsNoEventNodeComesOnceNodesAreBack) {
    SetupAgent setup;
    // the timer task's expiry run cannot post the second of two 261s (the
    // first takes the node that the run's own event gave back)
    Expiries e, f;
    zel_test::settle();
    static zel_test::EventNodeDrought *drought;
    Agent ender([&](Agent &, zel_evt_t evt) {
        if (evt != 300) return;
        EXPECT_TRUE((e.agent.eda()->state | f.agent.eda()->state) & ZEL_EDA_ST_TIMER) << "an expiry is still owed";
        delete drought;
    });
    zel_test::run_as_irq([&] { ender.start(0); });
    zel_test::settle();
    ASSERT_TRUE(setup.run([&] {
        EXPECT_EQ(0, zel_eda_set_timer_ex(e.agent.eda(), 1));
        EXPECT_EQ(0, zel_eda_set_timer_ex(f.agent.eda(), 1));
        while (!zel_systimer_is_due(e.agent.eda()->due) || !zel_systimer_is_due(f.agent.eda()->due)) {}
        zel_evtq_post_evt(zel_timer_task(), ZEL_EVT_TIMER);
        EXPECT_EQ(0, zel_eda_post_evt(ender.eda(), 300));
        drought = new zel_test::EventNodeDrought;  // for the expiry run, until the ender's 300
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return e.count.load() == 1 && f.count.load() == 1; }));
    ASSERT_TRUE(ender.finish());

    // the system timer's tick cannot ask the timer task for the run
    Expiries g;
    zel_test::settle();
    uint32_t fired = zel_systimer_fire_count();
    ASSERT_TRUE(setup.run([&] {
        EXPECT_EQ(0, zel_eda_set_timer_ex(g.agent.eda(), 1 * kMs));
        drought = new zel_test::EventNodeDrought;
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_systimer_fire_count() != fired; }));
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, g.count.load());
        delete drought;
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return g.count.load() == 1; }));
}

TEST(CallbackTimer, DueCallbacksRunOnceAnEventNodeIsBack) {
    // the expiry run's one free node goes to an agent's 261 due at the same
    // tick, so the 266 that runs the due callbacks cannot be posted
    Expiries e;
    zel_test::settle();
    static std::atomic<int> ran;
    ran = 0;
    static zel_callback_timer_t cb;
    zel_callback_timer_init(&cb);
    cb.callback = [](zel_callback_timer_t *) { ran++; };
    static zel_test::EventNodeDrought *drought;
    Agent ender([&](Agent &, zel_evt_t evt) {
        if (evt != 300) return;
        EXPECT_EQ(0, ran.load()) << "no 266 could be posted";
        delete drought;
    });
    zel_test::run_as_irq([&] { ender.start(0); });
    SetupAgent setup;
    ASSERT_TRUE(setup.run([&] {
        ASSERT_EQ(0, zel_callback_timer_add(&cb, 1));
        zel_eda_timer_add(e.agent.eda(), cb.due);  // armed later: expires ahead of the timer task
        while (!zel_systimer_is_due(cb.due)) {}
        zel_evtq_post_evt(zel_timer_task(), ZEL_EVT_TIMER);
        EXPECT_EQ(0, zel_eda_post_evt(ender.eda(), 300));
        drought = new zel_test::EventNodeDrought;
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return ran.load() == 1; }));
    EXPECT_EQ(1, e.count.load());
    ASSERT_TRUE(ender.finish());
}

// Waits for `flag` from the test's own thread (not through the kernel,
// which may be busy): false when it is not set within `timeout`.
bool flag_within(const std::atomic<bool> &flag, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!flag.load()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// An agent that posts to itself on every event keeps the kernel from ever
// going idle. The system timer's expiry and another emulated interrupt still
// get in between its dispatches, and the expiry reaches its agent.
TEST(TimerTask, ExpiriesAndInterruptsGetInWhileAgentsStayReady) {
    std::atomic<bool> stop{false}, expired{false}, interrupted{false};
    std::atomic<long> spins{0};
    Agent sleeper([&](Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_TIMER) expired = true;
    });
    Agent busy([&](Agent &self, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            EXPECT_EQ(0, zel_eda_set_timer_ex(sleeper.eda(), 5 * kMs));
        }
        spins++;
        if (!stop.load()) {
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), ZEL_EVT_WAKE));
        }
    });
    zel_test::run_as_irq([&] {
        ASSERT_EQ(0, sleeper.start(0));
        ASSERT_EQ(0, busy.start(0));
    });
    const bool timer_in = flag_within(expired, std::chrono::milliseconds(10000));
    std::thread irq([&] { zel_test::run_as_irq([&] { interrupted = true; }); });
    const bool irq_in = flag_within(interrupted, std::chrono::milliseconds(10000));
    // The agent is still being dispatched after both got in: it never let
    // the kernel go idle.
    const long at_irq = spins.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(10000);
    while (spins.load() <= at_irq + 100 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    const bool went_on = spins.load() > at_irq + 100;
    const bool still_busy = !stop.load();
    stop = true;  // lets everything in, if the loop held it off
    irq.join();
    EXPECT_TRUE(timer_in) << "the timer did not fire while an agent stayed ready";
    EXPECT_TRUE(irq_in) << "the emulated interrupt did not get in while an agent stayed ready";
    EXPECT_TRUE(still_busy);
    EXPECT_TRUE(went_on) << "the agent was not kept ready";
    EXPECT_TRUE(busy.finish());
    EXPECT_TRUE(sleeper.finish());
}

}  // namespace

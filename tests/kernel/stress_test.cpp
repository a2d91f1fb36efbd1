// The kernel under load: host threads post to agents and threads and signal
// from interrupt context while agent and callback timers fire, re-arm and
// cancel, threads make timed waits that unrelated events interrupt, an agent
// is finished and started again under the posts, and now and then no event
// node can be had for a while. Every accepted post is delivered once, every
// expiry comes from a live arming at or after its due tick, every timed wait
// ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "zel_bmpevt.h"
#include "zel_queue.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

const uint64_t kMs = 10000;
const std::chrono::milliseconds kEnds{20000};

uint32_t next_random(uint32_t &x) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

void *as_msg(uintptr_t id) { return reinterpret_cast<void *>(id); }

// An agent that takes messages and, on each, re-arms or cancels its timer.
struct Sink {
    std::vector<uintptr_t> delivered;
    bool armed = false;
    uint64_t due = 0;
    int expiries = 0;
    int bad_expiries = 0;  // without an arming, or before its due tick
    uint32_t rnd;
    Agent agent{[this](Agent &, zel_evt_t evt) { on_event(evt); }};
    explicit Sink(uint32_t seed) : rnd(seed) {}
    void on_event(zel_evt_t evt) {
        if (evt == ZEL_EVT_TIMER) {
            expiries++;
            if (!armed || !zel_systimer_is_due(due)) bad_expiries++;
            armed = false;
            return;
        }
        if (evt != ZEL_EVT_MSG) return;
        delivered.push_back(reinterpret_cast<uintptr_t>(zel_eda_get_cur_msg()));
        // Arm or re-arm for up to half a millisecond, now and then cancel:
        // messages queue ahead of expiries, so many a re-arm or cancel meets
        // a 261 that is already queued.
        uint32_t r = next_random(rnd);
        if (r % 32 == 0) {
            EXPECT_EQ(0, zel_eda_cancel_timer());
            armed = false;
        } else if (r % 8 == 1) {
            EXPECT_EQ(0, zel_eda_set_timer(1 + r % (kMs / 2)));
            armed = true;
            due = zel_eda_get_cur()->due;
        }
    }
};

// What one timed-waiting thread waits on; signalled now and then by the ticker.
struct WaitObjects {
    zel_sync_t sem{};
    zel_bmpevt_t bmp{};
    zel_bmpevt_pender_t pender{};
    zel_eda_queue_t queue{};
    int slots[4] = {};
    unsigned head = 0, tail = 0;
    static void put(zel_eda_queue_t *q, const void *item) {
        WaitObjects *o = reinterpret_cast<WaitObjects *>(reinterpret_cast<char *>(q) - offsetof(WaitObjects, queue));
        o->slots[o->tail++ % 4] = *static_cast<const int *>(item);
    }
    static void take(zel_eda_queue_t *q, void *item) {
        WaitObjects *o = reinterpret_cast<WaitObjects *>(reinterpret_cast<char *>(q) - offsetof(WaitObjects, queue));
        *static_cast<int *>(item) = o->slots[o->head++ % 4];
    }
    void init() {  // kernel context
        queue.enqueue = put;
        queue.dequeue = take;
        pender.mask = 1;
        EXPECT_EQ(0, zel_eda_sync_init(&sem, 0, 0x7FFF));
        EXPECT_EQ(0, zel_eda_bmpevt_init_ex(&bmp, nullptr, 0, 1));
        EXPECT_EQ(0, zel_eda_queue_init(&queue, 4));
    }
    void signal(uint32_t r) {  // kernel context
        int item = 1;
        switch (r % 3) {
        // Under a drought a signal may fail whole (-6), and a full queue
        // takes no item (1): both are what this test provokes.
        case 0: (void)zel_eda_sync_increase(&sem); break;
        case 1: EXPECT_EQ(0, zel_eda_bmpevt_set(&bmp, 1)); break;
        default: (void)zel_eda_queue_send(&queue, &item, 0); break;
        }
    }
};

// A framework thread that makes `rounds` timed waits, cycling through the kinds.
struct Waiter {
    struct Box {
        zel_thread_t th;
        Waiter *self;
    };
    Box box{};
    WaitObjects objs;
    int rounds;
    std::atomic<int> ended{0};        // waits that returned
    std::atomic<int> bad_results{0};  // anything but obtained or timeout
    zel_test::Signal done;
    explicit Waiter(int n) : rounds(n) {
        box.self = this;
        box.th.rec.entry = entry;
        box.th.rec.stack_size = 65536;
        box.th.eda.on_terminate = [](zel_eda_t *eda) { reinterpret_cast<Box *>(eda)->self->done.set(); };
    }
    zel_eda_t *eda() { return &box.th.eda; }
    int32_t start() { return zel_thread_start(&box.th.eda, &box.th.rec, 0); }
    static int entry(zel_thread_rec_t *rec) {
        Waiter &w = *reinterpret_cast<Box *>(zel_thread_of(rec))->self;
        int item = 0;
        for (int i = 0; i < w.rounds; ++i) {
            int64_t timeout = static_cast<int64_t>(1 + i % 3) * kMs;
            int r;
            switch (i % 3) {
            case 0: r = zel_thread_sync_decrease(&w.objs.sem, timeout); break;
            case 1: r = zel_thread_bmpevt_pend(&w.objs.bmp, &w.objs.pender, timeout); break;
            default: r = zel_thread_queue_recv(&w.objs.queue, &item, timeout); break;
            }
            if (r != ZEL_SYNC_OBTAINED && r != ZEL_SYNC_TIMEOUT) w.bad_results++;
            w.ended++;
        }
        return 0;
    }
};

// Callback timers that the ticker arms, removes and re-arms; each callback
// may signal a waiter's objects.
struct Ticks {
    struct Tick {
        zel_callback_timer_t timer;
        Ticks *owner;
        bool armed;
    };
    Tick ticks[6];
    std::vector<Waiter *> waiters;
    uint32_t rnd = 0x9E3779B9u;
    int fired = 0;
    int bad_fires = 0;  // a callback of a timer that was not armed
    static void fire(zel_callback_timer_t *t) {
        Tick *k = reinterpret_cast<Tick *>(t);
        Ticks &o = *k->owner;
        o.fired++;
        if (!k->armed) o.bad_fires++;
        k->armed = false;
        uint32_t r = next_random(o.rnd);
        // every fourth signal finds no event node for its wake: it must fail
        // whole or be kept, never leave a waiter without its wake
        std::unique_ptr<zel_test::EventNodeDrought> none;
        if (r % 4 == 0) none = std::make_unique<zel_test::EventNodeDrought>();
        o.waiters[r % o.waiters.size()]->objs.signal(r >> 8);
        if (r & 0x10000) o.arm(*k, r);
    }
    void init() {
        for (Tick &k : ticks) {
            zel_callback_timer_init(&k.timer);
            k.timer.callback = fire;
            k.owner = this;
            k.armed = false;
        }
    }
    void arm(Tick &k, uint32_t r) {
        if (zel_callback_timer_add(&k.timer, 1 + r % (2 * kMs)) == 0) k.armed = true;
    }
    void shuffle() {  // kernel context: arm, re-arm or remove one timer
        uint32_t r = next_random(rnd);
        Tick &k = ticks[r % 6];
        if (k.armed && (r & 0x100)) {
            EXPECT_EQ(0, zel_callback_timer_remove(&k.timer));
            k.armed = false;
        } else if (!k.armed) {
            arm(k, r);
        }
    }
    void stop() {  // kernel context
        for (Tick &k : ticks) {
            EXPECT_EQ(0, zel_callback_timer_remove(&k.timer));
            k.armed = false;
        }
    }
};

// Now and then a poster holds every free event node over a few of its
// rounds: posts fail, and expiries, signals and queue wakes find no node.
// (The poster ends it: an agent that held it might never get the event that
// ends it.)
struct Drought {
    std::unique_ptr<zel_test::EventNodeDrought> held;
    int left = 0;
    int count = 0;
    void step(uint32_t r) {  // interrupt context
        if (held) {
            if (--left == 0) held.reset();
        } else if (r % 64 == 0) {
            held = std::make_unique<zel_test::EventNodeDrought>();
            left = 1 + static_cast<int>((r >> 6) % 8);
            count++;
        }
    }
};

// An agent with frames that the ticker finishes and starts again, posted to
// while it runs and while it is finished.
struct Phoenix {
    static Phoenix *self;
    zel_eda_t eda{};
    bool alive = false;
    std::vector<uintptr_t> delivered;
    int starts = 0;
    int terminations = 0;
    static void handler(void *, zel_evt_t evt) {
        if (evt == ZEL_EVT_MSG) self->delivered.push_back(reinterpret_cast<uintptr_t>(zel_eda_get_cur_msg()));
    }
    static void terminated(zel_eda_t *) { self->terminations++; }
    void start() {
        zel_eda_start_rec_t rec{handler, terminated, 0, ZEL_EDA_FEAT_FRAMES, 16, 1};
        EXPECT_EQ(0, zel_eda_start_ex(&eda, &rec));
        starts++;
        alive = true;
    }
    void fini() {
        EXPECT_EQ(0, zel_eda_fini(&eda));
        alive = false;
    }
};
Phoenix *Phoenix::self;

TEST(KernelStress, PostsTimersAndTimedWaitsUnderLoad) {
    const int kPosters = 3;
    const int kSinks = 4;
    const int kWaiters = 3;
    const int kWaitRounds = 300;

    std::vector<std::unique_ptr<Sink>> sinks;
    for (int i = 0; i < kSinks; ++i) sinks.push_back(std::make_unique<Sink>(0x1234567u * (i + 1)));
    std::vector<std::unique_ptr<Waiter>> waiters;
    for (int i = 0; i < kWaiters; ++i) waiters.push_back(std::make_unique<Waiter>(kWaitRounds));
    Ticks ticks;
    // the last waiter's objects are never signalled: its waits end by their timeouts alone
    for (int i = 0; i + 1 < kWaiters; ++i) ticks.waiters.push_back(waiters[i].get());
    Phoenix phoenix;
    Phoenix::self = &phoenix;
    Drought drought;
    uint32_t ticker_rnd = 77;
    Agent ticker([&](Agent &, zel_evt_t evt) {
        if (evt != ZEL_EVT_WAKE) return;
        ticks.shuffle();
        uint32_t r = next_random(ticker_rnd);
        if (phoenix.alive && r % 8 == 0)
            phoenix.fini();
        else if (!phoenix.alive && r % 4 == 0 && !drought.held)  // a start needs a frame
            phoenix.start();
    });

    ASSERT_TRUE(zel_test::run_in_agent([&] {
        for (auto &s : sinks) ASSERT_EQ(0, s->agent.start(0));
        for (auto &w : waiters) w->objs.init();
        ticks.init();
        ASSERT_EQ(0, ticker.start(0));
        phoenix.start();
        for (auto &w : waiters) ASSERT_EQ(0, w->start());
    }));

    // Host threads post messages with unique ids to the sinks and the
    // phoenix, unrelated events to the waiting threads, and wakes to the ticker.
    std::atomic<bool> stop{false};
    std::vector<std::vector<uintptr_t>> accepted_by_sink[kPosters];
    std::vector<uintptr_t> accepted_by_phoenix[kPosters];
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        accepted_by_sink[p].resize(kSinks);
        posters.emplace_back([&, p] {
            uint32_t rnd = 0xABCDu + static_cast<uint32_t>(p);
            for (uintptr_t n = 1; !stop.load(); ++n) {
                uintptr_t id = n * kPosters + static_cast<uintptr_t>(p);
                uint32_t r = next_random(rnd);
                zel_test::run_as_irq([&] {
                    int s = static_cast<int>(r % kSinks);
                    if (zel_eda_post_msg(sinks[s]->agent.eda(), as_msg(id)) == 0) accepted_by_sink[p][s].push_back(id);
                    if (zel_eda_post_msg(&phoenix.eda, as_msg(id)) == 0) accepted_by_phoenix[p].push_back(id);
                    // A drought may refuse these: only the messages are counted.
                    (void)zel_eda_post_evt(waiters[r % kWaiters]->eda(), ZEL_EVT_WAKE);
                    (void)zel_eda_post_evt(ticker.eda(), ZEL_EVT_WAKE);
                    // now and then an interrupt-side signal of an empty object
                    // of a signalled waiter (through the timer task)
                    WaitObjects &o = waiters[(r >> 8) % (kWaiters - 1)]->objs;
                    int item = 2;
                    if (r % 512 == 1 && o.sem.count == 0)
                        (void)zel_eda_sync_increase_from_irq(&o.sem);  // a drought may refuse it
                    if (r % 512 == 2 && zel_eda_queue_get_count(&o.queue) == 0)
                        (void)zel_eda_queue_send_isr(&o.queue, &item);  // a drought may refuse it
                    if (p == 0) drought.step(r >> 8);
                });
                if (r % 16 == 0) std::this_thread::yield();
            }
        });
    }

    bool all_ended = true;
    for (auto &w : waiters) {
        if (!w->done.wait(kEnds)) {
            all_ended = false;
            ADD_FAILURE() << "a timed wait did not end: " << w->ended.load() << " of " << kWaitRounds;
        }
    }
    stop = true;
    for (auto &t : posters) t.join();
    zel_test::run_as_irq([&] { drought.held.reset(); });
    ASSERT_TRUE(all_ended);  // the objects of a blocked thread must outlive it

    size_t accepted_total = 0;
    for (int p = 0; p < kPosters; ++p)
        for (int s = 0; s < kSinks; ++s) accepted_total += accepted_by_sink[p][s].size();
    // The posters got in between dispatches: messages may still be queued,
    // and each may re-arm or cancel a sink's timer. They go first.
    ASSERT_TRUE(zel_test::wait_until([&] {
        size_t delivered = 0;
        for (auto &s : sinks) delivered += s->delivered.size();
        return delivered >= accepted_total;
    }));
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        ticks.stop();
        EXPECT_EQ(0, zel_eda_fini(ticker.eda()));
        if (phoenix.alive) phoenix.fini();
        for (auto &s : sinks) {  // one last arming each, which must expire
            EXPECT_EQ(0, zel_eda_set_timer_ex(s->agent.eda(), 1 + kMs));
            s->armed = true;
            s->due = s->agent.eda()->due;
        }
    }));
    ASSERT_TRUE(zel_test::wait_until([&] {
        size_t delivered = 0;
        bool armed = false;
        for (auto &s : sinks) {
            delivered += s->delivered.size();
            armed = armed || s->armed;
        }
        return delivered >= accepted_total && !armed;
    }));
    zel_test::settle();

    for (int s = 0; s < kSinks; ++s) {
        std::vector<uintptr_t> accepted;
        for (int p = 0; p < kPosters; ++p)
            accepted.insert(accepted.end(), accepted_by_sink[p][s].begin(), accepted_by_sink[p][s].end());
        std::vector<uintptr_t> delivered = sinks[s]->delivered;
        std::sort(accepted.begin(), accepted.end());
        std::sort(delivered.begin(), delivered.end());
        EXPECT_EQ(accepted, delivered) << "sink " << s << ": every accepted post once, nothing else";
        EXPECT_EQ(0, sinks[s]->bad_expiries) << "sink " << s;
        EXPECT_GT(sinks[s]->expiries, 0) << "sink " << s;
    }
    for (auto &w : waiters) {
        EXPECT_EQ(kWaitRounds, w->ended.load());
        EXPECT_EQ(0, w->bad_results.load());
    }
    EXPECT_EQ(0, ticks.bad_fires);
    EXPECT_GT(ticks.fired, 0);
    EXPECT_GT(drought.count, 0);

    EXPECT_EQ(phoenix.starts, phoenix.terminations) << "each start ends in one termination";
    std::set<uintptr_t> accepted_phoenix;
    for (auto &v : accepted_by_phoenix) accepted_phoenix.insert(v.begin(), v.end());
    std::set<uintptr_t> seen;
    for (uintptr_t id : phoenix.delivered) {
        EXPECT_TRUE(accepted_phoenix.count(id)) << "delivered without being accepted: " << id;
        EXPECT_TRUE(seen.insert(id).second) << "delivered twice: " << id;
    }
    for (auto &s : sinks) ASSERT_TRUE(s->agent.finish());
}

}  // namespace

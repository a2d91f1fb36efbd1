// Emulated interrupts: idle hand-over, the protect flag and the log ring.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "zel_host_test_hooks.h"
#include "zel_test.h"

using zel_test::Agent;

namespace {

// Waits until the kernel has been asleep for a while (nothing pending).
uint32_t quiet_wakeups() {
    zel_test::settle();
    uint32_t w;
    do {
        w = zel_host_idle_wakeups();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    } while (w != zel_host_idle_wakeups());
    return w;
}

TEST(Idle, KernelSleepsUntilAnInterruptPostsAnEvent) {
    zel_test::Signal got;
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt == 266) got.set();
    });
    zel_test::run_as_irq([&] { a.start(0); });
    uint32_t w0 = quiet_wakeups();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(w0, zel_host_idle_wakeups()) << "an idle kernel stays in its wait";

    zel_host_thread_t record{};
    strcpy(record.name, "poster");
    zel_host_irq_enter(&record);
    EXPECT_EQ(&record, zel_host_irq_running());
    EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
    zel_host_irq_leave(&record, 0);
    ASSERT_TRUE(got.wait());
    EXPECT_EQ(w0 + 1, zel_host_idle_wakeups()) << "one leave, one wake";

    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_fini(a.eda())); });
}

// The log records written since `seq`.
std::vector<zel_host_irq_log_t> log_since(uint32_t seq) {
    std::vector<zel_host_irq_log_t> log(1024), since;
    log.resize(zel_host_irq_log_read(log.data(), log.size()));
    for (auto &r : log)
        if (r.seq >= seq) since.push_back(r);
    return since;
}

// Waits from the test's thread until the log holds a record of `kind` by
// `context` since `seq` (a bounded wait).
bool logged(uint32_t seq, uint32_t kind, const zel_host_thread_t *context) {
    for (int i = 0; i < 20000; ++i) {
        for (auto &r : log_since(seq))
            if (r.kind == kind && r.context == context) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Two contexts, the second announced while the first holds the lock: the
// first leave does not wake the idle kernel, the last one does. A round
// counts when the kernel was out of the way from the first entry to the
// last leave (nobody else counted, the kernel not on its way back from an
// earlier wake); the log tells, so nothing depends on time.
TEST(Idle, OnlyTheLastOfTwoInterruptContextsWakesTheKernel) {
    zel_host_thread_t first{}, second{};
    strcpy(first.name, "first");
    strcpy(second.name, "second");
    bool counted = false;
    for (int round = 0; round < 200 && !counted; ++round) {
        zel_test::settle();
        const uint32_t seq = zel_host_irq_log_seq();
        zel_host_irq_enter(&first);
        // Nobody else counted when it came (so the gate was open, and stays
        // open while it holds the lock), nor when it got in.
        bool first_alone = false;
        for (auto &r : log_since(seq))
            if (r.context == &first && r.kind <= 2)
                first_alone = r.kind == 1 ? r.value == 0 : first_alone && r.value == 1;
        if (!first_alone) {
            zel_host_irq_leave(&first, 0);
            continue;
        }
        const uint32_t wakes = zel_host_irq_leave_wakes();
        std::atomic<bool> let_go{false};
        std::thread other([&] {
            zel_host_irq_enter(&second);  // blocks until `first` leaves
            while (!let_go.load()) std::this_thread::yield();
            zel_host_irq_leave(&second, 0);
        });
        const bool announced = logged(seq, 1, &second);
        zel_host_irq_leave(&first, 0);
        const bool second_in = announced && logged(seq, 2, &second);
        const uint32_t after_first = zel_host_irq_leave_wakes();
        let_go = true;
        other.join();
        const uint32_t after_last = zel_host_irq_leave_wakes();
        ASSERT_TRUE(second_in) << "the second context did not get in";

        // Only the two contexts from the first entry to the last leave?
        std::vector<uint32_t> leave_values;
        bool alone = true;
        for (auto &r : log_since(seq)) {
            if (r.kind == 4) continue;  // the protect flag
            if (r.context != &first && r.context != &second) {
                alone = false;
                continue;
            }
            if (r.kind == 3) {
                leave_values.push_back(r.value);
                if (r.context == &second) break;
            }
        }
        if (!alone) continue;
        counted = true;
        EXPECT_EQ(wakes, after_first) << "the first leave does not wake the kernel";
        EXPECT_EQ(wakes + 1, after_last) << "the last one does";
        EXPECT_EQ((std::vector<uint32_t>{2, 1}), leave_values) << "counter before each leave";
    }
    EXPECT_TRUE(counted) << "no round had the kernel out of the way";
}

// Eight host threads entering and leaving back to back, their contexts
// overlapping, while the kernel is idle: it gets in and runs what is posted
// to it while they keep going. How long it was kept out is counted in their
// entries, not in time: once the contexts that are in have left, the kernel
// is next, so a handful of entries pass; a kernel kept out sees hundreds of
// thousands.
TEST(Idle, OverlappingContextsDoNotKeepTheIdleKernelOut) {
    constexpr int kRounds = 5;
    constexpr long kEntriesAtMost = 100000;
    std::atomic<bool> stop{false};
    std::atomic<long> entries{0}, at_run{0};
    std::atomic<int> ran{0};
    Agent a([&](Agent &, zel_evt_t evt) {
        if (evt != 266) return;
        at_run = entries.load();
        ran++;
    });
    zel_test::run_as_irq([&] { ASSERT_EQ(0, a.start(0)); });
    zel_test::settle();
    std::vector<std::thread> hammers;
    for (int i = 0; i < 8; ++i)
        hammers.emplace_back([&] {
            while (!stop.load()) zel_test::run_as_irq([&] { entries++; });
        });
    std::vector<long> kept_out;
    for (int round = 1; round <= kRounds; ++round) {
        long at_post = 0;
        zel_test::run_as_irq([&] {
            EXPECT_EQ(0, zel_eda_post_evt(a.eda(), 266));
            at_post = entries.load();
        });
        // Waits from the test's thread, not through the kernel; the bound
        // only turns a kernel that never gets in into a failure.
        for (int i = 0; i < 20000 && ran.load() < round; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (ran.load() < round) break;
        kept_out.push_back(at_run.load() - at_post);
    }
    stop = true;
    for (auto &t : hammers) t.join();
    ASSERT_EQ(static_cast<size_t>(kRounds), kept_out.size()) << "the agent did not run";
    for (long n : kept_out) EXPECT_LE(n, kEntriesAtMost) << "entries made while the kernel was kept out";
    EXPECT_TRUE(a.finish());
}

// Host threads that enter again as soon as they leave, while an agent keeps
// the kernel busy: the kernel lets in those that wait between its
// dispatches, and gets the lock back before the ones that come again.
TEST(HandOver, ContextsThatComeAgainAndAgainDoNotKeepTheKernelOut) {
    std::atomic<bool> stop{false};
    std::atomic<long> dispatched{0}, entries{0};
    Agent busy([&](Agent &self, zel_evt_t) {
        dispatched++;
        if (!stop.load()) {
            EXPECT_EQ(0, zel_eda_post_evt(self.eda(), 266));
        }
    });
    zel_test::run_as_irq([&] { ASSERT_EQ(0, busy.start(0)); });
    std::vector<std::thread> hammers;
    for (int i = 0; i < 8; ++i)
        hammers.emplace_back([&] {
            while (!stop.load()) zel_test::run_as_irq([&] { entries++; });
        });
    // Waits from the test's thread, not through the kernel.
    auto grew = [](const std::atomic<long> &counter, long by) {
        const long from = counter.load();
        for (int i = 0; i < 10000; ++i) {
            if (counter.load() >= from + by) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    };
    const bool kernel_ran = grew(dispatched, 5000);
    const bool contexts_ran = grew(entries, 500);
    stop = true;
    for (auto &t : hammers) t.join();
    EXPECT_TRUE(kernel_ran) << "the kernel was kept out: " << dispatched.load() << " dispatches";
    EXPECT_TRUE(contexts_ran) << "the contexts were kept out: " << entries.load() << " entries";
    EXPECT_TRUE(busy.finish());
}

TEST(Protect, FlagNestsAndLogsOnlyChanges) {
    zel_test::run_as_irq([] {
        uint8_t entry = zel_host_irq_restore(1);
        uint32_t seq = zel_host_irq_log_seq();
        EXPECT_EQ(1, zel_host_irq_disable());
        EXPECT_EQ(0, zel_host_irq_disable());
        EXPECT_EQ(0, zel_host_irq_restore(1));
        EXPECT_EQ(1, zel_host_irq_restore(1));
        EXPECT_EQ(1, zel_host_irq_enable());
        std::vector<zel_host_irq_log_t> log(64);
        log.resize(zel_host_irq_log_read(log.data(), log.size()));
        std::vector<uint32_t> values;
        for (auto &r : log)
            if (r.seq >= seq && r.kind == 4) values.push_back(r.value);
        EXPECT_EQ((std::vector<uint32_t>{0, 1}), values);
        zel_host_irq_restore(entry);
    });
}

TEST(Log, RingKeepsTheNewest1024RecordsInOrder) {
    for (int i = 0; i < 600; ++i) zel_test::run_as_irq([] {});
    uint32_t seq_before = zel_host_irq_log_seq();
    std::vector<zel_host_irq_log_t> log(2000);
    size_t n = zel_host_irq_log_read(log.data(), log.size());
    ASSERT_EQ(1024u, n);
    for (size_t i = 1; i < n; ++i) ASSERT_EQ(log[i - 1].seq + 1, log[i].seq);
    EXPECT_GE(log[n - 1].seq + 1, seq_before) << "the newest record is last";
    EXPECT_STREQ("por", zel_host_irq_main_record()->name);
}

// The holder of the lock changes the protect flag again and again while
// contexts arrive and log themselves before they wait: no record is lost or
// doubled, and the holder's changes stay in their order.
TEST(Log, FlagChangesOfTheHolderAndArrivingContextsShareTheRing) {
    zel_test::boot();  // contexts enter only once the host port is set up
    constexpr int kComers = 4;
    zel_host_thread_t holder{};
    strcpy(holder.name, "holder");
    zel_host_thread_t comers[kComers] = {};
    zel_host_irq_enter(&holder);
    const uint8_t entry = zel_host_irq_restore(1);
    std::vector<std::thread> threads;
    for (auto &c : comers) {
        strcpy(c.name, "comer");
        threads.emplace_back([&c] {
            zel_host_irq_enter(&c);  // blocks until the holder leaves
            zel_host_irq_leave(&c, 0);
        });
    }
    bool announced[kComers] = {};
    int seen = 0;
    std::vector<zel_host_irq_log_t> newest(64);
    // Bounded: a context that never arrives fails the case instead of hanging it.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen < kComers && std::chrono::steady_clock::now() < give_up) {
        for (int i = 0; i < 16; ++i) {
            zel_host_irq_disable();
            zel_host_irq_restore(1);
        }
        newest.resize(zel_host_irq_log_read(newest.data(), 64));
        for (auto &r : newest)
            for (int k = 0; k < kComers; ++k)
                if (r.kind == 1 && r.context == &comers[k] && !announced[k]) {
                    announced[k] = true;
                    seen++;
                }
        newest.resize(64);
    }
    std::vector<zel_host_irq_log_t> log(1024);
    log.resize(zel_host_irq_log_read(log.data(), log.size()));
    zel_host_irq_restore(entry);
    zel_host_irq_leave(&holder, 0);
    for (auto &t : threads) t.join();
    ASSERT_EQ(kComers, seen) << "every context logged its arrival";
    int comer_records = 0;
    int64_t last_flag = -1;
    for (size_t i = 0; i < log.size(); ++i) {
        if (i) {
            ASSERT_EQ(log[i - 1].seq + 1, log[i].seq) << "record " << i;
        }
        ASSERT_TRUE(log[i].kind >= 1 && log[i].kind <= 4);
        for (auto &c : comers)
            if (log[i].context == &c) comer_records++;
        if (log[i].kind == 4 && log[i].context == &holder) {
            if (last_flag >= 0) {
                EXPECT_NE(last_flag, log[i].value) << "record " << i;
            }
            last_flag = log[i].value;
        }
    }
    EXPECT_LE(comer_records, kComers) << "each arrival once, nothing else of theirs while they wait";
}

}  // namespace

// A host thread that asks for interrupt context before the kernel has set
// the host port up (the console's input thread may) gets in only after the
// set-up: the counts stay right, so the idle kernel is still woken for the
// work that interrupts post later. Before, the set-up wiped the count of the
// context already in and the kernel slept through every later post.
TEST(Idle, AContextThatComesBeforeTheSetUpGetsInAfterIt) {
    static zel_host_thread_t early{};
    strcpy(early.name, "early");
    std::atomic<bool> entered{false};
    std::thread t([&] {
        zel_host_irq_enter(&early);
        entered = true;
        // Held until the kernel has begun its set-up (it names its own
        // record there), so that the set-up runs while this context is in.
        while (std::strcmp(zel_host_irq_main_record()->name, "por") != 0) std::this_thread::yield();
        zel_host_irq_leave(&early, 0);
    });
    // Gives the thread its chance to come first; it may as well wait for the
    // set-up (the outcome is the same either way).
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!entered.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    zel_test::boot();
    t.join();
    EXPECT_TRUE(zel_test::run_in_agent([] {})) << "the idle kernel was not woken for a posted agent";
    EXPECT_TRUE(zel_test::run_in_agent([] {}));
}

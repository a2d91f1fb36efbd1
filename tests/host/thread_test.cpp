// Host wake objects and host threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "zel_host.h"
#include "zel_host_end.h"
#include "zel_host_internal.h"
#include "zel_host_test_hooks.h"

namespace {

using namespace std::chrono_literals;

bool wait_for(const std::function<bool()> &pred) {
    for (int i = 0; i < 10000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// Waits for a two-thread hand-over to run all its rounds; when it is stuck,
// fails the test and sends on both objects so that both ends run out.
void finish_rounds(const std::atomic<int> &rounds, int total, std::atomic<bool> &stop, zel_host_request_t *one,
    zel_host_request_t *other) {
    const bool finished = wait_for([&] { return rounds.load() == total; });
    EXPECT_TRUE(finished) << "stuck after round " << rounds.load();
    if (finished) return;
    stop = true;
    for (int i = 0; i < 4; ++i) {
        zel_host_request_send(one);
        zel_host_request_send(other);
        std::this_thread::sleep_for(5ms);
    }
}

TEST(WakeObject, SendBeforeTheWaitIsKeptAndRepeatedSendsCollapse) {
    zel_host_request_t req;
    zel_host_request_init(&req);
    EXPECT_EQ(1, req.initialised);
    zel_host_request_send(&req);
    zel_host_request_send(&req);
    EXPECT_EQ(0, zel_host_request_pend(&req));  // returns at once
    std::atomic<bool> second{false};
    std::thread t([&] {
        zel_host_request_pend(&req);
        second = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(second.load()) << "the two sends collapsed into one";
    zel_host_request_send(&req);
    t.join();
    EXPECT_TRUE(second.load());
    zel_host_request_fini(&req);
    EXPECT_EQ(0, req.initialised);
}

TEST(WakeObject, EachSendReleasesOneWaiter) {
    zel_host_request_t req;
    zel_host_request_init(&req);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            zel_host_request_pend(&req);
            released++;
        });
    std::this_thread::sleep_for(50ms);  // let them block
    zel_host_request_send(&req);
    zel_host_request_send(&req);
    ASSERT_TRUE(wait_for([&] { return released.load() == 2; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(2, released.load());
    zel_host_request_send(&req);
    for (auto &w : waiters) w.join();
    EXPECT_EQ(3, released.load());
    zel_host_request_fini(&req);
}

// A hand-over ping-pong between two host threads over pend_soon: each
// round's send is taken by exactly that round's wait, whether it comes while
// the waiter still looks for it or after the waiter went to sleep.
TEST(WakeObject, PendSoonTakesEachSendOnceWhetherItComesAtOnceOrLate) {
    constexpr int kRounds = 3000;
    zel_host_request_t ping, pong;
    zel_host_request_init(&ping);
    zel_host_request_init(&pong);
    std::atomic<int> turn{0}, answered{0}, mismatches{0};
    std::atomic<bool> stop{false};
    std::thread b([&] {
        for (int r = 1; r <= kRounds && !stop.load(); ++r) {
            zel_host_request_pend_soon(&ping);
            if (turn.load() != r) mismatches++;
            answered = r;
            if (r % 5 == 0) std::this_thread::sleep_for(100us);  // A is asleep by now
            zel_host_request_send(&pong);
        }
    });
    std::atomic<int> rounds{0};
    std::thread a([&] {
        for (int r = 1; r <= kRounds && !stop.load(); ++r) {
            turn = r;
            if (r % 7 == 0) std::this_thread::sleep_for(100us);  // B is asleep by now
            zel_host_request_send(&ping);
            zel_host_request_pend_soon(&pong);
            if (answered.load() != r) mismatches++;
            rounds = r;
        }
    });
    finish_rounds(rounds, kRounds, stop, &ping, &pong);
    a.join();
    b.join();
    EXPECT_EQ(0, mismatches.load());
    EXPECT_EQ(kRounds, rounds.load());

    // A send made before the wait is kept for it, and taken only once.
    zel_host_request_send(&ping);
    EXPECT_EQ(0, zel_host_request_pend_soon(&ping));
    std::atomic<bool> woke{false};
    std::thread late([&] {
        zel_host_request_pend_soon(&ping);
        woke = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(woke.load()) << "the earlier send was taken twice";
    zel_host_request_send(&ping);
    EXPECT_TRUE(wait_for([&] { return woke.load(); }));
    late.join();
    zel_host_request_fini(&ping);
    zel_host_request_fini(&pong);
}

// The kernel's idle wait right after hand-overs looks for its wake-up as a
// hand-over does: each send is still taken once, early or late.
TEST(WakeObject, IdleWaitAfterHandoversTakesEachSendOnce) {
    constexpr int kRounds = 2000;
    zel_host_request_t idle, back;
    zel_host_request_init(&idle);
    zel_host_request_init(&back);
    std::atomic<int> taken{0};
    std::atomic<bool> stop{false};
    std::thread kernel([&] {
        for (int r = 1; r <= kRounds && !stop.load(); ++r) {
            zel_host_request_pend_idle(&idle);
            taken = r;
            zel_host_request_send(&back);
        }
    });
    std::atomic<int> rounds{0}, mismatches{0};
    std::thread handing([&] {
        for (int r = 1; r <= kRounds && !stop.load(); ++r) {
            if (r % 7 == 0) std::this_thread::sleep_for(100us);  // the waiter is asleep by now
            zel_host_request_send(&idle);
            zel_host_request_pend_soon(&back);
            if (taken.load() != r) mismatches++;
            rounds = r;
        }
    });
    finish_rounds(rounds, kRounds, stop, &idle, &back);
    handing.join();
    kernel.join();
    EXPECT_EQ(0, mismatches.load());
    EXPECT_EQ(kRounds, taken.load()) << "a send was taken twice or lost";
    zel_host_request_fini(&idle);
    zel_host_request_fini(&back);
}

// A hand-over wait looks for its send only while sends come within the
// window: answers that always come late (the other side sleeps 2 ms first)
// make it back off, and one answer that is there at once makes the next
// wait look again.
TEST(WakeObject, HandOverWaitsStopLookingWhileAnswersComeLateAndLookAgainWhenOneComesAtOnce) {
    constexpr int kRounds = 120;
    zel_host_request_t ping, pong;
    zel_host_request_init(&ping);
    zel_host_request_init(&pong);
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    uint32_t late_looks = 0, look_after_quick = 0;
    std::thread answering([&] {
        for (int r = 0; r < kRounds && !stop.load(); ++r) {
            zel_host_request_pend(&ping);
            std::this_thread::sleep_for(2ms);
            zel_host_request_send(&pong);
        }
    });
    // A host thread of its own: its wait history starts fresh.
    std::thread waiting([&] {
        const uint32_t s0 = zel_host_handover_spins();
        for (int r = 1; r <= kRounds && !stop.load(); ++r) {
            zel_host_request_send(&ping);
            zel_host_request_pend_soon(&pong);
            rounds = r;
        }
        late_looks = zel_host_handover_spins() - s0;
        zel_host_request_send(&pong);
        zel_host_request_pend_soon(&pong);  // answered at once
        const uint32_t s1 = zel_host_handover_spins();
        zel_host_request_send(&pong);
        zel_host_request_pend_soon(&pong);
        look_after_quick = zel_host_handover_spins() - s1;
    });
    finish_rounds(rounds, kRounds, stop, &ping, &pong);
    waiting.join();
    answering.join();
    EXPECT_LE(late_looks, kRounds / 8u) << "a wait looked for a send that never came in time, again and again";
    EXPECT_GE(late_looks, 1u);
    EXPECT_EQ(1u, look_after_quick) << "an answer that came at once did not make the next wait look";
    zel_host_request_fini(&ping);
    zel_host_request_fini(&pong);
}

// The wait for the answer to one's own send looks for it when that send
// found the other side awake, and sleeps at once when it woke the other
// side up: the answer cannot come before that wake-up.
// The kernel's wait for a hand-back sleeps at once when it has just come out
// of its idle wait and its send woke a sleeping thread (work that comes now
// and then); between back-to-back hand-overs it looks, even after waking a
// sleeper, or both sides would sleep for good.
TEST(WakeObject, AnswerWaitSleepsAtOnceOnlyAfterIdleAndWakingASleeper) {
    zel_host_request_t ask, answer, idle;
    zel_host_request_init(&ask);
    zel_host_request_init(&answer);
    zel_host_request_init(&idle);
    std::atomic<int> go{0};
    uint32_t looks_awake = 0, looks_asleep = 0, looks_asleep_after_idle = 0;
    std::thread other([&] {
        for (int r = 1; r <= 3; ++r) {
            while (go.load() < r) std::this_thread::yield();
            zel_host_request_pend(&ask);
            zel_host_request_send(&answer);
        }
    });
    std::thread asking([&] {
        // The other side is not waiting yet: the send is kept for it.
        zel_host_request_send(&ask);
        go = 1;
        uint32_t s = zel_host_handover_spins();
        zel_host_request_pend_answer(&answer);
        looks_awake = zel_host_handover_spins() - s;
        // Now it sleeps in its wait before the send.
        go = 2;
        EXPECT_TRUE(wait_for([&] { return zel_host_request_sleepers(&ask) == 1; }));
        zel_host_request_send(&ask);
        s = zel_host_handover_spins();
        zel_host_request_pend_answer(&answer);
        looks_asleep = zel_host_handover_spins() - s;
        // Out of an idle wait (its wake-up already sent), then the same.
        zel_host_request_send(&idle);
        zel_host_request_pend_idle(&idle);
        go = 3;
        EXPECT_TRUE(wait_for([&] { return zel_host_request_sleepers(&ask) == 1; }));
        zel_host_request_send(&ask);
        s = zel_host_handover_spins();
        zel_host_request_pend_answer(&answer);
        looks_asleep_after_idle = zel_host_handover_spins() - s;
    });
    asking.join();
    other.join();
    EXPECT_EQ(1u, looks_awake);
    EXPECT_EQ(1u, looks_asleep);
    EXPECT_EQ(0u, looks_asleep_after_idle);
    zel_host_request_fini(&ask);
    zel_host_request_fini(&answer);
    zel_host_request_fini(&idle);
}

struct Probe {
    zel_host_thread_t record{};
    zel_host_request_t wake{};
    std::atomic<uint32_t> seen_id{0};
    std::atomic<int> runs{0};
    std::atomic<int> after_park{0};
};

Probe *g_probe;

void parking_entry(zel_host_thread_t *record) {
    g_probe->seen_id = zel_host_thread_self_id();
    g_probe->runs++;
    zel_host_request_pend(record->wake);
    g_probe->after_park++;
}

std::string comm_of(uint32_t tid) {
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string s;
    std::getline(f, s);
    return s;
}

TEST(HostThread, StartKeepsTheWholeNameAndReportsItsId) {
    Probe p;
    g_probe = &p;
    zel_host_request_init(&p.wake);
    p.record.wake = &p.wake;
    const char *name = "a_rather_long_thread_name_x";
    uint32_t id = zel_host_thread_start(&p.record, name, parking_entry, 0);
    ASSERT_NE(0u, id);
    EXPECT_EQ(id, p.record.id);
    EXPECT_NE(0u, p.record.handle);
    EXPECT_STREQ(name, p.record.name);
    ASSERT_TRUE(wait_for([&] { return p.runs.load() == 1; }));
    EXPECT_EQ(id, p.seen_id.load());
    EXPECT_EQ("a_rather_long_t", comm_of(id)) << "the host sees 15 characters";
    zel_host_request_send(&p.wake);
    ASSERT_TRUE(wait_for([&] { return p.after_park.load() == 1; }));
    zel_host_request_fini(&p.wake);
}

TEST(HostThread, RestartLetsTheParkedThreadLeaveAndStartsAFreshOne) {
    Probe p;
    g_probe = &p;
    zel_host_request_init(&p.wake);
    p.record.wake = &p.wake;
    uint32_t first = zel_host_thread_start(&p.record, "restarted", parking_entry, 0);
    ASSERT_NE(0u, first);
    ASSERT_TRUE(wait_for([&] { return p.runs.load() == 1; }));
    uint32_t generation = p.record.generation;
    ASSERT_EQ(0, zel_host_thread_restart(&p.record));
    ASSERT_TRUE(wait_for([&] { return p.runs.load() == 2; }));
    EXPECT_NE(first, p.record.id);
    EXPECT_EQ(generation + 1, p.record.generation);
    EXPECT_EQ(1, p.wake.initialised) << "a fresh wake object";
    ASSERT_TRUE(wait_for([&] { return comm_of(first).empty(); })) << "the old host thread is gone";
    EXPECT_EQ(0, p.after_park.load());
    zel_host_request_send(&p.wake);  // the new thread parks on the fresh object
    ASSERT_TRUE(wait_for([&] { return p.after_park.load() == 1; }));
    zel_host_request_fini(&p.wake);
}

TEST(HostThread, CreationFailureLeavesNoHandle) {
    zel_host_thread_t record{};
    zel_host_fail_thread_creations(1);
    EXPECT_EQ(0u, zel_host_thread_start(
                      &record, "never", [](zel_host_thread_t *) {}, 0));
    EXPECT_EQ(0u, record.handle);
    zel_host_fail_thread_creations(1);
    EXPECT_EQ(-7, zel_host_thread_restart(&record));
}

// The signal watcher's thread refused, then its signal descriptor: an
// error code each time, no signal taken over, the mask as it was, and the
// next try takes them over.
TEST(HostThread, ASignalWatcherTheHostRefusesIsAnErrorAndMayBeTriedAgain) {
    struct sigaction before = {};
    ASSERT_EQ(0, sigaction(SIGHUP, nullptr, &before));
    const uint32_t creations = zel_host_thread_creation_count();
    zel_host_fail_thread_creations(1);
    EXPECT_EQ(ZEL_HOST_ENOMEM, zel_host_end_watch_signals());
    EXPECT_EQ(creations + 1, zel_host_thread_creation_count());
    struct sigaction now = {};
    ASSERT_EQ(0, sigaction(SIGHUP, nullptr, &now));
    EXPECT_EQ(before.sa_handler, now.sa_handler) << "a signal was taken over";
    sigset_t mask;
    ASSERT_EQ(0, pthread_sigmask(SIG_SETMASK, nullptr, &mask));
    EXPECT_EQ(0, sigismember(&mask, SIGHUP)) << "the mask was left changed";
    // Room for the watcher's pipe (the two lowest free descriptors) and no
    // more: the watcher starts, its signal descriptor is refused.
    std::vector<int> free_fds;
    for (int fd = 0; free_fds.size() < 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0) free_fds.push_back(fd);
    rlimit limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    const rlimit lowered = {static_cast<rlim_t>(free_fds[1] + 1), limit.rlim_max};
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &lowered));
    const int refused = zel_host_end_watch_signals();
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    EXPECT_EQ(ZEL_HOST_EMFILE, refused);
    EXPECT_EQ(creations + 2, zel_host_thread_creation_count()) << "the watcher did not start";
    ASSERT_EQ(0, sigaction(SIGHUP, nullptr, &now));
    EXPECT_EQ(before.sa_handler, now.sa_handler) << "a signal was taken over";
    ASSERT_EQ(0, pthread_sigmask(SIG_SETMASK, nullptr, &mask));
    EXPECT_EQ(0, sigismember(&mask, SIGHUP)) << "the mask was left changed";
    EXPECT_EQ(0, zel_host_end_watch_signals());
    // Taken over: blocked here and on the threads started from now on,
    // read by the watcher alone.
    ASSERT_EQ(0, pthread_sigmask(SIG_SETMASK, nullptr, &mask));
    for (int s : {SIGINT, SIGTERM, SIGHUP}) EXPECT_EQ(1, sigismember(&mask, s)) << s;
    ASSERT_TRUE(wait_for([] {
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(entry.path() / "comm");
            std::string name;
            if (std::getline(comm, name) && name == "end_watch") return true;
        }
        return false;
    }));
    EXPECT_EQ(0, zel_host_end_watch_signals()) << "once started, it stays";
    EXPECT_EQ(creations + 2, zel_host_thread_creation_count());
}

TEST(HostThread, ExitEndsTheCallingHostThread) {
    static std::atomic<int> before, after;
    before = 0;
    after = 0;
    zel_host_thread_t record{};
    uint32_t id = zel_host_thread_start(
        &record, "exiting",
        [](zel_host_thread_t *) {
            before++;
            zel_host_thread_exit();
            after++;
        },
        0);
    ASSERT_NE(0u, id);
    ASSERT_TRUE(wait_for([&] { return before.load() == 1 && comm_of(id).empty(); }));
    EXPECT_EQ(0, after.load());
}

TEST(HostHeap, BlocksAreSixteenByteAligned) {
    EXPECT_EQ(16u, zel_host_heap_alignment());
    for (size_t size : {1u, 7u, 24u, 100u}) {
        void *p = zel_host_heap_malloc(size);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 16);
        EXPECT_GE(zel_host_heap_size(p), size);
        zel_host_heap_free(p);
    }
}

}  // namespace

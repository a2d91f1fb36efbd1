// Host wake objects and host threads.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "zel_host.h"

namespace {

using namespace std::chrono_literals;

bool wait_for(const std::function<bool()> &pred) {
    for (int i = 0; i < 10000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
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

// Two threads pass control back and forth as the kernel and a framework
// thread do: each send lands either while the other side still looks for it
// or after it went to sleep (every few rounds the sender dawdles past the
// look). No send may be lost or taken twice.
TEST(WakeObject, HandoverPendsTakeEverySendOnce) {
    zel_host_request_t to_a, to_b;
    zel_host_request_init(&to_a);
    zel_host_request_init(&to_b);
    constexpr int kRounds = 20000;
    std::atomic<int> a_rounds{0}, b_rounds{0};
    std::atomic<bool> stop{false};
    std::thread b([&] {
        for (int i = 0; i < kRounds && !stop; ++i) {
            zel_host_request_pend_handover(&to_b);
            if (i % 97 == 0) std::this_thread::sleep_for(200us);
            b_rounds++;
            zel_host_request_send(&to_a);
        }
    });
    std::thread a([&] {
        for (int i = 0; i < kRounds && !stop; ++i) {
            if (i % 89 == 0) std::this_thread::sleep_for(200us);
            zel_host_request_send(&to_b);
            zel_host_request_pend_handover(&to_a);
            a_rounds++;
        }
    });
    const bool finished = wait_for([&] { return a_rounds.load() == kRounds; });
    EXPECT_TRUE(finished) << "stuck after " << a_rounds.load() << " rounds";
    if (!finished) {  // let both leave
        stop = true;
        for (int i = 0; i < 4; ++i) {
            zel_host_request_send(&to_a);
            zel_host_request_send(&to_b);
        }
    }
    a.join();
    b.join();
    EXPECT_EQ(kRounds, b_rounds.load());
    // A send before the pend is kept: the pend returns at once.
    zel_host_request_send(&to_a);
    EXPECT_EQ(0, zel_host_request_pend_handover(&to_a));
    zel_host_request_fini(&to_a);
    zel_host_request_fini(&to_b);
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
    EXPECT_EQ(0u, zel_host_thread_start(&record, "never", [](zel_host_thread_t *) {}, 0));
    EXPECT_EQ(0u, record.handle);
    zel_host_fail_thread_creations(1);
    EXPECT_EQ(-7, zel_host_thread_restart(&record));
}

TEST(HostThread, ExitEndsTheCallingHostThread) {
    static std::atomic<int> before, after;
    before = 0;
    after = 0;
    zel_host_thread_t record{};
    uint32_t id = zel_host_thread_start(&record, "exiting", [](zel_host_thread_t *) {
        before++;
        zel_host_thread_exit();
        after++;
    }, 0);
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

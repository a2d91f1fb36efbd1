// Descriptors: numbering, sharing, the event algebra, poll, event counters.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <utility>

#include "zel_host_test_hooks.h"
#include "zel_linux_eventfd.h"
#include "zel_linux_file.h"
#include "zel_linux_pthread.h"
#include "zel_linux_stream_fd.h"
#include "zel_linux_test.h"

using zel_linux_test::run_process;

namespace {

uint64_t ms(uint32_t n) { return zel_systimer_ms_to_tick(n); }

// A descriptor with a bare private part (no class): only its events matter.
int bare_fd() { return zel_linux_fd_create(nullptr, nullptr); }

zel_linux_fd_priv_t *priv_of(int fd) { return zel_linux_fd_get(fd)->priv; }

TEST(LinuxFd, NumbersAreTheLowestFreeAndDuplicatesShareTheirPart) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(3, bare_fd());
        EXPECT_EQ(4, bare_fd());
        EXPECT_EQ(0, zel_linux_close(3));
        EXPECT_EQ(3, bare_fd());
        EXPECT_EQ(-1, zel_linux_close(200));

        int efd = zel_linux_eventfd_create(0, 0);
        EXPECT_EQ(5, efd);
        EXPECT_EQ(-1, zel_linux_fcntl(efd, ZEL_LINUX_F_DUPFD, 4));  // taken: exactly that number or nothing
        EXPECT_EQ(9, zel_linux_fcntl(efd, ZEL_LINUX_F_DUPFD, 9));
        EXPECT_EQ(priv_of(efd), priv_of(9));
        EXPECT_EQ(2u, priv_of(9)->refs);
        uint64_t three = 3;
        EXPECT_EQ(8, zel_linux_write(9, &three, 8));
        EXPECT_EQ(0, zel_linux_close(efd));
        uint64_t got = 0;
        EXPECT_EQ(8, zel_linux_read(9, &got, 8));
        EXPECT_EQ(3u, got);
        EXPECT_EQ(0, zel_linux_close(9));

        // No memory for the record: ENOMEM, and nothing taken.
        *zel_linux_errno_ptr() = 0;
        uint32_t kernel_before = zel_linux_test::kernel_blocks();
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(-1, bare_fd());
        EXPECT_EQ(ZEL_LINUX_ENOMEM, *zel_linux_errno_ptr());
        EXPECT_EQ(kernel_before, zel_linux_test::kernel_blocks());
        EXPECT_EQ(5, bare_fd());
        zel_linux_close(5);

        // Every number in use: creation fails and changes nothing.
        uint32_t before = zel_linux_get_cur_process()->tracker.count;
        int made = 0;
        while (bare_fd() >= 0) ++made;
        EXPECT_EQ(256 - 5, made);
        uint32_t full = zel_linux_get_cur_process()->tracker.count;
        EXPECT_EQ(-1, bare_fd());
        EXPECT_EQ(-1, zel_linux_fd_create_ex(nullptr, nullptr, nullptr, 256, nullptr));
        EXPECT_EQ(full, zel_linux_get_cur_process()->tracker.count);
        for (int n = 5; n < 256; ++n) zel_linux_close(n);
        EXPECT_EQ(before, zel_linux_get_cur_process()->tracker.count);
        return 0;
    }));
}

TEST(LinuxFd, ReadAndWriteNeedTheRightEntryAndAccess) {
    EXPECT_EQ(0, run_process([] {
        char c = 0;
        EXPECT_EQ(-1, zel_linux_read(77, &c, 1));
        EXPECT_EQ(-1, zel_linux_write(77, &c, 1));
        int fds[2];
        EXPECT_EQ(0, zel_linux_pipe(fds));
        EXPECT_EQ(-1, zel_linux_write(fds[0], "x", 1));  // a read end has no write entry
        EXPECT_EQ(-1, zel_linux_read(fds[1], &c, 1));    // nor a write end a read entry
        int efd = zel_linux_eventfd_create(1, 0);
        EXPECT_EQ(0, zel_linux_fcntl(efd, ZEL_LINUX_F_SETFL, ZEL_LINUX_O_WRONLY));
        uint64_t v = 0;
        EXPECT_EQ(-1, zel_linux_read(efd, &v, 8));  // write-only
        EXPECT_EQ(ZEL_LINUX_O_WRONLY, zel_linux_fcntl(efd, ZEL_LINUX_F_GETFL, 0));
        EXPECT_EQ(0, zel_linux_fcntl(efd, ZEL_LINUX_F_SETFD, ZEL_LINUX_FD_CLOEXEC));
        EXPECT_EQ(ZEL_LINUX_FD_CLOEXEC, zel_linux_fcntl(efd, ZEL_LINUX_F_GETFD, 0));
        EXPECT_EQ(-1, zel_linux_fcntl(123, ZEL_LINUX_F_GETFD, 0));
        return 0;
    }));
}

TEST(LinuxFd, InterruptSideRaisesAreEdgeTriggeredAndStickyEventsStay) {
    zel_linux_test::boot();
    static zel_linux_fd_priv_t priv;
    priv = {};
    zel_test::run_as_irq([] { zel_linux_fd_set_events_isr(&priv, ZEL_LINUX_EV_READ); });
    EXPECT_EQ(ZEL_LINUX_EV_READ, priv.pending);
    zel_linux_fd_consume_events(&priv, ZEL_LINUX_EV_READ);
    // The condition still holds: a second raise is no new event.
    zel_test::run_as_irq([] { zel_linux_fd_set_events_isr(&priv, ZEL_LINUX_EV_READ); });
    EXPECT_EQ(0, priv.pending);
    zel_linux_fd_clear_events(&priv, ZEL_LINUX_EV_READ);
    zel_test::run_as_irq([] { zel_linux_fd_set_events_isr(&priv, ZEL_LINUX_EV_READ); });
    EXPECT_EQ(ZEL_LINUX_EV_READ, priv.pending);
    // Sticky bits survive consumption.
    priv.sticky = ZEL_LINUX_EV_READ;
    zel_linux_fd_clear_events(&priv, ZEL_LINUX_EV_READ | ZEL_LINUX_EV_WRITE);
    EXPECT_EQ(ZEL_LINUX_EV_READ, priv.pending);

    EXPECT_EQ(0, run_process([] {
        int fd = bare_fd();
        zel_linux_fd_priv_t *p = priv_of(fd);
        p->sticky = ZEL_LINUX_EV_READ;
        zel_linux_fd_set_events(p, ZEL_LINUX_EV_READ);
        for (int i = 0; i < 3; ++i) {
            zel_linux_pollfd e{fd, ZEL_LINUX_POLLIN, 0};
            EXPECT_EQ(1, zel_linux_poll(&e, 1, 0));
            EXPECT_EQ(ZEL_LINUX_POLLIN, e.revents);
        }
        return 0;
    }));
}

TEST(LinuxFd, PollReportsReadyEntriesAndTimesOut) {
    EXPECT_EQ(0, run_process([] {
        int quiet = bare_fd();
        int ready = bare_fd();
        zel_linux_fd_set_events(priv_of(ready), ZEL_LINUX_EV_WRITE);
        zel_linux_pollfd e[3] = {
            {quiet, ZEL_LINUX_POLLIN, 7}, {250, ZEL_LINUX_POLLIN, 7}, {ready, ZEL_LINUX_POLLOUT, 0}};
        EXPECT_EQ(1, zel_linux_poll(e, 3, 0));
        EXPECT_EQ(0, e[0].revents);
        EXPECT_EQ(0, e[1].revents);  // missing: not ready, not an error
        EXPECT_EQ(ZEL_LINUX_POLLOUT, e[2].revents);
        // Reported and not held by a condition: gone.
        EXPECT_EQ(0, zel_linux_poll(e, 3, 0));
        EXPECT_EQ(0, zel_linux_poll(e, 3, 20));
        EXPECT_EQ(0, zel_linux_poll(nullptr, 0, 5));  // a sleep
        // Woken by another thread.
        int fds[2];
        zel_linux_pipe(fds);
        zel_linux_pthread_t t;
        zel_linux_pthread_create(
            &t, nullptr,
            [](void *arg) -> void * {
                zel_thread_delay(zel_systimer_ms_to_tick(5));
                zel_linux_write(*static_cast<int *>(arg), "z", 1);
                return nullptr;
            },
            &fds[1]);
        zel_linux_pollfd p{fds[0], ZEL_LINUX_POLLIN, 0};
        EXPECT_EQ(1, zel_linux_poll(&p, 1, -1));
        EXPECT_EQ(ZEL_LINUX_POLLIN, p.revents);
        zel_linux_pthread_join(t, nullptr);
        // Our waiters are gone again.
        EXPECT_EQ(0u, zel_linux_fd_waiter_count(priv_of(fds[0])));
        EXPECT_EQ(0u, zel_linux_fd_waiter_count(priv_of(quiet)));
        return 0;
    }));
}

// Timeouts at the edge of what a tick count holds: microseconds beyond a
// second, and seconds that put the due tick far away. Such a wait must sleep
// until its descriptor is ready, with the timer thread asleep as well.
TEST(LinuxFd, SelectWithFarTimeoutsSleepsUntilReady) {
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        zel_linux_pipe(fds);
        EXPECT_EQ(1, zel_linux_write(fds[1], "a", 1));
        zel_linux_fd_set r{};
        r.fds_bits[0] = 1L << fds[0];
        zel_linux_timeval many_usec{0, LONG_MAX};
        EXPECT_EQ(1, zel_linux_select(fds[0] + 1, &r, nullptr, nullptr, &many_usec));
        char c;
        EXPECT_EQ(1, zel_linux_read(fds[0], &c, 1));
        zel_thread_delay(zel_systimer_ms_to_tick(500));  // the wrapped due time lies in the past

        // 18446744074 s in nanoseconds passes 2^64 by a fraction of a second.
        for (zel_linux_timeval far : {zel_linux_timeval{18446744074, 0},
                 zel_linux_timeval{INT64_MAX / 20000000 - 1, 999999}, zel_linux_timeval{INT64_MAX, LONG_MAX}}) {
            zel_linux_pthread_t t;
            zel_linux_pthread_create(
                &t, nullptr,
                [](void *) -> void * {
                    zel_thread_delay(zel_systimer_ms_to_tick(20));
                    zel_linux_write(fds[1], "z", 1);
                    return nullptr;
                },
                nullptr);
            const uint32_t waits = zel_systimer_wait_count();
            r.fds_bits[0] = 1L << fds[0];
            EXPECT_EQ(1, zel_linux_select(fds[0] + 1, &r, nullptr, nullptr, &far));
            EXPECT_LE(zel_systimer_wait_count() - waits, 20u) << "the timer thread spins";
            EXPECT_EQ(1, zel_linux_read(fds[0], &c, 1));
            zel_linux_pthread_join(t, nullptr);
        }
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    }));
}

TEST(LinuxFd, PollLeavesAnotherWaitersRegistrationAlone) {
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        zel_linux_pipe(fds);
        static std::atomic<int> got;
        got = -2;
        zel_linux_pthread_t reader;
        zel_linux_pthread_create(
            &reader, nullptr,
            [](void *) -> void * {
                char c = 0;
                got = static_cast<int>(zel_linux_read(fds[0], &c, 1));
                return nullptr;
            },
            nullptr);
        for (int i = 0; i < 2000 && zel_linux_fd_waiter_count(priv_of(fds[0])) == 0; ++i) zel_thread_delay(ms(1));
        IN_LAYER_CHECK(zel_linux_fd_waiter_count(priv_of(fds[0])) == 1);
        const zel_linux_fd_waiter_t *reader_waiter =
            ZEL_CONTAINER_OF(priv_of(fds[0])->waiters.head, zel_linux_fd_waiter_t, node);
        // Another waiter polls the same pipe and gives up.
        int other = bare_fd();
        zel_linux_pollfd e[2] = {{fds[0], ZEL_LINUX_POLLIN, 0}, {other, ZEL_LINUX_POLLIN, 0}};
        EXPECT_EQ(0, zel_linux_poll(e, 2, 10));
        EXPECT_EQ(1u, zel_linux_fd_waiter_count(priv_of(fds[0])));
        EXPECT_EQ(&reader_waiter->node, priv_of(fds[0])->waiters.head);
        EXPECT_EQ(ZEL_LINUX_EV_READ, reader_waiter->wanted);
        // The reader is still the one that the data wakes.
        EXPECT_EQ(1, zel_linux_write(fds[1], "q", 1));
        zel_linux_pthread_join(reader, nullptr);
        EXPECT_EQ(1, got.load());
        return 0;
    }));
}

// Two threads wait on one pipe without end, both in poll or one in read:
// data that stays readable wakes both. Many rounds, each with a bounded wait.
TEST(LinuxFd, EveryWaiterOnAPartIsWokenWhenItBecomesReady) {
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        static std::atomic<int> woken;
        static std::atomic<int> polled;
        auto poller = [](void *) -> void * {
            zel_linux_pollfd e{fds[0], ZEL_LINUX_POLLIN, 0};
            if (zel_linux_poll(&e, 1, -1) == 1 && e.revents == ZEL_LINUX_POLLIN) ++polled;
            ++woken;
            return nullptr;
        };
        auto reader = [](void *) -> void * {
            char c = 0;
            if (zel_linux_read(fds[0], &c, 1) == 1 && c == 'w') ++polled;
            ++woken;
            return nullptr;
        };
        constexpr int kRounds = 40;
        int rounds = 0;
        for (int round = 0; round < kRounds; ++round) {
            IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
            woken = 0;
            polled = 0;
            zel_linux_pthread_t t[2];
            zel_linux_pthread_create(&t[0], nullptr, round % 2 ? reader : poller, nullptr);
            zel_linux_pthread_create(&t[1], nullptr, poller, nullptr);
            for (int i = 0; i < 2000 && zel_linux_fd_waiter_count(priv_of(fds[0])) < 2; ++i) zel_thread_delay(ms(1));
            IN_LAYER_CHECK(zel_linux_fd_waiter_count(priv_of(fds[0])) == 2);
            // Two bytes: a reader takes one and leaves the pipe readable.
            IN_LAYER_CHECK(zel_linux_write(fds[1], "ww", 2) == 2);
            for (int i = 0; i < 2000 && woken < 2; ++i) zel_thread_delay(ms(1));
            IN_LAYER_CHECK(woken == 2);
            zel_linux_pthread_join(t[0], nullptr);
            zel_linux_pthread_join(t[1], nullptr);
            IN_LAYER_CHECK(polled == 2);
            zel_linux_close(fds[0]);
            zel_linux_close(fds[1]);
            ++rounds;
        }
        return rounds == kRounds ? 0 : 1;
    }));
}

// Two threads wait without end on one idle pipe (two polls, two reads, or
// one of each): both are listed on its part, and neither looks at it again
// while it stays idle: over twenty sleeps of a peer, the timer fires for
// those sleeps alone. Data then wakes both.
TEST(LinuxFd, TwoIdleWaitersOnOnePartNeverLookAgain) {
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        static std::atomic<int> woken;
        auto poller = [](void *) -> void * {
            zel_linux_pollfd e{fds[0], ZEL_LINUX_POLLIN, 0};
            if (zel_linux_poll(&e, 1, -1) == 1) ++woken;
            return nullptr;
        };
        auto reader = [](void *) -> void * {
            char c = 0;
            if (zel_linux_read(fds[0], &c, 1) == 1) ++woken;
            return nullptr;
        };
        constexpr uint32_t kSleeps = 20;
        const std::pair<void *(*)(void *), void *(*)(void *)> pairs[] = {
            {poller, poller}, {reader, reader}, {poller, reader}};
        for (const auto &[first, second] : pairs) {
            IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
            woken = 0;
            zel_linux_pthread_t t[2];
            IN_LAYER_CHECK(zel_linux_pthread_create(&t[0], nullptr, first, nullptr) == 0);
            IN_LAYER_CHECK(zel_linux_pthread_create(&t[1], nullptr, second, nullptr) == 0);
            for (int i = 0; i < 2000 && zel_linux_fd_waiter_count(priv_of(fds[0])) < 2; ++i) zel_thread_delay(ms(1));
            IN_LAYER_CHECK(zel_linux_fd_waiter_count(priv_of(fds[0])) == 2);
            const uint32_t fired = zel_systimer_fire_count();
            for (uint32_t i = 0; i < kSleeps; ++i) zel_thread_delay(ms(5));
            EXPECT_LE(zel_systimer_fire_count() - fired, kSleeps + 2) << "a waiter looks again on its own";
            EXPECT_EQ(0, woken.load());
            IN_LAYER_CHECK(zel_linux_write(fds[1], "ww", 2) == 2);
            zel_linux_pthread_join(t[0], nullptr);
            zel_linux_pthread_join(t[1], nullptr);
            EXPECT_EQ(2, woken.load());
            zel_linux_close(fds[0]);
            zel_linux_close(fds[1]);
        }
        return 0;
    }));
}

TEST(LinuxFd, PollIsWokenWhenAWatchedNumberCloses) {
    EXPECT_EQ(0, run_process([] {
        static int fd;
        fd = bare_fd();
        static int dup;
        dup = zel_linux_fcntl(fd, ZEL_LINUX_F_DUPFD, 20);
        zel_linux_pthread_t closer;
        zel_linux_pthread_create(
            &closer, nullptr,
            [](void *) -> void * {
                zel_thread_delay(zel_systimer_ms_to_tick(3));
                zel_linux_close(dup);
                return nullptr;
            },
            nullptr);
        zel_linux_pollfd e{dup, ZEL_LINUX_POLLIN, 0};
        EXPECT_EQ(0, zel_linux_poll(&e, 1, 30));
        zel_linux_pthread_join(closer, nullptr);
        // The part that lives on through `fd` keeps no waiter of a finished poll.
        EXPECT_EQ(0u, zel_linux_fd_waiter_count(priv_of(fd)));
        return 0;
    }));
}

TEST(LinuxFd, EventCounterCountsAndWaits) {
    EXPECT_EQ(0, run_process([] {
        int fd = zel_linux_eventfd_create(0, 0);
        uint64_t v = 3;
        EXPECT_EQ(-1, zel_linux_write(fd, &v, 4));
        EXPECT_EQ(8, zel_linux_write(fd, &v, 8));
        EXPECT_EQ(0, zel_linux_eventfd_eof(zel_linux_fd_get(fd)));
        zel_linux_pollfd e{fd, ZEL_LINUX_POLLIN, 0};
        EXPECT_EQ(1, zel_linux_poll(&e, 1, 0));
        EXPECT_EQ(-1, zel_linux_read(fd, &v, 4));
        v = 0;
        EXPECT_EQ(8, zel_linux_read(fd, &v, 8));
        EXPECT_EQ(3u, v);
        EXPECT_EQ(1, zel_linux_eventfd_eof(zel_linux_fd_get(fd)));
        EXPECT_EQ(0, zel_linux_poll(&e, 1, 0));

        // Non-blocking and empty: would block.
        zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_read(fd, &v, 8));
        EXPECT_EQ(ZEL_LINUX_EAGAIN, *zel_linux_errno_ptr());
        zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, 0);

        // Blocking: woken by a writer.
        zel_linux_pthread_t t;
        zel_linux_pthread_create(
            &t, nullptr,
            [](void *arg) -> void * {
                zel_thread_delay(zel_systimer_ms_to_tick(5));
                uint64_t two = 2;
                zel_linux_write(*static_cast<int *>(arg), &two, 8);
                return nullptr;
            },
            &fd);
        EXPECT_EQ(8, zel_linux_read(fd, &v, 8));
        EXPECT_EQ(2u, v);
        zel_linux_pthread_join(t, nullptr);

        // Semaphore mode is the counter's own, apart from O_WRONLY.
        int sem = zel_linux_eventfd_create(3, 1);
        EXPECT_EQ(0, zel_linux_fcntl(sem, ZEL_LINUX_F_GETFL, 0));
        EXPECT_EQ(8, zel_linux_read(sem, &v, 8));
        EXPECT_EQ(3u, v);
        EXPECT_EQ(8, zel_linux_read(sem, &v, 8));
        EXPECT_EQ(2u, v);
        EXPECT_EQ(1, zel_linux_poll(&(e = {sem, ZEL_LINUX_POLLIN, 0}), 1, 0));
        return 0;
    }));
}

// The counter never wraps: a write that would pass the largest count
// 0xfffffffffffffffe waits for a read, or would block when non-blocking.
TEST(LinuxFd, EventCounterNeverWraps) {
    EXPECT_EQ(0, run_process([] {
        constexpr uint64_t kLargest = 0xfffffffffffffffeu;
        auto err = [] { return std::exchange(*zel_linux_errno_ptr(), 0); };
        static int fd;
        fd = zel_linux_eventfd_create(kLargest - 1, 0);
        zel_linux_pollfd e{fd, ZEL_LINUX_POLLOUT, 0};
        EXPECT_EQ(1, zel_linux_poll(&e, 1, 0)) << "room for one";
        uint64_t v = UINT64_MAX;
        EXPECT_EQ(-1, zel_linux_write(fd, &v, 8));
        EXPECT_EQ(22, err()) << "EINVAL: no count is that large";
        v = 1;
        EXPECT_EQ(8, zel_linux_write(fd, &v, 8));
        EXPECT_EQ(0, zel_linux_poll(&e, 1, 0)) << "full";
        zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
        EXPECT_EQ(-1, zel_linux_write(fd, &v, 8));
        EXPECT_EQ(ZEL_LINUX_EAGAIN, err());
        zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, 0);

        // Blocking: the write waits until a read makes room.
        static std::atomic<long> wrote;
        wrote = -2;
        zel_linux_pthread_t writer;
        zel_linux_pthread_create(
            &writer, nullptr,
            [](void *) -> void * {
                uint64_t two = 2;
                wrote = zel_linux_write(fd, &two, 8);
                return nullptr;
            },
            nullptr);
        for (int i = 0; i < 2000 && zel_linux_fd_waiter_count(priv_of(fd)) == 0; ++i) zel_thread_delay(ms(1));
        EXPECT_EQ(1u, zel_linux_fd_waiter_count(priv_of(fd))) << "the writer waits";
        EXPECT_EQ(-2, wrote.load());
        EXPECT_EQ(8, zel_linux_read(fd, &v, 8));
        EXPECT_EQ(kLargest, v);
        zel_linux_pthread_join(writer, nullptr);
        EXPECT_EQ(8, wrote.load());
        EXPECT_EQ(1, zel_linux_poll(&e, 1, 0));
        EXPECT_EQ(8, zel_linux_read(fd, &v, 8));
        EXPECT_EQ(2u, v);
        zel_linux_close(fd);
        return 0;
    }));
}

TEST(LinuxFd, BlockingEventCounterReadsEndWithTheValueOrTheirNumbersClose) {
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        static int fd;
        static long got;
        static uint64_t value;
        static int error;
        auto reader = [](void *) -> void * {
            *zel_linux_errno_ptr() = 0;
            got = zel_linux_read(fd, &value, 8);
            error = *zel_linux_errno_ptr();
            return nullptr;
        };
        zel_linux_pthread_t t;

        // Semaphore mode: what is left after a read that waited stays
        // readable for poll.
        fd = zel_linux_eventfd_create(0, 1);
        zel_linux_pthread_create(&t, nullptr, reader, nullptr);
        while (zel_linux_fd_waiter_count(priv_of(fd)) == 0) zel_thread_delay(ms(1));
        uint64_t three = 3;
        EXPECT_EQ(8, zel_linux_write(fd, &three, 8));
        zel_linux_pthread_join(t, nullptr);
        EXPECT_EQ(8, got);
        EXPECT_EQ(3u, value);
        zel_linux_pollfd e{fd, ZEL_LINUX_POLLIN, 0};
        EXPECT_EQ(1, zel_linux_poll(&e, 1, 0)) << "two are left";
        EXPECT_EQ(8, zel_linux_read(fd, &value, 8));
        EXPECT_EQ(2u, value);
        zel_linux_close(fd);

        // The number goes while the read waits: -1 with EBADF, and the
        // read's release is the last one.
        fd = zel_linux_eventfd_create(0, 0);
        const zel_linux_fd_priv_t *part = priv_of(fd);
        zel_linux_pthread_create(&t, nullptr, reader, nullptr);
        while (zel_linux_fd_waiter_count(part) == 0) zel_thread_delay(ms(1));
        EXPECT_EQ(0, zel_linux_close(fd));
        zel_linux_pthread_join(t, nullptr);
        EXPECT_EQ(-1, got);
        EXPECT_EQ(9, error) << "EBADF";
        EXPECT_EQ(base, zel_linux_test::kernel_blocks()) << "the part is freed";
        return 0;
    }));
}

}  // namespace

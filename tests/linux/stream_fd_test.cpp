// Stream descriptors: pipes and the console terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "zel_host_test_hooks.h"
#include "zel_linux_console.h"
#include "zel_linux_file.h"
#include "zel_linux_pthread.h"
#include "zel_linux_stream_fd.h"
#include "zel_linux_test.h"
#include "zel_stream_heapnode.h"

using zel_linux_test::run_process;

namespace {

std::string read_some(int fd, size_t n = 64) {
    std::string buf(n, '\0');
    long got = zel_linux_read(fd, buf.data(), n);
    return got < 0 ? "<" + std::to_string(got) + ">" : buf.substr(0, static_cast<size_t>(got));
}

bool readable(int fd) {
    zel_linux_pollfd e{fd, ZEL_LINUX_POLLIN, 0};
    return zel_linux_poll(&e, 1, 0) == 1 && e.revents == ZEL_LINUX_POLLIN;
}

// What a poll that does not wait reports for the descriptor.
short revents(int fd, short events) {
    zel_linux_pollfd e{fd, events, 0};
    zel_linux_poll(&e, 1, 0);
    return e.revents;
}

int eof_of(int fd) { return zel_linux_pipe_rx_eof(zel_linux_fd_get(fd)); }

TEST(LinuxPipe, ReaderSeesTheDataThenTheEndOnceTheWriterHasGone) {
    EXPECT_EQ(0, run_process([] {
        int fds[2];
        EXPECT_EQ(0, zel_linux_pipe(fds));
        zel_linux_pollfd w{fds[1], ZEL_LINUX_POLLOUT, 0};
        EXPECT_EQ(1, zel_linux_poll(&w, 1, 0));  // always room
        EXPECT_EQ(6, zel_linux_write(fds[1], "abcdef", 6));
        EXPECT_TRUE(readable(fds[0]));
        EXPECT_EQ(0, zel_linux_close(fds[1]));
        // Hung up, and readable for what is left, whatever the poll asked.
        constexpr short kHungUp = ZEL_LINUX_POLLIN | ZEL_LINUX_POLLHUP;
        EXPECT_EQ(kHungUp, revents(fds[0], ZEL_LINUX_POLLIN));
        EXPECT_EQ(ZEL_LINUX_POLLHUP, revents(fds[0], 0));
        // The end of the file comes after what is left, not when the writer goes.
        EXPECT_EQ(0, eof_of(fds[0]));
        EXPECT_EQ("abc", read_some(fds[0], 3));
        EXPECT_EQ("def", read_some(fds[0]));
        EXPECT_EQ(0, eof_of(fds[0])) << "no read has found the end yet";
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(kHungUp, revents(fds[0], ZEL_LINUX_POLLIN));
            EXPECT_EQ("", read_some(fds[0]));
            EXPECT_EQ(1, eof_of(fds[0]));
        }
        // Non-blocking makes no difference at the end of the data.
        zel_linux_fcntl(fds[0], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
        EXPECT_EQ("", read_some(fds[0]));
        EXPECT_EQ(0, zel_linux_close(fds[0]));
        return 0;
    }));
}

TEST(LinuxPipe, EmptyNonBlockingReadWouldBlockInsteadOfEnding) {
    EXPECT_EQ(0, run_process([] {
        int fds[2];
        zel_linux_pipe(fds);
        zel_linux_fcntl(fds[0], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ("<-1>", read_some(fds[0]));
        EXPECT_EQ(ZEL_LINUX_EAGAIN, *zel_linux_errno_ptr());
        zel_linux_write(fds[1], "x", 1);
        EXPECT_EQ("x", read_some(fds[0]));
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    }));
}

TEST(LinuxPipe, WritingAfterTheReaderHasGoneFails) {
    EXPECT_EQ(0, run_process([] {
        int fds[2];
        zel_linux_pipe(fds);
        zel_linux_write(fds[1], "left over", 9);
        EXPECT_EQ(ZEL_LINUX_POLLOUT, revents(fds[1], ZEL_LINUX_POLLOUT));
        EXPECT_EQ(0, zel_linux_close(fds[0]));  // frees the stream and what it held
        EXPECT_EQ(1, zel_linux_pipe_tx_eof(zel_linux_fd_get(fds[1])));
        // An error from now on, whatever the poll asked.
        EXPECT_EQ(ZEL_LINUX_POLLOUT | ZEL_LINUX_POLLERR, revents(fds[1], ZEL_LINUX_POLLOUT));
        EXPECT_EQ(ZEL_LINUX_POLLERR, revents(fds[1], 0));
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_write(fds[1], "more", 4));
        EXPECT_EQ(ZEL_LINUX_EPIPE, *zel_linux_errno_ptr());
        EXPECT_EQ(0, zel_linux_close(fds[1]));
        return 0;
    }));
}

uint32_t held(int read_end) {
    const auto *rx = reinterpret_cast<const zel_linux_pipe_rx_priv_t *>(zel_linux_fd_get(read_end)->priv);
    return reinterpret_cast<const zel_stream_heapnode_t *>(rx->stream.rx)->data;
}

// A pipe holds 64 KiB: a non-blocking writer takes what fits, then would
// block until the reader makes room. Writable says that a write of 4096
// bytes goes in whole: a few bytes of room do not make it so.
TEST(LinuxPipe, APipeHoldsSixtyFourKibibytes) {
    EXPECT_EQ(0, run_process([] {
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        zel_linux_fcntl(fds[1], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
        std::string big(100000, 'x');
        EXPECT_EQ(ZEL_LINUX_PIPE_CAPACITY, zel_linux_write(fds[1], big.data(), big.size()));
        EXPECT_EQ(static_cast<uint32_t>(ZEL_LINUX_PIPE_CAPACITY), held(fds[0]));
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_write(fds[1], "y", 1));
        EXPECT_EQ(ZEL_LINUX_EAGAIN, *zel_linux_errno_ptr());
        zel_linux_pollfd w{fds[1], ZEL_LINUX_POLLOUT, 0};
        EXPECT_EQ(0, zel_linux_poll(&w, 1, 0));
        EXPECT_EQ(1u, read_some(fds[0], 1).size());
        EXPECT_EQ(0, zel_linux_poll(&w, 1, 0)) << "one byte of room";
        EXPECT_EQ(ZEL_LINUX_PIPE_ATOMIC - 2u, read_some(fds[0], ZEL_LINUX_PIPE_ATOMIC - 2).size());
        EXPECT_EQ(0, zel_linux_poll(&w, 1, 0)) << "one byte short of a whole small write";
        EXPECT_EQ(1u, read_some(fds[0], 1).size());
        EXPECT_EQ(1, zel_linux_poll(&w, 1, 0));
        EXPECT_EQ(ZEL_LINUX_POLLOUT, w.revents);
        EXPECT_EQ(ZEL_LINUX_PIPE_ATOMIC, zel_linux_write(fds[1], big.data(), big.size()));
        EXPECT_EQ(0, zel_linux_poll(&w, 1, 0));
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    }));
}

// A write of at most 4096 bytes goes whole or not at all: with less room a
// non-blocking one would block, and a blocking one waits until all of it
// fits (several writers' records never interleave).
TEST(LinuxPipe, SmallWritesGoWholeOrNotAtAll) {
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        zel_linux_fcntl(fds[1], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
        const std::string fill(ZEL_LINUX_PIPE_CAPACITY - 100, 'f');
        IN_LAYER_CHECK(zel_linux_write(fds[1], fill.data(), fill.size()) == static_cast<long>(fill.size()));
        const std::string record(ZEL_LINUX_PIPE_ATOMIC, 'r');
        for (size_t n : {size_t{101}, size_t{ZEL_LINUX_PIPE_ATOMIC}}) {
            *zel_linux_errno_ptr() = 0;
            EXPECT_EQ(-1, zel_linux_write(fds[1], record.data(), n)) << n;
            EXPECT_EQ(ZEL_LINUX_EAGAIN, *zel_linux_errno_ptr());
            EXPECT_EQ(fill.size(), held(fds[0]));
        }
        // More than 4096 bytes may go in part; a small write that fits goes.
        const std::string more(ZEL_LINUX_PIPE_ATOMIC + 1, 'm');
        EXPECT_EQ(100, zel_linux_write(fds[1], more.data(), more.size()));
        EXPECT_EQ(100u, read_some(fds[0], 100).size());
        EXPECT_EQ(100, zel_linux_write(fds[1], record.data(), 100));

        // Blocking: writers of 4000-byte records into the full pipe wait for
        // room for a whole record while the reader takes 1000 bytes at a time.
        zel_linux_fcntl(fds[1], ZEL_LINUX_F_SETFL, 0);
        static std::atomic<int> written;
        written = 0;
        zel_linux_pthread_t writers[3];
        for (intptr_t w = 0; w < 3; ++w) {
            if (w == 1) {
                // The first alone: room for its record comes 1000 bytes at a
                // time, each read letting it look again.
                const zel_linux_fd_priv_t *tx = zel_linux_fd_get(fds[1])->priv;
                for (int i = 0; i < 4; ++i) {
                    while (zel_linux_fd_waiter_count(tx) == 0) zel_thread_delay(zel_systimer_ms_to_tick(1));
                    IN_LAYER_CHECK(read_some(fds[0], 1000).size() == 1000u);
                    zel_thread_yield();
                }
            }
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &writers[w], nullptr,
                               [](void *which) -> void * {
                                   const std::string mine(
                                       4000, static_cast<char>('A' + reinterpret_cast<intptr_t>(which)));
                                   for (int i = 0; i < 20; ++i)
                                       if (zel_linux_write(fds[1], mine.data(), mine.size()) == 4000) written++;
                                   return nullptr;
                               },
                               reinterpret_cast<void *>(w)) == 0);
        }
        std::string all(4000, 'f');  // the 4000 bytes read above
        while (all.size() < ZEL_LINUX_PIPE_CAPACITY + 3 * 20 * 4000u) {
            // Bounded: writers that stay asleep with room enough fail the test.
            zel_linux_pollfd data{fds[0], ZEL_LINUX_POLLIN, 0};
            IN_LAYER_CHECK(zel_linux_poll(&data, 1, 20000) == 1);
            std::string part = read_some(fds[0], 1000);
            IN_LAYER_CHECK(!part.empty() && part[0] != '<');
            all += part;
            zel_thread_yield();  // the writers look at the room after each read
        }
        for (zel_linux_pthread_t &w : writers) zel_linux_pthread_join(w, nullptr);
        EXPECT_EQ(60, written.load());
        const std::string records = all.substr(ZEL_LINUX_PIPE_CAPACITY);
        int torn = 0;
        for (size_t at = 0; at < records.size(); at += 4000)
            torn += records.find_first_not_of(records[at], at) < at + 4000;
        EXPECT_EQ(0, torn);
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    }));
}

// A writer that polls for room and then writes a 4096-byte record never
// hears EAGAIN, however slowly its reader takes the bytes, and a blocking
// writer of one large write moves it in parts as room comes: every byte
// arrives, in order.
TEST(LinuxPipe, AWriterBesideASlowReaderWritesWhenARecordFits) {
    for (int blocking = 0; blocking < 2; ++blocking) {
        static int fds[2];
        static std::atomic<int> refused;
        static std::atomic<bool> finished;
        static int mode;
        // Sixteen records fill the pipe; the rest wait for the reader.
        constexpr int kRecords = 24;
        constexpr size_t kRecord = ZEL_LINUX_PIPE_ATOMIC;
        mode = blocking;
        EXPECT_EQ(0, run_process([] {
            IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
            if (!mode) zel_linux_fcntl(fds[1], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
            refused = 0;
            finished = false;
            zel_linux_pthread_t writer;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &writer, nullptr,
                               [](void *) -> void * {
                                   std::string records;
                                   for (int r = 0; r < kRecords; ++r)
                                       records.append(kRecord, static_cast<char>('a' + r));
                                   if (mode) {
                                       zel_linux_write(fds[1], records.data(), records.size());
                                   } else {
                                       // Bounded: a writer told writable in vain gives up.
                                       for (int r = 0; r < kRecords && refused < 1000;) {
                                           zel_linux_pollfd w{fds[1], ZEL_LINUX_POLLOUT, 0};
                                           if (zel_linux_poll(&w, 1, 20000) != 1) break;
                                           *zel_linux_errno_ptr() = 0;
                                           long n = zel_linux_write(fds[1], records.data() + r * kRecord, kRecord);
                                           if (n == static_cast<long>(kRecord))
                                               ++r;
                                           else if (n == -1 && *zel_linux_errno_ptr() == ZEL_LINUX_EAGAIN)
                                               ++refused;
                                           else
                                               break;
                                       }
                                   }
                                   finished = true;
                                   zel_linux_close(fds[1]);
                                   return nullptr;
                               },
                               nullptr) == 0);
            // The reader takes 100 bytes at a time and pauses after each
            // while the writer is at work; then it drains the pipe.
            std::string all;
            for (;;) {
                zel_linux_pollfd data{fds[0], ZEL_LINUX_POLLIN, 0};
                IN_LAYER_CHECK(zel_linux_poll(&data, 1, 20000) == 1);
                bool slow = !finished;
                std::string part = read_some(fds[0], slow ? 100 : kRecord);
                if (part.empty()) break;
                IN_LAYER_CHECK(part[0] != '<');
                all += part;
                if (slow) zel_thread_delay(zel_systimer_ms_to_tick(1));
            }
            zel_linux_pthread_join(writer, nullptr);
            EXPECT_EQ(0, refused.load()) << "writable, then EAGAIN";
            EXPECT_EQ(kRecords * kRecord, all.size());
            int wrong = 0;
            for (size_t at = 0; at < all.size(); ++at) wrong += all[at] != static_cast<char>('a' + at / kRecord);
            EXPECT_EQ(0, wrong);
            zel_linux_close(fds[0]);
            return 0;
        })) << (blocking ? "blocking large write" : "polling writer of records");
    }
}

// A write that cannot store for want of memory says so.
TEST(LinuxPipe, AWriteWithoutMemoryFailsWithEnomem) {
    EXPECT_EQ(0, run_process([] {
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        *zel_linux_errno_ptr() = 0;
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(-1, zel_linux_write(fds[1], "abc", 3));
        zel_host_fail_heap_allocations(0);
        EXPECT_EQ(ZEL_LINUX_ENOMEM, *zel_linux_errno_ptr());
        EXPECT_EQ(3, zel_linux_write(fds[1], "def", 3));
        EXPECT_EQ("def", read_some(fds[0]));
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    }));
}

std::atomic<long> g_written;
std::atomic<int> g_write_errno;

// Writes 1 KiB blocks to the descriptor until a write fails or 64 MiB are
// written; counts the bytes and keeps the failure's errno.
void *write_until_refused(void *fd) {
    static const std::string block(1024, 'z');
    g_written = 0;
    g_write_errno = 0;
    while (g_written < 64L * 1024 * 1024) {
        long n = zel_linux_write(static_cast<int>(reinterpret_cast<intptr_t>(fd)), block.data(), block.size());
        if (n < 0) {
            g_write_errno = *zel_linux_errno_ptr();
            break;
        }
        g_written += n;
    }
    return nullptr;
}

// A blocking writer waits on a full pipe, so its reader and its own
// process's main thread get to run: a reader that leaves ends its writes
// with EPIPE at once, and a main thread that exits ends a writer nobody
// reads.
TEST(LinuxPipe, AWriterWaitsForItsReaderAndLearnsWhenItLeaves) {
    EXPECT_EQ(0, run_process([] {
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        zel_linux_pthread_t writer;
        IN_LAYER_CHECK(zel_linux_pthread_create(&writer, nullptr, write_until_refused,
                           reinterpret_cast<void *>(static_cast<intptr_t>(fds[1]))) == 0);
        // Read 256 KiB; the pipe never holds more than its capacity.
        uint32_t most = 0;
        for (size_t got = 0; got < 256u * 1024;) {
            most = std::max(most, held(fds[0]));
            std::string part = read_some(fds[0], 4096);
            IN_LAYER_CHECK(!part.empty() && part[0] == 'z');
            got += part.size();
        }
        EXPECT_LE(most, static_cast<uint32_t>(ZEL_LINUX_PIPE_CAPACITY));
        EXPECT_EQ(0, zel_linux_close(fds[0]));
        EXPECT_EQ(0, zel_linux_pthread_join(writer, nullptr));
        EXPECT_EQ(ZEL_LINUX_EPIPE, g_write_errno.load());
        EXPECT_LT(g_written.load(), 1024L * 1024);
        zel_linux_close(fds[1]);
        return 0;
    }));
    // Nobody reads: the writer fills the pipe and waits, the main thread
    // exits, and the exit ends the writer's wait.
    zel_test::TraceCapture trace;
    EXPECT_EQ(0x700, run_process([] {
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        zel_linux_pthread_t writer;
        IN_LAYER_CHECK(zel_linux_pthread_create(&writer, nullptr, write_until_refused,
                           reinterpret_cast<void *>(static_cast<intptr_t>(fds[1]))) == 0);
        zel_linux_exit(7);
    }));
    EXPECT_EQ(ZEL_LINUX_PIPE_CAPACITY, g_written.load());
    EXPECT_EQ(ZEL_LINUX_FD_EBADF, g_write_errno.load());
}

TEST(LinuxPipe, BlockingReaderIsWokenByAnotherThreadAndNothingIsLost) {
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        zel_linux_pipe(fds);
        zel_linux_pthread_t writer;
        zel_linux_pthread_create(
            &writer, nullptr,
            [](void *) -> void * {
                std::string chunk(1000, 'a');
                for (int i = 0; i < 100; ++i) {
                    chunk[0] = static_cast<char>('0' + i % 10);
                    zel_linux_write(fds[1], chunk.data(), chunk.size());
                    if (i % 10 == 0) zel_thread_delay(zel_systimer_ms_to_tick(1));
                }
                zel_linux_close(fds[1]);
                return nullptr;
            },
            nullptr);
        std::string all;
        for (;;) {
            std::string part = read_some(fds[0], 777);
            if (part.empty() || part[0] == '<') break;
            all += part;
        }
        zel_linux_pthread_join(writer, nullptr);
        EXPECT_EQ(100000u, all.size());
        for (int i = 0; i < 100; ++i) EXPECT_EQ(static_cast<char>('0' + i % 10), all[i * 1000u]);
        zel_linux_close(fds[0]);
        return 0;
    }));
}

// Sleeps until a thread waits on the part (its waiter is listed).
void until_waited_on(const zel_linux_fd_priv_t *priv) {
    while (zel_linux_fd_waiter_count(priv) == 0) zel_thread_delay(zel_systimer_ms_to_tick(1));
}

// A blocking write that had moved part of its bytes when the reader went
// answers that part; the next write fails with EPIPE.
TEST(LinuxPipe, AWriteCutShortByTheReadersEndAnswersWhatWent) {
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        static long first, second;
        static int second_errno;
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        const zel_linux_fd_priv_t *tx = zel_linux_fd_get(fds[1])->priv;
        zel_linux_pthread_t writer;
        IN_LAYER_CHECK(zel_linux_pthread_create(
                           &writer, nullptr,
                           [](void *) -> void * {
                               const std::string big(100000, 'b');
                               first = zel_linux_write(fds[1], big.data(), big.size());
                               *zel_linux_errno_ptr() = 0;
                               second = zel_linux_write(fds[1], big.data(), big.size());
                               second_errno = *zel_linux_errno_ptr();
                               return nullptr;
                           },
                           nullptr) == 0);
        until_waited_on(tx);
        EXPECT_EQ(0, zel_linux_close(fds[0]));
        zel_linux_pthread_join(writer, nullptr);
        EXPECT_EQ(ZEL_LINUX_PIPE_CAPACITY, first);
        EXPECT_EQ(-1, second);
        EXPECT_EQ(ZEL_LINUX_EPIPE, second_errno);
        zel_linux_close(fds[1]);
        return 0;
    }));
}

TEST(LinuxPipe, ClosingTheNumberABlockedReadUsesEndsTheReadAndTheLastReleaseClosesThePipe) {
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        static int fds[2];
        static std::string got;
        zel_linux_pipe(fds);
        const zel_linux_fd_priv_t *rx = zel_linux_fd_get(fds[0])->priv;
        int dup = zel_linux_fcntl(fds[0], ZEL_LINUX_F_DUPFD, 10);
        zel_linux_pthread_t reader;
        zel_linux_pthread_create(
            &reader, nullptr,
            [](void *) -> void * {
                got = read_some(fds[0]);
                return nullptr;
            },
            nullptr);
        until_waited_on(rx);
        // Another number of the same end goes: the read waits on.
        EXPECT_EQ(0, zel_linux_close(dup));
        until_waited_on(rx);
        EXPECT_EQ(1, zel_linux_write(fds[1], "x", 1));
        zel_linux_pthread_join(reader, nullptr);
        EXPECT_EQ("x", got);

        zel_linux_pthread_create(
            &reader, nullptr,
            [](void *) -> void * {
                *zel_linux_errno_ptr() = 0;
                got = read_some(fds[0]);
                got += std::to_string(*zel_linux_errno_ptr());
                return nullptr;
            },
            nullptr);
        until_waited_on(rx);
        EXPECT_EQ(0, zel_linux_close(fds[0]));
        zel_linux_pthread_join(reader, nullptr);
        EXPECT_EQ("<-1>9", got) << "EBADF";
        // The read's release was the last: the read end is closed now.
        EXPECT_EQ(1, zel_linux_pipe_tx_eof(zel_linux_fd_get(fds[1])));
        EXPECT_EQ(-1, zel_linux_write(fds[1], "y", 1));
        EXPECT_EQ(0, zel_linux_close(fds[1]));
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
}

TEST(LinuxPipe, EndsOverAGivenStreamAreReadyAtOnce) {
    EXPECT_EQ(0, run_process([] {
        zel_stream_heapnode_t q{};
        q.stream.op = &zel_stream_heapnode_op;
        q.limit = -1;
        q.max_nodes = 0xFFFFFFFFu;
        EXPECT_EQ(0, zel_stream_init(&q.stream));
        zel_stream_write(&q.stream, "held", 4);
        zel_linux_fd_t *rx = zel_linux_pipe_rx_create(&q.stream);
        EXPECT_TRUE(readable(rx->number));
        zel_linux_fd_t *tx = zel_linux_pipe_tx_create(reinterpret_cast<zel_linux_pipe_rx_priv_t *>(rx->priv));
        zel_linux_pollfd w{tx->number, ZEL_LINUX_POLLOUT, 0};
        EXPECT_EQ(1, zel_linux_poll(&w, 1, 0));
        EXPECT_EQ("held", read_some(rx->number));
        zel_linux_close(tx->number);
        zel_linux_close(rx->number);  // a given stream stays its owner's
        zel_stream_fini(&q.stream);
        return 0;
    }));
}

// ---- the console ----

zel_linux_fd_priv_t *console_in_priv() { return zel_linux_fd_get_in_process(zel_linux_kernel_process_get(), 0)->priv; }

// Runs `body` in a process and types `keys` once it waits on the console.
int with_typing(std::function<int()> body, const std::string &keys) {
    int status = -1000;
    std::thread runner([&] { status = run_process(std::move(body)); });
    bool waiting = zel_test::wait_until([] { return zel_linux_fd_waiter_count(console_in_priv()) != 0; });
    zel_linux_test::type(keys);
    runner.join();
    return waiting ? status : -2000;
}

TEST(LinuxConsole, EchoesTypedBytesAndSwallowsEscapeSequences) {
    zel_linux_test::boot();
    zel_linux_test::take_output();
    EXPECT_EQ(0, with_typing(
                     [] {
                         EXPECT_EQ("ab\x1b[A\x7f"
                                   "c",
                             read_some(0));
                         return 0;
                     },
                     "ab\x1b[A\x7f"
                     "c"));
    EXPECT_EQ("ab\b \bc", zel_linux_test::take_output());

    // ESC O and a lone ESC followed by a plain byte.
    EXPECT_EQ(0, with_typing(
                     [] {
                         read_some(0);
                         return 0;
                     },
                     "\x1bOPx\x1by"));
    EXPECT_EQ("xy", zel_linux_test::take_output());

    // 0x2000 in the status flags: no echo.
    EXPECT_EQ(0, with_typing(
                     [] {
                         int flags = zel_linux_fcntl(0, ZEL_LINUX_F_GETFL, 0);
                         zel_linux_fcntl(0, ZEL_LINUX_F_SETFL, flags | static_cast<int>(ZEL_LINUX_O_NOECHO));
                         EXPECT_EQ("quiet", read_some(0));
                         zel_linux_fcntl(0, ZEL_LINUX_F_SETFL, flags);
                         return 0;
                     },
                     "quiet"));
    EXPECT_EQ("", zel_linux_test::take_output());
}

TEST(LinuxConsole, AttributesDecideWhetherReadsWait) {
    zel_linux_test::boot();
    EXPECT_EQ(0, run_process([] {
        zel_linux_termios t{};
        EXPECT_EQ(0, zel_linux_tcgetattr(0, &t));
        EXPECT_EQ(0x7Au, t.c_lflag);
        EXPECT_EQ(1, t.c_cc[ZEL_LINUX_VMIN]);
        EXPECT_EQ(0x08, t.c_cc[2]);
        EXPECT_EQ(0x11u, t.c_ospeed);
        t.c_cc[ZEL_LINUX_VMIN] = 0;
        EXPECT_EQ(0, zel_linux_tcsetattr(0, 0, &t));
        // Nothing typed: 0 at once, not -1.
        EXPECT_EQ("", read_some(0));
        EXPECT_EQ(1, zel_linux_isatty(0));
        t.c_cc[ZEL_LINUX_VMIN] = 1;
        EXPECT_EQ(0, zel_linux_tcsetattr(0, 0, &t));
        EXPECT_EQ(0, zel_linux_fcntl(0, ZEL_LINUX_F_GETFL, 0) & ZEL_LINUX_O_NONBLOCK);
        return 0;
    }));
}

TEST(LinuxConsole, WritesReachTheOutputStream) {
    zel_linux_test::boot();
    zel_linux_test::take_output();
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(5, zel_linux_write(1, "hello", 5));
        EXPECT_EQ(3, zel_linux_write(2, "err", 3));
        char c;
        EXPECT_EQ(-1, zel_linux_read(1, &c, 1));  // descriptor 1 is write-only
        return 0;
    }));
    EXPECT_EQ("helloerr", zel_linux_test::take_output());
}

}  // namespace

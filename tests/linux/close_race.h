// A race of descriptor calls against closes of their number, for a file and
// a directory of any file system: one thread opens and closes them round
// after round, two others call read, lseek, ftruncate, fstat and readdir on
// whatever the number names meanwhile. Every call must complete on the live
// descriptor or find the number closed (-1 or null with errno 9); run under
// ASan, a part or node freed under a call shows there.
#ifndef CLOSE_RACE_H
#define CLOSE_RACE_H

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "zel_linux_file.h"
#include "zel_linux_pthread.h"
#include "zel_linux_test.h"

namespace close_race {

// What the caller thread saw: calls that completed on the live descriptor,
// calls that found it closed (-1 or null with errno 9), and anything else.
struct race_log {
    std::atomic<int> number{-1};
    std::atomic<bool> dir{false};
    std::atomic<bool> stop{false};
    int completed = 0;
    int closed = 0;
    std::string wrong;
};

inline bool is_closed(int error) { return error == ZEL_LINUX_FD_EBADF; }

// Calls on whatever the number names now (a file, or a directory when `dir`
// is set): each waits inside the file API, so a close from the other thread
// lands in between.
inline void *call_loop(void *arg) {
    auto *log = static_cast<race_log *>(arg);
    char buf[16];
    struct zel_linux_stat st;
    for (unsigned i = 0; !log->stop.load(); ++i) {
        int n = log->number.load();
        if (n < 0) {
            zel_thread_yield();
            continue;
        }
        const bool dir = log->dir.load();
        const unsigned kind = dir ? 4 + i % 3 : i % 4;
        *zel_linux_errno_ptr() = 0;
        long r = 0;
        bool ok = false;
        switch (kind) {
        case 0:
            r = zel_linux_read(n, buf, sizeof buf);
            ok = r >= 0;
            break;
        case 1:
        case 5:
            // The other caller's calls may move the position before this
            // one answers it.
            r = zel_linux_lseek(n, 0, 0);
            ok = r >= 0;
            break;
        case 2:
            r = zel_linux_ftruncate(n, 4);
            ok = r == 0;
            break;
        case 3:
        case 6:
            r = zel_linux_fstat(n, &st);
            ok = r == 0;
            break;
        default: {
            // The record is looked up and used with no wait in between; null
            // with errno 0 is the end of the directory.
            zel_linux_fd_t *rec = zel_linux_fd_get(n);
            if (!rec) *zel_linux_errno_ptr() = ZEL_LINUX_FD_EBADF;
            r = rec && zel_linux_readdir(rec) ? 0 : -1;
            ok = r == 0 || *zel_linux_errno_ptr() == 0;
            break;
        }
        }
        int error = *zel_linux_errno_ptr();
        if (ok)
            ++log->completed;
        else if (r == -1 && is_closed(error))
            ++log->closed;
        else if (log->wrong.empty())
            log->wrong = "call " + std::to_string(kind) + " answered " + std::to_string(r) + " with errno " +
                         std::to_string(error);
        zel_thread_yield();
    }
    return nullptr;
}

// Inside a layer process: `rounds` opens and closes of `file` (read and
// write) and `dir` in turn against the caller thread. Answers 0 when every
// round ran.
inline int run(const char *file, const char *dir, int rounds, race_log *log) {
    // Two callers: their calls also meet each other on the same part.
    zel_linux_pthread_t callers[2];
    for (zel_linux_pthread_t &caller : callers)
        IN_LAYER_CHECK(zel_linux_pthread_create(&caller, nullptr, call_loop, log) == 0);
    int round = 0;
    for (; round < rounds; ++round) {
        // The close waits in the file API while the caller's next call starts.
        int n = round % 2 ? zel_linux_open(dir, ZEL_LINUX_O_DIRECTORY) : zel_linux_open(file, ZEL_LINUX_O_RDWR);
        if (n < 0) break;
        log->dir = round % 2;
        log->number = n;
        for (int k = 0; k < round % 4; ++k) zel_thread_yield();
        EXPECT_EQ(0, zel_linux_close(n));
    }
    log->stop = true;
    for (zel_linux_pthread_t caller : callers) EXPECT_EQ(0, zel_linux_pthread_join(caller, nullptr));
    IN_LAYER_CHECK(round == rounds);
    return 0;
}

// After the process: every call answered as it should, and both outcomes
// happened.
inline void expect_sound(const race_log &log) {
    EXPECT_EQ("", log.wrong);
    EXPECT_GT(log.completed, 0);
    EXPECT_GT(log.closed, 0);
}

}  // namespace close_race

#endif

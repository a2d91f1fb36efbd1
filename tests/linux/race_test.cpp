// Races between the threads of one process: descriptor calls against a close
// of their number, and exec against a main thread that waits in a call.
// Run under ASan: a part or node freed under a call shows there.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zel_linux_file.h"
#include "zel_linux_pthread.h"
#include "zel_linux_test.h"

using zel_linux_test::run_process;

namespace {

constexpr int kRounds = 400;

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

bool is_closed(int error) { return error == ZEL_LINUX_FD_EBADF; }

// Calls on whatever the number names now (a file, or a directory when `dir`
// is set): each waits inside the file API, so a close from the other thread
// lands in between.
void *call_loop(void *arg) {
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
            r = zel_linux_lseek(n, 0, 0);
            ok = r == 0;
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

TEST(LinuxRace, CallsRacingACloseCompleteOrFindTheNumberClosed) {
    static race_log log;
    EXPECT_EQ(0, run_process([] {
        IN_LAYER_CHECK(zel_linux_mkdir_by_open("/race/dir/entry", 0) == 0);
        int fd = zel_linux_open("/race/file", ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY);
        IN_LAYER_CHECK(fd >= 0 && zel_linux_write(fd, "0123456789", 10) == 10);
        zel_linux_close(fd);
        uint32_t base = zel_linux_test::kernel_blocks();
        zel_linux_pthread_t caller;
        IN_LAYER_CHECK(zel_linux_pthread_create(&caller, nullptr, call_loop, &log) == 0);
        for (int round = 0; round < kRounds; ++round) {
            // A file and a directory in turn; the close waits in the file API
            // while the caller's next call starts.
            int n = round % 2 ? zel_linux_open("/race/dir", ZEL_LINUX_O_DIRECTORY)
                              : zel_linux_open("/race/file", ZEL_LINUX_O_RDWR);
            IN_LAYER_CHECK(n >= 0);
            log.dir = round % 2;
            log.number = n;
            for (int k = 0; k < round % 4; ++k) zel_thread_yield();
            EXPECT_EQ(0, zel_linux_close(n));
        }
        log.stop = true;
        EXPECT_EQ(0, zel_linux_pthread_join(caller, nullptr));
        EXPECT_EQ(base, zel_linux_test::kernel_blocks()) << "every part was freed once";
        return 0;
    }));
    EXPECT_EQ("", log.wrong);
    EXPECT_GT(log.completed, 0);
    EXPECT_GT(log.closed, 0);
}

// The main that exec starts: the old main thread waited in a read of `rd`
// when it was restarted; nothing of that wait may be left registered, and
// the pipe still works.
int after_exec(int argc, char **argv) {
    IN_LAYER_CHECK(argc == 3);
    const int rd = atoi(argv[1]);
    const int wr = atoi(argv[2]);
    zel_linux_fd_t *end = zel_linux_fd_get(rd);
    IN_LAYER_CHECK(end != nullptr);
    EXPECT_EQ(nullptr, end->priv->trigger) << "the old wait is still registered on the pipe";
    EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_get_cur_process()->wait_queue));
    EXPECT_EQ(1u, end->priv->refs) << "the old read still holds the pipe";
    IN_LAYER_CHECK(zel_linux_write(wr, "x", 1) == 1);
    char c = 0;
    IN_LAYER_CHECK(zel_linux_read(rd, &c, 1) == 1 && c == 'x');
    return 0;
}

// The main of each round's process: a worker execs while this thread waits
// in a read of an empty pipe, or in a poll of it every other round.
int exec_round(int, char **) {
    static int fds[2];
    static unsigned round;
    IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
    zel_linux_pthread_t worker;
    IN_LAYER_CHECK(zel_linux_pthread_create(&worker, nullptr, [](void *) -> void * {
        while (!zel_linux_fd_get(fds[0])->priv->trigger) zel_thread_yield();
        char rd[8];
        char wr[8];
        snprintf(rd, sizeof rd, "%d", fds[0]);
        snprintf(wr, sizeof wr, "%d", fds[1]);
        zel_linux_execl("/bin/after_exec", "after_exec", rd, wr, static_cast<char *>(nullptr));
        return nullptr;
    }, nullptr) == 0);
    if (round++ % 2) {
        zel_linux_pollfd e{fds[0], ZEL_LINUX_POLLIN, 0};
        zel_linux_poll(&e, 1, -1);
    } else {
        char c;
        zel_linux_read(fds[0], &c, 1);
    }
    ADD_FAILURE() << "the old main thread went on";
    return 1;
}

TEST(LinuxRace, ExecFromAThreadWithdrawsTheWaitOfTheMainThread) {
    static int rounds_done;
    rounds_done = 0;
    EXPECT_EQ(0, run_process([] {
        IN_LAYER_CHECK(zel_linux_test::install("/bin/after_exec", after_exec) == 0);
        const zel_linux_main_t round_main = zel_linux_test::bind_main(exec_round);
        const uint32_t base = zel_linux_test::kernel_blocks();
        for (int round = 0; round < kRounds / 8; ++round) {
            zel_linux_process_t *child = zel_linux_create_child_process(0);
            IN_LAYER_CHECK(child != nullptr);
            child->main = round_main;
            const int pid = child->pid;
            IN_LAYER_CHECK(zel_linux_start_process(child) == 0);
            int status = -1;
            IN_LAYER_CHECK(zel_linux_waitpid(pid, &status, 0) == pid);
            IN_LAYER_CHECK(status == 0);
            ++rounds_done;
        }
        EXPECT_EQ(base, zel_linux_test::kernel_blocks()) << "every pipe was freed";
        return 0;
    }));
    EXPECT_EQ(kRounds / 8, rounds_done);
}

}  // namespace

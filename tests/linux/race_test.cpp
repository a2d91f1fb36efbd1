// Races between the threads of one process: descriptor calls against a close
// of their number (in the in-memory tree), and exec against a main thread
// that waits in a call. Run under ASan: a part or node freed under a call
// shows there.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "close_race.h"
#include "zel_linux_file.h"
#include "zel_linux_pthread.h"
#include "zel_linux_test.h"

using zel_linux_test::run_process;

namespace {

constexpr int kRounds = 400;

TEST(LinuxRace, CallsRacingACloseCompleteOrFindTheNumberClosed) {
    static close_race::race_log log;
    EXPECT_EQ(0, run_process([] {
        IN_LAYER_CHECK(zel_linux_mkdir_by_open("/race/dir/entry", 0) == 0);
        int fd = zel_linux_open("/race/file", ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY);
        IN_LAYER_CHECK(fd >= 0 && zel_linux_write(fd, "0123456789", 10) == 10);
        zel_linux_close(fd);
        uint32_t base = zel_linux_test::kernel_blocks();
        IN_LAYER_CHECK(close_race::run("/race/file", "/race/dir", kRounds, &log) == 0);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks()) << "every part was freed once";
        return 0;
    }));
    close_race::expect_sound(log);
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
    EXPECT_EQ(0u, zel_linux_fd_waiter_count(end->priv)) << "the old wait is still registered on the pipe";
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
    IN_LAYER_CHECK(zel_linux_pthread_create(
                       &worker, nullptr,
                       [](void *) -> void * {
                           while (zel_linux_fd_waiter_count(zel_linux_fd_get(fds[0])->priv) == 0) zel_thread_yield();
                           char rd[8];
                           char wr[8];
                           snprintf(rd, sizeof rd, "%d", fds[0]);
                           snprintf(wr, sizeof wr, "%d", fds[1]);
                           zel_linux_execl("/bin/after_exec", "after_exec", rd, wr, static_cast<char *>(nullptr));
                           return nullptr;
                       },
                       nullptr) == 0);
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

// Runs kRounds / 8 child processes on `round_main`, one after the other,
// each of which must end with status 0; counts them in `done`.
int run_exec_rounds(zel_linux_main_t round_main, int *done) {
    for (int round = 0; round < kRounds / 8; ++round) {
        zel_linux_process_t *child = zel_linux_create_child_process(0);
        IN_LAYER_CHECK(child != nullptr);
        child->main = round_main;
        const int pid = child->pid;
        IN_LAYER_CHECK(zel_linux_start_process(child) == 0);
        int status = -1;
        IN_LAYER_CHECK(zel_linux_waitpid(pid, &status, 0) == pid);
        IN_LAYER_CHECK(status == 0);
        ++*done;
    }
    return 0;
}

TEST(LinuxRace, ExecFromAThreadWithdrawsTheWaitOfTheMainThread) {
    static int rounds_done;
    rounds_done = 0;
    EXPECT_EQ(0, run_process([] {
        IN_LAYER_CHECK(zel_linux_test::install("/bin/after_exec", after_exec) == 0);
        const zel_linux_main_t round_main = zel_linux_test::bind_main(exec_round);
        const uint32_t base = zel_linux_test::kernel_blocks();
        IN_LAYER_CHECK(run_exec_rounds(round_main, &rounds_done) == 0);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks()) << "every pipe was freed";
        return 0;
    }));
    EXPECT_EQ(kRounds / 8, rounds_done);
}

// The main that exec starts after a main thread that was inside a call on
// the file `argv[1]` (no wait of its own): the call's hold was given back.
int after_file_exec(int argc, char **argv) {
    IN_LAYER_CHECK(argc == 2);
    const int fd = atoi(argv[1]);
    zel_linux_fd_t *file = zel_linux_fd_get(fd);
    IN_LAYER_CHECK(file != nullptr);
    EXPECT_EQ(1u, file->priv->refs) << "the old call still holds the file";
    EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_get_cur_process()->wait_queue));
    return zel_linux_close(fd) == 0 ? 0 : 1;
}

// The main of each round's process: it only ever calls into the file
// system, so a worker's exec finds it inside one of those calls.
int file_exec_round(int, char **) {
    static int fd;
    fd = zel_linux_open("/race/exec_file", ZEL_LINUX_O_RDONLY);
    IN_LAYER_CHECK(fd >= 0);
    zel_linux_pthread_t worker;
    IN_LAYER_CHECK(zel_linux_pthread_create(
                       &worker, nullptr,
                       [](void *) -> void * {
                           char arg[8];
                           snprintf(arg, sizeof arg, "%d", fd);
                           zel_linux_execl(
                               "/bin/after_file_exec", "after_file_exec", arg, static_cast<char *>(nullptr));
                           return nullptr;
                       },
                       nullptr) == 0);
    for (;;) {
        char buf[4];
        zel_linux_lseek(fd, 0, ZEL_LINUX_SEEK_SET);
        zel_linux_read(fd, buf, sizeof buf);
    }
}

TEST(LinuxRace, ExecFromAThreadWhileTheMainThreadIsInAFileCallGivesBackItsHold) {
    static int rounds_done;
    rounds_done = 0;
    EXPECT_EQ(0, run_process([] {
        IN_LAYER_CHECK(zel_linux_test::install("/bin/after_file_exec", after_file_exec) == 0);
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/race", 0));  // there already when the close race ran first
        int fd = zel_linux_open("/race/exec_file", ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY);
        IN_LAYER_CHECK(fd >= 0 && zel_linux_write(fd, "0123", 4) == 4);
        zel_linux_close(fd);
        const zel_linux_main_t round_main = zel_linux_test::bind_main(file_exec_round);
        const uint32_t base = zel_linux_test::kernel_blocks();
        IN_LAYER_CHECK(run_exec_rounds(round_main, &rounds_done) == 0);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks()) << "every file part was freed";
        return 0;
    }));
    EXPECT_EQ(kRounds / 8, rounds_done);
}

}  // namespace

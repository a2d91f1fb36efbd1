// Processes: exit status, waitpid, teardown, exec, library slots.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "zel_host_test_hooks.h"
#include "zel_linux_file.h"
#include "zel_linux_pthread.h"
#include "zel_linux_test.h"

using zel_linux_test::run_process;
using zel_linux_test::spawn;

namespace {

uint64_t ms(uint32_t n) { return zel_systimer_ms_to_tick(n); }

TEST(LinuxProcess, StatusWordIsTheExitCodeShiftedLeftByEight) {
    EXPECT_EQ(0x300, run_process([] { return 3; }));
    EXPECT_EQ(0, run_process([] { return 0; }));
    // -1 shifted as an unsigned word: a negative status.
    int minus_one = run_process([] { return -1; });
    EXPECT_LT(minus_one, 0);
    EXPECT_EQ(static_cast<int>(0xFFFFFFFFu << 8), minus_one);
    EXPECT_EQ(0x500, run_process([]() -> int { zel_linux_exit(5); }));
}

TEST(LinuxProcess, WaitpidAcceptsOnlyItsOwnChildrenOnce) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(-1, zel_linux_waitpid(0, nullptr, 0));
        EXPECT_EQ(-1, zel_linux_waitpid(-3, nullptr, 0));
        // The parent of this process is not its child.
        EXPECT_EQ(-1, zel_linux_waitpid(zel_linux_get_cur_process()->ppid, nullptr, 0));

        int pid = spawn([](int, char **) { return 7; });
        EXPECT_GT(pid, 0);
        EXPECT_EQ(-1, zel_linux_waitpid(pid, nullptr, 1));  // options other than 0
        zel_thread_delay(ms(20));                           // it has ended by now
        int status = 0;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x700, status);
        EXPECT_EQ(-1, zel_linux_waitpid(pid, &status, 0));  // reaped already

        // A grandchild is not a child.
        std::atomic<int> grandchild{0};
        int middle = spawn([&](int, char **) {
            grandchild = spawn([](int, char **) {
                zel_thread_delay(zel_systimer_ms_to_tick(20));
                return 1;
            });
            int s = 0;
            return zel_linux_waitpid(grandchild, &s, 0) == grandchild && s == 0x100 ? 0 : 1;
        });
        while (!grandchild) zel_thread_yield();
        EXPECT_EQ(-1, zel_linux_waitpid(grandchild, nullptr, 0));
        EXPECT_EQ(middle, zel_linux_waitpid(middle, &status, 0));
        EXPECT_EQ(0, status);
        return 0;
    }));
}

TEST(LinuxProcess, ExitGivesBackEverythingAChildLeftBehind) {
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        int pid = spawn([](int, char **) {
            uint32_t before = zel_linux_get_cur_process()->tracker.count;
            for (int i = 0; i < 1000; ++i) EXPECT_NE(nullptr, zel_linux_malloc(16 + i));
            EXPECT_EQ(before + 1000, zel_linux_get_cur_process()->tracker.count);
            int fds[2];
            EXPECT_EQ(0, zel_linux_pipe(fds));
            EXPECT_EQ(0, zel_linux_setenv_p(nullptr, "LEFT", "behind", 1));
            return 0;
        });
        int status = -1;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0, status);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
}

TEST(LinuxProcess, ExecCopiesTheNewArgumentsBeforeDroppingTheOldOnes) {
    std::vector<std::string> seen;
    EXPECT_EQ(0x200, run_process([&] {
        zel_linux_test::install("/bin/second", [&](int argc, char **argv) {
            for (int i = 0; i < argc; ++i) seen.push_back(argv[i]);
            return argc;
        });
        // The first program passes its own (owned) arguments on: they live in
        // the argv that exec replaces.
        zel_linux_test::install("/bin/first", [](int, char **argv) {
            return zel_linux_execl("/bin/second", argv[2], argv[1], static_cast<char *>(nullptr));
        });
        EXPECT_EQ(-1, zel_linux_execl("/bin/missing", "missing", static_cast<char *>(nullptr)));
        zel_linux_execl("/bin/first", "first", "alpha", "beta", static_cast<char *>(nullptr));
        ADD_FAILURE() << "exec from the main thread came back";
        return 1;
    }));
    EXPECT_EQ((std::vector<std::string>{"beta", "alpha"}), seen);
}

TEST(LinuxProcess, ExecKeepsThirtyTwoArguments) {
    int argc_seen = 0;
    std::string last;
    EXPECT_EQ(0, run_process([&] {
        zel_linux_test::install("/bin/count", [&](int argc, char **argv) {
            argc_seen = argc;
            last = argv[argc - 1];
            EXPECT_EQ(nullptr, argv[argc]);
            return 0;
        });
        // Nothing on the heap here: exec abandons this thread's stack.
        static char words[40][4];
        const char *a[40];
        for (int i = 0; i < 40; ++i) {
            snprintf(words[i], sizeof words[i], "w%d", i);
            a[i] = words[i];
        }
        zel_linux_execl("/bin/count", a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12],
            a[13], a[14], a[15], a[16], a[17], a[18], a[19], a[20], a[21], a[22], a[23], a[24], a[25], a[26], a[27],
            a[28], a[29], a[30], a[31], a[32], a[33], a[34], a[35], a[36], a[37], a[38], a[39],
            static_cast<char *>(nullptr));
        return 1;
    }));
    EXPECT_EQ(32, argc_seen);
    EXPECT_EQ("w31", last);
}

TEST(LinuxProcess, ExecFromAnotherThreadRestartsTheMainThread) {
    std::atomic<int> exec_result{-5};
    EXPECT_EQ(0x900, run_process([&] {
        zel_linux_test::install("/bin/nine", [](int, char **) { return 9; });
        zel_linux_pthread_t tid;
        EXPECT_EQ(0, zel_linux_pthread_create(
                         &tid, nullptr,
                         [](void *arg) -> void * {
                             *static_cast<std::atomic<int> *>(arg) =
                                 zel_linux_execl("/bin/nine", "nine", static_cast<char *>(nullptr));
                             return nullptr;
                         },
                         &exec_result));
        // The main thread waits in a join when exec restarts it.
        zel_linux_pthread_join(tid, nullptr);
        ADD_FAILURE() << "the old main thread went on";
        return 1;
    }));
    EXPECT_EQ(0, exec_result.load());
}

// Exec whose new main thread gets no host thread: the process ends with
// status 127, its waitpid returns, and what it had open is closed (from the
// main thread itself, and from another thread, which then ends the process).
TEST(LinuxProcess, ExecWithoutAHostThreadEndsTheProcessWith127) {
    std::atomic<int> ran{0};
    for (bool from_main : {true, false}) {
        SCOPED_TRACE(from_main ? "exec from the main thread" : "exec from another thread");
        int parent_status = -1;
        EXPECT_EQ(0, run_process([&] {
            zel_linux_test::install("/bin/never", [&](int, char **) {
                ++ran;
                return 0;
            });
            const uint32_t base = zel_linux_test::kernel_blocks();
            int fds[2];
            IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
            zel_linux_process_t *child = zel_linux_create_child_process(0);
            IN_LAYER_CHECK(child != nullptr);
            // The child holds the write end; the exec fails in it.
            zel_linux_fd_t *tx = zel_linux_fd_get(fds[1]);
            IN_LAYER_CHECK(zel_linux_fd_create_ex(child, nullptr, tx->op, 5, tx->priv) == 5);
            zel_linux_close(fds[1]);
            using Main = zel_linux_test::Main;
            child->main = zel_linux_test::bind_main(
                from_main
                    ? Main([](int, char **) {
                          zel_host_fail_thread_creations(1);
                          zel_linux_execl("/bin/never", "never", static_cast<char *>(nullptr));
                          return 1;  // not reached: the old program is gone either way
                      })
                    : Main([](int, char **) {
                          zel_linux_pthread_t tid;
                          IN_LAYER_CHECK(zel_linux_pthread_create(
                                             &tid, nullptr,
                                             [](void *) -> void * {
                                                 zel_host_fail_thread_creations(1);
                                                 zel_linux_execl("/bin/never", "never", static_cast<char *>(nullptr));
                                                 ADD_FAILURE() << "the exec that failed came back";
                                                 return nullptr;
                                             },
                                             nullptr) == 0);
                          zel_linux_pthread_join(tid, nullptr);
                          return 1;
                      }));
            const int pid = child->pid;
            IN_LAYER_CHECK(zel_linux_start_process(child) == 0);
            EXPECT_EQ(pid, zel_linux_waitpid(pid, &parent_status, 0));
            // The write end went with it: the reader sees the end at once.
            char c;
            EXPECT_EQ(0, zel_linux_read(fds[0], &c, 1));
            zel_linux_close(fds[0]);
            EXPECT_EQ(base, zel_linux_test::kernel_blocks());
            return 0;
        }));
        EXPECT_EQ(ZEL_LINUX_START_FAILED << 8, parent_status);
        zel_host_fail_thread_creations(0);
    }
    EXPECT_EQ(0, ran.load());
}

TEST(LinuxProcess, NeverStartedChildIsTakenOutOfItsParent) {
    zel_test::TraceCapture trace;
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        zel_linux_process_t *child = zel_linux_create_child_process(0);
        EXPECT_NE(nullptr, child);
        EXPECT_FALSE(zel_dlist_is_empty(&zel_linux_get_cur_process()->children));
        zel_linux_delete_process(child);
        EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_get_cur_process()->children));
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
    EXPECT_FALSE(trace.contains("undetached process"));
}

std::atomic<int> g_runs;

// A process whose host thread cannot be created has not run: its start
// fails, its descriptors close with it, and a start that could not wait for
// the outcome (from an agent) still ends it, so its waitpid returns.
TEST(LinuxProcess, AProcessWhoseThreadCannotBeCreatedFailsToStart) {
    zel_test::TraceCapture trace;
    g_runs = 0;
    EXPECT_EQ(0, run_process([] {
        zel_linux_main_t counted = zel_linux_test::bind_main([](int, char **) {
            ++g_runs;
            return 0;
        });
        uint32_t base = zel_linux_test::kernel_blocks();
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        zel_linux_process_t *child = zel_linux_create_child_process(0);
        IN_LAYER_CHECK(child != nullptr);
        child->main = counted;
        zel_linux_fd_t *tx = zel_linux_fd_get(fds[1]);
        IN_LAYER_CHECK(zel_linux_fd_create_ex(child, nullptr, tx->op, 1, tx->priv) == 1);
        zel_linux_close(fds[1]);
        zel_host_fail_thread_creations(1);
        EXPECT_EQ(-1, zel_linux_start_process(child));
        EXPECT_EQ(0u, child->status & ZEL_LINUX_PROC_RUNNING);
        zel_linux_delete_process(child);
        // The write end went with it: the reader sees the end at once.
        char c;
        EXPECT_EQ(0, zel_linux_read(fds[0], &c, 1));
        zel_linux_close(fds[0]);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());

        // Reaped instead of deleted: the status of a program that could not
        // run, and the reaping releases all of it (the leak check sees its
        // main thread and working directory otherwise).
        child = zel_linux_create_child_process(0);
        IN_LAYER_CHECK(child != nullptr);
        child->main = counted;
        const int reaped = child->pid;
        zel_host_fail_thread_creations(1);
        EXPECT_EQ(-1, zel_linux_start_process(child));
        int reaped_status = 0;
        EXPECT_EQ(reaped, zel_linux_waitpid(reaped, &reaped_status, 0));
        EXPECT_EQ(ZEL_LINUX_START_FAILED << 8, reaped_status);
        EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_get_cur_process()->children));
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());

        // Started by an agent, which cannot wait for the outcome.
        child = zel_linux_create_child_process(0);
        IN_LAYER_CHECK(child != nullptr);
        child->main = counted;
        const int pid = child->pid;
        static zel_test::Agent starter;
        static std::atomic<bool> asked;
        asked = false;
        starter.set_handler([child](zel_test::Agent &, zel_evt_t evt) {
            if (evt != ZEL_EVT_INIT) return;
            zel_host_fail_thread_creations(1);
            EXPECT_EQ(0, zel_linux_start_process(child));
            asked = true;
            zel_eda_return(0);
        });
        IN_LAYER_CHECK(starter.start() == 0);
        for (int i = 0; i < 20000 && !asked; ++i) zel_thread_delay(ms(1));
        IN_LAYER_CHECK(asked);
        int status = 0;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(ZEL_LINUX_START_FAILED << 8, status);
        EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_get_cur_process()->children));
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());

        // The next one runs.
        child = zel_linux_create_child_process(0);
        IN_LAYER_CHECK(child != nullptr);
        child->main = counted;
        const int ran = child->pid;
        IN_LAYER_CHECK(zel_linux_start_process(child) == 0);
        EXPECT_EQ(ran, zel_linux_waitpid(ran, &status, 0));
        EXPECT_EQ(0, status);
        return 0;
    }));
    EXPECT_EQ(1, g_runs.load());
    zel_host_fail_thread_creations(0);
}

// Inside the layer: until the kernel process's tracker is back at `base`
// (records and parts of processes that ended are freed).
bool blocks_back_to(uint32_t base) {
    for (int i = 0; i < 20000 && zel_linux_test::kernel_blocks() != base; ++i)
        zel_thread_delay(zel_systimer_ms_to_tick(1));
    return zel_linux_test::kernel_blocks() == base;
}

TEST(LinuxProcess, ExitLeavesDetachedThreadsTheirMemoryAndWarnsOfJoinableOnes) {
    zel_test::TraceCapture trace;
    static std::atomic<bool> release;
    static std::atomic<bool> worker_done;
    release = false;
    worker_done = false;
    EXPECT_EQ(0, run_process([] {
        const uint32_t base = zel_linux_test::kernel_blocks();
        int pid = spawn([](int, char **) {
            char *block = static_cast<char *>(zel_linux_malloc(64));
            zel_linux_pthread_attr_t attr{{1, 0, 0, 1, 0, 0, 0, 0}};
            zel_linux_pthread_t tid;
            EXPECT_EQ(0, zel_linux_pthread_create(
                             &tid, &attr,
                             [](void *arg) -> void * {
                                 while (!release) zel_thread_delay(zel_systimer_ms_to_tick(1));
                                 // Its process's memory is still there.
                                 auto *b = static_cast<char *>(arg);
                                 b[0] = 'x';
                                 zel_linux_free(b);
                                 EXPECT_EQ(nullptr, zel_linux_getenv_p(nullptr, "NONE"));
                                 worker_done = true;
                                 return nullptr;
                             },
                             block));
            // A joinable one that nobody joins.
            zel_linux_pthread_t joinable;
            EXPECT_EQ(0, zel_linux_pthread_create(
                             &joinable, nullptr, [](void *) -> void * { return nullptr; }, nullptr));
            return 2;
        });
        // The worker goes on only once its process has ended: an exit that
        // waited for it would never end.
        int status = -1;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x200, status);
        release = true;
        while (!worker_done) zel_thread_delay(ms(1));
        EXPECT_TRUE(blocks_back_to(base)) << "the record goes with the last thread";
        return 0;
    }));
    EXPECT_TRUE(worker_done.load());
    EXPECT_EQ(1u, [&] {
        std::string t = trace.text();
        size_t n = 0;
        for (size_t at = t.find("undetached thread"); at != std::string::npos; at = t.find("undetached thread", at + 1))
            ++n;
        return n;
    }());
}

// What the threads of an ending process saw.
struct end_log {
    std::atomic<long> got{0};
    std::atomic<int> error{0};
    std::atomic<bool> ended{false};
    void reset() {
        got = 0;
        error = 0;
        ended = false;
    }
};

// A child whose descriptor 0 is the read end `rd` of a pipe that the caller
// keeps open, so that a read of it waits until something ends it.
int spawn_on_pipe(int rd, zel_linux_test::Main fn) {
    zel_linux_process_t *child = zel_linux_create_child_process(0);
    if (!child) return -1;
    zel_linux_fd_t *end = zel_linux_fd_get(rd);
    EXPECT_EQ(0, zel_linux_fd_create_ex(child, nullptr, end->op, 0, end->priv));
    child->main = zel_linux_test::bind_main(std::move(fn));
    EXPECT_EQ(0, zel_linux_start_process(child));
    return child->pid;
}

// A read of descriptor 0 that records its answer.
void *read_input(void *arg) {
    auto *log = static_cast<end_log *>(arg);
    char c;
    *zel_linux_errno_ptr() = 0;
    log->got = zel_linux_read(0, &c, 1);
    log->error = *zel_linux_errno_ptr();
    log->ended = true;
    return nullptr;
}

// A poll of descriptor 0 without timeout that records its answer.
void *poll_input(void *arg) {
    auto *log = static_cast<end_log *>(arg);
    zel_linux_pollfd e{0, ZEL_LINUX_POLLIN, 0};
    *zel_linux_errno_ptr() = 0;
    log->got = zel_linux_poll(&e, 1, -1);
    log->error = *zel_linux_errno_ptr();
    log->ended = true;
    return nullptr;
}

// Until a thread waits in the read of descriptor 0.
void until_input_waited_on() {
    while (zel_linux_fd_waiter_count(zel_linux_fd_get(0)->priv) == 0) zel_thread_delay(zel_systimer_ms_to_tick(1));
}

TEST(LinuxProcess, ExitEndsTheWaitsOfItsOtherThreadsAndNeverHangs) {
    static end_log detached_reader;
    static end_log detached_poller;
    static end_log main_reader;
    static std::atomic<long> join_answer{0};
    static std::atomic<bool> worker_ran{false};
    for (end_log *log : {&detached_reader, &detached_poller, &main_reader}) log->reset();
    join_answer = 0;
    worker_ran = false;
    EXPECT_EQ(0, run_process([] {
        const uint32_t base = zel_linux_test::kernel_blocks();
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        int status = -1;

        // Detached threads wait in a read and a poll when main returns: both
        // end with -1 and errno 9, and the parent gets the status.
        int pid = spawn_on_pipe(fds[0], [](int, char **) {
            zel_linux_pthread_attr_t attr{{1, 0, 0, 1, 0, 0, 0, 0}};
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(&tid, &attr, read_input, &detached_reader) == 0);
            IN_LAYER_CHECK(zel_linux_pthread_create(&tid, &attr, poll_input, &detached_poller) == 0);
            until_input_waited_on();
            return 4;
        });
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x400, status);
        while (!detached_reader.ended || !detached_poller.ended) zel_thread_delay(ms(1));
        EXPECT_EQ(-1, detached_reader.got.load());
        EXPECT_EQ(9, detached_reader.error.load());
        EXPECT_EQ(-1, detached_poller.got.load());
        EXPECT_EQ(9, detached_poller.error.load());

        // exit from a worker while main waits in a read.
        pid = spawn_on_pipe(fds[0], [](int, char **) {
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   until_input_waited_on();
                                   zel_linux_exit(5);
                               },
                               nullptr) == 0);
            read_input(&main_reader);
            return 1;
        });
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x500, status);
        EXPECT_EQ(-1, main_reader.got.load());
        EXPECT_EQ(9, main_reader.error.load());

        // A thread joins main while main returns: the join answers -1.
        pid = spawn([](int, char **) {
            static uint32_t main_tid;
            main_tid = zel_linux_get_cur_thread()->tid;
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   join_answer = zel_linux_pthread_join(main_tid, nullptr);
                                   return nullptr;
                               },
                               nullptr) == 0);
            while (!zel_linux_get_cur_thread()->joiner) zel_thread_delay(zel_systimer_ms_to_tick(1));
            return 7;
        });
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x700, status);
        EXPECT_EQ(-1, join_answer.load());

        // pthread_exit from main: the process ends with status 0 once its
        // other thread has.
        pid = spawn([](int, char **) {
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   zel_thread_delay(zel_systimer_ms_to_tick(5));
                                   worker_ran = true;
                                   return nullptr;
                               },
                               nullptr) == 0);
            zel_linux_pthread_exit(nullptr);
        });
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0, status);
        EXPECT_TRUE(worker_ran.load());

        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        EXPECT_TRUE(blocks_back_to(base)) << "records and parts of the children are freed";
        return 0;
    }));
}

// Inside the layer: until `done` holds, for at most the tests' time limit.
bool eventually(bool (*done)()) {
    for (int i = 0; i < 20000 && !done(); ++i) zel_thread_delay(zel_systimer_ms_to_tick(1));
    return done();
}

// Threads of one mutex's waiters (the kernel lists them on the mutex).
size_t lock_waiters(zel_linux_pthread_mutex_t *m) {
    size_t n = 0;
    for (zel_dlist_node_t *w = reinterpret_cast<zel_linux_mutex_t *>(m)->sync.waiters.head; w; w = w->next) ++n;
    return n;
}

// The child of the current process with that pid.
zel_linux_process_t *child_with_pid(int pid) {
    for (zel_dlist_node_t *n = zel_linux_get_cur_process()->children.head; n; n = n->next) {
        zel_linux_process_t *c = ZEL_CONTAINER_OF(n, zel_linux_process_t, child_node);
        if (c->pid == pid) return c;
    }
    return nullptr;
}

TEST(LinuxProcess, ExitEndsLockWaitpidAndTriggerWaitsOfItsOtherThreads) {
    static end_log joinable_lock, detached_lock, trigger_wait, joinable_waitpid, detached_waitpid;
    static zel_linux_pthread_mutex_t mutex;
    static std::atomic<bool> release;
    static int grandchildren[2];
    release = false;
    for (end_log *log : {&joinable_lock, &detached_lock, &trigger_wait, &joinable_waitpid, &detached_waitpid})
        log->reset();
    EXPECT_EQ(0, run_process([] {
        const uint32_t base = zel_linux_test::kernel_blocks();
        int status = -1;

        // Main returns holding a mutex that a joinable and a detached thread
        // wait for, while a third thread waits on a trigger nobody signals.
        int pid = spawn([](int, char **) {
            zel_linux_pthread_mutex_init(&mutex, nullptr);
            IN_LAYER_CHECK(zel_linux_pthread_mutex_lock(&mutex) == 0);
            auto lock = [](void *arg) -> void * {
                auto *log = static_cast<end_log *>(arg);
                *zel_linux_errno_ptr() = 0;
                log->got = zel_linux_pthread_mutex_lock(&mutex);
                log->error = *zel_linux_errno_ptr();
                log->ended = true;
                return nullptr;
            };
            zel_linux_pthread_attr_t detached{{1, 0, 0, 1, 0, 0, 0, 0}};
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(&tid, nullptr, lock, &joinable_lock) == 0);
            IN_LAYER_CHECK(zel_linux_pthread_create(&tid, &detached, lock, &detached_lock) == 0);
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   zel_linux_trig_t trig;
                                   zel_linux_trig_init(&trig);
                                   *zel_linux_errno_ptr() = 0;
                                   trigger_wait.got = static_cast<long>(zel_linux_trig_wait(&trig, -1));
                                   trigger_wait.error = *zel_linux_errno_ptr();
                                   trigger_wait.ended = true;
                                   return nullptr;
                               },
                               nullptr) == 0);
            IN_LAYER_CHECK(eventually([] { return lock_waiters(&mutex) == 2; }));
            IN_LAYER_CHECK(eventually([] { return !zel_dlist_is_empty(&zel_linux_get_cur_process()->wait_queue); }));
            return 3;
        });
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x300, status);
        EXPECT_TRUE(eventually([] { return detached_lock.ended.load(); }));
        for (end_log *log : {&joinable_lock, &detached_lock}) {
            EXPECT_EQ(-1, log->got.load());
            EXPECT_EQ(9, log->error.load());
        }
        EXPECT_EQ(static_cast<long>(ZEL_LINUX_TRIG_ENDED), trigger_wait.got.load());
        EXPECT_EQ(9, trigger_wait.error.load());

        // Main returns while a joinable and a detached thread wait in
        // waitpid for children that end only once those waits have ended.
        pid = spawn([](int, char **) {
            for (int &g : grandchildren) {
                g = spawn([](int, char **) {
                    while (!release) zel_thread_delay(zel_systimer_ms_to_tick(1));
                    return 0;
                });
                IN_LAYER_CHECK(g > 0);
            }
            auto wait_child = [](void *arg) -> void * {
                auto *log = static_cast<end_log *>(arg);
                const int g = grandchildren[log == &detached_waitpid ? 1 : 0];
                *zel_linux_errno_ptr() = 0;
                log->got = zel_linux_waitpid(g, nullptr, 0);
                log->error = *zel_linux_errno_ptr();
                log->ended = true;
                return nullptr;
            };
            zel_linux_pthread_attr_t detached{{1, 0, 0, 1, 0, 0, 0, 0}};
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(&tid, nullptr, wait_child, &joinable_waitpid) == 0);
            IN_LAYER_CHECK(zel_linux_pthread_create(&tid, &detached, wait_child, &detached_waitpid) == 0);
            IN_LAYER_CHECK(eventually([] {
                zel_linux_process_t *first = child_with_pid(grandchildren[0]);
                zel_linux_process_t *second = child_with_pid(grandchildren[1]);
                return first && first->waiter && second && second->waiter;
            }));
            return 4;
        });
        const bool ended = eventually([] { return joinable_waitpid.ended && detached_waitpid.ended; });
        EXPECT_TRUE(ended) << "the waitpid calls were not ended by the exit";
        release = true;  // the exit reaps the children now
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x400, status);
        if (ended) {
            for (end_log *log : {&joinable_waitpid, &detached_waitpid}) {
                EXPECT_EQ(-1, log->got.load());
                EXPECT_EQ(9, log->error.load());
            }
        }
        EXPECT_TRUE(blocks_back_to(base)) << "records of the children are freed";
        return 0;
    }));
}

TEST(LinuxProcess, JoinOfAMainThreadGoneWithPthreadExitAnswersItsValue) {
    static std::atomic<long> early_join{-5}, late_join{-5}, second_join{-5};
    static std::atomic<uintptr_t> early_value{0}, late_value{0};
    static uint32_t main_tid;
    early_join = late_join = second_join = -5;
    early_value = late_value = 0;
    EXPECT_EQ(0, run_process([] {
        int status = -1;
        // The join was waiting when main called pthread_exit; a second join
        // of the same thread finds it joined.
        int pid = spawn([](int, char **) -> int {
            main_tid = zel_linux_get_cur_thread()->tid;
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   void *value = nullptr;
                                   early_join = zel_linux_pthread_join(main_tid, &value);
                                   early_value = reinterpret_cast<uintptr_t>(value);
                                   second_join = zel_linux_pthread_join(main_tid, nullptr);
                                   return nullptr;
                               },
                               nullptr) == 0);
            IN_LAYER_CHECK(eventually([] { return zel_linux_get_cur_thread()->joiner != nullptr; }));
            zel_linux_pthread_exit(reinterpret_cast<void *>(42));
        });
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0, status);
        EXPECT_EQ(0, early_join.load());
        EXPECT_EQ(42u, early_value.load());
        EXPECT_EQ(-1, second_join.load());

        // The join starts once main has called pthread_exit (main waits for
        // the joining thread then).
        pid = spawn([](int, char **) -> int {
            main_tid = zel_linux_get_cur_thread()->tid;
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   while (!zel_linux_get_cur_thread()->joiner)
                                       zel_thread_delay(zel_systimer_ms_to_tick(1));
                                   void *value = nullptr;
                                   late_join = zel_linux_pthread_join(main_tid, &value);
                                   late_value = reinterpret_cast<uintptr_t>(value);
                                   return nullptr;
                               },
                               nullptr) == 0);
            zel_linux_pthread_exit(reinterpret_cast<void *>(43));
        });
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0, status);
        EXPECT_EQ(0, late_join.load());
        EXPECT_EQ(43u, late_value.load());
        return 0;
    }));
}

TEST(LinuxProcess, ChildrenShareTheStdioSourceButKeepTheirOwnInput) {
    EXPECT_EQ(0, run_process([] {
        int fds[2];
        EXPECT_EQ(0, zel_linux_pipe(fds));
        zel_linux_process_t *child = zel_linux_create_child_process(0);
        // Descriptor 0 of the child is the pipe's read end, made before it starts.
        zel_linux_fd_t *rd = zel_linux_fd_get(fds[0]);
        EXPECT_EQ(0, zel_linux_fd_create_ex(child, nullptr, rd->op, 0, rd->priv));
        void *relay_before = zel_linux_fd_get_in_process(zel_linux_kernel_process_get(), 2)->priv->link;
        child->main = zel_linux_test::bind_main([](int, char **) {
            char buf[8] = {};
            long n = zel_linux_read(0, buf, sizeof buf);
            // 1 and 2 come from the stdio source: the console.
            EXPECT_EQ(1, zel_linux_isatty(1));
            EXPECT_EQ(1, zel_linux_isatty(2));
            EXPECT_EQ(0, zel_linux_isatty(0));
            return n == 3 && std::string(buf, 3) == "abc" ? 0 : 1;
        });
        int pid = child->pid;
        EXPECT_EQ(0, zel_linux_start_process(child));
        EXPECT_EQ(3, zel_linux_write(fds[1], "abc", 3));
        int status = -1;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0, status);
        // Console input readiness still goes to the console's descriptor 0.
        EXPECT_EQ(relay_before, zel_linux_fd_get_in_process(zel_linux_kernel_process_get(), 2)->priv->link);
        EXPECT_EQ(
            static_cast<void *>(zel_linux_fd_get_in_process(zel_linux_kernel_process_get(), 0)->priv), relay_before);
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    }));
}

TEST(LinuxProcess, EnvironmentIsCopiedIntoChildren) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_setenv_p(nullptr, "A", "1", 1));
        EXPECT_EQ(0, zel_linux_setenv_p(nullptr, "B", "2", 1));
        EXPECT_EQ(0, zel_linux_setenv_p(nullptr, "A", "3", 0));  // kept
        char *extra[] = {const_cast<char *>("C=4"), nullptr};
        zel_linux_process_t *child = zel_linux_create_child_process(0);
        EXPECT_EQ(0, zel_linux_child_putenv(child, extra));
        child->main = zel_linux_test::bind_main([](int, char **) {
            EXPECT_STREQ("1", zel_linux_getenv_p(nullptr, "A"));
            EXPECT_STREQ("2", zel_linux_getenv_p(nullptr, "B"));
            EXPECT_STREQ("4", zel_linux_getenv_p(nullptr, "C"));
            char bare[] = "A";
            char *copy = zel_linux_strdup(bare);
            EXPECT_EQ(0, zel_linux_putenv_p(nullptr, copy));  // a bare name removes
            zel_linux_free(copy);
            EXPECT_EQ(nullptr, zel_linux_getenv_p(nullptr, "A"));
            EXPECT_STREQ("4", zel_linux_getenv_p(nullptr, "C"));
            return 0;
        });
        EXPECT_EQ(0, zel_linux_start_process(child));
        int status = -1;
        const int pid = child->pid;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0, status);
        EXPECT_EQ(nullptr, zel_linux_getenv_p(nullptr, "C"));
        return 0;
    }));
}

int32_t g_lib_slot = -1;
int32_t g_lib_other = -1;
int g_inits;

void lib_init(void *data) {
    g_inits++;
    *static_cast<int *>(data) = 41;
}

TEST(LinuxProcess, LibraryDataIsPerProcessAndSlotsRunOut) {
    zel_test::TraceCapture trace;
    EXPECT_EQ(0, run_process([] {
        static const zel_linux_dynlib_desc_t a = {&g_lib_slot, 0, 2, 64, sizeof(int), lib_init};
        static const zel_linux_dynlib_desc_t b = {&g_lib_slot, 1, 2, 64, 40, nullptr};
        int *x = static_cast<int *>(zel_linux_dynlib_get(&a));
        EXPECT_EQ(41, *x);
        *x = 5;
        EXPECT_EQ(x, zel_linux_dynlib_get(&a));
        char *y = static_cast<char *>(zel_linux_dynlib_get(&b));
        EXPECT_NE(nullptr, y);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(y) % 16);
        // A second process sees fresh data.
        int pid = spawn([](int, char **) {
            int *fresh = static_cast<int *>(zel_linux_dynlib_get(&a));
            return fresh && *fresh == 41 ? 0 : 1;
        });
        int status = -1;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0, status);
        EXPECT_EQ(2, g_inits);
        EXPECT_EQ(-13, zel_linux_library_register(&g_lib_slot, x, nullptr));
        // The sixteen slot numbers run out.
        static int32_t words[16];
        int taken = 0;
        for (int32_t &w : words) {
            w = -1;
            if (zel_linux_library_register(&w, &w, nullptr) == 0) ++taken;
        }
        EXPECT_EQ(15, taken);  // one is the library above
        EXPECT_EQ(-6, zel_linux_library_register(&g_lib_other, &g_lib_other, nullptr));
        EXPECT_EQ(-1, g_lib_other);
        return 0;
    }));
    EXPECT_TRUE(trace.contains("linux: fail to allocate pls for library\r\n"));
}

TEST(LinuxProcess, ExitReapsChildrenAndDetachedOnesFreeThemselves) {
    zel_test::TraceCapture trace;
    static std::atomic<bool> background_done;
    background_done = false;
    EXPECT_EQ(0, run_process([] {
        // Left running: the exit waits for it.
        spawn([](int, char **) {
            zel_thread_delay(zel_systimer_ms_to_tick(10));
            return 0;
        });
        // Detached: nobody waits; it frees its own record when it ends.
        int pid = spawn([](int, char **) {
            zel_thread_delay(zel_systimer_ms_to_tick(20));
            background_done = true;
            return 0;
        });
        zel_linux_process_t *self = zel_linux_get_cur_process();
        for (zel_dlist_node_t *n = self->children.head; n; n = n->next) {
            zel_linux_process_t *c = ZEL_CONTAINER_OF(n, zel_linux_process_t, child_node);
            if (c->pid == pid) {
                zel_linux_detach_process(c);
                break;
            }
        }
        EXPECT_EQ(-1, zel_linux_waitpid(pid, nullptr, 0));
        return 0;
    }));
    EXPECT_TRUE(trace.contains("linux: undetached process"));
    EXPECT_TRUE(zel_test::wait_until([] { return background_done.load(); }));
}

TEST(LinuxProcess, CreationFailsCleanlyWithoutMemory) {
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(nullptr, zel_linux_create_child_process(0));
        EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_get_cur_process()->children));
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        zel_host_fail_heap_allocations(1);
        zel_linux_pthread_t tid;
        EXPECT_EQ(ZEL_LINUX_EAGAIN, zel_linux_pthread_create(
                                        &tid, nullptr, [](void *) -> void * { return nullptr; }, nullptr));
        // Only the main thread is left.
        const zel_dlist_t &threads = zel_linux_get_cur_process()->threads;
        EXPECT_TRUE(threads.head != nullptr && threads.head == threads.tail);
        EXPECT_EQ(static_cast<void *>(zel_linux_get_cur_thread()),
            threads.head ? static_cast<void *>(ZEL_CONTAINER_OF(threads.head, zel_linux_thread_t, node)) : nullptr);
        return 0;
    }));
}

TEST(LinuxProcess, AgentsAndForeignThreadsUseTheKernelProcess) {
    zel_linux_test::boot();
    ASSERT_TRUE(zel_test::run_in_agent([] {
        EXPECT_EQ(nullptr, zel_linux_get_cur_thread());
        EXPECT_EQ(zel_linux_kernel_process_get(), zel_linux_get_cur_process());
    }));
    ASSERT_TRUE(zel_test::run_in_thread([] {
        EXPECT_EQ(nullptr, zel_linux_get_cur_thread());
        EXPECT_EQ(zel_linux_kernel_process_get(), zel_linux_get_cur_process());
        // The kernel process holds the console.
        EXPECT_EQ(1, zel_linux_isatty(0));
        EXPECT_EQ(-1, zel_linux_waitpid(1, nullptr, 0));
    }));
}

}  // namespace

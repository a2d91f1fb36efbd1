// The runner of the curl image with stand-ins for the tool's main: fresh
// statics for every run, one process at a time, threads of the image kept
// until they end, and a process that ends inside the tool.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "curl_test_util.h"
#include "zel_linux_curl.h"
#include "zel_sync.h"
#include "zel_thread.h"
#include "zel_timer.h"

extern "C" unsigned char __start_zel_curl_state[], __stop_zel_curl_state[];

namespace {

size_t state_size() { return static_cast<size_t>(__stop_zel_curl_state - __start_zel_curl_state); }

// A started child of the current process whose main is `main`; its pid or -1.
int spawn(zel_linux_main_t main) {
    static char name[] = "curl";
    zel_linux_process_t *p = zel_linux_create_child_process(0);
    if (!p) return -1;
    p->main = main;
    p->argc = 1;
    p->argv[0] = name;
    const int pid = p->pid;
    if (zel_linux_start_process(p) != 0) {
        zel_linux_delete_process(p);
        return -1;
    }
    return pid;
}

int exit_code(int pid) {
    int status = -1;
    if (zel_linux_waitpid(pid, &status, 0) != pid) return -1;
    return status >> 8;
}

// Waits (as a layer thread) until `done` holds; false when it does not come.
template <typename F>
bool wait_in_layer(F done) {
    for (int i = 0; i < 20000 && !done(); ++i) zel_thread_delay(zel_systimer_ms_to_tick(1));
    return done();
}

std::vector<unsigned char> g_seen;

int scribbling_main(int, char **) {
    g_seen.assign(__start_zel_curl_state, __stop_zel_curl_state);
    std::memset(__start_zel_curl_state, 0xA5, state_size());
    return 0;
}

int checking_main(int, char **) {
    return std::memcmp(g_seen.data(), __start_zel_curl_state, state_size()) == 0 ? 0 : 1;
}

TEST(CurlImage, EveryRunStartsFromTheStaticsOfAFreshProgram) {
    ASSERT_TRUE(curl_test::servers().http.ok());
    ASSERT_GT(state_size(), 0u);
    curl_test::servers().http.put("f", "fresh\n");
    const std::string url = curl_test::servers().http.base() + "/f";
    EXPECT_EQ(0, curl_test::run_direct({"curl", "-s", "-o", "/dev/null", url.c_str()}).status);

    // A run that leaves its statics in any state (here: all 0xA5, pointers
    // that lead nowhere) passes none of it on.
    EXPECT_EQ(0, shell::in_process([] { return zel_linux_curl_run(scribbling_main, 0, nullptr); }));
    EXPECT_EQ(0, shell::in_process([] { return zel_linux_curl_run(checking_main, 0, nullptr); }));
    EXPECT_EQ(0, shell::in_process([] { return zel_linux_curl_run(scribbling_main, 0, nullptr); }));
    EXPECT_EQ(0, curl_test::run_direct({"curl", "-s", "-o", "/dev/null", url.c_str()}).status);
}

// Two runs whose mains wait on pipes for each other, so that each runs while
// the other waits: each sees the statics of a fresh program at its start
// and finds its own again after every wait, whatever the other did to them.
int g_pipes[2][2];  // [0]: the first run wakes the second; [1]: the reverse

zel_linux_process_t *g_parent;  // the process that made the pipes

// A descriptor of the current process on the part of the parent's `number`.
int share(int number) {
    zel_linux_fd_t *parent = zel_linux_fd_get_in_process(g_parent, number);
    return parent ? zel_linux_fd_create_ex(nullptr, nullptr, parent->op, -1, parent->priv) : -1;
}

bool all_are(unsigned char value) {
    for (const unsigned char *b = __start_zel_curl_state; b < __stop_zel_curl_state; ++b)
        if (*b != value) return false;
    return true;
}

int ping_pong_main(int which, unsigned char mine) {
    if (std::memcmp(g_seen.data(), __start_zel_curl_state, state_size()) != 0) return 1;
    std::memset(__start_zel_curl_state, mine, state_size());
    char token = 't';
    const int in = share(g_pipes[1 - which][0]), out = share(g_pipes[which][1]);
    for (int round = 0; round < 50; ++round) {
        if (which == 0 && zel_linux_write(out, &token, 1) != 1) return 2;
        // Bounded: a partner that cannot run fails the run rather than hang it.
        zel_linux_pollfd ready{in, ZEL_LINUX_POLLIN, 0};
        if (zel_linux_poll(&ready, 1, 20000) != 1) return 5;
        if (zel_linux_read(in, &token, 1) != 1) return 3;
        if (!all_are(mine)) return 4;
        std::memset(__start_zel_curl_state, mine, state_size() / 2);  // the run changes them while it runs
        if (which == 1 && zel_linux_write(out, &token, 1) != 1) return 2;
    }
    return 0;
}

TEST(CurlImage, EachRunKeepsItsOwnStaticsWhileAnotherRunsDuringItsWaits) {
    shell::console();
    EXPECT_EQ(0, shell::in_process([] {
        // What a fresh run sees (kept in g_seen).
        if (zel_linux_curl_run(scribbling_main, 0, nullptr) != 0) return 1;
        g_parent = zel_linux_get_cur_process();
        for (auto &p : g_pipes)
            if (zel_linux_pipe(p) != 0) return 1;
        const int first = spawn([](int, char **argv) {
            return zel_linux_curl_run([](int, char **) { return ping_pong_main(0, 0xA1); }, 1, argv);
        });
        const int second = spawn([](int, char **argv) {
            return zel_linux_curl_run([](int, char **) { return ping_pong_main(1, 0xB2); }, 1, argv);
        });
        EXPECT_EQ(0, exit_code(first));
        EXPECT_EQ(0, exit_code(second));
        for (auto &p : g_pipes) {
            zel_linux_close(p[0]);
            zel_linux_close(p[1]);
        }
        return 0;
    }));
    EXPECT_EQ(0u, zel_linux_curl_waiting());
}

// Run A's main and a thread it started both wait on pipes, so A lets the
// image go and run B takes it. B then wakes A's two threads one after the
// other: the first that comes back waits for the turn, and the second, back
// while its sibling waits, must wait too (not go on because its run counts
// a thread as back already). Rounds alternate which of them B wakes first.
bool g_a_holds;  // A has started its thread (A holds the image)
bool g_main_woken_first;
int g_a_back;  // A's threads past their wait: they run image code

// Waits (bounded) for a token on the pipe `which` of the parent: true when it came.
bool token_came(int which) {
    const int in = share(g_pipes[which][0]);
    zel_linux_pollfd ready{in, ZEL_LINUX_POLLIN, 0};
    char token = 0;
    const bool came = zel_linux_poll(&ready, 1, 20000) == 1 && zel_linux_read(in, &token, 1) == 1;
    zel_linux_close(in);
    return came;
}

bool gives_token(int which) {
    const int out = share(g_pipes[which][1]);
    const char token = 't';
    const bool given = zel_linux_write(out, &token, 1) == 1;
    zel_linux_close(out);
    return given;
}

// A's two threads: what each sees of the statics when it comes back, which
// it then changes as image code does.
bool a_comes_back(int which) {
    const bool came = token_came(which);
    g_a_back++;
    const bool own = all_are(0xA1);
    std::memset(__start_zel_curl_state, 0xA1, state_size());
    return came && own;
}

void *a_thread(void *) { return a_comes_back(1) ? nullptr : &g_a_back; }

int a_main(int, char **) {
    std::memset(__start_zel_curl_state, 0xA1, state_size());
    zel_linux_pthread_t thread;
    if (zel_linux_curl_thread_create(&thread, nullptr, a_thread, nullptr) != 0) return 1;
    g_a_holds = true;
    const bool own = a_comes_back(0);
    void *failed = nullptr;
    if (zel_linux_pthread_join(thread, &failed) != 0) return 2;
    return own ? (failed ? 4 : 0) : 3;
}

// Run B gets the image once both of A's threads wait.
int b_main(int, char **) {
    std::memset(__start_zel_curl_state, 0xB2, state_size());
    const int first = g_main_woken_first ? 0 : 1;
    if (!gives_token(first)) return 1;
    if (!wait_in_layer([] { return zel_linux_curl_waiting() == 1 || g_a_back > 0; })) return 2;
    if (!gives_token(1 - first)) return 1;
    if (!wait_in_layer([] { return zel_linux_curl_waiting() == 2 || g_a_back > 0; })) return 2;
    if (g_a_back > 0) return 3;  // a thread of A ran while B holds the image
    return all_are(0xB2) ? 0 : 4;
}

TEST(CurlImage, AThreadBackFromAWaitWhileItsSiblingWaitsForTheTurnWaitsToo) {
    shell::console();
    EXPECT_EQ(0, shell::in_process([] {
        g_parent = zel_linux_get_cur_process();
        for (auto &p : g_pipes)
            if (zel_linux_pipe(p) != 0) return 1;
        for (int round = 0; round < 40 && !::testing::Test::HasFailure(); ++round) {
            g_a_holds = false;
            g_a_back = 0;
            g_main_woken_first = round % 2 == 0;
            const int a = spawn([](int, char **argv) { return zel_linux_curl_run(a_main, 1, argv); });
            if (a < 0 || !wait_in_layer([] { return g_a_holds; })) return 2;
            const int b = spawn([](int, char **argv) { return zel_linux_curl_run(b_main, 1, argv); });
            if (b < 0) return 3;
            EXPECT_EQ(0, exit_code(b)) << "round " << round;
            EXPECT_EQ(0, exit_code(a)) << "round " << round;
            EXPECT_EQ(2, g_a_back);
        }
        for (auto &p : g_pipes) {
            zel_linux_close(p[0]);
            zel_linux_close(p[1]);
        }
        return 0;
    }));
    EXPECT_EQ(0u, zel_linux_curl_waiting());
}

zel_sync_t g_gate;  // the lingering thread waits here
bool g_main_returned;
bool g_thread_ended;
bool g_second_ran;
bool g_thread_had_ended_for_second;

void *lingering_thread(void *) {
    EXPECT_EQ(ZEL_SYNC_OBTAINED, zel_thread_sync_decrease(&g_gate, -1));

    g_thread_ended = true;
    return nullptr;
}

int main_leaving_a_thread(int, char **) {
    zel_linux_pthread_t thread;
    if (zel_linux_curl_thread_create(&thread, nullptr, lingering_thread, nullptr) != 0) return 1;
    zel_linux_pthread_detach(thread);
    g_main_returned = true;
    return 0;
}

int second_main(int, char **) {
    g_second_ran = true;
    g_thread_had_ended_for_second = g_thread_ended;
    return 0;
}

TEST(CurlImage, AThreadOutlivingTheToolsMainKeepsTheImageUntilItEnds) {
    shell::console();
    EXPECT_EQ(0, shell::in_process([] {
        EXPECT_EQ(0, zel_eda_sync_init(&g_gate, 0, 1));
        const int first = spawn([](int, char **argv) { return zel_linux_curl_run(main_leaving_a_thread, 1, argv); });
        if (first < 0 || !wait_in_layer([] { return g_main_returned; })) return 1;
        const int second = spawn([](int, char **argv) { return zel_linux_curl_run(second_main, 1, argv); });
        if (second < 0 || !wait_in_layer([] { return zel_linux_curl_waiting() == 1; })) return 2;
        EXPECT_FALSE(g_second_ran) << "the second run did not wait for the first run's thread";
        // The first process ends without waiting for its detached thread;
        // the image stays with that thread until it ends.
        EXPECT_EQ(0, exit_code(first));
        EXPECT_FALSE(g_second_ran);
        EXPECT_EQ(0, zel_eda_sync_increase(&g_gate));
        EXPECT_EQ(0, exit_code(second));
        EXPECT_TRUE(g_second_ran);
        EXPECT_TRUE(g_thread_had_ended_for_second);
        return 0;
    }));
    EXPECT_EQ(0u, zel_linux_curl_waiting());
}

int exiting_main(int, char **) { zel_linux_exit(3); }

TEST(CurlImage, AProcessEndingInsideTheToolLetsTheImageGo) {
    shell::console();
    EXPECT_EQ(3, shell::in_process([] {
        return exit_code(spawn([](int, char **argv) { return zel_linux_curl_run(exiting_main, 1, argv); }));
    }));
    // The next run gets the image (it would wait for ever otherwise).
    EXPECT_EQ(0, shell::in_process([] { return zel_linux_curl_run([](int, char **) { return 0; }, 0, nullptr); }));
}

TEST(CurlImage, RunsAndThreadsWithoutMemoryFailAndLeaveTheImageFree) {
    shell::console().take();
    EXPECT_EQ(0, shell::in_process([] {
        std::vector<void *> blocks;
        while (void *b = zel_linux_malloc(16)) blocks.push_back(b);  // the process's tracker is full
        static char name[] = "curl", option[] = "-V", silent[] = "-s", show[] = "-sS";
        char *argv[] = {name, option, nullptr};
        EXPECT_EQ(2, curl_main(2, argv));
        char *quiet[] = {name, silent, option, nullptr};
        EXPECT_EQ(2, curl_main(3, quiet));
        char *shown[] = {name, show, option, nullptr};
        EXPECT_EQ(2, curl_main(3, shown));

        // Room for the run's argument vector only: its record (with room for
        // its statics) cannot be had.
        zel_linux_free(blocks.back());
        blocks.pop_back();
        EXPECT_EQ(2, zel_linux_curl_run(
                         [](int, char **) {
                             ADD_FAILURE() << "the tool ran without its run's record";
                             return 0;
                         },
                         3, quiet));
        // Room for the argument vector and the record: the tool's thread cannot start.
        zel_linux_free(blocks.back());
        blocks.pop_back();
        EXPECT_EQ(0, zel_linux_curl_run(
                         [](int, char **) {
                             zel_linux_pthread_t thread;
                             return zel_linux_curl_thread_create(&thread, nullptr, lingering_thread, nullptr) == -1 ? 0
                                                                                                                    : 1;
                         },
                         0, nullptr));
        for (void *b : blocks) zel_linux_free(b);
        EXPECT_EQ(0u, zel_linux_curl_waiting());
        // The image is free: this run does not wait for ever.
        return zel_linux_curl_run([](int, char **) { return 0; }, 2, argv);
    }));
    // The runs that could not start said why, but for the one asked to keep
    // quiet (-s without -S).
    EXPECT_EQ("curl: (2) not enough memory\r\ncurl: (2) not enough memory\r\n", shell::console().take());
}

TEST(CurlImage, OutsideALayerThreadNothingRuns) {
    shell::console();
    bool ran = false;
    int status = -1;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        status = zel_linux_curl_run(
            [](int, char **) {
                ADD_FAILURE() << "the entry ran outside a layer thread";
                return 0;
            },
            0, nullptr);
        ran = true;
    }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(2, status);
}

}  // namespace

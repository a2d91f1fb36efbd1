// The CPU that idle waits of the Linux-emulation layer cost: two threads
// polling one idle pipe and two threads blocked reading it, each for a
// fixed wall time, against one thread that only sleeps for the same time
// (the peer), measured in the same run. Prints the milliseconds of process
// CPU of each and the ratio peer / ours (1.00: the waits cost no more than
// a sleep). Run by hand: cmake -DZEL_BENCH=ON ..., then
// build/zel_linux_wait_bench [seconds]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "zel_host_test_hooks.h"
#include "zel_linux_pthread.h"
#include "zel_linux_test.h"

namespace {

uint32_t g_ms = 2000;
int g_fds[2];
std::atomic<double> g_cpu_ms[3];  // sleep alone, two pollers, two readers

void *poller(void *) {
    zel_linux_pollfd e{g_fds[0], ZEL_LINUX_POLLIN, 0};
    (void)zel_linux_poll(&e, 1, -1);
    return nullptr;
}

void *reader(void *) {
    char c;
    (void)zel_linux_read(g_fds[0], &c, 1);
    return nullptr;
}

// Process CPU while the calling thread sleeps g_ms, with two waiters of
// `kind` (none: only the sleep) on an idle pipe.
double cpu_ms_of(void *(*kind)(void *)) {
    if (zel_linux_pipe(g_fds) != 0) return -1;
    zel_linux_pthread_t t[2];
    int made = 0;
    if (kind)
        for (zel_linux_pthread_t &id : t)
            if (zel_linux_pthread_create(&id, nullptr, kind, nullptr) == 0) ++made;
    zel_thread_delay(zel_systimer_ms_to_tick(50));  // both settle into their waits
    const uint64_t before = zel_host_process_cpu_ticks();
    zel_thread_delay(zel_systimer_ms_to_tick(g_ms));
    const uint64_t after = zel_host_process_cpu_ticks();
    (void)zel_linux_write(g_fds[1], "ww", 2);
    for (int i = 0; i < made; ++i) (void)zel_linux_pthread_join(t[i], nullptr);
    zel_linux_close(g_fds[0]);
    zel_linux_close(g_fds[1]);
    return static_cast<double>(after - before) / 10000.0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1) g_ms = static_cast<uint32_t>(std::max(1, std::atoi(argv[1]))) * 1000u;
    const int status = zel_linux_test::run_process(
        [] {
            g_cpu_ms[0] = cpu_ms_of(nullptr);
            g_cpu_ms[1] = cpu_ms_of(poller);
            g_cpu_ms[2] = cpu_ms_of(reader);
            return 0;
        },
        zel_test::milliseconds(10 * g_ms + 20000));
    if (status != 0) {
        std::fprintf(stderr, "linux_wait_bench: the run did not end (%d)\n", status);
        return 1;
    }
    // A floor of 0.1 ms keeps the ratio of two near-zero figures finite.
    const double peer = std::max(0.1, g_cpu_ms[0].load());
    std::printf("idle waits over %u ms (process CPU)\n", g_ms);
    std::printf("  sleeping thread alone: %.2f ms\n", g_cpu_ms[0].load());
    std::printf(
        "  two idle pollers: %.2f ms, ratio %.2f\n", g_cpu_ms[1].load(), peer / std::max(0.1, g_cpu_ms[1].load()));
    std::printf(
        "  two idle readers: %.2f ms, ratio %.2f\n", g_cpu_ms[2].load(), peer / std::max(0.1, g_cpu_ms[2].load()));
    return 0;
}

// System timer: a 100 ns tick from CLOCK_MONOTONIC and one host
// thread "timer" that waits for an absolute due tick and delivers each expiry
// as an emulated interrupt.
#include "zel_host.h"
#include "zel_host_internal.h"
#include "zel_host_test_hooks.h"

#include <atomic>
#include <pthread.h>
#include <string.h>
#include <time.h>

namespace {

struct systimer_state {
    uint64_t start_ns;  // CLOCK_MONOTONIC at init
    pthread_mutex_t m;
    pthread_cond_t c;  // CLOCK_MONOTONIC condition variable
    bool armed;
    uint64_t due;  // absolute tick
    zel_host_thread_t thread;
};

systimer_state g_timer;
std::atomic<uint32_t> g_fires{0};
std::atomic<uint32_t> g_timed_waits{0};

uint64_t mono_ns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// The absolute CLOCK_MONOTONIC time of a due tick. A tick too far to count
// in nanoseconds (a timeout of "for ever") saturates, so that the wait for it
// sleeps instead of ending at once.
struct timespec tick_to_abs(uint64_t tick) {
    const uint64_t room = UINT64_MAX - g_timer.start_ns;
    uint64_t ns = tick <= room / 100 ? g_timer.start_ns + tick * 100 : UINT64_MAX;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000ull);
    ts.tv_nsec = static_cast<long>(ns % 1000000000ull);
    return ts;
}

// The board hook: every tick is handled in this system.
bool board_tick_hook(uint64_t) { return true; }

}  // namespace

extern "C" {

int zel_systimer_init(void) {
    memset(&g_timer, 0, sizeof g_timer);
    g_timer.start_ns = mono_ns();
    pthread_mutex_init(&g_timer.m, nullptr);
    pthread_condattr_t ca;
    pthread_condattr_init(&ca);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&g_timer.c, &ca);
    pthread_condattr_destroy(&ca);
    return 0;
}

int zel_systimer_start(void) {
    return zel_host_thread_start(&g_timer.thread, "timer", zel_systimer_thread, 0) ? 0 : ZEL_HOST_ERR_NO_MEMORY;
}

uint64_t zel_systimer_get_tick(void) { return (mono_ns() - g_timer.start_ns) / 100; }

bool zel_systimer_set(uint64_t due) {
    pthread_mutex_lock(&g_timer.m);
    g_timer.due = due;
    g_timer.armed = true;
    pthread_cond_signal(&g_timer.c);
    pthread_mutex_unlock(&g_timer.m);
    return true;
}

bool zel_systimer_is_due(uint64_t due) { return zel_systimer_get_tick() >= due; }

uint64_t zel_systimer_ms_to_tick(uint32_t ms) { return static_cast<uint64_t>(ms) * 10000u; }

uint64_t zel_systimer_tick_to_ms(uint64_t tick) { return (tick * 1000u) / 10000000u; }

void zel_systimer_thread(zel_host_thread_t *record) {
    for (;;) {
        pthread_mutex_lock(&g_timer.m);
        for (;;) {
            if (!g_timer.armed) {
                pthread_cond_wait(&g_timer.c, &g_timer.m);
                continue;
            }
            if (zel_systimer_get_tick() >= g_timer.due) break;
            struct timespec ts = tick_to_abs(g_timer.due);
            g_timed_waits.fetch_add(1);
            pthread_cond_timedwait(&g_timer.c, &g_timer.m, &ts);
        }
        g_timer.armed = false;  // quiet until armed again
        pthread_mutex_unlock(&g_timer.m);

        zel_host_irq_enter(record);
        g_fires.fetch_add(1);
        zel_systimer_on_tick(zel_systimer_get_tick());
        zel_host_irq_leave(record, 0);
    }
}

void zel_systimer_on_tick(uint64_t tick) {
    if (board_tick_hook(tick)) zel_host_kernel().timer_tick();
}

#if ZEL_HOST_TEST_HOOKS
uint32_t zel_systimer_fire_count(void) { return g_fires.load(); }

uint32_t zel_systimer_wait_count(void) { return g_timed_waits.load(); }
#endif

}  // extern "C"

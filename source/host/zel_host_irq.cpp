// Emulated interrupts: the interrupt lock, the nesting counter,
// the idle hand-over to host threads and the log ring.
#include "zel_host.h"
#include "zel_host_test_hooks.h"
#include "zel_host_internal.h"

#include <atomic>
#include <pthread.h>
#include <sched.h>
#include <string.h>
#include <time.h>

namespace {

constexpr uint32_t kLogSize = 1024;

struct irq_state {
    zel_host_thread_t *running;
    zel_host_thread_t main;
    zel_host_request_t kernel_wake;
    uint32_t nesting;
    uint8_t enable;
    uint8_t idle;
    // Closed by a leave that others are still counted behind while the
    // kernel is out (in its idle wait, or letting waiting contexts in
    // between dispatches), opened when the kernel has the lock back:
    // contexts arriving meanwhile wait outside, uncounted, so the counter
    // drains and the last of those counted wakes the kernel (else contexts
    // that come again and again, or overlap, would keep it out).
    uint8_t gate_closed;
    uint32_t log_index;
    uint32_t log_seq;
    zel_host_irq_log_t log[kLogSize];
};

// Plain static storage without destructors: host threads keep running while
// the process exits.
irq_state g_irq;
pthread_mutex_t g_log_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_irq_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_gate = PTHREAD_COND_INITIALIZER;  // with the log lock
bool g_ready = false;                              // zel_host_irq_init has run; with the log lock
std::atomic<uint32_t> g_idle_wakeups{0};
std::atomic<uint32_t> g_leave_wakes{0};

// The log ring (index, sequence, records) has a lock of its own, taken for
// the few stores of one record: the protect flag changes of the framework
// (thousands per millisecond when it is busy) take only this one, not the
// log lock under which arriving contexts wait for the gate.
std::atomic_flag g_ring_lock = ATOMIC_FLAG_INIT;

void ring_lock() {
    for (uint32_t tries = 0; g_ring_lock.test_and_set(std::memory_order_acquire); ++tries) {
        if (tries >= 64) sched_yield();  // its holder was preempted mid-record
    }
}

void ring_unlock() { g_ring_lock.clear(std::memory_order_release); }

void log_write(uint32_t kind, const zel_host_thread_t *context, uint32_t value) {
    ring_lock();
    uint32_t slot = g_irq.log_index;
    g_irq.log_index = slot + 1 < kLogSize ? slot + 1 : 0;
    zel_host_irq_log_t &rec = g_irq.log[slot];
    rec.seq = g_irq.log_seq++;
    rec.kind = kind;
    rec.context = context;
    rec.value = value;
    ring_unlock();
}

// The kernel lets waiting interrupt contexts in between dispatches once it
// has held the lock this long: often enough for timers to keep their time,
// seldom enough that a busy kernel does not sleep and wake at every event.
constexpr uint64_t kLetInAfterNs = 1000000;

// When the kernel last took the lock (its own host thread only).
uint64_t g_kernel_since_ns;

uint64_t now_ns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000ull + (uint64_t)ts.tv_nsec;
}

// The counter changes under the log lock; zel_host_irq_let_in also reads
// it without, to keep the kernel's look between dispatches cheap.
uint32_t nesting() { return __atomic_load_n(&g_irq.nesting, __ATOMIC_RELAXED); }
void set_nesting(uint32_t n) { __atomic_store_n(&g_irq.nesting, n, __ATOMIC_RELAXED); }

void enter(zel_host_thread_t *record) {
    const bool kernel = record == &g_irq.main;
    pthread_mutex_lock(&g_log_lock);
    // A host thread started before the kernel has set the port up (the
    // console's input thread, say) waits here for zel_host_irq_init: the
    // set-up would otherwise wipe the count of a context that got in first,
    // and every later leave would miscount whether the idle kernel needs a
    // wake.
    while (!g_ready && !kernel) pthread_cond_wait(&g_gate, &g_log_lock);
    // Logged on arrival, before any wait: at the gate, then for the lock.
    log_write(1, record, nesting());
    while (g_irq.gate_closed && !kernel) pthread_cond_wait(&g_gate, &g_log_lock);
    set_nesting(nesting() + 1);
    pthread_mutex_unlock(&g_log_lock);

    pthread_mutex_lock(&g_irq_lock);

    pthread_mutex_lock(&g_log_lock);
    log_write(2, record, nesting());
    if (kernel && g_irq.gate_closed) {
        g_irq.gate_closed = 0;
        pthread_cond_broadcast(&g_gate);
    }
    pthread_mutex_unlock(&g_log_lock);
    g_irq.running = record;
    if (kernel) g_kernel_since_ns = now_ns();
}

// The kernel's calls: set once, before the host threads that use them start.
const zel_host_kernel_calls_t *g_kernel_calls;

}  // namespace

const zel_host_kernel_calls_t &zel_host_kernel(void) { return *g_kernel_calls; }

extern "C" {

void zel_host_set_kernel_calls(const zel_host_kernel_calls_t *calls) { g_kernel_calls = calls; }

bool zel_host_init(void) {
    zel_host_irq_init();
    zel_systimer_init();
    return true;
}

bool zel_host_irq_init(void) {
    pthread_mutex_lock(&g_log_lock);
    memset(&g_irq, 0, sizeof g_irq);
    strcpy(g_irq.main.name, "por");
    g_irq.main.handle = zel_host_self_handle();
    g_irq.main.id = zel_host_thread_self_id();
    g_irq.enable = 1;
    zel_host_request_init(&g_irq.kernel_wake);
    pthread_mutex_unlock(&g_log_lock);
    enter(&g_irq.main);
    // From here on other host threads may enter (they queue for the lock
    // the kernel now holds).
    pthread_mutex_lock(&g_log_lock);
    g_ready = true;
    pthread_cond_broadcast(&g_gate);
    pthread_mutex_unlock(&g_log_lock);
    return true;
}

void zel_host_irq_enter(zel_host_thread_t *record) { enter(record); }

void zel_host_irq_leave(zel_host_thread_t *record, uintptr_t) {
    pthread_mutex_lock(&g_log_lock);
    uint32_t c = nesting();
    log_write(3, record, c);
    set_nesting(c - 1);
    uint8_t i = g_irq.idle;
    g_irq.idle = 0;
    // Whoever leaves holds the lock, so the kernel is out (or waits to come
    // back): those counted now come in, later ones wait at the gate.
    if (c > 1) g_irq.gate_closed = 1;
    pthread_mutex_unlock(&g_log_lock);

    if (c == 1 && !(i & 1)) {
        // The last interrupt context leaves while the kernel sleeps: wake it.
        g_irq.running = &g_irq.main;
        pthread_mutex_unlock(&g_irq_lock);
        g_leave_wakes.fetch_add(1);
        zel_host_request_send(&g_irq.kernel_wake);
    } else {
        g_irq.running = nullptr;
        pthread_mutex_unlock(&g_irq_lock);
    }
}

uint8_t zel_host_irq_disable(void) {
    uint8_t prev = g_irq.enable & 1;
    if (prev) {
        g_irq.enable = 0;
        log_write(4, g_irq.running, 0);
    }
    return prev;
}

uint8_t zel_host_irq_restore(uint8_t state) {
    uint8_t prev = g_irq.enable & 1;
    if ((state & 1) == prev) return prev;
    g_irq.enable = state & 1;
    log_write(4, g_irq.running, state & 1);
    return prev;
}

uint8_t zel_host_irq_enable(void) { return zel_host_irq_restore(1); }

void zel_host_idle_wait(uintptr_t) {
    pthread_mutex_lock(&g_log_lock);
    g_irq.idle = 1;
    pthread_mutex_unlock(&g_log_lock);
    zel_host_irq_leave(&g_irq.main, 0);
    zel_host_request_pend_idle(&g_irq.kernel_wake);
    g_idle_wakeups.fetch_add(1);
    enter(&g_irq.main);
}

bool zel_host_irq_let_in_due(void) {
    if (nesting() <= 1) return false;  // nobody waits for the lock
    return now_ns() - g_kernel_since_ns >= kLetInAfterNs;
}

bool zel_host_irq_let_in(void) {
    if (!zel_host_irq_let_in_due()) return false;
    pthread_mutex_lock(&g_log_lock);
    // Only the lock holder lowers the counter: what is seen here stays.
    const uint32_t waiting = nesting() - 1;
    if (waiting) g_irq.idle = 1;
    pthread_mutex_unlock(&g_log_lock);
    if (!waiting) return false;
    // As the idle wait: the kernel's own leave does not wake it and closes
    // the gate behind the waiting contexts; the last of them to leave wakes
    // it (after their own wake-up: no use looking for it).
    zel_host_irq_leave(&g_irq.main, 0);
    zel_host_request_pend(&g_irq.kernel_wake);
    enter(&g_irq.main);
    return true;
}

#if ZEL_HOST_TEST_HOOKS
uint32_t zel_host_idle_wakeups(void) { return g_idle_wakeups.load(); }
uint32_t zel_host_irq_leave_wakes(void) { return g_leave_wakes.load(); }

size_t zel_host_irq_log_read(zel_host_irq_log_t *out, size_t max) {
    ring_lock();
    size_t have = g_irq.log_seq < kLogSize ? g_irq.log_seq : kLogSize;
    size_t n = have < max ? have : max;
    // newest record is at log_index - 1
    for (size_t k = 0; k < n; ++k) {
        uint32_t back = static_cast<uint32_t>(n - k);
        uint32_t slot = (g_irq.log_index + kLogSize - back) % kLogSize;
        out[k] = g_irq.log[slot];
    }
    ring_unlock();
    return n;
}

uint32_t zel_host_irq_log_seq(void) {
    ring_lock();
    uint32_t s = g_irq.log_seq;
    ring_unlock();
    return s;
}

const zel_host_thread_t *zel_host_irq_main_record(void) { return &g_irq.main; }
const zel_host_thread_t *zel_host_irq_running(void) { return g_irq.running; }
#endif

}  // extern "C"

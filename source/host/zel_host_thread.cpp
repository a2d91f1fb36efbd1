// Host threads, wake objects and small host services on POSIX.
#include "zel_host.h"
#include "zel_host_test_hooks.h"
#include "zel_host_internal.h"

#include <atomic>
#include <errno.h>
#include <pthread.h>
#include <setjmp.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

// The real layout behind zel_host_request_t::event.
struct host_event {
    pthread_mutex_t m;
    pthread_cond_t c;
    uint32_t waiting;   // threads blocked in pend
    uint32_t releases;  // sends granted to blocked waiters, not yet taken
    uint8_t signalled;  // a send with nobody waiting (kept, collapses); stored atomically
    uint8_t abandoned;  // restart: the parked thread must leave
    uint8_t left;       // the abandoned thread has left the object
};
static_assert(sizeof(host_event) <= ZEL_HOST_REQUEST_STORAGE, "enlarge ZEL_HOST_REQUEST_STORAGE");
static_assert(alignof(host_event) <= 16, "wake object alignment");

host_event *ev(zel_host_request_t *req) { return reinterpret_cast<host_event *>(req->event); }

std::atomic<uint32_t> g_fail_threads{0};
// Creations still to succeed before one fails; negative: none armed.
std::atomic<int64_t> g_fail_thread_after{-1};
std::atomic<uint32_t> g_thread_creations{0};

constexpr size_t kMinStack = 1024 * 1024;

// How long a hand-over wait looks for a send before it sleeps.
constexpr uint64_t kSpinNs = 30000;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}

uint64_t now_ns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000ull + (uint64_t)ts.tv_nsec;
}

// Looks for a send with nobody waiting for up to kSpinNs; the pend after it
// takes the send. True when the send came.
bool look_for_send(host_event *e) {
    const uint64_t until = now_ns() + kSpinNs;
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (__atomic_load_n(&e->signalled, __ATOMIC_ACQUIRE)) return true;
            cpu_relax();
        }
        if (now_ns() >= until) return false;
    }
}

// Looking for a send pays only while sends come within the window: after
// two looks in a row whose send did not come, a wait backs off, looking
// again only after 1, 3, 7 ... 63 further waits; a send that comes within the window (seen while looking,
// already there, or waking the sleeper that soon) makes the next wait look
// again. Kept per host thread and kind of wait: a framework thread's waits
// for its next event, the kernel's waits for a thread to hand back, and the
// kernel's idle wait each follow their own rhythm.
//
// A wait for the answer to a send that woke a sleeping host thread, made
// when the caller has just come out of its idle wait (an interrupt or timer
// woke it: work that comes now and then), does not look at all: the answer
// comes only after that wake-up. Between two hand-overs of back-to-back
// work (a thread's sub-calls one after the other) it looks as any wait
// does: sleeping there would make both sides sleep for good, each hand-over
// a wake-up. (The framework thread's own waits do not take this rule either,
// or two sleeping sides would never start looking again.)
struct spin_history {
    uint8_t skip;     // waits left before the next look
    uint8_t backoff;  // the skip after the next miss, 0 when answered
    uint8_t misses;   // looks in a row whose send did not come
};

constexpr uint8_t kMaxBackoff = 63;

thread_local spin_history t_soon;    // zel_host_request_pend_soon
thread_local spin_history t_answer;  // zel_host_request_pend_answer
thread_local spin_history t_idle;    // the kernel's idle wait

// The calling host thread's last send woke a sleeping waiter.
thread_local bool t_woke_sleeper = false;
// The calling host thread came out of its idle wait and has not waited for
// an answer since.
thread_local bool t_after_idle = false;

std::atomic<bool> g_spin_on{true};
thread_local uint32_t t_spins = 0;  // waits that looked, on this host thread

void answered_soon(spin_history &h) {
    h.skip = 0;
    h.backoff = 0;
    h.misses = 0;
}

int pend_adaptive(zel_host_request_t *req, spin_history &h, bool peer_asleep) {
    host_event *e = ev(req);
    if (!g_spin_on.load(std::memory_order_relaxed)) return zel_host_request_pend(req);
    if (h.skip == 0 && !peer_asleep) {
        t_spins++;
        if (look_for_send(e)) {
            answered_soon(h);
        } else if (++h.misses >= 2) {  // one late answer (a preempted peer) does not stop the looking
            h.misses = 2;
            h.backoff = h.backoff >= kMaxBackoff / 2 ? kMaxBackoff : (uint8_t)(2 * h.backoff + 1);
            h.skip = h.backoff;
        }
        return zel_host_request_pend(req);
    }
    if (h.skip > 0) h.skip--;
    if (__atomic_load_n(&e->signalled, __ATOMIC_ACQUIRE)) {
        answered_soon(h);
        return zel_host_request_pend(req);
    }
    const uint64_t start = now_ns();
    const int r = zel_host_request_pend(req);
    if (now_ns() - start < kSpinNs) answered_soon(h);
    return r;
}

// Per host thread: where zel_host_leave_thread jumps to.
thread_local jmp_buf *t_exit_jmp = nullptr;

struct start_block {
    zel_host_thread_t *record;
    pthread_mutex_t m;
    pthread_cond_t c;
    bool ready;
    uint32_t id;
};

void set_host_name(const char *name) {
    char shortname[16];
    size_t n = strnlen(name, 15);
    memcpy(shortname, name, n);
    shortname[n] = 0;
    pthread_setname_np(pthread_self(), shortname);
}

// Kept out of line so that no local of the trampoline lives across setjmp.
__attribute__((noinline)) void run_record(zel_host_thread_t *record) { zel_host_thread_trampoline(record); }

void *host_trampoline(void *arg) {
    start_block *sb = static_cast<start_block *>(arg);
    zel_host_thread_t *record = sb->record;
    set_host_name(record->name);
    record->handle = static_cast<uintptr_t>(pthread_self());
    record->id = zel_host_thread_self_id();
    pthread_mutex_lock(&sb->m);
    sb->id = record->id;
    sb->ready = true;
    pthread_cond_signal(&sb->c);
    pthread_mutex_unlock(&sb->m);  // sb may be gone from here on

    jmp_buf env;
    t_exit_jmp = &env;
    if (setjmp(env) == 0) run_record(record);
    // Past this point the record belongs to others: do not touch it.
    t_exit_jmp = nullptr;
    return nullptr;
}

uint32_t try_start_host_thread(zel_host_thread_t *record) {
    record->handle = 0;
    record->id = 0;
    record->generation++;
    g_thread_creations.fetch_add(1);
    uint32_t failing = g_fail_threads.load();
    while (failing > 0 && !g_fail_threads.compare_exchange_weak(failing, failing - 1)) {}
    if (failing > 0) return 0;
    int64_t after = g_fail_thread_after.load();
    while (after >= 0 && !g_fail_thread_after.compare_exchange_weak(after, after - 1)) {}
    if (after == 0) return 0;

    start_block sb;
    sb.record = record;
    pthread_mutex_init(&sb.m, nullptr);
    pthread_cond_init(&sb.c, nullptr);
    sb.ready = false;
    sb.id = 0;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    size_t stack = record->stack_size > kMinStack ? record->stack_size : kMinStack;
    stack = (stack + 4095) & ~size_t{4095};
    pthread_attr_setstacksize(&attr, stack);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t th;
    int rc = pthread_create(&th, &attr, host_trampoline, &sb);
    pthread_attr_destroy(&attr);
    uint32_t id = 0;
    if (rc == 0) {
        pthread_mutex_lock(&sb.m);
        while (!sb.ready) pthread_cond_wait(&sb.c, &sb.m);
        id = sb.id;
        pthread_mutex_unlock(&sb.m);
    }
    pthread_cond_destroy(&sb.c);
    pthread_mutex_destroy(&sb.m);
    return id;
}

std::atomic<uint32_t> g_refused_threads{0};

uint32_t start_host_thread(zel_host_thread_t *record) {
    const uint32_t id = try_start_host_thread(record);
    if (id == 0) g_refused_threads.fetch_add(1, std::memory_order_relaxed);
    return id;
}

}  // namespace

uintptr_t zel_host_self_handle(void) { return static_cast<uintptr_t>(pthread_self()); }

void zel_host_leave_thread(void) {
    if (t_exit_jmp) longjmp(*t_exit_jmp, 1);
    for (;;) pause();
}

extern "C" {

uint32_t zel_host_refused_threads(void) { return g_refused_threads.load(std::memory_order_relaxed); }

uint32_t zel_host_thread_self_id(void) {
    static thread_local uint32_t t_id = 0;
    if (!t_id) t_id = static_cast<uint32_t>(syscall(SYS_gettid));
    return t_id;
}

uint32_t zel_host_thread_start(zel_host_thread_t *record, const char *name, zel_host_thread_entry_t entry, int) {
    if (name != record->name) {
        const char *src = name ? name : "";
        size_t n = strnlen(src, sizeof record->name - 1);
        memmove(record->name, src, n);
        record->name[n] = 0;
    }
    record->entry = entry;
    return start_host_thread(record);
}

int zel_host_thread_trampoline(zel_host_thread_t *record) {
    if (record->entry) record->entry(record);
    return 0;
}

int32_t zel_host_thread_restart(zel_host_thread_t *record) {
    if (record->wake && record->wake->initialised) {
        // The old host thread is parked on its wake object: let it leave,
        // then give the record a fresh wake object.
        zel_host_request_abandon(record->wake);
        zel_host_request_fini(record->wake);
        zel_host_request_init(record->wake);
    }
    return start_host_thread(record) ? 0 : ZEL_HOST_ERR_STATE;
}

void zel_host_thread_exit(void) { zel_host_leave_thread(); }

void zel_host_request_init(zel_host_request_t *req) {
    memset(req->event, 0, sizeof req->event);
    host_event *e = ev(req);
    pthread_mutex_init(&e->m, nullptr);
    pthread_cond_init(&e->c, nullptr);
    req->initialised = 1;
}

void zel_host_request_send(zel_host_request_t *req) {
    host_event *e = ev(req);
    pthread_mutex_lock(&e->m);
    t_woke_sleeper = e->waiting > e->releases;
    if (t_woke_sleeper) {
        e->releases++;
        pthread_cond_signal(&e->c);
    } else {
        __atomic_store_n(&e->signalled, 1, __ATOMIC_RELEASE);
    }
    pthread_mutex_unlock(&e->m);  // notify happened under the mutex
}

int zel_host_request_pend_soon(zel_host_request_t *req) { return pend_adaptive(req, t_soon, false); }

int zel_host_request_pend_answer(zel_host_request_t *req) {
    const bool after_idle = t_after_idle;
    t_after_idle = false;
    return pend_adaptive(req, t_answer, t_woke_sleeper && after_idle);
}

int zel_host_request_pend_idle(zel_host_request_t *req) {
    const int r = pend_adaptive(req, t_idle, false);
    t_after_idle = true;
    return r;
}

int zel_host_request_pend(zel_host_request_t *req) {
    host_event *e = ev(req);
    pthread_mutex_lock(&e->m);
    if (!e->abandoned) {
        if (e->signalled) {
            __atomic_store_n(&e->signalled, 0, __ATOMIC_RELAXED);
            pthread_mutex_unlock(&e->m);
            return 0;
        }
        e->waiting++;
        while (e->releases == 0 && !e->abandoned) pthread_cond_wait(&e->c, &e->m);
        e->waiting--;
        if (!e->abandoned) {
            e->releases--;
            pthread_mutex_unlock(&e->m);
            return 0;
        }
    }
    // Abandoned by zel_host_thread_restart: leave without touching anything else.
    e->left = 1;
    pthread_cond_broadcast(&e->c);
    pthread_mutex_unlock(&e->m);
    zel_host_leave_thread();
}

void zel_host_request_abandon(zel_host_request_t *req) {
    if (!req->initialised) return;
    host_event *e = ev(req);
    pthread_mutex_lock(&e->m);
    e->abandoned = 1;
    pthread_cond_broadcast(&e->c);
    while (!e->left) pthread_cond_wait(&e->c, &e->m);
    pthread_mutex_unlock(&e->m);
}

void zel_host_request_fini(zel_host_request_t *req) {
    if (!req->initialised) return;
    host_event *e = ev(req);
    pthread_cond_destroy(&e->c);
    pthread_mutex_destroy(&e->m);
    req->initialised = 0;
}

void zel_host_sleep_ms(uint32_t ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

#if ZEL_HOST_TEST_HOOKS
void zel_host_handover_spin(bool on) { g_spin_on.store(on); }
uint32_t zel_host_handover_spins(void) { return t_spins; }

uint32_t zel_host_request_sleepers(zel_host_request_t *req) {
    host_event *e = ev(req);
    pthread_mutex_lock(&e->m);
    const uint32_t n = e->waiting - e->releases;
    pthread_mutex_unlock(&e->m);
    return n;
}

void zel_host_fail_thread_creations(uint32_t count) { g_fail_threads.store(count); }

void zel_host_fail_thread_creation_after(int64_t skip) { g_fail_thread_after.store(skip); }

bool zel_host_thread_failure_armed(void) { return g_fail_thread_after.load() >= 0; }

uint32_t zel_host_thread_creation_count(void) { return g_thread_creations.load(); }

uint64_t zel_host_process_cpu_ticks(void) {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100;
}
#endif

}  // extern "C"

/* zel host port for Linux: emulated interrupts, host threads, wake objects, heap hooks, system timer and restart.
 *
 * The only place of the system that reaches POSIX: everything else uses the
 * calls below. The kernel runs on the host thread that calls zel_host_init;
 * every other host thread touches framework state only between
 * zel_host_irq_enter and zel_host_irq_leave (an "emulated interrupt").
 */
#ifndef ZEL_HOST_H
#define ZEL_HOST_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the opaque storage of a host wake object (mutex, condition
 * variable and flags); checked against the real layout in zel_host_thread.cpp. */
#define ZEL_HOST_REQUEST_STORAGE 112

/* Host wake object: auto-reset event. A send before the wait is kept,
 * repeated sends collapse, each send releases one waiter. */
typedef struct zel_host_request {
    unsigned char event[ZEL_HOST_REQUEST_STORAGE] __attribute__((aligned(16)));
    uint8_t initialised; /* 1 after init, 0 after fini */
} zel_host_request_t;

struct zel_host_thread;
typedef void (*zel_host_thread_entry_t)(struct zel_host_thread *record);

/* Host thread record. Must stay in place for the life of its host thread. */
typedef struct zel_host_thread {
    char name[32];                 /* whole name; the host sees its first 15 characters */
    zel_host_thread_entry_t entry; /* called with the record by the trampoline */
    uintptr_t handle;              /* pthread_t of the host thread, 0 when none */
    uint32_t id;                   /* kernel thread id (gettid), 0 when none */
    /* Linux port additions */
    uint32_t generation;           /* incremented by every start and restart */
    uint32_t stack_size;           /* host stack wanted; 0 or below 1 MiB means 1 MiB */
    zel_host_request_t *wake;      /* wake object the thread parks on; restart abandons it */
} zel_host_thread_t;

/* ---- interrupt emulation ---- */
bool zel_host_init(void);
bool zel_host_irq_init(void);
void zel_host_irq_enter(zel_host_thread_t *record);
void zel_host_irq_leave(zel_host_thread_t *record, uintptr_t ignored);
uint8_t zel_host_irq_disable(void);
uint8_t zel_host_irq_restore(uint8_t state);
uint8_t zel_host_irq_enable(void);
void zel_host_idle_wait(uintptr_t ignored);

/* The interrupt log ring (1024 records); nothing in the system reads it but tests. */
typedef struct zel_host_irq_log {
    uint32_t seq;
    uint32_t kind;  /* 1 enter before waiting, 2 enter holding, 3 leave, 4 flag change */
    const zel_host_thread_t *context;
    uint32_t value;
} zel_host_irq_log_t;
/* Copies up to `max` of the newest records, oldest first; returns how many. */
size_t zel_host_irq_log_read(zel_host_irq_log_t *out, size_t max);
uint32_t zel_host_irq_log_seq(void); /* sequence number of the next record */
const zel_host_thread_t *zel_host_irq_main_record(void);
const zel_host_thread_t *zel_host_irq_running(void);
/* How many times the kernel came back from its idle wait (tests). */
uint32_t zel_host_idle_wakeups(void);

/* ---- host threads ---- */
uint32_t zel_host_thread_start(zel_host_thread_t *record, const char *name,
                               zel_host_thread_entry_t entry, int priority);
int zel_host_thread_trampoline(zel_host_thread_t *record);
int32_t zel_host_thread_restart(zel_host_thread_t *record);
void zel_host_thread_exit(void) __attribute__((noreturn));
uint32_t zel_host_thread_self_id(void);

/* ---- host wake objects ---- */
void zel_host_request_init(zel_host_request_t *req);
void zel_host_request_send(zel_host_request_t *req);
int zel_host_request_pend(zel_host_request_t *req);
/* zel_host_request_pend for a send that is expected within microseconds (a
 * hand-over between the kernel and a framework thread): the caller looks for
 * it for up to 30 us before it goes to sleep, so a quick answer costs no
 * wake-up of a sleeping host thread. */
int zel_host_request_pend_soon(zel_host_request_t *req);
void zel_host_request_fini(zel_host_request_t *req);
/* The host thread parked on (or about to park on) `req` leaves its host
 * thread without unwinding; returns once it has let go of `req`. */
void zel_host_request_abandon(zel_host_request_t *req);

void zel_host_sleep_ms(uint32_t ms);

/* ---- host heap (alignment 16) ---- */
void *zel_host_heap_malloc(size_t size);
void *zel_host_heap_realloc(void *ptr, size_t size);
int zel_host_heap_free(void *ptr);
size_t zel_host_heap_alignment(void);
size_t zel_host_heap_size(void *ptr);

/* ---- system timer ---- */
int zel_systimer_init(void);
int zel_systimer_start(void);
uint64_t zel_systimer_get_tick(void);
bool zel_systimer_set(uint64_t due);
bool zel_systimer_is_due(uint64_t due);
uint64_t zel_systimer_ms_to_tick(uint32_t ms);
uint64_t zel_systimer_tick_to_ms(uint64_t tick);
void zel_systimer_thread(zel_host_thread_t *record);
void zel_systimer_on_tick(uint64_t tick);
uint32_t zel_systimer_fire_count(void); /* expiries delivered so far (for tests) */
uint32_t zel_systimer_wait_count(void); /* timed waits the timer thread began (for tests) */

/* ---- restart ---- */
void zel_host_reset(void) __attribute__((noreturn));
typedef void (*zel_host_exit_hook_t)(int code);
/* Replaces the exit of zel_host_reset (default: flush stdio, _exit(code)).
 * A hook that returns makes zel_host_reset end with _exit(code) all the same,
 * unless the hook itself never returns. Returns the previous hook. */
zel_host_exit_hook_t zel_host_set_exit_hook(zel_host_exit_hook_t hook);

/* ---- fault injection for tests ---- */
/* The next `count` host thread creations fail. */
void zel_host_fail_thread_creations(uint32_t count);
/* The next `count` host heap allocations (malloc and realloc) fail. */
void zel_host_fail_heap_allocations(uint32_t count);

/* ---- process CPU time in 100 ns units (tests and benchmarks) ---- */
uint64_t zel_host_process_cpu_ticks(void);

#ifdef __cplusplus
}
#endif

#endif

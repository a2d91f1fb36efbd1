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

#include "zel_host_err.h"

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
    uint32_t generation;      /* incremented by every start and restart */
    uint32_t stack_size;      /* host stack wanted; 0 or below 1 MiB means 1 MiB */
    zel_host_request_t *wake; /* wake object the thread parks on; restart abandons it */
} zel_host_thread_t;

/* ---- the kernel's calls ----
 * The platform side includes nothing of the kernel and calls up into it only
 * through this table, which the kernel hands over at start, before
 * zel_host_init. */
typedef struct zel_host_kernel_calls {
    void (*timer_tick)(void); /* a system timer expiry, inside its emulated interrupt */
} zel_host_kernel_calls_t;
/* `calls` must live for the rest of the process. */
void zel_host_set_kernel_calls(const zel_host_kernel_calls_t *calls);

/* ---- interrupt emulation ---- */
bool zel_host_init(void);
bool zel_host_irq_init(void);
void zel_host_irq_enter(zel_host_thread_t *record);
void zel_host_irq_leave(zel_host_thread_t *record, uintptr_t ignored);
uint8_t zel_host_irq_disable(void);
uint8_t zel_host_irq_restore(uint8_t state);
uint8_t zel_host_irq_enable(void);
void zel_host_idle_wait(uintptr_t ignored);
/* Called by the kernel between two dispatches, holding the interrupt lock:
 * when interrupt contexts wait for the lock and the kernel has held it for
 * a millisecond or more, lets those that wait in (as the idle wait does)
 * and returns true once they have left and the kernel holds the lock again;
 * otherwise returns false at once (one load when nobody waits). So
 * emulated interrupts (the system timer among them) get in within about a
 * millisecond while agents stay ready and the kernel never goes idle. */
bool zel_host_irq_let_in(void);
/* True when zel_host_irq_let_in, called now, would let waiting interrupt
 * contexts in. Read by a framework thread that runs work in the kernel's
 * stead while the kernel waits for it (holding the lock), so that it hands
 * back in time for them. */
bool zel_host_irq_let_in_due(void);

/* ---- host threads ---- */
uint32_t zel_host_thread_start(
    zel_host_thread_t *record, const char *name, zel_host_thread_entry_t entry, int priority);
int zel_host_thread_trampoline(zel_host_thread_t *record);
/* Starts the record's host thread again: 0, or ZEL_HOST_ERR_STATE when the
 * host cannot start a thread. */
[[nodiscard]] int32_t zel_host_thread_restart(zel_host_thread_t *record);

void zel_host_thread_exit(void) __attribute__((noreturn));
uint32_t zel_host_thread_self_id(void);

/* ---- host wake objects ---- */
void zel_host_request_init(zel_host_request_t *req);
void zel_host_request_send(zel_host_request_t *req);
int zel_host_request_pend(zel_host_request_t *req);
/* zel_host_request_pend for a send that may come within microseconds (a
 * framework thread's wait for its next event after it handed back): the
 * caller looks for it for up to 30 us before it goes to sleep, so a quick
 * answer costs no wake-up of a sleeping host thread. It looks only while
 * that pays: after two waits in a row whose send did not come within the
 * window, only every 2nd, 4th ... 64th wait until one does. */
int zel_host_request_pend_soon(zel_host_request_t *req);
/* zel_host_request_pend_soon for the answer to the caller's own last send
 * (the kernel's wait for a framework thread to hand back): when the caller
 * has just come out of its idle wait and that send woke a sleeping host
 * thread, the answer comes only after its wake-up, and the caller sleeps at
 * once. */
int zel_host_request_pend_answer(zel_host_request_t *req);
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
/* How many host heap allocations and host thread starts (and restarts) the
 * host refused since the program started: the cause a wait that the
 * program gave up on can name. From any thread. */
uint32_t zel_host_refused_allocations(void);
uint32_t zel_host_refused_threads(void);

/* ---- system timer ---- */
int zel_systimer_init(void);
/* Starts the timer's host thread ("timer"): 0, or ZEL_HOST_ERR_NO_MEMORY
 * when the host refused it. */
int zel_systimer_start(void);
uint64_t zel_systimer_get_tick(void);
bool zel_systimer_set(uint64_t due);
bool zel_systimer_is_due(uint64_t due);
uint64_t zel_systimer_ms_to_tick(uint32_t ms);
uint64_t zel_systimer_tick_to_ms(uint64_t tick);
void zel_systimer_thread(zel_host_thread_t *record);
void zel_systimer_on_tick(uint64_t tick);

/* ---- the host C library ---- */
/* The calling host thread's errno (Linux numbering), and setting it. */
int zel_host_errno(void);
void zel_host_set_errno(int value);
/* Writes `line` and a line end to the host's standard error stream (the
 * terminal or log the program was started from) at once: for the few
 * failures a user must learn of although the window cannot say why. */
void zel_host_error_line(const char *line);

/* ---- restart ---- */
/* Restarts the program in place: the process becomes a fresh instance of its
 * own executable (/proc/self/exe) with the arguments it was started with, the
 * current environment and working directory, its standard streams and none
 * of its other descriptors, and the signal mask and ignored signals it was
 * started with (the end signals that zel_host_end_watch_signals took over
 * stay blocked, with what is pending, for the new image's watcher). An end
 * requested before (zel_host_end.h) ends the program with its code instead
 * of the restart. The process id stays, and with it the terminal (its prompt
 * and Ctrl-C) and a parent waiting on the program, which sees the new
 * image's end; the new image reads on from the standard input where this one
 * stopped. Stdio buffers are flushed first. When the new image cannot be
 * started, a line on standard error says why and the program ends through
 * the exit hook with 1. Does not return. */
void zel_host_reset(void) __attribute__((noreturn));
typedef void (*zel_host_restart_hook_t)(void);
/* Called by zel_host_reset, on its host thread, just before the new image
 * replaces this one (default: none): gives back what the program changed
 * for its run and the new image must find as the program found it, such as
 * a terminal's mode. Returns the previous hook. */
zel_host_restart_hook_t zel_host_set_restart_hook(zel_host_restart_hook_t hook);
typedef void (*zel_host_exit_hook_t)(int code);
/* Replaces the exit of zel_host_exit (default: flush stdio, _exit(code)).
 * A hook that returns makes zel_host_exit end with _exit(code) all the same,
 * unless the hook itself never returns. Returns the previous hook. */
zel_host_exit_hook_t zel_host_set_exit_hook(zel_host_exit_hook_t hook);
/* Ends the program with `code` through the exit hook. */
void zel_host_exit(int code) __attribute__((noreturn));
/* Writes the line that says why the program ends, as zel_host_error_line
 * does, unless such a line was written already: when failures on two host
 * threads end the program at once, only the first is told. */
void zel_host_ending_line(const char *line);
/* A step of the program's start that cannot be done: writes
 * "<program>: cannot start: <what>" as one line on the standard error
 * stream (zel_host_ending_line) and ends the program with status 1 through
 * the exit hook. `what`
 * says what the program could not get ("no host thread for ..."). */
void zel_host_fail_start(const char *what) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#endif

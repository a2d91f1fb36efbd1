/* What the host port shows tests only: its interrupt log, its counters and
 * its fault injection. Nothing in the product calls these; the host port's
 * own sources that keep the state include this header to define them, in
 * builds with ZEL_HOST_TEST_HOOKS (the test builds, ZEL_TESTS) only: the
 * product holds none of them (scripts/product_symbols checks it). */
#ifndef ZEL_HOST_TEST_HOOKS_H
#define ZEL_HOST_TEST_HOOKS_H

#include <stddef.h>
#include <stdint.h>

#include "zel_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- the interrupt log ring (1024 records) ---- */
typedef struct zel_host_irq_log {
    uint32_t seq;
    uint32_t kind; /* 1 enter on arrival (before the gate and the lock), 2 enter holding, 3 leave, 4 flag change */
    const zel_host_thread_t *context;
    uint32_t value;
} zel_host_irq_log_t;
/* Copies up to `max` of the newest records, oldest first; returns how many. */
size_t zel_host_irq_log_read(zel_host_irq_log_t *out, size_t max);
/* The sequence number of the next record. */
uint32_t zel_host_irq_log_seq(void);
/* The record of the kernel's own host thread. */
const zel_host_thread_t *zel_host_irq_main_record(void);
/* The record of the host thread inside an emulated interrupt now (none: NULL). */
const zel_host_thread_t *zel_host_irq_running(void);

/* ---- counters ---- */
/* How many times the kernel came back from its idle wait. */
uint32_t zel_host_idle_wakeups(void);
/* How many wakes of the kernel interrupt contexts' leaves have sent (each
 * one counted before it is sent). */
uint32_t zel_host_irq_leave_wakes(void);
/* Timer expiries delivered so far. */
uint32_t zel_systimer_fire_count(void);
/* Timed waits the timer thread began. */
uint32_t zel_systimer_wait_count(void);
/* Hand-over waits (pend_soon, pend_answer, the idle wait) of the calling
 * host thread that looked for their send before sleeping. */
uint32_t zel_host_handover_spins(void);
/* Host threads asleep in a pend on `req` that no send has released yet. */
uint32_t zel_host_request_sleepers(zel_host_request_t *req);
/* Process CPU time in 100 ns units (tests and benchmarks). */
uint64_t zel_host_process_cpu_ticks(void);

/* ---- switches ---- */
/* Hand-over waits look for their send before sleeping (on, the default) or
 * sleep at once (off: what benchmarks compare with). */
void zel_host_handover_spin(bool on);

/* ---- fault injection ---- */
/* The next `count` host thread creations fail. */
void zel_host_fail_thread_creations(uint32_t count);
/* After `skip` more creations succeed, the next one fails (once); a
 * negative `skip` disarms it. For sweeping the n-th creation of an
 * operation. */
void zel_host_fail_thread_creation_after(int64_t skip);
/* Whether the creation armed above has not failed yet. */
bool zel_host_thread_failure_armed(void);
/* Host thread creations tried so far (failed ones too). */
uint32_t zel_host_thread_creation_count(void);
/* The next `count` host heap allocations (malloc and realloc) fail. */
void zel_host_fail_heap_allocations(uint32_t count);
/* After `skip` more host heap allocations succeed, the next one fails
 * (once); a negative `skip` disarms it. For sweeping the n-th allocation
 * of an operation. */
void zel_host_fail_heap_allocation_after(int64_t skip);
/* Whether the allocation armed above has not failed yet. */
bool zel_host_heap_failure_armed(void);
/* From now on one host heap allocation in every `every` fails (0: none). */
void zel_host_fail_heap_every(uint32_t every);
/* The next `count` opens of host files and folders (zel_host_file.h) fail
 * with the host error number `error` (EMFILE: out of descriptors). */
void zel_host_fail_file_opens(uint32_t count, int error);

/* ---- ending on request (zel_host_end.h) ---- */
/* Called by work that holds the end off, at a boundary between two of its
 * operations. When the environment variable ZEL_TEST_END_MARK names a file,
 * the first call of the program creates that file and returns only once an
 * end is requested, so a test can send its signal while the work is known
 * to be in its middle. Otherwise it returns at once. */
void zel_host_test_end_boundary(void);

/* ---- a window that never comes up (zel_disp_memory.h) ---- */
/* When the environment variable ZEL_TEST_FIRST_PAINT_HELD names a number of
 * milliseconds (1 or more), the in-memory window holds its first paint for
 * ever: its thread blocks inside it, with the framebuffer lock held, as a
 * window thread does whose window system never answers. The GUI then waits
 * that long for the display instead of its own bound. Answers that number,
 * or 0 (unset, or not such a number): the window paints as always. */
uint32_t zel_host_test_first_paint_held_ms(void);

#ifdef __cplusplus
}
#endif

#endif

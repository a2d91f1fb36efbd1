/* Sync objects: semaphore, mutex (owner, priority inheritance)
 * and trigger in one record. */
#ifndef ZEL_SYNC_H
#define ZEL_SYNC_H

#include "zel_eda.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the reason calls and the waiting wrappers. */
enum {
    ZEL_SYNC_OTHER = 0, /* another event: not a wake of this object */
    ZEL_SYNC_TIMEOUT = 1,
    ZEL_SYNC_KEEP_WAITING = 2,
    ZEL_SYNC_OBTAINED = 3,
    ZEL_SYNC_CANCELLED = 4
};

#define ZEL_SYNC_MUTEX 0x8000u      /* count: a mutex */
#define ZEL_SYNC_NO_CONSUME 0x8000u /* max: a pend does not consume (trigger) */

typedef struct zel_sync {
    uint16_t count;
    uint16_t max;
    zel_dlist_t waiters;
    zel_eda_t *owner;
} zel_sync_t;

/* count: negative for a mutex (0x8001 = free mutex as int16 -32767). */
[[nodiscard]] int32_t zel_eda_sync_init(zel_sync_t *sync, int16_t count, uint16_t max);
/* Signal: 0, or -15 at the maximum. Each waiter took the event node of its
 * wake when it began to wait, so a signal (a mutex's release) allocates
 * nothing and cannot fail for want of nodes; only a waiter listed by hand
 * without its node (zel_eda_sync_add_waiter when none could be had) makes it
 * take one, and -6 without it (then nothing changes: the count stays, the
 * waiters wait on). */
[[nodiscard]] int32_t zel_eda_sync_increase(zel_sync_t *sync);
[[nodiscard]] int32_t zel_eda_sync_increase_by(zel_sync_t *sync, zel_eda_t *agent);
[[nodiscard]] int32_t zel_eda_sync_increase_ex(zel_sync_t *sync, zel_eda_t *agent, bool no_consume);
/* Releases a lock (a mutex, or a semaphore of maximum 1 used as one) that
 * the caller holds: its waiters hold the nodes of their wakes, so this does
 * not fail; should it all the same, the failure is traced and the lock stays
 * held. `agent` (null: the current one) is the releaser. */
void zel_eda_sync_release(zel_sync_t *sync, zel_eda_t *agent);
/* Interrupt side: the result of the 265 posted to the timer task, which
 * signals for it; a signal that fails there for want of event nodes is kept
 * and signalled again a millisecond later, until its wakes are posted. */
[[nodiscard]] int32_t zel_eda_sync_increase_from_irq(zel_sync_t *sync);
/* The same with the node of the 265 reserved beforehand in `slot` (emptied):
 * with a node there the hand-over cannot fail for want of nodes, and the
 * timer task's signal then wakes with the waiters' own nodes. */
[[nodiscard]] int32_t zel_eda_sync_increase_from_irq_reserved(zel_sync_t *sync, zel_evt_node_t **slot);
/* 0 taken, 1 not taken (waiting unless the timeout is 0), -6 not taken and
 * not waiting: the node of the waiter's wake could not be had. Timeout in
 * ticks, 0 try only, negative for ever. */
[[nodiscard]] int32_t zel_eda_sync_decrease(zel_sync_t *sync, int64_t timeout);
[[nodiscard]] int32_t zel_eda_sync_decrease_by(zel_sync_t *sync, int64_t timeout, zel_eda_t *agent);
[[nodiscard]] int32_t zel_eda_sync_decrease_ex(zel_sync_t *sync, int64_t timeout, zel_eda_t *agent, bool no_consume);
[[nodiscard]] int32_t zel_eda_sync_get_reason(zel_sync_t *sync, zel_evt_t evt);
/* Wakes every waiter with 263 (with the node it holds for its wake); a waiter
 * listed without one whose 263 cannot be had stays listed. */
void zel_eda_sync_cancel(zel_sync_t *sync);
void zel_eda_sync_reset(zel_sync_t *sync);
/* Appends the agent (none: current) to a waiter list and arms its timeout. */
void zel_eda_sync_add_waiter(zel_dlist_t *waiters, zel_eda_t *agent, int64_t timeout);
/* Thread or agent; the agent form returns 2 and is called again
 * on each following event until it returns something else; -6 when the wait
 * could not begin for want of the node of its wake (nothing taken). */
[[nodiscard]] int32_t zel_sync_wait(zel_sync_t *sync, int32_t timeout);
[[nodiscard]] int32_t zel_sync_wait_ex(zel_sync_t *sync, int32_t timeout);

#ifdef __cplusplus
}
#endif

#endif

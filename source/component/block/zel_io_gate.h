/* A gate that lets one operation at a time through and queues the others in
 * arrival order. It serialises the operations of a FAT volume and the
 * requests of a block device that keeps one request's state (a SCSI device's
 * command block, a file's position), whose steps may each complete later.
 *
 * Waiting agents are queued through their own wait node, so an agent that is
 * finished while it waits leaves the queue with it. The holder's leave makes
 * the first waiter the owner and posts it the wake event (266); a handler
 * waiting at the gate takes a 266 as its turn only when
 * zel_io_gate_is_mine() holds, and ignores every other event meanwhile. A
 * wake that cannot be posted (no event node) is sent again every
 * ZEL_IO_GATE_RETRY_MS until it goes out, so the waiter is never left
 * asleep; when its owner has been finished meanwhile, the gate goes on to
 * the next waiter.
 *
 * The gate must not be entered again by the agent that holds it. */
#ifndef ZEL_IO_GATE_H
#define ZEL_IO_GATE_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"
#include "zel_timer.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_IO_GATE_RETRY_MS 10u

typedef struct zel_io_gate {
    zel_eda_t *owner;           /* none: open */
    zel_dlist_t waiters;        /* agents, through their wait node */
    zel_callback_timer_t retry; /* re-sends a wake that could not be posted */
    uint8_t wake_owed;
} zel_io_gate_t;

/* Kernel context. True: the gate is the current agent's now. False: the
 * agent is queued; wait for 266 and zel_io_gate_is_mine(). */
[[nodiscard]] bool zel_io_gate_enter(zel_io_gate_t *gate);
/* True when the current agent holds the gate. */
bool zel_io_gate_is_mine(const zel_io_gate_t *gate);
/* Hands the gate to the first waiter, or opens it. */
void zel_io_gate_leave(zel_io_gate_t *gate);
/* Stops a pending wake retry; for a gate whose record is about to go. */
void zel_io_gate_fini(zel_io_gate_t *gate);

#ifdef __cplusplus
}
#endif

#endif

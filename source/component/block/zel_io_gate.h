/* A gate that lets one operation at a time through and queues the others in
 * arrival order. Used to serialise the operations of a FAT volume and the
 * requests of a SCSI block device, whose steps may each complete later.
 *
 * A handler enters with a waiter record kept in its own locals. When the gate
 * is taken, the waiter is queued and the handler returns; it is handed the
 * gate by the holder's leave, which sets `granted` and posts the wake event
 * (266) to the waiter's agent. Other events that reach the handler meanwhile
 * leave `granted` clear and are ignored. */
#ifndef ZEL_IO_GATE_H
#define ZEL_IO_GATE_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_io_waiter {
    struct zel_io_waiter *next;
    zel_eda_t *agent;
    uint8_t granted;
} zel_io_waiter_t;

typedef struct zel_io_gate {
    uint8_t busy;
    zel_io_waiter_t *head;
    zel_io_waiter_t *tail;
} zel_io_gate_t;

/* True: the gate is the caller's now. False: `waiter` is queued for the
 * current agent; wait for `granted`. */
bool zel_io_gate_enter(zel_io_gate_t *gate, zel_io_waiter_t *waiter);
/* Passes the gate to the first waiter (posting it 266), or opens it. */
void zel_io_gate_leave(zel_io_gate_t *gate);

#ifdef __cplusplus
}
#endif

#endif

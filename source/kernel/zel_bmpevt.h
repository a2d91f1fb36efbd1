/* Bitmap events: a word of bits that waiters test with a mask, requiring all
 * of its bits or any one of them. Adapters set a bit when their source (a
 * sync object or another bitmap event) fires.
 *
 * Waiting follows the sync objects: a pend succeeds at once or registers the
 * agent, which later maps the event it receives (264 changed, 263 cancelled,
 * 261 timeout) to a result with zel_eda_bmpevt_poll; results are those of
 * zel_sync.h. A change is announced by a token (event 264) that travels along
 * the waiter list: each waiter that receives it tests its mask and hands the
 * token on, so only one waiter holds it at a time. Bits in the auto-reset mask
 * are consumed by the pend they satisfy.
 *
 * Everything here runs in framework context (handlers and threads); the
 * records are the caller's and must stay alive while waited on. */
#ifndef ZEL_BMPEVT_H
#define ZEL_BMPEVT_H

#include "zel_eda.h"
#include "zel_sync.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_bmpevt_adapter zel_bmpevt_adapter_t;

/* Flag byte. */
#define ZEL_BMPEVT_COUNT_MASK 0x1Fu /* number of adapters (0 to 31) */
#define ZEL_BMPEVT_CANCELLING 0x20u
#define ZEL_BMPEVT_NOTIFYING 0x40u /* a 264 travels along the waiter list */
#define ZEL_BMPEVT_AGAIN 0x80u     /* the value changed while the 264 travelled */

typedef struct zel_bmpevt {
    uint32_t auto_reset;             /* bits that a satisfied pend consumes */
    zel_bmpevt_adapter_t **adapters; /* one per bit (entries may be null), or null */
    zel_dlist_t waiters;             /* agents' wait nodes */
    uint32_t value;
    uint32_t cancelled;
    uint8_t flags;
} zel_bmpevt_t;

#define ZEL_BMPEVT_ALL 0x01u /* pender operation: every bit of the mask */

typedef struct zel_bmpevt_pender {
    uint32_t mask;
    uint8_t op;       /* ZEL_BMPEVT_ALL, else any bit suffices */
    zel_eda_t *agent; /* filled by the pend */
} zel_bmpevt_pender_t;

typedef struct zel_bmpevt_adapter_op {
    void (*init)(zel_bmpevt_adapter_t *adapter);
    void (*reset)(zel_bmpevt_adapter_t *adapter);
} zel_bmpevt_adapter_op_t;

/* An adapter sets its bit of `bmpevt` when its source fires, from an agent
 * of its own. Zero it before its first init. */
struct zel_bmpevt_adapter {
    const zel_bmpevt_adapter_op_t *op;
    uint32_t mask;        /* its bit */
    zel_bmpevt_t *bmpevt; /* filled by the bitmap event's init */
    zel_eda_t agent;
    void *source;               /* a zel_sync_t or a zel_bmpevt_t, by op */
    zel_bmpevt_pender_t pender; /* bitmap-event source: the adapter's own wait */
};

extern const zel_bmpevt_adapter_op_t zel_bmpevt_adapter_sync_op;
extern const zel_bmpevt_adapter_op_t zel_bmpevt_adapter_bmpevt_op;

/* Init empties the waiter list, clears value and cancelled mask and inits
 * each adapter present (which starts its agent at the running priority: call
 * it from a handler or a thread). */
[[nodiscard]] int32_t zel_eda_bmpevt_init(zel_bmpevt_t *bmpevt, uint8_t adapter_count);
[[nodiscard]] int32_t zel_eda_bmpevt_init_ex(
    zel_bmpevt_t *bmpevt, zel_bmpevt_adapter_t **adapters, uint8_t adapter_count, uint32_t auto_reset);
[[nodiscard]] int32_t zel_eda_bmpevt_set(zel_bmpevt_t *bmpevt, uint32_t mask);
/* Clears the bits and gives each such bit's adapter its reset. */
[[nodiscard]] int32_t zel_eda_bmpevt_reset(zel_bmpevt_t *bmpevt, uint32_t mask);
/* Marks the bits cancelled and sends a 263 token along the waiters. */
[[nodiscard]] int32_t zel_eda_bmpevt_cancel(zel_bmpevt_t *bmpevt, uint32_t mask);

/* 0 satisfied at once (only with timeout 0), 1 not satisfied (waiting unless
 * the timeout is 0), -7 the mask meets the cancelled mask, -6 the node of the
 * waiter's wake could not be had (not waiting). Timeout in ticks, negative
 * for ever. */
[[nodiscard]] int32_t zel_eda_bmpevt_pend(zel_bmpevt_t *bmpevt, zel_bmpevt_pender_t *pender, int64_t timeout);
/* The waiter's reason call for the event it received. */
[[nodiscard]] int32_t zel_eda_bmpevt_poll(zel_bmpevt_t *bmpevt, zel_bmpevt_pender_t *pender, zel_evt_t evt);
/* Thread or agent. The agent form returns 2 and is called again on each
 * following event until it returns something else; -6 as for the pend. */
[[nodiscard]] int32_t zel_bmpevt_wait(zel_bmpevt_t *bmpevt, zel_bmpevt_pender_t *pender, int32_t timeout);
/* Thread form: 3 satisfied, 1 timeout, 4 cancelled, 0 refused, -6 as for the pend. */
[[nodiscard]] int32_t zel_thread_bmpevt_pend(zel_bmpevt_t *bmpevt, zel_bmpevt_pender_t *pender, int64_t timeout);
/* The travelling notice: posts `evt` to the first waiter from `node` on that
 * takes it. */
void zel_bmpevt_notify(zel_bmpevt_t *bmpevt, zel_dlist_node_t *node, zel_evt_t evt);

/* Adapters. */
void zel_bmpevt_adapter_start(zel_bmpevt_adapter_t *adapter);
void zel_bmpevt_adapter_fire(zel_bmpevt_adapter_t *adapter);
void zel_bmpevt_adapter_sync_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_bmpevt_adapter_bmpevt_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_bmpevt_adapter_sync_init(zel_bmpevt_adapter_t *adapter);
void zel_bmpevt_adapter_sync_reset(zel_bmpevt_adapter_t *adapter);
void zel_bmpevt_adapter_bmpevt_init(zel_bmpevt_adapter_t *adapter);
void zel_bmpevt_adapter_bmpevt_reset(zel_bmpevt_adapter_t *adapter);

#ifdef __cplusplus
}
#endif

#endif

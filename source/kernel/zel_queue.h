/* Queues: pass items between senders and a receiver. The item storage
 * belongs to the record that embeds the queue and is reached only through its
 * enqueue and dequeue operations, which run under the kernel's protection.
 *
 * Waiting follows the sync objects: a send to a full queue or a receive from
 * an empty one registers the agent (timeout in ticks, 0 try only, negative
 * for ever), which later maps the event it receives (262 woken, 263 cancelled,
 * 261 timeout) to a result with the queue's reason call; on 3 the item has
 * been put or taken. Several senders may wait; one is woken per freed slot.
 * One receiver waits at a time.
 *
 * Interrupt-side code uses only the _isr calls; the timer task wakes the
 * other side for them (events 268 and 269).
 *
 * A wake that finds no event node changes nothing: the waiter keeps its slot
 * or its place in line and its wait ends by a later wake or its timeout. A
 * send or receive that owes such a wake answers -6 and moves no item; a
 * waiter's reason call that owes one still moves its own item (its wait was
 * granted), and the other side waits on. */
#ifndef ZEL_QUEUE_H
#define ZEL_QUEUE_H

#include "zel_eda.h"
#include "zel_sync.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_eda_queue zel_eda_queue_t;
typedef void (*zel_eda_queue_enqueue_t)(zel_eda_queue_t *queue, const void *item);
typedef void (*zel_eda_queue_dequeue_t)(zel_eda_queue_t *queue, void *item);

struct zel_eda_queue {
    uint16_t count;
    uint16_t max;
    zel_sync_t sender;               /* its waiter list holds the waiting senders */
    zel_eda_queue_enqueue_t enqueue; /* set by the embedding record */
    zel_eda_queue_dequeue_t dequeue;
    /* The waiting receiver's wait node (one at most): a waiter list like
     * the senders', so that the receiver's wake node is the queue's and
     * nothing else spends it (see zel_eda_wake). */
    zel_dlist_t receiver;
};
/* The waiting receiver, or null. */
static inline zel_eda_t *zel_eda_queue_receiver(const zel_eda_queue_t *queue) {
    return queue->receiver.head ? zel_eda_of_wait_node(queue->receiver.head) : (zel_eda_t *)0;
}

[[nodiscard]] int32_t zel_eda_queue_init(zel_eda_queue_t *queue, uint16_t max);
uint16_t zel_eda_queue_get_count(zel_eda_queue_t *queue);

/* 0 sent / received, 1 full / empty (waiting unless the timeout is 0), -6
 * when the node of the caller's own wake cannot be had (nothing sent or
 * received, not waiting). A waiter takes the node of its wake when it begins
 * to wait, so the wake owed to the other side needs no allocation. The _ex
 * forms wait as `agent` (null: the current agent). */
[[nodiscard]] int32_t zel_eda_queue_send(zel_eda_queue_t *queue, const void *item, int64_t timeout);
[[nodiscard]] int32_t zel_eda_queue_send_ex(
    zel_eda_queue_t *queue, const void *item, int64_t timeout, zel_eda_t *agent);
[[nodiscard]] int32_t zel_eda_queue_recv(zel_eda_queue_t *queue, void *item, int64_t timeout);
[[nodiscard]] int32_t zel_eda_queue_recv_ex(zel_eda_queue_t *queue, void *item, int64_t timeout, zel_eda_t *agent);

/* Reason calls of a waiting sender / receiver. */
[[nodiscard]] int32_t zel_eda_queue_send_get_reason(zel_eda_queue_t *queue, zel_evt_t evt, const void *item);
[[nodiscard]] int32_t zel_eda_queue_recv_get_reason(zel_eda_queue_t *queue, zel_evt_t evt, void *item);

/* Interrupt side: 0 done, 1 full / empty, -6 when the timer task cannot be
 * told (no event node: nothing sent or received); never waits. When the
 * timer task's wake of the other side finds no event node, it tries again a
 * millisecond later. */
[[nodiscard]] int32_t zel_eda_queue_send_isr(zel_eda_queue_t *queue, const void *item);
[[nodiscard]] int32_t zel_eda_queue_recv_isr(zel_eda_queue_t *queue, void *item);

/* Wakes one waiting sender (true) or the receiver (false) with a forced 262,
 * with the node the waiter holds: 0 (-6 only for a waiter that holds none
 * when none can be had: it waits on). */
[[nodiscard]] int32_t zel_eda_queue_wakeup(zel_eda_queue_t *queue, bool sender);
/* Wakes every waiting sender and the receiver with a forced 263, each with
 * the node it holds for its wake. */
void zel_eda_queue_cancel(zel_eda_queue_t *queue);

/* Thread forms: 3 sent / received, 1 timeout (or full / empty with timeout
 * 0), 4 cancelled, -6 as for the calls above. */
[[nodiscard]] int32_t zel_thread_queue_send(zel_eda_queue_t *queue, const void *item, int64_t timeout);
[[nodiscard]] int32_t zel_thread_queue_recv(zel_eda_queue_t *queue, void *item, int64_t timeout);

#ifdef __cplusplus
}
#endif

#endif

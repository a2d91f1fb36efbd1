// Queues: counted item passing with waiting senders and one waiting receiver.
#include "zel_queue.h"

#include "zel_irq_guard.h"
#include "zel_kernel_internal.h"
#include "zel_thread.h"
#include "zel_timer.h"

namespace {

// Marks the waiter woken by this queue and posts it `evt` with `node`,
// forced, so that a waiter with a timeout always gets it. Caller holds the
// protection and has taken the waiter from its slot or list.
void post_wake(zel_eda_t *a, zel_evt_node_t *node, zel_evt_t evt) {
    a->state |= ZEL_EDA_ST_SYNC_WAKE;
    node->evt = evt;
    node->msg = nullptr;
    zel_eda_post_node(a, node, true);
}

// Wakes the waiting receiver with the node it took when it began to wait;
// -6 only when it holds none and none can be had, and then the receiver waits
// on as it was (a later wake or its timeout ends the wait).
int32_t wake_receiver(zel_eda_queue_t *q, zel_evt_t evt) {
    zel_irq_guard guard;
    zel_eda_t *r = zel_eda_queue_receiver(q);
    if (!r) return 0;
    zel_evt_node_t *node = zel_eda_take_wake_node(r);
    if (!node) return ZEL_ERR_NO_MEMORY;
    zel_eda_wait_leave(r);
    post_wake(r, node, evt);
    return 0;
}

// One sender per call: each freed slot wakes one. -6 as for the receiver,
// the sender staying first in line.
int32_t wake_sender(zel_eda_queue_t *q, zel_evt_t evt) {
    zel_irq_guard guard;
    zel_dlist_node_t *n = q->sender.waiters.head;
    if (!n) return 0;
    zel_eda_t *a = zel_eda_of_wait_node(n);
    zel_evt_node_t *node = zel_eda_take_wake_node(a);
    if (!node) return ZEL_ERR_NO_MEMORY;
    zel_dlist_dequeue(&q->sender.waiters);
    a->wait_list = nullptr;
    post_wake(a, node, evt);
    return 0;
}

// Puts the item when there is room (1 when full) and wakes the waiting
// receiver. When that wake finds no event node: with `whole`, nothing is put
// (-6); otherwise the item goes in and the receiver waits on.
int32_t put_waking(zel_eda_queue_t *q, const void *item, bool whole) {
    zel_irq_guard guard;
    if (q->count >= q->max) return 1;
    zel_eda_t *r = zel_eda_queue_receiver(q);
    zel_evt_node_t *node = r ? zel_eda_take_wake_node(r) : nullptr;
    if (r && !node && whole) return ZEL_ERR_NO_MEMORY;
    q->count++;
    q->enqueue(q, item);
    if (node) {
        zel_eda_wait_leave(r);
        post_wake(r, node, ZEL_EVT_SYNC);
    }
    return 0;
}

// Takes an item when there is one (1 when empty) and wakes the first waiting
// sender, with the same rule for a wake that finds no event node.
int32_t take_waking(zel_eda_queue_t *q, void *item, bool whole) {
    zel_irq_guard guard;
    if (q->count == 0) return 1;
    zel_dlist_node_t *n = q->sender.waiters.head;
    zel_evt_node_t *node = n ? zel_eda_take_wake_node(zel_eda_of_wait_node(n)) : nullptr;
    if (n && !node && whole) return ZEL_ERR_NO_MEMORY;
    q->count--;
    q->dequeue(q, item);
    if (node) {
        zel_dlist_dequeue(&q->sender.waiters);
        zel_eda_t *a = zel_eda_of_wait_node(n);
        a->wait_list = nullptr;
        post_wake(a, node, ZEL_EVT_SYNC);
    }
    return 0;
}

// The wait of `a` as the receiver ends.
void release_receiver(zel_eda_queue_t *q, zel_eda_t *a) {
    zel_irq_guard guard;
    if (a->wait_list == &q->receiver) zel_eda_wait_leave(a);
}

// `a` waits as the receiver; one receiver waits at a time, so an earlier
// one leaves the slot (its timeout ends its wait).
void listen(zel_eda_queue_t *q, zel_eda_t *a) {
    zel_irq_guard guard;
    while (zel_eda_t *earlier = zel_eda_queue_receiver(q)) {
        if (earlier == a) return;
        zel_eda_wait_leave(earlier);
    }
    zel_eda_wait_append(&q->receiver, a);
}

// The waiter got what it waited for: its timeout and its marks go.
void done_waiting(zel_eda_t *a) {
    (void)zel_eda_cancel_timer_ex(a);  // cannot fail
    zel_agent_clear_state(a, ZEL_EDA_ST_LIMITED | ZEL_EDA_ST_SYNC_WAKE);
}

int32_t hook_wake_receiver(void *msg) { return wake_receiver(static_cast<zel_eda_queue_t *>(msg), ZEL_EVT_SYNC); }
int32_t hook_wake_sender(void *msg) { return wake_sender(static_cast<zel_eda_queue_t *>(msg), ZEL_EVT_SYNC); }

bool is_wait_event(zel_evt_t evt) { return evt == ZEL_EVT_TIMER || evt == ZEL_EVT_SYNC || evt == ZEL_EVT_CANCEL; }

}  // namespace

extern "C" {

int32_t zel_eda_queue_init(zel_eda_queue_t *q, uint16_t max) {
    q->count = 0;
    q->max = max;
    (void)zel_eda_sync_init(&q->sender, 0, 0);  // cannot fail
    zel_dlist_init(&q->receiver);
    zel_timer_set_task_hook(ZEL_EVT_QUEUE_RX, hook_wake_receiver);
    zel_timer_set_task_hook(ZEL_EVT_QUEUE_TX, hook_wake_sender);
    return 0;
}

uint16_t zel_eda_queue_get_count(zel_eda_queue_t *q) {
    zel_irq_guard guard;
    return q->count;
}

int32_t zel_eda_queue_send_ex(zel_eda_queue_t *q, const void *item, int64_t timeout, zel_eda_t *agent) {
    int32_t r = put_waking(q, item, true);
    if (r == 1 && timeout != 0) {
        // A sender waits only with the node of its wake in hand.
        if (zel_eda_reserve_wake(agent ? agent : zel_eda_get_cur()) != 0) return ZEL_ERR_NO_MEMORY;
        zel_eda_sync_add_waiter(&q->sender.waiters, agent, timeout);
    }
    return r;
}

int32_t zel_eda_queue_send(zel_eda_queue_t *q, const void *item, int64_t timeout) {
    return zel_eda_queue_send_ex(q, item, timeout, nullptr);
}

int32_t zel_eda_queue_recv_ex(zel_eda_queue_t *q, void *item, int64_t timeout, zel_eda_t *agent) {
    int32_t r = take_waking(q, item, true);
    if (r != 1) return r;
    if (timeout != 0) {
        if (zel_eda_reserve_wake(agent ? agent : zel_eda_get_cur()) != 0) return ZEL_ERR_NO_MEMORY;
        listen(q, zel_eda_set_timeout(agent, timeout));
    }
    return 1;
}

int32_t zel_eda_queue_recv(zel_eda_queue_t *q, void *item, int64_t timeout) {
    return zel_eda_queue_recv_ex(q, item, timeout, nullptr);
}

int32_t zel_eda_queue_send_get_reason(zel_eda_queue_t *q, zel_evt_t evt, const void *item) {
    if (evt != ZEL_EVT_SYNC) return zel_eda_sync_get_reason(&q->sender, evt);
    zel_eda_t *a = zel_eda_get_cur();
    if (!(a->state & ZEL_EDA_ST_SYNC_WAKE)) return ZEL_SYNC_KEEP_WAITING;  // not a wake of this queue
    // The slot is this sender's: its item goes in even when the receiver's
    // wake finds no event node (the receiver then waits on).
    if (put_waking(q, item, false) == 0) {
        done_waiting(a);
        return ZEL_SYNC_OBTAINED;
    }
    // Another sender took the freed slot first: wait again, first in line,
    // with the timeout still running.
    zel_agent_clear_state(a, ZEL_EDA_ST_SYNC_WAKE);
    zel_eda_wait_insert_before(&q->sender.waiters, q->sender.waiters.head, a);
    return ZEL_SYNC_KEEP_WAITING;
}

int32_t zel_eda_queue_recv_get_reason(zel_eda_queue_t *q, zel_evt_t evt, void *item) {
    zel_eda_t *a = zel_eda_get_cur();
    const bool woken = a->state & ZEL_EDA_ST_SYNC_WAKE;
    switch (evt) {
    case ZEL_EVT_TIMER:
        // A wake is on its way, or this 261 is not the timeout of the wait.
        if (woken || !(a->state & ZEL_EDA_ST_LIMITED) || (a->state & ZEL_EDA_ST_TIMER)) return ZEL_SYNC_KEEP_WAITING;
        release_receiver(q, a);
        zel_agent_clear_state(a, ZEL_EDA_ST_LIMITED);
        return ZEL_SYNC_TIMEOUT;
    case ZEL_EVT_SYNC:
        if (!woken) return ZEL_SYNC_KEEP_WAITING;
        if (take_waking(q, item, false) == 0) {  // a sender whose wake fails waits on
            done_waiting(a);
            return ZEL_SYNC_OBTAINED;
        }
        {
            // Emptied again before this receiver ran: wait on, timeout running.
            zel_irq_guard guard;
            listen(q, a);
            a->state &= uint8_t(~ZEL_EDA_ST_SYNC_WAKE);
        }
        return ZEL_SYNC_KEEP_WAITING;
    case ZEL_EVT_CANCEL:
        if (!woken) return ZEL_SYNC_KEEP_WAITING;
        done_waiting(a);
        return ZEL_SYNC_CANCELLED;
    default: {
        if (woken) return ZEL_SYNC_KEEP_WAITING;  // the wake follows
        release_receiver(q, a);
        (void)zel_eda_cancel_timer_ex(a);  // cannot fail

        zel_agent_clear_state(a, ZEL_EDA_ST_LIMITED);
        return ZEL_SYNC_OTHER;
    }
    }
}

// The timer task is told first: it runs only once this interrupt context has
// ended, and an item goes in or out only when the telling could be posted.
int32_t zel_eda_queue_send_isr(zel_eda_queue_t *q, const void *item) {
    zel_irq_guard guard;
    if (q->count >= q->max) return 1;
    int32_t r = zel_evtq_post_evt_msg(zel_timer_task(), ZEL_EVT_QUEUE_RX, q);
    if (r != 0) return r;
    q->count++;
    q->enqueue(q, item);
    return 0;
}

int32_t zel_eda_queue_recv_isr(zel_eda_queue_t *q, void *item) {
    zel_irq_guard guard;
    if (q->count == 0) return 1;
    int32_t r = zel_evtq_post_evt_msg(zel_timer_task(), ZEL_EVT_QUEUE_TX, q);
    if (r != 0) return r;
    q->count--;
    q->dequeue(q, item);
    return 0;
}

int32_t zel_eda_queue_wakeup(zel_eda_queue_t *q, bool sender) {
    return sender ? wake_sender(q, ZEL_EVT_SYNC) : wake_receiver(q, ZEL_EVT_SYNC);
}

void zel_eda_queue_cancel(zel_eda_queue_t *q) {
    zel_eda_sync_cancel(&q->sender);
    wake_receiver(q, ZEL_EVT_CANCEL);
}

int32_t zel_thread_queue_send(zel_eda_queue_t *q, const void *item, int64_t timeout) {
    int32_t sent = zel_eda_queue_send(q, item, timeout);
    if (sent == 0) return ZEL_SYNC_OBTAINED;
    if (sent < 0) return sent;
    if (timeout == 0) return ZEL_SYNC_TIMEOUT;
    for (;;) {
        zel_evt_t evt = zel_thread_wait();
        if (!is_wait_event(evt)) continue;  // not about this wait
        int32_t r = zel_eda_queue_send_get_reason(q, evt, item);
        if (r != ZEL_SYNC_KEEP_WAITING) return r;
    }
}

int32_t zel_thread_queue_recv(zel_eda_queue_t *q, void *item, int64_t timeout) {
    int32_t got = zel_eda_queue_recv(q, item, timeout);
    if (got == 0) return ZEL_SYNC_OBTAINED;
    if (got < 0) return got;
    if (timeout == 0) return ZEL_SYNC_TIMEOUT;
    for (;;) {
        zel_evt_t evt = zel_thread_wait();
        if (!is_wait_event(evt)) continue;
        int32_t r = zel_eda_queue_recv_get_reason(q, evt, item);
        if (r != ZEL_SYNC_KEEP_WAITING) return r;
    }
}

}  // extern "C"

// Bitmap events: pend and poll, the travelling 264/263 token, adapters.
#include "zel_bmpevt.h"

#include "zel_irq_guard.h"
#include "zel_kernel_internal.h"
#include "zel_thread.h"
#include "zel_timer.h"

namespace {

void clear_flags(zel_bmpevt_t *b, uint8_t bits) {
    zel_irq_guard guard;
    b->flags = uint8_t(b->flags & ~bits);
}

void change_value(zel_bmpevt_t *b, uint32_t set, uint32_t clear) {
    zel_irq_guard guard;
    b->value = (b->value & ~clear) | set;
}

// Whether the value satisfies the pender; `bits` receives the bits of its mask that are set.
bool test(const zel_bmpevt_t *b, const zel_bmpevt_pender_t *p, uint32_t *bits) {
    uint32_t have = b->value & p->mask;
    bool ok = (p->op & ZEL_BMPEVT_ALL) ? have == p->mask : have != 0;
    *bits = have;
    return ok;
}

zel_bmpevt_adapter_t *adapter_of_bit(const zel_bmpevt_t *b, unsigned bit) {
    if (!b->adapters || bit >= (b->flags & ZEL_BMPEVT_COUNT_MASK)) return nullptr;
    return b->adapters[bit];
}

void reset_adapters(zel_bmpevt_t *b, uint32_t bits) {
    for (unsigned bit = 0; bits; ++bit, bits >>= 1) {
        if (!(bits & 1)) continue;
        zel_bmpevt_adapter_t *a = adapter_of_bit(b, bit);
        if (a && a->op && a->op->reset) a->op->reset(a);
    }
}

// A satisfied pend takes the auto-reset bits among those that satisfied it.
void consume(zel_bmpevt_t *b, uint32_t bits) {
    bits &= b->auto_reset;
    if (!bits) return;
    change_value(b, 0, bits);
    reset_adapters(b, bits);
}

// Starts a 264 token at the head, or asks the travelling one to go round again.
void start_token(zel_bmpevt_t *b) {
    bool travelling;
    {
        zel_irq_guard guard;
        travelling = b->flags & ZEL_BMPEVT_NOTIFYING;
        b->flags |= travelling ? ZEL_BMPEVT_AGAIN : ZEL_BMPEVT_NOTIFYING;
    }
    if (!travelling) zel_bmpevt_notify(b, b->waiters.head, ZEL_EVT_BMPEVT);
}

// The waiter after `a` in the list of `b` (null when `a` is not in it).
zel_dlist_node_t *successor(zel_bmpevt_t *b, zel_eda_t *a) {
    return a->wait_list == &b->waiters ? a->wait_node.next : nullptr;
}

// The wait of `a` ends: out of the waiter list and the timer queue.
void end_wait(zel_eda_t *a) {
    zel_eda_wait_leave(a);
    (void)zel_eda_cancel_timer_ex(a);  // cannot fail
    zel_agent_clear_state(a, ZEL_EDA_ST_LIMITED);
}

bool is_wait_event(zel_evt_t evt) { return evt == ZEL_EVT_TIMER || evt == ZEL_EVT_CANCEL || evt == ZEL_EVT_BMPEVT; }

zel_bmpevt_adapter_t *adapter_of(zel_eda_t *agent) { return ZEL_CONTAINER_OF(agent, zel_bmpevt_adapter_t, agent); }

bool source_no_consume(const zel_sync_t *sync) { return (sync->max & ZEL_SYNC_NO_CONSUME) != 0; }

}  // namespace

extern "C" {

const zel_bmpevt_adapter_op_t zel_bmpevt_adapter_sync_op = {
    .init = zel_bmpevt_adapter_sync_init,
    .reset = zel_bmpevt_adapter_sync_reset,
};
const zel_bmpevt_adapter_op_t zel_bmpevt_adapter_bmpevt_op = {
    .init = zel_bmpevt_adapter_bmpevt_init,
    .reset = zel_bmpevt_adapter_bmpevt_reset,
};

int32_t zel_eda_bmpevt_init(zel_bmpevt_t *b, uint8_t adapter_count) {
    zel_dlist_init(&b->waiters);
    b->value = 0;
    b->cancelled = 0;
    b->flags = uint8_t(adapter_count & ZEL_BMPEVT_COUNT_MASK);
    for (unsigned bit = 0; bit < (b->flags & ZEL_BMPEVT_COUNT_MASK); ++bit) {
        zel_bmpevt_adapter_t *a = adapter_of_bit(b, bit);
        if (!a) continue;
        a->bmpevt = b;
        if (a->op && a->op->init) a->op->init(a);
    }
    return 0;
}

int32_t zel_eda_bmpevt_init_ex(
    zel_bmpevt_t *b, zel_bmpevt_adapter_t **adapters, uint8_t adapter_count, uint32_t auto_reset) {
    b->adapters = adapters;
    b->auto_reset = auto_reset;
    return zel_eda_bmpevt_init(b, adapter_count);
}

int32_t zel_eda_bmpevt_set(zel_bmpevt_t *b, uint32_t mask) {
    change_value(b, mask, 0);
    start_token(b);
    return 0;
}

int32_t zel_eda_bmpevt_reset(zel_bmpevt_t *b, uint32_t mask) {
    change_value(b, 0, mask);
    reset_adapters(b, mask);
    return 0;
}

int32_t zel_eda_bmpevt_cancel(zel_bmpevt_t *b, uint32_t mask) {
    {
        zel_irq_guard guard;
        b->cancelled |= mask;
        b->flags |= ZEL_BMPEVT_CANCELLING;
    }
    zel_bmpevt_notify(b, b->waiters.head, ZEL_EVT_CANCEL);
    return 0;
}

void zel_bmpevt_notify(zel_bmpevt_t *b, zel_dlist_node_t *node, zel_evt_t evt) {
    for (;;) {
        while (node) {
            if (evt == ZEL_EVT_BMPEVT && (b->flags & ZEL_BMPEVT_AGAIN)) {
                clear_flags(b, ZEL_BMPEVT_AGAIN);
                node = b->waiters.head;
                if (!node) break;
            }
            zel_eda_t *a = zel_eda_of_wait_node(node);
            {
                zel_irq_guard guard;
                a->evt_pending = 1;
            }
            // The agent that takes the notice carries it on from its poll. A
            // 264 carries the bitmap event, so that the notice goes on when
            // the agent ends before taking it (zel_bmpevt_notice_dropped).
            void *msg = evt == ZEL_EVT_BMPEVT ? static_cast<void *>(b) : nullptr;
            // Posted with the node the waiter holds for its wake.
            if (zel_eda_post_reserved(a, evt, msg, false, &a->wake_node) == 0) return;
            node = node->next;
        }
        if (evt != ZEL_EVT_BMPEVT) {
            clear_flags(b, ZEL_BMPEVT_CANCELLING);
            return;
        }
        if (!(b->flags & ZEL_BMPEVT_AGAIN) || !b->waiters.head) {
            clear_flags(b, ZEL_BMPEVT_NOTIFYING | ZEL_BMPEVT_AGAIN);
            return;
        }
        clear_flags(b, ZEL_BMPEVT_AGAIN);
        node = b->waiters.head;
    }
}

void zel_bmpevt_notice_dropped(zel_bmpevt_t *b) { zel_bmpevt_notify(b, b->waiters.head, ZEL_EVT_BMPEVT); }

int32_t zel_eda_bmpevt_pend(zel_bmpevt_t *b, zel_bmpevt_pender_t *p, int64_t timeout) {
    if (timeout == 0) {
        uint32_t bits;
        if (!test(b, p, &bits)) return 1;
        consume(b, bits);
        return 0;
    }
    zel_eda_t *a = zel_eda_get_cur();
    p->agent = a;
    if (p->mask & b->cancelled) return ZEL_ERR_STATE;
    if (zel_eda_reserve_wake(a) != 0) return ZEL_ERR_NO_MEMORY;  // waits only with its wake's node
    zel_eda_wait_append(&b->waiters, a);
    zel_eda_set_timeout(a, timeout);
    // The satisfied test is made when the token reaches this waiter.
    start_token(b);
    return 1;
}

int32_t zel_eda_bmpevt_poll(zel_bmpevt_t *b, zel_bmpevt_pender_t *p, zel_evt_t evt) {
    zel_eda_t *a = zel_eda_get_cur();
    bool waiting = a->wait_list == &b->waiters;
    zel_dlist_node_t *next = successor(b, a);
    switch (evt) {
    case ZEL_EVT_BMPEVT: {
        if (!waiting) {
            // A notice for a wait that has ended: send the token round from
            // the head so that it is not lost.
            zel_bmpevt_notify(b, b->waiters.head, ZEL_EVT_BMPEVT);
            return ZEL_SYNC_OTHER;
        }
        uint32_t bits;
        if (!test(b, p, &bits)) {
            zel_bmpevt_notify(b, next, ZEL_EVT_BMPEVT);
            return ZEL_SYNC_KEEP_WAITING;
        }
        consume(b, bits);
        end_wait(a);
        zel_bmpevt_notify(b, next, ZEL_EVT_BMPEVT);
        return ZEL_SYNC_OBTAINED;
    }
    case ZEL_EVT_CANCEL:
        if (!waiting || !(p->mask & b->cancelled)) {
            zel_bmpevt_notify(b, waiting ? next : b->waiters.head, ZEL_EVT_CANCEL);
            return waiting ? ZEL_SYNC_KEEP_WAITING : ZEL_SYNC_OTHER;
        }
        end_wait(a);
        zel_bmpevt_notify(b, next, ZEL_EVT_CANCEL);
        return ZEL_SYNC_CANCELLED;
    case ZEL_EVT_TIMER:
        // Not the timeout of this wait (none armed, or still pending).
        if (!(a->state & ZEL_EDA_ST_LIMITED) || (a->state & ZEL_EDA_ST_TIMER)) return ZEL_SYNC_KEEP_WAITING;
        zel_eda_wait_leave(a);
        zel_agent_clear_state(a, ZEL_EDA_ST_LIMITED);
        return ZEL_SYNC_TIMEOUT;
    default:
        // Another event ends the wait; the caller pends again if it wants.
        end_wait(a);
        return ZEL_SYNC_OTHER;
    }
}

int32_t zel_thread_bmpevt_pend(zel_bmpevt_t *b, zel_bmpevt_pender_t *p, int64_t timeout) {
    int32_t r = zel_eda_bmpevt_pend(b, p, timeout);
    if (r == 0) return ZEL_SYNC_OBTAINED;
    if (r == ZEL_ERR_NO_MEMORY) return r;
    if (r < 0) return ZEL_SYNC_OTHER;
    if (timeout == 0) return ZEL_SYNC_TIMEOUT;
    for (;;) {
        zel_evt_t evt = zel_thread_wait();
        if (!is_wait_event(evt)) continue;  // not about this wait
        r = zel_eda_bmpevt_poll(b, p, evt);
        if (r != ZEL_SYNC_KEEP_WAITING) return r;
    }
}

int32_t zel_bmpevt_wait(zel_bmpevt_t *b, zel_bmpevt_pender_t *p, int32_t timeout) {
    zel_eda_t *a = zel_eda_get_cur();
    if (zel_eda_is_thread(a)) return zel_thread_bmpevt_pend(b, p, timeout);
    if (!zel_eda_is_waiting(a)) {
        int32_t r = zel_eda_bmpevt_pend(b, p, timeout);
        if (r == 0) return ZEL_SYNC_OBTAINED;
        if (r == ZEL_ERR_NO_MEMORY) return r;
        if (r < 0) return ZEL_SYNC_CANCELLED;
        if (timeout == 0) return ZEL_SYNC_TIMEOUT;
        zel_eda_set_waiting(a, true);
        return ZEL_SYNC_KEEP_WAITING;
    }
    zel_evt_t evt = zel_eda_get_cur_evt();
    if (!is_wait_event(evt)) return ZEL_SYNC_KEEP_WAITING;
    int32_t r = zel_eda_bmpevt_poll(b, p, evt);
    if (r != ZEL_SYNC_KEEP_WAITING) zel_eda_set_waiting(a, false);
    return r;
}

void zel_bmpevt_adapter_start(zel_bmpevt_adapter_t *a) {
    // The running priority is always valid; only an exhausted heap can refuse
    // the first event, and the bitmap event's init answers 0 all the same.
    (void)zel_eda_start(&a->agent, -1, 0);
}

void zel_bmpevt_adapter_fire(zel_bmpevt_adapter_t *a) {
    (void)zel_eda_bmpevt_set(a->bmpevt, a->mask);  // cannot fail
}

void zel_bmpevt_adapter_sync_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_bmpevt_adapter_t *a = adapter_of(agent);
    auto *sync = static_cast<zel_sync_t *>(a->source);
    if (evt == ZEL_EVT_INIT) {
        if (zel_eda_sync_decrease_ex(sync, -1, agent, source_no_consume(sync)) == 0) zel_bmpevt_adapter_fire(a);
    } else if (evt == ZEL_EVT_SYNC || evt == ZEL_EVT_CANCEL) {
        if (zel_eda_sync_get_reason(sync, evt) == ZEL_SYNC_OBTAINED) zel_bmpevt_adapter_fire(a);
    }
}

void zel_bmpevt_adapter_bmpevt_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_bmpevt_adapter_t *a = adapter_of(agent);
    auto *src = static_cast<zel_bmpevt_t *>(a->source);
    if (evt == ZEL_EVT_INIT) {
        if (zel_eda_bmpevt_pend(src, &a->pender, 0) == 0)
            zel_bmpevt_adapter_fire(a);
        else
            // The token tells of later changes; -7 (cancelled bits): the
            // adapter stays quiet, as its source does.
            (void)zel_eda_bmpevt_pend(src, &a->pender, -1);
    } else if (evt == ZEL_EVT_BMPEVT || evt == ZEL_EVT_CANCEL) {
        if (zel_eda_bmpevt_poll(src, &a->pender, evt) == ZEL_SYNC_OBTAINED) zel_bmpevt_adapter_fire(a);
    }
}

void zel_bmpevt_adapter_sync_init(zel_bmpevt_adapter_t *a) {
    a->agent.handler.plain = zel_bmpevt_adapter_sync_evthandler;
    zel_bmpevt_adapter_start(a);
}

void zel_bmpevt_adapter_sync_reset(zel_bmpevt_adapter_t *a) {
    auto *sync = static_cast<zel_sync_t *>(a->source);
    if (source_no_consume(sync)) {
        // A trigger stays signalled: pend again on the adapter's behalf (not
        // the caller's) and fire at once when it still is.
        if (zel_eda_sync_decrease_ex(sync, -1, &a->agent, true) == 0) zel_bmpevt_adapter_fire(a);
    } else {
        // Its 257 pends again. Fails only on an exhausted heap: the adapter
        // then stays quiet until its next reset.
        (void)zel_eda_post_evt(&a->agent, ZEL_EVT_INIT);
    }
}

void zel_bmpevt_adapter_bmpevt_init(zel_bmpevt_adapter_t *a) {
    a->agent.handler.plain = zel_bmpevt_adapter_bmpevt_evthandler;
    zel_bmpevt_adapter_start(a);
}

void zel_bmpevt_adapter_bmpevt_reset(zel_bmpevt_adapter_t *a) {
    auto *src = static_cast<zel_bmpevt_t *>(a->source);
    (void)zel_eda_bmpevt_reset(src, a->pender.mask & src->value);  // cannot fail
    // Fails only on an exhausted heap: the adapter then stays quiet until
    // its next reset.
    (void)zel_eda_post_evt(&a->agent, ZEL_EVT_INIT);
}

}  // extern "C"

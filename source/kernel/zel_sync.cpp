// Sync objects.
#include "zel_sync.h"

#include "zel_kernel_internal.h"
#include "zel_thread.h"
#include "zel_timer.h"
#include "zel_trace.h"

namespace {

bool is_mutex(const zel_sync_t *s) { return s->count & ZEL_SYNC_MUTEX; }

void clear_bits(zel_eda_t *a, uint8_t bits) {
    uint8_t s = zel_protect();
    a->state = static_cast<uint8_t>(a->state & ~bits);
    zel_unprotect(s);
}

// How many of the waiters that a signal wakes (all of them without consume,
// else as many as the raised count lets through) hold no wake node. Under
// protection. A waiter joins the list only with its node, so this is 0
// unless a waiter was listed by hand.
uint16_t wakes_without_node(const zel_sync_t *sync, bool no_consume) {
    uint32_t count = (sync->count & 0x7FFFu) + 1u;
    uint16_t n = 0, missing = 0;
    for (zel_dlist_node_t *w = sync->waiters.head; w && (no_consume || n < count); w = w->next, n++)
        if (!zel_eda_of_wait_node(w)->wake_node) missing++;
    return missing;
}

// Takes `n` event nodes, chained through their next; null (and none kept)
// when one of them cannot be had.
zel_evt_node_t *take_nodes(uint16_t n) {
    zel_evt_node_t *chain = nullptr;
    while (n--) {
        zel_evt_node_t *node = zel_evt_node_alloc();
        if (!node) {
            while (chain) {
                zel_evt_node_t *next = chain->next;
                zel_evt_node_free(chain);
                chain = next;
            }
            return nullptr;
        }
        node->next = chain;
        chain = node;
    }
    return chain;
}

// Posts the waiter's wake node (or, when it holds none, the first node of
// `nodes`) to the waiter as a forced `evt`.
void post_wake(zel_eda_t *w, zel_evt_node_t **nodes, zel_evt_t evt) {
    zel_evt_node_t *node = w->wake_node;
    if (node) {
        w->wake_node = nullptr;
    } else {
        node = *nodes;
        *nodes = node->next;
    }
    node->evt = evt;
    node->msg = nullptr;
    zel_eda_post_node(w, node, true);
}

}  // namespace

extern "C" {

int32_t zel_eda_sync_init(zel_sync_t *sync, int16_t count, uint16_t max) {
    sync->count = static_cast<uint16_t>(count);
    sync->max = max;
    zel_dlist_init(&sync->waiters);
    sync->owner = nullptr;
    return 0;
}

int32_t zel_eda_sync_increase_ex(zel_sync_t *sync, zel_eda_t *agent, bool no_consume) {
    uint8_t s = zel_protect();
    if ((sync->count & 0x7FFFu) >= (sync->max & 0x7FFFu)) {
        zel_unprotect(s);
        return ZEL_ERR_SYNC_MAX;
    }
    // Every wake this signal owes is posted with the node its waiter took
    // when it began to wait, so a signal (a mutex's release above all) needs
    // no allocation. Only for a waiter listed without one are nodes taken
    // here, and without them the signal fails whole: the waiters wait on.
    uint16_t missing = wakes_without_node(sync, no_consume);
    zel_evt_node_t *nodes = take_nodes(missing);
    if (missing && !nodes) {
        zel_unprotect(s);
        return ZEL_ERR_NO_MEMORY;
    }
    sync->count = static_cast<uint16_t>((sync->count & 0x8000u) | ((sync->count + 1u) & 0x7FFFu));
    if (is_mutex(sync)) {
        zel_eda_t *releaser = agent ? agent : zel_eda_get_cur();
        sync->owner = nullptr;
        if (releaser->prio == releaser->base_prio) {
            if (releaser->state & ZEL_EDA_ST_PRIO_CHANGE) {
                releaser->state &= static_cast<uint8_t>(~ZEL_EDA_ST_PRIO_CHANGE);
                zel_evtq_set_priority(zel_evtq_get(releaser->prio), releaser->base_prio);
            }
        } else {
            (void)zel_eda_change_prio(releaser, releaser->base_prio);  // moves the agent only: cannot fail
        }
    }
    uint32_t count = (sync->count & 0x7FFFu);
    for (uint32_t woken = 0; sync->waiters.head && (no_consume || woken < count); woken++) {
        zel_dlist_node_t *n = zel_dlist_dequeue(&sync->waiters);
        zel_eda_t *w = zel_eda_of_wait_node(n);
        w->wait_list = nullptr;
        w->state |= ZEL_EDA_ST_SYNC_WAKE;
        if (!no_consume) sync->count = static_cast<uint16_t>(sync->count - 1);
        if (is_mutex(sync)) sync->owner = w;
        post_wake(w, &nodes, ZEL_EVT_SYNC);
    }
    zel_unprotect(s);
    while (nodes) {  // none left unless the list changed under the signal
        zel_evt_node_t *next = nodes->next;
        zel_evt_node_free(nodes);
        nodes = next;
    }
    return 0;
}

int32_t zel_eda_sync_increase(zel_sync_t *sync) {
    return zel_eda_sync_increase_ex(sync, nullptr, (sync->max & ZEL_SYNC_NO_CONSUME) != 0);
}

int32_t zel_eda_sync_increase_by(zel_sync_t *sync, zel_eda_t *agent) {
    return zel_eda_sync_increase_ex(sync, agent, (sync->max & ZEL_SYNC_NO_CONSUME) != 0);
}

void zel_eda_sync_release(zel_sync_t *sync, zel_eda_t *agent) {
    int32_t r = zel_eda_sync_increase_by(sync, agent);
    if (r != 0) zel_trace(1, "zel: lock release failed (%d)\r\n", static_cast<int>(r));
}

int32_t zel_eda_sync_increase_from_irq(zel_sync_t *sync) {
    return zel_evtq_post_evt_msg(zel_timer_task(), ZEL_EVT_MSG, sync);
}

int32_t zel_eda_sync_increase_from_irq_reserved(zel_sync_t *sync, zel_evt_node_t **slot) {
    return zel_eda_post_reserved(zel_timer_task(), ZEL_EVT_MSG, sync, false, slot);
}

void zel_eda_sync_add_waiter(zel_dlist_t *waiters, zel_eda_t *agent, int64_t timeout) {
    if (!agent) agent = zel_eda_get_cur();
    // Best effort here: a waiter listed without its wake node has the node
    // taken by the signal (which fails whole without it).
    (void)zel_eda_reserve_wake(agent);
    zel_eda_wait_append(waiters, agent);
    zel_eda_set_timeout(agent, timeout);
}

int32_t zel_eda_sync_decrease_ex(zel_sync_t *sync, int64_t timeout, zel_eda_t *agent, bool no_consume) {
    zel_eda_t *a = agent ? agent : zel_eda_get_cur();
    uint8_t s = zel_protect();
    if ((sync->count & 0x7FFFu) && zel_dlist_is_empty(&sync->waiters)) {
        if (!no_consume) sync->count = static_cast<uint16_t>(sync->count - 1);
        if (is_mutex(sync)) sync->owner = a;
        zel_unprotect(s);
        return 0;
    }
    if (timeout == 0) {
        zel_unprotect(s);
        return 1;
    }
    zel_unprotect(s);
    // The waiter holds the node of its wake before it is listed, so whoever
    // signals (or releases the mutex) never has to allocate.
    if (zel_eda_reserve_wake(a) != 0) return ZEL_ERR_NO_MEMORY;
    s = zel_protect();
    if ((sync->count & 0x7FFFu) && zel_dlist_is_empty(&sync->waiters)) {  // signalled meanwhile
        if (!no_consume) sync->count = static_cast<uint16_t>(sync->count - 1);
        if (is_mutex(sync)) sync->owner = a;
        zel_unprotect(s);
        return 0;
    }
    if (is_mutex(sync)) {
        uint8_t p = zel_eda_get_prio(a);
        zel_dlist_node_t *n = sync->waiters.head;
        while (n && zel_eda_get_prio(zel_eda_of_wait_node(n)) >= p) n = n->next;
        zel_eda_wait_insert_before(&sync->waiters, n, a);
        zel_unprotect(s);
        zel_eda_set_timeout(a, timeout);
        zel_eda_t *owner = sync->owner;
        if (owner && zel_eda_get_prio(a) > owner->prio)
            (void)zel_eda_change_prio(owner, zel_eda_get_prio(a));  // moves the owner only: cannot fail
        return 1;
    }
    zel_unprotect(s);
    zel_eda_sync_add_waiter(&sync->waiters, a, timeout);
    return 1;
}

int32_t zel_eda_sync_decrease(zel_sync_t *sync, int64_t timeout) {
    return zel_eda_sync_decrease_ex(sync, timeout, nullptr, (sync->max & ZEL_SYNC_NO_CONSUME) != 0);
}

int32_t zel_eda_sync_decrease_by(zel_sync_t *sync, int64_t timeout, zel_eda_t *agent) {
    return zel_eda_sync_decrease_ex(sync, timeout, agent, (sync->max & ZEL_SYNC_NO_CONSUME) != 0);
}

int32_t zel_eda_sync_get_reason(zel_sync_t *, zel_evt_t evt) {
    zel_eda_t *a = zel_eda_get_cur();
    uint8_t st = a->state;
    switch (evt) {
    case ZEL_EVT_TIMER:
        // A wake is on its way, or the 261 is not the timeout of this wait
        // (no timeout armed, or the armed one has not expired): keep waiting.
        if ((st & ZEL_EDA_ST_SYNC_WAKE) || !(st & ZEL_EDA_ST_LIMITED) || (st & ZEL_EDA_ST_TIMER))
            return ZEL_SYNC_KEEP_WAITING;
        zel_eda_wait_leave(a);
        clear_bits(a, ZEL_EDA_ST_LIMITED);
        return ZEL_SYNC_TIMEOUT;
    case ZEL_EVT_SYNC:
    case ZEL_EVT_CANCEL:
        if (!(st & ZEL_EDA_ST_SYNC_WAKE)) return ZEL_SYNC_KEEP_WAITING;  // not a wake of this wait
        (void)zel_eda_cancel_timer_ex(a);                                // cannot fail
        clear_bits(a, ZEL_EDA_ST_SYNC_WAKE | ZEL_EDA_ST_LIMITED);
        return evt == ZEL_EVT_SYNC ? ZEL_SYNC_OBTAINED : ZEL_SYNC_CANCELLED;
    default:
        if (st & ZEL_EDA_ST_SYNC_WAKE) return ZEL_SYNC_KEEP_WAITING;  // the wake follows
        // The wait ends on an unrelated event: leave the waiter list too.
        zel_eda_wait_leave(a);
        (void)zel_eda_cancel_timer_ex(a);  // cannot fail
        clear_bits(a, ZEL_EDA_ST_LIMITED);
        return ZEL_SYNC_OTHER;
    }
}

void zel_eda_sync_cancel(zel_sync_t *sync) {
    uint8_t s = zel_protect();
    while (sync->waiters.head) {
        // A waiter whose 263 cannot be had stays listed (with the ones after
        // it): it sees a later wake or its timeout.
        zel_eda_t *w = zel_eda_of_wait_node(sync->waiters.head);
        zel_evt_node_t *node = w->wake_node ? nullptr : zel_evt_node_alloc();
        if (!w->wake_node && !node) break;
        if (node) node->next = nullptr;
        zel_dlist_dequeue(&sync->waiters);
        w->wait_list = nullptr;
        w->state |= ZEL_EDA_ST_SYNC_WAKE;
        post_wake(w, &node, ZEL_EVT_CANCEL);
    }
    zel_unprotect(s);
}

void zel_eda_sync_reset(zel_sync_t *sync) { sync->count &= 0x8000u; }

int32_t zel_sync_wait(zel_sync_t *sync, int32_t timeout) {
    zel_eda_t *a = zel_eda_get_cur();
    if (zel_eda_is_thread(a)) return zel_thread_sync_decrease(sync, timeout);
    if (!zel_eda_is_waiting(a)) {
        int32_t r = zel_eda_sync_decrease(sync, timeout);
        if (r == 0) return ZEL_SYNC_OBTAINED;
        if (r < 0) return r;
        if (timeout == 0) return ZEL_SYNC_TIMEOUT;
        zel_eda_set_waiting(a, true);
        return ZEL_SYNC_KEEP_WAITING;
    }
    int32_t r = zel_eda_sync_get_reason(sync, zel_eda_get_cur_evt());
    if (r != ZEL_SYNC_KEEP_WAITING) zel_eda_set_waiting(a, false);
    return r;
}

int32_t zel_sync_wait_ex(zel_sync_t *sync, int32_t timeout) { return zel_sync_wait(sync, timeout); }

}  // extern "C"

// Timers and the timer task.
#include "zel_timer.h"

#include <string.h>

#include "zel_kernel_internal.h"
#include "zel_sync.h"
#include "zel_thread.h"

namespace {

struct timer_state {
    zel_dlist_t agents;     // agent timers, by due tick
    zel_dlist_t callbacks;  // armed callback timers, by due tick
    zel_dlist_t due;        // callback timers whose due tick has come
    uint64_t last_armed;
    uint8_t busy;
    zel_eda_t task;
    uint32_t task_prio;
    zel_timer_task_hook_t hook_268;
    zel_timer_task_hook_t hook_269;
    // Work handed over by interrupt-side code (265, 268, 269) that found no
    // event node for the wakes it owes: kept in order, as the nodes of those
    // events, and carried out again by `retry` until the wakes go out.
    zel_evt_node_t *owed_head;
    zel_evt_node_t *owed_tail;
    zel_callback_timer_t retry;
};

timer_state g_t;

constexpr uint64_t kNone = ~uint64_t{0};
// When an expiry cannot be posted for want of an event node, it is tried
// again this many ticks later (1 ms) rather than lost.
constexpr uint64_t kRetryTicks = 10000;

zel_eda_t *agent_of_timer(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_eda_t, timer_node); }
zel_callback_timer_t *cb_of(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_callback_timer_t, node); }

void set_state_bits(zel_eda_t *a, uint8_t set, uint8_t clear) {
    uint8_t s = zel_protect();
    a->state = static_cast<uint8_t>((a->state | set) & ~clear);
    zel_unprotect(s);
}

int32_t post_flagged(zel_eda_t *a, zel_evt_t evt, bool force = false) {
    uint8_t s = zel_protect();
    int32_t r = zel_evtq_post_evt_ex(a, evt, force);
    if (r == 0) a->evt_pending = 1;
    zel_unprotect(s);
    return r;
}

// Asks the timer task for an expiry run unless one is requested already.
// Without an event node for the request, the host timer is armed to ask again.
void request_expiry() {
    if (g_t.busy) return;
    g_t.busy = 1;
    uint8_t s = zel_protect();
    g_t.task.evt_pending = 1;
    int32_t r = zel_evtq_post_evt(&g_t.task, ZEL_EVT_TIMER);
    zel_unprotect(s);
    if (r == 0) return;
    g_t.busy = 0;
    if (r == ZEL_ERR_NO_MEMORY) {
        g_t.last_armed = kNone;
        zel_systimer_set(zel_systimer_get_tick() + kRetryTicks);
    }
}

void arm_head() {
    zel_dlist_node_t *head = g_t.agents.head;
    if (!head) return;
    uint64_t due = agent_of_timer(head)->due;
    if (due == g_t.last_armed) return;
    g_t.last_armed = due;
    if (!zel_systimer_set(due)) request_expiry();
}

// Sorted insertion, ahead of equal due ticks.
void insert_agent(zel_eda_t *agent, uint64_t due) {
    agent->due = due;
    agent->timer_node.next = agent->timer_node.prev = nullptr;
    zel_dlist_node_t *n = g_t.agents.head;
    while (n && agent_of_timer(n)->due < due) n = n->next;
    if (n)
        zel_dlist_insert_before(&g_t.agents, n, &agent->timer_node);
    else
        zel_dlist_append(&g_t.agents, &agent->timer_node);
    set_state_bits(agent, ZEL_EDA_ST_TIMER, 0);
    uint8_t s = zel_protect();
    agent->evt_pending = 1;
    zel_unprotect(s);
}

void run_expiry() {
    g_t.last_armed = kNone;  // the host timer has fired (or was refused)
    while (zel_dlist_node_t *head = g_t.agents.head) {
        zel_eda_t *a = agent_of_timer(head);
        if (!zel_systimer_is_due(a->due)) break;
        zel_dlist_dequeue(&g_t.agents);
        set_state_bits(a, 0, ZEL_EDA_ST_TIMER);
        if (a != &g_t.task) {
            // Forced: a limited agent (one that waits with this timeout) may
            // have an unrelated event queued that its wait skips; refused,
            // the expiry would be lost and the wait would never end.
            if (post_flagged(a, ZEL_EVT_TIMER, true) == ZEL_ERR_NO_MEMORY)
                insert_agent(a, zel_systimer_get_tick() + kRetryTicks);
            continue;
        }
        // The task's own timer stands for the earliest callback timer.
        for (;;) {
            uint8_t s = zel_protect();
            zel_dlist_node_t *cn = g_t.callbacks.head;
            if (!cn || !zel_systimer_is_due(cb_of(cn)->due)) {
                zel_unprotect(s);
                break;
            }
            zel_dlist_remove(&g_t.callbacks, cn);
            zel_dlist_append(&g_t.due, cn);
            cb_of(cn)->where = 2;
            zel_unprotect(s);
        }
        uint8_t s = zel_protect();
        zel_dlist_node_t *next = g_t.callbacks.head;
        uint64_t next_due = next ? cb_of(next)->due : 0;
        zel_unprotect(s);
        // Without a node for the 266 the due callbacks wait in their list:
        // the task's own timer comes back for them a millisecond later.
        bool posted = post_flagged(&g_t.task, ZEL_EVT_WAKE) != ZEL_ERR_NO_MEMORY;
        if (!posted) {
            uint64_t retry_due = zel_systimer_get_tick() + kRetryTicks;
            if (!next || retry_due < next_due) next_due = retry_due;
        }
        if (next || !posted) insert_agent(&g_t.task, next_due);
    }
    g_t.busy = 0;
    if (!g_t.agents.head) return;
    g_t.last_armed = agent_of_timer(g_t.agents.head)->due;
    if (!zel_systimer_set(g_t.last_armed)) request_expiry();
}

// Carries out a request of interrupt-side code; -6 when a wake it owes
// found no event node (the request then changed nothing).
int32_t carry_out(zel_evt_t evt, void *msg) {
    switch (evt) {
    case ZEL_EVT_MSG: {
        zel_sync_t *sync = static_cast<zel_sync_t *>(msg);
        return zel_eda_sync_increase_ex(sync, nullptr, (sync->max & ZEL_SYNC_NO_CONSUME) != 0);
    }
    case ZEL_EVT_QUEUE_RX: return g_t.hook_268 ? g_t.hook_268(msg) : 0;
    case ZEL_EVT_QUEUE_TX: return g_t.hook_269 ? g_t.hook_269(msg) : 0;
    default: return 0;
    }
}

// Keeps a request whose wakes found no event node, at the head (one taken
// off for a retry) or at the tail (a new one), and makes sure a retry comes.
// A node for it is there: the event being handled gave its node back before
// its handler ran (to the pool, or to the task's reserve), the failed request
// gave back the nodes it took, and nothing else runs meanwhile.
void owe(zel_evt_t evt, void *msg, bool at_head) {
    zel_evt_node_t *n = zel_eda_spare_node(&g_t.task);
    if (!n) zel_assert(2);
    n->evt = evt;
    n->msg = msg;
    n->next = nullptr;
    if (at_head) {
        n->next = g_t.owed_head;
        g_t.owed_head = n;
        if (!g_t.owed_tail) g_t.owed_tail = n;
    } else {
        if (g_t.owed_tail)
            g_t.owed_tail->next = n;
        else
            g_t.owed_head = n;
        g_t.owed_tail = n;
    }
    (void)zel_callback_timer_add(&g_t.retry, kRetryTicks);  // -7: a retry is armed already
}

void carry_out_or_owe(zel_evt_t evt, void *msg) {
    if (carry_out(evt, msg) == ZEL_ERR_NO_MEMORY) owe(evt, msg, false);
}

// The retry timer's callback: the owed requests in order, until one of them
// still finds no node.
void retry_owed(zel_callback_timer_t *) {
    while (zel_evt_node_t *n = g_t.owed_head) {
        g_t.owed_head = n->next;
        if (!g_t.owed_head) g_t.owed_tail = nullptr;
        zel_evt_t evt = static_cast<zel_evt_t>(n->evt);
        void *msg = n->msg;
        zel_evt_node_free(n);  // the request may use it for its wakes
        if (carry_out(evt, msg) == ZEL_ERR_NO_MEMORY) {
            owe(evt, msg, true);
            return;
        }
    }
}

void run_due_callbacks() {
    for (;;) {
        uint8_t s = zel_protect();
        zel_dlist_node_t *n = zel_dlist_dequeue(&g_t.due);
        if (!n) {
            zel_unprotect(s);
            return;
        }
        zel_callback_timer_t *t = cb_of(n);
        t->where = 0;
        t->due = 0;
        zel_unprotect(s);
        if (t->callback) t->callback(t);
    }
}

void arm_from_isr(zel_callback_timer_t *t) {
    uint8_t s = zel_protect();
    if (t->where != 3) {  // removed (or re-armed) since its 267 was posted
        zel_unprotect(s);
        return;
    }
    t->where = 0;
    uint64_t due = t->due;
    t->due = 0;
    zel_unprotect(s);
    uint64_t now = zel_systimer_get_tick();
    if (now >= due) {
        if (t->callback) t->callback(t);
    } else {
        (void)zel_callback_timer_add(t, due - now);  // it has just left the queue: not armed, cannot fail
    }
}

// The tick `ticks` from now; a delay past the end of the count (a "forever")
// stays at its last tick instead of wrapping into the past.
uint64_t due_after(uint64_t ticks) {
    uint64_t now = zel_systimer_get_tick();
    return ticks > UINT64_MAX - now ? UINT64_MAX : now + ticks;
}

// Under protection: makes an unset timer due `ticks` from now (never 0,
// which marks it unset); false when it is set already.
bool set_due(zel_callback_timer_t *timer, uint64_t ticks) {
    if (timer->due) return false;
    uint64_t due = due_after(ticks);
    timer->due = due ? due : 1;
    return true;
}

}  // namespace

void zel_timer_remove_agent(zel_eda_t *agent) {
    if (!(agent->state & ZEL_EDA_ST_TIMER)) return;
    zel_dlist_remove(&g_t.agents, &agent->timer_node);
    set_state_bits(agent, 0, ZEL_EDA_ST_TIMER);
}

extern "C" {

void zel_kernel_lists_init(uint32_t timer_task_prio) {
    memset(&g_t, 0, sizeof g_t);
    g_t.task_prio = timer_task_prio;
    g_t.last_armed = kNone;
    g_zel_running = nullptr;
}

int32_t zel_timer_init(void) {
    zel_dlist_init(&g_t.agents);
    zel_dlist_init(&g_t.callbacks);
    zel_dlist_init(&g_t.due);
    g_t.busy = 0;
    g_t.owed_head = g_t.owed_tail = nullptr;
    zel_callback_timer_init(&g_t.retry);
    g_t.retry.callback = retry_owed;
    g_t.task.handler.plain = zel_timer_task_evthandler;
    int32_t r = zel_eda_start(&g_t.task, static_cast<int32_t>(g_t.task_prio), 0);
    if (r) return r;
    return zel_systimer_start();
}

zel_eda_t *zel_timer_task(void) { return &g_t.task; }

void zel_timer_on_tick(void) { request_expiry(); }

uint64_t zel_timer_get_tick(void) { return zel_systimer_get_tick(); }

uint64_t zel_timer_ms_to_tick(uint32_t ms) { return zel_systimer_ms_to_tick(ms); }

uint64_t zel_timer_get_ms(void) { return zel_systimer_tick_to_ms(zel_systimer_get_tick()); }

uint64_t zel_timer_get_elapsed(uint64_t start) {
    uint64_t now = zel_systimer_get_tick();
    return now >= start ? now - start : (now - 1) - start;
}

void zel_eda_timer_add(zel_eda_t *agent, uint64_t due) {
    if (agent->state & ZEL_EDA_ST_TIMER) zel_timer_remove_agent(agent);
    // An expiry of the timer's previous arming that is still queued belongs
    // to that arming: the agent gets one 261, at the new due tick. (The timer
    // task's own 261s are requests for an expiry run, not its timer's.)
    if (agent != &g_t.task) zel_eda_clear_evt_of(agent, ZEL_EVT_TIMER);
    insert_agent(agent, due);
    arm_head();
}

int32_t zel_eda_set_timer_ex(zel_eda_t *agent, uint64_t ticks) {
    if (ticks == 0) return ZEL_ERR_ZERO_TIMEOUT;
    zel_eda_timer_add(agent, due_after(ticks));
    return 0;
}

int32_t zel_eda_set_timer(uint64_t ticks) { return zel_eda_set_timer_ex(zel_eda_get_cur(), ticks); }

int32_t zel_eda_cancel_timer_ex(zel_eda_t *agent) {
    zel_timer_remove_agent(agent);
    zel_eda_clear_evt_of(agent, ZEL_EVT_TIMER);
    return 0;
}

int32_t zel_eda_cancel_timer(void) { return zel_eda_cancel_timer_ex(zel_eda_get_cur()); }

zel_eda_t *zel_eda_set_timeout(zel_eda_t *agent, int64_t timeout) {
    if (!agent) agent = zel_eda_get_cur();
    if (timeout >= 1) {
        set_state_bits(agent, ZEL_EDA_ST_LIMITED, 0);
        zel_eda_timer_add(agent, due_after(static_cast<uint64_t>(timeout)));
    }
    return agent;
}

uint16_t zel_delay(uint32_t ticks) {
    if (ticks == 0) return ZEL_EVT_TIMER;
    zel_eda_t *a = zel_eda_get_cur();
    if (zel_eda_is_thread(a)) return zel_thread_delay(ticks);
    if (!zel_eda_is_waiting(a)) {
        (void)zel_eda_set_timer(ticks);  // ticks is not 0: cannot fail
        zel_eda_set_waiting(a, true);

        return 0xFFFF;
    }
    uint16_t evt = zel_eda_get_cur_evt();
    if (evt == ZEL_EVT_TIMER) zel_eda_set_waiting(a, false);
    return evt;
}

void zel_timer_task_evthandler(zel_eda_t *, zel_evt_t evt) {
    switch (evt) {
    case ZEL_EVT_TIMER: run_expiry(); break;
    case ZEL_EVT_WAKE: run_due_callbacks(); break;
    case ZEL_EVT_TIMER_ADD: arm_from_isr(static_cast<zel_callback_timer_t *>(zel_eda_get_cur_msg())); break;
    case ZEL_EVT_MSG:
    case ZEL_EVT_QUEUE_RX:
    case ZEL_EVT_QUEUE_TX: carry_out_or_owe(evt, zel_eda_get_cur_msg()); break;
    default: break;
    }
}

void zel_timer_set_task_hook(zel_evt_t evt, zel_timer_task_hook_t hook) {
    if (evt == ZEL_EVT_QUEUE_RX) g_t.hook_268 = hook;
    if (evt == ZEL_EVT_QUEUE_TX) g_t.hook_269 = hook;
}

zel_callback_timer_t *zel_callback_timer_init(zel_callback_timer_t *timer) {
    timer->due = 0;
    timer->where = 0;
    timer->node.next = timer->node.prev = nullptr;
    return timer;
}

int32_t zel_callback_timer_add(zel_callback_timer_t *timer, uint64_t ticks) {
    uint8_t s = zel_protect();
    if (!set_due(timer, ticks)) {
        zel_unprotect(s);
        return ZEL_ERR_STATE;
    }
    timer->node.next = timer->node.prev = nullptr;
    zel_dlist_node_t *n = g_t.callbacks.head;
    while (n && cb_of(n)->due < timer->due) n = n->next;
    if (n)
        zel_dlist_insert_before(&g_t.callbacks, n, &timer->node);
    else
        zel_dlist_append(&g_t.callbacks, &timer->node);
    timer->where = 1;
    bool head = g_t.callbacks.head == &timer->node;
    zel_unprotect(s);
    if (head) zel_eda_timer_add(&g_t.task, timer->due);
    return 0;
}

int32_t zel_callback_timer_add_isr(zel_callback_timer_t *timer, uint64_t ticks) {
    uint8_t s = zel_protect();
    if (!set_due(timer, ticks)) {
        zel_unprotect(s);
        return ZEL_ERR_STATE;
    }
    timer->where = 3;
    zel_unprotect(s);
    int32_t r = zel_evtq_post_evt_msg(&g_t.task, ZEL_EVT_TIMER_ADD, timer);
    if (r != 0) {
        s = zel_protect();
        timer->due = 0;
        timer->where = 0;
        zel_unprotect(s);
    }
    return r;
}

int32_t zel_callback_timer_remove(zel_callback_timer_t *timer) {
    uint8_t s = zel_protect();
    if (timer->where == 1)
        zel_dlist_remove(&g_t.callbacks, &timer->node);
    else if (timer->where == 2)
        zel_dlist_remove(&g_t.due, &timer->node);
    timer->where = 0;  // an in-flight 267 finds it removed
    timer->due = 0;
    zel_unprotect(s);
    return 0;
}

int32_t zel_callback_timer_remove_isr(zel_callback_timer_t *timer) { return zel_callback_timer_remove(timer); }

}  // extern "C"

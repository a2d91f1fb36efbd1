// Agents and events.
#include <string.h>

#include "zel_kernel_internal.h"
#include "zel_timer.h"

namespace {

zel_eda_t *agent_of_ready(zel_dlist_node_t *node) { return ZEL_CONTAINER_OF(node, zel_eda_t, ready_node); }

// The port's queue-activation hook: the main loop polls, nothing to do.
int evtq_activate(zel_evtq_t *) { return 0; }

// Frees the dropped events of an agent (outside protection). A bitmap
// event's notice among them goes on to the other waiters.
void free_nodes(zel_evt_node_t *n) {
    while (n) {
        zel_evt_node_t *next = n->next;
        void *notice = n->evt == ZEL_EVT_BMPEVT ? n->msg : nullptr;
        zel_evt_node_free(n);
        if (notice) zel_bmpevt_notice_dropped(static_cast<struct zel_bmpevt *>(notice));
        n = next;
    }
}

// Fills the agent's empty reserve slots, first with `spare` (a node the
// caller hands over, may be null), then from the pool. The node not kept goes
// back. False when a slot stays empty.
bool refill_reserves(zel_eda_t *agent, zel_evt_node_t *spare) {
    uint8_t s = zel_protect();
    zel_evt_node_t **slots[2] = {&agent->wake_node, &agent->yield_node};
    bool full = true;
    for (zel_evt_node_t **slot : slots) {
        if (*slot) continue;
        if (spare) {
            *slot = spare;
            spare = nullptr;
        } else if (!(*slot = zel_evt_node_alloc())) {
            full = false;
        }
    }
    zel_unprotect(s);
    if (spare) zel_evt_node_free(spare);
    return full;
}

// Gives back the agent's reserve nodes (a finished agent, or a start that failed).
void drop_reserves(zel_eda_t *agent) {
    uint8_t s = zel_protect();
    zel_evt_node_t *w = agent->wake_node, *y = agent->yield_node;
    agent->wake_node = agent->yield_node = nullptr;
    zel_unprotect(s);
    if (w) zel_evt_node_free(w);
    if (y) zel_evt_node_free(y);
}

uint8_t entry_index(zel_evtq_t *entry) { return static_cast<uint8_t>(entry - g_zel_cfg.entries); }

void dispatch_by_kind(zel_eda_t *agent, zel_evt_t evt) {
    if (!(agent->features & ZEL_EDA_FEAT_FRAMES)) {
        agent->handler.plain(agent, evt);
        return;
    }
    zel_eda_frame_t *f = agent->handler.frame;
    void *ctx = (f->param || f->local_size) ? zel_eda_frame_locals_of(f) : static_cast<void *>(agent);
    if (agent->features & ZEL_EDA_FEAT_FSM) {
        int r = zel_fn_cast<zel_eda_fsm_handler_t>(f->handler)(ctx, evt);
        agent->fsm_result = static_cast<uint8_t>(r);
        if (r == 1)
            zel_eda_yield();
        else if (r != 2)
            zel_eda_return(0);
        return;
    }
    f->handler(ctx, evt);
}

// Takes a started-again agent out of every kernel list it may still be in.
void detach_live_agent(zel_eda_t *agent) {
    if (agent->state & ZEL_EDA_ST_TIMER) zel_timer_remove_agent(agent);
    zel_eda_wait_leave(agent);
    uint8_t s = zel_protect();
    zel_evt_node_t *nodes = nullptr;
    if (agent->state & ZEL_EDA_ST_QUEUED) {
        zel_evtq_t *e = zel_evtq_get(agent->prio);
        if (e) zel_dlist_remove(&e->ready, &agent->ready_node);
        agent->state &= static_cast<uint8_t>(~ZEL_EDA_ST_QUEUED);
        nodes = agent->pending.head;
        agent->pending.head = agent->pending.tail = nullptr;
    }
    zel_unprotect(s);
    free_nodes(nodes);
}

// Posts `n`; a refused node goes back into `slot` when that is empty (a
// reserve is kept for the next try), else to the pool.
int32_t post_node_keeping(zel_eda_t *agent, zel_evt_node_t *n, bool force, zel_evt_node_t **slot) {
    n->next = nullptr;
    uint8_t s = zel_protect();
    zel_evtq_t *e = zel_evtq_get(agent->prio);
    // A finished (or finishing) agent takes no events: it has no handler
    // level left to run them until it is started again.
    if (!e || (agent->state & ZEL_EDA_ST_FINISH) ||
        ((agent->state & (ZEL_EDA_ST_QUEUED | ZEL_EDA_ST_LIMITED)) == (ZEL_EDA_ST_QUEUED | ZEL_EDA_ST_LIMITED) &&
            !force)) {
        // (A finished agent's reserve stays empty: its finish gave it back.)
        if (slot && !*slot && e && !(agent->state & ZEL_EDA_ST_FINISH)) {
            *slot = n;
            n = nullptr;
        }
        zel_unprotect(s);
        if (n) zel_evt_node_free(n);
        return ZEL_ERR_STATE;
    }
    if (agent->pending.tail)
        agent->pending.tail->next = n;
    else
        agent->pending.head = n;
    agent->pending.tail = n;
    if (!(agent->state & ZEL_EDA_ST_QUEUED)) {
        agent->state |= ZEL_EDA_ST_QUEUED;
        zel_dlist_append(&e->ready, &agent->ready_node);
    }
    evtq_activate(e);
    zel_unprotect(s);
    return 0;
}

}  // namespace

extern "C" {

int32_t zel_eda_post_node(zel_eda_t *agent, zel_evt_node_t *n, bool force) {
    return post_node_keeping(agent, n, force, nullptr);
}

int32_t zel_eda_post_evt_msg_ex(zel_eda_t *agent, zel_evt_t evt, void *msg, bool force) {
    zel_evt_node_t *n = zel_evt_node_alloc();
    if (!n) return ZEL_ERR_NO_MEMORY;
    n->evt = evt;
    n->msg = msg;
    return zel_eda_post_node(agent, n, force);
}

int32_t zel_evt_reserve(zel_evt_node_t **slot) {
    if (*slot) return 0;
    *slot = zel_evt_node_alloc();
    return *slot ? 0 : ZEL_ERR_NO_MEMORY;
}

void zel_evt_unreserve(zel_evt_node_t **slot) {
    uint8_t s = zel_protect();
    zel_evt_node_t *n = *slot;
    *slot = nullptr;
    zel_unprotect(s);
    if (n) zel_evt_node_free(n);
}

int32_t zel_eda_post_reserved(zel_eda_t *agent, zel_evt_t evt, void *msg, bool force, zel_evt_node_t **slot) {
    uint8_t s = zel_protect();
    zel_evt_node_t *n = *slot;
    *slot = nullptr;
    zel_unprotect(s);
    if (!n) n = zel_evt_node_alloc();
    if (!n) return ZEL_ERR_NO_MEMORY;
    n->evt = evt;
    n->msg = msg;
    return post_node_keeping(agent, n, force, slot);
}

zel_evt_node_t *zel_eda_take_wake_node(zel_eda_t *agent) {
    uint8_t s = zel_protect();
    zel_evt_node_t *n = agent->wake_node;
    agent->wake_node = nullptr;
    zel_unprotect(s);
    return n ? n : zel_evt_node_alloc();
}

int32_t zel_eda_reserve_wake(zel_eda_t *agent) {
    uint8_t s = zel_protect();
    // A finished agent holds nothing (and its wake would be refused).
    bool held = agent->wake_node != nullptr || (agent->state & ZEL_EDA_ST_FINISH);
    zel_unprotect(s);
    if (held) return 0;
    zel_evt_node_t *n = zel_evt_node_alloc();
    if (!n) return ZEL_ERR_NO_MEMORY;
    s = zel_protect();
    if (!agent->wake_node) {
        agent->wake_node = n;
        n = nullptr;
    }
    zel_unprotect(s);
    if (n) zel_evt_node_free(n);
    return 0;
}

zel_evt_node_t *zel_eda_spare_node(zel_eda_t *agent) {
    zel_evt_node_t *n = zel_evt_node_alloc();
    if (n) return n;
    uint8_t s = zel_protect();
    zel_evt_node_t **slot = agent->yield_node ? &agent->yield_node : &agent->wake_node;
    n = *slot;
    *slot = nullptr;
    zel_unprotect(s);
    return n;
}

int32_t zel_evtq_post_evt(zel_eda_t *agent, zel_evt_t evt) {
    return zel_eda_post_evt_msg_ex(agent, evt, nullptr, false);
}
int32_t zel_evtq_post_evt_msg(zel_eda_t *agent, zel_evt_t evt, void *msg) {
    return zel_eda_post_evt_msg_ex(agent, evt, msg, false);
}
int32_t zel_evtq_post_evt_ex(zel_eda_t *agent, zel_evt_t evt, bool force) {
    return zel_eda_post_evt_msg_ex(agent, evt, nullptr, force);
}

// The event-pending flag says that an event is queued, so a 1 is not
// needed: it is set only by a post that went through.
int32_t zel_eda_post_evt(zel_eda_t *agent, zel_evt_t evt) {
    uint8_t s = zel_protect();
    if (agent->evt_pending && evt == ZEL_EVT_CONTINUE) {
        zel_unprotect(s);
        return 0;
    }
    int32_t r = zel_eda_post_evt_msg_ex(agent, evt, nullptr, false);
    if (r == 0) agent->evt_pending = 1;
    zel_unprotect(s);
    return r;
}

int32_t zel_eda_wake_msg(zel_eda_t *agent, zel_evt_t evt, void *msg) {
    uint8_t s = zel_protect();
    zel_evt_node_t *spare = nullptr;
    // In a waiter list the wake node is the list's: a wake from elsewhere
    // must not leave that wake without it.
    zel_evt_node_t **slot = agent->wait_list ? &spare : &agent->wake_node;
    int32_t r = zel_eda_post_reserved(agent, evt, msg, false, slot);
    if (r == 0) agent->evt_pending = 1;
    zel_unprotect(s);
    if (spare) zel_evt_node_free(spare);  // a refused wake's own node
    return r;
}

int32_t zel_eda_wake(zel_eda_t *agent, zel_evt_t evt) { return zel_eda_wake_msg(agent, evt, nullptr); }

int32_t zel_eda_post_msg(zel_eda_t *agent, void *msg) {
    return zel_eda_post_evt_msg_ex(agent, ZEL_EVT_MSG, msg, false);
}
int32_t zel_eda_post_evt_msg(zel_eda_t *agent, zel_evt_t evt, void *msg) {
    return zel_eda_post_evt_msg_ex(agent, evt, msg, false);
}
int32_t zel_eda_post_msg_ex(zel_eda_t *agent, void *msg) { return zel_eda_post_msg(agent, msg); }
int32_t zel_thread_post_evt(zel_eda_t *agent, zel_evt_t evt) { return zel_eda_post_evt(agent, evt); }

void zel_eda_reset_evts(zel_eda_t *agent) {
    agent->prio = agent->base_prio;
    agent->pending.head = agent->pending.tail = nullptr;
}

int32_t zel_eda_start(zel_eda_t *agent, int32_t prio, uint8_t features) {
    if (prio == -1) {
        if (!g_zel_running) zel_assert(4);
        prio = entry_index(g_zel_running);
    }
    if (prio < 0 || prio >= g_zel_cfg.prio_count) return ZEL_ERR_STATE;
    if (g_zel_running && g_zel_running->cur_agent == agent) return ZEL_ERR_STATE;
    // Everything that can fail is had before anything changes: the reserve
    // nodes and the node of the 257. A live agent that holds its wake node
    // gives that one to its 257 when no other node can be had: the start
    // takes it out of every wait, so no wait's wake is left without it.
    bool had_reserves = agent->wake_node || agent->yield_node;
    zel_evt_node_t *init = zel_evt_node_alloc();
    bool full = refill_reserves(agent, nullptr);
    if (!init && full) {
        uint8_t s = zel_protect();
        init = agent->wake_node;
        agent->wake_node = nullptr;
        zel_unprotect(s);
    }
    if (!init || !full) {
        if (init) zel_evt_node_free(init);
        if (!had_reserves) drop_reserves(agent);
        return ZEL_ERR_NO_MEMORY;
    }
    detach_live_agent(agent);
    agent->base_prio = static_cast<uint8_t>(prio);
    agent->wait_node.next = agent->wait_node.prev = nullptr;
    agent->wait_list = nullptr;
    agent->state = 0;
    agent->features = features;
    agent->fsm_result = 1;
    agent->cpu_time = nullptr;
    zel_eda_reset_evts(agent);
    init->evt = ZEL_EVT_INIT;
    init->msg = nullptr;
    // State 0 and a valid priority: the post is not refused.
    uint8_t s = zel_protect();
    int32_t r = zel_eda_post_node(agent, init, false);
    agent->evt_pending = r == 0;
    zel_unprotect(s);
    return r;
}

int32_t zel_eda_start_ex(zel_eda_t *agent, const zel_eda_start_rec_t *rec) {
    agent->on_terminate = rec->on_terminate;
    uint8_t features = rec->features;
    if (rec->param || (features & ZEL_EDA_FEAT_FSM)) features |= ZEL_EDA_FEAT_FRAMES;
    if (!(features & ZEL_EDA_FEAT_FRAMES)) {
        agent->handler.plain = reinterpret_cast<zel_eda_evthandler_t>(rec->handler);
        return zel_eda_start(agent, static_cast<int32_t>(rec->prio), features);
    }
    int32_t prio = static_cast<int32_t>(rec->prio);
    if (prio == -1) {
        if (!g_zel_running) zel_assert(4);
        prio = entry_index(g_zel_running);
    }
    if (prio < 0 || prio >= g_zel_cfg.prio_count) return ZEL_ERR_STATE;
    if (g_zel_running && g_zel_running->cur_agent == agent) return ZEL_ERR_STATE;
    zel_eda_frame_t *f = zel_eda_frame_alloc(rec->local_size);
    if (!f) return ZEL_ERR_NO_MEMORY;
    f->next.frame = nullptr;
    f->handler = rec->handler;
    f->param = rec->param;
    f->features = features;
    f->local_size = rec->local_size;
    int32_t r = zel_eda_start(agent, prio, features);
    if (r != 0) {
        zel_eda_frame_free(f);
        return r;
    }
    agent->handler.frame = f;
    return 0;
}

int32_t zel_eda_init_ex(zel_eda_t *agent, const zel_eda_start_rec_t *rec) { return zel_eda_start_ex(agent, rec); }

void zel_eda_on_terminate(zel_eda_t *agent) {
    if (agent->on_terminate) agent->on_terminate(agent);
}

void zel_eda_finish(zel_eda_t *agent) {
    uint8_t s = zel_protect();
    zel_evtq_t *e = zel_evtq_get(agent->prio);
    if (e && e->cur_agent == agent) {
        agent->state |= ZEL_EDA_ST_FINISH;
        zel_unprotect(s);
        return;
    }
    if ((agent->state & ZEL_EDA_ST_QUEUED) && e) {
        zel_dlist_remove(&e->ready, &agent->ready_node);
        agent->state &= static_cast<uint8_t>(~ZEL_EDA_ST_QUEUED);
    }
    zel_evt_node_t *nodes = agent->pending.head;
    agent->pending.head = agent->pending.tail = nullptr;
    agent->state |= ZEL_EDA_ST_FINISH;  // stays set until a start: posts are refused
    zel_unprotect(s);
    free_nodes(nodes);
    drop_reserves(agent);
    zel_eda_on_terminate(agent);
}

int32_t zel_eda_fini(zel_eda_t *agent) {
    if (!agent) agent = zel_eda_get_cur();
    if (agent->state & ZEL_EDA_ST_TIMER) zel_timer_remove_agent(agent);
    zel_eda_wait_leave(agent);
    while ((agent->features & ZEL_EDA_FEAT_FRAMES) && agent->handler.frame) {
        zel_eda_frame_t *f = agent->handler.frame;
        if (f->handler == zel_thread_evthandler)
            zel_thread_release(reinterpret_cast<struct zel_thread_rec *>(f->param));
        agent->features = f->features;
        if (f->features & ZEL_EDA_FEAT_FRAMES)
            agent->handler.frame = f->next.frame;
        else
            agent->handler.plain = f->next.plain;
        zel_eda_frame_free(f);
    }
    zel_eda_finish(agent);
    return 0;
}

int32_t zel_eda_set_evthandler(zel_eda_t *agent, zel_eda_evthandler_t handler) {
    if ((agent->features & ZEL_EDA_FEAT_FRAMES) && agent->handler.frame)
        agent->handler.frame->handler = reinterpret_cast<zel_eda_frame_handler_t>(handler);
    else
        agent->handler.plain = handler;
    return 0;
}

int32_t zel_eda_restart(zel_eda_evthandler_t handler) {
    zel_eda_t *a = zel_eda_get_cur();
    // The 257 first, as a wake of the agent (with the node it holds for
    // that when it waits in no list): a restart that cannot be posted keeps
    // the old handler. The 257 is dispatched only after the running handler
    // has returned, so the new handler is in place by then.
    uint8_t s = zel_protect();
    int32_t r = zel_eda_wake(a, ZEL_EVT_INIT);
    if (r == 0) (void)zel_eda_set_evthandler(a, handler);  // only stores the handler: cannot fail
    zel_unprotect(s);
    return r;
}

zel_eda_t *zel_eda_get_cur(void) {
    if (!g_zel_running) zel_assert(1);
    return g_zel_running->cur_agent;
}
zel_eda_t *zel_thread_get_cur(void) { return zel_eda_get_cur(); }
uint16_t zel_eda_get_cur_evt(void) { return g_zel_running ? g_zel_running->cur_evt : 0xFFFF; }
void *zel_eda_get_cur_msg(void) { return g_zel_running ? g_zel_running->cur_msg : nullptr; }

uint8_t zel_eda_get_prio(zel_eda_t *agent) {
    return (agent->state & ZEL_EDA_ST_PRIO_CHANGE) ? agent->new_prio : agent->prio;
}

bool zel_eda_is_thread(zel_eda_t *agent) { return agent->features & ZEL_EDA_FEAT_THREAD; }

void zel_eda_yield(void) {
    zel_eda_t *a = zel_eda_get_cur();
    uint8_t s = zel_protect();
    if (!a->evt_pending && zel_eda_post_reserved(a, ZEL_EVT_CONTINUE, nullptr, false, &a->yield_node) == 0)
        a->evt_pending = 1;
    zel_unprotect(s);
}

void zel_eda_clear_evt_of(zel_eda_t *agent, uint16_t evt) {
    zel_evt_node_t *drop = nullptr;
    uint8_t s = zel_protect();
    zel_evt_node_t **link = &agent->pending.head;
    zel_evt_node_t *last = nullptr;
    while (zel_evt_node_t *n = *link) {
        if (evt == 0 || n->evt == evt) {
            *link = n->next;
            n->next = drop;
            drop = n;
        } else {
            last = n;
            link = &n->next;
        }
    }
    agent->pending.tail = last;
    if (!agent->pending.head && (agent->state & ZEL_EDA_ST_QUEUED)) {
        zel_evtq_t *e = zel_evtq_get(agent->prio);
        if (e && e->cur_agent != agent) {
            zel_dlist_remove(&e->ready, &agent->ready_node);
            agent->state &= static_cast<uint8_t>(~ZEL_EDA_ST_QUEUED);
        }
    }
    zel_unprotect(s);
    free_nodes(drop);
}

void zel_eda_clear_evt(uint16_t evt) { zel_eda_clear_evt_of(zel_eda_get_cur(), evt); }

int32_t zel_eda_change_prio(zel_eda_t *agent, uint8_t prio) {
    if (prio >= g_zel_cfg.prio_count) return ZEL_ERR_STATE;
    uint8_t s = zel_protect();
    if (prio == agent->prio) {
        zel_unprotect(s);
        return 0;
    }
    zel_evtq_t *e = zel_evtq_get(agent->prio);
    if (e->cur_agent != agent && !(agent->state & ZEL_EDA_ST_PRIO_CHANGE)) {
        if (agent->state & ZEL_EDA_ST_QUEUED) {
            zel_evtq_t *to = zel_evtq_get(prio);
            zel_dlist_remove(&e->ready, &agent->ready_node);
            zel_dlist_append(&to->ready, &agent->ready_node);
            if (agent->pending.head) evtq_activate(to);
        }
        agent->prio = prio;
    } else {
        agent->state |= ZEL_EDA_ST_PRIO_CHANGE;
        agent->new_prio = prio;
        if (prio > agent->prio) zel_evtq_set_priority(e, prio);
    }
    zel_unprotect(s);
    return 0;
}

zel_evtq_t *zel_evtq_get(int32_t prio) {
    if (prio < 0 || prio >= g_zel_cfg.prio_count) return nullptr;
    return &g_zel_cfg.entries[prio];
}
uint8_t zel_evtq_get_prio(zel_evtq_t *entry) { return entry_index(entry); }
bool zel_evtq_is_empty(zel_dlist_t *ready) { return ready->head == nullptr; }
zel_evtq_t *zel_evtq_get_cur(void) { return g_zel_running; }
zel_evtq_t *zel_evtq_set_cur(zel_evtq_t *entry) {
    zel_evtq_t *prev = g_zel_running;
    g_zel_running = entry;
    return prev;
}

void zel_evtq_init(zel_evtq_t *entry) {
    zel_dlist_init(&entry->ready);
    entry->cur_agent = nullptr;
    entry->cur_evt = 0xFFFF;
    entry->cur_msg = nullptr;
    entry->preempt = 0;
    entry->measuring = 0;
}

// Priorities are served between events: a higher entry made ready by the
// handler runs (nested) before this entry's next event. The queue itself
// needs nothing from the port here.
int32_t zel_evtq_set_priority(zel_evtq_t *, uint8_t) { return ZEL_ERR_STATE; }

void zel_eda_dispatch(zel_eda_t *agent, zel_evt_t evt) {
    zel_evtq_t *entry = g_zel_running;
    uint8_t s = zel_protect();
    agent->evt_pending = 0;
    uint64_t start = agent->cpu_time ? zel_systimer_get_tick() : 0;
    entry->measuring = 1;
    entry->preempt = 0;
    zel_unprotect(s);

    dispatch_by_kind(agent, evt);

    s = zel_protect();
    if (agent->cpu_time) *agent->cpu_time += zel_timer_get_elapsed(start) - entry->preempt;
    entry->measuring = 0;
    zel_unprotect(s);
}

int32_t zel_evtq_poll(zel_evtq_t *entry) {
    for (;;) {
        uint8_t s = zel_protect();
        zel_dlist_node_t *rn = entry->ready.head;
        if (!rn) {
            zel_unprotect(s);
            break;
        }
        zel_eda_t *a = agent_of_ready(rn);
        zel_evt_node_t *n = a->pending.head;
        if (!n) {  // nothing pending: leave the ready list
            zel_dlist_remove(&entry->ready, rn);
            a->state &= static_cast<uint8_t>(~ZEL_EDA_ST_QUEUED);
            zel_unprotect(s);
            continue;
        }
        entry->cur_agent = a;
        a->pending.head = n->next;
        if (!a->pending.head) a->pending.tail = nullptr;
        zel_unprotect(s);

        zel_evt_t evt = static_cast<zel_evt_t>(n->evt);
        entry->cur_evt = evt;
        entry->cur_msg = n->msg;
        if (a->state & ZEL_EDA_ST_FINISH) {
            zel_evt_node_free(n);
        } else {
            // The event's node refills what the agent spent of its reserve.
            refill_reserves(a, n);
            zel_eda_dispatch(a, evt);
        }
        entry->cur_evt = 0xFFFF;
        entry->cur_msg = nullptr;

        s = zel_protect();
        zel_dlist_remove(&entry->ready, &a->ready_node);
        if (a->pending.head)
            zel_dlist_append(&entry->ready, &a->ready_node);
        else
            a->state &= static_cast<uint8_t>(~ZEL_EDA_ST_QUEUED);
        entry->cur_agent = nullptr;
        if (a->state & ZEL_EDA_ST_PRIO_CHANGE) {
            a->state &= static_cast<uint8_t>(~ZEL_EDA_ST_PRIO_CHANGE);
            if (a->new_prio != a->prio) {
                if (a->state & ZEL_EDA_ST_QUEUED) {
                    zel_evtq_t *to = zel_evtq_get(a->new_prio);
                    zel_dlist_remove(&entry->ready, &a->ready_node);
                    zel_dlist_append(&to->ready, &a->ready_node);
                    if (a->pending.head) evtq_activate(to);
                }
                a->prio = a->new_prio;
            }
            zel_evtq_set_priority(entry, entry_index(entry));
        }
        bool finish = a->state & ZEL_EDA_ST_FINISH;
        zel_unprotect(s);
        if (finish) zel_eda_finish(a);
        zel_kernel_dispatch_boundary(entry);
    }
    return 0;
}

int zel_eda_step_here(zel_eda_t *agent, zel_eda_frame_handler_t own_handler, uintptr_t own_param, zel_evt_t *own_evt) {
    zel_evtq_t *entry = g_zel_running;
    if (!entry || entry->cur_agent != agent || zel_host_irq_let_in_due()) return ZEL_EDA_HERE_NOT;
    uint8_t s = zel_protect();
    zel_evt_node_t *n = agent->pending.head;
    zel_eda_frame_t *top = (agent->features & ZEL_EDA_FEAT_FRAMES) ? agent->handler.frame : nullptr;
    const bool own = top && top->handler == own_handler && top->param == own_param;
    // The kernel would dispatch this agent's next event next: nothing else
    // is ready, no priority change or finish waits for the loop, and the
    // event goes to a sub-call's handler or to the caller's own level
    // (anything but its start, which only the kernel runs).
    bool here = n && top && !(agent->state & (ZEL_EDA_ST_PRIO_CHANGE | ZEL_EDA_ST_FINISH)) &&
                (own ? n->evt != ZEL_EVT_INIT : !(agent->features & ZEL_EDA_FEAT_THREAD));
    for (uint16_t p = 0; here && p < g_zel_cfg.prio_count; ++p) {
        const zel_dlist_t &ready = g_zel_cfg.entries[p].ready;
        if (&g_zel_cfg.entries[p] == entry)
            here = ready.head == &agent->ready_node && !agent->ready_node.next;
        else
            here = ready.head == nullptr;
    }
    if (!here) {
        zel_unprotect(s);
        return ZEL_EDA_HERE_NOT;
    }
    agent->pending.head = n->next;
    if (!agent->pending.head) agent->pending.tail = nullptr;
    agent->evt_pending = 0;
    zel_evt_t evt = static_cast<zel_evt_t>(n->evt);
    entry->cur_evt = evt;
    entry->cur_msg = n->msg;
    refill_reserves(agent, n);  // inside the section: one flag change less per event
    zel_unprotect(s);
    if (own) {
        *own_evt = evt;
        return ZEL_EDA_HERE_OWN;
    }
    dispatch_by_kind(agent, evt);
    return ZEL_EDA_HERE_RAN;
}

void zel_eda_wait_append(zel_dlist_t *list, zel_eda_t *agent) {
    uint8_t s = zel_protect();
    zel_eda_wait_leave(agent);
    zel_dlist_append(list, &agent->wait_node);
    agent->wait_list = list;
    zel_unprotect(s);
}

void zel_eda_wait_insert_before(zel_dlist_t *list, zel_dlist_node_t *before, zel_eda_t *agent) {
    uint8_t s = zel_protect();
    zel_eda_wait_leave(agent);
    if (before)
        zel_dlist_insert_before(list, before, &agent->wait_node);
    else
        zel_dlist_append(list, &agent->wait_node);
    agent->wait_list = list;
    zel_unprotect(s);
}

void zel_eda_wait_leave(zel_eda_t *agent) {
    uint8_t s = zel_protect();
    if (agent->wait_list) {
        zel_dlist_remove(agent->wait_list, &agent->wait_node);
        agent->wait_list = nullptr;
    }
    zel_unprotect(s);
}

}  // extern "C"

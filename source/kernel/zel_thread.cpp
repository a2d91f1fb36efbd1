// Threads on host threads.
#include "zel_thread.h"

#include <string.h>

#include "zel_kernel_internal.h"
#include "zel_timer.h"
#include "zel_trace.h"

namespace {

zel_thread_rec_t *rec_of_host(zel_host_thread_t *host) { return ZEL_CONTAINER_OF(host, zel_thread_rec_t, host); }

// Hands control back to the kernel and waits for the next event.
uint16_t hand_back(zel_thread_rec_t *rec) {
    zel_host_request_send(rec->kwake);
    zel_host_request_pend_soon(&rec->own);
    rec->resumed = zel_systimer_get_tick();
    return rec->last_evt;
}

// The thread's next event, as hand_back gives it. While the kernel would
// dispatch nothing but this agent's events, the levels of its sub-calls run
// here and the event for the thread's own level is taken without a
// hand-over: a sub-call that completes at once (a write to a device file, a
// block of a host file) costs no wake-up of either host thread.
uint16_t next_event(zel_thread_rec_t *rec) {
    zel_eda_t *a = zel_eda_get_cur();
    const uintptr_t own = reinterpret_cast<uintptr_t>(rec);
    for (;;) {
        zel_evt_t evt = 0;
        const int step = zel_eda_step_here(a, zel_thread_evthandler, own, &evt);
        if (step == ZEL_EDA_HERE_OWN) {
            rec->last_evt = evt;
            return evt;
        }
        if (step == ZEL_EDA_HERE_NOT) return hand_back(rec);
        if (a->state & ZEL_EDA_ST_FINISH) {
            // A sub-call ended the agent: its frames are gone, the host
            // thread leaves as it would from its hand-back wait.
            zel_host_request_t *kw = rec->kwake;
            rec->ended = 1;
            zel_host_request_send(kw);
            zel_host_thread_exit();
        }
    }
}

// The thread side is done: finish its level, wake the kernel, touch nothing after.
void finish_self(zel_thread_rec_t *rec) {
    zel_eda_return(0);
    zel_host_request_t *kw = rec->kwake;
    rec->ended = 1;
    zel_host_request_send(kw);
}

// The host thread could not be created (or restarted): finish the level.
void start_failed(zel_thread_rec_t *rec, zel_host_request_t *w) {
    if (!zel_kernel_is_main_thread(rec)) zel_trace(1, "zel: fail to create host thread \"%s\"\r\n", rec->host.name);
    zel_host_request_fini(&rec->own);
    rec->host.wake = nullptr;
    rec->host.handle = 0;
    rec->host.id = 0;
    rec->ended = 1;
    zel_host_request_fini(w);
    rec->kwake = nullptr;
    zel_eda_return(static_cast<uintptr_t>(ZEL_ERR_NO_MEMORY));
}

// Frees the host side of an ended thread.
void release_host(zel_thread_rec_t *rec) {
    zel_host_request_fini(&rec->own);
    rec->host.wake = nullptr;
    rec->host.handle = 0;
    rec->host.id = 0;
}

}  // namespace

// zel_eda_fini frees a frame of a thread that has not ended: its host thread
// is parked in its hand-back wait; let it leave and free its wake object.
void zel_thread_release(zel_thread_rec_t *rec) {
    if (!rec || !rec->started || rec->ended) return;
    if (rec->host.id == zel_host_thread_self_id()) return;  // the thread finishes itself
    rec->ended = 1;
    if (rec->host.wake) zel_host_request_abandon(rec->host.wake);
    release_host(rec);
}

extern "C" {

void zel_thread_evthandler(void *locals, zel_evt_t evt) {
    zel_thread_rec_t *rec = reinterpret_cast<zel_thread_rec_t *>(zel_eda_locals_param(locals));
    zel_host_request_t w;
    zel_host_request_init(&w);
    rec->kwake = &w;
    rec->last_evt = evt;
    if (evt == ZEL_EVT_INIT) {
        if (!rec->started) {
            rec->started = 1;
            rec->ended = 0;
            zel_host_request_init(&rec->own);
            rec->host.wake = &rec->own;
            rec->host.stack_size = rec->stack_size;
            if (!zel_host_thread_start(&rec->host, "zel_thread", zel_thread_entry, -1)) {
                start_failed(rec, &w);
                return;
            }
        } else if (!rec->ended) {
            // Restart (exec): the old host thread leaves from its hand-back wait.
            zel_eda_t *a = zel_eda_get_cur();
            zel_eda_wait_leave(a);
            (void)zel_eda_cancel_timer_ex(a);  // cannot fail
            uint8_t s = zel_host_irq_disable();
            a->state &= static_cast<uint8_t>(~(ZEL_EDA_ST_LIMITED | ZEL_EDA_ST_SYNC_WAKE));
            zel_host_irq_restore(s);
            if (zel_host_thread_restart(&rec->host) != 0) {
                start_failed(rec, &w);
                return;
            }
        }
    } else {
        if (!rec->started || rec->ended) {
            zel_host_request_fini(&w);
            rec->kwake = nullptr;
            return;
        }
        zel_host_request_send(&rec->own);
    }
    zel_host_request_pend_answer(&w);
    zel_host_request_fini(&w);
    rec->kwake = nullptr;
    if (rec->ended) release_host(rec);
}

int32_t zel_thread_start(zel_eda_t *agent, zel_thread_rec_t *rec, int32_t prio) {
    if (rec->stack_size < ZEL_THREAD_STACK_MIN) return ZEL_ERR_STACK_SMALL;
    if (rec->stack_size % 4096u) return ZEL_ERR_STACK_ALIGN;
    rec->started = 0;
    rec->ended = 0;
    zel_eda_start_rec_t sr;
    sr.handler = zel_thread_evthandler;
    sr.on_terminate = agent->on_terminate;
    sr.prio = static_cast<uint32_t>(prio);
    sr.features = ZEL_EDA_FEAT_FRAMES | ZEL_EDA_FEAT_THREAD;
    sr.local_size = 0;
    sr.param = reinterpret_cast<uintptr_t>(rec);
    return zel_eda_start_ex(agent, &sr);
}

void zel_thread_entry(zel_host_thread_t *host) {
    zel_thread_rec_t *rec = rec_of_host(host);
    rec->resumed = zel_systimer_get_tick();
    rec->entry(rec);
    finish_self(rec);
}

zel_thread_rec_t *zel_thread_get_rec(void) {
    zel_eda_t *a = zel_eda_get_cur();
    if (!(a->features & ZEL_EDA_FEAT_THREAD) || !(a->features & ZEL_EDA_FEAT_FRAMES) || !a->handler.frame)
        zel_assert(2);
    zel_thread_rec_t *rec = reinterpret_cast<zel_thread_rec_t *>(a->handler.frame->param);
    if (!rec->kwake || rec->host.id != zel_host_thread_self_id()) zel_assert(2);
    return rec;
}

void zel_thread_exit(void) {
    finish_self(zel_thread_get_rec());
    zel_host_thread_exit();
}

uint16_t zel_thread_wait(void) { return hand_back(zel_thread_get_rec()); }

uint16_t zel_thread_wait_for_evt(uint16_t evt) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    for (;;) {
        uint16_t got = hand_back(rec);
        if (evt == 0 || got == evt) return got;
    }
}

void *zel_thread_wait_for_msg(void) {
    hand_back(zel_thread_get_rec());
    return zel_eda_get_cur_msg();
}

void *zel_thread_wait_for_evt_msg(void) { return zel_thread_wait_for_msg(); }

uint16_t zel_thread_delay(uint64_t ticks) {
    if (ticks == 0) return ZEL_EVT_TIMER;
    zel_thread_rec_t *rec = zel_thread_get_rec();
    (void)zel_eda_set_timer(ticks);  // ticks is not 0: cannot fail
    uint16_t evt = hand_back(rec);
    if (evt != ZEL_EVT_TIMER) (void)zel_eda_cancel_timer();  // ended early: no stale 261 later
    return evt;
}

void zel_thread_yield(void) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    zel_eda_yield();
    hand_back(rec);
}

void zel_thread_give_turn(void) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    if (zel_systimer_get_tick() - rec->resumed >= zel_systimer_ms_to_tick(1)) zel_thread_yield();
}

int32_t zel_thread_sync_decrease(zel_sync_t *sync, int64_t timeout) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    int32_t taken = zel_eda_sync_decrease(sync, timeout);
    if (taken == 0) return ZEL_SYNC_OBTAINED;
    if (taken < 0) return taken;  // no node for its wake: not waiting
    if (timeout == 0) return ZEL_SYNC_TIMEOUT;
    for (;;) {
        uint16_t evt = hand_back(rec);
        if (evt != ZEL_EVT_TIMER && evt != ZEL_EVT_SYNC && evt != ZEL_EVT_CANCEL) continue;  // unrelated
        int32_t r = zel_eda_sync_get_reason(sync, evt);
        if (r != ZEL_SYNC_KEEP_WAITING) return r;
    }
}

int32_t zel_thread_sync_increase(zel_sync_t *sync) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    int32_t r = zel_eda_sync_increase(sync);
    if (zel_eda_get_cur()->state & ZEL_EDA_ST_PRIO_CHANGE) {
        zel_eda_yield();
        hand_back(rec);
    }
    return r;
}

uint8_t zel_thread_set_priority(uint8_t prio) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    zel_eda_t *a = zel_eda_get_cur();
    uint8_t prev = zel_eda_get_prio(a);
    if (prio != prev) {
        if (zel_eda_change_prio(a, prio) != 0) return prev;
        a->base_prio = prio;
        zel_eda_yield();
        hand_back(rec);
    }
    return prev;
}

int32_t zel_thread_call_param(
    zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size, uint32_t param_size, const void *params) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    zel_eda_t *a = zel_eda_get_cur();
    if (zel_eda_call_prepare(handler, param, static_cast<uint32_t>(local_size) << 16, true) != 0)
        return ZEL_ERR_NO_MEMORY;
    uint32_t n = param_size < local_size ? param_size : local_size;
    if (params && n) memcpy(zel_eda_frame_locals_of(a->handler.frame), params, n);
    int32_t r = zel_eda_start_pushed(a);
    if (r != 0) return r;
    while (next_event(rec) != ZEL_EVT_RETURN) {}
    return 0;
}

int32_t zel_thread_call_fsm(zel_eda_fsm_handler_t handler, uintptr_t param, uint16_t local_size) {
    zel_thread_rec_t *rec = zel_thread_get_rec();
    int32_t r = zel_eda_call_fsm(handler, param, local_size);
    while (r == 1) {
        while (hand_back(rec) != ZEL_EVT_RETURN) {}
        r = zel_eda_call_fsm(handler, param, local_size);
    }
    return r;
}

int32_t zel_thread_prepare(zel_thread_rec_t *rec, const zel_thread_desc_t *desc) {
    rec->entry = desc->entry;
    rec->stack_size = desc->stack_size;
    rec->stack = desc->stack;
    return 0;
}

int32_t zel_thread_call_thread(zel_thread_rec_t *rec, const zel_thread_desc_t *desc) {
    zel_thread_rec_t *self = zel_thread_get_rec();
    (void)zel_thread_prepare(rec, desc);  // only copies the description
    rec->started = 0;

    rec->ended = 0;
    if (zel_eda_call_prepare(zel_thread_evthandler, reinterpret_cast<uintptr_t>(rec), ZEL_EDA_FEAT_THREAD, true) != 0)
        return ZEL_ERR_NO_MEMORY;
    int32_t r = zel_eda_start_pushed(zel_eda_get_cur());
    if (r != 0) return r;
    while (hand_back(self) != ZEL_EVT_RETURN) {}
    return 0;
}

int32_t zel_eda_call_thread(zel_thread_rec_t *rec) {
    rec->started = 0;
    rec->ended = 0;
    return zel_eda_call_start(zel_thread_evthandler, reinterpret_cast<uintptr_t>(rec), ZEL_EDA_FEAT_THREAD, true);
}

uint16_t zel_yield(void) {
    zel_eda_t *a = zel_eda_get_cur();
    if (zel_eda_is_thread(a)) {
        zel_thread_yield();
        return 1;
    }
    if (!zel_eda_is_waiting(a)) {
        zel_eda_yield();
        zel_eda_set_waiting(a, true);
        return 0;
    }
    zel_eda_set_waiting(a, false);
    return 1;
}

}  // extern "C"

// Layer threads: creation, start, join, detach, end; errno; wait triggers.
#include "zel_linux_thread.h"

#include <string.h>

#include "zel_heap.h"
#include "zel_linux_process.h"
#include "zel_linux_signal.h"
#include "zel_timer.h"
#include "zel_trace.h"

namespace {

uint32_t g_next_tid;
int g_static_errno;  // errno of agents and of threads the layer did not make
zel_linux_wait_hook_t g_wait_hook;

// A framework thread waiting in zel_linux_start_thread, listed while it
// waits (on its stack: the started thread may end and be freed before the
// waiter runs again, so the thread keeps no pointer to it).
struct start_wait {
    zel_dlist_node_t node;
    const zel_linux_thread_t *thread;
    zel_eda_t *agent;
    bool answered;
    bool failed;
};
zel_dlist_t g_start_waits;

// Tells the framework thread waiting for the thread's start how it went;
// true when one waited.
bool answer_starter(const zel_linux_thread_t *t, bool failed) {
    for (zel_dlist_node_t *n = g_start_waits.head; n; n = n->next) {
        start_wait *w = ZEL_CONTAINER_OF(n, start_wait, node);
        if (w->thread != t || w->answered) continue;
        w->answered = true;
        w->failed = failed;
        // The starter waits in no waiter list: it holds the node of this
        // wake (see zel_eda_wake), so a shortage of nodes cannot lose it.
        (void)zel_eda_wake(w->agent, ZEL_EVT_WAKE);
        return true;
    }
    return false;
}

// The framework entry of every layer thread: its class's entry.
int linux_thread_entry(zel_thread_rec_t *rec) {
    zel_linux_thread_t *t = reinterpret_cast<zel_linux_thread_t *>(zel_thread_of(rec));
    t->entered = 1;
    t->restart_due = 0;
    answer_starter(t, false);
    return t->op->entry(t);
}

size_t record_bytes(const zel_linux_thread_op_t *op) {
    size_t n = reinterpret_cast<size_t>(zel_linux_thread_extra(nullptr)) + op->extra;
    return (n + 15u) & ~static_cast<size_t>(15u);
}

uint32_t stack_bytes(uint32_t size) {
    if (size == 0) size = ZEL_LINUX_STACK_DEFAULT;
    if (size < ZEL_THREAD_STACK_MIN) size = ZEL_THREAD_STACK_MIN;
    return (size + 4095u) & ~4095u;
}

void free_thread(zel_linux_thread_t *t) { zel_heap_free(t); }

zel_linux_thread_t *thread_of_node(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_linux_thread_t, node); }

bool ending(const zel_linux_thread_t *t) { return zel_linux_thread_ending(t); }

// Takes a trigger that a thread leaves for good out of everything that may
// signal it: the process's wait queue, the private parts of the process's
// descriptors and its signal waiters.
void withdraw_trigger(zel_linux_thread_t *thread, zel_linux_trig_t *trig) {
    if (!trig) return;
    if (zel_linux_process_t *q = trig->process) {
        zel_dlist_remove(&q->wait_queue, &trig->node);
        trig->process = nullptr;
    }
    zel_linux_process_t *p = thread->process;
    if (!p) return;
    for (zel_dlist_node_t *n = p->fds.head; n; n = n->next) {
        zel_linux_fd_priv_t *priv = ZEL_CONTAINER_OF(n, zel_linux_fd_t, node)->priv;
        if (priv) zel_linux_fd_waiters_drop_trig(priv, trig);
    }
    for (zel_dlist_node_t *n = p->sig_waiters.head; n;) {
        zel_dlist_node_t *next = n->next;
        if (ZEL_CONTAINER_OF(n, zel_linux_sig_waiter_t, node)->trig == trig) zel_dlist_remove(&p->sig_waiters, n);
        n = next;
    }
}

// The restart that exec asked for, in the thread itself: its stack is still
// there, so the holds listed on it are given back exactly once, and it is
// outside any sub-call, so the restart event reaches the thread's own level.
[[noreturn]] void restart(zel_linux_thread_t *t) {
    withdraw_trigger(t, t->waiting);
    t->waiting = nullptr;
    t->parked = 0;
    zel_linux_fd_drop_holds(t);
    if (zel_linux_process_t *p = t->process)
        if (p->alone_waiter == t) p->alone_waiter = nullptr;
    t->restart_due = 1;
    (void)zel_eda_wake(&t->thread.eda, ZEL_EVT_INIT);  // its own next event: it holds the node
    for (;;) zel_thread_wait();                        // the 257 restarts this thread at its entry
}

// A trigger wait whose event nodes cannot be had now looks again a
// millisecond later (at most `left` ticks when that is not -1). The timer's
// expiry gets through a shortage: it is posted again until it does.
void trig_look_again_later(int64_t left) {
    int64_t step = static_cast<int64_t>(zel_timer_ms_to_tick(1));
    if (step < 1) step = 1;
    if (left > 0 && left < step) step = left;
    zel_thread_delay(static_cast<uint64_t>(step));
}

// The trigger wait itself (see zel_linux_trig_wait).
uintptr_t trig_wait(zel_linux_trig_t *trig, int64_t timeout, zel_linux_thread_t *self) {
    zel_linux_process_t *p = zel_linux_get_cur_process();
    const uint64_t deadline = timeout > 0 ? zel_timer_get_tick() + static_cast<uint64_t>(timeout) : 0;
    int32_t r;
    for (;;) {
        if (self && self->restarting) {
            // Exec restarts this thread once its call has unwound.
            zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
            return ZEL_LINUX_TRIG_ENDED;
        }
        if (ending(self)) {
            // Let the exit and the others go on before the caller looks again.
            zel_thread_yield();
            zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
            return ZEL_LINUX_TRIG_ENDED;
        }
        int64_t left = timeout;
        if (timeout > 0) {
            const uint64_t now = zel_timer_get_tick();
            if (now >= deadline) return 1;
            left = static_cast<int64_t>(deadline - now);
        }
        // The wait takes the nodes of its wake before it registers: the
        // interrupt side's hand-over here, the thread's own wake in the
        // kernel's wait. Without them nothing is registered.
        if (timeout == 0 || zel_evt_reserve(&trig->irq_node) == 0) {
            trig->result = 0;
            trig->process = p;
            zel_dlist_append(&p->wait_queue, &trig->node);
            if (self) self->waiting = trig;
            r = zel_thread_sync_decrease(&trig->sync, left);
            if (r != ZEL_ERR_NO_MEMORY) break;
            // Nothing could signal it meanwhile (the thread held the kernel).
            trig->process = nullptr;
            zel_dlist_remove(&p->wait_queue, &trig->node);
            if (self) self->waiting = nullptr;
            zel_evt_unreserve(&trig->irq_node);
        }
        trig_look_again_later(left);
    }
    bool ran_out = false;
    if (r != ZEL_SYNC_OBTAINED) {
        if (trig->process) {
            // Nobody signalled: the wait ran out.
            trig->process = nullptr;
            zel_dlist_remove(&p->wait_queue, &trig->node);
            ran_out = true;
        } else {
            // A signal came from an interrupt while the wait ran out: its wake
            // is on the way through the timer task (with the node reserved
            // for it, so it cannot be lost) and must land before the trigger
            // (a local of the caller) goes away. The count it leaves is
            // taken at once; otherwise the thread waits as a listed waiter.
            while (zel_thread_sync_decrease(&trig->sync, -1) == ZEL_ERR_NO_MEMORY) trig_look_again_later(-1);
        }
    }
    zel_evt_unreserve(&trig->irq_node);
    if (self) self->waiting = nullptr;
    if (ran_out) return 1;
    if (trig->result) {
        zel_linux_set_errno(trig->result == ZEL_LINUX_TRIG_ENDED ? ZEL_LINUX_FD_EBADF : ZEL_LINUX_EINTR);
        return trig->result;
    }
    return 0;
}

}  // namespace

extern "C" {

zel_linux_thread_t *zel_linux_get_cur_thread(void) {
    zel_evtq_t *entry = zel_evtq_get_cur();
    if (!entry || !entry->cur_agent) return nullptr;
    zel_eda_t *agent = entry->cur_agent;
    if (!zel_eda_is_thread(agent)) return nullptr;
    zel_thread_t *thread = reinterpret_cast<zel_thread_t *>(agent);
    if (thread->rec.entry != linux_thread_entry) return nullptr;
    return reinterpret_cast<zel_linux_thread_t *>(thread);
}

int *zel_linux_errno_ptr(void) {
    zel_linux_thread_t *t = zel_linux_get_cur_thread();
    return t ? &t->err : &g_static_errno;
}

zel_linux_thread_t *zel_linux_create_thread(
    zel_linux_process_t *process, const zel_linux_thread_op_t *op, uint32_t stack_size, void *stack_buffer) {
    zel_linux_process_t *p = process ? process : zel_linux_get_cur_process();
    uint32_t stack = stack_bytes(stack_size);
    size_t head = record_bytes(op);
    size_t total = head + (stack_buffer ? 0 : stack);
    // Not from the process's tracker: the record must outlive the process's
    // teardown while the thread still runs.
    char *block = static_cast<char *>(zel_heap_malloc(total));
    if (!block) {
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return nullptr;
    }
    memset(block, 0, head);
    zel_linux_thread_t *t = reinterpret_cast<zel_linux_thread_t *>(block);
    t->thread.eda.on_terminate = op->on_exit;
    t->thread.rec.entry = linux_thread_entry;
    t->thread.rec.stack_size = stack;
    t->thread.rec.stack = stack_buffer ? stack_buffer : block + head;
    t->op = op;
    t->process = p;
    t->tid = g_next_tid++;
    zel_dlist_append(&p->threads, &t->node);
    return t;
}

int32_t zel_linux_start_thread(zel_linux_thread_t *thread, int32_t prio) {
    if (prio == -1 && thread->process) prio = thread->process->prio;
    thread->entered = 0;
    thread->start_failed = 0;
    int32_t r = zel_thread_start(&thread->thread.eda, &thread->thread.rec, prio);
    if (r != 0) return r;
    // The host thread is created when the kernel first dispatches the
    // thread. A framework thread waits for that, so that a thread that could
    // not be created is a failure of its start rather than a silent end.
    zel_eda_t *self = zel_eda_get_cur();
    if (!self || !zel_eda_is_thread(self)) return 0;
    start_wait wait{};
    wait.thread = thread;
    wait.agent = self;
    zel_dlist_append(&g_start_waits, &wait.node);
    while (!wait.answered) zel_thread_wait();
    zel_dlist_remove(&g_start_waits, &wait.node);
    return wait.failed ? ZEL_ERR_NO_MEMORY : 0;
}

void zel_linux_discard_thread(zel_linux_thread_t *thread) {
    zel_linux_process_t *p = thread->process;
    if (p) zel_dlist_remove(thread->detached ? &p->detached : &p->threads, &thread->node);
    free_thread(thread);
}

zel_linux_thread_t *zel_linux_get_thread(uint32_t tid) {
    zel_linux_process_t *p = zel_linux_get_cur_process();
    for (zel_dlist_node_t *n = p->threads.head; n; n = n->next)
        if (thread_of_node(n)->tid == tid) return thread_of_node(n);
    return nullptr;
}

void zel_linux_unlink_thread(zel_linux_thread_t *thread) {
    zel_linux_process_t *p = thread->process;
    if (!p || thread->detached) return;
    zel_dlist_remove(&p->threads, &thread->node);
    if (!thread->op) {
        // It has ended already and only waited for a join.
        free_thread(thread);
        return;
    }
    thread->detached = 1;
    zel_dlist_append(&p->detached, &thread->node);
}

int zel_linux_thread_join_record(zel_linux_thread_t *thread, uintptr_t *value_out) {
    zel_linux_thread_t *self = zel_linux_get_cur_thread();
    if (!thread || thread == self || (thread->joiner && thread->joiner != self) || thread->detached ||
        thread->left == ZEL_LINUX_LEFT_JOINED)
        return -1;
    if (thread->op && !thread->left) {
        if (!self) return -1;  // only a layer thread can wait here
        thread->joiner = self;
        while (thread->op && !thread->left) {
            if (ending(self)) {
                // The process ends under another thread's exit: no join waits.
                thread->joiner = nullptr;
                zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
                return -1;
            }
            if (self->restarting) thread->joiner = nullptr;
            zel_linux_thread_park(self);
        }
    }
    if (thread->left && thread->op) {
        // A main thread gone with pthread_exit: its record stays with the
        // process, which it still ends.
        thread->joiner = nullptr;
        thread->left = ZEL_LINUX_LEFT_JOINED;
        if (value_out) *value_out = thread->exit_value;
        return 0;
    }
    if (value_out) *value_out = thread->exit_value;
    if (thread->process) zel_dlist_remove(&thread->process->threads, &thread->node);
    free_thread(thread);
    return 0;
}

int zel_linux_thread_join(uint32_t tid, uintptr_t *value_out) {
    return zel_linux_thread_join_record(zel_linux_get_thread(tid), value_out);
}

void zel_linux_thread_on_exit(zel_eda_t *agent) {
    zel_linux_thread_t *t = reinterpret_cast<zel_linux_thread_t *>(agent);
    if (!t->entered) {
        // Its host thread could not be created: it never ran.
        t->start_failed = 1;
        if (answer_starter(t, true)) {
            // The start answers the failure; the starter discards the thread.
            t->op = nullptr;
            return;
        }
        if (t->op == &zel_linux_process_main_op && t->process) {
            t->op = nullptr;
            zel_linux_process_start_failed(t->process, t);
            free_thread(t);
            return;
        }
    }
    if (t->restart_due && t->op == &zel_linux_process_main_op && t->process) {
        // Exec could not restart it: the host refused the new host thread.
        // It leaves its process, which ends for want of it.
        zel_linux_process_t *p = t->process;
        t->op = nullptr;
        zel_dlist_remove(t->detached ? &p->detached : &p->threads, &t->node);
        t->detached = 0;
        t->process = nullptr;
        zel_linux_thread_t *joiner = t->joiner;
        zel_linux_process_exec_failed(p, t);
        if (joiner)
            (void)zel_eda_wake(&joiner->thread.eda, ZEL_EVT_WAKE);  // it frees the record; it holds the node
        else
            free_thread(t);
        return;
    }
    t->op = nullptr;
    if (t->joiner) {
        t->joiner->exit_value = t->exit_value;
        (void)zel_eda_wake(&t->joiner->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
        return;
    }
    zel_linux_process_t *p = t->process;
    if (t->detached && p) {
        zel_dlist_remove(&p->detached, &t->node);
        if (zel_dlist_is_empty(&p->detached)) zel_linux_process_detached_ended(p);
        free_thread(t);
        return;
    }
    if (!p) free_thread(t);
}

// ---- wait triggers ----

void zel_linux_trig_init(zel_linux_trig_t *trig) {
    (void)zel_eda_sync_init(&trig->sync, 0, 1);  // cannot fail
    trig->node.next = trig->node.prev = nullptr;
    trig->process = nullptr;
    trig->result = 0;
    trig->irq_node = nullptr;
}

int zel_linux_trig_signal(zel_linux_trig_t *trig, uintptr_t value) {
    zel_linux_process_t *p = trig->process;
    if (!p) return 0;
    uintptr_t before = trig->result;
    trig->result = value;
    // Inside the kernel's context the waiter is woken at once with the node
    // it holds for its wake; an emulated interrupt hands the signal to the
    // timer task with the node the wait reserved for that.
    int32_t r = zel_evtq_get_cur() ? zel_eda_sync_increase(&trig->sync)
                                   : zel_eda_sync_increase_from_irq_reserved(&trig->sync, &trig->irq_node);
    if (r != 0 && r != ZEL_ERR_SYNC_MAX) {  // -15: signalled once already
        // Not posted (a waiter that took its nodes cannot get here): the
        // waiter stays registered, so a later signal or its timeout ends it.
        trig->result = before;
        zel_trace(1, "zel: trigger signal not posted (%d)\r\n", static_cast<int>(r));
        return r;
    }
    trig->process = nullptr;
    zel_dlist_remove(&p->wait_queue, &trig->node);
    return 0;
}

void zel_linux_set_wait_hook(zel_linux_wait_hook_t hook) { g_wait_hook = hook; }

uintptr_t zel_linux_trig_wait(zel_linux_trig_t *trig, int64_t timeout) {
    zel_linux_thread_t *self = zel_linux_get_cur_thread();
    const zel_linux_wait_hook_t hook = g_wait_hook;
    if (!hook || !self || !self->wait_context || timeout == 0) return trig_wait(trig, timeout, self);
    hook(self, 1);
    uintptr_t r = trig_wait(trig, timeout, self);
    hook(self, 0);
    return r;
}

bool zel_linux_thread_ending(const zel_linux_thread_t *thread) {
    const zel_linux_process_t *p = thread ? thread->process : nullptr;
    return p && p->exiting && p->exiting != thread;
}

uint16_t zel_linux_thread_park(zel_linux_thread_t *self) {
    zel_linux_thread_restart_point();
    self->parked = 1;
    uint16_t evt = zel_thread_wait();
    self->parked = 0;
    zel_linux_thread_restart_point();
    return evt;
}

void zel_linux_thread_request_restart(zel_linux_thread_t *thread) {
    thread->restarting = 1;
    if (thread->waiting)
        zel_linux_trig_signal(thread->waiting, ZEL_LINUX_TRIG_ENDED);
    else if (thread->parked)
        (void)zel_eda_wake(&thread->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    // Otherwise it is inside a call and restarts when the call returns.
}

void zel_linux_thread_restart_point(void) {
    zel_linux_thread_t *self = zel_linux_get_cur_thread();
    if (self && self->restarting) restart(self);
}

}  // extern "C"

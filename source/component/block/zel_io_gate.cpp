#include "zel_io_gate.h"

#include "zel_irq_guard.h"
#include "zel_timer.h"

namespace {

void send_wake(zel_io_gate_t *gate);

void on_retry(zel_callback_timer_t *timer) { send_wake(reinterpret_cast<zel_io_gate_t *>(timer->user)); }

void send_wake(zel_io_gate_t *gate) {
    if (!gate->wake_owed || !gate->owner) return;
    if (zel_eda_wake(gate->owner, ZEL_EVT_WAKE) == 0) {
        gate->wake_owed = 0;
        return;
    }
    // An owner finished before its turn came can never take it: the gate
    // goes to the next waiter instead.
    if (gate->owner->state & ZEL_EDA_ST_FINISH) {
        zel_io_gate_leave(gate);
        return;
    }
    gate->retry.callback = on_retry;
    gate->retry.user = reinterpret_cast<uintptr_t>(gate);
    (void)zel_callback_timer_add(
        &gate->retry, zel_timer_ms_to_tick(ZEL_IO_GATE_RETRY_MS));  // -7: a retry is armed already
}

}  // namespace

bool zel_io_gate_enter(zel_io_gate_t *gate) {
    zel_eda_t *me = zel_eda_get_cur();
    if (!gate->owner) {
        gate->owner = me;
        return true;
    }
    zel_eda_wait_append(&gate->waiters, me);
    return false;
}

bool zel_io_gate_is_mine(const zel_io_gate_t *gate) {
    zel_eda_t *me = zel_eda_get_cur();
    return gate->owner == me && me->wait_list != &gate->waiters;
}

void zel_io_gate_leave(zel_io_gate_t *gate) {
    zel_eda_t *agent;
    {
        zel_irq_guard guard;
        zel_dlist_node_t *next = gate->waiters.head;
        agent = next ? zel_eda_of_wait_node(next) : nullptr;
    }
    gate->owner = agent;
    gate->wake_owed = 0;
    if (!agent) return;
    zel_eda_wait_leave(agent);
    gate->wake_owed = 1;
    send_wake(gate);
}

void zel_io_gate_fini(zel_io_gate_t *gate) {
    (void)zel_callback_timer_remove(&gate->retry);  // cannot fail
    gate->wake_owed = 0;
}

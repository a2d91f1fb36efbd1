#include "zel_io_gate.h"

bool zel_io_gate_enter(zel_io_gate_t *gate, zel_io_waiter_t *waiter) {
    waiter->next = nullptr;
    waiter->granted = 0;
    if (!gate->busy) {
        gate->busy = 1;
        waiter->granted = 1;
        return true;
    }
    waiter->agent = zel_eda_get_cur();
    if (gate->tail)
        gate->tail->next = waiter;
    else
        gate->head = waiter;
    gate->tail = waiter;
    return false;
}

void zel_io_gate_leave(zel_io_gate_t *gate) {
    zel_io_waiter_t *next = gate->head;
    if (!next) {
        gate->busy = 0;
        return;
    }
    gate->head = next->next;
    if (!gate->head) gate->tail = nullptr;
    next->granted = 1;  // the gate stays busy: it is the waiter's now
    zel_eda_post_evt(next->agent, ZEL_EVT_WAKE);
}

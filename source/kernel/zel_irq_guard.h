// The kernel's protection for the length of a scope: the one way framework
// code outside the kernel takes the interrupt lock. It is built on
// zel_host_irq_disable / zel_host_irq_restore; the kernel's own files, which
// also unlock in the middle of a scope, call those as zel_protect /
// zel_unprotect (zel_kernel_internal.h).
#ifndef ZEL_IRQ_GUARD_H
#define ZEL_IRQ_GUARD_H

#include "zel_eda.h"
#include "zel_host.h"

#ifdef __cplusplus
class zel_irq_guard {
public:
    zel_irq_guard() : state_(zel_host_irq_disable()) {}
    ~zel_irq_guard() { zel_host_irq_restore(state_); }
    zel_irq_guard(const zel_irq_guard &) = delete;
    zel_irq_guard &operator=(const zel_irq_guard &) = delete;

private:
    uint8_t state_;
};

// Clears state bits of an agent (its state byte changes under protection).
inline void zel_agent_clear_state(zel_eda_t *agent, uint8_t bits) {
    zel_irq_guard guard;
    agent->state = uint8_t(agent->state & ~bits);
}
#endif

#endif

// Delivery of a process's pending signals.
#include "zel_linux_signal.h"

#include "zel_linux_process.h"
#include "zel_list.h"

namespace {

const zel_linux_sig_handler_t *find_handler(const zel_linux_process_t *p, uint32_t signal) {
    for (const zel_linux_sig_handler_t *h = p->sig_handlers; h; h = h->next)
        if (h->signal == signal) return h;
    return nullptr;
}

void run_handler(const zel_linux_sig_handler_t *h, uint32_t signal, zel_linux_thread_t *thread) {
    if (!h) return;
    if (h->flags & ZEL_LINUX_SA_SIGINFO) {
        zel_linux_siginfo_t info{};
        info.signo = (int32_t)signal;
        info.thread = thread ? thread->tid : 0;
        reinterpret_cast<zel_linux_sig_info_fn_t>(h->handler)((int)signal, &info, nullptr);
    } else if (h->handler != ZEL_LINUX_SIG_DEFAULT && h->handler != ZEL_LINUX_SIG_IGNORE) {
        reinterpret_cast<zel_linux_sig_fn_t>(h->handler)((int)signal);
    }
}

}  // namespace

extern "C" {

int zel_linux_deliver_signals(zel_linux_thread_t *thread) {
    zel_linux_process_t *p = thread && thread->process ? thread->process : zel_linux_get_cur_process();
    uint32_t last = 0;
    for (uint32_t ready; (ready = p->sig_pending & ~p->sig_blocked) != 0;) {
        const uint32_t signal = (uint32_t)__builtin_ctz(ready);
        p->sig_pending &= ~(1u << signal);
        last = signal;
        run_handler(find_handler(p, signal), signal, thread);
    }
    while (!zel_dlist_is_empty(&p->sig_waiters)) {
        zel_dlist_node_t *n = p->sig_waiters.head;
        zel_dlist_remove(&p->sig_waiters, n);
        auto *w = ZEL_CONTAINER_OF(n, zel_linux_sig_waiter_t, node);
        w->signal = (int32_t)last;
        if (w->trig) zel_linux_trig_signal(w->trig, 1);
    }
    p->sig_delivering = 0;
    return 0;
}

const zel_linux_thread_op_t zel_linux_signal_op = {
    .extra = 0,
    .entry = zel_linux_deliver_signals,
    .on_exit = zel_linux_thread_on_exit,
};

}  // extern "C"

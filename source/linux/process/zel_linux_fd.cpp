// Descriptor records and numbering, the event operations, read and write.
#include "zel_linux_fd.h"

#include "zel_linux_process.h"

namespace {

zel_linux_process_t *in(zel_linux_process_t *process) { return process ? process : zel_linux_get_cur_process(); }

zel_linux_process_t *kernel() { return zel_linux_kernel_process_get(); }

int lowest_free(const zel_linux_process_t *p) {
    for (int w = 0; w < ZEL_LINUX_FD_MAX / 32; ++w)
        if (p->fd_used[w] != 0xFFFFFFFFu) return w * 32 + __builtin_ctz(~p->fd_used[w]);
    return -1;
}

// Consumed events leave pending unless they are sticky.
void consume(zel_linux_fd_priv_t *priv, uint16_t events) {
    priv->pending = static_cast<uint16_t>(priv->pending & (~events | priv->sticky));
}

zel_linux_fd_waiter_t *waiter_of(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_linux_fd_waiter_t, node); }

// Wakes every waiter that wants one of the raised events; each looks at
// pending again when it runs.
void wake(zel_linux_fd_priv_t *priv, uint16_t events) {
    for (zel_dlist_node_t *n = priv->waiters.head; n; n = n->next) {
        zel_linux_fd_waiter_t *w = waiter_of(n);
        if (w->wanted & events) zel_linux_trig_signal(w->trig, 0);
    }
}

// Takes every waiter off the part and wakes it: its part or its number is
// going away, it looks again.
void release_waiters(zel_linux_fd_priv_t *priv) {
    while (zel_dlist_node_t *n = zel_dlist_dequeue(&priv->waiters)) {
        zel_linux_fd_waiter_t *w = waiter_of(n);
        w->priv = nullptr;
        zel_linux_trig_signal(w->trig, 0);
    }
}

// Whether the number still names a descriptor of the current process on this
// part (a close, or a close and a new descriptor in its place, ends that).
bool names(int number, const zel_linux_fd_priv_t *priv) {
    const zel_linux_fd_t *now = zel_linux_fd_get(number);
    return now && now->priv == priv;
}

// The wait of zel_linux_fd_pend_events; with a number of 0 or more it ends
// once that number no longer names the part.
uint16_t pend(zel_linux_fd_priv_t *priv, uint16_t events, zel_linux_trig_t *trig, int number) {
    for (;;) {
        if (number >= 0 && !names(number, priv)) {
            zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
            return 0;
        }
        uint16_t ready = static_cast<uint16_t>(priv->pending & events);
        if (ready) {
            zel_linux_fd_report_events(priv, ready);
            return ready;
        }
        zel_linux_fd_waiter_t waiter;
        zel_linux_fd_waiter_add(priv, &waiter, trig, events);
        uintptr_t r = zel_linux_trig_wait(trig, -1);
        zel_linux_fd_waiter_remove(&waiter);
        if (r != 0) return 0;
    }
}

}  // namespace

extern "C" {

int zel_linux_fd_create_ex(zel_linux_process_t *process, zel_linux_fd_t **out, const zel_linux_fd_op_t *op, int number,
    zel_linux_fd_priv_t *shared) {
    zel_linux_process_t *p = in(process);
    if (number >= ZEL_LINUX_FD_MAX) return -1;
    if (number < 0) {
        number = lowest_free(p);
        if (number < 0) {
            zel_linux_set_errno(ZEL_LINUX_EMFILE);  // every number is taken
            return -1;
        }
    } else if (zel_bitmap_test(p->fd_used, number)) {
        return -1;
    }
    zel_linux_fd_t *fd = static_cast<zel_linux_fd_t *>(zel_linux_calloc_p(p, 1, sizeof(zel_linux_fd_t)));
    if (!fd) {
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return -1;
    }
    zel_linux_fd_priv_t *priv = shared;
    if (priv) {
        priv->refs++;
    } else {
        size_t size = (op && op->priv_size > sizeof(zel_linux_fd_priv_t)) ? op->priv_size : sizeof(zel_linux_fd_priv_t);
        priv = static_cast<zel_linux_fd_priv_t *>(zel_linux_calloc_p(kernel(), 1, size));
        if (!priv) {
            zel_linux_free_p(p, fd);
            zel_linux_set_errno(ZEL_LINUX_ENOMEM);
            return -1;
        }
        priv->refs = 1;
    }
    fd->number = number;
    fd->op = op;
    fd->ungot = -1;
    fd->priv = priv;
    zel_dlist_append(&p->fds, &fd->node);
    zel_bitmap_set(p->fd_used, number);
    if (out) *out = fd;
    return number;
}

int zel_linux_fd_create(zel_linux_fd_t **out, const zel_linux_fd_op_t *op) {
    return zel_linux_fd_create_ex(nullptr, out, op, -1, nullptr);
}

zel_linux_fd_t *zel_linux_fd_get_in_process(zel_linux_process_t *process, int number) {
    zel_linux_process_t *p = in(process);
    if (number < 0 || number >= ZEL_LINUX_FD_MAX || !zel_bitmap_test(p->fd_used, number)) return nullptr;
    for (zel_dlist_node_t *n = p->fds.head; n; n = n->next) {
        zel_linux_fd_t *fd = ZEL_CONTAINER_OF(n, zel_linux_fd_t, node);
        if (fd->number == number) return fd;
    }
    return nullptr;
}

zel_linux_fd_t *zel_linux_fd_get(int number) { return zel_linux_fd_get_in_process(nullptr, number); }

void zel_linux_fd_delete_in_process(zel_linux_process_t *process, int number) {
    zel_linux_process_t *p = in(process);
    zel_linux_fd_t *fd = zel_linux_fd_get_in_process(p, number);
    if (!fd) return;
    // A waiter that came through this number must not stay listed on a part
    // it can no longer find: take it off and wake it, it looks again.
    if (fd->priv) release_waiters(fd->priv);
    zel_dlist_remove(&p->fds, &fd->node);
    zel_bitmap_clear(p->fd_used, number);
    zel_linux_free_p(p, fd);
}

void zel_linux_fd_delete(int number) { zel_linux_fd_delete_in_process(nullptr, number); }

int zel_linux_fd_fcntl_zero(zel_linux_fd_t *, int, uintptr_t) { return 0; }
int zel_linux_fd_close_zero(zel_linux_fd_t *) { return 0; }

void zel_linux_fd_priv_free(zel_linux_fd_priv_t *priv) {
    release_waiters(priv);
    zel_linux_free_p(kernel(), priv);
}

void zel_linux_fd_waiter_add(
    zel_linux_fd_priv_t *priv, zel_linux_fd_waiter_t *waiter, zel_linux_trig_t *trig, uint16_t wanted) {
    waiter->trig = trig;
    waiter->wanted = wanted;
    waiter->priv = priv;
    zel_dlist_append(&priv->waiters, &waiter->node);
}

void zel_linux_fd_waiter_remove(zel_linux_fd_waiter_t *waiter) {
    if (!waiter->priv) return;
    zel_dlist_remove(&waiter->priv->waiters, &waiter->node);
    waiter->priv = nullptr;
}

uint32_t zel_linux_fd_waiter_count(const zel_linux_fd_priv_t *priv) {
    uint32_t n = 0;
    for (const zel_dlist_node_t *node = priv->waiters.head; node; node = node->next) ++n;
    return n;
}

void zel_linux_fd_waiters_drop_trig(zel_linux_fd_priv_t *priv, const zel_linux_trig_t *trig) {
    for (zel_dlist_node_t *n = priv->waiters.head; n;) {
        zel_dlist_node_t *next = n->next;
        if (waiter_of(n)->trig == trig) zel_linux_fd_waiter_remove(waiter_of(n));
        n = next;
    }
}

void zel_linux_fd_hold(zel_linux_fd_priv_t *priv) { priv->refs++; }

void zel_linux_fd_release(zel_linux_fd_priv_t *priv, const zel_linux_fd_op_t *op) {
    if (--priv->refs != 0) return;
    // Every descriptor went away while a call waited: finish the close that
    // the last of them left to it.
    zel_linux_fd_t gone{};
    gone.number = -1;
    gone.op = op;
    gone.ungot = -1;
    gone.priv = priv;
    if (op && op->close) op->close(&gone);
    zel_linux_fd_priv_free(priv);
}

void zel_linux_fd_call_begin(zel_linux_fd_hold_rec_t *hold, zel_linux_fd_priv_t *priv, const zel_linux_fd_op_t *op) {
    hold->priv = priv;
    hold->op = op;
    hold->thread = zel_linux_get_cur_thread();
    if (hold->thread) zel_dlist_append(&hold->thread->holds, &hold->node);
    zel_linux_fd_hold(priv);
}

void zel_linux_fd_call_end(zel_linux_fd_hold_rec_t *hold) {
    if (hold->thread) zel_dlist_remove(&hold->thread->holds, &hold->node);
    zel_linux_fd_release(hold->priv, hold->op);
    // A thread that exec restarts while it is inside a call restarts here,
    // once the call has unwound: its waits ended (-1, errno 9), and a
    // file-system call, which cannot be cut short, has finished.
    if (hold->thread) {
        zel_linux_thread_restart_point();
        // A thread that calls on and on (non-blocking calls that answer
        // EAGAIN) lets the others of its process, and everyone else, in.
        zel_thread_give_turn();
    }
}

void zel_linux_fd_drop_holds(zel_linux_thread_t *thread) {
    while (zel_dlist_node_t *n = zel_dlist_dequeue(&thread->holds)) {
        zel_linux_fd_hold_rec_t *hold = ZEL_CONTAINER_OF(n, zel_linux_fd_hold_rec_t, node);
        zel_linux_fd_release(hold->priv, hold->op);
    }
}

void zel_linux_fd_set_events(zel_linux_fd_priv_t *priv, uint16_t events) {
    priv->pending = static_cast<uint16_t>(priv->pending | events);
    wake(priv, events);
}

void zel_linux_fd_set_events_isr(zel_linux_fd_priv_t *priv, uint16_t events) {
    uint16_t fresh = static_cast<uint16_t>(events & ~priv->level);
    priv->level = static_cast<uint16_t>(priv->level | events);
    if (!fresh) return;
    priv->pending = static_cast<uint16_t>(priv->pending | fresh);
    wake(priv, fresh);
}

void zel_linux_fd_clear_events(zel_linux_fd_priv_t *priv, uint16_t events) {
    consume(priv, events);
    priv->level = static_cast<uint16_t>(priv->level & ~events);
}

void zel_linux_fd_consume_events(zel_linux_fd_priv_t *priv, uint16_t events) { consume(priv, events); }

void zel_linux_fd_report_events(zel_linux_fd_priv_t *priv, uint16_t ready) {
    priv->pending = static_cast<uint16_t>((ready & priv->level) | (priv->pending & (~ready | priv->sticky)));
}

uint16_t zel_linux_fd_pend_events(zel_linux_fd_priv_t *priv, uint16_t events, zel_linux_trig_t *trig) {
    return pend(priv, events, trig, -1);
}

uint16_t zel_linux_fd_wait(const zel_linux_fd_t *fd, uint16_t events) {
    zel_linux_trig_t trig;
    zel_linux_trig_init(&trig);
    return pend(fd->priv, events, &trig, fd->number);
}

zel_linux_ssize_t zel_linux_read(int number, void *buffer, size_t count) {
    zel_linux_fd_t *fd = zel_linux_fd_get(number);
    if (!fd || (fd->priv->status & ZEL_LINUX_O_WRONLY)) {
        zel_linux_set_errno(ZEL_LINUX_EBADF);
        return -1;
    }
    fd->call_flags = 0;
    if (!fd->op || !fd->op->read) {
        // A descriptor not open for reading (a pipe's write end).
        zel_linux_set_errno(ZEL_LINUX_EBADF);
        return -1;
    }
    zel_linux_fd_call call(fd);
    return call.rec()->op->read(call.rec(), buffer, count);
}

zel_linux_ssize_t zel_linux_write(int number, const void *buffer, size_t count) {
    zel_linux_fd_t *fd = zel_linux_fd_get(number);
    if (!fd) {
        zel_linux_set_errno(ZEL_LINUX_EBADF);
        return -1;
    }
    fd->call_flags = 0;
    if (!fd->op || !fd->op->write) {
        // A descriptor not open for writing (a pipe's read end).
        zel_linux_set_errno(ZEL_LINUX_EBADF);
        return -1;
    }
    zel_linux_fd_call call(fd);
    return call.rec()->op->write(call.rec(), buffer, count);
}

}  // extern "C"

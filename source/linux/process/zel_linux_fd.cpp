// Descriptor records and numbering, the event operations, read and write.
#include "zel_linux_fd.h"

#include "zel_linux_process.h"
#include "zel_timer.h"

namespace {

zel_linux_process_t *in(zel_linux_process_t *process) { return process ? process : zel_linux_get_cur_process(); }

zel_linux_process_t *kernel() { return zel_linux_kernel_process_get(); }

int lowest_free(const zel_linux_process_t *p) {
    for (int w = 0; w < ZEL_LINUX_FD_MAX / 32; ++w)
        if (p->fd_used[w] != 0xFFFFFFFFu) return w * 32 + __builtin_ctz(~p->fd_used[w]);
    return -1;
}

// Events handed to a waiter leave pending unless they are sticky.
void consume(zel_linux_fd_priv_t *priv, uint16_t events) {
    priv->pending = static_cast<uint16_t>(priv->pending & (~events | priv->sticky));
}

// Hands raised events to the registered waiter when it wants them.
void hand_over(zel_linux_fd_priv_t *priv, uint16_t events) {
    zel_linux_trig_t *trig = priv->trigger;
    if (!trig) return;
    uint16_t fired = static_cast<uint16_t>(events & priv->wanted);
    if (!fired) return;
    priv->fired = fired;
    consume(priv, fired);
    priv->trigger = nullptr;
    priv->wanted = 0;
    zel_linux_trig_signal(trig, 0);
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
        zel_linux_fd_collect(priv);
        uint16_t ready = static_cast<uint16_t>(priv->pending & events);
        if (ready) {
            consume(priv, ready);
            return ready;
        }
        if (priv->trigger && priv->trigger != trig) {
            // Another thread (maybe of another process) waits on this part
            // and would take the wake: look again a little later, unless
            // this thread's process ends or exec restarts the thread.
            const zel_linux_thread_t *self = zel_linux_get_cur_thread();
            if (zel_linux_thread_ending(self) || (self && self->restarting)) {
                zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
                return 0;
            }
            zel_thread_delay(zel_timer_ms_to_tick(1));
            continue;
        }
        priv->trigger = trig;
        priv->wanted = events;
        uintptr_t r = zel_linux_trig_wait(trig, -1);
        if (priv->trigger == trig) {
            priv->trigger = nullptr;
            priv->wanted = 0;
        }
        if (r != 0) return 0;
    }
}

}  // namespace

extern "C" {

// Events handed to a waiter that has not looked at them yet go back to
// pending once nobody is registered; whoever looks next finds them there.
void zel_linux_fd_collect(zel_linux_fd_priv_t *priv) {
    if (priv->trigger || !priv->fired) return;
    priv->pending = static_cast<uint16_t>(priv->pending | priv->fired);
    priv->fired = 0;
}

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
    // A waiter registered through this number must not keep a registration
    // that it can no longer find: wake it, it looks again.
    zel_linux_fd_priv_t *priv = fd->priv;
    if (priv && priv->trigger) {
        zel_linux_trig_t *trig = priv->trigger;
        priv->trigger = nullptr;
        priv->wanted = 0;
        zel_linux_trig_signal(trig, 0);
    }
    zel_dlist_remove(&p->fds, &fd->node);
    zel_bitmap_clear(p->fd_used, number);
    zel_linux_free_p(p, fd);
}

void zel_linux_fd_delete(int number) { zel_linux_fd_delete_in_process(nullptr, number); }

int zel_linux_fd_fcntl_zero(zel_linux_fd_t *, int, uintptr_t) { return 0; }
int zel_linux_fd_close_zero(zel_linux_fd_t *) { return 0; }

void zel_linux_fd_priv_free(zel_linux_fd_priv_t *priv) { zel_linux_free_p(kernel(), priv); }

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
    if (hold->thread) zel_linux_thread_restart_point();
}

void zel_linux_fd_drop_holds(zel_linux_thread_t *thread) {
    while (zel_dlist_node_t *n = zel_dlist_dequeue(&thread->holds)) {
        zel_linux_fd_hold_rec_t *hold = ZEL_CONTAINER_OF(n, zel_linux_fd_hold_rec_t, node);
        zel_linux_fd_release(hold->priv, hold->op);
    }
}

void zel_linux_fd_set_events(zel_linux_fd_priv_t *priv, uint16_t events) {
    priv->pending = static_cast<uint16_t>(priv->pending | events);
    hand_over(priv, events);
}

void zel_linux_fd_set_events_isr(zel_linux_fd_priv_t *priv, uint16_t events) {
    uint16_t fresh = static_cast<uint16_t>(events & ~priv->level);
    priv->level = static_cast<uint16_t>(priv->level | events);
    if (!fresh) return;
    priv->pending = static_cast<uint16_t>(priv->pending | fresh);
    hand_over(priv, fresh);
}

void zel_linux_fd_clear_events(zel_linux_fd_priv_t *priv, uint16_t events) {
    consume(priv, events);
    priv->level = static_cast<uint16_t>(priv->level & ~events);
}

void zel_linux_fd_consume_events(zel_linux_fd_priv_t *priv, uint16_t events) { consume(priv, events); }

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

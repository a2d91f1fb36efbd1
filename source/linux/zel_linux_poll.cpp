// poll: scan the descriptors' pending events, register a trigger on those
// that nobody else watches, sleep, scan again.
#include "zel_linux_fd.h"
#include "zel_linux_process.h"
#include "zel_timer.h"

namespace {

// Marks, during a wait, the entries whose private part carries our trigger.
// The caller's revents are ours until the call returns.
constexpr uint16_t kRegistered = 0x8000;

int scan(zel_linux_pollfd *entries, zel_linux_nfds_t count) {
    int ready_entries = 0;
    for (unsigned long i = 0; i < count; ++i) {
        zel_linux_pollfd *e = &entries[i];
        e->revents = 0;
        zel_linux_fd_t *fd = zel_linux_fd_get(e->fd);
        if (!fd) continue;
        zel_linux_fd_priv_t *priv = fd->priv;
        zel_linux_fd_collect(priv);
        uint16_t ready = static_cast<uint16_t>(static_cast<uint16_t>(e->events) & priv->pending);
        if (!ready) continue;
        e->revents = static_cast<short>(ready);
        // Reported events leave pending unless their condition still holds
        // or they are sticky.
        priv->pending = static_cast<uint16_t>((ready & priv->level) | (priv->pending & (~ready | priv->sticky)));
        ready_entries++;
    }
    return ready_entries;
}

// Registers our trigger on every part nobody else watches; false when some
// part keeps another waiter, whose wake we do not get.
bool enrol(zel_linux_pollfd *entries, zel_linux_nfds_t count, zel_linux_trig_t *trig) {
    bool alone = true;
    for (unsigned long i = 0; i < count; ++i) {
        zel_linux_pollfd *e = &entries[i];
        zel_linux_fd_t *fd = zel_linux_fd_get(e->fd);
        if (!fd) continue;
        zel_linux_fd_priv_t *priv = fd->priv;
        // A part already watched by another waiter keeps that waiter.
        if (priv->trigger && priv->trigger != trig) {
            alone = false;
            continue;
        }
        priv->trigger = trig;
        priv->wanted = static_cast<uint16_t>(priv->wanted | static_cast<uint16_t>(e->events));
        e->revents = static_cast<short>(e->revents | kRegistered);
    }
    return alone;
}

// Withdraws our registrations and takes back what was handed to us.
void withdraw(zel_linux_pollfd *entries, zel_linux_nfds_t count, zel_linux_trig_t *trig) {
    for (unsigned long i = 0; i < count; ++i) {
        zel_linux_pollfd *e = &entries[i];
        if (!(static_cast<uint16_t>(e->revents) & kRegistered)) continue;
        e->revents = 0;
        zel_linux_fd_t *fd = zel_linux_fd_get(e->fd);
        if (!fd) continue;
        zel_linux_fd_priv_t *priv = fd->priv;
        if (priv->trigger == trig) {
            priv->trigger = nullptr;
            priv->wanted = 0;
        }
        zel_linux_fd_collect(priv);
    }
}

}  // namespace

extern "C" {

int zel_linux_poll_core(zel_linux_pollfd *entries, zel_linux_nfds_t count, int64_t timeout) {
    // Exec restarts the calling thread here rather than let it run on.
    zel_linux_thread_restart_point();
    zel_linux_trig_t trig;
    zel_linux_trig_init(&trig);
    uint64_t deadline = timeout > 0 ? zel_timer_get_tick() + static_cast<uint64_t>(timeout) : 0;
    for (;;) {
        int n = scan(entries, count);
        if (n || timeout == 0) return n;
        int64_t wait = -1;
        if (timeout > 0) {
            uint64_t now = zel_timer_get_tick();
            if (now >= deadline) return 0;
            wait = static_cast<int64_t>(deadline - now);
        }
        // A part that hands its events to another waiter is looked at again
        // shortly, as a read does, so that every waiter sees it become ready.
        int64_t step = wait;
        if (!enrol(entries, count, &trig)) {
            int64_t recheck = static_cast<int64_t>(zel_timer_ms_to_tick(1));
            if (recheck < 1) recheck = 1;
            if (step < 0 || step > recheck) step = recheck;
        }
        uintptr_t r = zel_linux_trig_wait(&trig, step);
        withdraw(entries, count, &trig);
        if (r == ZEL_LINUX_TRIG_ENDED) {
            // The process ends (errno 9), or exec restarts the thread.
            zel_linux_thread_restart_point();
            return -1;
        }
        if (r == 1 && step == wait) return 0;
    }
}

int zel_linux_poll(zel_linux_pollfd *entries, zel_linux_nfds_t count, int timeout_ms) {
    int64_t ticks = timeout_ms < 0 ? -1 : static_cast<int64_t>(zel_timer_ms_to_tick(static_cast<uint32_t>(timeout_ms)));
    if (timeout_ms > 0 && ticks == 0) ticks = 1;
    return zel_linux_poll_core(entries, count, ticks);
}

}  // extern "C"

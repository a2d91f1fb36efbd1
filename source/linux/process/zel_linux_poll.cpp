// poll: scan the descriptors' pending events, list a waiter on each part,
// sleep until one of them is raised (or the timeout), scan again.
#include "zel_heap.h"
#include "zel_linux_fd.h"
#include "zel_linux_process.h"
#include "zel_timer.h"

namespace {

// Waiter records of a poll of up to this many entries live on its stack;
// a larger one takes them from the heap.
constexpr zel_linux_nfds_t kStackWaiters = 16;

// An entry's events, and the error and hang-up that are always reported.
uint16_t asked(const zel_linux_pollfd *e) {
    return static_cast<uint16_t>(static_cast<uint16_t>(e->events) | ZEL_LINUX_EV_ERR | ZEL_LINUX_EV_HUP);
}

int scan(zel_linux_pollfd *entries, zel_linux_nfds_t count) {
    int ready_entries = 0;
    for (unsigned long i = 0; i < count; ++i) {
        zel_linux_pollfd *e = &entries[i];
        e->revents = 0;
        zel_linux_fd_t *fd = zel_linux_fd_get(e->fd);
        if (!fd) continue;
        zel_linux_fd_priv_t *priv = fd->priv;
        uint16_t ready = static_cast<uint16_t>(asked(e) & priv->pending);
        if (!ready) continue;
        e->revents = static_cast<short>(ready);
        zel_linux_fd_report_events(priv, ready);
        ready_entries++;
    }
    return ready_entries;
}

// Lists one waiter per entry whose descriptor exists (at most `room`); false
// when some entries found no record (they are looked at again shortly).
bool enrol(zel_linux_pollfd *entries, zel_linux_nfds_t count, zel_linux_fd_waiter_t *waiters, zel_linux_nfds_t room,
    zel_linux_trig_t *trig) {
    bool all = true;
    for (unsigned long i = 0; i < count; ++i) {
        if (i >= room) {
            all = false;
            break;
        }
        waiters[i].priv = nullptr;
        zel_linux_fd_t *fd = zel_linux_fd_get(entries[i].fd);
        if (fd) zel_linux_fd_waiter_add(fd->priv, &waiters[i], trig, asked(&entries[i]));
    }
    return all;
}

void withdraw(zel_linux_fd_waiter_t *waiters, zel_linux_nfds_t listed) {
    for (unsigned long i = 0; i < listed; ++i) zel_linux_fd_waiter_remove(&waiters[i]);
}

}  // namespace

extern "C" {

int zel_linux_poll_core(zel_linux_pollfd *entries, zel_linux_nfds_t count, int64_t timeout) {
    // Exec restarts the calling thread here rather than let it run on; a
    // thread that polls on and on without waiting gives the others a turn.
    zel_linux_thread_restart_point();
    if (zel_linux_get_cur_thread()) zel_thread_give_turn();
    zel_linux_trig_t trig;
    zel_linux_trig_init(&trig);
    uint64_t deadline = timeout > 0 ? zel_timer_get_tick() + static_cast<uint64_t>(timeout) : 0;
    zel_linux_fd_waiter_t on_stack[kStackWaiters];
    zel_linux_fd_waiter_t *waiters = on_stack;
    zel_linux_nfds_t room = kStackWaiters;
    int answer = 0;
    for (;;) {
        int n = scan(entries, count);
        if (n || timeout == 0) {
            answer = n;
            break;
        }
        int64_t wait = -1;
        if (timeout > 0) {
            uint64_t now = zel_timer_get_tick();
            if (now >= deadline) break;
            wait = static_cast<int64_t>(deadline - now);
        }
        if (count > room && waiters == on_stack) {
            auto *more = static_cast<zel_linux_fd_waiter_t *>(zel_heap_malloc(count * sizeof(zel_linux_fd_waiter_t)));
            if (more) {
                waiters = more;
                room = count;
            }
        }
        // Without memory for a waiter per entry, the entries past the
        // stack's are looked at again every millisecond.
        int64_t step = wait;
        if (!enrol(entries, count, waiters, room, &trig)) {
            int64_t recheck = static_cast<int64_t>(zel_timer_ms_to_tick(1));
            if (recheck < 1) recheck = 1;
            if (step < 0 || step > recheck) step = recheck;
        }
        uintptr_t r = zel_linux_trig_wait(&trig, step);
        withdraw(waiters, count < room ? count : room);
        if (r == ZEL_LINUX_TRIG_ENDED) {
            // The process ends (errno 9), or exec restarts the thread.
            if (waiters != on_stack) zel_heap_free(waiters);
            zel_linux_thread_restart_point();
            return -1;
        }
        if (r == 1 && step == wait) break;
    }
    if (waiters != on_stack) zel_heap_free(waiters);
    return answer;
}

int zel_linux_poll(zel_linux_pollfd *entries, zel_linux_nfds_t count, int timeout_ms) {
    int64_t ticks = timeout_ms < 0 ? -1 : static_cast<int64_t>(zel_timer_ms_to_tick(static_cast<uint32_t>(timeout_ms)));
    if (timeout_ms > 0 && ticks == 0) ticks = 1;
    return zel_linux_poll_core(entries, count, ticks);
}

}  // extern "C"

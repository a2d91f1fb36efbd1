// POSIX threads and mutexes over layer threads and kernel mutexes.
#include "zel_linux_pthread.h"

#include "zel_linux_process.h"
#include "zel_thread.h"
#include "zel_trace.h"

static_assert(sizeof(zel_linux_mutex_t) <= sizeof(zel_linux_pthread_mutex_t), "a mutex fits pthread_mutex_t");
static_assert(alignof(zel_linux_mutex_t) <= alignof(zel_linux_pthread_mutex_t), "and its alignment");

namespace {

struct pthread_extra {
    void *arg;
    void *(*start)(void *);
};

int pthread_entry(zel_linux_thread_t *t) {
    pthread_extra *x = static_cast<pthread_extra *>(zel_linux_thread_extra(t));
    t->exit_value = reinterpret_cast<uintptr_t>(x->start(x->arg));
    return 0;
}

zel_linux_mutex_t *record(zel_linux_pthread_mutex_t *mutex) { return reinterpret_cast<zel_linux_mutex_t *>(mutex); }

int refuse(int error) {
    zel_linux_set_errno(error);
    return -1;
}

// Releases a mutex the caller holds. Its waiters took the nodes of their
// wakes when they began to wait, so the release hands the mutex on without
// allocating; should it fail all the same, the mutex stays held, with its
// lock count as it was, and the caller sees the failure.
int release(zel_linux_mutex_t *mutex) {
    if (--mutex->locks != 0) return 0;
    int32_t r = zel_eda_sync_increase(&mutex->sync);
    if (r == 0) return 0;
    mutex->locks++;
    zel_trace(1, "zel: mutex release failed (%d)\r\n", static_cast<int>(r));
    return refuse(ZEL_LINUX_ENOMEM);
}

int took(zel_linux_mutex_t *mutex) {
    mutex->locks = 1;
    // An exec that asked for a restart meanwhile: the old code never holds it.
    zel_linux_thread_t *t = zel_linux_get_cur_thread();
    // (Should the release fail, the mutex stays held and the lock says so.)
    if (t && t->restarting && release(mutex) == 0) zel_linux_thread_restart_point();
    return 0;
}

// The wait of a lock that was not taken at once (the kernel lists the caller
// as a waiter of the mutex). Events that are not the mutex's are skipped,
// unless the thread's process ends or exec restarts it: then the wait ends
// (ZEL_SYNC_OTHER) and the caller leaves the waiters, unless the mutex was
// handed to it already (its wake is on the way: ZEL_SYNC_OBTAINED then).
int32_t lock_wait(zel_linux_mutex_t *mutex, zel_linux_thread_t *t) {
    t->parked = 1;
    for (;;) {
        const uint16_t evt = zel_thread_wait();
        const bool mine = evt == ZEL_EVT_TIMER || evt == ZEL_EVT_SYNC || evt == ZEL_EVT_CANCEL;
        if (!mine && !zel_linux_thread_ending(t) && !t->restarting) continue;
        const int32_t r = zel_eda_sync_get_reason(&mutex->sync, evt);
        if (r == ZEL_SYNC_KEEP_WAITING) continue;
        t->parked = 0;
        return r;
    }
}

}  // namespace

extern "C" {

const zel_linux_thread_op_t zel_linux_pthread_op = {
    .extra = sizeof(pthread_extra),
    .entry = pthread_entry,
    .on_exit = zel_linux_thread_on_exit,
};

int zel_linux_pthread_create(
    zel_linux_pthread_t *tid_out, const zel_linux_pthread_attr_t *attr, void *(*start)(void *), void *arg) {
    static const zel_linux_pthread_attr_t defaults = {{0, 0, 0, 1, 0, 0, 0, 0}};
    if (!attr) attr = &defaults;
    if (!start) return -1;
    zel_linux_thread_t *t =
        zel_linux_create_thread(nullptr, &zel_linux_pthread_op, attr->word[ZEL_LINUX_ATTR_STACK_SIZE], nullptr);
    if (!t) return ZEL_LINUX_EAGAIN;
    pthread_extra *x = static_cast<pthread_extra *>(zel_linux_thread_extra(t));
    x->start = start;
    x->arg = arg;
    int32_t prio = attr->word[ZEL_LINUX_ATTR_INHERIT] ? -1 : static_cast<int32_t>(attr->word[ZEL_LINUX_ATTR_PRIO]);
    // The new thread may run before the start returns: it finds its id set.
    if (tid_out) *tid_out = t->tid;
    if (zel_linux_start_thread(t, prio) != 0) {
        // Not made (no memory, or no host thread): nothing is left listed.
        zel_linux_discard_thread(t);
        return ZEL_LINUX_EAGAIN;
    }
    if (attr->word[ZEL_LINUX_ATTR_DETACH] == ZEL_LINUX_PTHREAD_CREATE_DETACHED) zel_linux_unlink_thread(t);
    return 0;
}

int zel_linux_pthread_join(zel_linux_pthread_t tid, void **value_out) {
    uintptr_t value = 0;
    if (zel_linux_thread_join(tid, &value) != 0) return -1;
    if (value_out) *value_out = reinterpret_cast<void *>(value);
    return 0;
}

int zel_linux_pthread_detach(zel_linux_pthread_t tid) {
    zel_linux_thread_t *t = zel_linux_get_thread(tid);
    if (t) zel_linux_unlink_thread(t);
    return 0;
}

void zel_linux_pthread_exit(void *value) {
    zel_linux_thread_t *t = zel_linux_get_cur_thread();
    if (t) t->exit_value = reinterpret_cast<uintptr_t>(value);
    // A main thread's process outlives it until its other threads end; for
    // joins the thread has ended now: a join waiting for it gets its value.
    if (t && t->op == &zel_linux_process_main_op && t->process) {
        t->left = ZEL_LINUX_LEFT;
        if (t->joiner)
            (void)zel_eda_wake(
                &t->joiner->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
        zel_linux_exit_after_threads();
    }
    zel_thread_exit();
}

int zel_linux_pthread_mutex_init(zel_linux_pthread_mutex_t *space, const zel_linux_pthread_mutexattr_t *type) {
    zel_linux_mutex_t *mutex = record(space);
    mutex->type = type ? *type : 0;
    mutex->locks = 0;
    (void)zel_eda_sync_init(&mutex->sync, static_cast<int16_t>(ZEL_SYNC_MUTEX | 1u), 1);  // cannot fail
    return 0;
}

int zel_linux_pthread_mutex_lock(zel_linux_pthread_mutex_t *space) {
    zel_linux_mutex_t *mutex = record(space);
    zel_eda_t *self = zel_eda_get_cur();
    if ((mutex->type & ZEL_LINUX_PTHREAD_MUTEX_RECURSIVE) && mutex->locks && mutex->sync.owner == self) {
        mutex->locks++;
        return 0;
    }
    zel_linux_thread_t *t = zel_linux_get_cur_thread();
    if (!t) {
        // Not a layer thread: the kernel's wait, which skips events that are
        // not this mutex's. Nothing else ends it without the mutex (a destroy
        // is refused while anyone holds or waits), but should it end so, the
        // caller does not hold the mutex and must not go on as if it did.
        int32_t r = zel_thread_sync_decrease(&mutex->sync, -1);
        if (r == ZEL_ERR_NO_MEMORY) return refuse(ZEL_LINUX_ENOMEM);  // could not wait: not taken
        if (r != ZEL_SYNC_OBTAINED) return refuse(ZEL_LINUX_EINVAL);
        mutex->locks = 1;
        return 0;
    }
    zel_linux_thread_restart_point();
    // Once its process ends under another thread's exit, a lock no longer
    // waits.
    const bool ending = zel_linux_thread_ending(t);
    const int32_t taken = zel_eda_sync_decrease(&mutex->sync, ending ? 0 : -1);
    if (taken == 0) return took(mutex);
    if (ending) return refuse(ZEL_LINUX_FD_EBADF);
    if (taken == ZEL_ERR_NO_MEMORY) return refuse(ZEL_LINUX_ENOMEM);  // no node for its wake: does not wait
    switch (lock_wait(mutex, t)) {
    case ZEL_SYNC_OBTAINED: return took(mutex);
    case ZEL_SYNC_OTHER:
        // Woken by the process's exit (or an exec): not taken.
        zel_linux_thread_restart_point();
        return refuse(ZEL_LINUX_FD_EBADF);
    default: return refuse(ZEL_LINUX_EINVAL);
    }
}

int zel_linux_pthread_mutex_unlock(zel_linux_pthread_mutex_t *space) {
    zel_linux_mutex_t *mutex = record(space);
    // Only the holder unlocks: anyone else would hand the mutex on under it.
    if (mutex->locks == 0 || mutex->sync.owner != zel_eda_get_cur()) return refuse(ZEL_LINUX_EPERM);
    return release(mutex);
}

int zel_linux_pthread_mutex_destroy(zel_linux_pthread_mutex_t *space) {
    zel_linux_mutex_t *mutex = record(space);
    // Held, or handed to a waiter that has not run yet, or waited for.
    if (mutex->sync.owner || !zel_dlist_is_empty(&mutex->sync.waiters)) return refuse(ZEL_LINUX_EBUSY);
    zel_eda_sync_cancel(&mutex->sync);
    return 0;
}

}  // extern "C"

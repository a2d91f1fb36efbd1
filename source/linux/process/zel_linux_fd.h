/* File descriptors of the Linux-emulation layer: records, numbering,
 * readiness events, poll, read and write.
 *
 * A descriptor is a record in its process's descriptor list that points to
 * a class (a table of operations) and to a private part. Duplicates share
 * the private part, which counts its references and lives in the kernel
 * process's memory, so that it can outlive the process that made it. Every
 * private part begins with the common head below; a class's own fields
 * follow it.
 *
 * Readiness: each private part keeps event bits (1 readable, 2 writable):
 * `level` says which conditions hold now, `pending` which events were raised
 * and not yet consumed, `sticky` which stay pending when consumed (a pipe
 * whose writer has gone). Reporting an event (poll, or a wait that ends)
 * consumes it unless it is sticky or its condition still holds: readiness
 * stays pending while its level holds. Any number of threads may wait on a
 * part: each lists a waiter record (its trigger and the events it wants) on
 * the part for the length of its wait; raising an event signals the trigger
 * of every waiter that wants it, and each woken waiter looks at pending
 * again (one may find that another took the event first, and waits again).
 * An idle wait costs nothing, whatever the number of waiters.
 *
 * Blocking calls: read, write and the socket calls hold a reference on the
 * private part for the whole call and hand the class entry the call's own
 * copy of the descriptor record. A close from another thread meanwhile
 * removes the record and drops its reference at once; the part stays with
 * the call, whose release is then the last one: it runs the class's close
 * (on a stand-in record numbered -1) and frees the part.
 *
 * Adding a class: define a zel_linux_fd_op_t (private-part size and the six
 * entries; empty entries are allowed), make descriptors of it with
 * zel_linux_fd_create_ex, report readiness through the event operations, and
 * block with zel_linux_fd_wait. Socket classes extend the table by placing it
 * first in a larger one. */
#ifndef ZEL_LINUX_FD_H
#define ZEL_LINUX_FD_H

#include <stddef.h>
#include <stdint.h>

#include "zel_linux_libc.h"
#include "zel_linux_thread.h"
#include "zel_list.h"

#define ZEL_LINUX_FD_MAX 256

/* Event bits (the poll values POLLIN and POLLOUT). */
inline constexpr uint16_t ZEL_LINUX_EV_READ = 0x1;
inline constexpr uint16_t ZEL_LINUX_EV_WRITE = 0x2;
/* An error and a hang-up (POLLERR, POLLHUP; sockets and pipes raise them):
 * poll reports them whatever the entry asked for. */
inline constexpr uint16_t ZEL_LINUX_EV_ERR = 0x8;
inline constexpr uint16_t ZEL_LINUX_EV_HUP = 0x10;

/* errno of a call whose descriptor was closed while it waited. */
inline constexpr int ZEL_LINUX_FD_EBADF = 9;

/* A console descriptor's status flag that suppresses the echo. */
inline constexpr uint32_t ZEL_LINUX_O_NOECHO = 0x2000;

typedef struct zel_linux_fd zel_linux_fd_t;
typedef struct zel_linux_fd_priv zel_linux_fd_priv_t;

extern "C" {

/* The head of every private part. */
struct zel_linux_fd_priv {
    void *link;          /* for the class's use (a relay target) */
    uint32_t status;     /* open flags: O_WRONLY makes read fail, O_NONBLOCK */
    zel_dlist_t waiters; /* zel_linux_fd_waiter_t of the threads waiting on it */
    uint16_t level;
    uint16_t pending;
    uint16_t sticky;
    uint32_t refs; /* descriptors sharing this part */
};

/* A thread's wait on a part, on the waiting thread's stack. It is listed
 * from zel_linux_fd_waiter_add until zel_linux_fd_waiter_remove, or until a
 * removal of the part's descriptor takes it off (then `priv` is none). */
typedef struct zel_linux_fd_waiter {
    zel_dlist_node_t node;
    zel_linux_trig_t *trig;
    zel_linux_fd_priv_t *priv;
    uint16_t wanted;
} zel_linux_fd_waiter_t;

/* A descriptor class, seven entries in this order. */
typedef struct zel_linux_fd_op {
    uint32_t priv_size; /* bytes of the private part; 0: the bare head */
    int (*init)(zel_linux_fd_t *fd);
    int (*fcntl)(zel_linux_fd_t *fd, int command, uintptr_t arg);
    long (*read)(zel_linux_fd_t *fd, void *buffer, size_t count);
    long (*write)(zel_linux_fd_t *fd, const void *buffer, size_t count);
    int (*close)(zel_linux_fd_t *fd);
    int (*eof)(zel_linux_fd_t *fd);
} zel_linux_fd_op_t;

/* The stock entries of classes whose fcntl or close has nothing to do:
 * they answer 0. */
int zel_linux_fd_fcntl_zero(zel_linux_fd_t *fd, int command, uintptr_t arg);
int zel_linux_fd_close_zero(zel_linux_fd_t *fd);

/* The descriptor record; a FILE and a DIR of the layer are this record. */
struct zel_linux_fd {
    int32_t number;      /* first: the FILE's descriptor number */
    uint32_t fd_flags;   /* F_GETFD / F_SETFD (FD_CLOEXEC 1) */
    uint32_t call_flags; /* cleared before each read and write */
    const zel_linux_fd_op_t *op;
    zel_dlist_node_t node; /* in the process's descriptor list */
    int32_t ungot;         /* pushed-back character of the FILE, -1 none */
    zel_linux_fd_priv_t *priv;
};

/* A descriptor of the process (null: current). Private part: `shared` with
 * one more reference, or a new zeroed one of the class's size. Number: the
 * lowest free one when negative, else exactly that one, which must be free.
 * Answers the number, or -1 (errno 12 only when the record cannot be
 * allocated); a failure changes nothing. */
[[nodiscard]] int zel_linux_fd_create_ex(zel_linux_process_t *process, zel_linux_fd_t **out,
    const zel_linux_fd_op_t *op, int number, zel_linux_fd_priv_t *shared);
[[nodiscard]] int zel_linux_fd_create(zel_linux_fd_t **out, const zel_linux_fd_op_t *op);
zel_linux_fd_t *zel_linux_fd_get(int number);
zel_linux_fd_t *zel_linux_fd_get_in_process(zel_linux_process_t *process, int number);
/* Removes the record only; the private part is the close path's. The
 * part's waiters are taken off and woken (they look again). */
void zel_linux_fd_delete_in_process(zel_linux_process_t *process, int number);
void zel_linux_fd_delete(int number);
/* Releases a private part that no descriptor refers to any more (waiters
 * still listed are taken off and woken). */
void zel_linux_fd_priv_free(zel_linux_fd_priv_t *priv);
/* A blocking call's reference on the private part (see above). The last
 * release runs the class's close and frees the part. */
void zel_linux_fd_hold(zel_linux_fd_priv_t *priv);
void zel_linux_fd_release(zel_linux_fd_priv_t *priv, const zel_linux_fd_op_t *op);

/* A call's hold, listed on the calling layer thread, so that a thread that
 * exec restarts in a wait of the call (the call never returns) gives its
 * holds back. The end of a call is a restart point of its thread. */
typedef struct zel_linux_fd_hold_rec {
    zel_dlist_node_t node;
    zel_linux_thread_t *thread; /* none: the caller is not a layer thread */
    zel_linux_fd_priv_t *priv;
    const zel_linux_fd_op_t *op;
} zel_linux_fd_hold_rec_t;
void zel_linux_fd_call_begin(zel_linux_fd_hold_rec_t *hold, zel_linux_fd_priv_t *priv, const zel_linux_fd_op_t *op);
void zel_linux_fd_call_end(zel_linux_fd_hold_rec_t *hold);
/* Releases every hold of the thread (it is restarted, not returning). */
void zel_linux_fd_drop_holds(zel_linux_thread_t *thread);

/* ---- events ---- */
/* Thread side: raise. */
void zel_linux_fd_set_events(zel_linux_fd_priv_t *priv, uint16_t events);
/* Interrupt side (and every stream path): only conditions that did not hold
 * already raise an event. */
void zel_linux_fd_set_events_isr(zel_linux_fd_priv_t *priv, uint16_t events);
/* Consume the events and end their conditions. */
void zel_linux_fd_clear_events(zel_linux_fd_priv_t *priv, uint16_t events);
/* Consume without touching the conditions. */
void zel_linux_fd_consume_events(zel_linux_fd_priv_t *priv, uint16_t events);
/* Report `ready` (pending events): they leave pending unless they are
 * sticky or their condition still holds. */
void zel_linux_fd_report_events(zel_linux_fd_priv_t *priv, uint16_t ready);
/* Lists / unlists a waiter (see the record). */
void zel_linux_fd_waiter_add(
    zel_linux_fd_priv_t *priv, zel_linux_fd_waiter_t *waiter, zel_linux_trig_t *trig, uint16_t wanted);
void zel_linux_fd_waiter_remove(zel_linux_fd_waiter_t *waiter);
/* Waiters listed on the part now. */
uint32_t zel_linux_fd_waiter_count(const zel_linux_fd_priv_t *priv);
/* Takes every waiter off the part whose trigger is `trig`. */
void zel_linux_fd_waiters_drop_trig(zel_linux_fd_priv_t *priv, const zel_linux_trig_t *trig);
/* Waits until one of the events is pending, reports and answers it; 0 when
 * the wait was interrupted. `trig` is the caller's (initialised). A wake
 * without an event (a close of one of the part's descriptors) looks again. */
uint16_t zel_linux_fd_pend_events(zel_linux_fd_priv_t *priv, uint16_t events, zel_linux_trig_t *trig);
/* The same for a call made through `fd`, with a trigger of its own; besides,
 * the wait ends once the descriptor's number no longer names this part in the
 * current process (closed meanwhile): 0 with errno ZEL_LINUX_FD_EBADF. A
 * record numbered -1 (a pipe end private to a socket) has no number to
 * close. */
uint16_t zel_linux_fd_wait(const zel_linux_fd_t *fd, uint16_t events);

/* ---- calls ----
 * read, write and poll are declared in zel_linux_libc.h. poll with a
 * negative timeout waits without end, with no entries it is a sleep, and
 * it answers -1 only when the calling thread's process ends meanwhile (errno
 * 9; exec restarts the thread instead). The loop itself takes its timeout in system-timer
 * ticks (-1 none). */
int zel_linux_poll_core(zel_linux_pollfd *entries, zel_linux_nfds_t count, int64_t timeout);

}  // extern "C"

#ifdef __cplusplus
/* A read or write entry's call: holds the private part for the length of a
 * scope and gives the entry a copy of the record that a close meanwhile
 * cannot free. */
class zel_linux_fd_call {
public:
    explicit zel_linux_fd_call(const zel_linux_fd_t *fd) : rec_(*fd) {
        zel_linux_fd_call_begin(&hold_, rec_.priv, rec_.op);
    }
    ~zel_linux_fd_call() { zel_linux_fd_call_end(&hold_); }
    zel_linux_fd_call(const zel_linux_fd_call &) = delete;
    zel_linux_fd_call &operator=(const zel_linux_fd_call &) = delete;
    zel_linux_fd_t *rec() { return &rec_; }

private:
    zel_linux_fd_t rec_;
    zel_linux_fd_hold_rec_t hold_;
};
#endif

#endif

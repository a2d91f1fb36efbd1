/* Threads of the Linux-emulation layer, wait triggers and errno.
 *
 * Every thread of an emulated process, its main thread included, is a
 * zel_linux_thread_t: a framework thread followed by what the layer needs.
 * Agents and framework threads that the layer did not create (the first
 * thread, tests' threads) are not layer threads: for them
 * zel_linux_get_cur_thread() answers null, the current process is the kernel
 * process (or the init process) and errno is one static word.
 *
 * A thread is created, started, runs its class's entry, ends (the class's
 * on-exit runs as the agent's on-terminate) and is freed by its joiner, by
 * its on-exit when it is detached or its process has let go of it, or by
 * the join that its process's exit makes. */
#ifndef ZEL_LINUX_THREAD_H
#define ZEL_LINUX_THREAD_H

#include <stddef.h>
#include <stdint.h>

#include "zel_linux_libc.h"
#include "zel_list.h"
#include "zel_sync.h"
#include "zel_thread.h"

extern "C" {

#define ZEL_LINUX_STACK_DEFAULT 131072u

/* The exit status of a process whose main thread could not be started. */
#define ZEL_LINUX_START_FAILED 127

typedef struct zel_linux_process zel_linux_process_t;

typedef struct zel_linux_thread zel_linux_thread_t;
struct zel_linux_trig;

/* A thread class: bytes after the record, entry, on-exit. */
typedef struct zel_linux_thread_op {
    size_t extra;
    int (*entry)(zel_linux_thread_t *thread);
    void (*on_exit)(zel_eda_t *agent);
} zel_linux_thread_op_t;

struct zel_linux_thread {
    zel_thread_t thread;             /* first: the framework thread */
    const zel_linux_thread_op_t *op; /* null once the thread has ended */
    int32_t err;                     /* errno */
    uintptr_t exit_value;            /* result of the entry; join and waitpid mailbox */
    uint32_t tid;
    zel_linux_thread_t *joiner;
    zel_linux_process_t *process;   /* null once the process has let go */
    zel_dlist_node_t node;          /* in the process's thread or detached list */
    uint8_t detached;               /* in the detached list: freed when it ends */
    uint8_t restarting;             /* exec asked for its restart: it restarts at its next restart point */
    uint8_t parked;                 /* in a wait that a wake (266) ends: join, waitpid, mutex, exec */
    uint8_t left;                   /* a main thread gone with pthread_exit (ZEL_LINUX_LEFT_...) */
    struct zel_linux_trig *waiting; /* the trigger it waits on now, none otherwise */
    zel_dlist_t holds;              /* descriptor parts its calls hold (zel_linux_fd_hold_rec_t) */
    void *wait_context;             /* set: its trigger waits run the wait hook (zel_linux_set_wait_hook) */

    /* The start: how it went. */
    uint8_t entered;      /* its host thread has run its entry */
    uint8_t start_failed; /* its host thread could not be created: it never ran */
    uint8_t restart_due;  /* exec restarts it on a new host thread, which has not run yet */
    /* the class's extra bytes follow (16-byte aligned) */
};

/* A main thread that called pthread_exit lives on until its process ends;
 * for joins it has ended: the first join takes its value at once, later
 * ones find it joined. */
#define ZEL_LINUX_LEFT 1
#define ZEL_LINUX_LEFT_JOINED 2

/* The two classes. */
extern const zel_linux_thread_op_t zel_linux_pthread_op;
extern const zel_linux_thread_op_t zel_linux_process_main_op;

static inline void *zel_linux_thread_extra(zel_linux_thread_t *thread) {
    return (char *)thread + ((sizeof(zel_linux_thread_t) + 15u) & ~(size_t)15u);
}

/* The calling thread when it is a layer thread, else null. */
zel_linux_thread_t *zel_linux_get_cur_thread(void);

/* A thread of the process (null: the current one), not started. The stack
 * size (0: the default) is rounded up to the framework's 4096-byte steps,
 * at least 8192; without a buffer the stack follows the record in the same
 * block. Null when memory runs out. */
zel_linux_thread_t *zel_linux_create_thread(
    zel_linux_process_t *process, const zel_linux_thread_op_t *op, uint32_t stack_size, void *stack_buffer);
/* Priority -1: the owning process's priority. Answers the framework's start
 * result: 0 when started. Called on a framework thread, it waits until the
 * thread's host thread runs its entry, and answers ZEL_ERR_NO_MEMORY when
 * that host thread could not be created: the thread has ended without
 * running (its record stays listed; the caller discards it). Called from an
 * agent, it cannot wait: a thread that then fails to start ends as if its
 * entry had returned, and a process main thread so ends its process with
 * the status ZEL_LINUX_START_FAILED. */
[[nodiscard]] int32_t zel_linux_start_thread(zel_linux_thread_t *thread, int32_t prio);
/* Frees a thread that was created and never started (it leaves its list). */
void zel_linux_discard_thread(zel_linux_thread_t *thread);
/* The joinable thread of the current process with that id, or null. */
zel_linux_thread_t *zel_linux_get_thread(uint32_t tid);
/* Takes the thread out of its process's joinable list: nobody joins it, it
 * is freed when it ends, and its process's exit still waits for it. */
void zel_linux_unlink_thread(zel_linux_thread_t *thread);
/* 0, or -1 when the current process has no such joinable thread (or it is
 * the caller, or another thread joins it already). */
[[nodiscard]] int zel_linux_thread_join(uint32_t tid, uintptr_t *value_out);
/* The same with the record (a thread of the current process). */
[[nodiscard]] int zel_linux_thread_join_record(zel_linux_thread_t *thread, uintptr_t *value_out);
/* The on-exit of both classes. */
void zel_linux_thread_on_exit(zel_eda_t *agent);

/* zel_linux_errno_ptr (zel_linux_libc.h) answers the address of the calling
 * thread's errno. */
static inline void zel_linux_set_errno(int value) { *zel_linux_errno_ptr() = value; }

/* ---- wait triggers ----
 * A thread that must wait for a descriptor event registers a trigger and
 * sleeps on it; whoever raises the event signals it. Signalling works from
 * threads, agents and emulated interrupts. */
typedef struct zel_linux_trig {
    zel_sync_t sync;              /* count 0, maximum 1 */
    zel_dlist_node_t node;        /* in the waiting process's wait queue */
    zel_linux_process_t *process; /* while a thread waits on it */
    uintptr_t result;
    /* The node of an interrupt-side signal's hand-over to the timer task,
     * taken when the wait begins (the waiter's thread holds the node of its
     * own wake), so that a signal from anywhere always reaches the waiter. */
    zel_evt_node_t *irq_node;
} zel_linux_trig_t;

void zel_linux_trig_init(zel_linux_trig_t *trig);
/* Does nothing when nobody waits; answers 0 (also for a waiter signalled
 * already). The wake needs no allocation: the waiter took what it needs when
 * it began to wait. */
int zel_linux_trig_signal(zel_linux_trig_t *trig, uintptr_t value);
/* Timeout in system-timer ticks: -1 for ever, 0 does not wait. Answers 1
 * when the timeout ran out, the signalled value when it is not 0 (errno 4),
 * else 0. A thread whose process is ending (another of its threads called
 * exit) or whose restart exec asked for no longer waits: it gets
 * ZEL_LINUX_TRIG_ENDED at once, with errno 9, and so does a waiter that the
 * exit or the exec wakes. The wait takes the event nodes of its wake before
 * it registers; while they cannot be had it registers nothing and looks
 * again every millisecond, until its timeout. */
uintptr_t zel_linux_trig_wait(zel_linux_trig_t *trig, int64_t timeout);
#define ZEL_LINUX_TRIG_ENDED ((uintptr_t)9)

/* The wait hook: called with `waiting` 1 when a thread that carries a wait
 * context begins a trigger wait that may block (a timeout other than 0), and
 * with 0 when that wait has ended, before the waiting call goes on; the
 * second call may itself wait. Every wait on a descriptor (read, write,
 * poll, the socket calls) is a trigger wait. The curl runner lets its image
 * go for the length of such waits. One hook; null removes it. */
typedef void (*zel_linux_wait_hook_t)(zel_linux_thread_t *self, int waiting);
void zel_linux_set_wait_hook(zel_linux_wait_hook_t hook);

/* Whether the thread's process ends under another thread's exit: then none
 * of its calls waits any more (they answer -1 with errno 9). */
bool zel_linux_thread_ending(const zel_linux_thread_t *thread);

/* Waits (as the calling layer thread) for the next event, marked as parked:
 * an exit or an exec of its process wakes it with 266. A thread whose
 * restart was asked for restarts here. Answers the event. */
uint16_t zel_linux_thread_park(zel_linux_thread_t *self);

/* Exec of another thread restarts `thread` (a main thread). The restart
 * itself happens in the thread, at a restart point, so that it never leaves
 * a call halfway: a wait of the thread ends as under an exit (its trigger
 * answers ZEL_LINUX_TRIG_ENDED, errno 9, and so does every later wait), its
 * call unwinds (withdrawing what it registered) and the call's end restarts
 * it; a call that does not wait (a file-system call, which may not be cut
 * short) finishes first. A thread parked in a join, waitpid, a lock or
 * pthread_exit is woken and restarts there. */
void zel_linux_thread_request_restart(zel_linux_thread_t *thread);

/* A restart point: when a restart of the calling thread was asked for, it
 * withdraws the trigger the thread waits on, if any (from its process's
 * wait queue, the private parts of the process's descriptors and the signal
 * waiters), gives back the parts its calls still hold and restarts the
 * thread at its class's entry; it does not return then. The end of every
 * descriptor and socket call, poll and every parked wait is one. */
void zel_linux_thread_restart_point(void);

}  // extern "C"

#endif

/* Delivery of a process's pending signals.
 *
 * A process keeps a pending and a blocked set of signals (bit n for signal
 * n), a list of handler records and a list of threads waiting for a signal.
 * Delivery runs as the entry of its own thread class: every pending signal
 * that is not blocked is taken, lowest first, and handed to its handler;
 * then every waiting thread learns the last signal and is woken. */
#ifndef ZEL_LINUX_SIGNAL_H
#define ZEL_LINUX_SIGNAL_H

#include <stdint.h>

#include "zel_linux_thread.h"

extern "C" {

#define ZEL_LINUX_SIG_DEFAULT ((uintptr_t)0) /* handler words with no function behind them */
#define ZEL_LINUX_SIG_IGNORE ((uintptr_t)1)
#define ZEL_LINUX_SA_SIGINFO 0x04 /* the handler takes (signal, info, context) */

/* What a handler that asked for it receives about the signal. */
typedef struct zel_linux_siginfo {
    int32_t signo;
    int32_t zero[3];
    uintptr_t thread; /* the thread the signal was delivered on */
    int32_t zero2;
} zel_linux_siginfo_t;

typedef void (*zel_linux_sig_fn_t)(int signal);
typedef void (*zel_linux_sig_info_fn_t)(int signal, zel_linux_siginfo_t *info, void *context);

typedef struct zel_linux_sig_handler {
    struct zel_linux_sig_handler *next;
    uint8_t signal;
    uint8_t flags;     /* ZEL_LINUX_SA_SIGINFO */
    uintptr_t handler; /* a function, or ZEL_LINUX_SIG_DEFAULT / ZEL_LINUX_SIG_IGNORE */
} zel_linux_sig_handler_t;

/* A thread waiting for a signal queues one of these on its process. */
typedef struct zel_linux_sig_waiter {
    zel_dlist_node_t node;
    int32_t signal;         /* set by the delivery */
    zel_linux_trig_t *trig; /* signalled by the delivery */
} zel_linux_sig_waiter_t;

/* Delivers the pending, unblocked signals of the thread's process and wakes
 * its signal waiters; answers 0. */
int zel_linux_deliver_signals(zel_linux_thread_t *thread);

/* The thread class whose entry is the delivery (nothing in the system
 * creates such a thread yet). */
extern const zel_linux_thread_op_t zel_linux_signal_op;

}  // extern "C"

#endif

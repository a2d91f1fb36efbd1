/* Threads: agents whose code runs on a host thread of its own
 * and blocks. Only one of the kernel's host thread and a framework thread
 * runs framework code at a time; a framework thread may call every kernel
 * operation as if it were a handler. */
#ifndef ZEL_THREAD_H
#define ZEL_THREAD_H

#include "zel_eda.h"
#include "zel_host.h"
#include "zel_sync.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_thread_rec zel_thread_rec_t;
/* The thread's code; its result is ignored. */
typedef int (*zel_thread_entry_t)(zel_thread_rec_t *rec);

#define ZEL_THREAD_STACK_MIN 8192u

/* The thread record. The caller owns it and keeps it alive until the agent's
 * on-terminate callback has run. */
struct zel_thread_rec {
    zel_thread_entry_t entry;
    uint32_t stack_size; /* >= 8192, multiple of 4096; the host stack is max(1 MiB, this) */
    void *stack;         /* checked by size only; not used on Linux */
    zel_host_thread_t host;
    zel_host_request_t own;    /* the thread waits here for its next event */
    zel_host_request_t *kwake; /* the kernel waits here while the thread runs */
    uint16_t last_evt;
    uint8_t started;
    uint8_t ended;    /* Linux port addition: the entry has returned */
    uint64_t resumed; /* Linux port addition: the tick at which the thread last got control */
};

/* A thread: its agent followed by its record. */
typedef struct zel_thread {
    zel_eda_t eda;
    zel_thread_rec_t rec;
} zel_thread_t;

typedef struct zel_thread_desc {
    zel_thread_entry_t entry;
    void *stack;
    uint32_t stack_size;
} zel_thread_desc_t;

static inline zel_thread_t *zel_thread_of(zel_thread_rec_t *rec) { return ZEL_CONTAINER_OF(rec, zel_thread_t, rec); }

/* Start: -17 stack below 8192, -18 not a multiple of 4096, -7 priority not
 * configured, -6 no frame; 0 when the first 257 is queued. */
[[nodiscard]] int32_t zel_thread_start(zel_eda_t *agent, zel_thread_rec_t *rec, int32_t prio);
void zel_thread_entry(zel_host_thread_t *host);
void zel_thread_exit(void) __attribute__((noreturn));
/* The record of the calling thread (valid on a thread's own host thread). */
zel_thread_rec_t *zel_thread_get_rec(void);

/* Blocking calls: valid only on a thread's own host thread. */
uint16_t zel_thread_wait(void);                 /* the next event, whatever it is */
uint16_t zel_thread_wait_for_evt(uint16_t evt); /* waits until `evt` arrives (0: any) */
void *zel_thread_wait_for_msg(void);
void *zel_thread_wait_for_evt_msg(void);
uint16_t zel_thread_delay(uint64_t ticks); /* 261, or the event that ended it early */
void zel_thread_yield(void);
/* A thread that has run for a turn (a millisecond) since it last got control
 * yields: the agents ready and the interrupt contexts waiting run before it
 * goes on. Sooner it does nothing. For code that calls on without ever
 * waiting (a loop of non-blocking calls), so that it never keeps the others
 * out. */
void zel_thread_give_turn(void);
/* The results of zel_sync_wait (-6 when no node for the wake could be had:
 * nothing was taken and the thread does not wait). */
[[nodiscard]] int32_t zel_thread_sync_decrease(zel_sync_t *sync, int64_t timeout);
[[nodiscard]] int32_t zel_thread_sync_increase(zel_sync_t *sync);
uint8_t zel_thread_set_priority(uint8_t prio);
/* Runs `handler` as a sub-call of the thread and returns once it has
 * answered (its answer: zel_eda_get_return_value). While the kernel has
 * nothing else to dispatch, the sub-call's levels run on the calling host
 * thread; the first that waits hands the rest to the kernel. */
[[nodiscard]] int32_t zel_thread_call_param(
    zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size, uint32_t param_size, const void *params);
[[nodiscard]] int32_t zel_thread_call_fsm(zel_eda_fsm_handler_t handler, uintptr_t param, uint16_t local_size);
[[nodiscard]] int32_t zel_thread_call_thread(zel_thread_rec_t *rec, const zel_thread_desc_t *desc);
[[nodiscard]] int32_t zel_thread_prepare(zel_thread_rec_t *rec, const zel_thread_desc_t *desc);
[[nodiscard]] int32_t zel_eda_call_thread(zel_thread_rec_t *rec);
uint16_t zel_yield(void);

#ifdef __cplusplus
}
#endif

#endif

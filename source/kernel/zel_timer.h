/* Timers and the timer task. One tick is 100 ns; 10000 ticks
 * make a millisecond (zel_timer_ms_to_tick). */
#ifndef ZEL_TIMER_H
#define ZEL_TIMER_H

#include "zel_eda.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_callback_timer zel_callback_timer_t;
typedef void (*zel_callback_timer_fn_t)(zel_callback_timer_t *timer);

struct zel_callback_timer {
    zel_callback_timer_fn_t callback;
    uintptr_t user; /* not touched by the kernel */
    zel_dlist_node_t node;
    uint64_t due; /* 0 while not armed */
    /* Linux port addition: where the timer is (0 nowhere, 1 timer queue,
     * 2 due list, 3 its 267 is on the way to the timer task). */
    uint8_t where;
};

[[nodiscard]] int32_t zel_timer_init(void);
void zel_kernel_lists_init(uint32_t timer_task_prio);
void zel_timer_on_tick(void);
uint64_t zel_timer_get_tick(void);
uint64_t zel_timer_get_elapsed(uint64_t start);
/* Ticks in `ms` milliseconds, and the system timer's tick in whole
 * milliseconds (the time since it started counting). */
uint64_t zel_timer_ms_to_tick(uint32_t ms);
uint64_t zel_timer_get_ms(void);
zel_eda_t *zel_timer_task(void);
void zel_timer_task_evthandler(zel_eda_t *agent, zel_evt_t evt);

/* Agent timers: event 261 to the agent. Arming an armed timer re-arms it;
 * arming drops a 261 of an earlier arming that is still queued, so each
 * arming gives one 261, at or after its due tick. */
[[nodiscard]] int32_t zel_eda_set_timer(uint64_t ticks); /* -4 for 0 ticks */
[[nodiscard]] int32_t zel_eda_set_timer_ex(zel_eda_t *agent, uint64_t ticks);
[[nodiscard]] int32_t zel_eda_cancel_timer(void); /* also drops a pending 261 */
[[nodiscard]] int32_t zel_eda_cancel_timer_ex(zel_eda_t *agent);
zel_eda_t *zel_eda_set_timeout(zel_eda_t *agent, int64_t timeout);
void zel_eda_timer_add(zel_eda_t *agent, uint64_t due);
/* Thread or agent. Returns 261, the waking event, or 65535
 * (in progress, agent form). */
uint16_t zel_delay(uint32_t ticks);

/* Callback timers. Their callbacks run in the timer task; when it cannot be
 * woken for them (no event node), it comes back a millisecond later. */
zel_callback_timer_t *zel_callback_timer_init(zel_callback_timer_t *timer);
[[nodiscard]] int32_t zel_callback_timer_add(zel_callback_timer_t *timer, uint64_t ticks);     /* -7 when armed */
[[nodiscard]] int32_t zel_callback_timer_add_isr(zel_callback_timer_t *timer, uint64_t ticks); /* interrupt side */
[[nodiscard]] int32_t zel_callback_timer_remove(zel_callback_timer_t *timer);
[[nodiscard]] int32_t zel_callback_timer_remove_isr(zel_callback_timer_t *timer);

/* Events 268 and 269 of the timer task (queues) call these hooks
 * with the message; set by the queue code. A hook answers -6 when the wake
 * it owes found no event node and it changed nothing: the timer task keeps
 * the request and calls the hook again a millisecond later, as it does with
 * a 265 whose signal fails for the same reason. */
typedef int32_t (*zel_timer_task_hook_t)(void *msg);
void zel_timer_set_task_hook(zel_evt_t evt, zel_timer_task_hook_t hook);

#ifdef __cplusplus
}
#endif

#endif

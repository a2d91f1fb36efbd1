// Kernel-private declarations shared by the kernel's own files.
#ifndef ZEL_KERNEL_INTERNAL_H
#define ZEL_KERNEL_INTERNAL_H

#include "zel_eda.h"
#include "zel_host.h"

// The kernel's configuration: priority entries, event-node and frame pools.
typedef struct zel_kernel_cfg {
    uint32_t timer_task_prio;
    zel_evtq_t *entries;
    void *evt_node_buf;
    uint16_t evt_node_count;
    uint16_t prio_count;  // priorities 0 .. count-1; a higher number runs first
    void *frame_buf;
    uint16_t frame_count;
} zel_kernel_cfg_t;

extern "C" {

// ---- kernel start-up and the scheduler loop ----
int32_t zel_kernel_init(void);
void zel_kernel_run_prio(uint8_t prio);
void zel_kernel_idle(void);
int32_t zel_kernel_start_main_thread(void);
/* The first thread's record: its refused start is reported by the kernel
 * itself, as the line that ends the program. */
bool zel_kernel_is_main_thread(const struct zel_thread_rec *rec);
const zel_kernel_cfg_t *zel_kernel_get_cfg(void);
void zel_assert(uint32_t code);
void zel_empty_hook(void);
bool zel_return_true(void);
void zel_driver_init(void);

// ---- event nodes and frame pools ----
zel_evt_node_t *zel_evt_node_alloc(void);
void zel_evt_node_free(zel_evt_node_t *node);
struct zel_pool;
struct zel_pool *zel_kernel_evt_node_pool(void);
struct zel_pool *zel_kernel_frame_pool(void);
void *zel_eda_frame_pool_alloc(struct zel_pool *pool);
void zel_eda_frame_pool_free(struct zel_pool *pool, void *item);

// ---- posting inside the kernel (the rules of zel_eda_post_evt_msg_ex) ----
int32_t zel_evtq_post_evt(zel_eda_t *agent, zel_evt_t evt);
int32_t zel_evtq_post_evt_msg(zel_eda_t *agent, zel_evt_t evt, void *msg);
int32_t zel_evtq_post_evt_ex(zel_eda_t *agent, zel_evt_t evt, bool force);
int32_t zel_eda_post_msg_ex(zel_eda_t *agent, void *msg);
int32_t zel_thread_post_evt(zel_eda_t *agent, zel_evt_t evt);

// ---- agents and priority entries ----
int32_t zel_eda_init_ex(zel_eda_t *agent, const zel_eda_start_rec_t *rec);
zel_eda_t *zel_thread_get_cur(void);
zel_evtq_t *zel_evtq_get(int32_t prio);
uint8_t zel_evtq_get_prio(zel_evtq_t *entry);
bool zel_evtq_is_empty(zel_dlist_t *ready);
zel_evtq_t *zel_evtq_set_cur(zel_evtq_t *entry);
void zel_evtq_init(zel_evtq_t *entry);
int32_t zel_evtq_poll(zel_evtq_t *entry);
void zel_eda_dispatch(zel_eda_t *agent, zel_evt_t evt);
// What zel_eda_step_here did.
enum { ZEL_EDA_HERE_NOT = 0, ZEL_EDA_HERE_RAN = 1, ZEL_EDA_HERE_OWN = 2 };
// Called by a framework thread on its own host thread while the kernel, in
// the dispatch of the thread's agent `agent`, waits for it to hand back:
// takes the agent's next event when the kernel would dispatch it next anyway
// (no other agent ready, no interrupt context due to be let in). An event
// for a sub-call's level is dispatched here (HERE_RAN); one for the level
// whose frame has `own_handler` and `own_param` (the thread's own) lands in
// `*own_evt` (HERE_OWN), as the kernel would have handed it over. HERE_NOT:
// nothing taken; the thread hands back and the kernel goes on as usual.
int zel_eda_step_here(zel_eda_t *agent, zel_eda_frame_handler_t own_handler, uintptr_t own_param, zel_evt_t *own_evt);
int32_t zel_evtq_set_priority(zel_evtq_t *entry, uint8_t prio);
void zel_eda_reset_evts(zel_eda_t *agent);
void zel_eda_finish(zel_eda_t *agent);
void zel_eda_on_terminate(zel_eda_t *agent);

// ---- reserve nodes of agents ----
// The node for a wake of `agent` from a waiter list: the one the agent holds
// (the slot is then empty), else a new one; null when neither is there.
zel_evt_node_t *zel_eda_take_wake_node(zel_eda_t *agent);
// Makes sure the agent holds its wake node before it joins a waiter list: 0, or -6.
int32_t zel_eda_reserve_wake(zel_eda_t *agent);
// A node for the running agent's own use: a new one, else one of its reserve
// (its handler then runs without it until its next event refills it).
zel_evt_node_t *zel_eda_spare_node(zel_eda_t *agent);

// ---- waiter lists ----
// Links the agent's wait node before `before` in `list`. Under protection.
void zel_eda_wait_insert_before(zel_dlist_t *list, zel_dlist_node_t *before, zel_eda_t *agent);
bool zel_eda_is_waiting(zel_eda_t *agent);
void zel_eda_set_waiting(zel_eda_t *agent, bool on);

// ---- call frames ----
void *zel_eda_get_frame_locals(zel_eda_t *agent);
int32_t zel_eda_call_prepare(zel_eda_frame_handler_t handler, uintptr_t param, uint32_t flags, bool push);
int32_t zel_eda_call_start(zel_eda_frame_handler_t handler, uintptr_t param, uint32_t flags, bool push);
int32_t zel_eda_push_frame(zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size);
int32_t zel_eda_call_frame(zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size);
int32_t zel_eda_goto_param(zel_eda_frame_handler_t handler, uintptr_t param);
zel_eda_frame_t *zel_eda_frame_alloc(uint16_t local_size);
void zel_eda_frame_free(zel_eda_frame_t *frame);

}  // extern "C"

extern zel_evtq_t *g_zel_running;  // the running priority entry
extern zel_kernel_cfg_t g_zel_cfg;

static inline uint8_t zel_protect(void) { return zel_host_irq_disable(); }
static inline void zel_unprotect(uint8_t state) { zel_host_irq_restore(state); }

// Runs every priority above `entry`'s that has ready agents (dispatch-boundary preemption).
void zel_kernel_preempt(zel_evtq_t *entry);
// After each dispatch of `entry`: lets waiting interrupt contexts in, then
// preempts.
void zel_kernel_dispatch_boundary(zel_evtq_t *entry);

// Posts a node the caller has taken from the event-node pool and filled
// (event and message); the post rules of zel_eda_post_evt_msg_ex apply. The
// node is the agent's, or back in the pool when the post is refused (-7).
extern "C" int32_t zel_eda_post_node(zel_eda_t *agent, zel_evt_node_t *node, bool force);

// Posts 257 to the level just pushed on the current agent `a`; when that
// cannot be posted the pushed frame is popped again and the post's code
// (-6 or -7) returned, so the caller is not left waiting for a 260.
int32_t zel_eda_start_pushed(zel_eda_t *a);

// Timer queue: take the agent out when it is in it.
void zel_timer_remove_agent(zel_eda_t *agent);
// A bitmap event's notice (a 264 carrying the bitmap event as its message)
// was dropped with the agent that held it: the notice goes on from the head.
struct zel_bmpevt;
extern "C" void zel_bmpevt_notice_dropped(struct zel_bmpevt *bmpevt);
// Thread hook of zel_eda_fini: a frame of zel_thread_evthandler is freed.
void zel_thread_release(struct zel_thread_rec *rec);
extern "C" void zel_thread_evthandler(void *locals, zel_evt_t evt);

// Function pointer casts between handler kinds (through void(*)(void), which
// -Wcast-function-type accepts).
template <class To, class From>
static inline To zel_fn_cast(From f) {
    return reinterpret_cast<To>(reinterpret_cast<void (*)(void)>(f));
}

#endif

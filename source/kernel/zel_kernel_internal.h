// Kernel-private declarations shared by the kernel's own files.
#ifndef ZEL_KERNEL_INTERNAL_H
#define ZEL_KERNEL_INTERNAL_H

#include "zel_eda.h"
#include "zel_host.h"

extern zel_evtq_t *g_zel_running;  // the running priority entry
extern zel_kernel_cfg_t g_zel_cfg;

static inline uint8_t zel_protect(void) { return zel_host_irq_disable(); }
static inline void zel_unprotect(uint8_t state) { zel_host_irq_restore(state); }

// Runs every priority above `entry`'s that has ready agents (dispatch-boundary preemption).
void zel_kernel_preempt(zel_evtq_t *entry);

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

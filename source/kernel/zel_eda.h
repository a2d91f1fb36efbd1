/* Agents, events and call frames. */
#ifndef ZEL_EDA_H
#define ZEL_EDA_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "zel_list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- events ---- */
typedef uint16_t zel_evt_t; /* 65535 (-1) reads "no event" */

enum {
    ZEL_EVT_NONE = 0xFFFF,
    ZEL_EVT_CONTINUE = 1,   /* yield; dropped while another event is pending */
    ZEL_EVT_INIT = 257,     /* start, sub-call start, restart */
    ZEL_EVT_RETURN = 260,   /* a sub-call returned */
    ZEL_EVT_TIMER = 261,    /* the agent's timer expired */
    ZEL_EVT_SYNC = 262,     /* a sync object or queue signalled the agent */
    ZEL_EVT_CANCEL = 263,   /* a sync object, queue or bitmap event was cancelled */
    ZEL_EVT_BMPEVT = 264,   /* a bitmap event changed */
    ZEL_EVT_MSG = 265,      /* message: the event carries a pointer */
    ZEL_EVT_WAKE = 266,     /* general wake/done */
    ZEL_EVT_TIMER_ADD = 267,/* timer task only */
    ZEL_EVT_QUEUE_RX = 268, /* timer task only */
    ZEL_EVT_QUEUE_TX = 269  /* timer task only */
};

/* Results of the kernel calls. */
enum {
    ZEL_ERR_ZERO_TIMEOUT = -4,
    ZEL_ERR_NO_MEMORY = -6,
    ZEL_ERR_STATE = -7,
    ZEL_ERR_SYNC_MAX = -15,
    ZEL_ERR_STACK_SMALL = -17,
    ZEL_ERR_STACK_ALIGN = -18
};

typedef struct zel_evt_node {
    struct zel_evt_node *next;
    uint32_t evt;
    void *msg;
} zel_evt_node_t;

typedef struct zel_eda zel_eda_t;

/* Handler kinds. */
typedef void (*zel_eda_evthandler_t)(zel_eda_t *agent, zel_evt_t evt);  /* plain */
typedef void (*zel_eda_frame_handler_t)(void *locals, zel_evt_t evt);    /* frame */
typedef int (*zel_eda_fsm_handler_t)(void *locals, zel_evt_t evt);       /* state machine */
typedef void (*zel_eda_on_terminate_t)(zel_eda_t *agent);

/* Call frame: this header, then the locals, then the guard. */
typedef struct zel_eda_frame {
    union {
        struct zel_eda_frame *frame;  /* the caller's frame */
        zel_eda_evthandler_t plain;   /* first frame: the agent's plain handler */
    } next;
    zel_eda_frame_handler_t handler;
    uint8_t features;     /* saved feature byte */
    uint16_t local_size;  /* rounded to a multiple of 4 */
    /* The event node of the 260 that this level's return posts to its caller,
     * taken when the frame is made, so that a return always reaches it. */
    struct zel_evt_node *ret_evt;
    void *spare;          /* keeps the locals 16-byte aligned */
    uintptr_t param;      /* the word just before the locals */
} zel_eda_frame_t;

#define ZEL_EDA_FRAME_GUARD 0xDEADBEEFu

static inline void *zel_eda_frame_locals_of(zel_eda_frame_t *frame) { return (void *)(frame + 1); }
/* In a frame handler called with its locals: the frame's parameter word. */
static inline uintptr_t zel_eda_locals_param(const void *locals) { return ((const uintptr_t *)locals)[-1]; }

/* State byte. */
enum {
    ZEL_EDA_ST_QUEUED = 0x01,
    ZEL_EDA_ST_PRIO_CHANGE = 0x02,
    ZEL_EDA_ST_FINISH = 0x04,
    ZEL_EDA_ST_LIMITED = 0x08,
    ZEL_EDA_ST_SYNC_WAKE = 0x10,
    ZEL_EDA_ST_TIMER = 0x20
};
/* Feature byte. */
enum {
    ZEL_EDA_FEAT_FRAMES = 0x01,
    ZEL_EDA_FEAT_THREAD = 0x02,
    ZEL_EDA_FEAT_FSM = 0x04
};

typedef struct zel_evt_list {
    zel_evt_node_t *head;
    zel_evt_node_t *tail;
} zel_evt_list_t;

/* The agent. The caller owns it and keeps it alive until its on-terminate
 * callback has run (or for the life of the process). Zero it before the
 * first start. */
struct zel_eda {
    zel_eda_on_terminate_t on_terminate;
    union {
        zel_eda_evthandler_t plain;  /* no frames */
        zel_eda_frame_t *frame;      /* feature bit 0: the top frame */
    } handler;
    uintptr_t ret;                   /* return word of the last sub-call */
    zel_dlist_node_t wait_node;      /* in at most one waiter list */
    zel_dlist_node_t ready_node;
    zel_evt_list_t pending;
    uint8_t prio;
    uint8_t new_prio;
    uint8_t base_prio;
    uint8_t fsm_result;
    uint8_t evt_pending;
    uint8_t state;
    uint8_t features;                /* bits 3-7: the user state */
    uint64_t *cpu_time;
    zel_dlist_node_t timer_node;
    uint64_t due;
    /* Linux port addition: the waiter list that holds wait_node (none when
     * not waiting), so that fini, restart and an ended wait can unlink it. */
    zel_dlist_t *wait_list;
};

/* A priority entry: one ready queue per priority. */
typedef struct zel_evtq {
    zel_dlist_t ready;
    zel_eda_t *cur_agent;
    uint16_t cur_evt;
    void *cur_msg;
    uint64_t preempt;
    uint8_t measuring;
} zel_evtq_t;

/* Start record of zel_eda_start_ex. With features bit 0 (or a parameter, or
 * bit 2) `handler` is a frame (or state-machine) handler, else a plain one. */
typedef struct zel_eda_start_rec {
    zel_eda_frame_handler_t handler;
    zel_eda_on_terminate_t on_terminate;
    uint32_t prio;       /* 0xFFFFFFFF: the running priority */
    uint8_t features;
    uint16_t local_size;
    uintptr_t param;
} zel_eda_start_rec_t;

/* ---- kernel ---- */
#define ZEL_KERNEL_MAX_PRIO 8
typedef struct zel_kernel_cfg {
    uint32_t timer_task_prio;
    zel_evtq_t *entries;
    void *evt_node_buf;
    uint16_t evt_node_count;
    uint16_t prio_count;  /* priorities 0 .. count-1; a higher number runs first */
    void *frame_buf;
    uint16_t frame_count;
} zel_kernel_cfg_t;

void zel_kernel_main(void) __attribute__((noreturn));
/* The same with another priority count (1 .. ZEL_KERNEL_MAX_PRIO); for tests. */
void zel_kernel_main_prio(uint16_t prio_count) __attribute__((noreturn));
int32_t zel_kernel_init(void);
void zel_kernel_run_prio(uint8_t prio);
void zel_kernel_idle(void);
int32_t zel_kernel_start_main_thread(void);
const zel_kernel_cfg_t *zel_kernel_get_cfg(void);
void zel_assert(uint32_t code);
void zel_empty_hook(void);
bool zel_return_true(void);
void zel_driver_init(void);
/* The application's entry, run by the first thread (app/ or tests/support). */
int app_main(void);

zel_evt_node_t *zel_evt_node_alloc(void);
void zel_evt_node_free(zel_evt_node_t *node);
struct zel_pool;
struct zel_pool *zel_kernel_evt_node_pool(void);
struct zel_pool *zel_kernel_frame_pool(void);
void *zel_eda_frame_pool_alloc(struct zel_pool *pool);
void zel_eda_frame_pool_free(struct zel_pool *pool, void *item);

/* ---- posting (0, -6 no event node, -7 refused) ----
 * Refused: an agent that is queued and waits with a timeout (state bit 3)
 * takes only forced posts; a finished agent takes none until it is started
 * again. */
int32_t zel_eda_post_evt_msg_ex(zel_eda_t *agent, zel_evt_t evt, void *msg, bool force);
int32_t zel_evtq_post_evt(zel_eda_t *agent, zel_evt_t evt);
int32_t zel_evtq_post_evt_msg(zel_eda_t *agent, zel_evt_t evt, void *msg);
int32_t zel_evtq_post_evt_ex(zel_eda_t *agent, zel_evt_t evt, bool force);
int32_t zel_eda_post_evt(zel_eda_t *agent, zel_evt_t evt);
int32_t zel_eda_post_msg(zel_eda_t *agent, void *msg);
int32_t zel_eda_post_evt_msg(zel_eda_t *agent, zel_evt_t evt, void *msg);
int32_t zel_eda_post_msg_ex(zel_eda_t *agent, void *msg);
int32_t zel_thread_post_evt(zel_eda_t *agent, zel_evt_t evt);

/* ---- life cycle ---- */
int32_t zel_eda_start(zel_eda_t *agent, int32_t prio, uint8_t features);
int32_t zel_eda_start_ex(zel_eda_t *agent, const zel_eda_start_rec_t *rec);
int32_t zel_eda_init_ex(zel_eda_t *agent, const zel_eda_start_rec_t *rec);
int32_t zel_eda_fini(zel_eda_t *agent);
int32_t zel_eda_set_evthandler(zel_eda_t *agent, zel_eda_evthandler_t handler);
int32_t zel_eda_restart(zel_eda_evthandler_t handler);

/* ---- context queries ---- */
zel_eda_t *zel_eda_get_cur(void);
zel_eda_t *zel_thread_get_cur(void);
uint16_t zel_eda_get_cur_evt(void);
void *zel_eda_get_cur_msg(void);
uint8_t zel_eda_get_prio(zel_eda_t *agent);
bool zel_eda_is_thread(zel_eda_t *agent);
void zel_eda_yield(void);
void zel_eda_clear_evt(uint16_t evt);
/* The same for a given agent (0 drops every pending event). */
void zel_eda_clear_evt_of(zel_eda_t *agent, uint16_t evt);

/* ---- priority ---- */
int32_t zel_eda_change_prio(zel_eda_t *agent, uint8_t prio); /* -7 when prio >= count */
zel_evtq_t *zel_evtq_get(int32_t prio);
uint8_t zel_evtq_get_prio(zel_evtq_t *entry);
bool zel_evtq_is_empty(zel_dlist_t *ready);
zel_evtq_t *zel_evtq_get_cur(void);
zel_evtq_t *zel_evtq_set_cur(zel_evtq_t *entry);
void zel_evtq_init(zel_evtq_t *entry);
int32_t zel_evtq_poll(zel_evtq_t *entry);
void zel_eda_dispatch(zel_eda_t *agent, zel_evt_t evt);
int32_t zel_evtq_set_priority(zel_evtq_t *entry, uint8_t prio);
void zel_eda_reset_evts(zel_eda_t *agent);
void zel_eda_finish(zel_eda_t *agent);
void zel_eda_on_terminate(zel_eda_t *agent);

/* ---- waiter lists ----
 * Link the agent's wait node at the tail of `list` / before `before`, and
 * unlink it from whatever list holds it (nothing when none). Under protection. */
void zel_eda_wait_append(zel_dlist_t *list, zel_eda_t *agent);
void zel_eda_wait_insert_before(zel_dlist_t *list, zel_dlist_node_t *before, zel_eda_t *agent);
void zel_eda_wait_leave(zel_eda_t *agent);
static inline zel_eda_t *zel_eda_of_wait_node(zel_dlist_node_t *node) {
    return ZEL_CONTAINER_OF(node, zel_eda_t, wait_node);
}

/* ---- call frames and sub-calls ----
 * Every frame holds the event node of the 260 that its return posts, so a
 * started sub-call always returns to its caller. A sub-call that cannot be
 * started (no frame or node: -6; its 257 refused: -7) leaves nothing pushed. */
int32_t zel_eda_call_param(zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size,
                           uint32_t param_size, const void *params);
bool zel_eda_return(uintptr_t result);
uintptr_t zel_eda_get_return_value(void);
uint8_t zel_eda_get_state(void);
void zel_eda_set_state(uint8_t state);
bool zel_eda_is_waiting(zel_eda_t *agent);
void zel_eda_set_waiting(zel_eda_t *agent, bool on);
int32_t zel_eda_frame_set_param(uintptr_t param);
uintptr_t zel_eda_get_frame_param(void);
void *zel_eda_get_frame_locals(zel_eda_t *agent);
int32_t zel_eda_call_prepare(zel_eda_frame_handler_t handler, uintptr_t param, uint32_t flags, bool push);
int32_t zel_eda_call_start(zel_eda_frame_handler_t handler, uintptr_t param, uint32_t flags, bool push);
int32_t zel_eda_call_fsm(zel_eda_fsm_handler_t handler, uintptr_t param, uint16_t local_size);
int32_t zel_eda_push_frame(zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size);
int32_t zel_eda_call_frame(zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size);
int32_t zel_eda_goto_param(zel_eda_frame_handler_t handler, uintptr_t param);
zel_eda_frame_t *zel_eda_frame_alloc(uint16_t local_size);
void zel_eda_frame_free(zel_eda_frame_t *frame);

/* The result word of a sub-call as a signed code. */
static inline intptr_t zel_eda_get_return_code(void) { return (intptr_t)zel_eda_get_return_value(); }

#ifdef __cplusplus
}
#endif

#endif

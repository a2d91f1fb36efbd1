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
    ZEL_EVT_CONTINUE = 1,    /* yield; dropped while another event is pending */
    ZEL_EVT_INIT = 257,      /* start, sub-call start, restart */
    ZEL_EVT_RETURN = 260,    /* a sub-call returned */
    ZEL_EVT_TIMER = 261,     /* the agent's timer expired */
    ZEL_EVT_SYNC = 262,      /* a sync object or queue signalled the agent */
    ZEL_EVT_CANCEL = 263,    /* a sync object, queue or bitmap event was cancelled */
    ZEL_EVT_BMPEVT = 264,    /* a bitmap event changed */
    ZEL_EVT_MSG = 265,       /* message: the event carries a pointer */
    ZEL_EVT_WAKE = 266,      /* general wake/done */
    ZEL_EVT_TIMER_ADD = 267, /* timer task only */
    ZEL_EVT_QUEUE_RX = 268,  /* timer task only */
    ZEL_EVT_QUEUE_TX = 269   /* timer task only */
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
typedef void (*zel_eda_evthandler_t)(zel_eda_t *agent, zel_evt_t evt); /* plain */
typedef void (*zel_eda_frame_handler_t)(void *locals, zel_evt_t evt);  /* frame */
typedef int (*zel_eda_fsm_handler_t)(void *locals, zel_evt_t evt);     /* state machine */
typedef void (*zel_eda_on_terminate_t)(zel_eda_t *agent);

/* Call frame: this header, then the locals, then the guard. */
typedef struct zel_eda_frame {
    union {
        struct zel_eda_frame *frame; /* the caller's frame */
        zel_eda_evthandler_t plain;  /* first frame: the agent's plain handler */
    } next;
    zel_eda_frame_handler_t handler;
    uint8_t features;    /* saved feature byte */
    uint16_t local_size; /* rounded to a multiple of 4 */
    /* The event node of the 260 that this level's return posts to its caller,
     * taken when the frame is made, so that a return always reaches it. */
    struct zel_evt_node *ret_evt;
    void *spare;     /* keeps the locals 16-byte aligned */
    uintptr_t param; /* the word just before the locals */
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
enum { ZEL_EDA_FEAT_FRAMES = 0x01, ZEL_EDA_FEAT_THREAD = 0x02, ZEL_EDA_FEAT_FSM = 0x04 };

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
        zel_eda_evthandler_t plain; /* no frames */
        zel_eda_frame_t *frame;     /* feature bit 0: the top frame */
    } handler;
    uintptr_t ret;              /* return word of the last sub-call */
    zel_dlist_node_t wait_node; /* in at most one waiter list */
    zel_dlist_node_t ready_node;
    zel_evt_list_t pending;
    uint8_t prio;
    uint8_t new_prio;
    uint8_t base_prio;
    uint8_t fsm_result;
    uint8_t evt_pending;
    uint8_t state;
    uint8_t features; /* bits 3-7: the user state */
    uint64_t *cpu_time;
    zel_dlist_node_t timer_node;
    uint64_t due;
    /* Linux port addition: the waiter list that holds wait_node (none when
     * not waiting), so that fini, restart and an ended wait can unlink it. */
    zel_dlist_t *wait_list;
    /* Event nodes the agent holds so that what ends its waits never has to
     * allocate: the node of the wake that ends a wait (spent by whoever
     * wakes it) and the node of its own yield's 1. Both are taken by the
     * start; the node of every event dispatched to the agent refills the one
     * that was spent; the finish gives them back. An agent in a waiter list
     * always holds its wake node (the wait is refused, -6, without it). */
    zel_evt_node_t *wake_node;
    zel_evt_node_t *yield_node;
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
    uint32_t prio; /* 0xFFFFFFFF: the running priority */
    uint8_t features;
    uint16_t local_size;
    uintptr_t param;
} zel_eda_start_rec_t;

/* ---- kernel ---- */
#define ZEL_KERNEL_MAX_PRIO 8

/* Starts the kernel on the calling host thread: its first thread runs the
 * application's entry; never returns. */
void zel_kernel_main(void) __attribute__((noreturn));
/* The same with another priority count (1 .. ZEL_KERNEL_MAX_PRIO); for tests. */
void zel_kernel_main_prio(uint16_t prio_count) __attribute__((noreturn));

/* ---- posting (0, -6 no event node, -7 refused) ----
 * Refused: an agent that is queued and waits with a timeout (state bit 3)
 * takes only forced posts; a finished agent takes none until it is started
 * again. */
/* Posts `evt` with `msg` to `agent`; `force` passes a timed wait's refusal. */
[[nodiscard]] int32_t zel_eda_post_evt_msg_ex(zel_eda_t *agent, zel_evt_t evt, void *msg, bool force);
/* Posts `evt` (no message) to `agent`. A 1 while the agent has an event
 * pending answers 0 and posts nothing; the pending mark is set only by a
 * post that went through, so a failed post leaves no mark behind. */
[[nodiscard]] int32_t zel_eda_post_evt(zel_eda_t *agent, zel_evt_t evt);
/* Posts a message (event 265) to `agent`. */
[[nodiscard]] int32_t zel_eda_post_msg(zel_eda_t *agent, void *msg);
/* Posts `evt` carrying `msg` to `agent`. */
[[nodiscard]] int32_t zel_eda_post_evt_msg(zel_eda_t *agent, zel_evt_t evt, void *msg);
/* Wakes `agent` with `evt` (and `msg`), as zel_eda_post_evt does, spending
 * the wake node the agent holds when it sits in no waiter list (where that
 * node belongs to the list's wake): a waiting agent is woken without an
 * allocation, so this answers -6 only when the agent was woken already and
 * has not run since, and nothing else is free. */
[[nodiscard]] int32_t zel_eda_wake(zel_eda_t *agent, zel_evt_t evt);
[[nodiscard]] int32_t zel_eda_wake_msg(zel_eda_t *agent, zel_evt_t evt, void *msg);

/* ---- reserved event nodes ----
 * A context that will be sent an event from a place that must not fail (an
 * interrupt, a completion, a release) takes the event's node beforehand into
 * a slot of its own and hands the slot to whoever sends the event. */
/* Takes a node into an empty slot: 0 (also when it holds one already), -6. */
[[nodiscard]] int32_t zel_evt_reserve(zel_evt_node_t **slot);
/* Gives an unspent node back; the slot is empty after it. */
void zel_evt_unreserve(zel_evt_node_t **slot);
/* Posts `evt` with `msg` to `agent` (the rules of zel_eda_post_evt_msg_ex),
 * with the slot's node when it holds one, else with a new node. The slot is
 * empty after a post; a refused one (-7) leaves the node in it. */
[[nodiscard]] int32_t zel_eda_post_reserved(
    zel_eda_t *agent, zel_evt_t evt, void *msg, bool force, zel_evt_node_t **slot);

/* ---- life cycle ---- */
/* Starts a zeroed (or finished) agent, its handler set beforehand, at
 * `prio` (-1: the running priority); posts 257 to it. A live agent starts
 * again: it leaves its wait, its timer and its pending events. Whole or not
 * at all: -6 (no event node) changes nothing; a live agent that holds its
 * wake node starts even when no other node can be had. */
[[nodiscard]] int32_t zel_eda_start(zel_eda_t *agent, int32_t prio, uint8_t features);
/* Starts an agent from a start record (frame, state-machine or plain handler). */
[[nodiscard]] int32_t zel_eda_start_ex(zel_eda_t *agent, const zel_eda_start_rec_t *rec);
/* Ends `agent` (NULL: the running one): its timer, wait, frames and events go; its on-terminate runs. */
[[nodiscard]] int32_t zel_eda_fini(zel_eda_t *agent);
/* Sets the plain handler of an agent that has no frames. */
[[nodiscard]] int32_t zel_eda_set_evthandler(zel_eda_t *agent, zel_eda_evthandler_t handler);
/* The running agent takes `handler` as its handler and gets 257, posted as
 * zel_eda_wake posts it; when it cannot be posted (-6, -7) the handler stays. */
[[nodiscard]] int32_t zel_eda_restart(zel_eda_evthandler_t handler);

/* ---- context queries ---- */
/* The agent whose handler runs now (none outside a handler). */
zel_eda_t *zel_eda_get_cur(void);
/* The event being handled. */
uint16_t zel_eda_get_cur_evt(void);
/* The message of the event being handled. */
void *zel_eda_get_cur_msg(void);
/* The agent's priority. */
uint8_t zel_eda_get_prio(zel_eda_t *agent);
/* Whether the agent is a thread's agent. */
bool zel_eda_is_thread(zel_eda_t *agent);
/* The running agent gets 1 (unless an event is pending): it runs again after
 * the others ready. The 1 is posted with the agent's yield node, so a
 * handler's yield always gets through. */
void zel_eda_yield(void);
/* Drops the running agent's pending events `evt` (0: every pending event). */
void zel_eda_clear_evt(uint16_t evt);
/* The same for a given agent (0 drops every pending event). */
void zel_eda_clear_evt_of(zel_eda_t *agent, uint16_t evt);
/* The running priority entry. */
zel_evtq_t *zel_evtq_get_cur(void);

/* ---- priority ---- */
/* Moves the agent to another priority (-7 when prio >= count). */
[[nodiscard]] int32_t zel_eda_change_prio(zel_eda_t *agent, uint8_t prio);

/* ---- waiter lists (under protection) ---- */
/* Links the agent's wait node at the tail of `list`. */
void zel_eda_wait_append(zel_dlist_t *list, zel_eda_t *agent);
/* Unlinks the agent's wait node from whatever list holds it (nothing when none). */
void zel_eda_wait_leave(zel_eda_t *agent);
/* The agent of a wait node. */
static inline zel_eda_t *zel_eda_of_wait_node(zel_dlist_node_t *node) {
    return ZEL_CONTAINER_OF(node, zel_eda_t, wait_node);
}

/* ---- sub-calls ----
 * Every frame holds the event node of the 260 that its return posts, so a
 * started sub-call always returns to its caller. A sub-call that cannot be
 * started (no frame or node: -6; its 257 refused: -7) leaves nothing pushed. */
/* Calls `handler` as a sub-call of the running agent with `local_size` bytes
 * of locals, the parameter word `param` and `param_size` bytes copied from `params`. */
[[nodiscard]] int32_t zel_eda_call_param(
    zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size, uint32_t param_size, const void *params);
/* Calls a state-machine handler as a sub-call. */
[[nodiscard]] int32_t zel_eda_call_fsm(zel_eda_fsm_handler_t handler, uintptr_t param, uint16_t local_size);
/* Returns `result` from the running level: the caller gets 260 (false);
 * an agent's own level finishes the agent (true). */
bool zel_eda_return(uintptr_t result);
/* The result word of the last sub-call that returned. */
uintptr_t zel_eda_get_return_value(void);
/* The running agent's user state (bits 3-7 of its feature byte). */
uint8_t zel_eda_get_state(void);
/* Sets the running agent's user state. */
void zel_eda_set_state(uint8_t state);
/* Sets the parameter word of the running frame. */
[[nodiscard]] int32_t zel_eda_frame_set_param(uintptr_t param);
/* The parameter word of the running frame. */
uintptr_t zel_eda_get_frame_param(void);

/* The result word of a sub-call as a signed code. */
static inline intptr_t zel_eda_get_return_code(void) { return (intptr_t)zel_eda_get_return_value(); }

#ifdef __cplusplus
}
#endif

#endif

// Call frames and sub-calls.
#include <stddef.h>
#include <string.h>

#include "zel_heap.h"
#include "zel_kernel_internal.h"
#include "zel_thread.h"

namespace {

// The event-pending mark comes with the event: a post that was refused
// leaves it as it was, so that the agent's next yield still posts its
// continue event (a thread would hand back with nothing queued).
int32_t post_self(zel_eda_t *a, zel_evt_t evt) {
    uint8_t s = zel_protect();
    int32_t r = zel_evtq_post_evt(a, evt);
    if (r == 0) a->evt_pending = 1;
    zel_unprotect(s);
    return r;
}

// A frame of the agent's own level for an agent that has none.
zel_eda_frame_t *make_bottom(zel_eda_t *a, uintptr_t param) {
    zel_eda_frame_t *f = zel_eda_frame_alloc(0);
    if (!f) return nullptr;
    f->features = a->features;
    f->next.frame = nullptr;
    f->handler = reinterpret_cast<zel_eda_frame_handler_t>(a->handler.plain);
    f->param = param;
    a->features |= ZEL_EDA_FEAT_FRAMES;
    a->handler.frame = f;
    return f;
}

bool is_bottom(const zel_eda_frame_t *f) { return f->next.frame == nullptr && !(f->features & ZEL_EDA_FEAT_FRAMES); }

// Pops the top frame, restoring the handler and feature byte it saved.
void pop_frame(zel_eda_t *a) {
    zel_eda_frame_t *f = a->handler.frame;
    a->features = f->features;
    if (f->features & ZEL_EDA_FEAT_FRAMES)
        a->handler.frame = f->next.frame;
    else
        a->handler.plain = f->next.plain;
    zel_eda_frame_free(f);
}

// Leaves frame mode when only the bottom frame is left.
void leave_bottom(zel_eda_t *a) {
    zel_eda_frame_t *top = a->handler.frame;
    a->handler.plain = reinterpret_cast<zel_eda_evthandler_t>(top->handler);
    a->features = top->features;
    zel_eda_frame_free(top);
}

}  // namespace

int32_t zel_eda_start_pushed(zel_eda_t *a) {
    int32_t r = post_self(a, ZEL_EVT_INIT);
    if (r != 0) pop_frame(a);
    return r;
}

extern "C" {

static_assert(offsetof(zel_eda_frame_t, param) + sizeof(uintptr_t) == sizeof(zel_eda_frame_t),
    "the parameter word lies just before the locals");
static_assert(sizeof(zel_eda_frame_t) % 16 == 0, "locals are 16-byte aligned");

zel_eda_frame_t *zel_eda_frame_alloc(uint16_t local_size) {
    zel_evt_node_t *ret = zel_evt_node_alloc();
    if (!ret) return nullptr;
    size_t r = (static_cast<size_t>(local_size) + 3u) & ~size_t{3};
    size_t size = sizeof(zel_eda_frame_t) + r + sizeof(uint32_t);
    zel_eda_frame_t *f = static_cast<zel_eda_frame_t *>(zel_heap_malloc_aligned(size, 16));
    if (!f) {
        zel_evt_node_free(ret);
        return nullptr;
    }
    memset(f, 0, size);
    uint32_t guard = ZEL_EDA_FRAME_GUARD;
    memcpy(static_cast<char *>(zel_eda_frame_locals_of(f)) + r, &guard, sizeof guard);
    f->local_size = static_cast<uint16_t>(r);
    f->ret_evt = ret;
    return f;
}

void zel_eda_frame_free(zel_eda_frame_t *frame) {
    if (frame->ret_evt) zel_evt_node_free(frame->ret_evt);
    zel_heap_free(frame);
}

int32_t zel_eda_push_frame(zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size) {
    zel_eda_t *a = zel_eda_get_cur();
    zel_eda_frame_t *f = zel_eda_frame_alloc(local_size);
    if (!f) return ZEL_ERR_NO_MEMORY;
    if (a->features & ZEL_EDA_FEAT_FRAMES)
        f->next.frame = a->handler.frame;
    else
        f->next.plain = a->handler.plain;
    a->handler.frame = f;
    f->handler = handler;
    f->features = a->features;
    f->local_size = local_size;
    a->features = ZEL_EDA_FEAT_FRAMES;
    f->param = param;
    return 0;
}

int32_t zel_eda_call_param(
    zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size, uint32_t param_size, const void *params) {
    zel_eda_t *a = zel_eda_get_cur();
    if (a->features & ZEL_EDA_FEAT_THREAD) return zel_thread_call_param(handler, param, local_size, param_size, params);
    int32_t r = zel_eda_push_frame(handler, param, local_size);
    if (r) return r;
    uint32_t n = param_size < local_size ? param_size : local_size;
    if (params && n) memcpy(zel_eda_frame_locals_of(a->handler.frame), params, n);
    return zel_eda_start_pushed(a);
}

bool zel_eda_return(uintptr_t result) {
    zel_eda_t *a = zel_eda_get_cur();
    a->ret = result;
    if (!(a->features & ZEL_EDA_FEAT_FRAMES)) {
        (void)zel_eda_fini(a);  // cannot fail
        return true;
    }
    if (a->handler.frame && is_bottom(a->handler.frame)) {
        // the agent's own level returns while it sits on its bottom frame
        leave_bottom(a);
        (void)zel_eda_fini(a);  // cannot fail
        return true;
    }
    zel_evt_node_t *ret = a->handler.frame->ret_evt;
    a->handler.frame->ret_evt = nullptr;
    pop_frame(a);
    if (a->features & ZEL_EDA_FEAT_FRAMES) {
        if (!a->handler.frame) {
            zel_evt_node_free(ret);
            (void)zel_eda_fini(a);  // cannot fail

            return true;
        }
        if (is_bottom(a->handler.frame)) leave_bottom(a);
    }
    // The caller's 260, with the node its frame reserved; forced, since a
    // caller that never learns of the return would wait for ever.
    ret->evt = ZEL_EVT_RETURN;
    ret->msg = nullptr;
    uint8_t s = zel_protect();
    a->evt_pending = 1;
    zel_eda_post_node(a, ret, true);
    zel_unprotect(s);
    return false;
}

uintptr_t zel_eda_get_return_value(void) { return zel_eda_get_cur()->ret; }

uint8_t zel_eda_get_state(void) { return static_cast<uint8_t>(zel_eda_get_cur()->features >> 3); }

void zel_eda_set_state(uint8_t state) {
    zel_eda_t *a = zel_eda_get_cur();
    a->features = static_cast<uint8_t>((a->features & 7u) | ((state % 32u) << 3));
}

bool zel_eda_is_waiting(zel_eda_t *agent) { return (agent->features >> 3) != 0; }

void zel_eda_set_waiting(zel_eda_t *agent, bool on) {
    agent->features = static_cast<uint8_t>((agent->features & 7u) | (on ? 1u << 3 : 0u));
    if (on) {
        uint8_t s = zel_protect();
        agent->evt_pending = 1;
        zel_unprotect(s);
    }
}

int32_t zel_eda_frame_set_param(uintptr_t param) {
    zel_eda_t *a = zel_eda_get_cur();
    if (!(a->features & ZEL_EDA_FEAT_FRAMES)) return make_bottom(a, param) ? 0 : ZEL_ERR_NO_MEMORY;
    a->handler.frame->param = param;
    return 0;
}

uintptr_t zel_eda_get_frame_param(void) {
    zel_eda_t *a = zel_eda_get_cur();
    return (a->features & ZEL_EDA_FEAT_FRAMES) && a->handler.frame ? a->handler.frame->param : 0;
}

void *zel_eda_get_frame_locals(zel_eda_t *agent) {
    if (!(agent->features & ZEL_EDA_FEAT_FRAMES) || !agent->handler.frame) return nullptr;
    zel_eda_frame_t *f = agent->handler.frame;
    return f->local_size ? zel_eda_frame_locals_of(f) : nullptr;
}

int32_t zel_eda_call_prepare(zel_eda_frame_handler_t handler, uintptr_t param, uint32_t flags, bool push) {
    zel_eda_t *a = zel_eda_get_cur();
    uint16_t local = static_cast<uint16_t>(flags >> 16);
    zel_eda_frame_t *f;
    if (push) {
        f = zel_eda_frame_alloc(local);
        if (!f) return ZEL_ERR_NO_MEMORY;
        if (a->features & ZEL_EDA_FEAT_FRAMES)
            f->next.frame = a->handler.frame;
        else
            f->next.plain = a->handler.plain;
        a->handler.frame = f;
    } else if (!(a->features & ZEL_EDA_FEAT_FRAMES)) {
        f = make_bottom(a, 0);
        if (!f) return ZEL_ERR_NO_MEMORY;
    } else {
        f = a->handler.frame;
    }
    f->handler = handler;
    f->features = a->features;
    f->local_size = local;
    a->features = static_cast<uint8_t>((flags & 0xFFu) | ZEL_EDA_FEAT_FRAMES);
    f->param = param;
    return 0;
}

int32_t zel_eda_call_start(zel_eda_frame_handler_t handler, uintptr_t param, uint32_t flags, bool push) {
    int32_t r = zel_eda_call_prepare(handler, param, flags, push);
    if (r) return r;
    zel_eda_t *a = zel_eda_get_cur();
    return push ? zel_eda_start_pushed(a) : post_self(a, ZEL_EVT_INIT);
}

int32_t zel_eda_call_fsm(zel_eda_fsm_handler_t handler, uintptr_t param, uint16_t local_size) {
    zel_eda_t *a = zel_eda_get_cur();
    if (a->fsm_result == 1 || a->fsm_result == 2) {
        int32_t r = zel_eda_call_start(zel_fn_cast<zel_eda_frame_handler_t>(handler), param,
            ZEL_EDA_FEAT_FSM | (static_cast<uint32_t>(local_size) << 16), true);
        return r ? r : 1;
    }
    int8_t result = static_cast<int8_t>(a->fsm_result);
    a->fsm_result = 1;
    return result;
}

int32_t zel_eda_call_frame(zel_eda_frame_handler_t handler, uintptr_t param, uint16_t local_size) {
    int32_t r = zel_eda_push_frame(handler, param, local_size);
    if (r) return r;
    return zel_eda_start_pushed(zel_eda_get_cur());
}

int32_t zel_eda_goto_param(zel_eda_frame_handler_t handler, uintptr_t param) {
    zel_eda_t *a = zel_eda_get_cur();
    if (!(a->features & ZEL_EDA_FEAT_FRAMES) && !make_bottom(a, 0)) return ZEL_ERR_NO_MEMORY;
    zel_eda_frame_t *f = a->handler.frame;
    f->handler = handler;
    f->param = param;
    f->local_size = 0;
    a->features = ZEL_EDA_FEAT_FRAMES;
    return post_self(a, ZEL_EVT_INIT);
}

}  // extern "C"

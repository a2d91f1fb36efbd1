/* Helpers for writing and starting sub-call handlers: the operation's object
 * is the frame parameter, its parameter block the start of the locals, and
 * its step the agent's user state. */
#ifndef ZEL_SUBCALL_H
#define ZEL_SUBCALL_H

#include <stdint.h>

#include "zel_eda.h"

#ifdef __cplusplus

/* The object a handler works on (the frame's parameter word). */
template <class T>
inline T *zel_target(void *locals) {
    return reinterpret_cast<T *>(zel_eda_locals_param(locals));
}

/* Starts `handler` on `target` with `params` copied into locals of
 * `local_size` bytes (at least the block itself). 0 or -6. */
template <class P>
inline int32_t zel_subcall(
    zel_eda_frame_handler_t handler, const void *target, const P &params, uint32_t local_size = sizeof(P)) {
    static_assert(sizeof(P) <= 0xFFFF);
    return zel_eda_call_param(
        handler, reinterpret_cast<uintptr_t>(target), static_cast<uint16_t>(local_size), sizeof(P), &params);
}

/* Starts `handler` on `target` without parameters or locals. 0 or -6. */
inline int32_t zel_subcall0(zel_eda_frame_handler_t handler, const void *target) {
    return zel_eda_call_param(handler, reinterpret_cast<uintptr_t>(target), 0, 0, nullptr);
}

/* The answer of the sub-call that just returned, as a signed code. */
inline intptr_t zel_subcall_result() { return static_cast<intptr_t>(zel_eda_get_return_value()); }

/* The handler's step, kept in the agent's user state of this call level. */
template <class E>
inline E zel_step() {
    return static_cast<E>(zel_eda_get_state());
}
template <class E>
inline void zel_set_step(E step) {
    zel_eda_set_state(static_cast<uint8_t>(step));
}

/* Ends the handler with a signed code. */
inline void zel_answer(intptr_t code) { zel_eda_return(static_cast<uintptr_t>(code)); }

#endif

#endif

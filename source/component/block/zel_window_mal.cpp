#include "zel_window_mal.h"

#include "zel_subcall.h"

namespace {

void forward(void *locals, zel_evt_t evt, bool write) {
    if (evt == ZEL_EVT_RETURN) {
        zel_answer(zel_subcall_result());
        return;
    }
    if (evt != ZEL_EVT_INIT) return;
    auto *p = static_cast<zel_mal_rw_param_t *>(locals);
    auto *w = zel_target<zel_window_mal_t>(locals);
    if (!zel_mal_in_range(&w->mal, p->address, p->size)) {
        zel_answer(-7);
        return;
    }
    const uint64_t at = w->offset + p->address;
    const int32_t started =
        write ? zel_mal_write(w->parent, at, p->size, p->buffer) : zel_mal_read(w->parent, at, p->size, p->buffer);
    if (started != 0) zel_answer(started);
}

}  // namespace

uint32_t zel_window_mal_blksz(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op) {
    auto *w = reinterpret_cast<zel_window_mal_t *>(mal);
    return zel_mal_blksz(w->parent, address, size, op);
}

int zel_window_mal_buffer(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op, zel_mal_mem_t *out) {
    auto *w = reinterpret_cast<zel_window_mal_t *>(mal);
    if (!zel_mal_in_range(mal, address, size)) return 0;
    return zel_mal_buffer(w->parent, w->offset + address, size, op, out);
}

void zel_window_mal_read(void *locals, zel_evt_t evt) { forward(locals, evt, false); }

void zel_window_mal_write(void *locals, zel_evt_t evt) { forward(locals, evt, true); }

const zel_mal_drv_t zel_window_mal_drv = {
    .blksz = zel_window_mal_blksz,
    .buffer = zel_window_mal_buffer,
    .init = zel_mal_succeed,
    .fini = zel_mal_succeed,
    .reserved = 0,
    .read = zel_window_mal_read,
    .write = zel_window_mal_write,
};

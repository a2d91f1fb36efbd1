#include "zel_mal.h"

#include "zel_subcall.h"

int32_t zel_mal_init(zel_mal_t *mal) { return zel_subcall0(mal->drv->init, mal); }

int32_t zel_mal_fini(zel_mal_t *mal) { return zel_subcall0(mal->drv->fini, mal); }

int32_t zel_mal_read(zel_mal_t *mal, uint64_t address, uint32_t size, void *buffer) {
    return zel_subcall(mal->drv->read, mal, zel_mal_rw_param_t{address, size, buffer, {}});
}

int32_t zel_mal_write(zel_mal_t *mal, uint64_t address, uint32_t size, const void *buffer) {
    return zel_subcall(mal->drv->write, mal, zel_mal_rw_param_t{address, size, const_cast<void *>(buffer), {}});
}

uint32_t zel_mal_blksz(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op) {
    return mal->drv->blksz(mal, address, size, op);
}

int zel_mal_buffer(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op, zel_mal_mem_t *out) {
    return mal->drv->buffer ? mal->drv->buffer(mal, address, size, op, out) : 0;
}

void zel_mal_succeed(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_answer(0);
}

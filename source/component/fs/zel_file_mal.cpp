#include "zel_file_mal.h"

#include "zel_file.h"
#include "zel_subcall.h"

namespace {

enum class RwStep : uint8_t { START = 0, GATE, SEEK, TRANSFER };

zel_file_mal_t *dev_of(void *locals) { return zel_target<zel_file_mal_t>(locals); }

void finish(zel_file_mal_t *dev, intptr_t code) {
    zel_io_gate_leave(&dev->gate);
    zel_answer(code);
}

void seek(zel_file_mal_t *dev, const zel_mal_rw_param_t *p) {
    zel_set_step(RwStep::SEEK);
    if (zel_file_seek(dev->file, p->address, ZEL_SEEK_SET) != 0) finish(dev, -1);
}

void transfer(zel_file_mal_t *dev, zel_mal_rw_param_t *p, bool write) {
    zel_set_step(RwStep::TRANSFER);
    const int32_t started =
        write ? zel_file_write(dev->file, p->buffer, p->size) : zel_file_read(dev->file, p->buffer, p->size);
    if (started != 0) finish(dev, -1);
}

void rw_handler(void *locals, zel_evt_t evt, bool write) {
    auto *dev = dev_of(locals);
    auto *p = static_cast<zel_mal_rw_param_t *>(locals);
    const auto step = zel_step<RwStep>();
    if (evt == ZEL_EVT_INIT) {
        if (!zel_mal_in_range(&dev->mal, p->address, p->size) ||
            !zel_mal_whole_blocks(dev->block_size, p->address, p->size)) {
            zel_answer(-1);
            return;
        }
        zel_set_step(RwStep::GATE);
        if (zel_io_gate_enter(&dev->gate)) seek(dev, p);
        return;
    }
    if (evt == ZEL_EVT_WAKE && step == RwStep::GATE) {
        if (zel_io_gate_is_mine(&dev->gate)) seek(dev, p);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (step == RwStep::SEEK) {
        if (zel_subcall_result() != 0) {
            finish(dev, -1);  // never at another place than asked
            return;
        }
        transfer(dev, p, write);
    } else if (step == RwStep::TRANSFER) {
        finish(dev, zel_subcall_result());
    }
}

}  // namespace

uint32_t zel_file_mal_blksz(zel_mal_t *mal, uint64_t, uint32_t, uint32_t) {
    return reinterpret_cast<zel_file_mal_t *>(mal)->block_size;
}

void zel_file_mal_init(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *dev = dev_of(locals);
    if (dev->block_size == 0) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return;
    }
    const uint64_t size = dev->file->size;
    dev->mal.size = size - size % dev->block_size;
    zel_answer(0);
}

void zel_file_mal_read(void *locals, zel_evt_t evt) { rw_handler(locals, evt, false); }

void zel_file_mal_write(void *locals, zel_evt_t evt) { rw_handler(locals, evt, true); }

const zel_mal_drv_t zel_file_mal_drv = {
    .blksz = zel_file_mal_blksz,
    .buffer = nullptr,
    .init = zel_file_mal_init,
    .fini = zel_mal_succeed,
    .reserved = 0,
    .read = zel_file_mal_read,
    .write = zel_file_mal_write,
};

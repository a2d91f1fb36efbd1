// The block device over an open file.
#include "app_file_mal.h"

#include "zel_file.h"
#include "zel_subcall.h"

namespace {

enum class Step : uint8_t { Start = 0, Seek, Transfer };

uint32_t blksz(zel_mal_t *mal, uint64_t, uint32_t, uint32_t) {
    return reinterpret_cast<app_file_mal_t *>(mal)->block_size;
}

void init(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *dev = zel_target<app_file_mal_t>(locals);
    uint64_t size = dev->file->size;
    dev->mal.size = dev->block_size ? size - size % dev->block_size : 0;
    zel_answer(0);
}

void transfer(void *locals, zel_evt_t evt, bool write) {
    auto *p = static_cast<zel_mal_rw_param_t *>(locals);
    auto *dev = zel_target<app_file_mal_t>(locals);
    if (evt == ZEL_EVT_INIT) {
        zel_set_step(Step::Seek);
        if (zel_file_seek(dev->file, p->address, ZEL_SEEK_SET) != 0) zel_answer(-1);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    intptr_t result = zel_subcall_result();
    if (zel_step<Step>() == Step::Seek) {
        if (result != 0) {
            zel_answer(result);
            return;
        }
        zel_set_step(Step::Transfer);
        int32_t started = write ? zel_file_write(dev->file, p->buffer, p->size)
                                : zel_file_read(dev->file, p->buffer, p->size);
        if (started != 0) zel_answer(-1);
        return;
    }
    zel_answer(result);
}

void read(void *locals, zel_evt_t evt) { transfer(locals, evt, false); }
void write(void *locals, zel_evt_t evt) { transfer(locals, evt, true); }

}  // namespace

extern "C" {

const zel_mal_drv_t app_file_mal_drv = {blksz, nullptr, init, zel_mal_succeed, 0, read, write};

}  // extern "C"

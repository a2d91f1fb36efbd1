#include "zel_scsi_mal.h"

#include <string.h>

#include "zel_subcall.h"
#include "zel_timer.h"
#include "zel_trace.h"
#include "zel_util.h"

namespace {

enum class InitStep : uint8_t { GATE = 0, SCSI_INIT, INQUIRY, CAPACITY, PAUSE };
enum class RwStep : uint8_t { START = 0, GATE, EXECUTE };

zel_scsi_mal_t *dev_of(void *locals) { return zel_target<zel_scsi_mal_t>(locals); }

// Starts one command over the device's own command block and transfer record.
int32_t run_command(zel_scsi_mal_t *dev, uint8_t opcode, uint8_t allocation, void *buffer, uint32_t size) {
    memset(dev->cdb, 0, sizeof dev->cdb);
    dev->cdb[0] = opcode;
    dev->cdb[4] = allocation;
    dev->xfer = {buffer, size};
    return zel_scsi_execute(dev->scsi, dev->cdb, &dev->xfer);
}

void copy_field(char *out, const char *field, size_t width) {
    memcpy(out, field, width);
    out[width] = 0;
}

void trace_inquiry(const zel_scsi_mal_t *dev) {
    zel_scsi_inquiry_data_t data;
    memcpy(&data, dev->reply, sizeof data);
    char vendor[9], product[17], revision[5];
    copy_field(vendor, data.vendor, 8);
    copy_field(product, data.product, 16);
    copy_field(revision, data.revision, 4);
    zel_trace(2, "scsi_mal: vendor %8s, product %16s, revision %4s\r\n", vendor, product, revision);
}

void finish(zel_scsi_mal_t *dev, intptr_t code) {
    zel_io_gate_leave(&dev->gate);
    zel_answer(code);
}

void init_send_capacity(zel_scsi_mal_t *dev) {
    dev->capacity_tries++;
    zel_set_step(InitStep::CAPACITY);
    const int32_t started = run_command(dev, ZEL_SCSI_READ_CAPACITY10, 0, dev->reply, sizeof(zel_scsi_capacity10_t));
    if (started != 0) finish(dev, started);
}

// A READ CAPACITY answer: the device's size and block size, or another try
// after a pause.
void init_on_capacity(zel_scsi_mal_t *dev, intptr_t result) {
    if (result == (intptr_t)sizeof(zel_scsi_capacity10_t)) {
        zel_scsi_capacity10_t cap;
        memcpy(&cap, dev->reply, sizeof cap);
        const uint32_t block_size = zel_get_unaligned_be32(cap.block_size);
        if (block_size == 0) {
            finish(dev, -7);
            return;
        }
        dev->block_size = block_size;
        dev->mal.size = ((uint64_t)zel_get_unaligned_be32(cap.last_lba) + 1) * block_size;
        finish(dev, 0);
        return;
    }
    if (dev->capacity_tries >= ZEL_SCSI_MAL_CAPACITY_TRIES) {
        finish(dev, result < 0 ? result : -7);
        return;
    }
    zel_set_step(InitStep::PAUSE);
    if (zel_eda_set_timer(zel_timer_ms_to_tick(ZEL_SCSI_MAL_CAPACITY_PAUSE_MS)) != 0) init_send_capacity(dev);
}

void init_start(zel_scsi_mal_t *dev) {
    dev->capacity_tries = 0;
    zel_set_step(InitStep::SCSI_INIT);
    const int32_t started = zel_scsi_init(dev->scsi);
    if (started != 0) finish(dev, started);
}

}  // namespace

void zel_scsi_mal_init(void *locals, zel_evt_t evt) {
    auto *dev = dev_of(locals);
    const auto step = zel_step<InitStep>();
    if (evt == ZEL_EVT_INIT) {
        if (zel_io_gate_enter(&dev->gate)) init_start(dev);
        return;
    }
    if (evt == ZEL_EVT_WAKE && step == InitStep::GATE) {
        if (zel_io_gate_is_mine(&dev->gate)) init_start(dev);
        return;
    }
    if (evt == ZEL_EVT_TIMER && step == InitStep::PAUSE) {
        init_send_capacity(dev);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const intptr_t result = zel_subcall_result();
    switch (step) {
    case InitStep::SCSI_INIT: {
        if (result < 0) {
            finish(dev, result);
            return;
        }
        zel_set_step(InitStep::INQUIRY);
        const int32_t started =
            run_command(dev, ZEL_SCSI_INQUIRY, ZEL_SCSI_INQUIRY_LEN, dev->reply, ZEL_SCSI_INQUIRY_LEN);
        if (started != 0) finish(dev, started);
        return;
    }
    case InitStep::INQUIRY:
        if (result < 0) {
            finish(dev, result);
            return;
        }
        trace_inquiry(dev);
        init_send_capacity(dev);
        return;
    case InitStep::CAPACITY: init_on_capacity(dev, result); return;
    default: return;
    }
}

bool zel_scsi_mal_build_rw(
    const zel_scsi_mal_t *dev, uint64_t address, uint32_t size, uint32_t op, uint8_t cdb[ZEL_SCSI_CDB_MAX]) {
    const uint32_t bs = dev->block_size;
    if (!zel_mal_whole_blocks(bs, address, size)) return false;
    const uint64_t lba = address / bs;
    const uint32_t count = size / bs;
    if (lba > 0xFFFFFFFFu || count > 0xFFFFu) return false;
    memset(cdb, 0, ZEL_SCSI_CDB_MAX);
    cdb[0] = op == ZEL_MAL_OP_READ ? ZEL_SCSI_READ10 : ZEL_SCSI_WRITE10;
    zel_put_unaligned_be32((uint32_t)lba, cdb + 2);
    zel_put_unaligned_be16((uint16_t)count, cdb + 7);
    return true;
}

namespace {

void rw_issue(zel_scsi_mal_t *dev, zel_mal_rw_param_t *p, uint32_t op) {
    zel_scsi_mal_build_rw(dev, p->address, p->size, op, dev->cdb);
    dev->xfer = {p->buffer, p->size};
    zel_set_step(RwStep::EXECUTE);
    const int32_t started = zel_scsi_execute(dev->scsi, dev->cdb, &dev->xfer);
    if (started != 0) finish(dev, started);
}

void rw_handler(void *locals, zel_evt_t evt, uint32_t op) {
    auto *dev = dev_of(locals);
    auto *p = static_cast<zel_mal_rw_param_t *>(locals);
    const auto step = zel_step<RwStep>();
    if (evt == ZEL_EVT_INIT) {
        uint8_t cdb[ZEL_SCSI_CDB_MAX];
        if (!zel_mal_in_range(&dev->mal, p->address, p->size) ||
            !zel_scsi_mal_build_rw(dev, p->address, p->size, op, cdb)) {
            zel_answer(-7);
            return;
        }
        if (p->size == 0) {
            zel_answer(0);
            return;
        }
        zel_set_step(RwStep::GATE);
        if (zel_io_gate_enter(&dev->gate)) rw_issue(dev, p, op);
        return;
    }
    if (evt == ZEL_EVT_WAKE && step == RwStep::GATE) {
        if (zel_io_gate_is_mine(&dev->gate)) rw_issue(dev, p, op);
        return;
    }
    if (evt == ZEL_EVT_RETURN && step == RwStep::EXECUTE) finish(dev, zel_subcall_result());
}

}  // namespace

void zel_scsi_mal_read(void *locals, zel_evt_t evt) { rw_handler(locals, evt, ZEL_MAL_OP_READ); }

void zel_scsi_mal_write(void *locals, zel_evt_t evt) { rw_handler(locals, evt, ZEL_MAL_OP_WRITE); }

uint32_t zel_scsi_mal_blksz(zel_mal_t *mal, uint64_t, uint32_t, uint32_t) {
    return reinterpret_cast<zel_scsi_mal_t *>(mal)->block_size;
}

int zel_scsi_mal_buffer(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op, zel_mal_mem_t *out) {
    auto *dev = reinterpret_cast<zel_scsi_mal_t *>(mal);
    uint8_t cdb[ZEL_SCSI_CDB_MAX];
    if (!zel_mal_in_range(mal, address, size) ||
        !zel_scsi_mal_build_rw(dev, address, size, op == ZEL_MAL_OP_READ ? ZEL_MAL_OP_READ : ZEL_MAL_OP_WRITE, cdb))
        return 0;
    zel_scsi_xfer_t xfer{};
    const int r = zel_scsi_buffer(dev->scsi, cdb, &xfer);
    if (r) *out = {xfer.buffer, xfer.size};
    return r;
}

const zel_mal_drv_t zel_scsi_mal_drv = {
    .blksz = zel_scsi_mal_blksz,
    .buffer = zel_scsi_mal_buffer,
    .init = zel_scsi_mal_init,
    .fini = zel_mal_succeed,
    .reserved = 0,
    .read = zel_scsi_mal_read,
    .write = zel_scsi_mal_write,
};

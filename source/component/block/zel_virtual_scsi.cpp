#include "zel_virtual_scsi.h"

#include <string.h>

#include "zel_subcall.h"
#include "zel_util.h"

namespace {

enum class ExecStep : uint8_t { START = 0, DATA };

constexpr uint8_t kSenseResponseFixed = 0x70;
constexpr uint8_t kSenseAdditionalLength = 10;
constexpr uint8_t kFormatCapacityListLength = 8;  // one capacity descriptor
constexpr uint8_t kFormatCapacityFormatted = 2;

zel_virtual_scsi_t *target_of(void *locals) { return zel_target<zel_virtual_scsi_t>(locals); }

void fail(zel_virtual_scsi_t *t, uint32_t key, uint32_t asc) {
    t->sense_key = key;
    t->asc = asc;
    zel_answer(-7);
}

// Copies a reply of `length` bytes into the data buffer, cut to the
// allocation length and to the buffer, and answers the bytes given.
void reply(const zel_scsi_exec_param_t *p, const uint8_t *data, uint32_t length, uint32_t allocation) {
    uint32_t n = length < allocation ? length : allocation;
    if (n > p->size) n = p->size;
    if (n && p->buffer) memmove(p->buffer, data, n);
    zel_answer(p->buffer ? n : 0);
}

void reply_inquiry(zel_virtual_scsi_t *t, const zel_scsi_exec_param_t *p) {
    const uint8_t *cdb = p->cdb;
    const uint32_t allocation = zel_get_unaligned_be16(cdb + 3);
    if (cdb[2] != 0) {
        fail(t, ZEL_SCSI_KEY_ILLEGAL_REQUEST, ZEL_SCSI_ASC_INVALID_FIELD);
        return;
    }
    uint8_t data[ZEL_SCSI_INQUIRY_LEN] = {};
    if (cdb[1] & 1) {
        reply(p, data, 5, allocation);
        return;
    }
    zel_scsi_inquiry_data_t inq{};
    inq.device_type = t->param->device_type;
    inq.removable = t->param->removable ? 0x80 : 0;
    inq.response_format = 2;
    inq.additional_length = 31;
    memcpy(inq.vendor, t->param->vendor, sizeof inq.vendor);
    memcpy(inq.product, t->param->product, sizeof inq.product);
    memcpy(inq.revision, t->param->revision, sizeof inq.revision);
    memcpy(data, &inq, sizeof inq);
    reply(p, data, ZEL_SCSI_INQUIRY_LEN, allocation);
}

// The end of a data phase: anything but the whole transfer is a medium error.
void data_done(zel_virtual_scsi_t *t, const uint8_t *cdb, intptr_t result) {
    uint64_t lba;
    uint32_t count;
    zel_scsi_get_rw_param(cdb, &lba, &count);
    if (result != (intptr_t)((uint64_t)count * t->param->block_size)) {
        fail(t, ZEL_SCSI_KEY_MEDIUM_ERROR, zel_scsi_is_read(cdb) ? ZEL_SCSI_ASC_READ_ERROR : ZEL_SCSI_ASC_WRITE_ERROR);
        return;
    }
    zel_answer(result);
}

// READ and WRITE: checks the range and the buffer, then runs the back end.
void data_phase(zel_virtual_scsi_t *t, const uint8_t *cdb, zel_scsi_xfer_t xfer, zel_stream *stream) {
    zel_virtual_scsi_rw_t rw{};
    if (!zel_scsi_get_rw_param(cdb, &rw.lba, &rw.count)) {
        fail(t, ZEL_SCSI_KEY_ILLEGAL_REQUEST, ZEL_SCSI_ASC_INVALID_OPCODE);
        return;
    }
    const uint64_t blocks = t->param->block_count;
    if (rw.lba > blocks || rw.count > blocks - rw.lba) {
        fail(t, ZEL_SCSI_KEY_ILLEGAL_REQUEST, ZEL_SCSI_ASC_LBA_OUT_OF_RANGE);
        return;
    }
    const uint64_t bytes = (uint64_t)rw.count * t->param->block_size;
    if (bytes > 0xFFFFFFFFu || (!stream && bytes > xfer.size)) {
        fail(t, ZEL_SCSI_KEY_ILLEGAL_REQUEST, ZEL_SCSI_ASC_INVALID_FIELD);
        return;
    }
    if (rw.count == 0) {
        zel_answer(0);
        return;
    }
    rw.xfer = xfer;
    rw.stream = stream;
    const bool read = zel_scsi_is_read(cdb);
    const zel_virtual_scsi_backend_t *be = t->backend;
    if ((be->kind & 0xF) == ZEL_VSCSI_BACKEND_PLAIN) {
        data_done(t, cdb, read ? be->read.plain(t, &rw) : be->write.plain(t, &rw));
        return;
    }
    zel_set_step(ExecStep::DATA);
    const int32_t started = zel_subcall(read ? be->read.call : be->write.call, t, rw);
    if (started != 0) zel_answer(started);
}

void execute_start(zel_virtual_scsi_t *t, zel_scsi_exec_param_t *p) {
    t->stream = 0;
    if (p->buffer == t->reply) memset(t->reply, 0, sizeof t->reply);
    const uint8_t *cdb = p->cdb;
    uint8_t data[ZEL_SCSI_INQUIRY_LEN] = {};
    const uint32_t bs = t->param->block_size;
    const uint32_t blocks = t->param->block_count;
    switch (cdb[0]) {
    case ZEL_SCSI_TEST_UNIT_READY:
    case ZEL_SCSI_FORMAT_UNIT:
    case ZEL_SCSI_READ_REVERSE6:
    case ZEL_SCSI_MODE_SELECT6:
    case ZEL_SCSI_START_STOP_UNIT:
    case ZEL_SCSI_PREVENT_ALLOW_REMOVAL:
    case ZEL_SCSI_VERIFY10:
    case ZEL_SCSI_SYNCHRONIZE_CACHE10:
    case ZEL_SCSI_SYNCHRONIZE_CACHE16: zel_answer(0); return;
    case ZEL_SCSI_REQUEST_SENSE: {
        zel_scsi_sense_data_t sense{};
        sense.response_code = kSenseResponseFixed;
        sense.sense_key = (uint8_t)t->sense_key;
        sense.additional_length = kSenseAdditionalLength;
        sense.asc = (uint8_t)t->asc;
        memcpy(data, &sense, sizeof sense);
        reply(p, data, ZEL_SCSI_SENSE_LEN, cdb[4]);
        return;
    }
    case ZEL_SCSI_INQUIRY: reply_inquiry(t, p); return;
    case ZEL_SCSI_MODE_SENSE6:
        data[0] = 3;
        reply(p, data, 4, cdb[4]);
        return;
    case ZEL_SCSI_READ_FORMAT_CAPACITIES: {
        zel_scsi_format_capacities_t list{};
        list.list_length = kFormatCapacityListLength;
        zel_put_unaligned_be32(blocks, list.block_count);
        list.descriptor_type = kFormatCapacityFormatted;
        list.block_length[0] = (uint8_t)(bs >> 16);
        list.block_length[1] = (uint8_t)(bs >> 8);
        list.block_length[2] = (uint8_t)bs;
        memcpy(data, &list, sizeof list);
        reply(p, data, sizeof list, zel_get_unaligned_be16(cdb + 7));
        return;
    }
    case ZEL_SCSI_READ_CAPACITY10: {
        zel_scsi_capacity10_t cap{};
        zel_put_unaligned_be32(blocks - 1, cap.last_lba);
        zel_put_unaligned_be32(bs, cap.block_size);
        memcpy(data, &cap, sizeof cap);
        reply(p, data, sizeof cap, sizeof cap);
        return;
    }
    case ZEL_SCSI_MODE_SELECT10:  // the host's data is taken as it is
        zel_answer(p->size);
        return;
    case ZEL_SCSI_MODE_SENSE10: {  // all zero, as much as the host allows
        const uint32_t allocation = zel_get_unaligned_be16(cdb + 7);
        const uint32_t n = p->buffer ? (allocation < p->size ? allocation : p->size) : 0;
        if (n) memset(p->buffer, 0, n);
        zel_answer(n);
        return;
    }
    case ZEL_SCSI_ATA_PASS_THROUGH16:
    case ZEL_SCSI_ATA_PASS_THROUGH12:
        data[0] = 2;
        data[1] = 2;
        reply(p, data, 2, 2);
        return;
    case ZEL_SCSI_WRITE_VERIFY16:
        data[0] = 0x20;
        reply(p, data, 32, 32);
        return;
    default: break;
    }
    data_phase(t, cdb, {p->buffer, p->size}, nullptr);
}

}  // namespace

void zel_virtual_scsi_execute(void *locals, zel_evt_t evt) {
    auto *t = target_of(locals);
    auto *p = static_cast<zel_scsi_exec_param_t *>(locals);
    if (evt == ZEL_EVT_INIT)
        execute_start(t, p);
    else if (evt == ZEL_EVT_RETURN && zel_step<ExecStep>() == ExecStep::DATA)
        data_done(t, p->cdb, zel_subcall_result());
}

void zel_virtual_scsi_execute_stream(void *locals, zel_evt_t evt) {
    auto *t = target_of(locals);
    auto *p = static_cast<zel_scsi_stream_param_t *>(locals);
    if (evt == ZEL_EVT_INIT) {
        t->stream = 1;
        data_phase(t, p->cdb, {nullptr, 0}, p->stream);
    } else if (evt == ZEL_EVT_RETURN && zel_step<ExecStep>() == ExecStep::DATA) {
        data_done(t, p->cdb, zel_subcall_result());
    }
}

void zel_virtual_scsi_init(void *locals, zel_evt_t evt) {
    auto *t = target_of(locals);
    const zel_virtual_scsi_backend_t *be = t->backend;
    if (evt == ZEL_EVT_RETURN) {
        zel_answer(zel_subcall_result());
        return;
    }
    if (evt != ZEL_EVT_INIT) return;
    switch (be->kind & 0xF) {
    case ZEL_VSCSI_BACKEND_PLAIN: zel_answer(be->init.plain(t)); return;
    case ZEL_VSCSI_BACKEND_SUBCALL: {
        const int32_t started = zel_subcall0(be->init.call, t);
        if (started != 0) zel_answer(started);
        return;
    }
    default: zel_answer(-2); return;
    }
}

int zel_virtual_scsi_buffer(zel_scsi_t *device, const uint8_t *cdb, zel_scsi_xfer_t *out) {
    auto *t = reinterpret_cast<zel_virtual_scsi_t *>(device);
    uint64_t lba;
    uint32_t count;
    if (!zel_scsi_get_rw_param(cdb, &lba, &count)) {
        *out = {t->reply, sizeof t->reply};
        return 1;
    }
    if (!t->backend->buffer) return 0;
    return t->backend->buffer(t, zel_scsi_is_read(cdb), lba, count, out);
}

const zel_scsi_drv_t zel_virtual_scsi_drv = {
    .init = zel_virtual_scsi_init,
    .fini = zel_mal_succeed,
    .execute = zel_virtual_scsi_execute,
    .execute_stream = zel_virtual_scsi_execute_stream,
    .buffer = zel_virtual_scsi_buffer,
};

/* ---- the back end over a block device ---- */

namespace {

enum class BackendStep : uint8_t { START = 0, DEVICE };

zel_mal_scsi_t *backend_of(void *locals) { return zel_target<zel_mal_scsi_t>(locals); }

void backend_rw(void *locals, zel_evt_t evt, bool write) {
    if (evt == ZEL_EVT_RETURN) {
        zel_answer(zel_subcall_result());
        return;
    }
    if (evt != ZEL_EVT_INIT) return;
    auto *b = backend_of(locals);
    auto *rw = static_cast<zel_virtual_scsi_rw_t *>(locals);
    const uint32_t bs = b->target.param->block_size;
    const uint64_t address = rw->lba * bs;
    const uint32_t size = (uint32_t)((uint64_t)rw->count * bs);
    int32_t started;
    if (b->target.stream) {
        b->pump.mal = b->mal;
        started = write ? zel_mal_write_from_stream(&b->pump, address, size, rw->stream)
                        : zel_mal_read_to_stream(&b->pump, address, size, rw->stream);
    } else {
        started = write ? zel_mal_write(b->mal, address, size, rw->xfer.buffer)
                        : zel_mal_read(b->mal, address, size, rw->xfer.buffer);
    }
    if (started != 0) zel_answer(started);
}

}  // namespace

void zel_mal_scsi_init(void *locals, zel_evt_t evt) {
    auto *b = backend_of(locals);
    if (evt == ZEL_EVT_INIT) {
        b->pump.mal = b->mal;
        zel_set_step(BackendStep::DEVICE);
        const int32_t started = zel_mal_init(b->mal);
        if (started != 0) zel_answer(started);
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_step<BackendStep>() != BackendStep::DEVICE) return;
    const intptr_t r = zel_subcall_result();
    const zel_virtual_scsi_param_t *param = b->target.param;
    if (r < 0) {
        zel_answer(r);
        return;
    }
    const bool fits = param->block_size != 0 && (uint64_t)param->block_count * param->block_size <= b->mal->size;
    zel_answer(fits ? 0 : -7);
}

void zel_mal_scsi_read(void *locals, zel_evt_t evt) { backend_rw(locals, evt, false); }

void zel_mal_scsi_write(void *locals, zel_evt_t evt) { backend_rw(locals, evt, true); }

int zel_mal_scsi_buffer(zel_virtual_scsi_t *target, bool read, uint64_t lba, uint32_t count, zel_scsi_xfer_t *out) {
    auto *b = reinterpret_cast<zel_mal_scsi_t *>(target);
    const uint32_t bs = target->param->block_size;
    const uint64_t size = (uint64_t)count * bs;
    if (size > 0xFFFFFFFFu) return 0;
    zel_mal_mem_t mem{};
    const int r = zel_mal_buffer(b->mal, lba * bs, (uint32_t)size, read ? ZEL_MAL_OP_READ : ZEL_MAL_OP_WRITE, &mem);
    if (r) *out = {mem.buffer, mem.size};
    return r;
}

const zel_virtual_scsi_backend_t zel_mal_scsi_drv = {
    .kind = ZEL_VSCSI_BACKEND_SUBCALL,
    .buffer = zel_mal_scsi_buffer,
    .init = {.call = zel_mal_scsi_init},
    .read = {.call = zel_mal_scsi_read},
    .write = {.call = zel_mal_scsi_write},
};

void zel_mal_scsi_construct(zel_mal_scsi_t *target, const zel_virtual_scsi_param_t *param, zel_mal_t *mal) {
    memset(target, 0, sizeof *target);
    target->target.scsi.drv = &zel_virtual_scsi_drv;
    target->target.param = param;
    target->target.backend = &zel_mal_scsi_drv;
    target->mal = mal;
    target->pump.mal = mal;
}

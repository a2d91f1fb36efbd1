#include "zel_scsi.h"

#include <stddef.h>

#include "zel_subcall.h"
#include "zel_util.h"

static_assert(sizeof(zel_scsi_rw10_t) == 10);
static_assert(offsetof(zel_scsi_rw10_t, lba) == 2);
static_assert(offsetof(zel_scsi_rw10_t, count) == 7);
static_assert(sizeof(zel_scsi_inquiry_data_t) == ZEL_SCSI_INQUIRY_LEN);
static_assert(offsetof(zel_scsi_inquiry_data_t, vendor) == 8);
static_assert(offsetof(zel_scsi_inquiry_data_t, product) == 16);
static_assert(offsetof(zel_scsi_inquiry_data_t, revision) == 32);
static_assert(sizeof(zel_scsi_capacity10_t) == 8);
static_assert(sizeof(zel_scsi_sense_data_t) == ZEL_SCSI_SENSE_LEN);
static_assert(offsetof(zel_scsi_sense_data_t, sense_key) == 2);
static_assert(offsetof(zel_scsi_sense_data_t, additional_length) == 7);
static_assert(offsetof(zel_scsi_sense_data_t, asc) == 12);

int32_t zel_scsi_init(zel_scsi_t *device) { return zel_subcall0(device->drv->init, device); }

int32_t zel_scsi_fini(zel_scsi_t *device) { return zel_subcall0(device->drv->fini, device); }

int32_t zel_scsi_execute(zel_scsi_t *device, const uint8_t *cdb, const zel_scsi_xfer_t *xfer) {
    zel_scsi_exec_param_t p{cdb, xfer ? xfer->buffer : nullptr, xfer ? xfer->size : 0u, 0};
    return zel_subcall(device->drv->execute, device, p);
}

int32_t zel_scsi_execute_stream(zel_scsi_t *device, const uint8_t *cdb, struct zel_stream *stream) {
    return zel_subcall(device->drv->execute_stream, device, zel_scsi_stream_param_t{cdb, stream});
}

int zel_scsi_buffer(zel_scsi_t *device, const uint8_t *cdb, zel_scsi_xfer_t *out) {
    return device->drv->buffer ? device->drv->buffer(device, cdb, out) : 0;
}

uint32_t zel_scsi_get_command_len(const uint8_t *cdb) {
    static const uint8_t by_group[8] = {6, 10, 10, 0, 16, 12, 0, 0};
    return by_group[cdb[0] >> 5];
}

namespace {

bool is_rw_opcode(uint8_t opcode) {
    const uint8_t group = opcode >> 5;
    const bool rw_group = group == 0 || group == 1 || group == 4 || group == 5;
    return rw_group && (opcode & 0x1D) == 0x08;
}

}  // namespace

bool zel_scsi_is_read(const uint8_t *cdb) { return is_rw_opcode(cdb[0]) && (cdb[0] & 0x1F) == 0x08; }

bool zel_scsi_get_rw_param(const uint8_t *cdb, uint64_t *lba, uint32_t *count) {
    if (!is_rw_opcode(cdb[0])) return false;
    switch (zel_scsi_get_command_len(cdb)) {
    case 6:
        *lba = ((uint32_t)(cdb[1] & 0x1F) << 16) | ((uint32_t)cdb[2] << 8) | cdb[3];
        *count = cdb[4] ? cdb[4] : 256u;
        return true;
    case 10:
        *lba = zel_get_unaligned_be32(cdb + 2);
        *count = zel_get_unaligned_be16(cdb + 7);
        return true;
    case 12:
        *lba = zel_get_unaligned_be32(cdb + 2);
        *count = zel_get_unaligned_be32(cdb + 6);
        return true;
    case 16:
        *lba = zel_get_unaligned_be64(cdb + 2);
        *count = zel_get_unaligned_be32(cdb + 10);
        return true;
    default: return false;
    }
}

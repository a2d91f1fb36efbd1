/* The block device over a SCSI device (`scsi_mal`): INQUIRY and READ
 * CAPACITY(10) at init, READ(10) and WRITE(10) for transfers.
 *
 * The device keeps one command block and one transfer record, so it carries
 * one request at a time: requests that arrive while one is under way wait in
 * arrival order. READ CAPACITY is tried up to ZEL_SCSI_MAL_CAPACITY_TRIES
 * times, ZEL_SCSI_MAL_CAPACITY_PAUSE_MS apart. Transfers must be whole blocks
 * inside the device and fit READ(10)/WRITE(10) (32-bit block address, at most
 * 65535 blocks); others are refused with -7. */
#ifndef ZEL_SCSI_MAL_H
#define ZEL_SCSI_MAL_H

#include "zel_io_gate.h"
#include "zel_mal.h"
#include "zel_scsi.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_SCSI_MAL_CAPACITY_TRIES 25u
#define ZEL_SCSI_MAL_CAPACITY_PAUSE_MS 200u

typedef struct zel_scsi_mal {
    zel_mal_t mal;
    zel_scsi_t *scsi;
    uint32_t block_size; /* learnt by init */
    uint8_t cdb[ZEL_SCSI_CDB_MAX];
    zel_scsi_xfer_t xfer;
    uint8_t reply[ZEL_SCSI_INQUIRY_LEN];
    /* kept by the driver */
    zel_io_gate_t gate;      /* one request at a time */
    uint32_t capacity_tries; /* READ CAPACITY commands sent by this init */
} zel_scsi_mal_t;

extern const zel_mal_drv_t zel_scsi_mal_drv;

uint32_t zel_scsi_mal_blksz(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op);
[[nodiscard]] int zel_scsi_mal_buffer(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op, zel_mal_mem_t *out);
void zel_scsi_mal_init(void *locals, zel_evt_t evt);
void zel_scsi_mal_read(void *locals, zel_evt_t evt);
void zel_scsi_mal_write(void *locals, zel_evt_t evt);

/* The READ(10) (op 1) or WRITE(10) command block for a byte range. False
 * when the range is not whole blocks or does not fit the command. */
bool zel_scsi_mal_build_rw(
    const zel_scsi_mal_t *dev, uint64_t address, uint32_t size, uint32_t op, uint8_t cdb[ZEL_SCSI_CDB_MAX]);

#ifdef __cplusplus
}
#endif

#endif

/* The virtual SCSI target: a SCSI device that answers commands itself and
 * serves READ and WRITE from a back end, here a block device
 * (`zel_mal_scsi_t`). It answers like a simple direct-access disk: INQUIRY,
 * READ CAPACITY(10), READ FORMAT CAPACITIES, MODE SENSE(6), REQUEST SENSE and
 * the usual no-data commands; anything else fails with sense key 5 and
 * additional sense code 0x20. Block addresses past the end fail with 5/0x21,
 * transfers larger than the data buffer with 5/0x24, and no reply is longer
 * than the command's allocation length or the buffer it goes into. A data
 * phase whose back end fails or moves less than asked fails with a medium
 * error: 3/0x11 for a read, 3/0x0C for a write. */
#ifndef ZEL_VIRTUAL_SCSI_H
#define ZEL_VIRTUAL_SCSI_H

#include "zel_mal.h"
#include "zel_mal_stream.h"
#include "zel_scsi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What the target reports about itself. */
typedef struct zel_virtual_scsi_param {
    uint32_t block_size;
    uint32_t block_count;
    char vendor[8];
    char product[16];
    char revision[4];
    uint8_t removable;
    uint8_t unused[3];
    uint8_t device_type;
} zel_virtual_scsi_param_t;

typedef struct zel_virtual_scsi zel_virtual_scsi_t;

/* Parameter block of the back end's read and write. With the target's stream
 * flag set, `stream` carries the data and `xfer` is unused. */
typedef struct zel_virtual_scsi_rw {
    uint64_t lba;
    uint32_t count;
    zel_scsi_xfer_t xfer;
    struct zel_stream *stream;
} zel_virtual_scsi_rw_t;

enum {
    ZEL_VSCSI_BACKEND_PLAIN = 0,  /* init/read/write are plain calls */
    ZEL_VSCSI_BACKEND_SUBCALL = 1 /* init/read/write are sub-call handlers on the target */
};

typedef struct zel_virtual_scsi_backend {
    uint32_t kind; /* low 4 bits */
    int (*buffer)(zel_virtual_scsi_t *target, bool read, uint64_t lba, uint32_t count, zel_scsi_xfer_t *out);
    union {
        zel_eda_frame_handler_t call;
        int32_t (*plain)(zel_virtual_scsi_t *target);
    } init;
    union {
        zel_eda_frame_handler_t call;
        int32_t (*plain)(zel_virtual_scsi_t *target, const zel_virtual_scsi_rw_t *rw);
    } read, write;
} zel_virtual_scsi_backend_t;

struct zel_virtual_scsi {
    zel_scsi_t scsi; /* table zel_virtual_scsi_drv */
    const zel_virtual_scsi_param_t *param;
    const zel_virtual_scsi_backend_t *backend;
    uint8_t reply[ZEL_SCSI_INQUIRY_LEN];
    uint8_t stream; /* the data phase goes through a stream */
    uint32_t sense_key;
    uint32_t asc;
};

extern const zel_scsi_drv_t zel_virtual_scsi_drv;

void zel_virtual_scsi_init(void *locals, zel_evt_t evt);
void zel_virtual_scsi_execute(void *locals, zel_evt_t evt);
void zel_virtual_scsi_execute_stream(void *locals, zel_evt_t evt);
[[nodiscard]] int zel_virtual_scsi_buffer(zel_scsi_t *device, const uint8_t *cdb, zel_scsi_xfer_t *out);

/* The back end over a block device. */
typedef struct zel_mal_scsi {
    zel_virtual_scsi_t target;
    zel_mal_t *mal;
    zel_mal_pump_t pump;
} zel_mal_scsi_t;

extern const zel_virtual_scsi_backend_t zel_mal_scsi_drv;

[[nodiscard]] int zel_mal_scsi_buffer(
    zel_virtual_scsi_t *target, bool read, uint64_t lba, uint32_t count, zel_scsi_xfer_t *out);
void zel_mal_scsi_init(void *locals, zel_evt_t evt);
void zel_mal_scsi_read(void *locals, zel_evt_t evt);
void zel_mal_scsi_write(void *locals, zel_evt_t evt);

/* Sets up a virtual target over `mal` reporting `param` (kept by reference).
 * Run zel_scsi_init on &target->target.scsi before the first command: it
 * initialises the block device and refuses (-7) a block count that the device
 * cannot hold. */
void zel_mal_scsi_construct(zel_mal_scsi_t *target, const zel_virtual_scsi_param_t *param, zel_mal_t *mal);

#ifdef __cplusplus
}
#endif

#endif

/* SCSI devices: the device interface that a transport (the USB mass-storage
 * class, the virtual target) provides, its generic calls, and the decoders of
 * command length and READ/WRITE address and count. */
#ifndef ZEL_SCSI_H
#define ZEL_SCSI_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A data phase: the bytes to move and where. */
typedef struct zel_scsi_xfer {
    void *buffer;
    uint32_t size;
} zel_scsi_xfer_t;

/* Parameter block of the execute slot; `zero` is 0. */
typedef struct zel_scsi_exec_param {
    const uint8_t *cdb;
    void *buffer;
    uint32_t size;
    uintptr_t zero;
} zel_scsi_exec_param_t;

/* Parameter block of the execute_stream slot. init and fini take none. */
struct zel_stream;
typedef struct zel_scsi_stream_param {
    const uint8_t *cdb;
    struct zel_stream *stream;
} zel_scsi_stream_param_t;

typedef struct zel_scsi zel_scsi_t;

/* The device's table. init, fini, execute and execute_stream are sub-call
 * handlers whose target (frame parameter) is the device; execute answers the
 * bytes transferred or a negative code. buffer is a plain call, or none: it
 * answers non-zero with `out` = a buffer of the device for the command's
 * data. */
typedef struct zel_scsi_drv {
    zel_eda_frame_handler_t init;
    zel_eda_frame_handler_t fini;
    zel_eda_frame_handler_t execute;
    zel_eda_frame_handler_t execute_stream;
    int (*buffer)(zel_scsi_t *device, const uint8_t *cdb, zel_scsi_xfer_t *out);
} zel_scsi_drv_t;

/* Every SCSI device begins with its table; the provider's fields follow. */
struct zel_scsi {
    const zel_scsi_drv_t *drv;
};

/* Generic calls: each starts the slot as a sub-call of the current agent and
 * answers 0 (started; the result arrives with 260) or -6. */
[[nodiscard]] int32_t zel_scsi_init(zel_scsi_t *device);
[[nodiscard]] int32_t zel_scsi_fini(zel_scsi_t *device);
/* `xfer` none: no data phase. */
[[nodiscard]] int32_t zel_scsi_execute(zel_scsi_t *device, const uint8_t *cdb, const zel_scsi_xfer_t *xfer);
[[nodiscard]] int32_t zel_scsi_execute_stream(zel_scsi_t *device, const uint8_t *cdb, struct zel_stream *stream);
/* Plain call of the buffer slot; 0 when the device has none. */
[[nodiscard]] int zel_scsi_buffer(zel_scsi_t *device, const uint8_t *cdb, zel_scsi_xfer_t *out);

/* ---- command blocks ---- */

/* Operation codes. */
enum {
    ZEL_SCSI_TEST_UNIT_READY = 0x00,
    ZEL_SCSI_REQUEST_SENSE = 0x03,
    ZEL_SCSI_FORMAT_UNIT = 0x04,
    ZEL_SCSI_READ_REVERSE6 = 0x0F,
    ZEL_SCSI_INQUIRY = 0x12,
    ZEL_SCSI_MODE_SELECT6 = 0x15,
    ZEL_SCSI_MODE_SENSE6 = 0x1A,
    ZEL_SCSI_START_STOP_UNIT = 0x1B,
    ZEL_SCSI_PREVENT_ALLOW_REMOVAL = 0x1E,
    ZEL_SCSI_READ_FORMAT_CAPACITIES = 0x23,
    ZEL_SCSI_READ_CAPACITY10 = 0x25,
    ZEL_SCSI_READ10 = 0x28,
    ZEL_SCSI_WRITE10 = 0x2A,
    ZEL_SCSI_VERIFY10 = 0x2F,
    ZEL_SCSI_SYNCHRONIZE_CACHE10 = 0x35,
    ZEL_SCSI_MODE_SELECT10 = 0x55,
    ZEL_SCSI_MODE_SENSE10 = 0x5A,
    ZEL_SCSI_ATA_PASS_THROUGH16 = 0x85,
    ZEL_SCSI_WRITE_VERIFY16 = 0x8E,
    ZEL_SCSI_SYNCHRONIZE_CACHE16 = 0x91,
    ZEL_SCSI_ATA_PASS_THROUGH12 = 0xA1
};

#define ZEL_SCSI_CDB_MAX 16u
#define ZEL_SCSI_INQUIRY_LEN 36u
#define ZEL_SCSI_SENSE_LEN 18u

/* Sense keys and additional sense codes used here. */
enum {
    ZEL_SCSI_KEY_MEDIUM_ERROR = 0x03,
    ZEL_SCSI_KEY_ILLEGAL_REQUEST = 0x05,
    ZEL_SCSI_ASC_WRITE_ERROR = 0x0C,
    ZEL_SCSI_ASC_READ_ERROR = 0x11,
    ZEL_SCSI_ASC_INVALID_OPCODE = 0x20,
    ZEL_SCSI_ASC_LBA_OUT_OF_RANGE = 0x21,
    ZEL_SCSI_ASC_INVALID_FIELD = 0x24
};

/* READ(10) / WRITE(10) as sent (big-endian fields). */
typedef struct __attribute__((packed)) zel_scsi_rw10 {
    uint8_t opcode;
    uint8_t flags;
    uint8_t lba[4];
    uint8_t group;
    uint8_t count[2];
    uint8_t control;
} zel_scsi_rw10_t;

/* Standard INQUIRY data (first 36 bytes). */
typedef struct __attribute__((packed)) zel_scsi_inquiry_data {
    uint8_t device_type;
    uint8_t removable; /* 0x80 */
    uint8_t version;
    uint8_t response_format;
    uint8_t additional_length;
    uint8_t flags[3];
    char vendor[8];
    char product[16];
    char revision[4];
} zel_scsi_inquiry_data_t;

/* READ CAPACITY(10) data. */
typedef struct __attribute__((packed)) zel_scsi_capacity10 {
    uint8_t last_lba[4];
    uint8_t block_size[4];
} zel_scsi_capacity10_t;

/* READ FORMAT CAPACITIES data: the list header and the current capacity. */
typedef struct __attribute__((packed)) zel_scsi_format_capacities {
    uint8_t reserved[3];
    uint8_t list_length; /* 8: one descriptor follows */
    uint8_t block_count[4];
    uint8_t descriptor_type; /* 2: formatted media */
    uint8_t block_length[3];
} zel_scsi_format_capacities_t;

/* Fixed-format sense data. */
typedef struct __attribute__((packed)) zel_scsi_sense_data {
    uint8_t response_code; /* 0x70 */
    uint8_t obsolete;
    uint8_t sense_key;
    uint8_t information[4];
    uint8_t additional_length; /* 10 */
    uint8_t command_info[4];
    uint8_t asc;
    uint8_t ascq;
    uint8_t fru;
    uint8_t key_specific[3];
} zel_scsi_sense_data_t;

/* Command length by opcode group (opcode >> 5): 6, 10, 10, 0, 16, 12; 0 for
 * opcodes 192 and above. */
uint32_t zel_scsi_get_command_len(const uint8_t *cdb);
/* True for READ(6/10/12/16) and WRITE(6/10/12/16), with the block address and
 * count filled in (a 6-byte count of 0 means 256); false for any other
 * opcode, including those of groups 2, 3, 6 and 7 whose low bits look alike. */
bool zel_scsi_get_rw_param(const uint8_t *cdb, uint64_t *lba, uint32_t *count);
/* True for the READ opcodes among those. */
bool zel_scsi_is_read(const uint8_t *cdb);

#ifdef __cplusplus
static_assert(sizeof(zel_scsi_rw10_t) == 10, "READ(10) / WRITE(10)");
static_assert(sizeof(zel_scsi_inquiry_data_t) == ZEL_SCSI_INQUIRY_LEN, "INQUIRY data");
static_assert(sizeof(zel_scsi_capacity10_t) == 8, "READ CAPACITY(10) data");
static_assert(sizeof(zel_scsi_format_capacities_t) == 12, "READ FORMAT CAPACITIES data");
static_assert(sizeof(zel_scsi_sense_data_t) == ZEL_SCSI_SENSE_LEN, "sense data");
}
#endif

#endif

/* The block device over an open file of the file tree (an image file).
 *
 * The creator opens the file, fills `file` and `block_size`, sets the table
 * zel_file_mal_drv and runs zel_mal_init, which takes the file's size rounded
 * down to whole blocks as the device's size. Transfers seek the file and read
 * or write it through the file API; the file keeps one position, so requests
 * run one at a time, the others waiting in arrival order.
 *
 * Codes: init -8 for a block size of 0; read and write -1 for a range that
 * is not whole blocks inside the device, a seek that fails or a step that
 * cannot be started, else the file API's answer (the count moved). */
#ifndef ZEL_FILE_MAL_H
#define ZEL_FILE_MAL_H

#include "zel_fs.h"
#include "zel_io_gate.h"
#include "zel_mal.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_file_mal {
    zel_mal_t mal;
    zel_file_t *file;
    uint32_t block_size;
    /* kept by the driver */
    zel_io_gate_t gate;
} zel_file_mal_t;

extern const zel_mal_drv_t zel_file_mal_drv;

uint32_t zel_file_mal_blksz(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op);
void zel_file_mal_init(void *locals, zel_evt_t evt);
void zel_file_mal_read(void *locals, zel_evt_t evt);
void zel_file_mal_write(void *locals, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

/* A window onto part of another block device: address 0 of the window is
 * `offset` of the underlying device. Transfers that would reach past the
 * window's end are refused with -7, so a window never touches data of the
 * underlying device outside itself. */
#ifndef ZEL_WINDOW_MAL_H
#define ZEL_WINDOW_MAL_H

#include "zel_mal.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_window_mal {
    zel_mal_t mal;     /* size: the window's length */
    zel_mal_t *parent; /* the underlying device */
    uint64_t offset;   /* bytes */
} zel_window_mal_t;

extern const zel_mal_drv_t zel_window_mal_drv;

uint32_t zel_window_mal_blksz(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op);
[[nodiscard]] int zel_window_mal_buffer(
    zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op, zel_mal_mem_t *out);
void zel_window_mal_read(void *locals, zel_evt_t evt);
void zel_window_mal_write(void *locals, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

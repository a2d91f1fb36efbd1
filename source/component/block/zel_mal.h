/* Block devices: byte-addressed stores read and written in whole blocks.
 *
 * Every device begins with `zel_mal_t` (its table and its size in bytes);
 * the kind's own fields follow. init, fini, read and write are sub-call
 * handlers whose target is the device; read and write answer the count moved
 * or a negative code. Callers pass whole blocks and check that the count they
 * get is the count they asked for. */
#ifndef ZEL_MAL_H
#define ZEL_MAL_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_mal zel_mal_t;

enum { ZEL_MAL_OP_READ = 1, ZEL_MAL_OP_WRITE = 2 };

/* A buffer of a lower layer: {buffer, size}. */
typedef struct zel_mal_mem {
    void *buffer;
    uint32_t size;
} zel_mal_mem_t;

/* Parameter block of read and write; init and fini take none. */
typedef struct zel_mal_rw_param {
    uint64_t address;
    uint32_t size;
    void *buffer;
    uint8_t zero[8];
} zel_mal_rw_param_t;

typedef struct zel_mal_drv {
    /* plain: the block size that applies to the range and operation */
    uint32_t (*blksz)(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op);
    /* plain, or none: non-zero with `out` = a lower layer's buffer for the range */
    int (*buffer)(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op, zel_mal_mem_t *out);
    zel_eda_frame_handler_t init;
    zel_eda_frame_handler_t fini;
    uintptr_t reserved; /* always 0 */
    zel_eda_frame_handler_t read;
    zel_eda_frame_handler_t write;
} zel_mal_drv_t;

struct zel_mal {
    const zel_mal_drv_t *drv;
    uint64_t size; /* bytes */
};

/* Generic calls. The sub-call ones answer 0 when the slot was started (its
 * answer arrives with 260) or -6. */
[[nodiscard]] int32_t zel_mal_init(zel_mal_t *mal);
[[nodiscard]] int32_t zel_mal_fini(zel_mal_t *mal);
[[nodiscard]] int32_t zel_mal_read(zel_mal_t *mal, uint64_t address, uint32_t size, void *buffer);
[[nodiscard]] int32_t zel_mal_write(zel_mal_t *mal, uint64_t address, uint32_t size, const void *buffer);
uint32_t zel_mal_blksz(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op);
/* 0 when the device has no buffer slot. */
[[nodiscard]] int zel_mal_buffer(zel_mal_t *mal, uint64_t address, uint32_t size, uint32_t op, zel_mal_mem_t *out);

/* True when [address, address + size) lies inside the device. */
static inline bool zel_mal_in_range(const zel_mal_t *mal, uint64_t address, uint32_t size) {
    return address <= mal->size && size <= mal->size - address;
}

/* The stock fini and init of kinds that need none: answers 0. */
void zel_mal_succeed(void *locals, zel_evt_t evt);

/* True when the range is whole blocks of `block` bytes. */
static inline bool zel_mal_whole_blocks(uint32_t block, uint64_t address, uint32_t size) {
    return block != 0 && address % block == 0 && size % block == 0;
}

#ifdef __cplusplus
}
#endif

#endif

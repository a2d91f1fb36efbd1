/* Small utilities: byte order, unaligned access, bit searches,
 * bitmaps, formatted text and the index ring. Lists are in zel_list.h. */
#ifndef ZEL_UTIL_H
#define ZEL_UTIL_H

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "zel_list.h"

#ifdef __cplusplus
extern "C" {
#endif

static inline uint16_t zel_bswap_16(uint16_t v) { return (uint16_t)((v >> 8) | (v << 8)); }
static inline uint32_t zel_bswap_32(uint32_t v) { return __builtin_bswap32(v); }
static inline uint64_t zel_bswap_64(uint64_t v) { return __builtin_bswap64(v); }

static inline uint16_t zel_get_unaligned_le16(const void *p) {
    const uint8_t *b = (const uint8_t *)p;
    return (uint16_t)(b[0] | (b[1] << 8));
}
static inline uint32_t zel_get_unaligned_le32(const void *p) {
    const uint8_t *b = (const uint8_t *)p;
    return (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
}
static inline uint64_t zel_get_unaligned_le64(const void *p) {
    const uint8_t *b = (const uint8_t *)p;
    return (uint64_t)zel_get_unaligned_le32(b) | ((uint64_t)zel_get_unaligned_le32(b + 4) << 32);
}
static inline uint16_t zel_get_unaligned_be16(const void *p) {
    const uint8_t *b = (const uint8_t *)p;
    return (uint16_t)((b[0] << 8) | b[1]);
}
static inline uint32_t zel_get_unaligned_be32(const void *p) {
    const uint8_t *b = (const uint8_t *)p;
    return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | (uint32_t)b[3];
}
static inline uint64_t zel_get_unaligned_be64(const void *p) {
    const uint8_t *b = (const uint8_t *)p;
    return ((uint64_t)zel_get_unaligned_be32(b) << 32) | (uint64_t)zel_get_unaligned_be32(b + 4);
}
static inline void zel_put_unaligned_cpu16(uint16_t v, void *p) { memcpy(p, &v, 2); }
static inline void zel_put_unaligned_cpu32(uint32_t v, void *p) { memcpy(p, &v, 4); }
static inline void zel_put_unaligned_le32(uint32_t v, void *p) {
    uint8_t *b = (uint8_t *)p;
    b[0] = (uint8_t)v;
    b[1] = (uint8_t)(v >> 8);
    b[2] = (uint8_t)(v >> 16);
    b[3] = (uint8_t)(v >> 24);
}
/* Stores the low word, then the high word, little-endian. */
static inline void zel_put_unaligned_le64(uint64_t v, void *p) {
    zel_put_unaligned_le32((uint32_t)v, p);
    zel_put_unaligned_le32((uint32_t)(v >> 32), (uint8_t *)p + 4);
}
static inline void zel_put_unaligned_be16(uint16_t v, void *p) {
    uint8_t *b = (uint8_t *)p;
    b[0] = (uint8_t)(v >> 8);
    b[1] = (uint8_t)v;
}
static inline void zel_put_unaligned_be32(uint32_t v, void *p) {
    uint8_t *b = (uint8_t *)p;
    b[0] = (uint8_t)(v >> 24);
    b[1] = (uint8_t)(v >> 16);
    b[2] = (uint8_t)(v >> 8);
    b[3] = (uint8_t)v;
}

/* Bit searches: index or -1. */
int zel_msb32(uint32_t v);
int zel_fls32(uint32_t v);
int zel_ffs32(uint32_t v);
int zel_ffs32_i8(uint32_t v);
int zel_ffz32(uint32_t v);
int zel_ffz32_i8(uint32_t v);

/* Bitmaps: arrays of u32; bit i is bit i%32 of word i/32. */
typedef uint32_t zel_bitmap_t;
void zel_bitmap_reset(zel_bitmap_t *bitmap, int n);
int zel_bitmap_ffz(const zel_bitmap_t *bitmap, int n);
int zel_bitmap_ffs(const zel_bitmap_t *bitmap, int n);
static inline void zel_bitmap_set(zel_bitmap_t *bitmap, int i) { bitmap[i / 32] |= 1u << (i % 32); }
static inline void zel_bitmap_clear(zel_bitmap_t *bitmap, int i) { bitmap[i / 32] &= ~(1u << (i % 32)); }
static inline bool zel_bitmap_test(const zel_bitmap_t *bitmap, int i) { return (bitmap[i / 32] >> (i % 32)) & 1u; }

/* Formatted text. These are the framework's `sprintf` and `sscanf` under
 * their own names: on Linux, defining the C library's names would replace
 * them for every library in the process. */
int zel_sprintf(char *buffer, const char *format, ...) __attribute__((format(printf, 2, 3)));
int zel_sscanf(const char *text, const char *format, ...);
/* The scanner engine: text of `length` characters. */
int zel_vsscanf(const char *text, size_t length, const char *format, va_list args);

/* Index ring of u16 positions (nothing in the system uses it). */
typedef struct zel_idx_ring {
    uint16_t size;
    uint16_t head;
    uint16_t length;
    uint16_t tail;
    uint16_t peeked;
    uint16_t peek;
} zel_idx_ring_t;
void zel_idx_ring_init(zel_idx_ring_t *ring, uint16_t size);
int zel_idx_ring_write(zel_idx_ring_t *ring, uint16_t *n);
int zel_idx_ring_read(zel_idx_ring_t *ring, uint16_t *n);
int zel_idx_ring_peek(zel_idx_ring_t *ring, uint16_t *n);
int zel_idx_ring_peek_one(zel_idx_ring_t *ring);
void zel_idx_ring_peek_commit(zel_idx_ring_t *ring);
void zel_idx_ring_peek_reset(zel_idx_ring_t *ring);
uint16_t zel_idx_ring_length(const zel_idx_ring_t *ring);
uint16_t zel_idx_ring_unpeeked_length(const zel_idx_ring_t *ring);

#ifdef __cplusplus
}
#endif

#endif

/* Stream pumps: move a byte range between a block device and a byte stream,
 * one contiguous area of the stream at a time, in whole blocks. Each runs as
 * a sub-call on its pump record and answers the bytes moved; it ends when the
 * range is done, a transfer fails or answers nothing, or the stream's peer
 * goes away. */
#ifndef ZEL_MAL_STREAM_H
#define ZEL_MAL_STREAM_H

#include "zel_mal.h"
#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One per transfer, given by the caller and kept alive until it answers. */
typedef struct zel_mal_pump {
    zel_mal_t *mal;
    uintptr_t spare;
    uint64_t address;
    uint32_t left;
    uint32_t done;
    zel_stream_t *stream;
    uint32_t piece_len; /* length of the area under way */
    void *piece;        /* the area under way, none between pieces */
    zel_eda_t *agent;   /* the agent running the pump */
    uint8_t peer_gone;
} zel_mal_pump_t;

/* Reads [address, address + size) of the pump's device into the stream (as
 * its writing side). 0 when started, -6. */
[[nodiscard]] int32_t zel_mal_read_to_stream(
    zel_mal_pump_t *pump, uint64_t address, uint32_t size, zel_stream_t *stream);
/* Writes [address, address + size) of the device from the stream (as its
 * reading side). 0 when started, -6. */
[[nodiscard]] int32_t zel_mal_write_from_stream(
    zel_mal_pump_t *pump, uint64_t address, uint32_t size, zel_stream_t *stream);

#ifdef __cplusplus
}
#endif

#endif

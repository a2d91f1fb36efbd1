// Debug output stream class: accepts everything, keeps nothing.
#include "zel_stream_debug.h"

namespace {

uint32_t write(zel_stream_t *, const void *, uint32_t size) { return size; }
uint32_t data_length(zel_stream_t *) { return 0; }
uint32_t free_length(zel_stream_t *) { return ZEL_STREAM_UNLIMITED; }

}  // namespace

extern "C" {

void zel_debug_stream_init(zel_stream_t *s) {
    zel_stream_connect_rx(s);
    if (zel_stream_t *in = reinterpret_cast<zel_stream_debug_t *>(s)->console_in) zel_stream_connect_tx(in);
}

const zel_stream_op_t zel_stream_debug_op = {
    .init = zel_debug_stream_init,
    .fini = nullptr,
    .write = write,
    .read = nullptr,
    .buffer_size = nullptr,
    .data_length = data_length,
    .free_length = free_length,
    .get_wbuf = nullptr,
    .get_rbuf = nullptr,
    .readable_length = nullptr,
};

}  // extern "C"

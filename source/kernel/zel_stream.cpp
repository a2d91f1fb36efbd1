// Byte streams: the common layer over the class table (notices, connection
// order, area caps).
#include "zel_stream.h"

namespace {

uint32_t data_length(zel_stream_t *s) { return s->op->data_length ? s->op->data_length(s) : 0; }
uint32_t free_length(zel_stream_t *s) { return s->op->free_length ? s->op->free_length(s) : 0; }
uint32_t buffer_size(zel_stream_t *s) { return s->op->buffer_size ? s->op->buffer_size(s) : 0; }
uint32_t readable_length(zel_stream_t *s) {
    return s->op->readable_length ? s->op->readable_length(s) : data_length(s);
}

void call(zel_stream_t *s, zel_stream_side_t &side, uint32_t evt) {
    if (side.handler) side.handler(s, side.param, evt);
}

// Tell `side` once that `length` has reached its threshold.
void notify(zel_stream_t *s, zel_stream_side_t &side, uint32_t length, uint32_t evt) {
    if (side.connected && length >= side.threshold && !side.notified && side.handler) {
        side.notified = 1;
        side.handler(s, side.param, evt);
    }
}

// The tail of a write: re-arm the writer, tell the reader about the data.
void after_write(zel_stream_t *s) {
    uint32_t d = readable_length(s);
    s->tx.notified = 0;
    notify(s, s->rx, d, ZEL_STREAM_EVT_DATA);
}

// The tail of a read: re-arm the reader, tell the writer about the space.
void after_read(zel_stream_t *s) {
    uint32_t f = free_length(s);
    s->rx.notified = 0;
    notify(s, s->tx, f, ZEL_STREAM_EVT_SPACE);
}

// The side that was there first hears first.
void connect(zel_stream_t *s, zel_stream_side_t &self, zel_stream_side_t &peer) {
    if (self.connected) return;
    if (peer.connected) {
        call(s, peer, ZEL_STREAM_EVT_CONNECTED);
        call(s, self, ZEL_STREAM_EVT_CONNECTED);
    }
    self.connected = 1;
}

void disconnect(zel_stream_t *s, zel_stream_side_t &self, zel_stream_side_t &peer) {
    if (self.connected && peer.connected) call(s, peer, ZEL_STREAM_EVT_DISCONNECTED);
    self.connected = 0;
}

uint32_t capped(zel_stream_t *s, uint32_t n, uint8_t cap) {
    if (!cap) return n;
    uint32_t half = buffer_size(s) / 2;
    return n > half ? half : n;
}

}  // namespace

extern "C" {

int zel_stream_init(zel_stream_t *s) {
    s->tx.connected = 0;
    s->rx.connected = 0;
    if (s->op->init) s->op->init(s);
    return 0;
}

void zel_stream_fini(zel_stream_t *s) {
    if (s->op->fini) s->op->fini(s);
}

uint32_t zel_stream_write(zel_stream_t *s, const void *buffer, uint32_t size) {
    uint32_t n = s->op->write ? s->op->write(s, buffer, size) : 0;
    after_write(s);
    return n;
}

uint32_t zel_stream_read(zel_stream_t *s, void *buffer, uint32_t size) {
    uint32_t n = s->op->read ? s->op->read(s, buffer, size) : 0;
    after_read(s);
    return n;
}

uint32_t zel_stream_get_free_size(zel_stream_t *s) { return free_length(s); }

uint32_t zel_stream_get_wbuf(zel_stream_t *s, void **area) {
    uint32_t n = s->op->get_wbuf ? s->op->get_wbuf(s, area) : 0;
    return capped(s, n, s->wbuf_cap);
}

uint32_t zel_stream_get_rbuf(zel_stream_t *s, void **area) {
    uint32_t n = s->op->get_rbuf ? s->op->get_rbuf(s, area) : 0;
    return capped(s, n, s->rbuf_cap);
}

void zel_stream_data_arrived(zel_stream_t *s) { notify(s, s->rx, readable_length(s), ZEL_STREAM_EVT_DATA); }

void zel_stream_space_returned(zel_stream_t *s) { notify(s, s->tx, free_length(s), ZEL_STREAM_EVT_SPACE); }

void zel_stream_set_tx_threshold(zel_stream_t *s, uint32_t bytes) {
    s->tx.threshold = bytes;
    after_read(s);
}

void zel_stream_set_rx_threshold(zel_stream_t *s, uint32_t bytes) {
    s->rx.threshold = bytes;
    after_write(s);
}

void zel_stream_connect_tx(zel_stream_t *s) { connect(s, s->tx, s->rx); }
void zel_stream_connect_rx(zel_stream_t *s) { connect(s, s->rx, s->tx); }
void zel_stream_disconnect_tx(zel_stream_t *s) { disconnect(s, s->tx, s->rx); }
void zel_stream_disconnect_rx(zel_stream_t *s) { disconnect(s, s->rx, s->tx); }
bool zel_stream_is_tx_connected(const zel_stream_t *s) { return s->tx.connected != 0; }
bool zel_stream_is_rx_connected(const zel_stream_t *s) { return s->rx.connected != 0; }

}  // extern "C"

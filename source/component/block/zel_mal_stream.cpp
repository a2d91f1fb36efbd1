#include "zel_mal_stream.h"

#include "zel_subcall.h"

namespace {

enum class PumpStep : uint8_t { WAIT_AREA = 0, TRANSFER };

struct PumpParam {
    uint8_t write;  // device write from the stream
};

// The stream's contiguous area on the pump's side: free space to read into,
// or data to write from.
uint32_t area_of(zel_mal_pump_t *pump, bool write, void **area) {
    return write ? zel_stream_get_rbuf(pump->stream, area) : zel_stream_get_wbuf(pump->stream, area);
}

uint32_t block_of(zel_mal_pump_t *pump, bool write) {
    const uint32_t bs = zel_mal_blksz(pump->mal, pump->address, pump->left, write ? ZEL_MAL_OP_WRITE : ZEL_MAL_OP_READ);
    return bs ? bs : 1;
}

// Hands the next area to the pump's agent when one of at least a block is
// there and none is under way.
void offer_area(zel_mal_pump_t *pump, bool write) {
    if (pump->piece || pump->left == 0) return;
    void *area = nullptr;
    const uint32_t n = area_of(pump, write, &area);
    if (area && n >= block_of(pump, write)) {
        pump->piece = area;
        pump->piece_len = n;
        (void)zel_eda_wake(pump->agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    }
}

void on_side_event(zel_stream_t *, uintptr_t param, uint32_t evt, bool write) {
    auto *pump = reinterpret_cast<zel_mal_pump_t *>(param);
    if (evt == ZEL_STREAM_EVT_DISCONNECTED) {
        pump->peer_gone = 1;
        if (!pump->piece)
            (void)zel_eda_wake(pump->agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
        return;
    }
    const uint32_t wanted = write ? ZEL_STREAM_EVT_DATA : ZEL_STREAM_EVT_SPACE;
    if (evt == ZEL_STREAM_EVT_CONNECTED || evt == wanted) offer_area(pump, write);
}

void on_tx_event(zel_stream_t *s, uintptr_t param, uint32_t evt) { on_side_event(s, param, evt, false); }
void on_rx_event(zel_stream_t *s, uintptr_t param, uint32_t evt) { on_side_event(s, param, evt, true); }

void finish(zel_mal_pump_t *pump, bool write) {
    if (write)
        zel_stream_disconnect_rx(pump->stream);
    else
        zel_stream_disconnect_tx(pump->stream);
    zel_answer(pump->done);
}

void pump_handler(void *locals, zel_evt_t evt) {
    auto *pump = zel_target<zel_mal_pump_t>(locals);
    const bool write = static_cast<PumpParam *>(locals)->write;
    zel_stream_t *s = pump->stream;
    if (evt == ZEL_EVT_INIT) {
        pump->done = 0;
        pump->piece = nullptr;
        pump->peer_gone = 0;
        pump->agent = zel_eda_get_cur();
        if (pump->left == 0) {
            zel_answer(0);
            return;
        }
        zel_stream_side_t &side = write ? s->rx : s->tx;
        side.param = reinterpret_cast<uintptr_t>(pump);
        side.handler = write ? on_rx_event : on_tx_event;
        side.threshold = block_of(pump, write);
        if (write)
            zel_stream_connect_rx(s);
        else
            zel_stream_connect_tx(s);
        offer_area(pump, write);
        return;
    }
    if (evt == ZEL_EVT_WAKE && zel_step<PumpStep>() == PumpStep::WAIT_AREA) {
        if (!pump->piece) {
            if (pump->peer_gone) finish(pump, write);
            return;
        }
        const uint32_t bs = block_of(pump, write);
        uint32_t len = pump->piece_len < pump->left ? pump->piece_len : pump->left;
        len -= len % bs;
        if (len == 0) {
            pump->piece = nullptr;
            finish(pump, write);
            return;
        }
        zel_set_step(PumpStep::TRANSFER);
        const int32_t started = write ? zel_mal_write(pump->mal, pump->address, len, pump->piece)
                                      : zel_mal_read(pump->mal, pump->address, len, pump->piece);
        if (started != 0) {
            pump->piece = nullptr;
            finish(pump, write);
        }
        return;
    }
    if (evt == ZEL_EVT_RETURN && zel_step<PumpStep>() == PumpStep::TRANSFER) {
        const intptr_t r = zel_subcall_result();
        pump->piece = nullptr;
        zel_set_step(PumpStep::WAIT_AREA);
        if (r <= 0) {
            finish(pump, write);
            return;
        }
        const uint32_t n = (uint32_t)r;
        pump->done += n;
        pump->address += n;
        pump->left -= n;
        if (write)
            zel_stream_read(s, nullptr, n);
        else
            zel_stream_write(s, nullptr, n);
        if (pump->left == 0 || pump->peer_gone) {
            finish(pump, write);
            return;
        }
        offer_area(pump, write);
    }
}

int32_t start_pump(zel_mal_pump_t *pump, uint64_t address, uint32_t size, zel_stream_t *stream, bool write) {
    pump->address = address;
    pump->left = size;
    pump->done = 0;
    pump->stream = stream;
    pump->piece = nullptr;
    pump->piece_len = 0;
    return zel_subcall(pump_handler, pump, PumpParam{write});
}

}  // namespace

int32_t zel_mal_read_to_stream(zel_mal_pump_t *pump, uint64_t address, uint32_t size, zel_stream_t *stream) {
    return start_pump(pump, address, size, stream, false);
}

int32_t zel_mal_write_from_stream(zel_mal_pump_t *pump, uint64_t address, uint32_t size, zel_stream_t *stream) {
    return start_pump(pump, address, size, stream, true);
}

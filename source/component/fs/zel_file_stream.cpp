// zel_file_read_to_stream: pumps a file into a byte stream, as its writer.
#include "zel_file.h"
#include "zel_fs_internal.h"

namespace {

enum class PumpStep : uint8_t {
    start = 0,
    waiting,  // for a free write area (or the reader to leave)
    reading   // the file fills the write area
};

struct PumpParam {
    zel_file_read_to_stream_t *rec;
};

// Takes the stream's free write area as the next chunk, when none is under way.
bool take_chunk(zel_file_read_to_stream_t *rec) {
    if (rec->chunk || !rec->remaining) return false;
    void *area = nullptr;
    uint32_t n = zel_stream_get_wbuf(rec->stream, &area);
    if (!n || !area) return false;
    rec->chunk = n;
    rec->area = area;
    return true;
}

// The writer side's handler: runs in the context of the reader's call.
void writer_event(zel_stream_t *, uintptr_t param, uint32_t evt) {
    auto *rec = reinterpret_cast<zel_file_read_to_stream_t *>(param);
    if (evt == ZEL_STREAM_EVT_DISCONNECTED) {
        rec->peer_gone = 1;
        (void)zel_eda_wake(rec->agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    } else if ((evt == ZEL_STREAM_EVT_CONNECTED || evt == ZEL_STREAM_EVT_SPACE) && take_chunk(rec)) {
        (void)zel_eda_wake(rec->agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    }
}

void end_pump(zel_file_read_to_stream_t *rec, intptr_t code) {
    zel_stream_disconnect_tx(rec->stream);
    rec->stream->tx.handler = nullptr;
    zel_answer(code);
}

// Waits for the next chunk; one that is free already is taken at once.
void wait_for_space(zel_file_read_to_stream_t *rec) {
    zel_set_step(PumpStep::waiting);
    if (take_chunk(rec))
        (void)zel_eda_wake(rec->agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
}

void on_wake(zel_file_read_to_stream_t *rec) {
    if (rec->chunk) {
        if (rec->chunk > rec->remaining) rec->chunk = rec->remaining;
        zel_set_step(PumpStep::reading);
        int32_t r = zel_file_read(rec->file, rec->area, rec->chunk);
        if (r != 0) end_pump(rec, r);
    } else if (rec->peer_gone) {
        end_pump(rec, ZEL_FS_ERR_FAILED);
    }
}

void on_read(zel_file_read_to_stream_t *rec) {
    intptr_t n = zel_subcall_result();
    if (n <= 0) {
        end_pump(rec, n < 0 ? n : ZEL_FS_ERR_FAILED);  // failed, or the file ended first
        return;
    }
    rec->chunk = 0;
    rec->remaining -= static_cast<uint32_t>(n);
    rec->sent += static_cast<uint32_t>(n);
    zel_stream_write(rec->stream, nullptr, static_cast<uint32_t>(n));
    if (rec->remaining == 0)
        end_pump(rec, 0);
    else if (rec->peer_gone)
        end_pump(rec, ZEL_FS_ERR_FAILED);
    else
        wait_for_space(rec);
}

void pump_handler(void *locals, zel_evt_t evt) {
    zel_file_read_to_stream_t *rec = static_cast<PumpParam *>(locals)->rec;
    switch (zel_step<PumpStep>()) {
    case PumpStep::start:
        if (evt != ZEL_EVT_INIT) return;
        rec->agent = zel_eda_get_cur();
        if (rec->remaining == 0) {
            zel_answer(0);
            return;
        }
        zel_set_step(PumpStep::waiting);
        rec->stream->tx.handler = writer_event;
        rec->stream->tx.param = reinterpret_cast<uintptr_t>(rec);
        zel_stream_connect_tx(rec->stream);
        if (zel_stream_is_rx_connected(rec->stream)) wait_for_space(rec);
        return;
    case PumpStep::waiting:
        if (evt == ZEL_EVT_WAKE) on_wake(rec);
        return;
    case PumpStep::reading:
        if (evt == ZEL_EVT_RETURN) on_read(rec);
        return;
    }
}

}  // namespace

extern "C" int32_t zel_file_read_to_stream(zel_file_read_to_stream_t *record, zel_stream_t *stream, uint32_t size) {
    if (!record || !stream || !record->file) return ZEL_FS_ERR_INVALID;
    record->stream = stream;
    record->remaining = size;
    record->sent = 0;
    record->chunk = 0;
    record->area = nullptr;
    record->peer_gone = 0;
    record->agent = nullptr;
    return zel_subcall(pump_handler, record, PumpParam{record});
}

// Stream descriptors, pipe ends, and the glue between streams and
// descriptor events.
#include "zel_linux_stream_fd.h"

#include "zel_linux_console.h"
#include "zel_linux_file.h"
#include "zel_linux_process.h"
#include "zel_stream_heapnode.h"

namespace {

zel_linux_stream_priv_t *sp(zel_linux_fd_t *fd) { return reinterpret_cast<zel_linux_stream_priv_t *>(fd->priv); }

bool is_terminal(const zel_linux_fd_t *fd) { return fd->op == &zel_linux_console_op; }

bool has_data(zel_stream_t *s) { return s && zel_stream_get_rbuf(s, nullptr) > 0; }

uint32_t clamp(size_t n) { return n > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(n); }

// The part's own event change, or its relay hook's.
void relay(zel_linux_stream_priv_t *s, uint16_t events, int set) { zel_linux_fd_event_relay(&s->head, 0, events, set); }

// After a read: readable while data is left, else the condition ends.
void refresh_readable(zel_linux_stream_priv_t *s) {
    if (has_data(s->rx))
        zel_linux_fd_set_events(&s->head, ZEL_LINUX_EV_READ);
    else if (s->relay)
        s->relay(&s->head, 0, ZEL_LINUX_EV_READ, 0);
    else
        zel_linux_fd_clear_events(&s->head, ZEL_LINUX_EV_READ);
}

// Writable: the stream has room, as much as its writer's threshold at
// least (a pipe's: room for a whole small write).
bool room_enough(zel_stream_t *s) {
    uint32_t free = zel_stream_get_free_size(s);
    return free > 0 && free >= s->tx.threshold;
}

// After a write: writable while room enough is left, else the condition ends.
void refresh_writable(zel_linux_stream_priv_t *s) {
    if (s->tx && room_enough(s->tx))
        zel_linux_fd_set_events(&s->head, ZEL_LINUX_EV_WRITE);
    else if (s->relay)
        s->relay(&s->head, 0, ZEL_LINUX_EV_WRITE, 0);
    else
        zel_linux_fd_clear_events(&s->head, ZEL_LINUX_EV_WRITE);
}

// The echo of one byte read from a terminal, through the console's escape
// state machine.
struct echo_out {
    zel_linux_fd_t *out;
    void put(const char *text, size_t n) {
        if (!out || !out->op || !out->op->write) return;
        out->call_flags = 0;
        out->op->write(out, text, n);
    }
};

void echo_byte(zel_linux_console_priv_t *c, echo_out &o, uint8_t b) {
    switch (static_cast<zel_linux_echo_state_t>(c->echo_state)) {
    case ZEL_LINUX_ECHO_ESC:
        if (b == '[' || b == 'O') {
            c->echo_state = b;
            return;
        }
        c->echo_state = ZEL_LINUX_ECHO_PLAIN;
        break;  // handled as a plain byte below
    case ZEL_LINUX_ECHO_SS3: c->echo_state = ZEL_LINUX_ECHO_PLAIN; return;
    case ZEL_LINUX_ECHO_CSI:
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '~') c->echo_state = ZEL_LINUX_ECHO_PLAIN;
        return;
    case ZEL_LINUX_ECHO_PLAIN: break;
    }
    if (b == 8 || b == 127) {
        o.put("\b \b", 3);
    } else if (b == 27) {
        c->echo_state = ZEL_LINUX_ECHO_ESC;
    } else {
        char ch = static_cast<char>(b);
        o.put(&ch, 1);
    }
}

void echo(zel_linux_fd_t *fd, const uint8_t *bytes, uint32_t n) {
    if (!is_terminal(fd) || n == 0 || zel_linux_isatty(fd->number) != 1) return;
    zel_linux_console_priv_t *c = reinterpret_cast<zel_linux_console_priv_t *>(fd->priv);
    if ((c->stream.head.status & ZEL_LINUX_O_NOECHO) || !(c->attr.c_lflag & ZEL_LINUX_ECHO)) return;
    echo_out o{zel_linux_fd_get(1)};
    for (uint32_t i = 0; i < n; ++i) echo_byte(c, o, bytes[i]);
}

void disconnect(zel_linux_fd_t *fd) {
    zel_linux_stream_priv_t *s = sp(fd);
    if (s->rx) zel_stream_disconnect_rx(s->rx);
    if (s->tx) zel_stream_disconnect_tx(s->tx);
}

}  // namespace

extern "C" {

const zel_linux_fd_op_t zel_linux_stream_op = {
    .priv_size = sizeof(zel_linux_stream_priv_t),
    .init = nullptr,
    .fcntl = zel_linux_fd_fcntl_zero,
    .read = zel_linux_stream_read,
    .write = zel_linux_stream_write,
    .close = zel_linux_stream_close,
    .eof = nullptr,
};
const zel_linux_fd_op_t zel_linux_pipe_rx_op = {
    .priv_size = sizeof(zel_linux_pipe_rx_priv_t),
    .init = nullptr,
    .fcntl = zel_linux_fd_fcntl_zero,
    .read = zel_linux_pipe_read,
    .write = nullptr,
    .close = zel_linux_pipe_close,
    .eof = zel_linux_pipe_rx_eof,
};
const zel_linux_fd_op_t zel_linux_pipe_tx_op = {
    .priv_size = sizeof(zel_linux_pipe_tx_priv_t),
    .init = nullptr,
    .fcntl = zel_linux_fd_fcntl_zero,
    .read = nullptr,
    .write = zel_linux_pipe_write,
    .close = zel_linux_pipe_close,
    .eof = zel_linux_pipe_tx_eof,
};

zel_linux_ssize_t zel_linux_stream_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    zel_linux_stream_priv_t *s = sp(fd);
    if (count == 0) {
        refresh_readable(s);
        return 0;
    }
    while (!has_data(s->rx)) {
        // End of data once the writer has gone.
        if (!s->rx || !zel_stream_is_tx_connected(s->rx)) return 0;
        if (s->head.status & ZEL_LINUX_O_NONBLOCK) {
            // A terminal without VMIN answers 0; anything else would read as
            // the end of the data.
            if (is_terminal(fd)) return 0;
            zel_linux_set_errno(ZEL_LINUX_EAGAIN);
            return -1;
        }
        if (s->head.pending & ZEL_LINUX_EV_READ) {
            zel_linux_fd_consume_events(&s->head, ZEL_LINUX_EV_READ);
            continue;  // a stale event: look again
        }
        // Nothing to read: the condition does not hold, so the next arrival
        // raises a fresh event.
        zel_linux_fd_clear_events(&s->head, ZEL_LINUX_EV_READ);
        if (!zel_linux_fd_wait(fd, ZEL_LINUX_EV_READ)) return -1;
    }
    uint32_t n = zel_stream_read(s->rx, buffer, clamp(count));
    echo(fd, static_cast<const uint8_t *>(buffer), n);
    refresh_readable(s);
    return n;
}

zel_linux_ssize_t zel_linux_stream_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    zel_linux_stream_priv_t *s = sp(fd);
    const char *bytes = static_cast<const char *>(buffer);
    size_t sent = 0;
    while (sent < count) {
        // The read end may have gone, before the call or while it waited;
        // what went before that is counted (the next write fails).
        if (!s->tx) {
            if (sent) break;
            zel_linux_set_errno(ZEL_LINUX_EPIPE);
            return -1;
        }
        // A write takes what fits, however little: writable may say less
        // (a pipe's waits for room for a whole small write).
        if (zel_stream_get_free_size(s->tx) == 0) {
            if (s->head.status & ZEL_LINUX_O_NONBLOCK) {
                if (sent) break;
                zel_linux_set_errno(ZEL_LINUX_EAGAIN);
                return -1;
            }
            // Full: the condition does not hold, so the reader's notice of
            // room raises a fresh event.
            zel_linux_fd_clear_events(&s->head, ZEL_LINUX_EV_WRITE);
            if (!zel_linux_fd_wait(fd, ZEL_LINUX_EV_WRITE)) return -1;
            continue;
        }
        uint32_t taken = zel_stream_write(s->tx, bytes + sent, clamp(count - sent));
        sent += taken;
        if (taken == 0) {
            // Room, yet nothing taken: the stream cannot store (no memory).
            if (!sent) {
                zel_linux_set_errno(ZEL_LINUX_ENOMEM);
                return -1;
            }
            break;
        }
    }
    refresh_writable(s);
    return static_cast<zel_linux_ssize_t>(sent);
}

zel_linux_ssize_t zel_linux_pipe_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    zel_linux_pipe_rx_priv_t *rx = reinterpret_cast<zel_linux_pipe_rx_priv_t *>(fd->priv);
    zel_linux_ssize_t n = zel_linux_stream_read(fd, buffer, count);
    // A pipe's read answers 0 only at the end: empty, and the writer gone.
    if (n == 0 && count > 0) rx->drained = 1;
    return n;
}

zel_linux_ssize_t zel_linux_pipe_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    zel_linux_stream_priv_t *s = sp(fd);
    // A small write waits until all of it fits, so that it is never split.
    while (count <= ZEL_LINUX_PIPE_ATOMIC && s->tx && zel_stream_get_free_size(s->tx) < count) {
        if (s->head.status & ZEL_LINUX_O_NONBLOCK) {
            zel_linux_set_errno(ZEL_LINUX_EAGAIN);
            return -1;
        }
        // Less room than a small write: not writable. The stream tells the
        // write end once room for a whole small write has come back.
        zel_linux_fd_clear_events(&s->head, ZEL_LINUX_EV_WRITE);
        if (!zel_linux_fd_wait(fd, ZEL_LINUX_EV_WRITE)) return -1;
    }
    return zel_linux_stream_write(fd, buffer, count);
}

int zel_linux_stream_close(zel_linux_fd_t *fd) {
    // The console's streams stay connected for the whole run.
    if (!is_terminal(fd)) disconnect(fd);
    return 0;
}

int zel_linux_pipe_close(zel_linux_fd_t *fd) {
    if (fd->op == &zel_linux_pipe_rx_op) {
        zel_linux_pipe_rx_priv_t *rx = reinterpret_cast<zel_linux_pipe_rx_priv_t *>(fd->priv);
        zel_stream_t *stream = rx->stream.rx;
        if (stream) zel_stream_read(stream, nullptr, 0xFFFFFFFFu);
        if (!is_terminal(fd)) disconnect(fd);
        if (zel_linux_pipe_tx_priv_t *tx = rx->peer) {
            // From now on the write end reports an error (and writable: its
            // writes fail at once).
            tx->stream.head.sticky |= ZEL_LINUX_EV_ERR;
            zel_linux_fd_set_events(&tx->stream.head, ZEL_LINUX_EV_ERR);
            if (rx->owns_stream) tx->stream.tx = nullptr;
            tx->peer = nullptr;
            rx->peer = nullptr;
        }
        if (rx->owns_stream && stream) {
            zel_stream_fini(stream);
            zel_linux_free_p(zel_linux_kernel_process_get(), stream);
            rx->stream.rx = nullptr;
        }
        return 0;
    }
    zel_linux_pipe_tx_priv_t *tx = reinterpret_cast<zel_linux_pipe_tx_priv_t *>(fd->priv);
    if (!is_terminal(fd)) disconnect(fd);
    if (zel_linux_pipe_rx_priv_t *rx = tx->peer) {
        // From now on the read end reports readable (what is left, then 0)
        // and hung up.
        rx->stream.head.sticky |= ZEL_LINUX_EV_READ | ZEL_LINUX_EV_HUP;
        zel_linux_fd_set_events(&rx->stream.head, ZEL_LINUX_EV_READ | ZEL_LINUX_EV_HUP);
        rx->peer = nullptr;
        tx->peer = nullptr;
    }
    return 0;
}

int zel_linux_pipe_rx_eof(zel_linux_fd_t *fd) {
    const zel_linux_pipe_rx_priv_t *rx = reinterpret_cast<const zel_linux_pipe_rx_priv_t *>(fd->priv);
    return !rx->stream.rx || rx->drained;
}

int zel_linux_pipe_tx_eof(zel_linux_fd_t *fd) {
    zel_stream_t *s = sp(fd)->tx;
    return !s || !zel_stream_is_rx_connected(s);
}

void zel_linux_fd_event_relay(zel_linux_fd_priv_t *priv, uintptr_t zero, uint16_t events, int set) {
    zel_linux_stream_priv_t *s = reinterpret_cast<zel_linux_stream_priv_t *>(priv);
    if (s->relay) {
        s->relay(priv, zero, events, set);
        return;
    }
    if (set)
        zel_linux_fd_set_events_isr(priv, events);
    else
        zel_linux_fd_clear_events(priv, events);
}

void zel_linux_fd_stream_evthandler(zel_stream_t *stream, uintptr_t param, uint32_t event) {
    zel_linux_stream_priv_t *s = reinterpret_cast<zel_linux_stream_priv_t *>(param);
    uint16_t bit;
    switch (event) {
    case ZEL_STREAM_EVT_DISCONNECTED:
        bit = (stream == s->tx && stream != s->rx) ? ZEL_LINUX_EV_WRITE : ZEL_LINUX_EV_READ;
        break;
    case ZEL_STREAM_EVT_DATA: bit = ZEL_LINUX_EV_READ; break;
    case ZEL_STREAM_EVT_SPACE: bit = ZEL_LINUX_EV_WRITE; break;
    default: return;
    }
    relay(s, bit, 1);
}

void zel_linux_fd_bind_tx_stream(zel_linux_fd_t *fd, zel_stream_t *stream) {
    stream->tx.handler = zel_linux_fd_stream_evthandler;
    stream->tx.param = reinterpret_cast<uintptr_t>(fd->priv);
    zel_stream_connect_tx(stream);
    if (room_enough(stream)) relay(sp(fd), ZEL_LINUX_EV_WRITE, 1);
}

void zel_linux_fd_bind_rx_stream(zel_linux_fd_t *fd, zel_stream_t *stream) {
    stream->rx.handler = zel_linux_fd_stream_evthandler;
    stream->rx.param = reinterpret_cast<uintptr_t>(fd->priv);
    zel_stream_connect_rx(stream);
    if (has_data(stream)) relay(sp(fd), ZEL_LINUX_EV_READ, 1);
}

zel_linux_fd_t *zel_linux_pipe_rx_create(zel_stream_t *stream) {
    zel_linux_fd_t *fd = nullptr;
    if (zel_linux_fd_create(&fd, &zel_linux_pipe_rx_op) < 0) return nullptr;
    zel_linux_pipe_rx_priv_t *rx = reinterpret_cast<zel_linux_pipe_rx_priv_t *>(fd->priv);
    if (!stream) {
        zel_stream_heapnode_t *q = static_cast<zel_stream_heapnode_t *>(
            zel_linux_calloc_p(zel_linux_kernel_process_get(), 1, sizeof(zel_stream_heapnode_t)));
        if (!q) {
            zel_linux_fd_priv_free(fd->priv);
            fd->priv = nullptr;
            zel_linux_fd_delete(fd->number);
            return nullptr;
        }
        // Bounded: a writer that finds it full waits for the reader (or
        // answers EAGAIN), so a busy writer lets the reader and the rest of
        // the system run, and one whose reader has gone learns it soon.
        q->stream.op = &zel_stream_heapnode_op;
        q->limit = ZEL_LINUX_PIPE_CAPACITY;
        q->max_nodes = 0xFFFFFFFFu;
        (void)zel_stream_init(&q->stream);  // cannot fail
        stream = &q->stream;
        rx->owns_stream = 1;
    }
    rx->stream.rx = stream;
    zel_stream_set_tx_threshold(stream, 0);
    zel_stream_set_rx_threshold(stream, 0);
    zel_linux_fd_bind_rx_stream(fd, stream);
    return fd;
}

zel_linux_fd_t *zel_linux_pipe_tx_create(zel_linux_pipe_rx_priv_t *rx_priv) {
    zel_linux_fd_t *fd = nullptr;
    if (zel_linux_fd_create(&fd, &zel_linux_pipe_tx_op) < 0) return nullptr;
    zel_linux_pipe_tx_priv_t *tx = reinterpret_cast<zel_linux_pipe_tx_priv_t *>(fd->priv);
    tx->stream.tx = rx_priv->stream.rx;
    if (tx->stream.tx) zel_linux_fd_bind_tx_stream(fd, tx->stream.tx);
    tx->peer = rx_priv;
    rx_priv->peer = tx;
    return fd;
}

int zel_linux_pipe(int fds[2]) {
    zel_linux_fd_t *rx = zel_linux_pipe_rx_create(nullptr);
    if (!rx) return -1;
    // The write end is writable, and hears of room, only while a whole small
    // write fits: a writer that polls before it writes is not told of room
    // that its write could not use.
    zel_stream_set_tx_threshold(
        reinterpret_cast<zel_linux_pipe_rx_priv_t *>(rx->priv)->stream.rx, ZEL_LINUX_PIPE_ATOMIC);
    zel_linux_fd_t *tx = zel_linux_pipe_tx_create(reinterpret_cast<zel_linux_pipe_rx_priv_t *>(rx->priv));
    if (!tx) {
        zel_linux_close(rx->number);
        return -1;
    }
    fds[0] = rx->number;
    fds[1] = tx->number;
    return 0;
}

}  // extern "C"

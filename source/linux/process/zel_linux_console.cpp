// The console terminal class and the console descriptors of the kernel
// process.
#include "zel_linux_console.h"

#include <string.h>

#include "zel_linux_file.h"

namespace {

zel_linux_console_priv_t *cp(zel_linux_fd_t *fd) { return reinterpret_cast<zel_linux_console_priv_t *>(fd->priv); }

// A console descriptor of the kernel process over the given streams.
zel_linux_fd_t *open_console(int number, zel_stream_t *rx, zel_stream_t *tx, uint32_t status) {
    zel_linux_fd_t *fd = nullptr;
    if (zel_linux_fd_create_ex(zel_linux_kernel_process_get(), &fd, &zel_linux_console_op, number, nullptr) < 0)
        return nullptr;
    zel_linux_console_priv_t *c = cp(fd);
    c->inner = &zel_linux_stream_op;
    c->stream.head.status = status;
    zel_linux_stdio_init(fd);
    c->stream.rx = rx;
    c->stream.tx = tx;
    if (rx) zel_linux_fd_bind_rx_stream(fd, rx);
    if (tx) zel_linux_fd_bind_tx_stream(fd, tx);
    return fd;
}

}  // namespace

extern "C" {

const zel_linux_termios zel_linux_console_default_attr = {0, 0x5, 0x30, 0x7A,
    {0, 0, 0x08, 0x15, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x11,
    0x11};

const zel_linux_fd_op_t zel_linux_console_op = {
    .priv_size = sizeof(zel_linux_console_priv_t),
    .init = zel_linux_stdio_init,
    .fcntl = zel_linux_stdio_fcntl,
    .read = zel_linux_stdio_read,
    .write = zel_linux_stdio_write,
    .close = zel_linux_stdio_close,
    .eof = nullptr,
};

int zel_linux_stdio_init(zel_linux_fd_t *fd) {
    cp(fd)->attr = zel_linux_console_default_attr;
    return 0;
}

int zel_linux_stdio_fcntl(zel_linux_fd_t *fd, int command, uintptr_t arg) {
    zel_linux_console_priv_t *c = cp(fd);
    if (command == ZEL_LINUX_TCGETS) {
        memcpy(reinterpret_cast<void *>(arg), &c->attr, sizeof c->attr);
        return 0;
    }
    if (command == ZEL_LINUX_TCSETS) memcpy(&c->attr, reinterpret_cast<const void *>(arg), sizeof c->attr);
    if (c->inner && c->inner->fcntl) {
        int r = c->inner->fcntl(fd, command, arg);
        if (r != 0) return r;
    }
    if (command == ZEL_LINUX_TCSETS) {
        // VMIN 0: reads do not wait.
        if (c->attr.c_cc[ZEL_LINUX_VMIN] == 0)
            c->stream.head.status |= ZEL_LINUX_O_NONBLOCK;
        else
            c->stream.head.status &= ~static_cast<uint32_t>(ZEL_LINUX_O_NONBLOCK);
    }
    return 0;
}

zel_linux_ssize_t zel_linux_stdio_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    const zel_linux_fd_op_t *inner = cp(fd)->inner;
    return (inner && inner->read) ? inner->read(fd, buffer, count) : 0;
}

zel_linux_ssize_t zel_linux_stdio_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    const zel_linux_fd_op_t *inner = cp(fd)->inner;
    return (inner && inner->write) ? inner->write(fd, buffer, count) : 0;
}

int zel_linux_stdio_close(zel_linux_fd_t *fd) {
    const zel_linux_fd_op_t *inner = cp(fd)->inner;
    return (inner && inner->close) ? inner->close(fd) : 0;
}

void zel_linux_stdio_relay(zel_linux_fd_priv_t *priv, uintptr_t, uint16_t events, int set) {
    if (set)
        zel_linux_fd_set_events_isr(priv, events);
    else
        zel_linux_fd_clear_events(priv, events);
    zel_linux_fd_priv_t *target = static_cast<zel_linux_fd_priv_t *>(priv->link);
    if (target && (events & ZEL_LINUX_EV_READ)) zel_linux_fd_event_relay(target, 0, ZEL_LINUX_EV_READ, set);
}

int zel_linux_console_open_stdio(const zel_linux_stdio_stream_t *stdio) {
    zel_linux_fd_t *in = open_console(0, stdio->in, nullptr, 0);
    zel_linux_fd_t *out = open_console(1, nullptr, stdio->out, ZEL_LINUX_O_WRONLY);
    if (!in || !out) return -1;
    // Descriptor 2 reads the input stream last, so it holds the stream's one
    // reader side; its relay carries input readiness on to descriptor 0.
    zel_linux_fd_t *err = open_console(2, nullptr, stdio->err ? stdio->err : stdio->out, 0);
    if (!err) return -1;
    zel_linux_console_priv_t *c = cp(err);
    c->stream.relay = zel_linux_stdio_relay;
    c->stream.head.link = in->priv;
    c->stream.rx = stdio->in;
    if (stdio->in) zel_linux_fd_bind_rx_stream(err, stdio->in);
    return 0;
}

int zel_linux_isatty(int fd) {
    zel_linux_fd_t *rec = zel_linux_fd_get(fd);
    return rec && rec->op == &zel_linux_console_op;
}

int zel_linux_tcgetattr(int fd, zel_linux_termios *out) { return zel_linux_fcntl(fd, ZEL_LINUX_TCGETS, out); }

int zel_linux_tcsetattr(int fd, int, const zel_linux_termios *in) { return zel_linux_fcntl(fd, ZEL_LINUX_TCSETS, in); }

}  // extern "C"

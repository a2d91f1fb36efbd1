// A terminal on a serial port.
#include "zel_linux_dev_term.h"

#include <string.h>

#include "zel_linux_console.h"
#include "zel_trace.h"
#include "zel_vfs.h"

namespace {

constexpr uint32_t kBaud[] = {
    50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

zel_linux_term_priv_t *tp(zel_linux_fd_t *fd) { return reinterpret_cast<zel_linux_term_priv_t *>(fd->priv); }

// The port: the target bound to the node that was opened.
zel_usart_t *port_of(zel_file_t *node) {
    if (!node || node->driver != &zel_vfs_op) return nullptr;
    return static_cast<zel_usart_t *>(reinterpret_cast<zel_vfs_file_t *>(node)->u.bound.data);
}

}  // namespace

extern "C" {

uint32_t zel_linux_term_baud(uint32_t code) {
    return code >= 1 && code <= sizeof kBaud / sizeof kBaud[0] ? kBaud[code - 1] : 0;
}

uint32_t zel_linux_term_mode(uint32_t cflag) {
    static const uint32_t size[] = {0x800, 0x4000, 0x8000, 0};
    uint32_t mode = size[(cflag & 0x30) >> 4];
    if (cflag & 0x100) mode |= (cflag & 0x200) ? 0x600 : 0x400;
    if (!(cflag & 0x40)) mode |= 0x2000;
    return mode;
}

int zel_linux_term_config(zel_linux_term_priv_t *term) {
    if (term->attr.c_ispeed != term->attr.c_ospeed) {
        zel_trace(1, "term: doesnot support different input/output speed\n");
        return -1;
    }
    uint32_t baud = zel_linux_term_baud(term->attr.c_ospeed);
    if (!baud || !term->port) {
        zel_trace(1, "term: baudrate does not supported\n");
        return -1;
    }
    zel_usart_cfg_t cfg = {zel_linux_term_mode(term->attr.c_cflag), baud, 0, zel_linux_term_uart_isr,
        reinterpret_cast<uintptr_t>(term), 0};
    zel_usart_irq_disable(term->port, ZEL_USART_IRQ_RX_DONE);
    (void)zel_usart_disable(term->port);  // reconfigured just below either way
    if (term->port->op->init(term->port, &cfg) != 0) return -1;
    if (zel_usart_enable(term->port) != 0) return -1;

    zel_usart_irq_enable(term->port, ZEL_USART_IRQ_RX_DONE);
    return 0;
}

int zel_linux_term_init(zel_linux_fd_t *fd) {
    zel_linux_term_priv_t *term = tp(fd);
    term->port = port_of(term->file.file);
    term->attr = zel_linux_console_default_attr;
    term->rx.stream.op = &zel_stream_ring_op;
    term->rx.buffer = term->rx_buffer;
    term->rx.size = sizeof term->rx_buffer;
    (void)zel_stream_init(&term->rx.stream);  // cannot fail
    zel_stream_connect_tx(&term->rx.stream);
    zel_stream_connect_rx(&term->rx.stream);
    return zel_linux_term_config(term);
}

int zel_linux_term_fcntl(zel_linux_fd_t *fd, int command, uintptr_t arg) {
    zel_linux_term_priv_t *term = tp(fd);
    if (command == ZEL_LINUX_TCGETS) {
        memcpy(reinterpret_cast<void *>(arg), &term->attr, sizeof term->attr);
    } else if (command == ZEL_LINUX_TCSETS) {
        memcpy(&term->attr, reinterpret_cast<const void *>(arg), sizeof term->attr);
        // The port may refuse the settings; the call answers 0 all the same.
        (void)zel_linux_term_config(term);
    }
    return 0;
}

long zel_linux_term_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    zel_linux_term_priv_t *term = tp(fd);
    if (count == 0) return 0;
    uint32_t want = count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
    for (;;) {
        // The port's interrupt cannot run while this thread does.
        uint32_t n = zel_stream_read(&term->rx.stream, buffer, want);
        if (term->rx.data == 0) zel_linux_fd_clear_events(&term->file.head, ZEL_LINUX_EV_READ);
        if (n > 0) return n;
        if (term->file.head.status & ZEL_LINUX_O_NONBLOCK) return 0;
        zel_linux_trig_t trig;
        zel_linux_trig_init(&trig);
        if (!zel_linux_fd_pend_events(&term->file.head, ZEL_LINUX_EV_READ, &trig)) return -1;
    }
}

long zel_linux_term_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    zel_linux_term_priv_t *term = tp(fd);
    if (count == 0) return 0;
    if (!term->port || count > UINT32_MAX) return -1;
    term->writer = zel_eda_get_cur();
    if (zel_usart_request_tx(term->port, buffer, static_cast<uint32_t>(count)) != 0) {
        term->writer = nullptr;
        return -1;
    }
    zel_thread_wait_for_evt(ZEL_EVT_WAKE);
    term->writer = nullptr;
    return static_cast<long>(count);
}

int zel_linux_term_close(zel_linux_fd_t *fd) {
    zel_linux_term_priv_t *term = tp(fd);
    if (term->port) {
        zel_usart_irq_disable(term->port, ZEL_USART_IRQ_RX_DONE);
        (void)zel_usart_disable(term->port);  // closing: nothing is left to do on a refusal
    }
    (void)zel_file_close(term->file.file);  // -6 only without a call frame: the node then stays referenced
    return 0;
}

void zel_linux_term_uart_isr(uintptr_t param, zel_usart_t *port, uint32_t bits) {
    auto *term = reinterpret_cast<zel_linux_term_priv_t *>(param);
    if (bits & ZEL_USART_IRQ_RX_DONE) {
        bool moved = false;
        for (uint32_t waiting = zel_usart_rxfifo_get_data_count(port); waiting > 0;) {
            uint32_t room = zel_stream_get_free_size(&term->rx.stream);
            if (room == 0) {
                zel_trace(1, "term: uart rx buffer overflow, please increase ZEL_LINUX_DEVFS_UART_CFG_RX_BUFSIZE\n");
                break;
            }
            uint8_t chunk[ZEL_LINUX_TERM_RX_BUFSIZE];
            uint32_t n = zel_usart_rxfifo_read(port, chunk, waiting < room ? waiting : room);
            if (n == 0) break;
            zel_stream_write(&term->rx.stream, chunk, n);
            moved = true;
            waiting -= n < waiting ? n : waiting;
        }
        if (moved) zel_linux_fd_set_events_isr(&term->file.head, ZEL_LINUX_EV_READ);
    }
    if ((bits & ZEL_USART_IRQ_TX_DONE) && term->writer)
        (void)zel_eda_wake(term->writer, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
}

const zel_linux_fd_op_t zel_linux_term_op = {
    .priv_size = sizeof(zel_linux_term_priv_t),
    .init = zel_linux_term_init,
    .fcntl = zel_linux_term_fcntl,
    .read = zel_linux_term_read,
    .write = zel_linux_term_write,
    .close = zel_linux_term_close,
    .eof = nullptr,
};

}  // extern "C"

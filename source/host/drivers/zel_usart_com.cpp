// The COM serial-port driver: instances, scanner thread, receive and send
// threads, and the cancel hand-over.
#include "zel_usart_com.h"

#include <stddef.h>
#include <string.h>

#include "zel_host_lock.h"
#include "zel_list.h"
#include "zel_trace.h"

namespace {

constexpr const char kThreadName[] = "zel_usart_event\n";

// Scanner flags.
constexpr uint8_t kScanning = 0x01;
constexpr uint8_t kScannerStarted = 0x02;

struct scanner {
    zel_host_thread_t thread;
    zel_host_request_t request;
    zel_host_request_t done;  // tells the init that asked that the scan is over
    uint8_t flags;
    uint8_t table[ZEL_USART_COM_PORTS];  // COM numbers, 0 = free slot
    uint8_t count;
} g_scan;

// Per port: orders the cancel registration against the threads' hand-over,
// so that a wake is never lost between them, and a request's hand-over
// against its withdrawal.
zel_host_lock_t g_lock[ZEL_USART_COM_PORTS];

// Bits of `queued`: a request of that direction waits for its thread.
constexpr uint8_t kQueuedRx = 0x01;
constexpr uint8_t kQueuedTx = 0x02;
uint8_t queued_bit(bool rx) { return rx ? kQueuedRx : kQueuedTx; }

template <class T>
T load(const T *p) {
    return __atomic_load_n(p, __ATOMIC_SEQ_CST);
}
template <class T>
void store(T *p, T v) {
    __atomic_store_n(p, v, __ATOMIC_SEQ_CST);
}
template <class T>
T set_bits(T *p, T bits) {
    return __atomic_fetch_or(p, bits, __ATOMIC_SEQ_CST);
}
template <class T>
void clear_bits(T *p, T bits) {
    __atomic_fetch_and(p, T(~bits), __ATOMIC_SEQ_CST);
}

zel_usart_com_t *com_of(zel_usart_t *u) { return reinterpret_cast<zel_usart_com_t *>(u); }

void trace_port(int level, const char *format, zel_usart_com_t *c) {
    char path[256] = "";
    unsigned com = g_scan.table[c->index];
    if (!com || !zel_host_serial_path(com, path, sizeof path)) strcpy(path, "?");
    zel_trace(level, format, path, c->index);
}

// ---- scanner ----

int slot_of(uint8_t com) {
    for (int i = 0; i < ZEL_USART_COM_PORTS; ++i)
        if (g_scan.table[i] == com) return i;
    return -1;
}

void scan_once() {
    for (unsigned com = 1; com <= ZEL_HOST_SERIAL_MAX_COM && g_scan.count < ZEL_USART_COM_PORTS; ++com) {
        int r = zel_host_serial_probe(com);
        int slot = slot_of(uint8_t(com));
        if (r == ZEL_HOST_SERIAL_OK) {
            if (slot < 0) {
                g_scan.table[slot_of(0)] = uint8_t(com);
                g_scan.count++;
            }
        } else if (r != ZEL_HOST_SERIAL_BUSY && slot >= 0) {
            g_scan.table[slot] = 0;  // gone; a busy port is there but in use
            g_scan.count--;
        }
    }
}

void scanner_entry(zel_host_thread_t *) {
    memset(g_scan.table, 0, sizeof g_scan.table);
    g_scan.count = 0;
    for (;;) {
        zel_host_request_pend(&g_scan.request);
        scan_once();
        clear_bits(&g_scan.flags, kScanning);
        zel_host_request_send(&g_scan.done);
    }
}

// Runs one scan and waits for it (framework context; the scanner needs no
// framework state, so waiting here cannot block it).
void rescan() {
    if (!(load(&g_scan.flags) & kScannerStarted)) {
        zel_host_request_init(&g_scan.request);
        zel_host_request_init(&g_scan.done);
        set_bits(&g_scan.flags, kScannerStarted);
        zel_host_thread_start(&g_scan.thread, kThreadName, scanner_entry, 0);
    }
    set_bits(&g_scan.flags, kScanning);
    zel_host_request_send(&g_scan.request);
    while (load(&g_scan.flags) & kScanning) zel_host_request_pend(&g_scan.done);
}

// ---- transfers ----

// A transfer of one direction ends: the busy bit goes (with the completion
// flag, when given, in the same step, so that a later request always clears
// it after) and a waiting cancel is woken, before the handler is called,
// because the canceller holds the interrupt lock that the handler's emulated
// interrupt needs.
void finish(zel_usart_com_t *c, bool rx, uint8_t done_flag = 0) {
    zel_host_request_t *waiting;
    {
        zel_host_lock_guard lock(g_lock[c->index]);
        if (done_flag) set_bits(&c->done_flags, done_flag);
        clear_bits(&c->state, uint8_t(rx ? ZEL_USART_ST_RX_BUSY : ZEL_USART_ST_TX_BUSY));
        zel_host_request_t **slot = rx ? &c->rx_cancel : &c->tx_cancel;
        waiting = *slot;
        *slot = nullptr;
    }
    if (waiting) zel_host_request_send(waiting);
}

// The thread of a direction takes the request it was woken for; false when
// the request was withdrawn (or already taken) meanwhile.
bool take_request(zel_usart_com_t *c, bool rx) {
    zel_host_lock_guard lock(g_lock[c->index]);
    if (!(c->queued & queued_bit(rx))) return false;
    c->queued = uint8_t(c->queued & ~queued_bit(rx));
    return true;
}

bool cancel_waiting(zel_usart_com_t *c, bool rx) {
    zel_host_lock_guard lock(g_lock[c->index]);
    return (rx ? c->rx_cancel : c->tx_cancel) != nullptr;
}

void call_handler(zel_usart_com_t *c, zel_host_thread_t *record, uint32_t bits) {
    zel_host_irq_enter(record);
    c->cfg.handler(c->cfg.param, &c->usart, bits);
    zel_host_irq_leave(record, 0);
}

// A transfer failed on the open it started on.
void failed(zel_usart_com_t *c, bool rx, uint32_t gen, int line) {
    const uint32_t error_bit = rx ? ZEL_USART_IRQ_RX_ERROR : ZEL_USART_IRQ_TX_ERROR;
    if (gen != load(&c->generation)) {
        finish(c, rx);  // the port was reopened meanwhile: nothing to report
        return;
    }
    if ((load(&c->irq_mask) & error_bit) && c->cfg.handler) {
        // The port is gone: disable it before closing, so that the other
        // direction's failure does not report it a second time.
        clear_bits(&c->irq_mask, 0xFFu);
        clear_bits(&c->state, uint8_t(ZEL_USART_ST_ENABLED | (rx ? ZEL_USART_ST_RX_BUSY : ZEL_USART_ST_TX_BUSY)));
        set_bits(&c->state, uint8_t(ZEL_USART_ST_NOT_OPEN));  // status tells it from here on
        store(&c->handle, intptr_t(-1));
        zel_host_serial_close(&c->port);
        finish(c, rx);
        call_handler(c, rx ? &c->rx_thread : &c->tx_thread, ZEL_USART_IRQ_GONE);
        return;
    }
    if (rx) zel_trace(1, "%p-->|com%d|  error with read!%s%d\n", static_cast<void *>(c), c->index, __FILE__, line);
    finish(c, rx);
}

void rx_entry(zel_host_thread_t *record) {
    zel_usart_com_t *c = ZEL_CONTAINER_OF(record, zel_usart_com_t, rx_thread);
    for (;;) {
        zel_host_request_pend(&c->rx_req);
        if (!take_request(c, true)) continue;
        const uint32_t gen = load(&c->generation);
        zel_host_serial_clear_cancel(&c->port, true);
        uint32_t count = 0;
        int r = ZEL_HOST_SERIAL_OK;
        while (count < c->rx_size) {
            store(&c->rx_count, count);
            if (cancel_waiting(c, true)) {
                r = ZEL_HOST_SERIAL_CANCELLED;
                break;
            }
            uint32_t n = 0;
            r = zel_host_serial_read(&c->port, c->rx_buf + count, c->rx_size - count, &n);
            count += n;
            if (r == ZEL_HOST_SERIAL_ERROR) break;
            r = ZEL_HOST_SERIAL_OK;  // a cancel is taken at the check above
        }
        store(&c->rx_count, count);
        if (r == ZEL_HOST_SERIAL_ERROR) {
            failed(c, true, gen, __LINE__);
            continue;
        }
        const bool tell = r == ZEL_HOST_SERIAL_OK && (load(&c->irq_mask) & ZEL_USART_IRQ_RX_DONE) && c->cfg.handler;
        finish(c, true, tell ? ZEL_USART_DONE_RX : 0);
        if (tell) call_handler(c, record, ZEL_USART_IRQ_RX_DONE);
    }
}

void tx_entry(zel_host_thread_t *record) {
    zel_usart_com_t *c = ZEL_CONTAINER_OF(record, zel_usart_com_t, tx_thread);
    for (;;) {
        zel_host_request_pend(&c->tx_req);
        if (!take_request(c, false)) continue;
        const uint32_t gen = load(&c->generation);
        store(&c->tx_count, 0u);
        if (cancel_waiting(c, false)) {
            finish(c, false);
            continue;
        }
        zel_host_serial_clear_cancel(&c->port, false);
        uint32_t n = 0;
        int r = zel_host_serial_write(&c->port, c->tx_buf, c->tx_size, &n);
        store(&c->tx_count, n);
        if (r == ZEL_HOST_SERIAL_ERROR) {
            failed(c, false, gen, __LINE__);
            continue;
        }
        const bool tell = r == ZEL_HOST_SERIAL_OK && (load(&c->irq_mask) & ZEL_USART_IRQ_TX_DONE) && c->cfg.handler;
        finish(c, false, tell ? ZEL_USART_DONE_TX : 0);
        if (tell) call_handler(c, record, ZEL_USART_IRQ_TX_DONE);
    }
}

// ---- operations ----

bool is_open(zel_usart_com_t *c) {
    intptr_t h = load(&c->handle);
    return h != 0 && h != -1;
}

int32_t op_init(zel_usart_t *u, const zel_usart_cfg_t *cfg) {
    zel_usart_com_t *c = com_of(u);
    if (load(&g_scan.flags) & kScanning) return ZEL_USART_ERR_FAILED;
    // Transfers still running on the old open now fail quietly.
    __atomic_fetch_add(&c->generation, 1u, __ATOMIC_SEQ_CST);
    bool scan = !(load(&g_scan.flags) & kScannerStarted) || g_scan.table[c->index] == 0;
    if (is_open(c)) {
        store(&c->state, uint8_t(ZEL_USART_ST_NOT_OPEN | ZEL_USART_ST_REOPENING));
        zel_host_serial_close(&c->port);
        scan = true;
    } else {
        set_bits(&c->state, uint8_t(ZEL_USART_ST_NOT_OPEN));
    }
    if (scan) rescan();
    store(&c->handle, intptr_t(-1));
    store(&c->tx_count, 0u);
    c->cfg = *cfg;
    store(&c->irq_mask, 0u);

    unsigned com = g_scan.table[c->index];
    if (!com) {
        zel_trace(1, "initialization failed!This hardware thread will be terminated!\n");
        return ZEL_USART_ERR_FAILED;
    }
    if (zel_host_serial_open(&c->port, com) != ZEL_HOST_SERIAL_OK) {
        trace_port(3, "cannot setup %s--zel_usart%d\n", c);
        return ZEL_USART_ERR_FAILED;
    }
    if (zel_host_serial_set_timeouts(&c->port, zel_usart_com_rx_interval_ms(cfg), 1, 1) != ZEL_HOST_SERIAL_OK) {
        trace_port(3, "cannot set CommTimeouts %s--zel_usart%d\n", c);
        zel_host_serial_close(&c->port);
        return ZEL_USART_ERR_FAILED;
    }
    zel_host_serial_cfg_t line;
    zel_usart_com_line(cfg, &line);
    int r = zel_host_serial_configure(&c->port, &line);
    if (r != ZEL_HOST_SERIAL_OK) {
        trace_port(3,
            r == ZEL_HOST_SERIAL_NO_STATE ? "cannot get CommState %s--zel_usart%d\n"
                                          : "cannot set CommState %s--zel_usart%d\n",
            c);
        zel_host_serial_close(&c->port);
        return ZEL_USART_ERR_FAILED;
    }
    (void)zel_host_serial_purge(&c->port);  // an open terminal: what waits is dropped or never was

    store(&c->handle, reinterpret_cast<intptr_t>(&c->port));
    clear_bits(&c->state, uint8_t(ZEL_USART_ST_NOT_OPEN));
    if (c->threads_not_started) {
        c->threads_not_started = 0;
        zel_host_request_init(&c->rx_req);
        zel_host_request_init(&c->tx_req);
        zel_host_thread_start(&c->rx_thread, kThreadName, rx_entry, cfg->priority);
        zel_host_thread_start(&c->tx_thread, kThreadName, tx_entry, cfg->priority);
    } else {
        clear_bits(&c->state, uint8_t(ZEL_USART_ST_REOPENING));
    }
    return 0;
}

int32_t op_enable(zel_usart_t *u) {
    set_bits(&com_of(u)->state, uint8_t(ZEL_USART_ST_ENABLED));
    return 0;
}

int32_t op_disable(zel_usart_t *u) {
    clear_bits(&com_of(u)->state, uint8_t(ZEL_USART_ST_ENABLED));
    return 0;
}

int32_t op_zero(zel_usart_t *) { return 0; }
void op_irq_enable(zel_usart_t *u, uint32_t mask) { set_bits(&com_of(u)->irq_mask, mask); }
void op_irq_disable(zel_usart_t *u, uint32_t mask) { clear_bits(&com_of(u)->irq_mask, mask); }

uint32_t op_status(zel_usart_t *u) {
    const uint8_t busy = ZEL_USART_ST_TX_BUSY | ZEL_USART_ST_RX_BUSY | ZEL_USART_ST_NOT_OPEN;
    return (load(&com_of(u)->state) & busy) ? 1 : 0;
}

uint32_t op_rxfifo_count(zel_usart_t *) { return 0; }
uint32_t op_rxfifo_read(zel_usart_t *, void *, uint32_t) { return 0; }

// Hands a transfer to the thread of its direction.
int32_t request(zel_usart_com_t *c, bool rx) {
    uint8_t st = load(&c->state);
    if (!(st & ZEL_USART_ST_ENABLED) || (st & ZEL_USART_ST_NOT_OPEN) || c->threads_not_started)
        return ZEL_USART_ERR_DISABLED;
    const uint8_t busy = rx ? ZEL_USART_ST_RX_BUSY : ZEL_USART_ST_TX_BUSY;
    if (set_bits(&c->state, busy) & busy) return ZEL_USART_ERR_BUSY;
    // A completion flag left from an earlier transfer must not answer a
    // cancel of this one.
    clear_bits(&c->done_flags, uint8_t(rx ? ZEL_USART_DONE_RX : ZEL_USART_DONE_TX));
    {
        zel_host_lock_guard lock(g_lock[c->index]);
        c->queued = uint8_t(c->queued | queued_bit(rx));
    }
    zel_host_request_send(rx ? &c->rx_req : &c->tx_req);
    return 0;
}

int32_t op_request_rx(zel_usart_t *u, void *buffer, uint32_t size) {
    zel_usart_com_t *c = com_of(u);
    uint8_t st = load(&c->state);
    if ((st & ZEL_USART_ST_ENABLED) && !(st & ZEL_USART_ST_RX_BUSY)) {
        c->rx_buf = static_cast<uint8_t *>(buffer);
        c->rx_size = size;
    }
    return request(c, true);
}

int32_t op_request_tx(zel_usart_t *u, const void *buffer, uint32_t size) {
    zel_usart_com_t *c = com_of(u);
    uint8_t st = load(&c->state);
    if ((st & ZEL_USART_ST_ENABLED) && !(st & ZEL_USART_ST_TX_BUSY)) {
        c->tx_buf = static_cast<const uint8_t *>(buffer);
        c->tx_size = size;
    }
    return request(c, false);
}

// Waits until the thread of that direction has stopped the transfer. A
// request that its thread has not taken yet is withdrawn instead: the thread
// may be waiting for the interrupt lock, which the caller holds, to report
// the transfer before it, so the cancel must not wait for it.
int32_t cancel(zel_usart_com_t *c, bool rx) {
    if (load(&c->handle) == 0) return 0;
    const uint8_t busy = rx ? ZEL_USART_ST_RX_BUSY : ZEL_USART_ST_TX_BUSY;
    const uint8_t done = rx ? ZEL_USART_DONE_RX : ZEL_USART_DONE_TX;
    zel_host_request_t **slot = rx ? &c->rx_cancel : &c->tx_cancel;
    zel_host_request_t wake;
    {
        zel_host_lock_guard lock(g_lock[c->index]);
        uint8_t st = load(&c->state);
        if (*slot || (!rx && (st & ZEL_USART_ST_NOT_OPEN))) return ZEL_USART_ERR_DISABLED;
        if (!(st & busy) || (st & ZEL_USART_ST_NOT_OPEN)) return 0;
        if (c->queued & queued_bit(rx)) {
            c->queued = uint8_t(c->queued & ~queued_bit(rx));
            store(rx ? &c->rx_count : &c->tx_count, 0u);
            clear_bits(&c->state, busy);
            return 0;
        }
        if (load(&c->done_flags) & done) {
            clear_bits(&c->done_flags, done);
            return 0;
        }
        zel_host_request_init(&wake);
        *slot = &wake;
    }
    zel_host_serial_cancel(&c->port, rx);
    zel_host_request_pend(&wake);
    {
        zel_host_lock_guard lock(g_lock[c->index]);
        if (*slot == &wake) *slot = nullptr;
    }
    zel_host_request_fini(&wake);
    return 0;
}

int32_t op_cancel_rx(zel_usart_t *u) { return cancel(com_of(u), true); }
int32_t op_cancel_tx(zel_usart_t *u) { return cancel(com_of(u), false); }
uint32_t op_rx_count(zel_usart_t *u) { return load(&com_of(u)->rx_count); }
uint32_t op_tx_count(zel_usart_t *u) { return load(&com_of(u)->tx_count); }

constexpr zel_usart_com_t make_port(uint8_t index) {
    zel_usart_com_t c{};
    c.usart.op = &zel_usart_com_op;
    c.index = index;
    c.state = ZEL_USART_ST_NOT_OPEN;
    c.threads_not_started = 1;
    return c;
}

}  // namespace

extern "C" {

const zel_usart_op_t zel_usart_com_op = {
    .init = op_init,
    .enable = op_enable,
    .disable = op_disable,
    .reserved3 = op_zero,
    .irq_enable = op_irq_enable,
    .irq_disable = op_irq_disable,
    .status = op_status,
    .rxfifo_get_data_count = op_rxfifo_count,
    .rxfifo_read = op_rxfifo_read,
    .reserved9 = op_zero,
    .reserved10 = op_zero,
    .request_rx = op_request_rx,
    .request_tx = op_request_tx,
    .cancel_rx = op_cancel_rx,
    .cancel_tx = op_cancel_tx,
    .get_rx_count = op_rx_count,
    .get_tx_count = op_tx_count,
};

zel_usart_com_t zel_usart_com[ZEL_USART_COM_PORTS] = {
    make_port(0), make_port(1), make_port(2), make_port(3), make_port(4), make_port(5), make_port(6), make_port(7)};

uint32_t zel_usart_com_rx_interval_ms(const zel_usart_cfg_t *cfg) {
    if (!cfg->rx_timeout_chars || !cfg->baud) return 0;
    double bits = 10.0 + ((cfg->mode & ZEL_USART_MODE_9BITS) ? 1 : 0) + ((cfg->mode & ZEL_USART_MODE_2STOP) ? 1 : 0);
    double ms = cfg->rx_timeout_chars * bits * (1000.0 / cfg->baud);
    return ms >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(ms);
}

void zel_usart_com_line(const zel_usart_cfg_t *cfg, zel_host_serial_cfg_t *line) {
    const uint32_t mode = cfg->mode;
    line->baud = cfg->baud;
    line->data_bits = (mode & ZEL_USART_MODE_9BITS) ? 9 : 8;
    line->stop_bits = (mode & ZEL_USART_MODE_2STOP) ? 2 : 1;
    line->odd_parity = (mode & (ZEL_USART_MODE_CTS | ZEL_USART_MODE_PARITY_ODD)) ? 1 : 0;
    line->cts_flow = (mode & ZEL_USART_MODE_CTS) ? 1 : 0;
    line->rts_flow = (mode & ZEL_USART_MODE_RTS) ? 1 : 0;
}

uint8_t zel_usart_com_scanned(unsigned slot) { return slot < ZEL_USART_COM_PORTS ? load(&g_scan.table[slot]) : 0; }

}  // extern "C"

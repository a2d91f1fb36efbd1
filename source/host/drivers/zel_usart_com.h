/* The COM serial-port driver: eight port instances over the host's serial
 * devices (zel_host_serial.h maps COM numbers to devices), each with a
 * receive and a send host thread, and a scanner thread that keeps a table of
 * up to eight COM ports present. Instance i opens the port in slot i of that
 * table; the first init, and any init whose slot is empty, scans first.
 *
 * Transfers: request_rx/request_tx hand a buffer to the port's thread; the
 * handler set in the configuration hears 0x08 (received) or 0x10 (sent) from
 * inside an emulated interrupt, when those bits are in the interrupt mask. A
 * failed transfer with the error bit (0x20 / 0x40) in the mask treats the port
 * as gone: it is closed and disabled, and the handler hears 0x60. Cancels wait
 * for the thread to stop the transfer and leave the port ready for the next
 * request. */
#ifndef ZEL_USART_COM_H
#define ZEL_USART_COM_H

#include "zel_host.h"
#include "zel_host_serial.h"
#include "zel_usart.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_USART_COM_PORTS 8

/* Port state bits. */
#define ZEL_USART_ST_ENABLED 0x08u
#define ZEL_USART_ST_REOPENING 0x10u
#define ZEL_USART_ST_TX_BUSY 0x20u
#define ZEL_USART_ST_RX_BUSY 0x40u
#define ZEL_USART_ST_NOT_OPEN 0x80u
/* Completion flags, consumed by the cancels. */
#define ZEL_USART_DONE_RX 0x08u
#define ZEL_USART_DONE_TX 0x04u

typedef struct zel_usart_com {
    zel_usart_t usart; /* its driver table */
    uint32_t irq_mask;
    uint8_t index; /* slot of the scanner's table */
    uint8_t state;
    uint8_t done_flags;
    uint8_t threads_not_started;
    zel_usart_cfg_t cfg;
    const uint8_t *tx_buf;
    uint32_t tx_size;
    uint32_t tx_count;
    uint8_t *rx_buf;
    uint32_t rx_size;
    uint32_t rx_count;
    intptr_t handle; /* 0 never opened, -1 closed */
    zel_host_thread_t rx_thread;
    zel_host_thread_t tx_thread;
    zel_host_request_t rx_req;
    zel_host_request_t tx_req;
    zel_host_request_t *rx_cancel; /* the wake object of a waiting receive cancel */
    zel_host_request_t *tx_cancel;
    /* Linux port additions */
    zel_host_serial_t port;
    uint32_t generation; /* counts opens: a transfer of an older open fails quietly */
    uint8_t queued;      /* requests handed over and not yet taken by their thread */
} zel_usart_com_t;

extern const zel_usart_op_t zel_usart_com_op;
extern zel_usart_com_t zel_usart_com[ZEL_USART_COM_PORTS];

/* How the driver maps a configuration onto the host port: the gap that ends
 * a receive (receive timeout in characters x frame bits x 1000 / baud ms,
 * truncated; 0 when the timeout is 0) and the line settings from the mode. */
uint32_t zel_usart_com_rx_interval_ms(const zel_usart_cfg_t *cfg);
void zel_usart_com_line(const zel_usart_cfg_t *cfg, zel_host_serial_cfg_t *line);

/* The scanner's table: the COM number in `slot`, 0 when free. */
uint8_t zel_usart_com_scanned(unsigned slot);

#ifdef __cplusplus
}
#endif

#endif

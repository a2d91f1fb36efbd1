/* Serial-port drivers: a table of 17 operations that the Linux-emulation
 * layer calls without knowing the host. An instance starts with its table. */
#ifndef ZEL_USART_H
#define ZEL_USART_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_usart zel_usart_t;

/* Interrupt bits: the mask and the bits passed to the handler. */
#define ZEL_USART_IRQ_RX_DONE 0x08u
#define ZEL_USART_IRQ_TX_DONE 0x10u
#define ZEL_USART_IRQ_RX_ERROR 0x20u
#define ZEL_USART_IRQ_TX_ERROR 0x40u
#define ZEL_USART_IRQ_GONE 0x60u /* the port is gone (either error) */

/* Mode bits. */
#define ZEL_USART_MODE_RTS 0x0100u        /* RTS handshaking */
#define ZEL_USART_MODE_CTS 0x0200u        /* CTS output flow control (also odd parity) */
#define ZEL_USART_MODE_PARITY_ODD 0x0400u /* odd parity */
#define ZEL_USART_MODE_9BITS 0x1000u      /* nine data bits, else eight */
#define ZEL_USART_MODE_2STOP 0x2000u      /* two stop bits, else one */

/* Errors. */
enum {
    ZEL_USART_ERR_DISABLED = -5, /* port disabled, not open, or a cancel already waiting */
    ZEL_USART_ERR_FAILED = -7,   /* open or configuration failed */
    ZEL_USART_ERR_BUSY = -13     /* a transfer of that direction is in progress */
};

typedef void (*zel_usart_handler_t)(uintptr_t param, zel_usart_t *usart, uint32_t bits);

typedef struct zel_usart_cfg {
    uint32_t mode;
    uint32_t baud;
    uint32_t rx_timeout_chars;   /* gap that ends a receive, in characters; 0 none */
    zel_usart_handler_t handler; /* called inside an emulated interrupt */
    uintptr_t param;
    int32_t priority; /* of the host threads (ignored by the host) */
} zel_usart_cfg_t;

typedef struct zel_usart_op {
    int32_t (*init)(zel_usart_t *usart, const zel_usart_cfg_t *cfg);
    int32_t (*enable)(zel_usart_t *usart);
    int32_t (*disable)(zel_usart_t *usart);
    int32_t (*reserved3)(zel_usart_t *usart);
    void (*irq_enable)(zel_usart_t *usart, uint32_t mask);
    void (*irq_disable)(zel_usart_t *usart, uint32_t mask);
    uint32_t (*status)(zel_usart_t *usart); /* 1 busy or not open, else 0 */
    uint32_t (*rxfifo_get_data_count)(zel_usart_t *usart);
    uint32_t (*rxfifo_read)(zel_usart_t *usart, void *buffer, uint32_t size);
    int32_t (*reserved9)(zel_usart_t *usart);
    int32_t (*reserved10)(zel_usart_t *usart);
    int32_t (*request_rx)(zel_usart_t *usart, void *buffer, uint32_t size);
    int32_t (*request_tx)(zel_usart_t *usart, const void *buffer, uint32_t size);
    int32_t (*cancel_rx)(zel_usart_t *usart);
    int32_t (*cancel_tx)(zel_usart_t *usart);
    uint32_t (*get_rx_count)(zel_usart_t *usart);
    uint32_t (*get_tx_count)(zel_usart_t *usart);
} zel_usart_op_t;

struct zel_usart {
    const zel_usart_op_t *op;
};

[[nodiscard]] int32_t zel_usart_enable(zel_usart_t *usart);
[[nodiscard]] int32_t zel_usart_disable(zel_usart_t *usart);
void zel_usart_irq_enable(zel_usart_t *usart, uint32_t mask);
void zel_usart_irq_disable(zel_usart_t *usart, uint32_t mask);
uint32_t zel_usart_rxfifo_get_data_count(zel_usart_t *usart);
uint32_t zel_usart_rxfifo_read(zel_usart_t *usart, void *buffer, uint32_t size);
[[nodiscard]] int32_t zel_usart_request_tx(zel_usart_t *usart, const void *buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif

// Dispatchers of the serial-port and clock driver tables.
#include "zel_rtc.h"
#include "zel_usart.h"

extern "C" {

int32_t zel_usart_enable(zel_usart_t *u) { return u->op->enable(u); }
int32_t zel_usart_disable(zel_usart_t *u) { return u->op->disable(u); }
void zel_usart_irq_enable(zel_usart_t *u, uint32_t mask) { u->op->irq_enable(u, mask); }
void zel_usart_irq_disable(zel_usart_t *u, uint32_t mask) { u->op->irq_disable(u, mask); }
uint32_t zel_usart_rxfifo_get_data_count(zel_usart_t *u) { return u->op->rxfifo_get_data_count(u); }
uint32_t zel_usart_rxfifo_read(zel_usart_t *u, void *buffer, uint32_t size) {
    return u->op->rxfifo_read(u, buffer, size);
}
int32_t zel_usart_request_tx(zel_usart_t *u, const void *buffer, uint32_t size) {
    return u->op->request_tx(u, buffer, size);
}

int32_t zel_rtc_get(zel_rtc_t *rtc, zel_rtc_tm_t *tm) { return rtc->op->get(rtc, tm); }

}  // extern "C"

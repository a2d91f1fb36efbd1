/* The "nspro" class's context: the hand-shake on the interrupt endpoints,
 * then reports to the hook. */
#ifndef ZEL_USBH_NSPRO_H
#define ZEL_USBH_NSPRO_H

#include "zel_usbh_hid.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_NSPRO_OUTPUT_LEN 2u

typedef enum zel_usbh_nspro_state {
    ZEL_NSPRO_HELLO = 0,  /* waits for a report 0x81 0x01, answers 0x80 0x02 */
    ZEL_NSPRO_ENABLE = 1, /* waits for 0x81 0x02, answers 0x80 0x04 */
    ZEL_NSPRO_RUNNING = 2 /* reports go to the hook */
} zel_usbh_nspro_state_t;

typedef struct zel_usbh_nspro {
    zel_usbh_hid_t hid;
    uint8_t output[ZEL_NSPRO_OUTPUT_LEN];
    uint32_t state; /* zel_usbh_nspro_state_t */
    uint8_t output_idle;
    uint8_t status_byte3; /* from the controller's first status report */
    uint32_t status_word; /* its bytes 4-7 */
    uint16_t status_half; /* its bytes 8-9 */
} zel_usbh_nspro_t;

void *zel_usbh_nspro_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_nspro_evthandler(zel_eda_t *agent, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

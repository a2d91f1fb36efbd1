/* The "ds4" class's context: start-up SET_IDLE, then 64-byte reads; event
 * 266 sends the output report. */
#ifndef ZEL_USBH_DS4_H
#define ZEL_USBH_DS4_H

#include "zel_usbh_hid.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_DS4_OUTPUT_LEN 32u

typedef enum zel_usbh_ds4_state { ZEL_DS4_SET_IDLE = 0, ZEL_DS4_RUNNING = 1 } zel_usbh_ds4_state_t;

typedef struct zel_usbh_ds4 {
    zel_usbh_hid_t hid;
    uint8_t output[ZEL_DS4_OUTPUT_LEN]; /* 0x05 0xFF 0xFF 0xFF, then zeros */
    uint8_t output_done;
    uint32_t state; /* zel_usbh_ds4_state_t */
} zel_usbh_ds4_t;

void *zel_usbh_ds4_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_ds4_evthandler(zel_eda_t *agent, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

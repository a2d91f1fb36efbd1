/* The "xb360" class's context: 20-byte reads, and the output report sent
 * once at start-up. */
#ifndef ZEL_USBH_XB360_H
#define ZEL_USBH_XB360_H

#include "zel_usbh_hid.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_XB360_REPORT_LEN 20u
#define ZEL_XB360_OUTPUT_LEN 8u

typedef struct zel_usbh_xb360 {
    zel_usbh_hid_t hid;
    uint8_t output[ZEL_XB360_OUTPUT_LEN]; /* 0x00 0x08, then zeros */
    uint8_t output_done;
} zel_usbh_xb360_t;

void *zel_usbh_xb360_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_xb360_evthandler(zel_eda_t *agent, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

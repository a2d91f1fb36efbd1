/* USB wire formats the host stack reads and writes: the descriptor types and
 * standard requests; the setup packet and the standard descriptors are the
 * ones the host-USB layer shares (zel_usb_wire.h). */
#ifndef ZEL_USBH_DESC_H
#define ZEL_USBH_DESC_H

#include <stdint.h>

#include "zel_usb_wire.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Descriptor types. */
enum {
    ZEL_USB_DT_DEVICE = 1,
    ZEL_USB_DT_CONFIG = 2,
    ZEL_USB_DT_STRING = 3,
    ZEL_USB_DT_INTERFACE = 4,
    ZEL_USB_DT_ENDPOINT = 5,
    ZEL_USB_DT_HID = 0x21,
    ZEL_USB_DT_REPORT = 0x22,
    ZEL_USB_DT_SS_EP_COMPANION = 0x30
};

/* Standard requests. */
enum {
    ZEL_USB_REQ_CLEAR_FEATURE = 1,
    ZEL_USB_REQ_SET_ADDRESS = 5,
    ZEL_USB_REQ_GET_DESCRIPTOR = 6,
    ZEL_USB_REQ_SET_CONFIGURATION = 9,
    ZEL_USB_REQ_SET_INTERFACE = 11
};

#define ZEL_USB_DIR_IN 0x80u
#define ZEL_USB_ENDPOINT_HALT 0

/* The setup packet, as the host stack names it. */
typedef zel_usb_setup_t zel_usbh_setup_t;

#ifdef __cplusplus
}
#endif

#endif

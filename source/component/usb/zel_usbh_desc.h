/* USB wire formats the host stack reads and writes: the descriptor types,
 * standard requests and the HID descriptor; the setup packet and the
 * standard descriptors are the ones the host-USB layer shares
 * (zel_usb_wire.h). */
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

/* The HID descriptor (type 0x21) up to its first class descriptor, the
 * report descriptor. */
typedef struct __attribute__((packed)) zel_usb_hid_desc {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdHID;
    uint8_t bCountryCode;
    uint8_t bNumDescriptors;
    uint8_t bClassDescriptorType;
    uint16_t wDescriptorLength;
} zel_usb_hid_desc_t;

#ifdef __cplusplus
static_assert(sizeof(zel_usb_hid_desc_t) == 9, "HID descriptor");
}
#endif

#endif

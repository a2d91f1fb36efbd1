/* USB wire formats the host stack reads and writes: the setup packet and the
 * standard descriptors, all little-endian and byte-exact. */
#ifndef ZEL_USBH_DESC_H
#define ZEL_USBH_DESC_H

#include <stdint.h>

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

typedef struct __attribute__((packed)) zel_usbh_setup {
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
} zel_usbh_setup_t;

typedef struct __attribute__((packed)) zel_usb_device_desc {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
} zel_usb_device_desc_t;

typedef struct __attribute__((packed)) zel_usb_config_desc {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumInterfaces;
    uint8_t bConfigurationValue;
    uint8_t iConfiguration;
    uint8_t bmAttributes;
    uint8_t bMaxPower;
} zel_usb_config_desc_t;

typedef struct __attribute__((packed)) zel_usb_interface_desc {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
} zel_usb_interface_desc_t;

typedef struct __attribute__((packed)) zel_usb_endpoint_desc {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bEndpointAddress;
    uint8_t bmAttributes;
    uint16_t wMaxPacketSize;
    uint8_t bInterval;
} zel_usb_endpoint_desc_t;

#ifdef __cplusplus
static_assert(sizeof(zel_usbh_setup_t) == 8, "setup packet");
static_assert(sizeof(zel_usb_device_desc_t) == 18, "device descriptor");
static_assert(sizeof(zel_usb_config_desc_t) == 9, "configuration descriptor");
static_assert(sizeof(zel_usb_interface_desc_t) == 9, "interface descriptor");
static_assert(sizeof(zel_usb_endpoint_desc_t) == 7, "endpoint descriptor");
}
#endif

#endif

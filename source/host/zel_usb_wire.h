/* USB wire formats shared by the host-USB layer and the USB host stack: the
 * setup packet, the standard device, configuration, interface and endpoint
 * descriptors, and the mass-storage Bulk-Only Transport's command and status
 * wrappers; little-endian and byte-exact as on the bus. */
#ifndef ZEL_USB_WIRE_H
#define ZEL_USB_WIRE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct __attribute__((packed)) zel_usb_setup {
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
} zel_usb_setup_t;

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

/* Bulk-Only Transport: the command block wrapper (host to device). */
typedef struct __attribute__((packed)) zel_msc_cbw {
    uint32_t dCBWSignature;
    uint32_t dCBWTag;
    uint32_t dCBWDataTransferLength;
    uint8_t bmCBWFlags;
    uint8_t bCBWLUN;
    uint8_t bCBWCBLength;
    uint8_t CBWCB[16];
} zel_msc_cbw_t;

/* Bulk-Only Transport: the command status wrapper (device to host). */
typedef struct __attribute__((packed)) zel_msc_csw {
    uint32_t dCSWSignature;
    uint32_t dCSWTag;
    uint32_t dCSWDataResidue;
    uint8_t bCSWStatus;
} zel_msc_csw_t;

#ifdef __cplusplus
static_assert(sizeof(zel_usb_setup_t) == 8, "setup packet");
static_assert(sizeof(zel_usb_device_desc_t) == 18, "device descriptor");
static_assert(sizeof(zel_usb_config_desc_t) == 9, "configuration descriptor");
static_assert(sizeof(zel_usb_interface_desc_t) == 9, "interface descriptor");
static_assert(sizeof(zel_usb_endpoint_desc_t) == 7, "endpoint descriptor");
static_assert(sizeof(zel_msc_cbw_t) == 31, "command block wrapper");
static_assert(sizeof(zel_msc_csw_t) == 13, "command status wrapper");
}
#endif

#endif

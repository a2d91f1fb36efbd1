/* The class driver "libusb": binds interface 0 of any device that no other
 * class driver has taken, asks the enumerator to leave the configuration
 * alone, and publishes the device through one callback to the libusb-style
 * API of the Linux-emulation layer (zel_libusb.h).
 *
 * The callback (parameter, record, event) gets event 0 when a device
 * arrived (from the probe, in the host agent) and 1 when it left (from the
 * disconnect, in the controller driver's agent); it must only queue work.
 * A device bound while no callback is set is never reported later.
 *
 * A record is opened by one user at a time; a disconnect frees it at once,
 * or at its close when it is open then. */
#ifndef ZEL_USBH_LIBUSB_H
#define ZEL_USBH_LIBUSB_H

#include "zel_usbh_class.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { ZEL_USBH_LIBUSB_ARRIVED = 0, ZEL_USBH_LIBUSB_LEFT = 1 };

typedef struct zel_usbh_libusb_dev {
    zel_usbh_t *host;
    zel_usbh_dev_t *dev;
    zel_usbh_urb_t urb; /* starts as a pipe with only the valid bit set */
    void *link;         /* the Linux-side device */
    uint16_t idVendor;
    uint16_t idProduct;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint8_t address;
    uint8_t opened;
    uint8_t free_when_closed;
} zel_usbh_libusb_dev_t;

typedef void (*zel_usbh_libusb_evthandler_t)(void *param, zel_usbh_libusb_dev_t *record, int event);

extern const zel_usbh_class_drv_t zel_usbh_libusb_class;

void *zel_usbh_libusb_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_libusb_disconnect(zel_usbh_t *host, zel_usbh_dev_t *dev, void *param);
/* A null callback switches the reports off. */
void zel_usbh_libusb_set_evthandler(void *param, zel_usbh_libusb_evthandler_t callback);
/* 0, or -7 when the record is already open. */
[[nodiscard]] int32_t zel_usbh_libusb_open(zel_usbh_libusb_dev_t *record);
void zel_usbh_libusb_close(zel_usbh_libusb_dev_t *record);

#ifdef __cplusplus
}
#endif

#endif

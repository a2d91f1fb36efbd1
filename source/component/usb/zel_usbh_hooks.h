/* The application's hooks that the USB host stack calls. The product links
 * the application's own; test binaries bring versions of their own. */
#ifndef ZEL_USBH_HOOKS_H
#define ZEL_USBH_HOOKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct zel_scsi;

/* Around a driver installation for the adapter's ids; result 0 is success. */
void on_driver_install_begin(uint16_t vendor_id, uint16_t product_id);
void on_driver_install_end(uint16_t vendor_id, uint16_t product_id, int result, const char *error_text);

/* An interface with a bound class driver goes away, before its class's
 * disconnect runs (the product restarts: at once, or, while work holds the
 * end off, it returns and the restart comes once that work has stopped). */
void on_usb_interface_removed(void);

/* The mass-storage class hands its SCSI device over once it is ready, and
 * takes it back when the device goes away. */
void on_msc_disk_connect(struct zel_scsi *scsi);
void on_msc_disk_disconnect(struct zel_scsi *scsi);

#ifdef __cplusplus
}
#endif

#endif

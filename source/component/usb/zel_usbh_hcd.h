/* usbh for controller drivers: the table through which the core reaches the
 * host controller, and the calls with which a driver reports devices and
 * gives back URB buffers.
 *
 * init is called by the host agent with every event until it answers 0;
 * then the enumerator takes over. The driver allocates URB records
 * (alloc_urb) whose first part is zel_usbh_hcd_urb_t; a completed URB goes
 * to its owner agent as message 265 with the record as pointer and the
 * status set (0, or a negative code). */
#ifndef ZEL_USBH_HCD_H
#define ZEL_USBH_HCD_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"
#include "zel_usbh.h"
#include "zel_usbh_dev.h"

#ifdef __cplusplus
extern "C" {
#endif

struct zel_usbh_hcd_drv {
    /* Called by the host agent with every event until it answers 0. */
    int32_t (*init)(zel_eda_t *agent, zel_evt_t evt, zel_usbh_t *host);
    int32_t (*unused[4])(void);
    int32_t (*alloc_device)(zel_usbh_t *host, zel_usbh_dev_t *dev);
    void (*free_device)(zel_usbh_t *host, zel_usbh_dev_t *dev);
    zel_usbh_hcd_urb_t *(*alloc_urb)(zel_usbh_t *host);
    void (*free_urb)(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb);
    int32_t (*submit_urb)(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb);
    int32_t (*relink_urb)(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb);
    int32_t (*reset_dev)(zel_usbh_t *host, zel_usbh_dev_t *dev);
    bool (*is_dev_reset)(zel_usbh_t *host, zel_usbh_dev_t *dev);
};

/* A device was plugged: the core makes its record (alloc_device is called
 * for it), hands out an address and starts its enumeration. None when the
 * record, the driver's context or an address is not to be had. */
zel_usbh_dev_t *zel_usbh_new_device(zel_usbh_t *host, uint8_t speed);
/* The device went away: its class drivers are let go, then free_device; the
 * record is freed. */
void zel_usbh_disconnect_device(zel_usbh_t *host, zel_usbh_dev_t *dev);
/* Gives the URB's buffer back to its owner (through the free hook, when it
 * has one) and clears the record's buffer fields. */
void zel_usbh_hcd_urb_free_buffer(zel_usbh_hcd_urb_t *urb);

#ifdef __cplusplus
}
#endif

#endif

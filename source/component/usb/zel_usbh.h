/* usbh, the USB host core, as the program sets it up: the host object over
 * one controller driver, and the list of class drivers it binds.
 *
 * The core runs as one agent: its first handler drives the controller
 * driver's start, then the enumerator takes over, one new device at a time.
 * Class drivers are tried head first; registration pushes at the head, so
 * the driver registered last is tried first.
 *
 * The other sides of the core have headers of their own:
 *   zel_usbh_class.h  class drivers: matching, probing, pipes, URBs,
 *                     requests;
 *   zel_usbh_hcd.h    controller drivers: the driver table and the calls
 *                     that report devices;
 *   zel_usbh_enum.h   the enumerator and its parser (the core's own, and
 *                     what a probe may read of the device under way);
 *   zel_usbh_dev.h    the records all of them share. */
#ifndef ZEL_USBH_H
#define ZEL_USBH_H

#include <stdint.h>

#include "zel_eda.h"
#include "zel_util.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_usbh zel_usbh_t;
typedef struct zel_usbh_dev zel_usbh_dev_t;
typedef struct zel_usbh_class_drv zel_usbh_class_drv_t;
typedef struct zel_usbh_hcd_drv zel_usbh_hcd_drv_t;
typedef struct zel_usbh_enum zel_usbh_enum_t;

/* What the host object passes its controller driver. */
typedef struct zel_usbh_hcd_param {
    int32_t priority; /* of every host thread the driver starts */
} zel_usbh_hcd_param_t;

/* A class driver's place in the host's list; the caller owns the node. */
typedef struct zel_usbh_class_node {
    const zel_usbh_class_drv_t *drv;
    struct zel_usbh_class_node *next;
} zel_usbh_class_node_t;

#define ZEL_USBH_ADDR_COUNT 127 /* addresses 1 to 126; bit 0 is always set */

/* The host object. The program fills hcd and hcd_param; the rest is the
 * core's. */
struct zel_usbh {
    const zel_usbh_hcd_drv_t *hcd;
    const zel_usbh_hcd_param_t *hcd_param;
    zel_bitmap_t addr_map[4];
    zel_usbh_class_node_t *classes;
    zel_usbh_dev_t *enum_dev; /* the device under enumeration */
    zel_usbh_enum_t *enum_ctx;
    zel_eda_t agent;
};

/* The program's host object (over zel_winusb_hcd_drv). */
extern zel_usbh_t zel_usbh;

/* Starts the host agent; 0, or a negative code. */
[[nodiscard]] int32_t zel_usbh_init(zel_usbh_t *host);
/* Pushes `node` (its drv filled in) at the head of the host's list. */
void zel_usbh_register_class(zel_usbh_t *host, zel_usbh_class_node_t *node);
static inline zel_usbh_t *zel_usbh_of_agent(zel_eda_t *agent) { return ZEL_CONTAINER_OF(agent, zel_usbh_t, agent); }

#ifdef __cplusplus
}
#endif

#endif

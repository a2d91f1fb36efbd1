/* winusb_hcd: the host-controller driver of the USB host core. It serves one
 * device, the adapter (vendor 0xABCD, any product), through the host-USB
 * layer (zel_host_usb.h): it finds the device, installs the driver for it
 * when needed, opens it, rescans on every device change, reports connect and
 * disconnect to the core, and performs each URB on a host thread of its own.
 * A change that comes while the old device is still being let go is
 * searched for once that is done, so every plug after an unplug is opened.
 *
 * Host threads: "winusb_hcd_init" (search, open, presence tests),
 * "winusb_hcd_dev" (device events) and one "winusb_hcd_urb" per URB. They
 * enter the kernel only as emulated interrupts; the kernel side is one agent.
 *
 * OUT URBs of the device run one at a time in submission order; IN URBs
 * start at once. SET_ADDRESS is answered by the driver itself. When the
 * device leaves, every URB of it completes: the OUT URBs still queued at
 * once with ZEL_HOST_USB_ENODEV, the started ones when their transfer fails
 * with the device. Bulk and
 * interrupt URBs wait for the device up to their timeout (0: without limit),
 * then end with -110 (ZEL_USBH_ERR_TIMEOUT). URB status:
 * 0, -8 for a request the driver cannot carry out (driver not started,
 * control transfer on another endpoint than 0, isochronous, a buffer shorter
 * than the request), -2 for an endpoint or interface that the device does
 * not have, else the host-USB layer's negative code.
 *
 * A URB that is freed ends its thread once no completion of it is
 * outstanding; the thread's last message to the agent releases the record,
 * whatever queue the URB still waited in.
 *
 * A submit takes the event nodes of the URB's completion (the URB thread's
 * hand-over to the agent and the agent's message to the owner) before it
 * queues anything, so a completion never fails for want of nodes; without
 * them the submit answers -6 and changes nothing. Connect, disconnect and the
 * start report of the host threads are posted again a millisecond later
 * while no node can be had. */
#ifndef ZEL_WINUSB_HCD_H
#define ZEL_WINUSB_HCD_H

#include "zel_host.h"
#include "zel_host_usb.h"
#include "zel_usbh_hcd.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_WINUSB_HCD_VID 0xABCDu
#define ZEL_WINUSB_HCD_PID 0x0000u /* any product */
#define ZEL_WINUSB_HCD_IFS_MAX 8
#define ZEL_WINUSB_HCD_NO_IFS 0xFFu

/* Events of the driver agent (| slot), and the one its init caller gets. */
enum { ZEL_WINUSB_EVT_CONNECT = 0x300, ZEL_WINUSB_EVT_DISCONNECT = 0x400, ZEL_WINUSB_EVT_STARTED = 0x500 };

/* Flags of the device context. */
enum {
    ZEL_WINUSB_FLAG_RESET = 0x01,
    ZEL_WINUSB_FLAG_CONNECT = 0x02,
    ZEL_WINUSB_FLAG_DISCONNECT = 0x04,
    ZEL_WINUSB_FLAG_RELEASE = 0x08
};

enum { ZEL_WINUSB_STATE_NOT_CONNECTED = 0, ZEL_WINUSB_STATE_CONNECTED = 2 };

/* Endpoint map entry: the interface index that has the endpoint and the
 * layer's pipe information. */
typedef struct zel_winusb_hcd_ep {
    uint8_t ifs;
    zel_host_usb_pipe_info_t info;
} zel_winusb_hcd_ep_t;

/* Device file values. */
#define ZEL_WINUSB_FILE_NOT_STARTED 0
#define ZEL_WINUSB_FILE_NONE (-1)

typedef struct zel_winusb_hcd_dev {
    uint16_t vid;
    uint16_t pid;
    intptr_t file;                         /* the layer's handle, -1 none, 0 not started */
    uintptr_t ifs[ZEL_WINUSB_HCD_IFS_MAX]; /* interface 0 and the associated ones: non-zero when claimed */
    zel_usbh_dev_t *dev;                   /* the core's record while connected */
    uint32_t speed;
    uint32_t state;
    uint8_t address; /* value of the last SET_ADDRESS */
    uint8_t ifs_count;
    uint8_t flags;
    zel_host_thread_t thread; /* "winusb_hcd_dev" */
    zel_host_request_t request;
    zel_dlist_t queue;              /* OUT URBs, the head in progress */
    zel_winusb_hcd_ep_t ep_map[32]; /* (endpoint & 15) | 16 for IN */
} zel_winusb_hcd_dev_t;

enum { ZEL_WINUSB_URB_IDLE = 0, ZEL_WINUSB_URB_QUEUED = 1, ZEL_WINUSB_URB_STARTED = 2 };

typedef struct zel_winusb_hcd_urb {
    zel_usbh_hcd_urb_t common;
    zel_dlist_node_t submit_node;
    zel_dlist_node_t dev_node;
    uint8_t state;
    uint8_t free_requested;
    uint8_t thread_alive;
    uint8_t idle;             /* 1 when no completion is outstanding */
    zel_host_thread_t thread; /* "winusb_hcd_urb" */
    zel_host_request_t request;
    zel_evt_node_t *done_node;  /* the URB thread's hand-over of the completion */
    zel_evt_node_t *owner_node; /* the agent's message to the owner */
} zel_winusb_hcd_urb_t;

extern const zel_usbh_hcd_drv_t zel_winusb_hcd_drv;

[[nodiscard]] int32_t zel_winusb_hcd_init(zel_eda_t *agent, zel_evt_t evt, zel_usbh_t *host);
[[nodiscard]] int32_t zel_winusb_hcd_alloc_device(zel_usbh_t *host, zel_usbh_dev_t *dev);
void zel_winusb_hcd_free_device(zel_usbh_t *host, zel_usbh_dev_t *dev);
zel_usbh_hcd_urb_t *zel_winusb_hcd_alloc_urb(zel_usbh_t *host);
void zel_winusb_hcd_free_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb);
[[nodiscard]] int32_t zel_winusb_hcd_submit_urb(zel_usbh_t *host, zel_usbh_hcd_urb_t *urb);
[[nodiscard]] int32_t zel_winusb_hcd_reset_dev(zel_usbh_t *host, zel_usbh_dev_t *dev);
bool zel_winusb_hcd_is_dev_reset(zel_usbh_t *host, zel_usbh_dev_t *dev);

/* The slot's device context (tests look at it). */
zel_winusb_hcd_dev_t *zel_winusb_hcd_get_dev(void);

#ifdef __cplusplus
}
#endif

#endif

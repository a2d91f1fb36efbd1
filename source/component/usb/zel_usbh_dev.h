/* usbh records that the core, its class drivers and its controller drivers
 * share: result codes, speeds and transfer types, the pipe word, the URB
 * handle and the URB record, and the device and interface records.
 *
 * A URB record is allocated by the controller driver; its common part
 * (zel_usbh_hcd_urb_t) is the core's, the driver's own fields follow it. A
 * URB handle holds the pipe until a record is allocated, and the record from
 * then on. */
#ifndef ZEL_USBH_DEV_H
#define ZEL_USBH_DEV_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"
#include "zel_sync.h"
#include "zel_usbh_desc.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ZEL_USBH_ERR_NO_URB = -6,
    ZEL_USBH_ERR_FAIL = -7,
    ZEL_USBH_ERR_HCD = -8,      /* a request the controller driver cannot carry out */
    ZEL_USBH_ERR_TIMEOUT = -110 /* a transfer outlived the URB's timeout (the host layer's code) */
};

enum { ZEL_USB_SPEED_UNKNOWN = 0, ZEL_USB_SPEED_LOW = 1, ZEL_USB_SPEED_FULL = 2, ZEL_USB_SPEED_HIGH = 3 };

enum { ZEL_USB_XFER_CONTROL = 0, ZEL_USB_XFER_ISOC = 1, ZEL_USB_XFER_BULK = 2, ZEL_USB_XFER_INT = 3 };

typedef struct zel_usbh zel_usbh_t;
typedef struct zel_usbh_dev zel_usbh_dev_t;
typedef struct zel_usbh_hcd_urb zel_usbh_hcd_urb_t;
typedef struct zel_usbh_class_drv zel_usbh_class_drv_t;

/* ---- pipes ----
 * word: bit 0 valid, 1-11 maximum packet size, 12-15 endpoint number,
 * 16-17 transfer type, 18-19 speed, 20-26 device address, 27 IN,
 * 29 submitted. interval: 2^(bInterval-1) (16 bits) for isochronous and
 * high-speed interrupt endpoints, bInterval for other interrupt endpoints,
 * 0 for control and bulk. */
typedef struct zel_usbh_pipe {
    uint32_t word;
    uint32_t interval;
} zel_usbh_pipe_t;

#define ZEL_PIPE_VALID 0x1u
#define ZEL_PIPE_MPS_SHIFT 1
#define ZEL_PIPE_MPS_MASK (0x7FFu << ZEL_PIPE_MPS_SHIFT)
#define ZEL_PIPE_EP_SHIFT 12
#define ZEL_PIPE_EP_MASK (0xFu << ZEL_PIPE_EP_SHIFT)
#define ZEL_PIPE_TYPE_SHIFT 16
#define ZEL_PIPE_TYPE_MASK (0x3u << ZEL_PIPE_TYPE_SHIFT)
#define ZEL_PIPE_PERIODIC (0x1u << ZEL_PIPE_TYPE_SHIFT) /* isochronous or interrupt */
#define ZEL_PIPE_SPEED_SHIFT 18
#define ZEL_PIPE_SPEED_MASK (0x3u << ZEL_PIPE_SPEED_SHIFT)
#define ZEL_PIPE_ADDR_SHIFT 20
#define ZEL_PIPE_ADDR_MASK (0x7Fu << ZEL_PIPE_ADDR_SHIFT)
#define ZEL_PIPE_IN (0x1u << 27)
#define ZEL_PIPE_SUBMITTED (0x1u << 29)

static inline uint32_t zel_pipe_mps(zel_usbh_pipe_t p) { return (p.word & ZEL_PIPE_MPS_MASK) >> ZEL_PIPE_MPS_SHIFT; }
static inline uint8_t zel_pipe_ep(zel_usbh_pipe_t p) {
    return (uint8_t)((p.word & ZEL_PIPE_EP_MASK) >> ZEL_PIPE_EP_SHIFT);
}
static inline uint8_t zel_pipe_type(zel_usbh_pipe_t p) {
    return (uint8_t)((p.word & ZEL_PIPE_TYPE_MASK) >> ZEL_PIPE_TYPE_SHIFT);
}
static inline uint8_t zel_pipe_addr(zel_usbh_pipe_t p) {
    return (uint8_t)((p.word & ZEL_PIPE_ADDR_MASK) >> ZEL_PIPE_ADDR_SHIFT);
}
static inline bool zel_pipe_is_in(zel_usbh_pipe_t p) { return (p.word & ZEL_PIPE_IN) != 0; }

/* ---- URB handle ----
 * While no URB is allocated the handle holds the pipe itself (its first word
 * has bit 0 set); once one is, it holds the pointer to the URB record (bit 0
 * clear) and the pipe lives in the record. */
typedef union zel_usbh_urb {
    zel_usbh_pipe_t pipe;
    zel_usbh_hcd_urb_t *urb;
    uintptr_t word;
} zel_usbh_urb_t;

typedef void (*zel_usbh_free_hook_t)(void *param);

/* The URB record: the common part that the core fills and reads. */
struct zel_usbh_hcd_urb {
    zel_usbh_dev_t *dev;
    zel_usbh_pipe_t pipe;
    uint32_t transfer_length;
    uint32_t actual_length;
    uint16_t timeout; /* milliseconds; 2000 for control requests, 0 none */
    uint16_t ex_word; /* set by zel_usbh_submit_urb_ex */
    int16_t status;   /* 0 success, negative error */
    void *buffer;
    zel_usbh_free_hook_t free_hook; /* none: the caller owns the buffer */
    void *hook_param;
    zel_usbh_setup_t setup;
    zel_eda_t *owner; /* receives message 265 on completion */
};

/* ---- devices and interfaces ---- */
typedef struct zel_usbh_ifs {
    const zel_usbh_class_drv_t *drv; /* bound driver, none when unbound */
    void *param;                     /* what its probe returned */
    uint8_t number;
    uint8_t alt_count;
    uint8_t cur_alt;
} zel_usbh_ifs_t;

/* speed byte: bits 0-1 speed, 2-6 configuration index being tried,
 * bit 7 the control URB is allocated. */
#define ZEL_USBH_DEV_SPEED_MASK 0x03u
#define ZEL_USBH_DEV_CFG_SHIFT 2
#define ZEL_USBH_DEV_CFG_MASK 0x7Cu
#define ZEL_USBH_DEV_CTRL_URB 0x80u

struct zel_usbh_dev {
    void *hcd_ctx;       /* the controller driver's device context */
    zel_sync_t mutex;    /* semaphore 1/1: enumeration, then each class's first request */
    zel_usbh_urb_t ctrl; /* control URB handle */
    zel_usbh_ifs_t *ifs; /* one per interface of the chosen configuration */
    uint8_t address;     /* 1 to 126 */
    uint8_t ifs_count;
    uint8_t speed;
};

static inline uint8_t zel_usbh_dev_speed(const zel_usbh_dev_t *dev) { return dev->speed & ZEL_USBH_DEV_SPEED_MASK; }
/* The configuration index that enumeration tried last: once it has ended,
 * the configuration the device's interfaces were bound from. */
static inline uint8_t zel_usbh_dev_config_index(const zel_usbh_dev_t *dev) {
    return (uint8_t)((dev->speed & ZEL_USBH_DEV_CFG_MASK) >> ZEL_USBH_DEV_CFG_SHIFT);
}

#ifdef __cplusplus
static_assert(sizeof(zel_usbh_urb_t) == sizeof(uintptr_t) && sizeof(zel_usbh_urb_t) == 8, "URB handle");
}
#endif

#endif

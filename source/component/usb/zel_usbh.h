/* usbh, the USB host core: device records and addresses, pipes, URB handles
 * with buffer management, submission, the standard control requests, the
 * class-driver list, enumeration and class binding.
 *
 * The core reaches the host controller only through its table
 * (zel_usbh_hcd_drv_t) and runs as one agent: its first handler drives the
 * controller driver's start, then the enumerator takes over, one new device
 * at a time. Class drivers are tried head first; registration pushes at the
 * head, so the driver registered last is tried first.
 *
 * Enumeration walks only the descriptor bytes that arrived. A failed
 * transfer resets the device and starts over, three times at most; a device
 * that still fails, or whose configurations (up to index 31) bind no class,
 * stays unconfigured until it is unplugged. Class drivers bound to a
 * configuration that was never set are let go without the application's
 * removal hook.
 *
 * URB completions reach the owner agent (the one current at submission, or
 * the one named to zel_usbh_submit_urb_ex) as message 265 whose pointer is
 * the URB record. Codes: -6 no URB, -7 a request cannot be prepared or no
 * class bound; controller errors pass through (-8, host codes). */
#ifndef ZEL_USBH_H
#define ZEL_USBH_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"
#include "zel_sync.h"
#include "zel_usbh_desc.h"
#include "zel_util.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ZEL_USBH_ERR_NO_URB = -6,
    ZEL_USBH_ERR_FAIL = -7,
    ZEL_USBH_ERR_HCD = -8, /* a request the controller driver cannot carry out */
    ZEL_USBH_ERR_TIMEOUT = -110 /* a transfer outlived the URB's timeout (the host layer's code) */
};

enum {
    ZEL_USB_SPEED_UNKNOWN = 0,
    ZEL_USB_SPEED_LOW = 1,
    ZEL_USB_SPEED_FULL = 2,
    ZEL_USB_SPEED_HIGH = 3
};

enum {
    ZEL_USB_XFER_CONTROL = 0,
    ZEL_USB_XFER_ISOC = 1,
    ZEL_USB_XFER_BULK = 2,
    ZEL_USB_XFER_INT = 3
};

typedef struct zel_usbh zel_usbh_t;
typedef struct zel_usbh_dev zel_usbh_dev_t;
typedef struct zel_usbh_hcd_urb zel_usbh_hcd_urb_t;

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
static inline uint8_t zel_pipe_ep(zel_usbh_pipe_t p) { return (uint8_t)((p.word & ZEL_PIPE_EP_MASK) >> ZEL_PIPE_EP_SHIFT); }
static inline uint8_t zel_pipe_type(zel_usbh_pipe_t p) { return (uint8_t)((p.word & ZEL_PIPE_TYPE_MASK) >> ZEL_PIPE_TYPE_SHIFT); }
static inline uint8_t zel_pipe_addr(zel_usbh_pipe_t p) { return (uint8_t)((p.word & ZEL_PIPE_ADDR_MASK) >> ZEL_PIPE_ADDR_SHIFT); }
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

/* The URB record that the controller driver allocates; this common part is
 * the core's, the driver's own fields follow it. */
struct zel_usbh_hcd_urb {
    zel_usbh_dev_t *dev;
    zel_usbh_pipe_t pipe;
    uint32_t transfer_length;
    uint32_t actual_length;
    uint16_t timeout;   /* milliseconds; 2000 for control requests, 0 none */
    uint16_t ex_word;   /* set by zel_usbh_submit_urb_ex */
    int16_t status;     /* 0 success, negative error */
    void *buffer;
    zel_usbh_free_hook_t free_hook; /* none: the caller owns the buffer */
    void *hook_param;
    zel_usbh_setup_t setup;
    zel_eda_t *owner;   /* receives message 265 on completion */
};

/* ---- controller driver table ---- */
typedef struct zel_usbh_hcd_param {
    int32_t priority; /* of every host thread the driver starts */
} zel_usbh_hcd_param_t;

typedef struct zel_usbh_hcd_drv {
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
} zel_usbh_hcd_drv_t;

/* ---- devices and interfaces ---- */
typedef struct zel_usbh_class_drv zel_usbh_class_drv_t;

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
    void *hcd_ctx;          /* the controller driver's device context */
    zel_sync_t mutex;       /* semaphore 1/1: enumeration, then each class's first request */
    zel_usbh_urb_t ctrl;    /* control URB handle */
    zel_usbh_ifs_t *ifs;    /* one per interface of the chosen configuration */
    uint8_t address;        /* 1 to 126 */
    uint8_t ifs_count;
    uint8_t speed;
};

static inline uint8_t zel_usbh_dev_speed(const zel_usbh_dev_t *dev) { return dev->speed & ZEL_USBH_DEV_SPEED_MASK; }

/* ---- configuration parse ---- */
typedef struct zel_usbh_ifs_alt {
    const zel_usb_interface_desc_t *desc;
    const zel_usb_endpoint_desc_t *first_ep; /* none when the setting has no endpoint */
    uint16_t total_length; /* from its interface descriptor to the next one or the end */
    uint8_t ep_count;
} zel_usbh_ifs_alt_t;

typedef struct zel_usbh_ifs_parser {
    zel_usbh_ifs_alt_t *alts;
    zel_usbh_ifs_t *ifs;
} zel_usbh_ifs_parser_t;

/* The alternate setting that a probe is to use. */
static inline zel_usbh_ifs_alt_t *zel_usbh_parser_alt(const zel_usbh_ifs_parser_t *entry) {
    return &entry->alts[entry->ifs->cur_alt];
}

/* ---- class drivers ----
 * Match flags: each set flag adds a condition; an entry without flags
 * matches every interface. */
enum {
    ZEL_USBH_MATCH_VENDOR = 0x0001,
    ZEL_USBH_MATCH_PRODUCT = 0x0002,
    ZEL_USBH_MATCH_BCD_LO = 0x0004,
    ZEL_USBH_MATCH_BCD_HI = 0x0008,
    ZEL_USBH_MATCH_DEV_CLASS = 0x0010,
    ZEL_USBH_MATCH_DEV_SUBCLASS = 0x0020,
    ZEL_USBH_MATCH_DEV_PROTOCOL = 0x0040,
    ZEL_USBH_MATCH_IFS_CLASS = 0x0080,
    ZEL_USBH_MATCH_IFS_SUBCLASS = 0x0100,
    ZEL_USBH_MATCH_IFS_PROTOCOL = 0x0200
};

typedef struct __attribute__((packed)) zel_usbh_dev_id {
    uint16_t flags;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice_lo;
    uint16_t bcdDevice_hi;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
} zel_usbh_dev_id_t;

struct zel_usbh_class_drv {
    const char *name;
    uint32_t id_count;
    const zel_usbh_dev_id_t *ids;
    /* The driver's parameter, or none to pass the interface on. */
    void *(*probe)(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
    void (*disconnect)(zel_usbh_t *host, zel_usbh_dev_t *dev, void *param);
};

typedef struct zel_usbh_class_node {
    const zel_usbh_class_drv_t *drv;
    struct zel_usbh_class_node *next;
} zel_usbh_class_node_t;

/* ---- enumeration ---- */
enum {
    ZEL_USBH_ENUM_RESET_RETRY = 0x01,
    ZEL_USBH_ENUM_SKIP_SET_CONFIG = 0x02
};

/* Enumeration steps; every request moves to the next one. */
typedef enum zel_usbh_enum_state {
    ZEL_USBH_ENUM_IDLE = 0,
    ZEL_USBH_ENUM_DEV_DESC64 = 1,  /* first GET_DESCRIPTOR(device, 64), then the reset */
    ZEL_USBH_ENUM_SET_ADDRESS = 2,
    ZEL_USBH_ENUM_ADDRESS_WAIT = 3,
    ZEL_USBH_ENUM_DEV_DESC = 4,
    ZEL_USBH_ENUM_CFG_HEADER = 5,
    ZEL_USBH_ENUM_CFG_FULL = 6,
    ZEL_USBH_ENUM_SET_CONFIG = 7
} zel_usbh_enum_state_t;

typedef struct zel_usbh_enum {
    zel_usb_device_desc_t *dev_desc;   /* 18-byte heap buffer */
    uint8_t *config;                   /* configuration buffer */
    zel_usbh_ifs_parser_t *parse;      /* one per interface */
    uint8_t ifs_count;
    uint8_t saved_address;
    uint8_t flags;
    uint32_t state;
    /* the device this context enumerates */
    zel_usbh_dev_t *dev;
    uint16_t config_length; /* bytes of the configuration buffer that arrived */
    uint8_t retries;        /* resets after failed transfers, for this device */
} zel_usbh_enum_t;

/* ---- the host object ---- */
#define ZEL_USBH_ADDR_COUNT 127 /* addresses 1 to 126; bit 0 is always set */

struct zel_usbh {
    const zel_usbh_hcd_drv_t *hcd;
    const zel_usbh_hcd_param_t *hcd_param;
    zel_bitmap_t addr_map[4];
    zel_usbh_class_node_t *classes;
    zel_usbh_dev_t *enum_dev;  /* the device under enumeration */
    zel_usbh_enum_t *enum_ctx;
    zel_eda_t agent;
};

/* The program's host object (over zel_winusb_hcd_drv). */
extern zel_usbh_t zel_usbh;

/* Host object and class drivers. */
int32_t zel_usbh_init(zel_usbh_t *host);
void zel_usbh_init_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_usbh_register_class(zel_usbh_t *host, zel_usbh_class_node_t *node);
static inline zel_usbh_t *zel_usbh_of_agent(zel_eda_t *agent) { return ZEL_CONTAINER_OF(agent, zel_usbh_t, agent); }

/* Devices and interfaces. */
zel_usbh_dev_t *zel_usbh_new_device(zel_usbh_t *host, uint8_t speed);
void zel_usbh_disconnect_device(zel_usbh_t *host, zel_usbh_dev_t *dev);
void zel_usbh_remove_interface(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_t *ifs);
/* Lets go of the class drivers of a device whose configuration was not set
 * (enumeration retried or given up): each bound driver's disconnect runs,
 * the application's removal hook does not, as nothing it was given has
 * gone. The interface array is freed. */
void zel_usbh_release_interfaces(zel_usbh_t *host, zel_usbh_dev_t *dev);

/* Pipes and URB handles. */
zel_usbh_pipe_t zel_usbh_get_pipe(const zel_usbh_dev_t *dev, uint8_t ep_addr, uint8_t type, uint16_t mps,
                                  uint8_t interval);
zel_usbh_pipe_t zel_usbh_get_pipe_from_ep_desc(const zel_usbh_dev_t *dev, const zel_usb_endpoint_desc_t *ep);
void zel_usbh_urb_prepare(zel_usbh_urb_t *handle, const zel_usbh_dev_t *dev, const zel_usb_endpoint_desc_t *ep);
int32_t zel_usbh_alloc_urb(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_urb_t *handle);
void zel_usbh_free_urb(zel_usbh_t *host, zel_usbh_urb_t *handle);
bool zel_usbh_urb_is_alloced(const zel_usbh_urb_t *handle);
zel_usbh_pipe_t zel_usbh_urb_get_pipe(const zel_usbh_urb_t *handle);
void zel_usbh_urb_set_pipe(zel_usbh_urb_t *handle, zel_usbh_pipe_t pipe);

/* Buffers of an allocated URB. A buffer with a free hook belongs to the URB;
 * a caller-owned one (no hook) is never freed by the core. */
void *zel_usbh_urb_alloc_buffer(zel_usbh_urb_t *handle, uint32_t size);
void zel_usbh_urb_set_buffer(zel_usbh_urb_t *handle, void *buffer, uint32_t length);
void *zel_usbh_urb_peek_buffer(const zel_usbh_urb_t *handle);
void *zel_usbh_urb_take_buffer(zel_usbh_urb_t *handle);
void zel_usbh_urb_free_buffer(zel_usbh_urb_t *handle);
void zel_usbh_hcd_urb_free_buffer(zel_usbh_hcd_urb_t *urb);
void zel_usbh_urb_buffer_heap_free(void *buffer);
int16_t zel_usbh_urb_get_status(const zel_usbh_urb_t *handle);
uint32_t zel_usbh_urb_get_actual_length(const zel_usbh_urb_t *handle);

/* Submission and control requests (0 submitted, or a negative code). */
int32_t zel_usbh_submit_urb(zel_usbh_t *host, zel_usbh_urb_t *handle);
int32_t zel_usbh_submit_urb_ex(zel_usbh_t *host, zel_usbh_urb_t *handle, uint16_t word, zel_eda_t *agent);
zel_usbh_urb_t *zel_usbh_control_msg_prepare(zel_usbh_t *host, zel_usbh_dev_t *dev, const zel_usbh_setup_t *setup);
int32_t zel_usbh_control_msg(zel_usbh_t *host, zel_usbh_dev_t *dev, const zel_usbh_setup_t *setup);
/* A request without data stage on a class's own control URB `handle`
 * (allocated on first use; the class frees it with zel_usbh_free_urb), for
 * requests sent while the device's control URB may be busy, such as the
 * recovery of a stalled endpoint. The completion reaches `agent` (the
 * current one when null). 0 submitted, -7 for a request with a data stage,
 * -6 no URB, or the driver's error. */
int32_t zel_usbh_control_msg_own(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_urb_t *handle,
                                 const zel_usbh_setup_t *setup, zel_eda_t *agent);
int32_t zel_usbh_set_address(zel_usbh_t *host, zel_usbh_dev_t *dev);
int32_t zel_usbh_get_descriptor(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t type, uint8_t index, uint16_t length);
int32_t zel_usbh_get_class_descriptor(zel_usbh_t *host, zel_usbh_dev_t *dev, uint16_t interface, uint8_t type,
                                      uint8_t index, uint16_t length);
int32_t zel_usbh_set_configuration(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t value);
int32_t zel_usbh_clear_endpoint_halt(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t ep_addr);

/* Descriptor helpers. */
int32_t zel_usbh_find_desc(const void *buffer, uint32_t length, uint8_t type, const void **out);
const zel_usb_endpoint_desc_t *zel_usbh_next_ep_desc(const zel_usb_endpoint_desc_t *ep, uint32_t remaining);

/* Enumeration and binding. */
void zel_usbh_enum_evthandler(zel_eda_t *agent, zel_evt_t evt);
int32_t zel_usbh_parse_config(zel_usbh_t *host, zel_usbh_enum_t *ctx);
void zel_usbh_free_parser(zel_usbh_enum_t *ctx);
int32_t zel_usbh_class_bound_log(zel_usbh_enum_t *ctx, zel_usbh_ifs_parser_t *entry);
/* True when every condition of `id` holds for the device and the setting. */
bool zel_usbh_id_matches(const zel_usbh_dev_id_t *id, const zel_usb_device_desc_t *dev,
                         const zel_usb_interface_desc_t *ifs);

#ifdef __cplusplus
static_assert(sizeof(zel_usbh_dev_id_t) == 16, "device id entry");
static_assert(sizeof(zel_usbh_urb_t) == sizeof(uintptr_t) && sizeof(zel_usbh_urb_t) == 8, "URB handle");
}
#endif

#endif

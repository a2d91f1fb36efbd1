/* usbh for class drivers: the match table and the driver record, the
 * interface entry a probe gets, pipes and URBs with their buffers,
 * submission, the standard control requests and descriptor walking.
 *
 * A probe runs in the host agent while the device is enumerated; it answers
 * the driver's parameter, or none to pass the interface on. Disconnect runs
 * when the device goes away, or when enumeration lets go of a configuration
 * that was never set (then without the application's removal hook).
 *
 * URB completions reach the owner agent (the one current at submission, or
 * the one named to zel_usbh_submit_urb_ex) as message 265 whose pointer is
 * the URB record. Codes: -6 no URB, -7 a request cannot be prepared or no
 * class bound; controller errors pass through (-8, host codes).
 *
 * Adding a class driver (source/component/usb):
 *   - zel_usbh_<name>.cpp: its match table (zel_usbh_dev_id_t entries), its
 *     record zel_usbh_class_drv_t {name, id count, ids, probe, disconnect}
 *     and the two calls. For each matching interface (an entry that matches
 *     one of its alternate settings) the core calls the probe once, in the
 *     host agent during enumeration: it checks the endpoints it needs,
 *     allocates its context (zel_heap), prepares and allocates its URBs and
 *     starts its agent, and answers the context, or frees all that and
 *     answers none to pass the interface on to the next class. Its agent
 *     takes the device's mutex (dev->mutex) before it uses the device's
 *     control URB, as msc and the HID base do. Disconnect gets the context
 *     back to end it: when the device goes, or when the class lets go of
 *     the interface itself (zel_usbh_remove_interface), after the
 *     application's removal hook (which restarts the product); when
 *     enumeration lets go of a configuration that was never set, without
 *     the hook. The HID base (zel_usbh_hid.h) does most of this for a pad:
 *     ds4, nspro and xb360 are small examples over it.
 *   - zel_usbh_<name>.h: the record declared (extern const
 *     zel_usbh_class_drv_t zel_usbh_<name>_class), with the context and the
 *     calls the tests reach.
 *   - CMakeLists.txt: the source added to zel_usb.
 *   - zel_usbh_setup.cpp: the record in class_table, whose order is the
 *     order of trial read from its end: the last registered is tried
 *     first, so a class that must be tried before another goes after it
 *     ("libusb", which takes any interface, stays first: tried last).
 * Its name is what the trace says when it binds ("<name>: vid.. pid..
 * interface.."). Its tests: tests/usb_class plays the device with a
 * scripted controller (script_hcd.h); the table of class_bind_test says
 * which class binds which interface in the program's order. */
#ifndef ZEL_USBH_CLASS_H
#define ZEL_USBH_CLASS_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_usbh.h"
#include "zel_usbh_dev.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- the interface a probe is offered ---- */
typedef struct zel_usbh_ifs_alt {
    const zel_usb_interface_desc_t *desc;
    const zel_usb_endpoint_desc_t *first_ep; /* none when the setting has no endpoint */
    uint16_t total_length;                   /* from its interface descriptor to the next one or the end */
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

/* A class lets go of an interface it had bound: the application's removal
 * hook runs, then the class's disconnect. */
void zel_usbh_remove_interface(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_t *ifs);

/* ---- pipes and URB handles ---- */
zel_usbh_pipe_t zel_usbh_get_pipe(
    const zel_usbh_dev_t *dev, uint8_t ep_addr, uint8_t type, uint16_t mps, uint8_t interval);
zel_usbh_pipe_t zel_usbh_get_pipe_from_ep_desc(const zel_usbh_dev_t *dev, const zel_usb_endpoint_desc_t *ep);
void zel_usbh_urb_prepare(zel_usbh_urb_t *handle, const zel_usbh_dev_t *dev, const zel_usb_endpoint_desc_t *ep);
[[nodiscard]] int32_t zel_usbh_alloc_urb(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_urb_t *handle);
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
void zel_usbh_urb_buffer_heap_free(void *buffer);
int16_t zel_usbh_urb_get_status(const zel_usbh_urb_t *handle);
uint32_t zel_usbh_urb_get_actual_length(const zel_usbh_urb_t *handle);

/* ---- submission and control requests (0 submitted, or a negative code) ---- */
[[nodiscard]] int32_t zel_usbh_submit_urb(zel_usbh_t *host, zel_usbh_urb_t *handle);
[[nodiscard]] int32_t zel_usbh_submit_urb_ex(zel_usbh_t *host, zel_usbh_urb_t *handle, uint16_t word, zel_eda_t *agent);
zel_usbh_urb_t *zel_usbh_control_msg_prepare(zel_usbh_t *host, zel_usbh_dev_t *dev, const zel_usbh_setup_t *setup);
[[nodiscard]] int32_t zel_usbh_control_msg(zel_usbh_t *host, zel_usbh_dev_t *dev, const zel_usbh_setup_t *setup);
/* A request without data stage on a class's own control URB `handle`
 * (allocated on first use; the class frees it with zel_usbh_free_urb), for
 * requests sent while the device's control URB may be busy, such as the
 * recovery of a stalled endpoint. The completion reaches `agent` (the
 * current one when null). 0 submitted, -7 for a request with a data stage,
 * -6 no URB, or the driver's error. */
[[nodiscard]] int32_t zel_usbh_control_msg_own(
    zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_urb_t *handle, const zel_usbh_setup_t *setup, zel_eda_t *agent);
[[nodiscard]] int32_t zel_usbh_get_descriptor(
    zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t type, uint8_t index, uint16_t length);
[[nodiscard]] int32_t zel_usbh_get_class_descriptor(
    zel_usbh_t *host, zel_usbh_dev_t *dev, uint16_t interface, uint8_t type, uint8_t index, uint16_t length);
[[nodiscard]] int32_t zel_usbh_set_configuration(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t value);
[[nodiscard]] int32_t zel_usbh_clear_endpoint_halt(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t ep_addr);

/* ---- trying again ----
 * How long a request waits before it goes again after `failures` failed
 * in a row: not at all after one, then 10 ms, twice as long after each
 * further one, up to 1 s. One whose submit was refused (no URB, no
 * buffer, the controller driver without event nodes) waits at least 10 ms
 * even after its first refusal: what refused it needs time to change. */
uint32_t zel_usbh_retry_ms(uint8_t failures);
uint32_t zel_usbh_refused_retry_ms(uint8_t refusals);

/* ---- descriptors ---- */
[[nodiscard]] int32_t zel_usbh_find_desc(const void *buffer, uint32_t length, uint8_t type, const void **out);
const zel_usb_endpoint_desc_t *zel_usbh_next_ep_desc(const zel_usb_endpoint_desc_t *ep, uint32_t remaining);

#ifdef __cplusplus
static_assert(sizeof(zel_usbh_dev_id_t) == 16, "device id entry");
}
#endif

#endif

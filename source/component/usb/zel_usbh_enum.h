/* usbh enumeration: the enumerator that drives a new device from its first
 * descriptor to a configuration with bound class drivers, and the parser of
 * configuration descriptors that offers its interfaces to the class drivers.
 *
 * Enumeration walks only the descriptor bytes that arrived. A request the
 * stack refuses for want of a URB, a buffer or event nodes is sent again
 * after the classes' back-off (zel_usbh_refused_retry_ms) for as long as the
 * device stays plugged. A failed transfer resets the device and starts
 * over, three times at most; a device that still fails, or whose
 * configurations (up to index 31) bind no class, stays unconfigured until
 * it is unplugged. Class drivers bound to a
 * configuration that was never set are let go without the application's
 * removal hook.
 *
 * A class probe may read the context of the device under way
 * (zel_usbh_t::enum_ctx): its device descriptor, and set
 * ZEL_USBH_ENUM_SKIP_SET_CONFIG to leave the configuration alone. The rest
 * is the core's. */
#ifndef ZEL_USBH_ENUM_H
#define ZEL_USBH_ENUM_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_usbh.h"
#include "zel_usbh_class.h"
#include "zel_usbh_dev.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { ZEL_USBH_ENUM_RESET_RETRY = 0x01, ZEL_USBH_ENUM_SKIP_SET_CONFIG = 0x02 };

/* Enumeration steps; every request moves to the next one. */
typedef enum zel_usbh_enum_state {
    ZEL_USBH_ENUM_IDLE = 0,
    ZEL_USBH_ENUM_DEV_DESC64 = 1, /* first GET_DESCRIPTOR(device, 64), then the reset */
    ZEL_USBH_ENUM_SET_ADDRESS = 2,
    ZEL_USBH_ENUM_ADDRESS_WAIT = 3,
    ZEL_USBH_ENUM_DEV_DESC = 4,
    ZEL_USBH_ENUM_CFG_HEADER = 5,
    ZEL_USBH_ENUM_CFG_FULL = 6,
    ZEL_USBH_ENUM_SET_CONFIG = 7,
    ZEL_USBH_ENUM_REFUSED = 8 /* a submit was refused for now: sent again when the timer expires */
} zel_usbh_enum_state_t;

struct zel_usbh_enum {
    zel_usb_device_desc_t *dev_desc; /* 18-byte heap buffer */
    uint8_t *config;                 /* configuration buffer */
    zel_usbh_ifs_parser_t *parse;    /* one per interface */
    uint8_t ifs_count;
    uint8_t saved_address;
    uint8_t flags;
    uint32_t state;
    /* the device this context enumerates */
    zel_usbh_dev_t *dev;
    uint16_t config_length; /* bytes of the configuration buffer that arrived */
    uint8_t retries;        /* resets after failed transfers, for this device */
    uint8_t refusals;       /* submits refused in a row */
    uint8_t resend;         /* the state whose request was refused */
};

/* The host agent's handlers: the controller driver's start, then the
 * enumerator. */
void zel_usbh_init_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_usbh_enum_evthandler(zel_eda_t *agent, zel_evt_t evt);

[[nodiscard]] int32_t zel_usbh_set_address(zel_usbh_t *host, zel_usbh_dev_t *dev);

/* Lets go of the class drivers of a device whose configuration was not set
 * (enumeration retried or given up): each bound driver's disconnect runs,
 * the application's removal hook does not, as nothing it was given has
 * gone. The interface array is freed. */
void zel_usbh_release_interfaces(zel_usbh_t *host, zel_usbh_dev_t *dev);

/* The parser and class binding. */
[[nodiscard]] int32_t zel_usbh_parse_config(zel_usbh_t *host, zel_usbh_enum_t *ctx);
void zel_usbh_free_parser(zel_usbh_enum_t *ctx);
int32_t zel_usbh_class_bound_log(zel_usbh_enum_t *ctx, zel_usbh_ifs_parser_t *entry);
/* True when every condition of `id` holds for the device and the setting. */
bool zel_usbh_id_matches(
    const zel_usbh_dev_id_t *id, const zel_usb_device_desc_t *dev, const zel_usb_interface_desc_t *ifs);

#ifdef __cplusplus
}
#endif

#endif

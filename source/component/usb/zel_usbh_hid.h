/* The HID base and the four classes built on it:
 *   "hid"   any HID interface (class 0x03), generic input;
 *   "ds4"   054C:05C4, 054C:05C5, 054C:09CC, 054C:0BA0, 0738:8250 on HID;
 *   "nspro" 057E:2009 on HID;
 *   "xb360" vendor interfaces FF/5D/01 and FF/5D/81, interface 0 only.
 *
 * The base probe finds the interface's type-0x21 descriptor and its
 * interrupt endpoints and starts one agent per interface. The agent takes
 * the device mutex, fetches the report descriptor (left on the device's
 * control URB) and then hands itself to the class handler, which sends the
 * class's start-up requests, releases the mutex and keeps an interrupt-in
 * read running. Input reports go to zel_usbh_hid_report_hook.
 *
 * A failed interrupt-in read is recovered by the base, not resubmitted at
 * once: the endpoint's halt is cleared (on a control URB of the interface's
 * own, as the device's may be busy), and when reads keep failing the next
 * one waits, 10 ms after the second failure in a row and twice as long
 * after each further one, up to 1 s. A read that succeeds ends the back-off.
 * Class handlers start every read with zel_usbh_hid_read_next, give every
 * event to zel_usbh_hid_recovery_event first and every interrupt-in
 * completion to zel_usbh_hid_read_failed.
 *
 * A read that cannot be started (no URB, no buffer, the controller driver
 * refuses it) counts as a failed one: it is traced and started again after
 * the same back-off, at least 10 ms later, so a pad never stops reading
 * while it is plugged.
 *
 * An interface without an interrupt-in endpoint is refused at probe: every
 * class reads from it. Sending without an interrupt-out endpoint answers -7.
 * On disconnect both URBs are freed and the agent finishes; its on-terminate
 * callback frees the context.
 *
 * Each class's context begins with zel_usbh_hid_t; the gamepads' contexts
 * are in zel_usbh_ds4.h, zel_usbh_nspro.h and zel_usbh_xb360.h. */
#ifndef ZEL_USBH_HID_H
#define ZEL_USBH_HID_H

#include "zel_usbh_class.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_USB_CLASS_HID 0x03u
#define ZEL_HID_REQ_SET_IDLE 0x0Au
#define ZEL_HID_REPORT_LEN 64u /* input report length taken for every device */

typedef struct zel_usbh_hid {
    zel_eda_evthandler_t class_handler;
    zel_usbh_t *host;
    zel_usbh_dev_t *dev;
    zel_usbh_ifs_t *ifs;
    zel_usbh_urb_t int_in;
    zel_usbh_urb_t int_out;
    uint16_t report_desc_len;
    zel_eda_t agent; /* handler zel_usbh_hid_evthandler until the class handler takes over */
    /* kept by the driver */
    uint32_t step;            /* the base handler's step */
    uint32_t in_state;        /* the interrupt-in endpoint's recovery */
    uint8_t in_errors;        /* failed reads in a row */
    zel_usbh_urb_t clear_urb; /* control URB of the endpoint's recovery */
    uint32_t in_length;       /* what the read that could not be started asked for */
} zel_usbh_hid_t;

extern const zel_usbh_class_drv_t zel_usbh_hid_class;
extern const zel_usbh_class_drv_t zel_usbh_ds4_class;
extern const zel_usbh_class_drv_t zel_usbh_nspro_class;
extern const zel_usbh_class_drv_t zel_usbh_xb360_class;

/* Where input reports go (a hook that does nothing unless set). */
typedef void (*zel_usbh_hid_report_hook_t)(zel_usbh_hid_t *hid, const uint8_t *report, uint32_t length);
extern zel_usbh_hid_report_hook_t zel_usbh_hid_report_hook;

/* Base. */
void *zel_usbh_hid_probe(
    zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry, uint32_t context_size, bool need_hid_desc);
void zel_usbh_hid_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_usbh_hid_free(zel_eda_t *agent);
[[nodiscard]] int32_t zel_usbh_hid_set_idle(zel_usbh_hid_t *hid, uint8_t report_id, uint8_t duration);
[[nodiscard]] int32_t zel_usbh_hid_send_report(zel_usbh_hid_t *hid, void *buffer, uint32_t length);
[[nodiscard]] int32_t zel_usbh_hid_recv_report(zel_usbh_hid_t *hid, void *buffer, uint32_t length);
void zel_usbh_hid_disconnect(zel_usbh_hid_t *hid);
void zel_usbh_hid_gamepad_disconnect(zel_usbh_t *host, zel_usbh_dev_t *dev, void *param);
static inline zel_usbh_hid_t *zel_usbh_hid_of_agent(zel_eda_t *agent) {
    return ZEL_CONTAINER_OF(agent, zel_usbh_hid_t, agent);
}
/* Which of the context's URBs a completion belongs to. */
bool zel_usbh_hid_is_urb(const zel_usbh_urb_t *handle, const zel_usbh_hcd_urb_t *urb);
bool zel_usbh_hid_is_ctrl_urb(const zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb);
void zel_usbh_hid_deliver(zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb);
/* Starts the next interrupt-in read: into a fresh heap buffer of `length`
 * bytes, or with 0 into the URB's own buffer again. One that cannot be
 * started is traced and started again after the back-off. */
void zel_usbh_hid_read_next(zel_usbh_hid_t *hid, uint32_t length);
/* An interrupt-in completion: false when the read succeeded (the class goes
 * on); true when it failed and the base recovers the endpoint and submits
 * the same URB again itself. */
bool zel_usbh_hid_read_failed(zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb);
/* True when the event belongs to a recovery under way (the class handler
 * then ignores it). */
bool zel_usbh_hid_recovery_event(zel_usbh_hid_t *hid, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

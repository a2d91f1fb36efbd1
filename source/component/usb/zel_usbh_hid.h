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
 * Class handlers give every event to zel_usbh_hid_recovery_event first and
 * every interrupt-in completion to zel_usbh_hid_read_failed.
 *
 * An interface without an interrupt-in endpoint is refused at probe: every
 * class reads from it. Sending without an interrupt-out endpoint answers -7.
 * On disconnect both URBs are freed and the agent finishes; its on-terminate
 * callback frees the context. */
#ifndef ZEL_USBH_HID_H
#define ZEL_USBH_HID_H

#include "zel_usbh.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_USB_CLASS_HID 0x03u
#define ZEL_HID_REQ_SET_IDLE 0x0Au
#define ZEL_HID_REPORT_LEN 64u      /* input report length taken for every device */
#define ZEL_DS4_OUTPUT_LEN 32u
#define ZEL_XB360_REPORT_LEN 20u
#define ZEL_XB360_OUTPUT_LEN 8u
#define ZEL_NSPRO_OUTPUT_LEN 2u

/* Recovery of the interrupt-in endpoint. */
typedef enum zel_usbh_hid_in_state {
    ZEL_HID_IN_READING = 0,     /* a read is running (or the class decides) */
    ZEL_HID_IN_CLEARING = 1,    /* a read failed: CLEAR_FEATURE(ENDPOINT_HALT) under way */
    ZEL_HID_IN_BACKING_OFF = 2  /* reads keep failing: the next one waits */
} zel_usbh_hid_in_state_t;

#define ZEL_HID_BACKOFF_FIRST_MS 10u
#define ZEL_HID_BACKOFF_MAX_MS 1000u

/* Steps of the base handler. */
typedef enum zel_usbh_hid_step {
    ZEL_HID_WAIT_MUTEX = 0,  /* the agent waits for the device mutex */
    ZEL_HID_REPORT_DESC = 1  /* GET_DESCRIPTOR(report) is under way */
} zel_usbh_hid_step_t;

typedef struct zel_usbh_hid {
    zel_eda_evthandler_t class_handler;
    zel_usbh_t *host;
    zel_usbh_dev_t *dev;
    zel_usbh_ifs_t *ifs;
    zel_usbh_urb_t int_in;
    zel_usbh_urb_t int_out;
    uint16_t report_desc_len;
    zel_eda_t agent;   /* handler zel_usbh_hid_evthandler until the class handler takes over */
    /* kept by the driver */
    uint32_t step;     /* zel_usbh_hid_step_t */
    uint32_t in_state; /* zel_usbh_hid_in_state_t */
    uint8_t in_errors; /* failed reads in a row */
    zel_usbh_urb_t clear_urb; /* control URB of the endpoint's recovery */
} zel_usbh_hid_t;

/* "ds4": start-up SET_IDLE, then 64-byte reads; event 266 sends the output report. */
typedef enum zel_usbh_ds4_state {
    ZEL_DS4_SET_IDLE = 0,
    ZEL_DS4_RUNNING = 1
} zel_usbh_ds4_state_t;

typedef struct zel_usbh_ds4 {
    zel_usbh_hid_t hid;
    uint8_t output[ZEL_DS4_OUTPUT_LEN]; /* 0x05 0xFF 0xFF 0xFF, then zeros */
    uint8_t output_done;
    uint32_t state;                      /* zel_usbh_ds4_state_t */
} zel_usbh_ds4_t;

/* "nspro": the hand-shake on the interrupt endpoints. */
typedef enum zel_usbh_nspro_state {
    ZEL_NSPRO_HELLO = 0,    /* waits for a report 0x81 0x01, answers 0x80 0x02 */
    ZEL_NSPRO_ENABLE = 1,   /* waits for 0x81 0x02, answers 0x80 0x04 */
    ZEL_NSPRO_RUNNING = 2   /* reports go to the hook */
} zel_usbh_nspro_state_t;

typedef struct zel_usbh_nspro {
    zel_usbh_hid_t hid;
    uint8_t output[ZEL_NSPRO_OUTPUT_LEN];
    uint32_t state;          /* zel_usbh_nspro_state_t */
    uint8_t output_idle;
    uint8_t status_byte3;    /* from the controller's first status report */
    uint32_t status_word;    /* its bytes 4-7 */
    uint16_t status_half;    /* its bytes 8-9 */
} zel_usbh_nspro_t;

typedef struct zel_usbh_xb360 {
    zel_usbh_hid_t hid;
    uint8_t output[ZEL_XB360_OUTPUT_LEN]; /* 0x00 0x08, then zeros */
    uint8_t output_done;
} zel_usbh_xb360_t;

typedef struct zel_usbh_hid_input {
    zel_usbh_hid_t hid;
    uint8_t running;
} zel_usbh_hid_input_t;

extern const zel_usbh_class_drv_t zel_usbh_hid_class;
extern const zel_usbh_class_drv_t zel_usbh_ds4_class;
extern const zel_usbh_class_drv_t zel_usbh_nspro_class;
extern const zel_usbh_class_drv_t zel_usbh_xb360_class;

/* Where input reports go (a hook that does nothing unless set). */
typedef void (*zel_usbh_hid_report_hook_t)(zel_usbh_hid_t *hid, const uint8_t *report, uint32_t length);
extern zel_usbh_hid_report_hook_t zel_usbh_hid_report_hook;

/* Base. */
void *zel_usbh_hid_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry, uint32_t context_size,
                         bool need_hid_desc);
void zel_usbh_hid_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_usbh_hid_free(zel_eda_t *agent);
int32_t zel_usbh_hid_set_idle(zel_usbh_hid_t *hid, uint8_t report_id, uint8_t duration);
int32_t zel_usbh_hid_send_report(zel_usbh_hid_t *hid, void *buffer, uint32_t length);
int32_t zel_usbh_hid_recv_report(zel_usbh_hid_t *hid, void *buffer, uint32_t length);
void zel_usbh_hid_disconnect(zel_usbh_hid_t *hid);
void zel_usbh_hid_gamepad_disconnect(zel_usbh_t *host, zel_usbh_dev_t *dev, void *param);
static inline zel_usbh_hid_t *zel_usbh_hid_of_agent(zel_eda_t *agent) {
    return ZEL_CONTAINER_OF(agent, zel_usbh_hid_t, agent);
}
/* Which of the context's URBs a completion belongs to. */
bool zel_usbh_hid_is_urb(const zel_usbh_urb_t *handle, const zel_usbh_hcd_urb_t *urb);
bool zel_usbh_hid_is_ctrl_urb(const zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb);
void zel_usbh_hid_deliver(zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb);
/* An interrupt-in completion: false when the read succeeded (the class goes
 * on); true when it failed and the base recovers the endpoint and submits
 * the same URB again itself. */
bool zel_usbh_hid_read_failed(zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb);
/* True when the event belongs to a recovery under way (the class handler
 * then ignores it). */
bool zel_usbh_hid_recovery_event(zel_usbh_hid_t *hid, zel_evt_t evt);

/* The classes. */
void *zel_usbh_ds4_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_ds4_evthandler(zel_eda_t *agent, zel_evt_t evt);
void *zel_usbh_nspro_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_nspro_evthandler(zel_eda_t *agent, zel_evt_t evt);
void *zel_usbh_xb360_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_xb360_evthandler(zel_eda_t *agent, zel_evt_t evt);
void *zel_usbh_hid_input_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_hid_input_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_usbh_hid_input_disconnect(zel_usbh_t *host, zel_usbh_dev_t *dev, void *param);

#ifdef __cplusplus
}
#endif

#endif

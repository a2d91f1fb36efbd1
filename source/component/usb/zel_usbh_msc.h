/* The mass-storage class driver "msc": interfaces 08/06/50 (SCSI transparent
 * command set over Bulk-Only Transport), each offered to the system as a
 * SCSI device (zel_scsi_t, table zel_usbh_msc_scsi_drv).
 *
 * After the probe the class's agent takes the device mutex, sends GET MAX LUN
 * and hands the SCSI device to on_msc_disk_connect; on disconnect it calls
 * on_msc_disk_disconnect (only when it had handed the disk over). Every
 * command runs in the calling agent as one exchange: a 31-byte CBW on bulk
 * OUT, the data phase, a 13-byte CSW on bulk IN. execute answers the bytes
 * moved or -7 (transport error, CSW status not 0, an invalid CSW, a transfer
 * that timed out, a device that went away). A data phase that fails clears
 * the endpoint's halt and still reads the CSW; one that ends short on a
 * packet boundary goes on with the rest of the buffer.
 *
 * Recovery, so that one bad exchange never leaves the device waiting for a
 * CSW nobody reads: a CSW read that fails clears the bulk IN halt and reads
 * the CSW again. A second failure, a CSW that is not valid (length,
 * signature, tag) or reports a phase error, a CBW that does not get through,
 * and any bulk transfer that outlives its timeout end in reset recovery:
 * Bulk-Only Mass Storage Reset, then CLEAR_FEATURE(ENDPOINT_HALT) on bulk IN
 * and bulk OUT; the command answers -7. These requests go on a control URB
 * of the transport's own, as the device's may be busy with another
 * interface's.
 *
 * A SCSI device handed to the application stays valid after disconnect:
 * its commands then answer -7. */
#ifndef ZEL_USBH_MSC_H
#define ZEL_USBH_MSC_H

#include "zel_scsi.h"
#include "zel_usb_wire.h"
#include "zel_usbh_class.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_MSC_CBW_LEN 31u
#define ZEL_MSC_CSW_LEN 13u
#define ZEL_MSC_CBW_SIGNATURE 0x43425355u
#define ZEL_MSC_CBW_TAG 0x5A5A5A5Au
#define ZEL_MSC_CSW_SIGNATURE 0x53425355u
#define ZEL_MSC_REQ_GET_MAX_LUN 0xFE
#define ZEL_MSC_REQ_RESET 0xFF     /* Bulk-Only Mass Storage Reset */
#define ZEL_MSC_CBW_DATA_OUT 0x00u /* bmCBWFlags: host to device, or no data */
#define ZEL_MSC_CBW_DATA_IN 0x80u  /* bmCBWFlags: device to host */
#define ZEL_MSC_CSW_PASSED 0       /* bCSWStatus */
#define ZEL_MSC_CSW_PHASE_ERROR 2
#define ZEL_MSC_TIMEOUT_MS 20000u /* each bulk transfer of a command */

/* The CBW as sent and the CSW as read are zel_msc_cbw_t and zel_msc_csw_t
 * (zel_usb_wire.h). */

/* Transport phases of one command. */
typedef enum zel_usbh_msc_state {
    ZEL_MSC_COMMAND = 0,
    ZEL_MSC_DATA = 1,
    ZEL_MSC_CLEARING = 2, /* the data endpoint's halt, then the CSW */
    ZEL_MSC_STATUS = 3,
    ZEL_MSC_STATUS_CLEARING = 4, /* the CSW read failed: bulk IN's halt, then the CSW again */
    ZEL_MSC_STATUS_AGAIN = 5,
    ZEL_MSC_RESET = 6,          /* reset recovery: Bulk-Only Mass Storage Reset, */
    ZEL_MSC_RESET_CLEAR_IN = 7, /* then bulk IN's halt, */
    ZEL_MSC_RESET_CLEAR_OUT = 8 /* then bulk OUT's; the command fails */
} zel_usbh_msc_state_t;

typedef struct zel_usbh_msc {
    zel_usbh_t *host;
    zel_usbh_dev_t *dev;
    zel_usbh_ifs_t *ifs;
    zel_usbh_urb_t bulk_in;
    zel_usbh_urb_t bulk_out;
    zel_msc_cbw_t cbw; /* the command's wrapper as sent */
    zel_msc_csw_t csw; /* its status wrapper as read */
    zel_scsi_t scsi;
    zel_eda_t agent;
    uint32_t expected;
    uint32_t residue;
    uint8_t max_lun;
    uint32_t state;
    /* kept by the driver */
    zel_eda_t *caller;   /* the agent running a command, none when idle */
    uint8_t handed_over; /* on_msc_disk_connect has the SCSI device */
    uint8_t gone;        /* disconnected */
    uint16_t timeout_ms; /* of each bulk transfer, ZEL_MSC_TIMEOUT_MS from the probe */
    zel_usbh_urb_t ctrl; /* the transport's own control URB: halts and reset */
    struct zel_usbh_msc *next_retired;
} zel_usbh_msc_t;

extern const zel_usbh_class_drv_t zel_usbh_msc_class;
extern const zel_scsi_drv_t zel_usbh_msc_scsi_drv;

void *zel_usbh_msc_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry);
void zel_usbh_msc_disconnect(zel_usbh_t *host, zel_usbh_dev_t *dev, void *param);
void zel_usbh_msc_evthandler(zel_eda_t *agent, zel_evt_t evt);
void zel_usbh_msc_free(zel_eda_t *agent);
void zel_usbh_msc_scsi_execute(void *locals, zel_evt_t evt);
/* How many interfaces the class matched but could not take for want of
 * memory or a host thread (each of its URBs needs one); each went on to the
 * next driver that takes it. Read under the interrupt lock. */
uint32_t zel_usbh_msc_refused(void);

#ifdef __cplusplus
static_assert(sizeof(zel_msc_cbw_t) == ZEL_MSC_CBW_LEN, "CBW");
static_assert(sizeof(zel_msc_csw_t) == ZEL_MSC_CSW_LEN, "CSW");
}
#endif

#endif

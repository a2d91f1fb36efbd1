/* The simulated adapter: USB devices that live in this process and answer
 * the host-USB layer (zel_host_usb.h) when its back end is "sim".
 *
 * A device is made from a configuration, then plugged and unplugged at will.
 * Unless raw descriptors are given, its configuration holds:
 *   - with `msc`: interface 0, mass storage 08/06/50 (SCSI over Bulk-Only
 *     Transport), bulk IN 0x81 and bulk OUT 0x02;
 *   - with `hid`: the next interface, HID 03/00/00 with a HID descriptor, a
 *     gamepad report descriptor, interrupt IN 0x83 and interrupt OUT 0x04.
 * Bulk endpoints take 512-byte packets at high speed, 64 otherwise;
 * interrupt endpoints 64 bytes.
 *
 * Bulk-Only Transport: a 31-byte CBW on bulk OUT, the data phase, and a
 * 13-byte CSW read from bulk IN. The commands go to the device's SCSI unit
 * (zel_host_usb_sim_disk.h gives one over a disk image). Status 1 (failed)
 * when the unit fails the command, status 2 (phase error) when the CBW's
 * direction contradicts the command; data the device does not send stalls
 * bulk IN, data it does not take stalls bulk OUT, as the transport wants.
 * An invalid CBW stalls both bulk endpoints until a Bulk-Only reset.
 *
 * The host stack of the machine has configured the device when it is
 * plugged (configuration 1), as a real host does before a program opens it.
 *
 * All calls are host calls, safe from any host thread.
 *
 * The host-USB layer knows the simulated adapter only once a program hands
 * it over: a program that links it (library zel_host_sim) calls
 * zel_host_usb_sim_offer or zel_host_usb_sim_offer_env in main, before the
 * kernel boots.
 */
#ifndef ZEL_HOST_USB_SIM_H
#define ZEL_HOST_USB_SIM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "zel_host_usb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Hands the simulated adapter to the host-USB layer: from then on ZEL_USB=sim
 * and zel_host_usb_use(ZEL_HOST_USB_SIM) choose it. The program makes and
 * plugs its devices itself (the tests); zel_host_usb_sim_offer_env
 * (zel_host_usb_sim_disk.h) also plugs the adapter a person asks for. */
void zel_host_usb_sim_offer(void);

/* The SCSI unit behind the mass-storage interface. execute runs one command
 * on the calling host thread: for data OUT `data` holds the host's `size`
 * bytes, for data IN it receives up to `size` bytes. It answers the bytes
 * moved (0 or more) or a negative value when the command fails (the unit
 * keeps the sense data for REQUEST SENSE). */
typedef struct zel_host_usb_sim_scsi {
    int (*execute)(void *unit, const uint8_t *cdb, uint8_t cdb_length, void *data, uint32_t size, bool data_in);
    void *unit;
} zel_host_usb_sim_scsi_t;

typedef struct zel_host_usb_sim_config {
    uint16_t vid;
    uint16_t pid;
    uint16_t bcd_device;
    uint8_t speed;            /* zel_host_usb_speed_t, high by default */
    uint8_t driver_installed; /* 0: a kernel driver holds it until installed */
    uint8_t msc;              /* mass-storage interface 0 */
    uint8_t hid;              /* HID gamepad interface */
    uint8_t max_lun;          /* answer of GET_MAX_LUN */
    zel_host_usb_sim_scsi_t scsi;
    const char *manufacturer; /* string descriptors 1 to 3 (ASCII) */
    const char *product;
    const char *serial;
    /* Raw descriptors in place of the built ones (copied at create). */
    const uint8_t *device_desc; /* 18 bytes */
    const uint8_t *config_desc; /* wTotalLength bytes */
    uint16_t config_length;
} zel_host_usb_sim_config_t;

/* Defaults: the ids, high speed, driver installed, mass storage only,
 * strings "Trellow" / "USB Adapter" / "0001". */
void zel_host_usb_sim_config_init(zel_host_usb_sim_config_t *config, uint16_t vid, uint16_t pid);

typedef struct zel_host_usb_sim_dev zel_host_usb_sim_dev_t;

/* Makes an unplugged device; null for bad raw descriptors or no memory. */
zel_host_usb_sim_dev_t *zel_host_usb_sim_create(const zel_host_usb_sim_config_t *config);
/* Unplugs and frees the device; a handle still open on it answers
 * ZEL_HOST_USB_ENODEV and keeps the record until it is closed. The device's
 * SCSI unit must outlive it. */
void zel_host_usb_sim_destroy(zel_host_usb_sim_dev_t *dev);

/* Plug: the device appears (configured, endpoints clear, transport idle)
 * and the device-change hooks run. Unplug: it disappears; every transfer
 * on it, waiting or later, ends with ZEL_HOST_USB_ENODEV, and its handles
 * stay dead after a new plug. 0, or ZEL_HOST_USB_EINVAL when already so. */
[[nodiscard]] int zel_host_usb_sim_plug(zel_host_usb_sim_dev_t *dev);
[[nodiscard]] int zel_host_usb_sim_unplug(zel_host_usb_sim_dev_t *dev);

/* ---- HID ---- */
/* Queues an input report (up to 64 bytes, at most 16 queued) for the
 * interrupt IN endpoint: 0 or ZEL_HOST_USB_ENOMEM / EINVAL. */
[[nodiscard]] int zel_host_usb_sim_hid_input(zel_host_usb_sim_dev_t *dev, const void *report, uint32_t length);
/* Copies the last output report (interrupt OUT or SET_REPORT); answers its
 * length, 0 when none came. */
[[nodiscard]] int zel_host_usb_sim_hid_output(zel_host_usb_sim_dev_t *dev, void *out, uint32_t size);

/* ---- injected faults ---- */
/* Halts an endpoint (address): its transfers answer ZEL_HOST_USB_EPIPE
 * until CLEAR_FEATURE(ENDPOINT_HALT), a HID read waiting on it included. A
 * Bulk-Only data phase on it, running
 * or the next one, ends there, as when the device stalls to end it: the CSW
 * follows, with what was not moved as residue (and status failed for data
 * the device never took). */
[[nodiscard]] int zel_host_usb_sim_stall(zel_host_usb_sim_dev_t *dev, uint8_t endpoint);
/* The next `count` transfers (control or pipe) fail with `code` without
 * reaching the device. */
void zel_host_usb_sim_fail_transfers(zel_host_usb_sim_dev_t *dev, uint32_t count, int code);
/* The next IN transfer on `endpoint` that carries data delivers at most
 * `bytes` (a short packet: a Bulk-Only data phase ends there). */
void zel_host_usb_sim_short_transfer(zel_host_usb_sim_dev_t *dev, uint8_t endpoint, uint32_t bytes);
/* Faults of the Bulk-Only status: the next `stalls` reads of a CSW find
 * bulk IN halted (each read halts it as it arrives; the CSW stays ready
 * behind the halt), and the next `corrupt` CSWs go out with a wrong
 * signature. */
void zel_host_usb_sim_status_faults(zel_host_usb_sim_dev_t *dev, uint32_t stalls, uint32_t corrupt);
/* While held, the device keeps its CSW back: reads of it wait, up to their
 * timeout, as with a device that hangs before its status. */
void zel_host_usb_sim_hold_status(zel_host_usb_sim_dev_t *dev, bool hold);
/* Driver installation answers `code` (0: works again) with `text`. */
void zel_host_usb_sim_fail_install(zel_host_usb_sim_dev_t *dev, int code, const char *text);
/* Opening answers `code` (0: opens again). */
void zel_host_usb_sim_fail_open(zel_host_usb_sim_dev_t *dev, int code);

/* ---- what the device saw (tests) ---- */
typedef struct zel_host_usb_sim_status {
    uint8_t plugged;
    uint8_t driver_installed;
    uint8_t configuration;  /* bConfigurationValue in use, 0 unconfigured */
    uint8_t open_count;     /* handles open on the device */
    uint8_t alt[8];         /* alternate setting per interface index */
    uint32_t halted;        /* bit (number | 16 for IN) per halted endpoint */
    uint32_t commands;      /* CBWs taken */
    uint32_t bot_resets;    /* Bulk-Only resets */
    uint32_t installs;      /* successful installations */
    uint32_t failures_left; /* injected transfer failures not used yet */
} zel_host_usb_sim_status_t;

void zel_host_usb_sim_get_status(zel_host_usb_sim_dev_t *dev, zel_host_usb_sim_status_t *out);

#ifdef __cplusplus
}
#endif

#endif

/* The simulated adapter's disk: the framework's virtual SCSI target over a
 * disk image, offered as the SCSI unit of a simulated device
 * (zel_host_usb_sim_config_t.scsi).
 *
 * The SCSI semantics (INQUIRY, READ CAPACITY, sense data, range checks)
 * are the virtual target's own; the image is read and written by a plain
 * back end of the target, synchronously. The target runs as sub-calls of an
 * agent of the disk: a transfer's host thread hands each command to that
 * agent as an emulated interrupt and waits for its answer on a host wake
 * object. So the kernel must be running, and commands must not come from
 * the kernel's own host thread.
 *
 * One disk serves one device.
 */
#ifndef ZEL_HOST_USB_SIM_DISK_H
#define ZEL_HOST_USB_SIM_DISK_H

#include <stdint.h>

#include "zel_host_usb_sim.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_host_usb_sim_disk zel_host_usb_sim_disk_t;

/* A zeroed image of `block_count` blocks in memory; null on bad sizes or no
 * memory. */
zel_host_usb_sim_disk_t *zel_host_usb_sim_disk_memory(uint32_t block_size, uint32_t block_count);
/* An image over the host file at `host_path`, opened for reading and
 * writing and claimed for the disk alone (as a mount claims its image,
 * zel_host_file_claim); its size rounded down to whole blocks. Null, with
 * errno saying why, when the file cannot be opened (the open's errno: no
 * such file, no permission, too many open files, ...), holds no whole
 * block or more than 2^32 (EINVAL), is claimed or open for writing
 * elsewhere (EBUSY), or there is no memory for the disk (ENOMEM). */
zel_host_usb_sim_disk_t *zel_host_usb_sim_disk_file(const char *host_path, uint32_t block_size);
/* Stops the disk's agent and frees the disk. No command may be running. */
void zel_host_usb_sim_disk_destroy(zel_host_usb_sim_disk_t *disk);

/* The bytes of a memory image (null for a file image). */
uint8_t *zel_host_usb_sim_disk_bytes(zel_host_usb_sim_disk_t *disk);
/* The disk as a SCSI unit. */
zel_host_usb_sim_scsi_t zel_host_usb_sim_disk_unit(zel_host_usb_sim_disk_t *disk);

/* The simulated adapter for people: with ZEL_USB=sim and
 * ZEL_USB_SIM_DISK=<disk image>, makes a device of vendor 0xABCD, product 0
 * with mass storage over that image (512-byte blocks) and plugs it for the
 * rest of the run. 1 when plugged, 0 when not asked for (a line on stderr
 * when only one of the two is set), or a negative code with a line on
 * stderr that says why ("... is in use ..." for an image that a mount or
 * another program has). */
[[nodiscard]] int zel_host_usb_sim_plug_from_env(void);
/* The adapter that zel_host_usb_sim_plug_from_env plugged (null while it has
 * plugged none), for a test program that pulls it out
 * (zel_host_usb_sim_unplug) as a person would. */
zel_host_usb_sim_dev_t *zel_host_usb_sim_env_device(void);

/* As zel_host_usb_sim_offer, and the application's start plugs the adapter
 * that ZEL_USB_SIM_DISK names (zel_host_usb_sim_plug_from_env, through
 * zel_host_usb_plug_from_env): the offer of the programs for people. */
void zel_host_usb_sim_offer_env(void);

#ifdef __cplusplus
}
#endif

#endif

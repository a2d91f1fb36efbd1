/* Volumes for the application: the mount command's types, and the adapter
 * disk that the mass-storage class hands over.
 *
 * mount types, in this order: "auto" and "fatfs" (a disk image file whose
 * FAT partitions are found through its MBR; they need a block size) and
 * "winfs" (a host folder). A type's prepare function makes the data handed
 * to the layer's mount from {device, block size}; its clean-up releases
 * it. mount_apply mounts the data on a directory and, when that fails,
 * releases it unless partitions that were mounted before the failure still
 * use it (they stay mounted). An image is mounted once: a second mount of
 * the same file (however its path is spelled) is refused, so that no two
 * volumes cache the same sectors. A writable image file on the host is
 * claimed by its mount (zel_winfs_claim): another program's mount of it, the
 * simulated adapter's disk and every other open for writing are refused
 * (they get it for reading only), and a mount of a file that someone else
 * has claimed is refused too.
 *
 * The adapter disk: on_msc_disk_connect builds the one SCSI block device
 * over the class driver's SCSI device, initialises it and mounts its FAT
 * partitions under "/scsi" ("root<i>", renamed to the volume label), one
 * sub-call after the other on an agent of its own; a second disk is
 * ignored until the first one disconnects. A failure traces "fail to mount
 * scsi drive", writes one line saying why on the host's standard error
 * ("trellow: the adapter's disk could not be read: ...") and sets the
 * disk's state to APP_DISK_FAILED, which the GUI's adapter poll reads; the
 * disk's disconnect or the next one's connect clears it.
 *
 * This header is plain C and usable by code built against the layer's own
 * C library headers. */
#ifndef APP_MOUNT_H
#define APP_MOUNT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct zel_fs_op;
struct zel_scsi;
struct zel_eda;

typedef struct mount_args {
    const char *device;
    uint32_t block_size;
} mount_args_t;

typedef struct mount_type mount_type_t;
typedef void *(*mount_prepare_t)(const mount_type_t *row, const mount_args_t *args);
typedef void (*mount_cleanup_t)(void *data);

struct mount_type {
    const char *name;
    const struct zel_fs_op *driver; /* none: the MBR partition scan with fatfs */
    mount_prepare_t prepare;
    mount_cleanup_t cleanup;
    uint8_t needs_block_size;
};

#define MOUNT_TYPE_COUNT 3
extern const mount_type_t mount_types[MOUNT_TYPE_COUNT];

void *mount_file_mal_prepare(const mount_type_t *row, const mount_args_t *args);
void mount_file_mal_cleanup(void *data);
void *mount_winfs_prepare(const mount_type_t *row, const mount_args_t *args);
void mount_winfs_cleanup(void *data);
/* Mounts data prepared from `args` on `dir`: 0, or -1 with the data
 * released (or kept for the partitions it still serves) and the reason in
 * `reason` (one line without its line end, at most size - 1 characters):
 *   "no directory DIR"                          dir is missing or no directory
 *   "no host folder DEVICE"                     winfs: no such host folder
 *   "DEVICE is already mounted"                 the image is mounted already
 *   "DEVICE is in use"                          another program's mount or the
 *                                               simulated adapter has claimed it
 *   "unsupported block size N"                  N does not divide the 512-byte
 *                                               sectors of the partition table
 *   "no FAT partition found on DEVICE"          no FAT entry in its partition
 *                                               table; followed by
 *                                               ": it has no partition table"
 *                                               (a volume without one, not a
 *                                               disk) or ": its GPT partition
 *                                               table is not read"
 *   "unsupported sector size N on DEVICE"       its FAT volumes have N-byte sectors
 *   "no FAT volume mounted from DEVICE"         its FAT entries hold no volume
 *   "M of N FAT partitions of DEVICE mounted"   the others did not mount
 *   "not enough resources"                      no memory
 * On success `reason` is empty, or says
 *   "DEVICE is read-only: its volumes are mounted read-only"
 * for an image file that cannot be written. */
int mount_apply(
    const mount_type_t *row, const mount_args_t *args, const char *dir, void *data, char *reason, size_t size);

/* ---- the adapter disk ---- */
void on_msc_disk_connect(struct zel_scsi *scsi);
void on_msc_disk_disconnect(struct zel_scsi *scsi);
void scsi_mount_evthandler(struct zel_eda *agent, uint16_t evt);
/* How far the adapter disk's mount has come, for the GUI's adapter poll and
 * a program that waits for the adapter's volume (zel-console): no disk
 * handed over (or it went away), being mounted, its partitions mounted
 * under "/scsi", or connected but failed.
 * Read under the interrupt lock (framework code or an emulated interrupt). */
typedef enum app_disk_state {
    APP_DISK_NONE = 0,
    APP_DISK_MOUNTING,
    APP_DISK_MOUNTED,
    APP_DISK_FAILED
} app_disk_state_t;
app_disk_state_t app_adapter_disk_state(void);
/* Copies the first entry's name of a directory into out (at most n - 1
 * bytes and a NUL); true only when the directory holds exactly one entry. */
bool dir_first_entry_name(const char *dir, char *out, size_t n);

#ifdef __cplusplus
}
#endif

#endif

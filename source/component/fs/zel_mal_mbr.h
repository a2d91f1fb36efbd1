/* MBR partition mount: reads the partition table of a block device and
 * mounts fatfs on each FAT partition (types 0x01, 0x04, 0x06, 0x0B, 0x0C,
 * 0x0E) in a new directory "root<i>" under a given directory; a mounted
 * volume with a label gives its directory a copy of the label (in UTF-8) as
 * its name. Each partition gets one heap record (window, volume, a cache of
 * ZEL_MBR_CACHE_SECTORS sectors, enough to keep the FAT, directory and
 * information sectors that one operation goes back to) that lives as long as
 * the mount and is released by the unmount.
 * Windows are cut to the device, so nothing outside it is ever addressed.
 *
 * A partition that does not mount leaves nothing behind (its directory is
 * closed and removed) and the scan goes on with the next entry; the result is
 * then -7, while the partitions that did mount stay mounted.
 *
 * The sectors of a volume are mounted once: an entry that repeats the first
 * sector of an earlier FAT entry is passed over (the table lists one
 * partition twice), and one whose sectors overlap those of a mounted
 * partition does not mount (result -7). Two volumes over the same sectors
 * would each write back what it cached over what the other changed. */
#ifndef ZEL_MAL_MBR_H
#define ZEL_MAL_MBR_H

#include "zel_fatfs.h"
#include "zel_window_mal.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_MBR_SECTOR 512u
#define ZEL_MBR_TABLE_OFFSET 446u
#define ZEL_MBR_CACHE_SECTORS 16u

/* One entry of the partition table (little-endian). */
typedef struct __attribute__((packed)) zel_mbr_entry {
    uint8_t status;
    uint8_t chs_first[3];
    uint8_t type;
    uint8_t chs_last[3];
    uint32_t first_sector;
    uint32_t sector_count;
} zel_mbr_entry_t;

/* What the scan found in sector 0. */
typedef enum zel_mbr_table {
    ZEL_MBR_TABLE_MBR = 0,  /* a partition table */
    ZEL_MBR_TABLE_NONE = 1, /* no table: no signature, or a volume's boot sector (a disk formatted whole) */
    ZEL_MBR_TABLE_GPT = 2   /* a GPT disk's protective entry (type 0xEE): its partitions are not read */
} zel_mbr_table_t;

/* The parameter record, filled by the caller (device, directory) and kept
 * alive until the operation answers; `result` is 0 (every FAT partition
 * mounted), -6 (no memory: the scan stopped) or -7 (no partition table, or a
 * partition that did not mount). */
typedef struct zel_mal_mount_mbr {
    zel_mal_t *mal;
    zel_file_t *dir;
    int32_t result;
    /* working fields */
    uint8_t *sector;
    zel_fatfs_info_t *vol;
    zel_fatfs_cache_t *cache;
    const zel_fs_op_t *driver;
    zel_file_t *opened;
    uint8_t step;
    char *name;
    uint8_t index;
    /* what the scan found, for the caller's messages */
    uint8_t found;        /* FAT entries of the table, each partition counted once */
    uint8_t mounted;      /* bit i: entry i was mounted */
    uint16_t sector_size; /* a FAT volume was refused for sectors of this many bytes (0: none) */
    uint8_t table;        /* what sector 0 holds: a zel_mbr_table_t */
} zel_mal_mount_mbr_t;

/* One mounted partition. */
typedef struct zel_mbr_partition {
    zel_window_mal_t window;
    char name[6]; /* "root" and the index digit */
    zel_fatfs_info_t vol;
    zel_fatfs_cache_entry_t entry[ZEL_MBR_CACHE_SECTORS];
    uint8_t buffer[ZEL_MBR_CACHE_SECTORS][ZEL_MBR_SECTOR]; /* right after the entries */
} zel_mbr_partition_t;

/* True for the partition types that hold FAT volumes. */
bool zel_mbr_is_fat_type(uint8_t type);

/* Starts the mount as a sub-call on `record` (0 or -6); it always answers 0
 * and leaves its outcome in record->result. */
[[nodiscard]] int32_t zel_mal_mount_mbr(zel_mal_mount_mbr_t *record);
void zel_mal_mount_mbr_handler(void *locals, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

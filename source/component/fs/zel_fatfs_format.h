/* FAT on-disk format: boot sector, geometry checks, FAT entries, directory
 * entries with long names, and the FAT32 information sector. Pure code over
 * sector buffers; nothing here touches a device. */
#ifndef ZEL_FATFS_FORMAT_H
#define ZEL_FATFS_FORMAT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- boot sector ---- */

/* The BIOS parameter block at the start of sector 0 (little-endian). */
typedef struct __attribute__((packed)) zel_fat_bpb {
    uint8_t jump[3];
    char oem[8];
    uint16_t bytes_per_sector;   /* 11 */
    uint8_t sectors_per_cluster; /* 13 */
    uint16_t reserved_sectors;   /* 14: the FAT region begins here */
    uint8_t fat_count;           /* 16 */
    uint16_t root_entries;       /* 17: 0 on FAT32 */
    uint16_t total_sectors16;    /* 19: 0: use total_sectors32 */
    uint8_t media;               /* 21 */
    uint16_t fat_size16;         /* 22: 0: use fat_size32 */
    uint16_t sectors_per_track;  /* 24 */
    uint16_t heads;              /* 26 */
    uint32_t hidden_sectors;     /* 28 */
    uint32_t total_sectors32;    /* 32 */
    uint32_t fat_size32;         /* 36: FAT32 */
    uint16_t ext_flags;          /* 40: FAT32 */
    uint16_t fs_version;         /* 42: FAT32 */
    uint32_t root_cluster;       /* 44: FAT32 */
    uint16_t fsinfo_sector;      /* 48: FAT32 */
    uint16_t backup_boot_sector; /* 50: FAT32 */
} zel_fat_bpb_t;

#define ZEL_FAT_SIGNATURE_OFFSET 510
#define ZEL_FAT_SIGNATURE 0xAA55u

/* FAT types as the volume record keeps them. */
enum { ZEL_FAT_NONE = 0, ZEL_FAT12 = 1, ZEL_FAT16 = 2, ZEL_FAT32 = 3, ZEL_EXFAT = 4 };

/* What a mount learns from the boot sector. Sector numbers count sectors of
 * the volume's own size from the start of the volume. */
typedef struct zel_fat_geometry {
    uint32_t type;
    uint32_t root_start;   /* FAT12/16: fixed root region; FAT32: data start */
    uint32_t root_sectors; /* 0 on FAT32 */
    uint32_t fat_start;
    uint32_t fat_size;      /* sectors of one FAT copy */
    uint32_t data_start;    /* first sector of cluster 2 */
    uint32_t cluster_limit; /* one above the largest usable cluster number */
    uint32_t root_cluster;  /* FAT32, else 0 */
    uint8_t sector_shift;
    uint8_t cluster_shift;
    uint8_t fat_count;
    uint8_t fat_active;     /* ZEL_FAT_MIRRORED, or the one FAT in use */
    uint16_t fsinfo_sector; /* FAT32 information sector, 0 when none */
} zel_fat_geometry_t;

/* Every FAT copy is kept; else (FAT32, mirroring off) only the active one. */
#define ZEL_FAT_MIRRORED 0xFFu

/* Checks sector 0 of a volume and works out its geometry. `block_size` is the
 * sector size the volume is read with, `device_bytes` the size of the device
 * that holds it. Answers 0, or ZEL_FS_ERR_FAILED (-7) for anything that cannot be served safely:
 * a missing signature, exFAT (geometry type ZEL_EXFAT), an unsupported or
 * mismatched sector size, zero or non-power-of-two counts, data that starts
 * past the end, a FAT too small for the clusters, a FAT32 root cluster out of
 * range, an active FAT that does not exist, or a volume larger than its
 * device. */
[[nodiscard]] int zel_fat_parse_boot(
    const uint8_t *sector, uint32_t block_size, uint64_t device_bytes, zel_fat_geometry_t *geometry);

/* ---- FAT entries ---- */

/* Entry width in bits by FAT type (0, 12, 16, 32, 32). */
uint32_t zel_fat_entry_width(uint32_t type);
/* Bits of an entry the driver writes: FAT32 keeps the top 4 reserved bits of
 * every entry as the volume has them. */
uint32_t zel_fat_entry_put_bits(uint32_t type);
/* Bad mark: this value and above end a chain (0xFF7, 0xFFF7, 0x0FFFFFF7). */
uint32_t zel_fat_bad_mark(uint32_t type);
/* End-of-chain value written (0xFFF, 0xFFFF, 0x0FFFFFFF). */
uint32_t zel_fat_eoc(uint32_t type);
/* The value of an entry as the chain rules read it (FAT32: low 28 bits). */
uint32_t zel_fat_entry_value(uint32_t type, uint32_t raw);

/* Where the entry of `cluster` starts in the first FAT copy: sector relative
 * to the FAT start, and bit offset within that sector. */
void zel_fat_entry_locate(uint32_t type, uint8_t sector_shift, uint32_t cluster, uint32_t *sector, uint32_t *bit);
/* Reads / writes `count` bits (at most 32) starting at bit `bit` of a byte
 * buffer, bit 0 of each byte first, bytes in order. */
uint32_t zel_fat_bits_get(const uint8_t *buffer, uint32_t bit, uint32_t count);
void zel_fat_bits_put(uint8_t *buffer, uint32_t bit, uint32_t count, uint32_t value);

/* ---- FAT32 information sector ---- */

typedef struct __attribute__((packed)) zel_fat_fsinfo {
    uint32_t lead_signature; /* 0: 0x41615252 */
    uint8_t reserved1[480];
    uint32_t struct_signature; /* 484: 0x61417272 */
    uint32_t free_count;       /* 488: 0xFFFFFFFF unknown */
    uint32_t next_free;        /* 492: 0xFFFFFFFF unknown */
    uint8_t reserved2[12];
    uint32_t trail_signature; /* 508: 0xAA550000 */
} zel_fat_fsinfo_t;

#define ZEL_FAT_FSINFO_LEAD 0x41615252u
#define ZEL_FAT_FSINFO_STRUCT 0x61417272u
#define ZEL_FAT_FSINFO_TRAIL 0xAA550000u
#define ZEL_FAT_FSINFO_UNKNOWN 0xFFFFFFFFu

/* True when the sector carries the three signatures of an information sector. */
bool zel_fat_fsinfo_valid(const uint8_t *sector);

/* ---- directory entries ---- */

typedef struct __attribute__((packed)) zel_fat_dentry {
    char name[8];              /* 0: blank-padded; 0x00 ends, 0xE5 deleted */
    char ext[3];               /* 8 */
    uint8_t attributes;        /* 11 */
    uint8_t case_flags;        /* 12: 0x08 base lower, 0x10 extension lower */
    uint8_t create_time_tenth; /* 13 */
    uint16_t create_time;      /* 14 */
    uint16_t create_date;      /* 16 */
    uint16_t access_date;      /* 18 */
    uint16_t cluster_high;     /* 20 */
    uint16_t write_time;       /* 22 */
    uint16_t write_date;       /* 24 */
    uint16_t cluster_low;      /* 26 */
    uint32_t size;             /* 28 */
} zel_fat_dentry_t;

/* A long-name piece (attributes 0x0F). */
typedef struct __attribute__((packed)) zel_fat_lfn {
    uint8_t ordinal;    /* 0: sequence number, 0x40 on the last piece */
    uint16_t units1[5]; /* 1 */
    uint8_t attributes; /* 11: 0x0F */
    uint8_t type;       /* 12 */
    uint8_t checksum;   /* 13: not checked */
    uint16_t units2[6]; /* 14 */
    uint16_t cluster;   /* 26 */
    uint16_t units3[2]; /* 28 */
} zel_fat_lfn_t;

enum {
    ZEL_FAT_ATTR_READ_ONLY = 0x01,
    ZEL_FAT_ATTR_HIDDEN = 0x02,
    ZEL_FAT_ATTR_LABEL = 0x08,
    ZEL_FAT_ATTR_DIRECTORY = 0x10,
    ZEL_FAT_ATTR_LFN = 0x0F
};

#define ZEL_FAT_DENTRY_SIZE 32u
#define ZEL_FAT_DENTRY_END 0x00
#define ZEL_FAT_DENTRY_DELETED 0xE5
/* Long names are gathered up to 15 pieces of 13 units. */
#define ZEL_FAT_LFN_MAX_PIECES 15u
#define ZEL_FAT_LFN_UNITS 13u
#define ZEL_FAT_NAME_BUFFER 404u
/* A gathered name as UTF-8: at most 195 units of 3 bytes, and the NUL. */
#define ZEL_FAT_NAME_UTF8_MAX 592u

/* The state of a walk over the entries of one directory sector. */
typedef struct zel_fatfs_parse {
    const uint8_t *entry; /* the next 32-byte entry */
    int16_t left;         /* entries left in the sector */
    uint8_t seq;          /* sequence number of the last piece taken, 0 none */
    uint8_t wide;         /* the completed long name holds non-ASCII units */
    uint8_t *names;       /* ZEL_FAT_NAME_BUFFER bytes of UTF-16 units */
    uint8_t long_name;    /* the completed name is the gathered long name */
    const uint8_t *start; /* the piece that began the run being gathered, when in this sector */
} zel_fatfs_parse_t;

/* Walks entries of one sector until a name is complete: true with `entry` at
 * the short entry that completes it; false when the sector is used up
 * (`left` 0) or at an end entry (`entry` at it, first byte 0x00). Long-name
 * pieces are taken only in a valid run: a piece with 0x40 and a sequence
 * number of 1 to 15 starts a fresh (zeroed) name, and each later piece must
 * carry the next lower number; anything else drops the gathered name, so the
 * short name is used. */
bool zel_fatfs_parse_dentry(zel_fatfs_parse_t *state);

/* The name completed by the last zel_fatfs_parse_dentry that answered true,
 * as UTF-8 into `out` (at least ZEL_FAT_NAME_UTF8_MAX bytes): the gathered
 * long name when a valid run ended with piece 1 right before the short entry,
 * else the 8.3 name. Answers its length. */
size_t zel_fatfs_dentry_name(const zel_fatfs_parse_t *state, char *out);

/* The 8.3 name of a short entry as UTF-8, lowered by its case flags; no '.'
 * without an extension. Bytes from 0x80 are taken as code page 437, and a
 * first byte of 0x05 as 0xE5. Answers the length written (at most
 * ZEL_FAT_SHORT_UTF8_MAX - 1, plus the NUL). */
size_t zel_fat_short_name(const zel_fat_dentry_t *entry, char *out);
#define ZEL_FAT_SHORT_UTF8_MAX (11u * 3u + 2u)

/* Up to `count` OEM bytes (code page 437, stopping at a NUL) as UTF-8 into
 * `out` (3 x count + 1 bytes); answers the length. */
size_t zel_fat_oem_to_utf8(const char *bytes, size_t count, char *out);

/* UTF-16 units up to the first 0 (at most `count`) as UTF-8; unpaired
 * surrogates become U+FFFD. `out` holds at least 3 x count + 1 bytes. */
size_t zel_fat_utf16_to_utf8(const uint8_t *units, size_t count, char *out);

/* First cluster of an entry. */
static inline uint32_t zel_fat_dentry_cluster(const zel_fat_dentry_t *entry) {
    return ((uint32_t)entry->cluster_high << 16) | entry->cluster_low;
}

/* The 11 bytes of a label entry, trailing blanks cut, into `out` (12 bytes). */
void zel_fat_label_copy(const zel_fat_dentry_t *entry, char *out);

#ifdef __cplusplus
}
#endif

#endif

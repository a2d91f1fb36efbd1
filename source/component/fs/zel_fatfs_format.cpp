#include "zel_fatfs_format.h"

#include "zel_fs.h"

#include <string.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the FAT records are read in place");
static_assert(sizeof(zel_fat_bpb_t) == 52);
static_assert(offsetof(zel_fat_bpb_t, bytes_per_sector) == 11);
static_assert(offsetof(zel_fat_bpb_t, sectors_per_cluster) == 13);
static_assert(offsetof(zel_fat_bpb_t, reserved_sectors) == 14);
static_assert(offsetof(zel_fat_bpb_t, fat_count) == 16);
static_assert(offsetof(zel_fat_bpb_t, root_entries) == 17);
static_assert(offsetof(zel_fat_bpb_t, total_sectors16) == 19);
static_assert(offsetof(zel_fat_bpb_t, fat_size16) == 22);
static_assert(offsetof(zel_fat_bpb_t, total_sectors32) == 32);
static_assert(offsetof(zel_fat_bpb_t, fat_size32) == 36);
static_assert(offsetof(zel_fat_bpb_t, root_cluster) == 44);
static_assert(offsetof(zel_fat_bpb_t, fsinfo_sector) == 48);
static_assert(sizeof(zel_fat_fsinfo_t) == 512);
static_assert(offsetof(zel_fat_fsinfo_t, struct_signature) == 484);
static_assert(offsetof(zel_fat_fsinfo_t, free_count) == 488);
static_assert(offsetof(zel_fat_fsinfo_t, next_free) == 492);
static_assert(offsetof(zel_fat_fsinfo_t, trail_signature) == 508);
static_assert(sizeof(zel_fat_dentry_t) == ZEL_FAT_DENTRY_SIZE);
static_assert(offsetof(zel_fat_dentry_t, attributes) == 11);
static_assert(offsetof(zel_fat_dentry_t, case_flags) == 12);
static_assert(offsetof(zel_fat_dentry_t, cluster_high) == 20);
static_assert(offsetof(zel_fat_dentry_t, cluster_low) == 26);
static_assert(offsetof(zel_fat_dentry_t, size) == 28);
static_assert(sizeof(zel_fat_lfn_t) == ZEL_FAT_DENTRY_SIZE);
static_assert(offsetof(zel_fat_lfn_t, units1) == 1);
static_assert(offsetof(zel_fat_lfn_t, units2) == 14);
static_assert(offsetof(zel_fat_lfn_t, units3) == 28);
static_assert(ZEL_FAT_NAME_BUFFER >= 2 * (ZEL_FAT_LFN_MAX_PIECES * ZEL_FAT_LFN_UNITS + 1));
static_assert(ZEL_FAT_NAME_UTF8_MAX >= 3 * ZEL_FAT_LFN_MAX_PIECES * ZEL_FAT_LFN_UNITS + 1);

namespace {

constexpr uint32_t kFat12MaxClusters = 4085;  // fewer clusters than this: FAT12
constexpr uint16_t kFat32NotMirrored = 0x80;  // ext_flags: only one FAT is in use
constexpr uint16_t kFat32ActiveMask = 0x0F;   // ext_flags: which one

bool is_power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

uint8_t log2_of(uint32_t v) {
    uint8_t shift = 0;
    while (v > 1) {
        v >>= 1;
        shift++;
    }
    return shift;
}

bool is_exfat(const uint8_t *sector) {
    for (int i = 11; i < 64; i++)
        if (sector[i] != 0) return false;
    return true;
}

}  // namespace

int zel_fat_parse_boot(const uint8_t *sector, uint32_t block_size, uint64_t device_bytes, zel_fat_geometry_t *g) {
    memset(g, 0, sizeof *g);
    if ((sector[ZEL_FAT_SIGNATURE_OFFSET] | (sector[ZEL_FAT_SIGNATURE_OFFSET + 1] << 8)) != ZEL_FAT_SIGNATURE)
        return ZEL_FS_ERR_FAILED;
    if (is_exfat(sector)) {
        g->type = ZEL_EXFAT;
        return ZEL_FS_ERR_FAILED;
    }
    zel_fat_bpb_t bpb;
    memcpy(&bpb, sector, sizeof bpb);
    const uint32_t bps = bpb.bytes_per_sector;
    if (bps != block_size || (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096)) return ZEL_FS_ERR_FAILED;
    if (!is_power_of_two(bpb.sectors_per_cluster)) return ZEL_FS_ERR_FAILED;
    const uint32_t total = bpb.total_sectors16 ? bpb.total_sectors16 : bpb.total_sectors32;
    const uint32_t fat_size = bpb.fat_size16 ? bpb.fat_size16 : bpb.fat_size32;
    if (bpb.reserved_sectors == 0 || bpb.fat_count == 0 || total == 0 || fat_size == 0) return ZEL_FS_ERR_FAILED;

    g->sector_shift = log2_of(bps);
    g->cluster_shift = log2_of(bpb.sectors_per_cluster);
    g->fat_count = bpb.fat_count;
    g->fat_start = bpb.reserved_sectors;
    g->fat_size = fat_size;

    const uint64_t root_sectors = ((uint64_t)bpb.root_entries * ZEL_FAT_DENTRY_SIZE + bps - 1) / bps;
    const uint64_t root_start = (uint64_t)bpb.reserved_sectors + (uint64_t)bpb.fat_count * fat_size;
    const uint64_t data_start = root_start + root_sectors;
    // The data region must exist and hold at least one cluster.
    if (data_start >= total) return ZEL_FS_ERR_FAILED;
    const uint32_t clusters = (uint32_t)((total - data_start) >> g->cluster_shift);
    if (clusters == 0) return ZEL_FS_ERR_FAILED;
    g->root_start = (uint32_t)root_start;
    g->root_sectors = (uint32_t)root_sectors;
    g->data_start = (uint32_t)data_start;

    if (bpb.root_entries != 0) {
        g->type = clusters < kFat12MaxClusters ? ZEL_FAT12 : ZEL_FAT16;
    } else {
        g->type = ZEL_FAT32;
        if (bpb.fat_size16 != 0 || bpb.total_sectors16 != 0) return ZEL_FS_ERR_FAILED;
    }
    // Cluster numbers from the bad mark up cannot be linked: they are not used.
    uint64_t limit = (uint64_t)clusters + 2;
    if (limit > zel_fat_bad_mark(g->type)) limit = zel_fat_bad_mark(g->type);
    g->cluster_limit = (uint32_t)limit;
    // One FAT copy must hold an entry for every cluster number below the limit.
    const uint64_t fat_bits = (uint64_t)fat_size * bps * 8;
    if (fat_bits / zel_fat_entry_width(g->type) < limit) return ZEL_FS_ERR_FAILED;
    g->fat_active = ZEL_FAT_MIRRORED;
    if (g->type == ZEL_FAT32) {
        if (bpb.root_cluster < 2 || bpb.root_cluster >= g->cluster_limit) return ZEL_FS_ERR_FAILED;
        g->root_cluster = bpb.root_cluster;
        if (bpb.fsinfo_sector != 0 && bpb.fsinfo_sector < bpb.reserved_sectors) g->fsinfo_sector = bpb.fsinfo_sector;
        if (bpb.ext_flags & kFat32NotMirrored) {
            g->fat_active = (uint8_t)(bpb.ext_flags & kFat32ActiveMask);
            if (g->fat_active >= g->fat_count) return ZEL_FS_ERR_FAILED;
        }
    }
    // The volume must lie inside the device that holds it.
    if ((uint64_t)total * bps > device_bytes) return ZEL_FS_ERR_FAILED;
    return 0;
}

uint32_t zel_fat_entry_width(uint32_t type) {
    static const uint32_t widths[] = {0, 12, 16, 32, 32};
    return type < 5 ? widths[type] : 0;
}

uint32_t zel_fat_entry_put_bits(uint32_t type) { return type == ZEL_FAT32 ? 28u : zel_fat_entry_width(type); }

uint32_t zel_fat_bad_mark(uint32_t type) {
    switch (type) {
    case ZEL_FAT12: return 0xFF7u;
    case ZEL_FAT16: return 0xFFF7u;
    default: return 0x0FFFFFF7u;
    }
}

uint32_t zel_fat_eoc(uint32_t type) {
    switch (type) {
    case ZEL_FAT12: return 0xFFFu;
    case ZEL_FAT16: return 0xFFFFu;
    default: return 0x0FFFFFFFu;
    }
}

uint32_t zel_fat_entry_value(uint32_t type, uint32_t raw) { return type == ZEL_FAT32 ? raw & 0x0FFFFFFFu : raw; }

void zel_fat_entry_locate(uint32_t type, uint8_t sector_shift, uint32_t cluster, uint32_t *sector, uint32_t *bit) {
    const uint64_t b = (uint64_t)cluster * zel_fat_entry_width(type);
    const uint32_t sector_bits_shift = sector_shift + 3u;
    *sector = (uint32_t)(b >> sector_bits_shift);
    *bit = (uint32_t)(b & ((1u << sector_bits_shift) - 1));
}

uint32_t zel_fat_bits_get(const uint8_t *buffer, uint32_t bit, uint32_t count) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t at = bit + i;
        value |= (uint32_t)((buffer[at >> 3] >> (at & 7)) & 1u) << i;
    }
    return value;
}

void zel_fat_bits_put(uint8_t *buffer, uint32_t bit, uint32_t count, uint32_t value) {
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t at = bit + i;
        const uint8_t mask = (uint8_t)(1u << (at & 7));
        if ((value >> i) & 1u)
            buffer[at >> 3] |= mask;
        else
            buffer[at >> 3] &= (uint8_t)~mask;
    }
}

bool zel_fat_fsinfo_valid(const uint8_t *sector) {
    zel_fat_fsinfo_t info;
    memcpy(&info, sector, sizeof info);
    return info.lead_signature == ZEL_FAT_FSINFO_LEAD && info.struct_signature == ZEL_FAT_FSINFO_STRUCT &&
           info.trail_signature == ZEL_FAT_FSINFO_TRAIL;
}

/* ---- directory entries ---- */

namespace {

// Copies a piece's units up to the first 0 unit into its place in the name
// buffer; answers how many were copied.
uint32_t copy_piece(const zel_fat_lfn_t &piece, uint8_t *names, uint32_t seq) {
    uint16_t units[ZEL_FAT_LFN_UNITS];
    memcpy(units, piece.units1, sizeof piece.units1);
    memcpy(units + 5, piece.units2, sizeof piece.units2);
    memcpy(units + 11, piece.units3, sizeof piece.units3);
    uint32_t n = 0;
    while (n < ZEL_FAT_LFN_UNITS && units[n] != 0) n++;
    memcpy(names + 2 * ZEL_FAT_LFN_UNITS * (seq - 1), units, 2 * n);
    return n;
}

void take_piece(zel_fatfs_parse_t *st, const zel_fat_lfn_t &piece, const uint8_t *at) {
    const uint32_t seq = piece.ordinal & 0x1Fu;
    const uint32_t flags = piece.ordinal & 0xE0u;
    if (flags == 0x40 && seq >= 1 && seq <= ZEL_FAT_LFN_MAX_PIECES) {
        // The piece that holds the end of a name starts a fresh one.
        memset(st->names, 0, ZEL_FAT_NAME_BUFFER);
        const uint32_t n = copy_piece(piece, st->names, seq);
        const uint32_t end = 2 * (ZEL_FAT_LFN_UNITS * (seq - 1) + n);
        st->names[end] = 0;
        st->names[end + 1] = 0;
        st->seq = (uint8_t)seq;
        st->start = at;
    } else if (flags == 0 && st->seq > 1 && seq == st->seq - 1u) {
        copy_piece(piece, st->names, seq);
        st->seq = (uint8_t)seq;
    } else {
        st->seq = 0;  // out of order or malformed: the short name will be used
    }
}

}  // namespace

bool zel_fatfs_parse_dentry(zel_fatfs_parse_t *st) {
    while (st->left > 0) {
        const uint8_t *e = st->entry;
        if (e[0] == ZEL_FAT_DENTRY_END) return false;
        if (e[0] == ZEL_FAT_DENTRY_DELETED) {
            st->seq = 0;
        } else if (e[11] == ZEL_FAT_ATTR_LABEL) {
            // a label entry between pieces does not break the name
        } else if (e[11] == ZEL_FAT_ATTR_LFN) {
            zel_fat_lfn_t piece;
            memcpy(&piece, e, sizeof piece);
            take_piece(st, piece, e);
        } else {
            st->long_name = st->seq == 1 && (st->names[0] | st->names[1]) != 0;
            st->wide = 0;
            if (st->long_name) {
                for (uint32_t i = 0; i < ZEL_FAT_LFN_MAX_PIECES * ZEL_FAT_LFN_UNITS; i++) {
                    const uint32_t unit = st->names[2 * i] | (st->names[2 * i + 1] << 8);
                    if (unit == 0) break;
                    if (unit >= 128) st->wide = 1;
                }
            }
            st->seq = 0;
            return true;
        }
        st->entry += ZEL_FAT_DENTRY_SIZE;
        st->left--;
    }
    return false;
}

namespace {

// clang-format off
// The upper half of code page 437, the OEM character set of short names.
const uint16_t oem_upper[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
// clang-format on

constexpr uint8_t kKanjiLead = 0x05;  // a first byte of 0x05 stands for 0xE5

size_t put_utf8(uint32_t c, char *out) {
    if (c < 0x80) {
        out[0] = (char)c;
        return 1;
    }
    if (c < 0x800) {
        out[0] = (char)(0xC0 | (c >> 6));
        out[1] = (char)(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = (char)(0xE0 | (c >> 12));
        out[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        out[2] = (char)(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (c >> 18));
    out[1] = (char)(0x80 | ((c >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((c >> 6) & 0x3F));
    out[3] = (char)(0x80 | (c & 0x3F));
    return 4;
}

size_t put_oem(uint8_t byte, bool lower, char *out) {
    if (byte >= 0x80) return put_utf8(oem_upper[byte - 0x80], out);
    out[0] = (char)(lower && byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte);
    return 1;
}

}  // namespace

size_t zel_fat_oem_to_utf8(const char *bytes, size_t count, char *out) {
    size_t n = 0;
    for (size_t i = 0; i < count && bytes[i]; i++) n += put_oem((uint8_t)bytes[i], false, out + n);
    out[n] = 0;
    return n;
}

size_t zel_fat_short_name(const zel_fat_dentry_t *entry, char *out) {
    size_t n = 0;
    const bool lower_base = entry->case_flags & 0x08;
    const bool lower_ext = entry->case_flags & 0x10;
    for (int i = 0; i < 8 && entry->name[i] != ' '; i++) {
        const uint8_t byte = i == 0 && (uint8_t)entry->name[0] == kKanjiLead ? 0xE5 : (uint8_t)entry->name[i];
        n += put_oem(byte, lower_base, out + n);
    }
    if (entry->ext[0] != ' ') {
        out[n++] = '.';
        for (int i = 0; i < 3 && entry->ext[i] != ' '; i++) n += put_oem((uint8_t)entry->ext[i], lower_ext, out + n);
    }
    out[n] = 0;
    return n;
}

size_t zel_fat_utf16_to_utf8(const uint8_t *units, size_t count, char *out) {
    size_t n = 0;
    auto unit_at = [&](size_t i) { return (uint32_t)(units[2 * i] | (units[2 * i + 1] << 8)); };
    for (size_t i = 0; i < count; i++) {
        uint32_t c = unit_at(i);
        if (c == 0) break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && unit_at(i + 1) >= 0xDC00 && unit_at(i + 1) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit_at(i + 1) - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        n += put_utf8(c, out + n);
    }
    out[n] = 0;
    return n;
}

size_t zel_fatfs_dentry_name(const zel_fatfs_parse_t *st, char *out) {
    if (st->long_name) return zel_fat_utf16_to_utf8(st->names, ZEL_FAT_LFN_MAX_PIECES * ZEL_FAT_LFN_UNITS, out);
    zel_fat_dentry_t entry;
    memcpy(&entry, st->entry, sizeof entry);
    return zel_fat_short_name(&entry, out);
}

void zel_fat_label_copy(const zel_fat_dentry_t *entry, char *out) {
    memcpy(out, entry->name, 8);
    memcpy(out + 8, entry->ext, 3);
    int n = 11;
    while (n > 0 && out[n - 1] == ' ') n--;
    out[n] = 0;
}

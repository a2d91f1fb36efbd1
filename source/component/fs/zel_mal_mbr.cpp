#include "zel_mal_mbr.h"

#include <string.h>

#include "zel_file.h"
#include "zel_heap.h"
#include "zel_subcall.h"

static_assert(sizeof(zel_mbr_entry_t) == 16);
static_assert(offsetof(zel_mbr_entry_t, type) == 4);
static_assert(offsetof(zel_mbr_entry_t, first_sector) == 8);
static_assert(offsetof(zel_mbr_entry_t, sector_count) == 12);
static_assert(offsetof(zel_mbr_partition_t, vol) % alignof(zel_fatfs_info_t) == 0);
static_assert(offsetof(zel_mbr_partition_t, buffer) ==
              offsetof(zel_mbr_partition_t, entry) + sizeof(zel_fatfs_cache_entry_t) * ZEL_MBR_CACHE_SECTORS);

namespace {

enum class MbrStep : uint8_t { START = 0, READ, CREATE, OPEN, MOUNT, CLOSE, UNLINK };

zel_mbr_partition_t *partition_of(zel_mal_mount_mbr_t *r) {
    return reinterpret_cast<zel_mbr_partition_t *>(
        reinterpret_cast<uint8_t *>(r->vol) - offsetof(zel_mbr_partition_t, vol));
}

void finish(zel_mal_mount_mbr_t *r, int32_t result) {
    r->result = result;
    zel_heap_free(r->sector);
    r->sector = nullptr;
    zel_answer(0);
}

void set_step(zel_mal_mount_mbr_t *r, MbrStep step) {
    r->step = static_cast<uint8_t>(step);
    zel_set_step(step);
}

void next_partition(zel_mal_mount_mbr_t *r);

// The current partition is given up: its record goes, the scan goes on with
// the next entry and ends with -7.
void drop_partition(zel_mal_mount_mbr_t *r) {
    zel_heap_free(partition_of(r));
    r->vol = nullptr;
    r->cache = nullptr;
    r->name = nullptr;
    r->opened = nullptr;
    r->result = ZEL_FS_ERR_FAILED;
    r->index++;
    next_partition(r);
}

// The directory made for a partition that did not mount is removed again, so
// that only mounted volumes stand under the directory.
void remove_directory(zel_mal_mount_mbr_t *r) {
    set_step(r, MbrStep::UNLINK);
    if (zel_file_unlink(r->dir, r->name) != 0) drop_partition(r);
}

void close_directory(zel_mal_mount_mbr_t *r) {
    zel_file_t *opened = r->opened;
    r->opened = nullptr;
    set_step(r, MbrStep::CLOSE);
    if (zel_file_close(opened) != 0) remove_directory(r);
}

// Sets up the record of a FAT partition and creates its directory; false
// when the entry is not mounted.
bool start_partition(zel_mal_mount_mbr_t *r, const zel_mbr_entry_t &e) {
    const uint64_t offset = (uint64_t)e.first_sector * ZEL_MBR_SECTOR;
    if (offset >= r->mal->size || e.sector_count == 0) return false;
    uint64_t size = (uint64_t)e.sector_count * ZEL_MBR_SECTOR;
    if (size > r->mal->size - offset) size = r->mal->size - offset;  // stays inside the disk

    auto *part = static_cast<zel_mbr_partition_t *>(zel_heap_malloc(sizeof(zel_mbr_partition_t)));
    if (!part) {
        finish(r, ZEL_FS_ERR_NO_MEMORY);
        return true;
    }
    memset(part, 0, sizeof *part);
    part->window = {{&zel_window_mal_drv, size}, r->mal, offset};
    memcpy(part->name, "root", 4);
    part->name[4] = (char)('0' + r->index);
    zel_fatfs_cache_t &cache = part->vol.cache;
    cache.mal = &part->window.mal;
    cache.block_size = ZEL_MBR_SECTOR;
    cache.count = ZEL_MBR_CACHE_SECTORS;
    cache.entries = part->entry;
    cache.allocation = part;
    r->vol = &part->vol;
    r->cache = &cache;
    r->driver = &zel_fatfs_op;
    r->name = part->name;
    r->opened = nullptr;
    set_step(r, MbrStep::CREATE);
    if (zel_file_create(r->dir, part->name, ZEL_FILE_DIR) != 0) drop_partition(r);
    return true;
}

zel_mbr_entry_t entry_at(const zel_mal_mount_mbr_t *r, uint8_t index) {
    zel_mbr_entry_t e;
    memcpy(&e, r->sector + ZEL_MBR_TABLE_OFFSET + sizeof e * index, sizeof e);
    return e;
}

// A FAT boot sector where the table would be: a jump, 512-byte (or larger
// power of two) sectors, a power-of-two cluster and at least one FAT. A
// disk formatted whole has one, and no table.
bool is_boot_sector(const uint8_t *s) {
    const uint16_t bytes = static_cast<uint16_t>(s[11] | (s[12] << 8));
    const uint8_t cluster = s[13];
    return (s[0] == 0xEB || s[0] == 0xE9) && bytes >= 512 && bytes <= 4096 && (bytes & (bytes - 1)) == 0 &&
           cluster != 0 && (cluster & (cluster - 1)) == 0 && s[16] != 0;
}

// What sector 0 holds (its signature checked).
zel_mbr_table_t table_kind(const zel_mal_mount_mbr_t *r) {
    bool fat = false;
    for (uint8_t i = 0; i < 4; i++) {
        const uint8_t type = entry_at(r, i).type;
        if (type == 0xEE) return ZEL_MBR_TABLE_GPT;
        fat = fat || zel_mbr_is_fat_type(type);
    }
    return !fat && is_boot_sector(r->sector) ? ZEL_MBR_TABLE_NONE : ZEL_MBR_TABLE_MBR;
}

enum class Listed : uint8_t { NEW, AGAIN, OVERLAPS };

// How entry `index` stands to the FAT entries before it: a repeat of one's
// first sector, sectors shared with a mounted one, or sectors of its own.
Listed listed_before(const zel_mal_mount_mbr_t *r, uint8_t index) {
    const zel_mbr_entry_t e = entry_at(r, index);
    const uint64_t begin = e.first_sector, end = begin + e.sector_count;
    for (uint8_t i = 0; i < index; i++) {
        const zel_mbr_entry_t o = entry_at(r, i);
        if (!zel_mbr_is_fat_type(o.type)) continue;
        if (o.first_sector == e.first_sector) return Listed::AGAIN;
        const uint64_t o_begin = o.first_sector, o_end = o_begin + o.sector_count;
        if ((r->mounted & (1u << i)) && begin < o_end && o_begin < end) return Listed::OVERLAPS;
    }
    return Listed::NEW;
}

void next_partition(zel_mal_mount_mbr_t *r) {
    for (; r->index < 4; r->index++) {
        const zel_mbr_entry_t e = entry_at(r, r->index);
        if (!zel_mbr_is_fat_type(e.type)) continue;
        const Listed listed = listed_before(r, r->index);
        if (listed == Listed::AGAIN) continue;
        r->found++;
        if (listed == Listed::OVERLAPS) {
            r->result = ZEL_FS_ERR_FAILED;
            continue;
        }
        if (start_partition(r, e)) return;
    }
    finish(r, r->result);
}

// A mounted volume with a label names its directory with a copy of it, in
// UTF-8; an empty label keeps "root<i>".
void take_label(zel_mal_mount_mbr_t *r) {
    const char *label = r->vol->label_ptr;
    if (!label || !label[0] || !r->opened) return;
    char *copy = static_cast<char *>(zel_heap_malloc(3 * sizeof r->vol->label));
    if (!copy) return;  // keeps "root<i>"
    zel_fat_oem_to_utf8(label, sizeof r->vol->label - 1, copy);
    zel_heap_free(r->opened->name);
    r->opened->name = copy;
}

}  // namespace

bool zel_mbr_is_fat_type(uint8_t type) {
    switch (type) {
    case 0x01:
    case 0x04:
    case 0x06:
    case 0x0B:
    case 0x0C:
    case 0x0E: return true;
    default: return false;
    }
}

int32_t zel_mal_mount_mbr(zel_mal_mount_mbr_t *record) { return zel_subcall0(zel_mal_mount_mbr_handler, record); }

void zel_mal_mount_mbr_handler(void *locals, zel_evt_t evt) {
    auto *r = zel_target<zel_mal_mount_mbr_t>(locals);
    if (evt == ZEL_EVT_INIT) {
        r->result = 0;
        r->index = 0;
        r->found = 0;
        r->mounted = 0;
        r->sector_size = 0;
        r->table = ZEL_MBR_TABLE_MBR;
        r->sector = static_cast<uint8_t *>(zel_heap_malloc(ZEL_MBR_SECTOR));
        if (!r->sector) {
            r->result = ZEL_FS_ERR_NO_MEMORY;
            zel_answer(0);
            return;
        }
        set_step(r, MbrStep::READ);
        if (zel_mal_read(r->mal, 0, ZEL_MBR_SECTOR, r->sector) != 0) finish(r, ZEL_FS_ERR_FAILED);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const intptr_t result = zel_subcall_result();
    switch (zel_step<MbrStep>()) {
    case MbrStep::READ:
        if (result != (intptr_t)ZEL_MBR_SECTOR) {
            finish(r, ZEL_FS_ERR_FAILED);
            return;
        }
        if (r->sector[510] != 0x55 || r->sector[511] != 0xAA) {
            r->table = ZEL_MBR_TABLE_NONE;
            finish(r, ZEL_FS_ERR_FAILED);
            return;
        }
        r->table = table_kind(r);
        next_partition(r);
        return;
    case MbrStep::CREATE:
        if (result < 0) {
            drop_partition(r);  // the name is taken: not ours to remove
            return;
        }
        set_step(r, MbrStep::OPEN);
        if (zel_file_open(r->dir, r->name, &r->opened) != 0) remove_directory(r);
        return;
    case MbrStep::OPEN:
        if (result < 0 || !r->opened) {
            r->opened = nullptr;
            remove_directory(r);
            return;
        }
        set_step(r, MbrStep::MOUNT);
        if (zel_fs_mount(r->opened, r->driver, &r->vol->root.file) != 0) close_directory(r);
        return;
    case MbrStep::MOUNT:
        if (result < 0) {
            const uint16_t bytes = r->vol->boot_sector_size;
            if (bytes != 0 && bytes != r->cache->block_size) r->sector_size = bytes;
            close_directory(r);
            return;
        }
        r->mounted |= (uint8_t)(1u << r->index);
        take_label(r);  // the directory stays open for the life of the mount
        r->vol = nullptr;
        r->cache = nullptr;
        r->index++;
        next_partition(r);
        return;
    case MbrStep::CLOSE: remove_directory(r); return;
    case MbrStep::UNLINK: drop_partition(r); return;
    default: return;
    }
}

// Directories: lookup by name or by position, and the rewrite of a node's
// short entry.
#include <string.h>

#include "zel_fatfs.h"
#include "zel_heap.h"
#include "zel_fatfs_step.h"

namespace {

// A directory holds at most 65536 entries; a walk that gets further is
// running round a looped chain.
constexpr uint64_t kMaxDirBytes = 65536ull * ZEL_FAT_DENTRY_SIZE;

enum class LookupStep : uint8_t { START = 0, READ, NEXT_CLUSTER };

struct LookupLocals {
    zel_fs_lookup_param_t p;
    uint8_t *buffer;  // UTF-16 gathering buffer, then the UTF-8 name
    zel_fatfs_parse_t st;
    uint32_t sector;
    uint32_t group_sector;  // where a long name that spans sectors began
    uint32_t group_first;
    uint32_t next;
    // A search by name runs from the first entry and leaves the walk of a
    // listing where it was.
    uint64_t saved_position;
    uint32_t saved_cluster;
    uint32_t saved_index;
    uint32_t saved_offset;
    zel_fatfs_walk_t saved_walk;
};

static_assert(sizeof(LookupLocals) <= ZEL_FATFS_OP_LOCALS);

void restore_walk(LookupLocals *l) {
    auto *d = zel_target<zel_fatfs_file_t>(l);
    d->file.position = l->saved_position;
    d->cur_cluster = l->saved_cluster;
    d->sector_index = l->saved_index;
    d->byte_offset = l->saved_offset;
    d->walk = l->saved_walk;
}

void finish(LookupLocals *l, intptr_t code) {
    if (l->p.name) restore_walk(l);
    zel_heap_free(l->buffer);
    zel_answer(code);
}

void end_of_directory(zel_fatfs_file_t *d, LookupLocals *l) {
    d->cur_cluster = d->first_cluster;
    d->sector_index = 0;
    d->byte_offset = 0;
    d->file.position = 0;
    zel_fatfs_walk_start(&d->walk, d->cur_cluster);
    finish(l, ZEL_FS_ERR_NOT_FOUND);
}

void follow_chain(zel_fatfs_file_t *d, LookupLocals *l) {
    zel_set_step(LookupStep::NEXT_CLUSTER);
    if (zel_fatfs_get_fat_entry_start(d->vol, d->cur_cluster, &l->next) != 0) finish(l, ZEL_FS_ERR_FAILED);
}

void read_current(zel_fatfs_file_t *d, LookupLocals *l) {
    zel_fatfs_info_t *vol = d->vol;
    if (d->file.position >= kMaxDirBytes) {
        end_of_directory(d, l);
        return;
    }
    if (d->cur_cluster != 0) {
        if (!zel_fatfs_cluster_ok(vol, d->cur_cluster)) {
            end_of_directory(d, l);
            return;
        }
        if (d->sector_index >= (1u << vol->cluster_shift)) {
            follow_chain(d, l);
            return;
        }
        l->sector = zel_fatfs_cluster_sector(vol, d->cur_cluster) + d->sector_index;
    } else if (vol->type != ZEL_FAT32) {
        if (d->sector_index >= vol->root_sectors) {
            end_of_directory(d, l);
            return;
        }
        l->sector = vol->root_start + d->sector_index;
    } else {
        finish(l, ZEL_FS_ERR_FAILED);
        return;
    }
    zel_set_step(LookupStep::READ);
    if (zel_fatfs_cache_read_start(&vol->cache, l->sector, 1, nullptr) != 0) finish(l, ZEL_FS_ERR_FAILED);
}

void next_sector(zel_fatfs_file_t *d, LookupLocals *l) {
    zel_fatfs_info_t *vol = d->vol;
    d->byte_offset = 0;
    if (d->cur_cluster == 0 || d->sector_index + 1 < (1u << vol->cluster_shift)) {
        d->sector_index++;
        read_current(d, l);
        return;
    }
    follow_chain(d, l);
}

void found(zel_fatfs_file_t *d, LookupLocals *l, const uint8_t *sector_data, const char *name) {
    const uint32_t short_index = (uint32_t)(l->st.entry - sector_data) / ZEL_FAT_DENTRY_SIZE;
    zel_fat_dentry_t entry;
    memcpy(&entry, l->st.entry, sizeof entry);

    auto *node = reinterpret_cast<zel_fatfs_file_t *>(zel_file_alloc(sizeof(zel_fatfs_file_t)));
    if (!node) {
        finish(l, ZEL_FS_ERR_NO_MEMORY);
        return;
    }
    const size_t len = strlen(name);
    node->file.name = static_cast<char *>(zel_heap_malloc(len + 1));
    if (!node->file.name) {
        zel_file_free(&node->file);
        finish(l, ZEL_FS_ERR_NO_MEMORY);
        return;
    }
    memcpy(node->file.name, name, len + 1);
    node->file.attributes |= ZEL_FILE_READABLE;
    if (!(entry.attributes & ZEL_FAT_ATTR_READ_ONLY)) node->file.attributes |= ZEL_FILE_WRITABLE;
    if (entry.attributes & ZEL_FAT_ATTR_HIDDEN) node->file.attributes |= ZEL_FILE_HIDDEN;
    if (entry.attributes & ZEL_FAT_ATTR_DIRECTORY) node->file.attributes |= ZEL_FILE_DIR;
    node->file.driver = &zel_fatfs_op;
    node->file.size = entry.size;
    node->file.volume = d->vol;
    node->vol = d->vol;
    node->first_cluster = zel_fat_dentry_cluster(&entry);
    // A ".." that names the root holds 0; a FAT32 root has a chain of its own.
    if (node->first_cluster == 0 && (entry.attributes & ZEL_FAT_ATTR_DIRECTORY) && d->vol->type == ZEL_FAT32)
        node->first_cluster = d->vol->root.first_cluster;
    node->cur_cluster = node->first_cluster;
    zel_fatfs_walk_start(&node->walk, node->cur_cluster);

    if (l->st.long_name && !l->st.start) {
        // the long name began in the sector before
        node->dentry_sector_a = l->group_sector;
        node->a_first = (uint8_t)l->group_first;
        node->a_count = (uint8_t)((1u << (d->vol->sector_shift - 5)) - l->group_first);
        node->dentry_sector_b = l->sector;
        node->b_first = 0;
        node->b_count = (uint8_t)(short_index + 1);
    } else {
        const uint32_t first =
            l->st.long_name ? (uint32_t)(l->st.start - sector_data) / ZEL_FAT_DENTRY_SIZE : short_index;
        node->dentry_sector_a = l->sector;
        node->a_first = (uint8_t)first;
        node->a_count = (uint8_t)(short_index - first + 1);
    }
    node->next_open = d->vol->open_nodes;
    d->vol->open_nodes = node;
    *l->p.out = &node->file;
    finish(l, 0);
}

// Walks the entries of the sector in hand from the directory's offset.
void parse_sector(zel_fatfs_file_t *d, LookupLocals *l, const uint8_t *data) {
    const uint32_t per_sector = 1u << (d->vol->sector_shift - 5);
    l->st.entry = data + d->byte_offset;
    l->st.left = (int16_t)(per_sector - d->byte_offset / ZEL_FAT_DENTRY_SIZE);
    char *name = reinterpret_cast<char *>(l->buffer + ZEL_FAT_NAME_BUFFER);
    for (;;) {
        const int16_t before = l->st.left;
        const bool complete = zel_fatfs_parse_dentry(&l->st);
        const uint32_t used = (uint32_t)(before - l->st.left) + (complete ? 1 : 0);
        d->byte_offset += ZEL_FAT_DENTRY_SIZE * used;
        d->file.position += ZEL_FAT_DENTRY_SIZE * used;
        if (complete) {
            zel_fatfs_dentry_name(&l->st, name);
            if (!l->p.name || zel_file_is_match(l->p.name, name)) {
                found(d, l, data, name);
                return;
            }
            l->st.entry += ZEL_FAT_DENTRY_SIZE;
            l->st.left--;
            l->st.start = nullptr;
            continue;
        }
        if (l->st.left > 0) {
            end_of_directory(d, l);  // an end entry
            return;
        }
        if (l->st.seq != 0 && l->st.start) {
            l->group_sector = l->sector;
            l->group_first = (uint32_t)(l->st.start - data) / ZEL_FAT_DENTRY_SIZE;
        }
        l->st.start = nullptr;
        next_sector(d, l);
        return;
    }
}

}  // namespace

void zel_fatfs_do_lookup(void *locals, zel_evt_t evt) {
    auto *d = zel_target<zel_fatfs_file_t>(locals);
    auto *l = static_cast<LookupLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        if (d->vol->type == ZEL_EXFAT) {
            zel_answer(ZEL_FS_ERR_NOT_SUPPORTED);
            return;
        }
        if (!(d->file.attributes & ZEL_FILE_DIR)) {
            zel_answer(ZEL_FS_ERR_INVALID);
            return;
        }
        l->buffer = static_cast<uint8_t *>(zel_heap_malloc(ZEL_FAT_NAME_BUFFER + ZEL_FAT_NAME_UTF8_MAX));
        if (!l->buffer) {
            zel_answer(ZEL_FS_ERR_NO_MEMORY);
            return;
        }
        l->st = {};
        l->st.names = l->buffer;
        if (l->p.name) {
            l->saved_position = d->file.position;
            l->saved_cluster = d->cur_cluster;
            l->saved_index = d->sector_index;
            l->saved_offset = d->byte_offset;
            l->saved_walk = d->walk;
            d->file.position = 0;
            d->cur_cluster = d->first_cluster;
            d->sector_index = 0;
            d->byte_offset = 0;
            zel_fatfs_walk_start(&d->walk, d->cur_cluster);
        }
        read_current(d, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (zel_step<LookupStep>() == LookupStep::READ) {
        auto *data = reinterpret_cast<const uint8_t *>(zel_eda_get_return_value());
        if (!data) {
            finish(l, ZEL_FS_ERR_FAILED);
            return;
        }
        parse_sector(d, l, data);
        return;
    }
    if (zel_subcall_result() < 0) {
        finish(l, ZEL_FS_ERR_FAILED);
        return;
    }
    zel_fatfs_info_t *vol = d->vol;
    const uint32_t next = zel_fat_entry_value(vol->type, l->next);
    if (next >= zel_fat_bad_mark(vol->type) || !zel_fatfs_cluster_ok(vol, next) ||
        !zel_fatfs_walk_step(&d->walk, next)) {
        end_of_directory(d, l);
        return;
    }
    d->cur_cluster = next;
    d->sector_index = 0;
    read_current(d, l);
}

namespace {

enum class DentryStep : uint8_t { START = 0, READ, WRITE };

struct DentryLocals {
    uint32_t size;
    zel_fat_dentry_t *out;  // read: receives the entry
    uint32_t sector;
    uint32_t index;
};

// Starts reading the sector of the node's short entry; false when the node
// has none (a mounted root).
bool read_short_entry(zel_fatfs_file_t *node, DentryLocals *l) {
    if (node->a_count == 0) return false;
    l->sector = node->b_count ? node->dentry_sector_b : node->dentry_sector_a;
    l->index = node->b_count ? node->b_first + node->b_count - 1u : node->a_first + node->a_count - 1u;
    zel_fatfs_next_read(node->vol, DentryStep::READ, l->sector);
    return true;
}

// The short entry in the sector just read, or none (answered -7).
uint8_t *short_entry(DentryLocals *l) {
    uint8_t *data = zel_fatfs_sector_data();
    return data ? data + (size_t)l->index * ZEL_FAT_DENTRY_SIZE : nullptr;
}

}  // namespace

int32_t zel_fatfs_update_dentry_start(zel_fatfs_file_t *node, uint32_t size) {
    return zel_subcall(zel_fatfs_update_dentry, node, DentryLocals{size, nullptr, 0, 0});
}

int32_t zel_fatfs_read_dentry_start(zel_fatfs_file_t *node, zel_fat_dentry_t *out) {
    return zel_subcall(zel_fatfs_read_dentry, node, DentryLocals{0, out, 0, 0});
}

void zel_fatfs_read_dentry(void *locals, zel_evt_t evt) {
    auto *node = zel_target<zel_fatfs_file_t>(locals);
    auto *l = static_cast<DentryLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        if (!read_short_entry(node, l)) zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (uint8_t *entry = short_entry(l)) {
        memcpy(l->out, entry, sizeof *l->out);
        zel_answer(0);
    }
}

void zel_fatfs_update_dentry(void *locals, zel_evt_t evt) {
    auto *node = zel_target<zel_fatfs_file_t>(locals);
    auto *l = static_cast<DentryLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        if (!read_short_entry(node, l)) zel_answer(0);  // the root has no entry
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (zel_step<DentryStep>() == DentryStep::WRITE) {
        zel_answer(zel_subcall_result() < 0 ? ZEL_FS_ERR_FAILED : 0);
        return;
    }
    uint8_t *entry = short_entry(l);
    if (!entry) return;
    uint8_t *data = entry - (size_t)l->index * ZEL_FAT_DENTRY_SIZE;
    const uint16_t high = (uint16_t)(node->first_cluster >> 16);
    const uint16_t low = (uint16_t)node->first_cluster;
    memcpy(entry + offsetof(zel_fat_dentry_t, size), &l->size, 4);
    memcpy(entry + offsetof(zel_fat_dentry_t, cluster_high), &high, 2);
    memcpy(entry + offsetof(zel_fat_dentry_t, cluster_low), &low, 2);
    zel_fatfs_next(DentryStep::WRITE, [&] { return zel_fatfs_cache_write_back(&node->vol->cache, l->sector, data); });
}

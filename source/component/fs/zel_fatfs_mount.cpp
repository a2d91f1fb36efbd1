// Mount: the boot sector's checks, the geometry, the information sector and
// the volume label.
#include <string.h>

#include "zel_fatfs_step.h"
#include "zel_trace.h"

namespace {

enum class MountStep : uint8_t { START = 0, BOOT, INFO, ROOT };

void read_sector(zel_fatfs_info_t *vol, MountStep step, uint32_t sector) { zel_fatfs_next_read(vol, step, sector); }

void read_root(zel_fatfs_info_t *vol) {
    const uint32_t sector =
        vol->type == ZEL_FAT32 ? zel_fatfs_cluster_sector(vol, vol->root.first_cluster) : vol->root_start;
    read_sector(vol, MountStep::ROOT, sector);
}

void take_geometry(zel_fatfs_info_t *vol, const zel_fat_geometry_t &g) {
    vol->type = g.type;
    vol->root_start = g.root_start;
    vol->root_sectors = g.root_sectors;
    vol->fat_start = g.fat_start;
    vol->fat_size = g.fat_size;
    vol->data_start = g.data_start;
    vol->cluster_limit = g.cluster_limit;
    vol->sector_shift = g.sector_shift;
    vol->cluster_shift = g.cluster_shift;
    vol->fat_count = g.fat_count;
    vol->fat_active = g.fat_active;
    vol->last_writer = nullptr;
    vol->open_nodes = nullptr;
    vol->fsinfo_sector = g.fsinfo_sector;
    vol->free_count = ZEL_FAT_FSINFO_UNKNOWN;
    vol->fsinfo_dirty = 0;
    vol->alloc_hint = 2;
    vol->journal = zel_fatfs_journal_t{};
    vol->label[0] = 0;
    vol->label_ptr = nullptr;

    zel_fatfs_file_t &root = vol->root;
    root.file.attributes |= ZEL_FILE_DIR | ZEL_FILE_READABLE | ZEL_FILE_WRITABLE;
    root.file.driver = &zel_fatfs_op;
    root.file.volume = vol;
    root.vol = vol;
    root.first_cluster = g.root_cluster;
    root.cur_cluster = g.root_cluster;
    root.sector_index = 0;
    root.byte_offset = 0;
}

}  // namespace

void zel_fatfs_mount_volume(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    if (evt == ZEL_EVT_INIT) {
        zel_fatfs_cache_init(&vol->cache);
        read_sector(vol, MountStep::BOOT, 0);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const uint8_t *data = zel_fatfs_sector_data();
    if (!data) return;
    switch (zel_step<MountStep>()) {
    case MountStep::BOOT: {
        zel_fat_geometry_t g;
        zel_fat_bpb_t bpb;
        memcpy(&bpb, data, sizeof bpb);
        const bool signed_boot =
            (data[ZEL_FAT_SIGNATURE_OFFSET] | data[ZEL_FAT_SIGNATURE_OFFSET + 1] << 8) == ZEL_FAT_SIGNATURE;
        vol->boot_sector_size = signed_boot ? bpb.bytes_per_sector : 0;
        const int r = zel_fat_parse_boot(data, vol->cache.block_size, vol->cache.mal->size, &g);
        vol->type = g.type;
        if (r != 0) {
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        take_geometry(vol, g);
        if (vol->fsinfo_sector)
            read_sector(vol, MountStep::INFO, vol->fsinfo_sector);
        else
            read_root(vol);
        return;
    }
    case MountStep::INFO:
        if (zel_fat_fsinfo_valid(data)) {
            zel_fat_fsinfo_t info;
            memcpy(&info, data, sizeof info);
            if (info.free_count <= vol->cluster_limit - 2) vol->free_count = info.free_count;
        } else {
            vol->fsinfo_sector = 0;
        }
        read_root(vol);
        return;
    case MountStep::ROOT: {
        zel_fat_dentry_t first;
        memcpy(&first, data, sizeof first);
        if (first.attributes == ZEL_FAT_ATTR_LABEL) {
            zel_fat_label_copy(&first, vol->label);
            vol->label_ptr = vol->label;
        }
        zel_answer(0);
        return;
    }
    default: return;
    }
}

namespace {

enum class MountOpStep : uint8_t { START = 0, VOLUME };

zel_vfs_file_t *mount_point(void *locals) { return zel_target<zel_vfs_file_t>(locals); }

zel_fatfs_info_t *volume_of(zel_vfs_file_t *mp) { return reinterpret_cast<zel_fatfs_info_t *>(mp->mnt_volume); }

}  // namespace

void zel_fatfs_mount(void *locals, zel_evt_t evt) {
    zel_vfs_file_t *mp = mount_point(locals);
    zel_fatfs_info_t *vol = volume_of(mp);
    if (evt == ZEL_EVT_INIT) {
        zel_set_step(MountOpStep::VOLUME);
        if (zel_subcall0(zel_fatfs_mount_volume, vol) != 0) zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_step<MountOpStep>() != MountOpStep::VOLUME) return;
    if (zel_subcall_result() != 0) {
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    mp->mnt_root = &vol->root.file;
    zel_answer(0);
}

namespace {

// The unmount passes the volume's gate like an operation, so that it never
// runs beside one, then finishes what a failed operation left: the settle
// and the information sector.
enum class UnmountStep : uint8_t { WAIT = 0, SETTLE, FLUSH };

// The cache's allocation may hold the volume record itself: nothing of it
// is touched afterwards.
void unmount_release(zel_fatfs_info_t *vol) {
    const bool left = vol->journal.unsettled || vol->fsinfo_dirty;
    if (left) zel_trace(1, "fatfs: unmounted with a failed change not settled\r\n");
    zel_io_gate_leave(&vol->gate);
    zel_io_gate_fini(&vol->gate);
    zel_fatfs_cache_fini(&vol->cache);
    zel_answer(left ? ZEL_FS_ERR_FAILED : 0);
}

void unmount_flush(zel_fatfs_info_t *vol) {
    zel_set_step(UnmountStep::FLUSH);
    if (!vol->fsinfo_dirty || zel_fatfs_flush_info_start(vol) != 0) unmount_release(vol);
}

void unmount_entered(zel_fatfs_info_t *vol) {
    zel_set_step(UnmountStep::SETTLE);
    if (!vol->journal.unsettled || zel_fatfs_settle_start(vol) != 0) unmount_flush(vol);
}

}  // namespace

void zel_fatfs_unmount(void *locals, zel_evt_t evt) {
    zel_fatfs_info_t *vol = volume_of(mount_point(locals));
    if (evt == ZEL_EVT_INIT) {
        if (zel_io_gate_enter(&vol->gate)) unmount_entered(vol);
        return;
    }
    const auto step = zel_step<UnmountStep>();
    if (evt == ZEL_EVT_WAKE && step == UnmountStep::WAIT) {
        if (zel_io_gate_is_mine(&vol->gate)) unmount_entered(vol);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (step == UnmountStep::SETTLE)
        unmount_flush(vol);
    else if (step == UnmountStep::FLUSH)
        unmount_release(vol);
}

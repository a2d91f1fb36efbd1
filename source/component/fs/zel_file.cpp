// The file API's single-operation calls: read, write, resize, seek, create,
// unlink, rename and mount.
#include "zel_file.h"

#include "zel_fs_internal.h"

namespace {

enum class IoStep : uint8_t {
    start = 0,
    slot  // the node's driver runs the operation
};

// Starts a slot of the target's driver as the second step of a handler.
template <class P>
void run_slot(zel_file_t *target, zel_eda_frame_handler_t slot, uint8_t local, const P &params) {
    zel_set_step(IoStep::slot);
    int32_t r = zel_fs_start(slot, local, target, params);
    if (r != 0) zel_answer(r);
}

// The event that continues a handler in `step`, or false for any other.
bool is_turn(IoStep step, zel_evt_t evt) {
    return zel_step<IoStep>() == step && evt == (step == IoStep::start ? ZEL_EVT_INIT : ZEL_EVT_RETURN);
}

template <bool Write>
void rw_handler(void *locals, zel_evt_t evt) {
    zel_file_t *f = zel_fs_target(locals);
    if (is_turn(IoStep::start, evt)) {
        const zel_fs_op_t *d = f->driver;
        constexpr int slot = Write ? ZEL_FS_WRITE : ZEL_FS_READ;
        run_slot(f, Write ? d->write : d->read, d->file_local[slot], *static_cast<zel_fs_rw_param_t *>(locals));
    } else if (is_turn(IoStep::slot, evt)) {
        intptr_t r = zel_subcall_result();
        if (r > 0) f->position += static_cast<uint64_t>(r);
        zel_answer(r);
    }
}

void resize_handler(void *locals, zel_evt_t evt) {
    zel_file_t *f = zel_fs_target(locals);
    auto *p = static_cast<zel_fs_resize_param_t *>(locals);
    if (is_turn(IoStep::start, evt)) {
        if (zel_fs_is_dir(f)) {
            zel_answer(ZEL_FS_ERR_INVALID);
            return;
        }
        run_slot(f, f->driver->resize, f->driver->file_local[ZEL_FS_RESIZE], *p);
    } else if (is_turn(IoStep::slot, evt)) {
        intptr_t r = zel_subcall_result();
        if (r == 0) {
            f->size = p->size;
            if (f->position > p->size) f->position = p->size;
        }
        zel_answer(r);
    }
}

struct SeekParam {
    uint64_t offset;
    uint32_t whence;
};

struct SeekFrame {
    SeekParam p;
    uint64_t set;  // the position the driver set
};

uint64_t seek_target(const zel_file_t *f, const SeekParam &p) {
    switch (p.whence) {
    case ZEL_SEEK_SET: return p.offset;
    case ZEL_SEEK_CUR: return f->position + p.offset;
    case ZEL_SEEK_END: return f->size + p.offset;
    default: return f->position;
    }
}

void seek_handler(void *locals, zel_evt_t evt) {
    zel_file_t *f = zel_fs_target(locals);
    auto *s = static_cast<SeekFrame *>(locals);
    if (is_turn(IoStep::start, evt)) {
        uint64_t target = seek_target(f, s->p);
        if (!zel_fs_is_dir(f)) {
            if (target > f->size) {
                zel_answer(ZEL_FS_ERR_INVALID);
                return;
            }
            if (target == f->position) {
                zel_answer(0);
                return;
            }
        }
        run_slot(f, f->driver->setpos, f->driver->file_local[ZEL_FS_SETPOS], zel_fs_setpos_param_t{target, &s->set});
    } else if (is_turn(IoStep::slot, evt)) {
        intptr_t r = zel_subcall_result();
        if (r == 0) f->position = s->set;
        zel_answer(r);
    }
}

zel_file_t *dir_or_root(zel_file_t *dir) { return dir ? dir : &zel_vfs_root.file; }

}  // namespace

extern "C" {

int32_t zel_fs_mount(zel_file_t *dir, const zel_fs_op_t *table, zel_file_t *record) {
    dir = dir_or_root(dir);
    if (!table || !record || dir->driver != &zel_vfs_op || !zel_fs_is_dir(dir)) return ZEL_FS_ERR_INVALID;
    if (zel_fs_is_mount(dir)) return ZEL_FS_ERR_FAILED;
    auto *mp = reinterpret_cast<zel_vfs_file_t *>(dir);
    mp->mnt_driver = table;
    mp->mnt_volume = record;
    mp->mnt_root = nullptr;
    record->volume = record;
    int32_t r = zel_fs_start(dir->driver->mount, dir->driver->volume_local[ZEL_FS_MOUNT], dir, zel_fs_none_param_t{});
    if (r != 0) {
        mp->mnt_driver = nullptr;
        mp->mnt_volume = nullptr;
    }
    return r;
}

int32_t zel_file_read(zel_file_t *file, void *buffer, uint32_t size) {
    return zel_subcall(rw_handler<false>, file, zel_fs_rw_param_t{buffer, size});
}

int32_t zel_file_write(zel_file_t *file, const void *buffer, uint32_t size) {
    return zel_subcall(rw_handler<true>, file, zel_fs_rw_param_t{const_cast<void *>(buffer), size});
}

int32_t zel_file_resize(zel_file_t *file, uint64_t size) {
    return zel_subcall(resize_handler, file, zel_fs_resize_param_t{size});
}

uint64_t zel_file_tell(const zel_file_t *file) { return file->position; }

int32_t zel_file_seek(zel_file_t *file, uint64_t offset, uint32_t whence) {
    return zel_subcall(seek_handler, file, SeekParam{offset, whence}, sizeof(SeekFrame));
}

int32_t zel_file_create(zel_file_t *dir, const char *name, uint32_t attributes) {
    dir = dir_or_root(dir);
    if (!zel_fs_is_dir(dir)) return ZEL_FS_ERR_INVALID;
    return zel_fs_start(
        dir->driver->create, dir->driver->dir_local[ZEL_FS_CREATE], dir, zel_fs_create_param_t{name, attributes});
}

int32_t zel_file_unlink(zel_file_t *dir, const char *name) {
    dir = dir_or_root(dir);
    if (!zel_fs_is_dir(dir)) return ZEL_FS_ERR_INVALID;
    return zel_fs_start(dir->driver->unlink, dir->driver->dir_local[ZEL_FS_UNLINK], dir, zel_fs_unlink_param_t{name});
}

int32_t zel_file_rename(zel_file_t *old_dir, const char *old_name, zel_file_t *new_dir, const char *new_name) {
    old_dir = dir_or_root(old_dir);
    new_dir = dir_or_root(new_dir);
    if (!zel_fs_is_dir(old_dir) || !zel_fs_is_dir(new_dir)) return ZEL_FS_ERR_INVALID;
    auto *volume = static_cast<zel_file_t *>(zel_vfs_dir_volume(old_dir));
    if (!volume || volume != zel_vfs_dir_volume(new_dir)) return ZEL_FS_ERR_INVALID;
    // The volume's driver sees its own directories, not the mount points over them.
    zel_fs_rename_param_t p{zel_vfs_mounted_root(old_dir), old_name, zel_vfs_mounted_root(new_dir), new_name};
    return zel_fs_start(volume->driver->rename, volume->driver->volume_local[ZEL_FS_RENAME], volume, p);
}

}  // extern "C"

// The in-memory file tree.
#include "zel_vfs.h"

#include <string.h>

#include "zel_fs_internal.h"
#include "zel_heap.h"

namespace {

// Steps of the handlers that wait for a sub-call.
enum class Step : uint8_t {
    start = 0,
    forwarded,  // the mounted driver runs the operation
    callback    // a bound read or write callback runs
};

zel_vfs_file_t *vfs_of(zel_file_t *f) { return reinterpret_cast<zel_vfs_file_t *>(f); }
zel_vfs_file_t *vfs_target(void *locals) { return vfs_of(zel_fs_target(locals)); }
zel_vfs_file_t *child_of(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_vfs_file_t, sibling); }

bool is_vfs_dir(const zel_file_t *f) { return f && f->driver == &zel_vfs_op && zel_fs_is_dir(f); }

zel_vfs_file_t *find_child(zel_vfs_file_t *dir, const char *name) {
    for (zel_dlist_node_t *n = dir->u.children.head; n; n = n->next) {
        zel_vfs_file_t *c = child_of(n);
        if (c->file.name && zel_file_is_match(name, c->file.name)) return c;
    }
    return nullptr;
}

// The entry at the directory's position; the position moves on, or back to 0
// at the end of the list.
zel_vfs_file_t *next_child(zel_vfs_file_t *dir) {
    uint64_t k = dir->file.position;
    for (zel_dlist_node_t *n = dir->u.children.head; n; n = n->next) {
        if (k-- == 0) {
            dir->file.position++;
            return child_of(n);
        }
    }
    dir->file.position = 0;
    return nullptr;
}

bool has_callback(const zel_vfs_file_t *f) { return f->u.bound.read || f->u.bound.write; }

// A file whose data word is this driver's own buffer (or none, while empty).
bool holds_own_data(const zel_vfs_file_t *f) { return f->u.bound.data == f->owned && (f->owned || f->file.size == 0); }

// Releases what the node owns; the record stays.
void release_content(zel_vfs_file_t *f) {
    if (!zel_fs_is_dir(&f->file) && f->u.bound.data == f->owned) f->u.bound.data = nullptr;
    zel_heap_free(f->owned);
    f->owned = nullptr;
    zel_heap_free(f->file.name);
    f->file.name = nullptr;
}

void clear_mount(zel_vfs_file_t *mp) {
    mp->file.attributes &= ~static_cast<uint32_t>(ZEL_FILE_MOUNT);
    mp->mnt_driver = nullptr;
    mp->mnt_volume = nullptr;
    mp->mnt_root = nullptr;
}

// Hands the operation to the mounted root with the same parameters; its
// answer comes back on 260. `no_start` answers a call that cannot be started.
template <class P>
void forward(zel_vfs_file_t *mp, const P &params, zel_eda_frame_handler_t slot, uint8_t local,
    intptr_t no_start = ZEL_FS_ERR_NO_MEMORY) {
    zel_set_step(Step::forwarded);
    int32_t r = zel_fs_start(slot, local, mp->mnt_root, params);
    if (r != 0) zel_answer(r == ZEL_FS_ERR_NO_MEMORY ? no_start : r);
}

// Hands a mount or an unmount to the mounted driver's handler `slot`, the
// mount point as its target; its answer comes back on 260. A call that cannot
// be started leaves no mount behind and is answered.
void forward_to_driver(zel_vfs_file_t *mp, zel_eda_frame_handler_t slot, uint8_t local) {
    zel_set_step(Step::forwarded);
    int32_t r = zel_fs_start(slot, local, mp, zel_fs_none_param_t{});
    if (r != 0) {
        clear_mount(mp);
        zel_answer(r);
    }
}

// Runs a bound callback on the node; its answer comes back on 260.
void run_callback(zel_vfs_file_t *f, zel_eda_frame_handler_t cb, const zel_fs_rw_param_t &p) {
    zel_set_step(Step::callback);
    if (zel_fs_start(cb, 0, f, p) != 0) zel_answer(ZEL_FS_ERR_NO_MEMORY);
}

// 260 of a forwarded operation or a callback: pass its answer on.
bool answered_sub_call(zel_evt_t evt) {
    if (evt != ZEL_EVT_RETURN || zel_step<Step>() == Step::start) return false;
    zel_answer(zel_subcall_result());
    return true;
}

// The start shared by create and unlink: on a mount point the operation goes
// to the mounted driver; a non-directory or a bad name is refused. Answers the
// directory when the operation runs here, else none.
template <class P>
zel_vfs_file_t *named_entry_op(void *locals, zel_evt_t evt, zel_eda_frame_handler_t zel_fs_op_t::*slot, int index) {
    if (answered_sub_call(evt) || evt != ZEL_EVT_INIT) return nullptr;
    zel_vfs_file_t *d = vfs_target(locals);
    auto *p = static_cast<P *>(locals);
    if (zel_fs_is_mount(&d->file)) {
        forward(d, *p, d->mnt_driver->*slot, d->mnt_driver->dir_local[index]);
        return nullptr;
    }
    if (!zel_fs_is_dir(&d->file) || !zel_fs_name_is_valid(p->name)) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return nullptr;
    }
    return d;
}

// Sets the buffer of a plain file to `n` bytes, zero-filling what it gains.
// False on no memory, with the data untouched.
bool set_length(zel_vfs_file_t *f, uint64_t n) {
    if (n == 0) {
        zel_heap_free(f->owned);
        f->owned = f->u.bound.data = nullptr;
        f->file.size = 0;
        return true;
    }
    if (n > SIZE_MAX) return false;
    auto *p = static_cast<uint8_t *>(zel_heap_realloc(f->owned, static_cast<size_t>(n)));
    if (!p) return false;
    if (n > f->file.size) memset(p + f->file.size, 0, static_cast<size_t>(n - f->file.size));
    f->owned = f->u.bound.data = p;
    f->file.size = n;
    return true;
}

}  // namespace

extern "C" {

zel_vfs_file_t zel_vfs_root;
zel_sync_t zel_vfs_lock;

void zel_vfs_init(void) {
    static bool done = false;
    if (done) return;
    done = true;
    memset(&zel_vfs_root, 0, sizeof zel_vfs_root);
    memset(&zel_vfs_lock, 0, sizeof zel_vfs_lock);
    zel_vfs_root.file.attributes = ZEL_FILE_DIR;
    zel_vfs_root.file.driver = &zel_vfs_op;
    zel_vfs_root.file.volume = &zel_vfs_root.file;
    zel_vfs_root.file.references = 1;
    (void)zel_eda_sync_init(&zel_vfs_lock, static_cast<int16_t>(0x8001), 1);  // cannot fail
}

void *zel_vfs_dir_volume(zel_file_t *dir) {
    if (dir->driver == &zel_vfs_op && zel_fs_is_mount(dir)) return vfs_of(dir)->mnt_volume;
    return dir->volume;
}

zel_file_t *zel_vfs_mounted_root(zel_file_t *dir) {
    if (dir && dir->driver == &zel_vfs_op && zel_fs_is_mount(dir)) return vfs_of(dir)->mnt_root;
    return dir;
}

void zel_vfs_mount(void *locals, zel_evt_t evt) {
    zel_vfs_file_t *mp = vfs_target(locals);
    if (evt == ZEL_EVT_INIT) {
        if (!mp->mnt_driver || !mp->mnt_volume) {
            zel_answer(ZEL_FS_ERR_INVALID);
            return;
        }
        forward_to_driver(mp, mp->mnt_driver->mount, mp->mnt_driver->volume_local[ZEL_FS_MOUNT]);
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_step<Step>() != Step::forwarded) return;
    intptr_t r = zel_subcall_result();
    zel_file_t *root = mp->mnt_root;
    if (r == 0 && !root) r = ZEL_FS_ERR_FAILED;
    if (r == 0) {
        mp->file.attributes |= ZEL_FILE_MOUNT;
        root->attributes |= ZEL_FILE_READABLE | ZEL_FILE_DIR;
        root->driver = mp->mnt_driver;
    } else {
        clear_mount(mp);
    }
    zel_answer(r);
}

void zel_vfs_unmount(void *locals, zel_evt_t evt) {
    zel_vfs_file_t *mp = vfs_target(locals);
    if (evt == ZEL_EVT_INIT) {
        if (!zel_fs_is_mount(&mp->file)) {
            zel_answer(ZEL_FS_ERR_INVALID);
            return;
        }
        forward_to_driver(mp, mp->mnt_driver->unmount, mp->mnt_driver->volume_local[ZEL_FS_UNMOUNT]);
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_step<Step>() != Step::forwarded) return;
    clear_mount(mp);
    zel_answer(0);
}

void zel_vfs_lookup(void *locals, zel_evt_t evt) {
    if (answered_sub_call(evt) || evt != ZEL_EVT_INIT) return;
    zel_vfs_file_t *d = vfs_target(locals);
    auto *p = static_cast<zel_fs_lookup_param_t *>(locals);
    *p->out = nullptr;
    if (zel_fs_is_mount(&d->file)) {
        forward(d, *p, d->mnt_driver->lookup, d->mnt_driver->dir_local[ZEL_FS_LOOKUP]);
        return;
    }
    if (!zel_fs_is_dir(&d->file)) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return;
    }
    zel_vfs_file_t *c = p->name ? find_child(d, p->name) : next_child(d);
    if (!c) {
        zel_answer(ZEL_FS_ERR_NOT_FOUND);
        return;
    }
    if (zel_fs_is_mount(&c->file)) c->file.position = c->mnt_root->position;
    *p->out = &c->file;
    zel_answer(0);
}

void zel_vfs_create(void *locals, zel_evt_t evt) {
    zel_vfs_file_t *d = named_entry_op<zel_fs_create_param_t>(locals, evt, &zel_fs_op_t::create, ZEL_FS_CREATE);
    if (!d) return;
    auto *p = static_cast<zel_fs_create_param_t *>(locals);
    if (find_child(d, p->name)) {
        zel_answer(ZEL_FS_ERR_EXISTS);
        return;
    }
    auto *c = reinterpret_cast<zel_vfs_file_t *>(zel_file_alloc(sizeof(zel_vfs_file_t)));
    char *name = c ? zel_fs_strndup(p->name, strlen(p->name)) : nullptr;
    if (!name) {
        if (c) zel_file_free(&c->file);
        zel_answer(ZEL_FS_ERR_NO_MEMORY);
        return;
    }
    // Only a mount sets the mount bit.
    c->file.attributes = ZEL_FILE_ALLOCATED | (p->attributes & ~static_cast<uint32_t>(ZEL_FILE_MOUNT));
    c->file.name = name;
    c->file.driver = &zel_vfs_op;
    c->file.references = 1;  // the tree's own
    zel_dlist_append(&d->u.children, &c->sibling);
    zel_answer(0);
}

void zel_vfs_unlink(void *locals, zel_evt_t evt) {
    zel_vfs_file_t *d = named_entry_op<zel_fs_unlink_param_t>(locals, evt, &zel_fs_op_t::unlink, ZEL_FS_UNLINK);
    if (!d) return;
    auto *p = static_cast<zel_fs_unlink_param_t *>(locals);
    zel_vfs_file_t *c = find_child(d, p->name);
    if (!c) {
        zel_answer(ZEL_FS_ERR_NOT_FOUND);
        return;
    }
    // A mount point, a directory with entries, or one that is open: refused.
    bool busy_dir = zel_fs_is_dir(&c->file) && (!zel_dlist_is_empty(&c->u.children) || c->file.references > 1);
    if (zel_fs_is_mount(&c->file) || busy_dir) {
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    zel_dlist_remove(&d->u.children, &c->sibling);
    // Drop the tree's reference; an open file lives on until its last close.
    if (c->file.references > 0 && --c->file.references == 0) {
        release_content(c);
        zel_file_free(&c->file);
    }
    zel_answer(0);
}

void zel_vfs_rename(void *locals, zel_evt_t evt) {
    if (answered_sub_call(evt) || evt != ZEL_EVT_INIT) return;
    zel_vfs_file_t *vol = vfs_target(locals);
    auto *p = static_cast<zel_fs_rename_param_t *>(locals);
    if (zel_fs_is_mount(&vol->file)) {
        zel_fs_rename_param_t q = *p;
        q.old_dir = zel_vfs_mounted_root(p->old_dir);
        q.new_dir = zel_vfs_mounted_root(p->new_dir);
        forward(vol, q, vol->mnt_driver->rename, vol->mnt_driver->volume_local[ZEL_FS_RENAME], ZEL_FS_ERR_FAILED);
        return;
    }
    bool dirs_ok = is_vfs_dir(p->old_dir) && is_vfs_dir(p->new_dir) && !zel_fs_is_mount(p->old_dir) &&
                   !zel_fs_is_mount(p->new_dir);
    if (!dirs_ok || !p->old_name || (p->new_name && !zel_fs_name_is_valid(p->new_name))) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return;
    }
    zel_vfs_file_t *old_dir = vfs_of(p->old_dir);
    zel_vfs_file_t *new_dir = vfs_of(p->new_dir);
    zel_vfs_file_t *node = find_child(old_dir, p->old_name);
    if (find_child(new_dir, p->new_name ? p->new_name : p->old_name)) {
        zel_answer(ZEL_FS_ERR_EXISTS);
        return;
    }
    if (!node) {
        zel_answer(ZEL_FS_ERR_NOT_FOUND);
        return;
    }
    // A directory never moves into itself or below itself.
    for (zel_file_t *a = &new_dir->file; a; a = a->parent) {
        if (a == &node->file) {
            zel_answer(ZEL_FS_ERR_INVALID);
            return;
        }
    }
    if (p->new_name) {
        char *name = zel_fs_strndup(p->new_name, strlen(p->new_name));
        if (!name) {
            zel_answer(ZEL_FS_ERR_NO_MEMORY);
            return;
        }
        zel_heap_free(node->file.name);
        node->file.name = name;
    }
    zel_dlist_remove(&old_dir->u.children, &node->sibling);
    zel_dlist_append(&new_dir->u.children, &node->sibling);
    zel_answer(0);
}

void zel_vfs_close(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    release_content(vfs_target(locals));
    zel_answer(0);
}

void zel_vfs_read(void *locals, zel_evt_t evt) {
    if (answered_sub_call(evt) || evt != ZEL_EVT_INIT) return;
    zel_vfs_file_t *f = vfs_target(locals);
    auto *p = static_cast<zel_fs_rw_param_t *>(locals);
    if (zel_fs_is_dir(&f->file)) {
        zel_answer(ZEL_FS_ERR_INVALID);
    } else if (f->u.bound.read) {
        run_callback(f, f->u.bound.read, *p);
    } else if (f->u.bound.write) {
        zel_answer(ZEL_FS_ERR_NOT_BOUND);
    } else if (!holds_own_data(f)) {
        zel_answer(ZEL_FS_ERR_NOT_SUPPORTED);
    } else {
        uint64_t pos = f->file.position;
        uint64_t left = pos < f->file.size ? f->file.size - pos : 0;
        uint32_t n = left < p->size ? static_cast<uint32_t>(left) : p->size;
        if (n) memcpy(p->buffer, static_cast<uint8_t *>(f->owned) + pos, n);
        zel_answer(n);
    }
}

void zel_vfs_write(void *locals, zel_evt_t evt) {
    if (answered_sub_call(evt) || evt != ZEL_EVT_INIT) return;
    zel_vfs_file_t *f = vfs_target(locals);
    auto *p = static_cast<zel_fs_rw_param_t *>(locals);
    if (zel_fs_is_dir(&f->file)) {
        zel_answer(ZEL_FS_ERR_INVALID);
    } else if (f->u.bound.write) {
        run_callback(f, f->u.bound.write, *p);
    } else if (f->u.bound.read) {
        zel_answer(ZEL_FS_ERR_NOT_BOUND);
    } else if (!holds_own_data(f)) {
        zel_answer(ZEL_FS_ERR_NOT_SUPPORTED);
    } else if (p->size == 0) {
        zel_answer(0);
    } else {
        uint64_t pos = f->file.position;
        uint64_t end = pos + p->size;
        // Growing keeps the data when memory runs out.
        if (end < pos || (end > f->file.size && !set_length(f, end))) {
            zel_answer(ZEL_FS_ERR_NO_MEMORY);
            return;
        }
        memcpy(static_cast<uint8_t *>(f->owned) + pos, p->buffer, p->size);
        zel_answer(p->size);
    }
}

void zel_vfs_resize(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_vfs_file_t *f = vfs_target(locals);
    auto *p = static_cast<zel_fs_resize_param_t *>(locals);
    if (zel_fs_is_dir(&f->file))
        zel_answer(ZEL_FS_ERR_INVALID);
    else if (has_callback(f) || !holds_own_data(f))
        zel_answer(ZEL_FS_ERR_NOT_SUPPORTED);
    else
        zel_answer(set_length(f, p->size) ? 0 : ZEL_FS_ERR_NO_MEMORY);
}

void zel_vfs_setpos(void *locals, zel_evt_t evt) {
    zel_vfs_file_t *f = vfs_target(locals);
    auto *p = static_cast<zel_fs_setpos_param_t *>(locals);
    if (evt == ZEL_EVT_RETURN && zel_step<Step>() == Step::forwarded) {
        // Keep the mounted root's own position in step with its driver's.
        intptr_t r = zel_subcall_result();
        if (r == 0) f->mnt_root->position = *p->out;
        zel_answer(r);
        return;
    }
    if (evt != ZEL_EVT_INIT) return;
    if (zel_fs_is_mount(&f->file)) {
        forward(f, *p, f->mnt_driver->setpos, f->mnt_driver->file_local[ZEL_FS_SETPOS]);
        return;
    }
    *p->out = p->position;
    zel_answer(0);
}

const zel_fs_op_t zel_vfs_op = {
    .volume_local = {0, 0, 0, 0},
    .mount = zel_vfs_mount,
    .unmount = zel_vfs_unmount,
    .rename = zel_vfs_rename,
    .file_local = {0, 0, 0, 0, 0, 0, 0, 0},
    .close = zel_vfs_close,
    .read = zel_vfs_read,
    .write = zel_vfs_write,
    .resize = zel_vfs_resize,
    .setpos = zel_vfs_setpos,
    .dir_local = {0, 0, 0, 0},
    .lookup = zel_vfs_lookup,
    .create = zel_vfs_create,
    .unlink = zel_vfs_unlink,
    .spare = zel_op_not_support,
};

}  // extern "C"

// winfs: host folders in the tree.
#include "zel_winfs.h"

#include <string.h>

#include "zel_fs_internal.h"
#include "zel_heap.h"
#include "zel_trace.h"
#include "zel_vfs.h"

namespace {

zel_winfs_file_t *winfs_of(zel_file_t *f) { return reinterpret_cast<zel_winfs_file_t *>(f); }
zel_winfs_file_t *winfs_target(void *locals) { return winfs_of(zel_fs_target(locals)); }

bool is_winfs_dir(const zel_file_t *f) {
    return f && f->driver == &zel_winfs_op && zel_fs_is_dir(f) && reinterpret_cast<const zel_winfs_file_t *>(f)->path;
}

bool is_dot_name(const char *s, size_t n) { return (n == 1 && s[0] == '.') || (n == 2 && s[0] == '.' && s[1] == '.'); }

// `dir` and the first `n` bytes of `name`, joined with one '/'.
char *join(const char *dir, const char *name, size_t n) {
    size_t d = strlen(dir);
    size_t sep = d > 0 && dir[d - 1] != '/' ? 1 : 0;
    auto *s = static_cast<char *>(zel_heap_malloc(d + sep + n + 1));
    if (!s) return nullptr;
    memcpy(s, dir, d);
    if (sep) s[d] = '/';
    memcpy(s + d + sep, name, n);
    s[d + sep + n] = '\0';
    return s;
}

void close_listing(zel_winfs_file_t *d) {
    zel_host_dir_close(d->handle);
    d->handle = ZEL_HOST_HANDLE_NONE;
}

// The listing's next raw entry; at the end the listing is closed and the
// directory's position goes back to 0.
const char *next_raw(zel_winfs_file_t *d) {
    const char *name;
    if (d->handle == ZEL_HOST_HANDLE_NONE) {
        name = zel_winfs_find_first(d);
    } else {
        name = zel_host_dir_next(d->handle);
        if (name) d->file.position++;
    }
    if (!name) {
        close_listing(d);
        d->file.position = 0;
    }
    return name;
}

// The code for a host call that failed for want of resources (0: it did
// not): the caller says so instead of answering "not found".
intptr_t shortage(int host_error) {
    if (host_error == -ZEL_HOST_EMFILE || host_error == -ZEL_HOST_ENFILE) return ZEL_FS_ERR_NO_HANDLES;
    if (host_error == -ZEL_HOST_ENOMEM) return ZEL_FS_ERR_NO_MEMORY;
    return 0;
}

void release_node(zel_winfs_file_t *n) {
    zel_heap_free(n->file.name);
    zel_heap_free(n->path);
    zel_file_free(&n->file);
}

// A node for the entry `name` (n bytes) of directory `d`: 0, -4 when the host
// has no regular file or folder there (or will not open it), -6.
intptr_t make_node(zel_winfs_file_t *d, const char *name, size_t n, zel_file_t **out) {
    char *path = join(d->path, name, n);
    if (!path) return ZEL_FS_ERR_NO_MEMORY;
    zel_host_file_info_t info;
    if (zel_host_file_stat(path, &info) != 0 || info.kind == ZEL_HOST_KIND_OTHER) {
        zel_heap_free(path);
        return ZEL_FS_ERR_NOT_FOUND;
    }
    auto *node = reinterpret_cast<zel_winfs_file_t *>(zel_file_alloc(sizeof(zel_winfs_file_t)));
    char *copy = node ? zel_fs_strndup(name, n) : nullptr;
    if (!copy) {
        zel_heap_free(path);
        if (node) zel_file_free(&node->file);
        return ZEL_FS_ERR_NO_MEMORY;
    }
    node->file.name = copy;
    node->path = path;
    node->file.driver = &zel_winfs_op;
    node->handle = ZEL_HOST_HANDLE_NONE;
    node->read_only = d->read_only;
    node->file.attributes |= ZEL_FILE_READABLE;
    if (info.writable && !node->read_only) node->file.attributes |= ZEL_FILE_WRITABLE;
    if (name[0] == '.') node->file.attributes |= ZEL_FILE_HIDDEN;
    if (info.kind == ZEL_HOST_KIND_DIR) {
        node->file.attributes |= ZEL_FILE_DIR;
    } else {
        // A read-only file is opened for reading only, so that a write fails
        // whoever the program runs as.
        bool writable = info.writable && !node->read_only;
        node->handle = zel_host_file_open(path, &writable, &node->file.size);
        if (node->handle == ZEL_HOST_HANDLE_NONE) {
            const intptr_t lack = shortage(zel_host_file_error());
            release_node(node);
            return lack ? lack : ZEL_FS_ERR_NOT_FOUND;
        }
        if (!writable) {
            node->file.attributes &= ~static_cast<uint32_t>(ZEL_FILE_WRITABLE);
            node->in_use = info.writable && zel_host_file_error() == -ZEL_HOST_EBUSY;
        }
    }
    *out = &node->file;
    return 0;
}

// The next entry of a listing, "." and ".." and what the host will not serve
// skipped. A listing that the host cannot go on with for want of resources
// fails instead of ending early.
intptr_t next_entry(zel_winfs_file_t *d, zel_file_t **out) {
    for (;;) {
        const char *raw = next_raw(d);
        if (!raw) {
            // The listing's last host call tells why it stopped.
            const intptr_t lack = shortage(zel_host_file_error());
            return lack ? lack : ZEL_FS_ERR_NOT_FOUND;
        }
        size_t n = strlen(raw);
        if (is_dot_name(raw, n)) continue;
        intptr_t r = make_node(d, raw, n, out);
        if (r != ZEL_FS_ERR_NOT_FOUND) return r;
    }
}

// The directory's path joined with a name given to create or unlink.
char *child_path(void *locals, const char *name, intptr_t *error) {
    zel_winfs_file_t *d = winfs_target(locals);
    *error = ZEL_FS_ERR_INVALID;
    if (!is_winfs_dir(&d->file) || !zel_fs_name_is_valid(name)) return nullptr;
    *error = ZEL_FS_ERR_FAILED;
    if (d->read_only) return nullptr;
    *error = ZEL_FS_ERR_NO_MEMORY;
    return join(d->path, name, strlen(name));
}

}  // namespace

extern "C" {

const char *zel_winfs_find_first(zel_winfs_file_t *dir) {
    close_listing(dir);
    dir->file.position = 0;
    dir->handle = zel_host_dir_open(dir->path);
    const char *name = zel_host_dir_next(dir->handle);
    if (!name) {
        close_listing(dir);
        return nullptr;
    }
    dir->file.position = 1;
    return name;
}

void zel_winfs_mount(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *mp = reinterpret_cast<zel_vfs_file_t *>(zel_fs_target(locals));
    auto *root = reinterpret_cast<zel_winfs_info_t *>(mp->mnt_volume);
    zel_host_file_info_t info;
    if (!root || !root->file.name || zel_host_file_stat(root->file.name, &info) != 0) {
        zel_answer(ZEL_FS_ERR_NOT_FOUND);
        return;
    }
    if (info.kind != ZEL_HOST_KIND_DIR) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return;
    }
    root->path = root->file.name;
    root->handle = ZEL_HOST_HANDLE_NONE;
    root->file.position = 0;
    mp->mnt_root = &root->file;
    zel_answer(0);
}

void zel_winfs_lookup(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_winfs_file_t *d = winfs_target(locals);
    auto *p = static_cast<zel_fs_lookup_param_t *>(locals);
    *p->out = nullptr;
    if (!is_winfs_dir(&d->file)) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return;
    }
    if (!p->name) {
        zel_answer(next_entry(d, p->out));
        return;
    }
    size_t n = zel_fs_element_length(p->name);
    if (n == 0 || is_dot_name(p->name, n)) {
        zel_answer(ZEL_FS_ERR_NOT_FOUND);
        return;
    }
    zel_answer(make_node(d, p->name, n, p->out));
}

void zel_winfs_setpos(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_winfs_file_t *f = winfs_target(locals);
    auto *p = static_cast<zel_fs_setpos_param_t *>(locals);
    if (zel_fs_is_dir(&f->file)) {
        // An entry index: a fresh listing that has consumed that many raw entries.
        close_listing(f);
        f->file.position = 0;
        for (uint64_t i = 0; i < p->position; i++) {
            if (!next_raw(f)) {
                zel_answer(ZEL_FS_ERR_FAILED);
                return;
            }
        }
    }
    *p->out = p->position;
    zel_answer(0);
}

void zel_winfs_read(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_winfs_file_t *f = winfs_target(locals);
    auto *p = static_cast<zel_fs_rw_param_t *>(locals);
    int64_t n = zel_fs_is_dir(&f->file) ? -1 : zel_host_file_read(f->handle, p->buffer, p->size, f->file.position);
    zel_answer(n < 0 ? ZEL_FS_ERR_FAILED : static_cast<intptr_t>(n));
}

void zel_winfs_write(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_winfs_file_t *f = winfs_target(locals);
    auto *p = static_cast<zel_fs_rw_param_t *>(locals);
    int64_t n = zel_fs_is_dir(&f->file) || f->read_only
                    ? -1
                    : zel_host_file_write(f->handle, p->buffer, p->size, f->file.position);
    if (n < 0) {
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    uint64_t end = f->file.position + static_cast<uint64_t>(n);
    if (end > f->file.size) f->file.size = end;
    zel_answer(static_cast<intptr_t>(n));
}

void zel_winfs_resize(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_winfs_file_t *f = winfs_target(locals);
    auto *p = static_cast<zel_fs_resize_param_t *>(locals);
    bool ok = !zel_fs_is_dir(&f->file) && !f->read_only && zel_host_file_resize(f->handle, p->size) == 0;
    zel_answer(ok ? 0 : ZEL_FS_ERR_FAILED);
}

void zel_winfs_create(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = static_cast<zel_fs_create_param_t *>(locals);
    intptr_t error;
    char *path = child_path(locals, p->name, &error);
    if (!path) {
        zel_answer(error);
        return;
    }
    int r = (p->attributes & ZEL_FILE_DIR) ? zel_host_dir_create(path) : zel_host_file_create(path);
    zel_heap_free(path);
    zel_answer(r == 0 ? 0 : ZEL_FS_ERR_FAILED);
}

void zel_winfs_unlink(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = static_cast<zel_fs_unlink_param_t *>(locals);
    intptr_t error;
    char *path = child_path(locals, p->name, &error);
    if (!path) {
        zel_answer(error);
        return;
    }
    zel_host_file_info_t info;
    if (zel_host_file_stat(path, &info) != 0)
        error = ZEL_FS_ERR_NOT_FOUND;
    else if (info.kind == ZEL_HOST_KIND_DIR)
        error = zel_host_dir_remove(path) == 0 ? 0 : ZEL_FS_ERR_FAILED;
    else
        error = zel_host_file_remove(path) == 0 ? 0 : ZEL_FS_ERR_FAILED;
    zel_heap_free(path);
    zel_answer(error);
}

void zel_winfs_rename(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = static_cast<zel_fs_rename_param_t *>(locals);
    const char *new_name = p->new_name ? p->new_name : p->old_name;
    if (!is_winfs_dir(p->old_dir) || !is_winfs_dir(p->new_dir) || !zel_fs_name_is_valid(p->old_name) ||
        !zel_fs_name_is_valid(new_name)) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return;
    }
    if (winfs_of(p->old_dir)->read_only || winfs_of(p->new_dir)->read_only) {
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    char *from = join(winfs_of(p->old_dir)->path, p->old_name, strlen(p->old_name));
    char *to = from ? join(winfs_of(p->new_dir)->path, new_name, strlen(new_name)) : nullptr;
    intptr_t r = ZEL_FS_ERR_NO_MEMORY;
    if (to) {
        r = 0;
        if (zel_host_file_rename(from, to) != 0) {
            zel_trace(1, "winfs: fail to rename %s to %s %d\r\n", from, to, zel_host_file_error());
            r = ZEL_FS_ERR_FAILED;
        }
    }
    zel_heap_free(from);
    zel_heap_free(to);
    zel_answer(r);
}

void zel_winfs_close(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    zel_winfs_file_t *f = winfs_target(locals);
    if (zel_fs_is_dir(&f->file))
        close_listing(f);
    else
        zel_host_file_close(f->handle);
    f->handle = ZEL_HOST_HANDLE_NONE;
    // The mount root's strings are the mounter's.
    if ((f->file.attributes & ZEL_FILE_ALLOCATED) && f->file.volume != &f->file) {
        if (f->path != f->file.name) zel_heap_free(f->path);
        zel_heap_free(f->file.name);
        f->path = nullptr;
        f->file.name = nullptr;
    }
    zel_answer(0);
}

bool zel_winfs_in_use(const zel_file_t *f) {
    return f && f->driver == &zel_winfs_op && reinterpret_cast<const zel_winfs_file_t *>(f)->in_use;
}

int zel_winfs_claim(zel_file_t *f) {
    if (!f || f->driver != &zel_winfs_op || zel_fs_is_dir(f) || !(f->attributes & ZEL_FILE_WRITABLE)) return 0;
    return zel_host_file_claim(winfs_of(f)->handle) == 0 ? 0 : ZEL_FS_ERR_FAILED;
}

bool zel_winfs_same_file(const zel_file_t *a, const zel_file_t *b) {
    if (!a || !b || a->driver != &zel_winfs_op || b->driver != &zel_winfs_op) return false;
    if (a == b) return true;
    if (zel_fs_is_dir(a) || zel_fs_is_dir(b)) return false;
    return zel_host_file_same(
        reinterpret_cast<const zel_winfs_file_t *>(a)->handle, reinterpret_cast<const zel_winfs_file_t *>(b)->handle);
}

const zel_fs_op_t zel_winfs_op = {
    .volume_local = {0, 0, 0, 0},
    .mount = zel_winfs_mount,
    .unmount = zel_op_succeed,
    .rename = zel_winfs_rename,
    .file_local = {0, 0, 0, 0, 0, 0, 0, 0},
    .close = zel_winfs_close,
    .read = zel_winfs_read,
    .write = zel_winfs_write,
    .resize = zel_winfs_resize,
    .setpos = zel_winfs_setpos,
    .dir_local = {0, 0, 0, 0},
    .lookup = zel_winfs_lookup,
    .create = zel_winfs_create,
    .unlink = zel_winfs_unlink,
    .spare = zel_op_not_support,
};

}  // extern "C"

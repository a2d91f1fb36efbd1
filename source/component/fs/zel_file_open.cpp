// The path walk and the reference chain: zel_file_open and zel_file_close.
#include "zel_file.h"
#include "zel_fs_internal.h"
#include "zel_sync.h"

namespace {

enum class OpenStep : uint8_t {
    start = 0,
    lock,          // waiting for zel_vfs_lock
    lookup,        // the current directory's driver looks an element up
    restore,       // the directory just searched gets its holders' position back
    rewind,        // the node reached is rewound for its new holder
    fail_restore,  // failing: the same, before the chain is released
    fail_close     // failing: the chain taken so far is released
};

struct OpenParam {
    const char *path;  // none: the directory's next entry
    zel_file_t **out;
};

struct OpenFrame {
    OpenParam p;
    const char *cursor;
    zel_file_t *cur;       // the walk's node: referenced and held by the walk
    zel_file_t *found;     // the lookup's answer
    zel_file_t *held_dir;  // a directory rewound for a search while others hold it
    uint64_t held_pos;
    intptr_t result;  // the answer once failing; the lookup's code
    bool locked;
};

void walk(OpenFrame *f);
void fail(OpenFrame *f, intptr_t code);

void finish(OpenFrame *f, intptr_t code) {
    if (f->locked) zel_eda_sync_release(&zel_vfs_lock, nullptr);  // held here
    *f->p.out = code == 0 ? f->cur : nullptr;
    zel_answer(code);
}

void look_up(OpenFrame *f, const char *name) {
    f->found = nullptr;
    zel_set_step(OpenStep::lookup);
    const zel_fs_op_t *d = f->cur->driver;
    int32_t r = zel_fs_start(d->lookup, d->dir_local[ZEL_FS_LOOKUP], f->cur, zel_fs_lookup_param_t{name, &f->found});
    if (r != 0) fail(f, r);
}

void begin(OpenFrame *f) {
    f->locked = true;
    if (f->p.path)
        walk(f);
    else
        look_up(f, nullptr);
}

void take_lock(OpenFrame *f) {
    zel_set_step(OpenStep::lock);
    if (zel_eda_sync_decrease(&zel_vfs_lock, -1) == 0) begin(f);
}

void on_lock_event(OpenFrame *f, zel_evt_t evt) {
    switch (zel_eda_sync_get_reason(&zel_vfs_lock, evt)) {
    case ZEL_SYNC_OBTAINED: begin(f); return;
    case ZEL_SYNC_KEEP_WAITING: return;
    case ZEL_SYNC_OTHER:  // not ours: the wait was left, so pend again
        if (zel_eda_sync_decrease(&zel_vfs_lock, -1) == 0) begin(f);
        return;
    default: fail(f, ZEL_FS_ERR_FAILED);
    }
}

// Steps through separators and starts the lookup of the next element.
void walk(OpenFrame *f) {
    char c = *f->cursor;
    if (c == '\0') {
        finish(f, 0);
        return;
    }
    if (!zel_fs_is_dir(f->cur)) {
        fail(f, ZEL_FS_ERR_INVALID);
        return;
    }
    if (zel_file_is_div(c) && *++f->cursor == '\0') {
        finish(f, 0);  // a trailing separator after a directory
        return;
    }
    look_up(f, f->cursor);
}

void go_on(OpenFrame *f) {
    if (f->p.path)
        walk(f);
    else
        finish(f, 0);
}

// The walk moves to the node the lookup found.
void take_found(OpenFrame *f) {
    zel_file_t *n = f->found;
    if (!n) {
        fail(f, f->result);
        return;
    }
    n->references++;
    const bool held = n->opens > 0;
    n->opens++;
    f->cur->opens--;  // now only an ancestor of the walk's node
    f->cur = n;
    bool last = true;
    if (f->p.path) {
        f->cursor += zel_fs_element_length(f->cursor);
        last = f->cursor[0] == '\0' || (zel_file_is_div(f->cursor[0]) && f->cursor[1] == '\0');
    }
    // A fresh holder starts at 0. A node that others hold keeps their
    // position, unless the walk must search it from its first entry; then
    // they get it back once the search is done.
    if (n->position != 0 && !(held && last)) {
        if (held) {
            f->held_dir = n;
            f->held_pos = n->position;
        }
        zel_set_step(OpenStep::rewind);
        if (zel_file_seek(n, 0, ZEL_SEEK_SET) == 0) return;
        f->held_dir = nullptr;
    }
    go_on(f);
}

void after_lookup(OpenFrame *f) {
    intptr_t r = zel_subcall_result();
    if (f->found) {
        f->found->parent = f->cur;
        f->found->volume = zel_vfs_dir_volume(f->cur);
    } else {
        f->result = r < 0 && r != ZEL_FS_ERR_NOT_FOUND ? r : ZEL_FS_ERR_NOT_FOUND;
    }
    if (f->held_dir) {
        zel_set_step(OpenStep::restore);
        if (zel_file_seek(f->held_dir, f->held_pos, ZEL_SEEK_SET) == 0) return;
        f->held_dir = nullptr;
    }
    take_found(f);
}

void release_chain(OpenFrame *f) {
    zel_set_step(OpenStep::fail_close);
    if (zel_file_close(f->cur) != 0) finish(f, f->result);
}

void fail(OpenFrame *f, intptr_t code) {
    f->result = code;
    if (f->held_dir) {
        zel_set_step(OpenStep::fail_restore);
        if (zel_file_seek(f->held_dir, f->held_pos, ZEL_SEEK_SET) == 0) return;
        f->held_dir = nullptr;
    }
    release_chain(f);
}

void open_handler(void *locals, zel_evt_t evt) {
    auto *f = static_cast<OpenFrame *>(locals);
    const OpenStep step = zel_step<OpenStep>();
    if (step == OpenStep::start) {
        if (evt != ZEL_EVT_INIT) return;
        f->cur = zel_fs_target(locals);
        f->cursor = f->p.path;
        take_lock(f);
        return;
    }
    if (step == OpenStep::lock) {
        on_lock_event(f, evt);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    switch (step) {
    case OpenStep::lookup: after_lookup(f); break;
    case OpenStep::restore:
        f->held_dir = nullptr;
        take_found(f);
        break;
    case OpenStep::rewind: go_on(f); break;
    case OpenStep::fail_restore:
        f->held_dir = nullptr;
        release_chain(f);
        break;
    case OpenStep::fail_close: finish(f, f->result); break;
    default: break;
    }
}

enum class CloseStep : uint8_t {
    start = 0,
    slot  // the driver closes a node whose last reference went
};

struct CloseFrame {
    zel_fs_none_param_t p;
    zel_file_t *node;  // being closed by its driver
    zel_file_t *next;  // its parent, released next
    intptr_t result;
};

// Drops one reference from `n` and each node above it; a node that reaches 0
// is closed by its driver and then freed.
void climb(CloseFrame *f, zel_file_t *n) {
    while (n && n->references > 0) {
        zel_file_t *up = n->parent;
        if (--n->references == 0) {
            f->node = n;
            f->next = up;
            zel_set_step(CloseStep::slot);
            const zel_fs_op_t *d = n->driver;
            if (zel_fs_start(d->close, d->file_local[ZEL_FS_CLOSE], n, zel_fs_none_param_t{}) == 0) return;
            f->result = ZEL_FS_ERR_NO_MEMORY;  // this node stays behind
        }
        n = up;
    }
    zel_answer(f->result);
}

void close_handler(void *locals, zel_evt_t evt) {
    auto *f = static_cast<CloseFrame *>(locals);
    if (zel_step<CloseStep>() == CloseStep::start) {
        if (evt != ZEL_EVT_INIT) return;
        zel_file_t *n = zel_fs_target(locals);
        if (n->opens > 0) n->opens--;
        climb(f, n);
    } else if (evt == ZEL_EVT_RETURN) {
        zel_file_free(f->node);
        climb(f, f->next);
    }
}

void unref_chain(zel_file_t *n) {
    for (; n; n = n->parent)
        if (n->references > 0) n->references--;
}

}  // namespace

extern "C" {

int32_t zel_file_open(zel_file_t *dir, const char *path, zel_file_t **out) {
    if (!out) return ZEL_FS_ERR_INVALID;
    if (!dir) dir = &zel_vfs_root.file;
    *out = dir;
    dir->references++;
    zel_file_ref_parents(dir);
    dir->opens++;
    int32_t r = zel_subcall(open_handler, dir, OpenParam{path, out}, sizeof(OpenFrame));
    if (r != 0) {
        dir->opens--;
        unref_chain(dir);
        *out = nullptr;
    }
    return r;
}

int32_t zel_file_close(zel_file_t *file) {
    if (!file) return ZEL_FS_ERR_INVALID;
    return zel_subcall(close_handler, file, zel_fs_none_param_t{}, sizeof(CloseFrame));
}

}  // extern "C"

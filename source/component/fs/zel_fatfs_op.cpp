// The driver table. Each node operation passes the volume's gate, settles
// what a failed operation before it left unsettled, brings a node that
// another node has written through since up to date, runs the operation
// (a write or resize with the volume's journal open on its file), writes the
// FAT32 information sector when the FAT changed, and hands the gate on.
#include "zel_fatfs.h"
#include "zel_heap.h"
#include "zel_subcall.h"

namespace {

enum class GateStep : uint8_t { WAIT = 0, SETTLE, REFRESH, RUN, FLUSH };

struct GateState {
    intptr_t result;
};

template <class P>
struct GateLocals {
    P p;
    GateState g;
};

// Operations that change a file's clusters or size.
bool changes_file(zel_eda_frame_handler_t op) { return op == zel_fatfs_do_write || op == zel_fatfs_do_resize; }

// The sector and index of a node's short entry, which name its file (0 for
// a mounted root, which has none).
uint64_t entry_place(const zel_fatfs_file_t *n) {
    if (n->a_count == 0) return 0;
    return n->b_count ? (uint64_t)n->dentry_sector_b << 8 | (uint32_t)(n->b_first + n->b_count - 1)
                      : (uint64_t)n->dentry_sector_a << 8 | (uint32_t)(n->a_first + n->a_count - 1);
}

// After `node` changed its file, the other open nodes of that file take its
// size and first cluster at once (so that the file layer's checks on them
// hold) and their position, cut to the size; their cluster fields are
// worked out again before their next operation.
void share_change(zel_fatfs_file_t *node) {
    if (node->a_count == 0) return;
    const uint64_t place = entry_place(node);
    for (zel_fatfs_file_t *o = node->vol->open_nodes; o; o = o->next_open) {
        if (o == node || o->a_count == 0 || entry_place(o) != place) continue;
        o->file.size = node->file.size;
        o->first_cluster = node->first_cluster;
        if (o->file.position > o->file.size) o->file.position = o->file.size;
        o->stale = 1;
    }
}

// A settle at the gate changed the file of the journal: every open node of
// it takes the size and first cluster its entry holds, and is read again.
void share_settled(zel_fatfs_info_t *vol) {
    const uint64_t place = vol->journal.place;
    if (place == 0) return;
    for (zel_fatfs_file_t *o = vol->open_nodes; o; o = o->next_open) {
        if (entry_place(o) != place) continue;
        o->file.size = vol->journal.settled_size;
        o->first_cluster = vol->journal.settled_first;
        if (o->file.position > o->file.size) o->file.position = o->file.size;
        o->stale = 1;
    }
}

void gate_finish(zel_fatfs_info_t *vol, intptr_t result) {
    zel_io_gate_leave(&vol->gate);
    zel_answer(result);
}

template <class P>
void gate_run(void *locals, zel_eda_frame_handler_t op) {
    auto *l = static_cast<GateLocals<P> *>(locals);
    zel_fatfs_file_t *node = zel_target<zel_fatfs_file_t>(locals);
    if (changes_file(op)) zel_fatfs_journal_open(node->vol, entry_place(node), node->first_cluster);
    zel_set_step(GateStep::RUN);
    if (zel_eda_call_param(op, reinterpret_cast<uintptr_t>(node), ZEL_FATFS_OP_LOCALS, sizeof(P), &l->p) != 0)
        gate_finish(node->vol, ZEL_FS_ERR_NO_MEMORY);
}

template <class P>
void gate_entered(void *locals, zel_eda_frame_handler_t op) {
    zel_fatfs_file_t *node = zel_target<zel_fatfs_file_t>(locals);
    zel_fatfs_info_t *vol = node->vol;
    if (vol->journal.unsettled && zel_step<GateStep>() != GateStep::SETTLE) {
        zel_set_step(GateStep::SETTLE);
        if (zel_fatfs_settle_start(vol) != 0) gate_finish(vol, ZEL_FS_ERR_NO_MEMORY);
        return;
    }
    if (node->stale || (changes_file(op) && vol->last_writer != node)) {
        zel_set_step(GateStep::REFRESH);
        if (zel_fatfs_refresh_start(node) != 0) gate_finish(vol, ZEL_FS_ERR_NO_MEMORY);
        return;
    }
    gate_run<P>(locals, op);
}

template <class P>
void gated(void *locals, zel_evt_t evt, zel_eda_frame_handler_t op) {
    auto *l = static_cast<GateLocals<P> *>(locals);
    zel_fatfs_file_t *node = zel_target<zel_fatfs_file_t>(locals);
    zel_fatfs_info_t *vol = node->vol;
    const auto step = zel_step<GateStep>();
    if (evt == ZEL_EVT_INIT) {
        // A file with the read-only attribute is not changed, as a host file
        // without write permission is not.
        if (changes_file(op) && !(node->file.attributes & ZEL_FILE_WRITABLE)) {
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        if (zel_io_gate_enter(&vol->gate)) gate_entered<P>(locals, op);
        return;
    }
    if (evt == ZEL_EVT_WAKE && step == GateStep::WAIT) {
        if (zel_io_gate_is_mine(&vol->gate)) gate_entered<P>(locals, op);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    switch (step) {
    case GateStep::SETTLE:
        if (zel_subcall_result() < 0) {
            gate_finish(vol, ZEL_FS_ERR_FAILED);
            return;
        }
        share_settled(vol);
        gate_entered<P>(locals, op);
        return;
    case GateStep::REFRESH:
        if (zel_subcall_result() < 0) {
            gate_finish(vol, ZEL_FS_ERR_FAILED);
            return;
        }
        node->stale = 0;
        if (changes_file(op)) vol->last_writer = node;
        gate_run<P>(locals, op);
        return;
    case GateStep::RUN:
        l->g.result = zel_subcall_result();
        // A failed change may still have changed the size or the chain.
        if (changes_file(op)) share_change(node);
        if (vol->fsinfo_dirty) {
            zel_set_step(GateStep::FLUSH);
            if (zel_fatfs_flush_info_start(vol) == 0) return;
        }
        break;
    case GateStep::FLUSH:
        if (zel_subcall_result() < 0 && l->g.result >= 0) l->g.result = ZEL_FS_ERR_FAILED;
        break;
    default: return;
    }
    gate_finish(vol, l->g.result);
}

// Bytes of locals each gated operation needs beyond its parameter block.
constexpr uint8_t gate_extra = sizeof(GateState);
static_assert(sizeof(GateLocals<zel_fs_rw_param_t>) == sizeof(zel_fs_rw_param_t) + sizeof(GateState));
static_assert(sizeof(GateLocals<zel_fs_lookup_param_t>) == sizeof(zel_fs_lookup_param_t) + sizeof(GateState));
static_assert(sizeof(GateLocals<zel_fs_setpos_param_t>) == sizeof(zel_fs_setpos_param_t) + sizeof(GateState));
static_assert(sizeof(GateLocals<zel_fs_resize_param_t>) == sizeof(zel_fs_resize_param_t) + sizeof(GateState));

}  // namespace

bool zel_fatfs_same_file(const zel_file_t *a, const zel_file_t *b) {
    if (!a || !b || a->driver != &zel_fatfs_op || b->driver != &zel_fatfs_op) return false;
    if (a == b) return true;
    const auto *x = reinterpret_cast<const zel_fatfs_file_t *>(a);
    const auto *y = reinterpret_cast<const zel_fatfs_file_t *>(b);
    return x->vol == y->vol && x->a_count != 0 && y->a_count != 0 && entry_place(x) == entry_place(y);
}

void zel_fatfs_read(void *locals, zel_evt_t evt) { gated<zel_fs_rw_param_t>(locals, evt, zel_fatfs_do_read); }

void zel_fatfs_write(void *locals, zel_evt_t evt) { gated<zel_fs_rw_param_t>(locals, evt, zel_fatfs_do_write); }

void zel_fatfs_resize(void *locals, zel_evt_t evt) { gated<zel_fs_resize_param_t>(locals, evt, zel_fatfs_do_resize); }

void zel_fatfs_setpos(void *locals, zel_evt_t evt) { gated<zel_fs_setpos_param_t>(locals, evt, zel_fatfs_do_setpos); }

void zel_fatfs_lookup(void *locals, zel_evt_t evt) { gated<zel_fs_lookup_param_t>(locals, evt, zel_fatfs_do_lookup); }

void zel_fatfs_close(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *node = zel_target<zel_fatfs_file_t>(locals);
    if (node->vol && node->vol->last_writer == node) node->vol->last_writer = nullptr;
    if (node->vol)
        for (zel_fatfs_file_t **at = &node->vol->open_nodes; *at; at = &(*at)->next_open)
            if (*at == node) {
                *at = node->next_open;
                break;
            }
    zel_heap_free(node->file.name);
    node->file.name = nullptr;
    zel_answer(0);
}

const zel_fs_op_t zel_fatfs_op = {
    .volume_local = {0, 0, 0, 0},
    .mount = zel_fatfs_mount,
    .unmount = zel_fatfs_unmount,
    .rename = zel_op_not_support,
    .file_local = {0, gate_extra, gate_extra, gate_extra, gate_extra, 0, 0, 0},
    .close = zel_fatfs_close,
    .read = zel_fatfs_read,
    .write = zel_fatfs_write,
    .resize = zel_fatfs_resize,
    .setpos = zel_fatfs_setpos,
    .dir_local = {gate_extra, 0, 0, 0},
    .lookup = zel_fatfs_lookup,
    .create = zel_op_not_support,
    .unlink = zel_op_not_support,
    .spare = zel_op_not_support,
};

// File operations: setpos, read, write (in place and growing) and resize.
#include <string.h>

#include "zel_fatfs_step.h"
#include "zel_trace.h"

namespace {

bool is_link(const zel_fatfs_info_t *vol, uint32_t raw) {
    const uint32_t v = zel_fat_entry_value(vol->type, raw);
    return v < zel_fat_bad_mark(vol->type) && zel_fatfs_cluster_ok(vol, v);
}

uint32_t sectors_per_cluster(const zel_fatfs_info_t *vol) { return 1u << vol->cluster_shift; }

// ---- setpos ----

enum class SeekStep : uint8_t { START = 0, NEXT };

struct SeekLocals {
    zel_fs_setpos_param_t p;
    uint64_t rem;
    uint32_t cluster;
    uint32_t steps;  // links to follow to the cluster that holds the position
    uint32_t taken;
    zel_fatfs_walk_t walk;
};

void seek_done(zel_fatfs_file_t *node, SeekLocals *l) {
    const uint32_t ss = 1u << node->vol->sector_shift;
    node->cur_cluster = l->cluster;
    node->sector_index = (uint32_t)(l->rem / ss);
    node->byte_offset = (uint32_t)(l->rem % ss);
    zel_fatfs_walk_start(&node->walk, node->cur_cluster);
    node->run_after = 0;
    // A mounted root is reached through its mount point: its own position
    // follows here, as the file layer only updates the node it called.
    node->file.position = l->p.position;
    if (l->p.out) *l->p.out = l->p.position;
    zel_answer(0);
}

// A position at the very end of a cluster stays in that cluster.
void seek_walk(zel_fatfs_file_t *node, SeekLocals *l) {
    const uint64_t cb = zel_fatfs_cluster_bytes(node->vol);
    if (l->rem > cb) {
        l->steps = (uint32_t)((l->rem - 1) / cb);
        zel_fatfs_next(SeekStep::NEXT, [&] {
            return zel_fatfs_chain_follow_start(node->vol, l->cluster, l->steps, &l->walk, &l->cluster, &l->taken);
        });
        return;
    }
    seek_done(node, l);
}

// ---- read and write ----

enum class RwStep : uint8_t {
    START = 0,
    NEXT,
    ALLOC,
    RUN,  // how many clusters follow the current one in order
    PARTIAL_READ,
    PARTIAL_WRITE,
    WHOLE,
    DENTRY,
    CHECKPOINT,  // the journal is full: the entry records what was written so far
    SETTLE,
    RESYNC
};

constexpr uint32_t kOpLocals = ZEL_FATFS_OP_LOCALS;

struct RwLocals {
    zel_fs_rw_param_t p;  // buffer none on a write: zeros
    uint64_t pos;
    uint32_t done;
    uint32_t run;
    uint32_t sector;
    uint32_t next;
    uint32_t taken;  // clusters of the run just allocated
    intptr_t failure;
    uint8_t write;
    uint8_t probed;      // the node's run was read from the FAT by this operation
    uint32_t probed_at;  // the cluster that run was looked for after (0: none)
    uint64_t resume;     // the position after a failure
};

static_assert(sizeof(RwLocals) <= kOpLocals);
static_assert(sizeof(SeekLocals) <= kOpLocals);

// The most bytes one device request moves over several clusters.
constexpr uint32_t kRunMaxBytes = 128 * 1024;

// Whole-sector runs of zeros are written from this block.
constexpr uint32_t kZeroBlock = 32768;
const uint8_t zeros[kZeroBlock] = {};

void rw_continue(zel_fatfs_file_t *node, RwLocals *l);
int32_t start_seek(zel_fatfs_file_t *node, uint64_t position, uint64_t *out);

// After a settle: the node takes the size and the first cluster its entry
// holds on the device; one that failed leaves the node to be read again.
void adopt_settled(zel_fatfs_file_t *node, bool settled) {
    if (!settled) {
        node->stale = 1;
        return;
    }
    node->file.size = node->vol->journal.settled_size;
    node->first_cluster = node->vol->journal.settled_first;
    if (node->file.position > node->file.size) node->file.position = node->file.size;
}

// A failed read or write leaves the position where it was (the file layer
// moves it by a count only), but the cluster fields went on with the bytes
// that did go: they are set to the position again before the answer.
void rw_resync(zel_fatfs_file_t *node, RwLocals *l) {
    zel_set_step(RwStep::RESYNC);
    if (start_seek(node, l->resume, nullptr) != 0) zel_answer(l->failure);
}

// A write that failed is settled: its entry is read back, and the clusters
// it took that the recorded size does not reach are given back, so that the
// chain stays as long as the size needs.
void rw_answer(zel_fatfs_file_t *node, RwLocals *l, intptr_t code) {
    // A run read from the FAT holds for this operation only: another file's
    // change to a damaged (cross-linked) chain must not carry it further.
    if (l->probed) node->run_after = 0;
    if (code >= 0) {
        zel_answer(code);
        return;
    }
    l->failure = code;
    l->resume = node->file.position;
    if (l->write) {
        zel_set_step(RwStep::SETTLE);
        if (zel_fatfs_settle_start(node->vol) == 0) return;
        node->vol->journal.unsettled = 1;
        node->stale = 1;
    }
    rw_resync(node, l);
}

void rw_end(zel_fatfs_file_t *node, RwLocals *l, intptr_t code) {
    // Bytes written past the old end are recorded even when a later step failed.
    if (l->write && l->pos > node->file.size) {
        l->failure = code;
        zel_set_step(RwStep::DENTRY);
        const uint32_t size = (uint32_t)l->pos;
        if (zel_fatfs_update_dentry_start(node, size) != 0) rw_answer(node, l, ZEL_FS_ERR_FAILED);
        return;
    }
    rw_answer(node, l, code);
}

void rw_advance(zel_fatfs_file_t *node, RwLocals *l, uint32_t n) {
    const uint32_t ss = 1u << node->vol->sector_shift;
    const uint32_t spc = sectors_per_cluster(node->vol);
    l->done += n;
    l->pos += n;
    node->byte_offset += n;
    node->sector_index += node->byte_offset / ss;
    node->byte_offset %= ss;
    // A run that went on into the clusters after the current one ends in
    // the last of them (at its end when it filled it).
    while (node->sector_index > spc && node->run_after > 0) {
        node->sector_index -= spc;
        node->run_after--;
        node->cur_cluster++;
        zel_fatfs_walk_step(&node->walk, node->cur_cluster);
    }
    rw_continue(node, l);
}

// New clusters at the end of the chain (the first ones when there are none):
// as many as the rest of the write fills, taken as one run where they lie
// together, so that the chain stays as long as the size needs.
void rw_allocate(zel_fatfs_file_t *node, RwLocals *l) {
    if (zel_fatfs_journal_full(node->vol)) {
        zel_set_step(RwStep::CHECKPOINT);
        if (zel_fatfs_update_dentry_start(node, (uint32_t)l->pos) != 0) rw_end(node, l, ZEL_FS_ERR_FAILED);
        return;
    }
    const uint64_t cb = zel_fatfs_cluster_bytes(node->vol);
    const uint64_t want = (l->p.size - l->done + cb - 1) / cb;
    zel_set_step(RwStep::ALLOC);
    if (zel_fatfs_alloc_run_start(
            node->vol, node->cur_cluster, want > 0xFFFF ? 0xFFFF : (uint32_t)want, &l->next, &l->taken) != 0)
        rw_end(node, l, ZEL_FS_ERR_FAILED);
}

// The next cluster of a run this node allocated: no FAT to read.
void rw_step_in_run(zel_fatfs_file_t *node, RwLocals *l) {
    node->run_after--;
    node->cur_cluster++;
    node->sector_index = 0;
    node->byte_offset = 0;
    zel_fatfs_walk_step(&node->walk, node->cur_cluster);
    rw_continue(node, l);
}

void rw_continue(zel_fatfs_file_t *node, RwLocals *l) {
    zel_fatfs_info_t *vol = node->vol;
    const uint32_t ss = 1u << vol->sector_shift;
    if (l->done == l->p.size) {
        rw_end(node, l, l->done);
        return;
    }
    if (node->cur_cluster == 0 || node->sector_index >= sectors_per_cluster(vol)) {
        if (node->cur_cluster != 0 && node->run_after > 0) {
            rw_step_in_run(node, l);
        } else if (node->cur_cluster == 0 && l->write && l->pos >= node->file.size) {
            rw_allocate(node, l);
        } else if (node->cur_cluster == 0) {
            rw_end(node, l, ZEL_FS_ERR_FAILED);
        } else {
            zel_set_step(RwStep::NEXT);
            if (zel_fatfs_get_fat_entry_start(vol, node->cur_cluster, &l->next) != 0)
                rw_end(node, l, ZEL_FS_ERR_FAILED);
        }
        return;
    }
    if (!zel_fatfs_cluster_ok(vol, node->cur_cluster)) {
        rw_end(node, l, ZEL_FS_ERR_FAILED);
        return;
    }
    l->sector = zel_fatfs_cluster_sector(vol, node->cur_cluster) + node->sector_index;
    const uint32_t left = l->p.size - l->done;
    if (node->byte_offset != 0 || left < ss) {
        l->run = ss - node->byte_offset < left ? ss - node->byte_offset : left;
        zel_set_step(RwStep::PARTIAL_READ);
        if (zel_fatfs_cache_read_start(&vol->cache, l->sector, 1, nullptr) != 0) rw_end(node, l, ZEL_FS_ERR_FAILED);
        return;
    }
    const uint32_t in_cluster = sectors_per_cluster(vol) - node->sector_index;
    if (left / ss > in_cluster && node->run_after == 0 && l->probed_at != node->cur_cluster) {
        // More whole sectors than the cluster holds: find how many of the
        // clusters after it follow in order, so that one transfer covers them.
        const uint64_t cb = zel_fatfs_cluster_bytes(vol);
        const uint64_t want = ((uint64_t)(left - in_cluster * ss) + cb - 1) / cb;
        l->probed_at = node->cur_cluster;
        l->next = 0;
        zel_set_step(RwStep::RUN);
        if (zel_fatfs_chain_run_start(vol, node->cur_cluster, want > 0xFFFF ? 0xFFFF : (uint32_t)want, &l->next) != 0)
            rw_end(node, l, ZEL_FS_ERR_FAILED);
        return;
    }
    uint64_t count = in_cluster + ((uint64_t)node->run_after << vol->cluster_shift);
    if (count > left / ss) count = left / ss;
    // A run over several clusters is cut to what a device takes in one
    // request (a SCSI disk counts blocks in 16 bits); the rest of the
    // current cluster always goes, as it did when requests stopped there.
    const uint32_t most = kRunMaxBytes / ss > in_cluster ? kRunMaxBytes / ss : in_cluster;
    if (count > most) count = most;
    const bool zero_fill = l->write && !l->p.buffer;
    if (zero_fill && count > kZeroBlock / ss) count = kZeroBlock / ss;
    l->run = (uint32_t)count * ss;
    zel_set_step(RwStep::WHOLE);
    int32_t started;
    if (l->write) {
        const void *src = zero_fill ? zeros : static_cast<const uint8_t *>(l->p.buffer) + l->done;
        started = zel_fatfs_write_sectors_start(&vol->cache, l->sector, (uint32_t)count, src);
    } else {
        uint8_t *dst = static_cast<uint8_t *>(l->p.buffer) + l->done;
        started = zel_fatfs_cache_read_start(&vol->cache, l->sector, (uint32_t)count, dst);
    }
    if (started != 0) rw_end(node, l, ZEL_FS_ERR_FAILED);
}

void rw_returned(zel_fatfs_file_t *node, RwLocals *l) {
    zel_fatfs_info_t *vol = node->vol;
    const intptr_t r = zel_subcall_result();
    switch (zel_step<RwStep>()) {
    case RwStep::NEXT:
        if (r >= 0 && !is_link(vol, l->next) && l->write && l->pos >= node->file.size) {
            rw_allocate(node, l);
            return;
        }
        if (r < 0 || !is_link(vol, l->next) ||
            !zel_fatfs_walk_step(&node->walk, zel_fat_entry_value(vol->type, l->next))) {
            if (l->write) zel_trace(3, "fatfs: corrupted file %s\r\n", node->file.name ? node->file.name : "");
            rw_end(node, l, ZEL_FS_ERR_FAILED);
            return;
        }
        node->cur_cluster = zel_fat_entry_value(vol->type, l->next);
        node->sector_index = 0;
        node->byte_offset = 0;
        rw_continue(node, l);
        return;
    case RwStep::RUN:
        // A FAT sector that fails here fails again at the cluster's end,
        // where the chain is followed one step at a time.
        if (r >= 0 && l->next > 0) {
            node->run_after = l->next;
            l->probed = 1;
        }
        rw_continue(node, l);
        return;
    case RwStep::ALLOC:
        if (r < 0) {
            rw_end(node, l, r);
            return;
        }
        l->probed = 0;  // the run is the one just allocated
        node->cur_cluster = l->next;
        node->run_after = l->taken - 1;
        if (node->first_cluster == 0) node->first_cluster = l->next;
        node->sector_index = 0;
        node->byte_offset = 0;
        rw_continue(node, l);
        return;
    case RwStep::PARTIAL_READ: {
        auto *data = reinterpret_cast<uint8_t *>(zel_eda_get_return_value());
        if (!data) {
            rw_end(node, l, ZEL_FS_ERR_FAILED);
            return;
        }
        uint8_t *at = data + node->byte_offset;
        if (!l->write) {
            memcpy(static_cast<uint8_t *>(l->p.buffer) + l->done, at, l->run);
            rw_advance(node, l, l->run);
            return;
        }
        if (l->p.buffer)
            memcpy(at, static_cast<const uint8_t *>(l->p.buffer) + l->done, l->run);
        else
            memset(at, 0, l->run);
        zel_set_step(RwStep::PARTIAL_WRITE);
        if (zel_fatfs_write_sectors_start(&vol->cache, l->sector, 1, data) != 0) rw_end(node, l, ZEL_FS_ERR_FAILED);
        return;
    }
    case RwStep::PARTIAL_WRITE:
    case RwStep::WHOLE:
        if (l->write ? r < 0 : r == 0) {
            rw_end(node, l, ZEL_FS_ERR_FAILED);
            return;
        }
        rw_advance(node, l, l->run);
        return;
    case RwStep::DENTRY:
        if (r < 0) {
            rw_answer(node, l, ZEL_FS_ERR_FAILED);
            return;
        }
        node->file.size = l->pos;
        rw_answer(node, l, l->failure);
        return;
    case RwStep::CHECKPOINT:
        if (r < 0) {
            rw_end(node, l, ZEL_FS_ERR_FAILED);
            return;
        }
        if (l->pos > node->file.size) node->file.size = l->pos;
        zel_fatfs_journal_commit(vol, node->first_cluster);
        rw_allocate(node, l);
        return;
    case RwStep::SETTLE:
        adopt_settled(node, r >= 0);
        if (l->resume > node->file.size) l->resume = node->file.size;
        rw_resync(node, l);
        return;
    case RwStep::RESYNC: zel_answer(l->failure); return;
    default: return;
    }
}

void rw_start(zel_fatfs_file_t *node, RwLocals *l, bool write) {
    l->write = write;
    if (node->file.attributes & ZEL_FILE_DIR) {
        zel_answer(ZEL_FS_ERR_INVALID);  // a directory's chain (or the boot area before a fixed root) is not file data
        return;
    }
    l->pos = node->file.position;
    l->done = 0;
    l->probed = 0;
    l->probed_at = 0;
    if (!write) {
        const uint64_t left = l->pos < node->file.size ? node->file.size - l->pos : 0;
        if (l->p.size > left) l->p.size = (uint32_t)left;
    } else if (l->pos + l->p.size > 0xFFFFFFFFull) {
        zel_answer(ZEL_FS_ERR_FAILED);  // beyond the largest FAT file
        return;
    }
    rw_continue(node, l);
}

void rw_handler(void *locals, zel_evt_t evt, bool write) {
    auto *node = zel_target<zel_fatfs_file_t>(locals);
    auto *l = static_cast<RwLocals *>(locals);
    if (evt == ZEL_EVT_INIT)
        rw_start(node, l, write);
    else if (evt == ZEL_EVT_RETURN)
        rw_returned(node, l);
}

int32_t start_write_zeros(zel_fatfs_file_t *node, uint32_t size) {
    RwLocals l{};
    l.p = {nullptr, size};
    return zel_eda_call_param(zel_fatfs_do_write, reinterpret_cast<uintptr_t>(node), sizeof(RwLocals), sizeof l, &l);
}

// ---- resize ----

enum class ResizeStep : uint8_t {
    START = 0,
    GROW_ROOM,    // are there free clusters enough for the growth
    GROW_SEEK,    // to the old end
    GROW_WRITE,   // zeros up to the new size
    DENTRY,       // the entry takes the new size
    UNDO_DENTRY,  // growth that did not fit: the entry takes the old size again
    SETTLE,       // the chain is cut to what the entry holds
    RESTORE       // the position and its cluster fields again
};

struct ResizeLocals {
    zel_fs_resize_param_t p;
    uint64_t keep;    // position to come back to
    uint64_t old;     // the size before
    uint32_t free;    // growing: free clusters found, up to the number needed
    int32_t failure;  // the answer after the position is restored
    uint8_t cut;      // shrinking by clusters: the entry goes first, then the chain
};

static_assert(sizeof(ResizeLocals) <= kOpLocals);

int32_t start_seek(zel_fatfs_file_t *node, uint64_t position, uint64_t *out) {
    SeekLocals l{};
    l.p.position = position;
    l.p.out = out;
    return zel_eda_call_param(zel_fatfs_do_setpos, reinterpret_cast<uintptr_t>(node), sizeof(SeekLocals), sizeof l, &l);
}

void resize_dentry(zel_fatfs_file_t *node, ResizeLocals *l) {
    zel_fatfs_next(ResizeStep::DENTRY, [&] { return zel_fatfs_update_dentry_start(node, (uint32_t)l->p.size); });
}

// The current-cluster fields follow the (kept or clipped) position again,
// also after a failure (growth that found no room has moved them).
void resize_restore(zel_fatfs_file_t *node, ResizeLocals *l) {
    const uint64_t pos = l->keep < node->file.size ? l->keep : node->file.size;
    node->file.position = pos;
    zel_fatfs_next(ResizeStep::RESTORE, [&] { return start_seek(node, pos, nullptr); });
}

// The chain is made to fit the entry as the device holds it (after a
// failure, whatever the entry's write did).
void resize_settle(zel_fatfs_file_t *node) {
    zel_set_step(ResizeStep::SETTLE);
    if (zel_fatfs_settle_start(node->vol) != 0) {
        node->vol->journal.unsettled = 1;
        node->stale = 1;
        zel_answer(ZEL_FS_ERR_FAILED);
    }
}

void resize_start(zel_fatfs_file_t *node, ResizeLocals *l) {
    zel_fatfs_info_t *vol = node->vol;
    if ((node->file.attributes & ZEL_FILE_DIR) || l->p.size > 0xFFFFFFFFull) {
        zel_answer(ZEL_FS_ERR_INVALID);
        return;
    }
    l->keep = node->file.position;
    l->failure = 0;
    l->cut = 0;
    l->old = node->file.size;
    const uint64_t old = node->file.size;
    const uint64_t cb = zel_fatfs_cluster_bytes(vol);
    if (l->p.size > old) {
        // Growth that needs clusters first makes sure the volume has them:
        // zeros written over all the free space would only be taken back.
        const uint64_t need = (l->p.size + cb - 1) / cb - (old + cb - 1) / cb;
        if (need > 0) {
            l->free = 0;
            zel_fatfs_next(
                ResizeStep::GROW_ROOM, [&] { return zel_fatfs_count_free_start(vol, (uint32_t)need, &l->free); });
            return;
        }
        zel_fatfs_next(ResizeStep::GROW_SEEK, [&] { return start_seek(node, old, nullptr); });
    } else {
        // Fewer clusters: the entry takes the new size (and, at 0, no
        // cluster) before the chain is cut, so that a failure in between
        // leaves clusters beyond the size, never a size beyond the chain.
        l->cut = (l->p.size + cb - 1) / cb != (old + cb - 1) / cb;
        if (l->cut && l->p.size == 0) {
            node->first_cluster = 0;
            node->cur_cluster = 0;
        }
        resize_dentry(node, l);
    }
}

// Growth is whole or not at all: when the zeros did not all go (the volume
// is full, or a device transfer failed), the file takes its old size again
// and the clusters the attempt took are freed.
void grow_undo(zel_fatfs_file_t *node, ResizeLocals *l) {
    l->failure = ZEL_FS_ERR_FAILED;
    node->file.size = l->old;
    if (l->old == 0) node->first_cluster = 0;
    zel_fatfs_next(ResizeStep::UNDO_DENTRY, [&] { return zel_fatfs_update_dentry_start(node, (uint32_t)l->old); });
}

void resize_returned(zel_fatfs_file_t *node, ResizeLocals *l) {
    zel_fatfs_info_t *vol = node->vol;
    const auto step = zel_step<ResizeStep>();
    const bool ok = zel_subcall_result() >= 0;
    switch (step) {
    case ResizeStep::GROW_WRITE:
        if (!ok || node->file.size != l->p.size)
            grow_undo(node, l);
        else
            resize_restore(node, l);
        return;
    case ResizeStep::UNDO_DENTRY: resize_settle(node); return;
    case ResizeStep::SETTLE:
        adopt_settled(node, ok);
        if (!ok) l->failure = ZEL_FS_ERR_FAILED;
        resize_restore(node, l);
        return;
    case ResizeStep::RESTORE: zel_answer(ok ? l->failure : ZEL_FS_ERR_FAILED); return;
    default: break;
    }
    if (!ok) {
        l->failure = ZEL_FS_ERR_FAILED;
        resize_settle(node);
        return;
    }
    switch (step) {
    case ResizeStep::GROW_ROOM: {
        const uint64_t cb = zel_fatfs_cluster_bytes(vol);
        if (l->free < (l->p.size + cb - 1) / cb - (l->old + cb - 1) / cb) {
            l->failure = ZEL_FS_ERR_FAILED;  // the volume cannot hold it: nothing was changed
            resize_restore(node, l);
            return;
        }
        zel_fatfs_next(ResizeStep::GROW_SEEK, [&] { return start_seek(node, l->old, nullptr); });
        return;
    }
    case ResizeStep::GROW_SEEK: {
        // Growth writes zeros: no byte of old, deleted data becomes readable.
        const uint32_t grow = (uint32_t)(l->p.size - node->file.size);
        node->file.position = node->file.size;
        zel_fatfs_next(ResizeStep::GROW_WRITE, [&] { return start_write_zeros(node, grow); });
        return;
    }
    case ResizeStep::DENTRY:
        node->file.size = l->p.size;
        if (l->cut)
            resize_settle(node);
        else
            resize_restore(node, l);
        return;
    default: return;
    }
}

// ---- refresh ----

enum class RefreshStep : uint8_t { START = 0, READ, SEEK };

struct RefreshLocals {
    zel_fat_dentry_t entry;
};

}  // namespace

void zel_fatfs_do_setpos(void *locals, zel_evt_t evt) {
    auto *node = zel_target<zel_fatfs_file_t>(locals);
    auto *l = static_cast<SeekLocals *>(locals);
    zel_fatfs_info_t *vol = node->vol;
    if (evt == ZEL_EVT_INIT) {
        // The size is the one the gate let through: another node's resize
        // that ran while this call waited has cut it.
        if (!(node->file.attributes & ZEL_FILE_DIR) && l->p.position > node->file.size) {
            zel_answer(ZEL_FS_ERR_INVALID);
            return;
        }
        l->rem = l->p.position;
        l->cluster = node->first_cluster;
        zel_fatfs_walk_start(&l->walk, l->cluster);
        if (node->first_cluster == 0) {
            const bool fixed_root = (node->file.attributes & ZEL_FILE_DIR) && vol->type != ZEL_FAT32;
            if (fixed_root && l->p.position <= ((uint64_t)vol->root_sectors << vol->sector_shift)) {
                seek_done(node, l);
            } else if (l->p.position == 0) {
                seek_done(node, l);
            } else {
                zel_answer(fixed_root ? ZEL_FS_ERR_INVALID : ZEL_FS_ERR_FAILED);
            }
            return;
        }
        seek_walk(node, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_step<SeekStep>() != SeekStep::NEXT) return;
    if (zel_subcall_result() < 0 || l->taken < l->steps) {
        zel_answer(ZEL_FS_ERR_FAILED);  // the chain ends before the position, or loops
        return;
    }
    l->rem -= (uint64_t)l->steps * zel_fatfs_cluster_bytes(vol);
    seek_done(node, l);
}

void zel_fatfs_do_read(void *locals, zel_evt_t evt) { rw_handler(locals, evt, false); }

void zel_fatfs_do_write(void *locals, zel_evt_t evt) { rw_handler(locals, evt, true); }

void zel_fatfs_do_resize(void *locals, zel_evt_t evt) {
    auto *node = zel_target<zel_fatfs_file_t>(locals);
    auto *l = static_cast<ResizeLocals *>(locals);
    if (evt == ZEL_EVT_INIT)
        resize_start(node, l);
    else if (evt == ZEL_EVT_RETURN)
        resize_returned(node, l);
}

int32_t zel_fatfs_refresh_start(zel_fatfs_file_t *node) {
    return zel_subcall(zel_fatfs_refresh, node, RefreshLocals{});
}

void zel_fatfs_refresh(void *locals, zel_evt_t evt) {
    auto *node = zel_target<zel_fatfs_file_t>(locals);
    auto *l = static_cast<RefreshLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        if (node->a_count == 0 || (node->file.attributes & ZEL_FILE_DIR)) {
            zel_answer(0);  // directories are never written
            return;
        }
        zel_fatfs_next(RefreshStep::READ, [&] { return zel_fatfs_read_dentry_start(node, &l->entry); });
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_fatfs_failed()) return;
    if (zel_step<RefreshStep>() == RefreshStep::SEEK) {
        zel_answer(0);
        return;
    }
    node->first_cluster = zel_fat_dentry_cluster(&l->entry);
    node->file.size = l->entry.size;
    if (node->file.position > node->file.size) node->file.position = node->file.size;
    zel_fatfs_next(RefreshStep::SEEK, [&] { return start_seek(node, node->file.position, nullptr); });
}

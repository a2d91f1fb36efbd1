// The operation journal of a write or resize, and the settle that ends a
// failed one (the contract is in zel_fatfs.h, with the journal).
#include <string.h>

#include "zel_fatfs_step.h"

void zel_fatfs_journal_open(zel_fatfs_info_t *vol, uint64_t place, uint32_t first_cluster) {
    zel_fatfs_journal_t &j = vol->journal;
    j.place = place;
    j.old_first = first_cluster;
    j.link_from = 0;
    j.range_count = 0;
    j.tail = 0;
    j.tail_next = 0;
    j.tail_count = 0;
    j.settled_first = first_cluster;
}

void zel_fatfs_journal_note_sync(zel_fatfs_info_t *vol, uint32_t rel) {
    zel_fatfs_journal_t &j = vol->journal;
    for (uint32_t i = 0; i < j.sync_count; i++)
        if (j.sync[i] == rel) return;
    if (j.sync_count < ZEL_FATFS_JOURNAL_SYNC)
        j.sync[j.sync_count++] = rel;
    else
        j.sync_all = 1;
}

bool zel_fatfs_journal_holds(const zel_fatfs_info_t *vol, uint32_t cluster) {
    const zel_fatfs_journal_t &j = vol->journal;
    for (uint32_t i = 0; i < j.range_count; i++)
        if (cluster >= j.ranges[i].first && cluster - j.ranges[i].first < j.ranges[i].count) return true;
    return false;
}

bool zel_fatfs_journal_full(const zel_fatfs_info_t *vol) {
    return vol->journal.range_count >= ZEL_FATFS_JOURNAL_RANGES;
}

void zel_fatfs_journal_commit(zel_fatfs_info_t *vol, uint32_t first_cluster) {
    // A chain the file did not have before is cut off whole when the entry
    // later records none.
    if (vol->journal.old_first == 0) vol->journal.old_first = first_cluster;
    vol->journal.range_count = 0;
    vol->journal.link_from = 0;
}

namespace {

enum class SettleStep : uint8_t {
    START = 0,
    SYNC_READ,   // a FAT sector of the copy that is read
    SYNC_WRITE,  // over the same sector of another copy
    ENTRY,       // the file's short entry, read back
    WALK,        // along the chain to the cluster that holds the end
    END_ENTRY,   // that cluster's entry
    END_WRITE,   // it ends the chain
    ZERO_SET,    // an allocated cluster not reached, whose entry crosses two sectors
    ZERO_READ,   // allocated clusters not reached, one FAT sector of one copy
    ZERO_WRITE,
    ZERO_TAIL,  // the part of the tail being freed was one crossing entry: it is freed again
    RESUME,     // did the part of the tail that was being freed go
    FREE        // the tail
};

struct SettleLocals {
    uint32_t rel;  // FAT sector (relative) being copied or cleared
    uint32_t copy;
    uint8_t *buffer;
    uint32_t need;  // clusters the recorded size needs
    uint32_t steps;
    uint32_t cluster;  // the walk's cluster
    uint32_t value;    // a raw entry read
    uint32_t kept;     // allocated clusters the size reaches
    uint32_t lo, hi;   // allocated clusters being cleared
    zel_fatfs_walk_t walk;
};

bool mirrored(const zel_fatfs_info_t *vol) { return vol->fat_active == ZEL_FAT_MIRRORED && vol->fat_count > 1; }

uint32_t first_copy(const zel_fatfs_info_t *vol) { return vol->fat_active == ZEL_FAT_MIRRORED ? 0u : vol->fat_active; }

bool is_link(const zel_fatfs_info_t *vol, uint32_t v) {
    return v < zel_fat_bad_mark(vol->type) && zel_fatfs_cluster_ok(vol, v);
}

void settle_failed(zel_fatfs_info_t *vol) {
    vol->journal.unsettled = 1;
    zel_answer(ZEL_FS_ERR_FAILED);
}

// Starts a sub-call as the next step; a sub-call that cannot start fails the settle.
template <class Start>
void next(zel_fatfs_info_t *vol, SettleStep step, Start start) {
    zel_set_step(step);
    if (start() != 0) settle_failed(vol);
}

void next_read(zel_fatfs_info_t *vol, SettleStep step, uint64_t sector) {
    next(vol, step, [&] { return zel_fatfs_cache_read_start(&vol->cache, sector, 1, nullptr); });
}

void settle_done(zel_fatfs_info_t *vol) {
    vol->journal.uncertain = 0;
    vol->journal.unsettled = 0;
    zel_answer(0);
}

bool crosses_sectors(const zel_fatfs_info_t *vol, uint32_t cluster) {
    uint32_t rel, bit;
    zel_fat_entry_locate(vol->type, vol->sector_shift, cluster, &rel, &bit);
    return bit + zel_fat_entry_width(vol->type) > (8u << vol->sector_shift);
}

// The tail, resumed where a release stopped. A part that was one entry
// across two sectors may hold half of each value: it is not read but freed
// again, and the release goes on where the chain went on after it.
void free_next(zel_fatfs_info_t *vol, SettleLocals *l) {
    zel_fatfs_journal_t &j = vol->journal;
    if (j.tail == 0) {
        settle_done(vol);
        return;
    }
    if (j.tail_count != 0 && crosses_sectors(vol, j.tail)) {
        next(vol, SettleStep::ZERO_TAIL, [&] { return zel_fatfs_set_fat_entry_start(vol, j.tail, 0); });
        return;
    }
    if (j.tail_count != 0) {
        next(vol, SettleStep::RESUME, [&] { return zel_fatfs_get_fat_entry_start(vol, j.tail, &l->value); });
        return;
    }
    next(vol, SettleStep::FREE, [&] { return zel_fatfs_free_chain_start(vol, j.tail); });
}

// The allocated clusters the size does not reach, from the last one back, a
// FAT sector at a time; the journal forgets each group once every copy has it.
void zero_next(zel_fatfs_info_t *vol, SettleLocals *l) {
    zel_fatfs_journal_t &j = vol->journal;
    uint32_t total = 0;
    for (uint32_t i = 0; i < j.range_count; i++) total += j.ranges[i].count;
    if (total <= l->kept) {
        free_next(vol, l);
        return;
    }
    const zel_fatfs_range_t &r = j.ranges[j.range_count - 1];
    const uint32_t before = total - r.count;
    const uint32_t lo_min = r.first + (l->kept > before ? l->kept - before : 0);
    l->hi = r.first + r.count - 1;
    uint32_t bit;
    zel_fat_entry_locate(vol->type, vol->sector_shift, l->hi, &l->rel, &bit);
    if (bit + zel_fat_entry_width(vol->type) > (8u << vol->sector_shift)) {
        l->lo = l->hi;
        next(vol, SettleStep::ZERO_SET, [&] { return zel_fatfs_set_fat_entry_start(vol, l->hi, 0); });
        return;
    }
    l->lo = l->hi;
    while (l->lo > lo_min && zel_fatfs_entry_bit(vol, l->lo - 1, l->rel) != UINT32_MAX) l->lo--;
    l->copy = first_copy(vol);
    next_read(vol, SettleStep::ZERO_READ, zel_fatfs_fat_sector(vol, l->copy) + l->rel);
}

void zero_done(zel_fatfs_info_t *vol, SettleLocals *l) {
    zel_fatfs_journal_t &j = vol->journal;
    zel_fatfs_range_t &r = j.ranges[j.range_count - 1];
    if (r.counted)
        for (uint32_t c = l->lo; c <= l->hi; c++) zel_fatfs_note_freed(vol, c);
    r.count = l->lo - r.first;
    if (r.count == 0) j.range_count--;
    zero_next(vol, l);
}

void walk_on(zel_fatfs_info_t *vol, SettleLocals *l) {
    const SettleStep step = l->steps < l->need ? SettleStep::WALK : SettleStep::END_ENTRY;
    next(vol, step, [&] { return zel_fatfs_get_fat_entry_start(vol, l->cluster, &l->value); });
}

// The entry as the device holds it decides what the chain keeps.
void entry_read(zel_fatfs_info_t *vol, SettleLocals *l, const uint8_t *data) {
    zel_fatfs_journal_t &j = vol->journal;
    zel_fat_dentry_t entry;
    memcpy(&entry, data + (size_t)(j.place & 0xFF) * ZEL_FAT_DENTRY_SIZE, sizeof entry);
    j.settled_size = entry.size;
    j.settled_first = zel_fat_dentry_cluster(&entry);
    const uint64_t cb = zel_fatfs_cluster_bytes(vol);
    l->kept = 0;
    if (!zel_fatfs_cluster_ok(vol, j.settled_first)) {
        // No chain: one the file had before goes, when this operation cut it.
        if (j.settled_first == 0 && j.old_first != 0 && j.tail == 0 && !zel_fatfs_journal_holds(vol, j.old_first)) {
            j.tail = j.old_first;
            j.tail_next = 0;
            j.tail_count = 0;
        }
        j.old_first = 0;
        zero_next(vol, l);
        return;
    }
    l->need = (uint32_t)((entry.size + cb - 1) / cb);
    if (l->need == 0) l->need = 1;
    l->steps = 1;
    l->cluster = j.settled_first;
    l->kept = zel_fatfs_journal_holds(vol, l->cluster) ? 1 : 0;
    zel_fatfs_walk_start(&l->walk, l->cluster);
    walk_on(vol, l);
}

void sync_next(zel_fatfs_info_t *vol, SettleLocals *l) {
    zel_fatfs_journal_t &j = vol->journal;
    if (!mirrored(vol) || (j.sync_all && l->rel >= vol->fat_size)) {
        j.sync_all = 0;
        j.sync_count = 0;
    }
    if (j.sync_all || j.sync_count > 0) {
        if (!j.sync_all) l->rel = j.sync[j.sync_count - 1];
        next_read(vol, SettleStep::SYNC_READ, zel_fatfs_fat_sector(vol, 0) + l->rel);
        return;
    }
    if (j.place == 0) {
        free_next(vol, l);
        return;
    }
    next_read(vol, SettleStep::ENTRY, j.place >> 8);
}

void sync_write(zel_fatfs_info_t *vol, SettleLocals *l) {
    next(vol, SettleStep::SYNC_WRITE, [&] {
        return zel_fatfs_write_sectors_start(&vol->cache, zel_fatfs_fat_sector(vol, l->copy) + l->rel, 1, l->buffer);
    });
}

void settle_once(void *locals, zel_evt_t evt);

// The settle, once more at once when it fails: a disk that failed one
// transfer mostly takes the next, and the volume is then whole before the
// failed operation answers. A settle that fails twice is left to the
// volume's next operation or its unmount.
struct TwiceLocals {
    uint8_t again;
};

enum class TwiceStep : uint8_t { START = 0, SETTLE };

void settle_attempt(zel_fatfs_info_t *vol) {
    zel_set_step(TwiceStep::SETTLE);
    if (zel_subcall(settle_once, vol, SettleLocals{}) != 0) settle_failed(vol);
}

}  // namespace

int32_t zel_fatfs_settle_start(zel_fatfs_info_t *vol) { return zel_subcall(zel_fatfs_settle, vol, TwiceLocals{}); }

void zel_fatfs_settle(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<TwiceLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        l->again = 0;
        settle_attempt(vol);
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_step<TwiceStep>() != TwiceStep::SETTLE) return;
    const intptr_t r = zel_subcall_result();
    if (r < 0 && !l->again) {
        l->again = 1;
        settle_attempt(vol);
        return;
    }
    zel_answer(r);
}

namespace {

void settle_once(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<SettleLocals *>(locals);
    zel_fatfs_journal_t &j = vol->journal;
    if (evt == ZEL_EVT_INIT) {
        l->rel = 0;
        sync_next(vol, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const auto step = zel_step<SettleStep>();
    if (step == SettleStep::SYNC_READ || step == SettleStep::ENTRY || step == SettleStep::ZERO_READ) {
        auto *data = reinterpret_cast<uint8_t *>(zel_eda_get_return_value());
        if (!data) {
            settle_failed(vol);
            return;
        }
        if (step == SettleStep::SYNC_READ) {
            l->buffer = data;
            l->copy = 1;
            sync_write(vol, l);
        } else if (step == SettleStep::ENTRY) {
            entry_read(vol, l, data);
        } else {
            const uint32_t width = zel_fat_entry_put_bits(vol->type);
            for (uint32_t c = l->lo; c <= l->hi; c++)
                zel_fat_bits_put(data, zel_fatfs_entry_bit(vol, c, l->rel), width, 0);
            const uint64_t sector = zel_fatfs_fat_sector(vol, l->copy) + l->rel;
            next(vol, SettleStep::ZERO_WRITE, [&] { return zel_fatfs_cache_write_back(&vol->cache, sector, data); });
        }
        return;
    }
    if (zel_subcall_result() < 0) {
        if (step == SettleStep::ZERO_WRITE || step == SettleStep::SYNC_WRITE) zel_fatfs_journal_note_sync(vol, l->rel);
        settle_failed(vol);
        return;
    }
    switch (step) {
    case SettleStep::SYNC_WRITE:
        if (++l->copy < vol->fat_count) {
            sync_write(vol, l);
            return;
        }
        if (j.sync_all)
            l->rel++;
        else
            j.sync_count--;
        sync_next(vol, l);
        return;
    case SettleStep::WALK: {
        const uint32_t v = zel_fat_entry_value(vol->type, l->value);
        if (!is_link(vol, v) || !zel_fatfs_walk_step(&l->walk, v) || l->steps >= vol->cluster_limit) {
            // The chain ends before the size: nothing past it is this file's.
            l->value = zel_fat_eoc(vol->type);
            zero_next(vol, l);
            return;
        }
        l->cluster = v;
        l->steps++;
        if (zel_fatfs_journal_holds(vol, v)) l->kept++;
        walk_on(vol, l);
        return;
    }
    case SettleStep::END_ENTRY: {
        // Anything but an end mark is rewritten: a link, a free entry, or
        // one that a failed write left holding half of each value.
        const uint32_t v = zel_fat_entry_value(vol->type, l->value);
        if (v > zel_fat_bad_mark(vol->type)) {
            zero_next(vol, l);
            return;
        }
        // What follows the end is freed by following it only where this
        // operation wrote none of the links: the end was there before, and
        // the cluster after it is not one it allocated. It is the tail from
        // here on, whether or not the end's write goes.
        if (is_link(vol, v) && !j.uncertain && j.tail == 0 && l->cluster != j.link_from &&
            !zel_fatfs_journal_holds(vol, l->cluster) && !zel_fatfs_journal_holds(vol, v)) {
            j.tail = v;
            j.tail_next = 0;
            j.tail_count = 0;
        }
        next(vol, SettleStep::END_WRITE,
            [&] { return zel_fatfs_set_fat_entry_start(vol, l->cluster, zel_fat_eoc(vol->type)); });
        return;
    }
    case SettleStep::END_WRITE: zero_next(vol, l); return;
    case SettleStep::ZERO_SET: zero_done(vol, l); return;
    case SettleStep::ZERO_WRITE:
        if (mirrored(vol) && ++l->copy < vol->fat_count) {
            next_read(vol, SettleStep::ZERO_READ, zel_fatfs_fat_sector(vol, l->copy) + l->rel);
            return;
        }
        zero_done(vol, l);
        return;
    case SettleStep::ZERO_TAIL:
        zel_fatfs_note_freed(vol, j.tail);
        j.tail = j.tail_next;
        j.tail_next = 0;
        j.tail_count = 0;
        free_next(vol, l);
        return;
    case SettleStep::RESUME:
        if (zel_fat_entry_value(vol->type, l->value) == 0) {
            // That part went before the failure was reported.
            // (Its clusters are not known one by one: allocation looks from the start again.)
            for (uint32_t i = 0; i < j.tail_count; i++) zel_fatfs_note_freed(vol, 2);
            j.tail = j.tail_next;
            j.tail_next = 0;
        }
        j.tail_count = 0;
        free_next(vol, l);
        return;
    case SettleStep::FREE: settle_done(vol); return;
    default: return;
    }
}

}  // namespace

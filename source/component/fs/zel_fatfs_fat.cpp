// The FAT itself: entry read and write (every copy), allocation with a
// lowest-free hint, chain release and the FAT32 information sector.
#include <string.h>

#include "zel_fatfs_step.h"

namespace {

uint32_t sector_bits(const zel_fatfs_info_t *vol) { return 8u << vol->sector_shift; }

// ---- entry read ----

enum class GetStep : uint8_t { START = 0, FIRST, SECOND };

struct GetLocals {
    zel_fatfs_entry_param_t p;
    uint32_t sector;
    uint32_t bit;
    uint32_t value;
    uint32_t got;
};

// ---- entry write ----

// An entry that crosses two sectors goes out in two writes; when either
// fails (or the second sector cannot be read), the halves it may have
// reached get their old bits back (UNDO1, UNDO2), so that no entry is left
// holding half of each value.
enum class SetStep : uint8_t { START = 0, READ1, WRITE1, READ2, WRITE2, UNDO_READ1, UNDO1, UNDO_READ2, UNDO2 };

struct SetLocals {
    zel_fatfs_entry_param_t p;
    uint32_t rel;  // sector of the entry relative to the start of a copy
    uint32_t bit;
    uint32_t first_bits;
    uint32_t copy;
    uint32_t old_low;   // the bits the first sector held
    uint32_t old_high;  // the bits the second sector held
    uint8_t second;     // the second sector was written to (its old bits are known)
};

uint32_t copy_sector(const zel_fatfs_info_t *vol, const SetLocals *l) {
    return zel_fatfs_fat_sector(vol, l->copy) + l->rel;
}

void set_read_copy(zel_fatfs_info_t *vol, SetLocals *l) {
    zel_fatfs_next_read(vol, SetStep::READ1, copy_sector(vol, l));
}

// Every copy in turn; with mirroring off, only the active one.
void set_next_copy(zel_fatfs_info_t *vol, SetLocals *l) {
    if (vol->fat_active != ZEL_FAT_MIRRORED || ++l->copy >= vol->fat_count) {
        zel_answer(0);
        return;
    }
    l->second = 0;
    set_read_copy(vol, l);
}

// ---- allocation ----

enum class AllocStep : uint8_t { START = 0, SCAN, STRADDLE, SET_EOC, SET_LINK, RUN_READ, RUN_WRITE };

struct AllocLocals {
    zel_fatfs_alloc_param_t p;
    uint32_t cluster;  // scan position, then the first cluster taken
    uint32_t loaded;   // FAT sector (relative) whose buffer is `buffer`
    uint8_t *buffer;
    uint32_t straddle;  // entry assembled by a straddle read
    uint32_t run;       // clusters taken
    uint32_t copy;      // FAT copy being written
    uint8_t linked;     // the link went out with the run's sector
};

constexpr uint32_t kNoSector = 0xFFFFFFFFu;

}  // namespace

void zel_fatfs_note_allocated(zel_fatfs_info_t *vol, uint32_t first, uint32_t count) {
    vol->alloc_hint = first + count;
    if (vol->free_count != ZEL_FAT_FSINFO_UNKNOWN)
        vol->free_count = vol->free_count >= count ? vol->free_count - count : ZEL_FAT_FSINFO_UNKNOWN;
    vol->fsinfo_dirty = vol->fsinfo_sector != 0;
}

void zel_fatfs_note_freed(zel_fatfs_info_t *vol, uint32_t cluster) {
    if (cluster < vol->alloc_hint) vol->alloc_hint = cluster;
    if (vol->free_count != ZEL_FAT_FSINFO_UNKNOWN) vol->free_count++;
    vol->fsinfo_dirty = vol->fsinfo_sector != 0;
}

uint32_t zel_fatfs_entry_bit(const zel_fatfs_info_t *vol, uint32_t cluster, uint32_t rel) {
    uint32_t at, bit;
    zel_fat_entry_locate(vol->type, vol->sector_shift, cluster, &at, &bit);
    return at == rel && bit + zel_fat_entry_width(vol->type) <= sector_bits(vol) ? bit : kNoSector;
}

namespace {

uint32_t bit_in_sector(const zel_fatfs_info_t *vol, uint32_t cluster, uint32_t rel) {
    return zel_fatfs_entry_bit(vol, cluster, rel);
}

// The allocation completes: its clusters come off the free count, and a run
// that follows the journal's last one by number joins it.
void alloc_counted(zel_fatfs_info_t *vol, uint32_t first, uint32_t count) {
    zel_fatfs_journal_t &j = vol->journal;
    zel_fatfs_note_allocated(vol, first, count);
    if (j.range_count == 0 || j.ranges[j.range_count - 1].first != first) return;
    j.ranges[j.range_count - 1].counted = 1;
    if (j.range_count >= 2) {
        zel_fatfs_range_t &a = j.ranges[j.range_count - 2];
        const zel_fatfs_range_t &b = j.ranges[j.range_count - 1];
        if (a.counted && a.first + a.count == b.first) {
            a.count += b.count;
            j.range_count--;
        }
    }
}

// The clusters about to be written as allocated go into the journal first.
void alloc_journal(zel_fatfs_info_t *vol, uint32_t link_from, uint32_t first, uint32_t count) {
    zel_fatfs_journal_t &j = vol->journal;
    if (j.range_count == 0) j.link_from = link_from;
    j.ranges[j.range_count++] = zel_fatfs_range_t{first, count, 0};
}

void alloc_done(zel_fatfs_info_t *vol, AllocLocals *l) {
    alloc_counted(vol, l->cluster, l->run);
    *l->p.out = l->cluster;
    if (l->p.count) *l->p.count = l->run;
    zel_answer(0);
}

void alloc_link(zel_fatfs_info_t *vol, AllocLocals *l) {
    if (l->p.link_from == 0 || l->linked) {
        alloc_done(vol, l);
        return;
    }
    zel_fatfs_next(AllocStep::SET_LINK, [&] { return zel_fatfs_set_fat_entry_start(vol, l->p.link_from, l->cluster); });
}

void run_read_copy(zel_fatfs_info_t *vol, AllocLocals *l) {
    zel_fatfs_next_read(vol, AllocStep::RUN_READ, zel_fatfs_fat_sector(vol, l->copy) + l->loaded);
}

// The run's entries (and the link, when it is in the same sector) into one
// copy's sector, then its write.
void run_write_copy(zel_fatfs_info_t *vol, AllocLocals *l, uint8_t *data) {
    const uint32_t width = zel_fat_entry_put_bits(vol->type);
    for (uint32_t i = 0; i < l->run; i++) {
        const uint32_t c = l->cluster + i;
        const uint32_t value = i + 1 < l->run ? c + 1 : zel_fat_eoc(vol->type);
        zel_fat_bits_put(data, bit_in_sector(vol, c, l->loaded), width, value);
    }
    const uint32_t link_bit = l->p.link_from ? bit_in_sector(vol, l->p.link_from, l->loaded) : kNoSector;
    if (link_bit != kNoSector) zel_fat_bits_put(data, link_bit, width, l->cluster);
    l->linked = link_bit != kNoSector;
    zel_fatfs_next(AllocStep::RUN_WRITE,
        [&] { return zel_fatfs_cache_write_back(&vol->cache, zel_fatfs_fat_sector(vol, l->copy) + l->loaded, data); });
}

// The first free cluster is in hand, in the loaded sector: the run is it and
// the free clusters right after it whose entries lie in the same sector.
void alloc_found(zel_fatfs_info_t *vol, AllocLocals *l) {
    const uint32_t width = zel_fat_entry_width(vol->type);
    const uint32_t want = l->p.want ? l->p.want : 1;
    l->run = 1;
    while (l->run < want && l->cluster + l->run < vol->cluster_limit) {
        const uint32_t bit = bit_in_sector(vol, l->cluster + l->run, l->loaded);
        if (bit == kNoSector || zel_fat_entry_value(vol->type, zel_fat_bits_get(l->buffer, bit, width)) != 0) break;
        l->run++;
    }
    l->copy = vol->fat_active == ZEL_FAT_MIRRORED ? 0 : vol->fat_active;
    alloc_journal(vol, l->p.link_from, l->cluster, l->run);
    run_read_copy(vol, l);
}

// Scans from l->cluster with the FAT sector in hand; starts a read and
// returns when another sector is needed.
void alloc_scan(zel_fatfs_info_t *vol, AllocLocals *l) {
    const uint32_t width = zel_fat_entry_width(vol->type);
    for (; l->cluster < vol->cluster_limit; l->cluster++) {
        uint32_t rel, bit;
        zel_fat_entry_locate(vol->type, vol->sector_shift, l->cluster, &rel, &bit);
        if (bit + width > sector_bits(vol)) {
            // a FAT12 entry across two sectors: read it whole
            l->loaded = kNoSector;
            zel_fatfs_next(
                AllocStep::STRADDLE, [&] { return zel_fatfs_get_fat_entry_start(vol, l->cluster, &l->straddle); });
            return;
        }
        if (rel != l->loaded) {
            l->loaded = rel;
            zel_fatfs_next_read(vol, AllocStep::SCAN, zel_fatfs_read_fat(vol) + rel);
            return;
        }
        if (zel_fat_entry_value(vol->type, zel_fat_bits_get(l->buffer, bit, width)) == 0) {
            alloc_found(vol, l);
            return;
        }
    }
    zel_answer(ZEL_FS_ERR_FAILED);  // no free cluster
}

// ---- chain release ----

// The chain is followed through the FAT sector in hand: the clusters whose
// entries lie in it are gathered, then set free in each copy with one write
// of that sector, before the walk goes on in the next sector. The journal's
// tail follows the release: the part being freed, where the chain goes on
// after it, and how many clusters of it still held a value, so that a
// release cut short by a failed write resumes where it stopped.
enum class FreeStep : uint8_t { START = 0, GATHER, COPY_READ, COPY_WRITE, GET, SET };

struct FreeLocals {
    uint32_t cluster;  // the next cluster to free
    uint32_t next;     // a straddling entry's value
    uint32_t steps;    // clusters passed, bounded by the volume's count
    uint32_t rel;      // FAT sector (relative) of the gathered entries
    uint32_t count;    // clusters gathered
    uint32_t copy;     // FAT copy being written
    uint32_t ended;    // the chain ended within the gathered ones
    // followed in the locals by room for the clusters of one sector
};

uint32_t free_capacity(const zel_fatfs_info_t *vol) { return sector_bits(vol) / zel_fat_entry_width(vol->type) + 1; }

uint32_t *gathered(FreeLocals *l) { return reinterpret_cast<uint32_t *>(l + 1); }

void free_step(zel_fatfs_info_t *vol, FreeLocals *l) {
    if (l->ended || !zel_fatfs_cluster_ok(vol, l->cluster) || l->steps >= vol->cluster_limit) {
        vol->journal.tail = 0;
        vol->journal.tail_next = 0;
        vol->journal.tail_count = 0;
        zel_answer(0);
        return;
    }
    uint32_t rel, bit;
    zel_fat_entry_locate(vol->type, vol->sector_shift, l->cluster, &rel, &bit);
    if (bit + zel_fat_entry_width(vol->type) > sector_bits(vol)) {
        // a FAT12 entry across two sectors: on its own
        l->steps++;
        zel_set_step(FreeStep::GET);
        if (zel_fatfs_get_fat_entry_start(vol, l->cluster, &l->next) != 0) zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    l->rel = rel;
    zel_set_step(FreeStep::GATHER);
    if (zel_fatfs_cache_read_start(&vol->cache, zel_fatfs_read_fat(vol) + rel, 1, nullptr) != 0)
        zel_answer(ZEL_FS_ERR_FAILED);
}

// Takes the chain's clusters whose entries lie in the sector just read.
void free_gather(zel_fatfs_info_t *vol, FreeLocals *l, const uint8_t *data) {
    const uint32_t width = zel_fat_entry_width(vol->type);
    const uint32_t cap = free_capacity(vol);
    vol->journal.tail = l->cluster;
    l->count = 0;
    while (l->count < cap && zel_fatfs_cluster_ok(vol, l->cluster) && l->steps < vol->cluster_limit) {
        const uint32_t bit = bit_in_sector(vol, l->cluster, l->rel);
        if (bit == kNoSector) break;
        gathered(l)[l->count++] = l->cluster;
        l->steps++;
        const uint32_t v = zel_fat_entry_value(vol->type, zel_fat_bits_get(data, bit, width));
        if (v >= zel_fat_bad_mark(vol->type)) {
            l->ended = 1;  // end of the chain
            break;
        }
        l->cluster = v;
    }
    vol->journal.tail_next = !l->ended && zel_fatfs_cluster_ok(vol, l->cluster) ? l->cluster : 0;
    l->copy = vol->fat_active == ZEL_FAT_MIRRORED ? 0 : vol->fat_active;
    zel_fatfs_next(FreeStep::COPY_READ, [&] {
        return zel_fatfs_cache_read_start(&vol->cache, zel_fatfs_fat_sector(vol, l->copy) + l->rel, 1, nullptr);
    });
}

// ---- runs and free space ----

enum class ScanStep : uint8_t { START = 0, READ };

struct ScanLocals {
    uint32_t cluster;  // the cluster whose entry is looked at next
    uint32_t want;
    uint32_t *out;
    uint32_t n;       // clusters counted
    uint32_t loaded;  // FAT sector (relative) whose buffer is `buffer`
    const uint8_t *buffer;
    uint8_t free;  // counting free clusters, not following a run
};

// Looks at the entries from l->cluster on with the FAT sector in hand;
// starts a read and returns when another sector is needed.
void scan_on(zel_fatfs_info_t *vol, ScanLocals *l) {
    const uint32_t width = zel_fat_entry_width(vol->type);
    for (; l->n < l->want && l->cluster < vol->cluster_limit; l->cluster++) {
        uint32_t rel, bit;
        zel_fat_entry_locate(vol->type, vol->sector_shift, l->cluster, &rel, &bit);
        if (bit + width > sector_bits(vol)) {
            // A FAT12 entry across two sectors: a run stops before it, and
            // the count takes it as free (the count only tells growth that
            // cannot fit from growth that may).
            if (!l->free) break;
            l->n++;
            continue;
        }
        if (rel != l->loaded) {
            l->loaded = rel;
            zel_fatfs_next_read(vol, ScanStep::READ, zel_fatfs_read_fat(vol) + rel);
            return;
        }
        const uint32_t v = zel_fat_entry_value(vol->type, zel_fat_bits_get(l->buffer, bit, width));
        if (l->free) {
            if (v == 0) l->n++;
        } else if (v != l->cluster + 1 || !zel_fatfs_cluster_ok(vol, v)) {
            break;
        } else {
            l->n++;
        }
    }
    *l->out = l->n;
    zel_answer(0);
}

void scan_handler(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<ScanLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        l->loaded = kNoSector;
        scan_on(vol, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const uint8_t *data = zel_fatfs_sector_data();
    if (!data) return;
    l->buffer = data;
    scan_on(vol, l);
}

// ---- following a chain ----

enum class FollowStep : uint8_t { START = 0, READ, STRADDLE };

struct FollowLocals {
    zel_fatfs_follow_param_t p;
    uint32_t cluster;  // reached so far
    uint32_t taken;    // links followed
    uint32_t loaded;   // FAT sector (relative) whose buffer is `buffer`
    const uint8_t *buffer;
};

void follow_answer(FollowLocals *l) {
    *l->p.reached = l->cluster;
    *l->p.taken = l->taken;
    zel_answer(0);
}

// Takes the link out of the current cluster's entry `raw`: false when the
// chain ends there, leaves the volume, or comes round to itself.
bool follow_link(const zel_fatfs_info_t *vol, FollowLocals *l, uint32_t raw) {
    const uint32_t v = zel_fat_entry_value(vol->type, raw);
    if (v >= zel_fat_bad_mark(vol->type) || !zel_fatfs_cluster_ok(vol, v) || !zel_fatfs_walk_step(l->p.walk, v))
        return false;
    l->cluster = v;
    l->taken++;
    return true;
}

// Follows links with the FAT sector in hand; starts a read and returns when
// the next entry lies in another sector.
void follow_on(zel_fatfs_info_t *vol, FollowLocals *l) {
    const uint32_t width = zel_fat_entry_width(vol->type);
    // (The cluster a follow starts from comes from a directory entry: it is
    // checked as every link is.)
    while (l->taken < l->p.steps && zel_fatfs_cluster_ok(vol, l->cluster)) {
        uint32_t rel, bit;
        zel_fat_entry_locate(vol->type, vol->sector_shift, l->cluster, &rel, &bit);
        if (bit + width > sector_bits(vol)) {
            // a FAT12 entry across two sectors: read on its own
            l->loaded = kNoSector;
            zel_fatfs_next(
                FollowStep::STRADDLE, [&] { return zel_fatfs_get_fat_entry_start(vol, l->cluster, &l->p.straddle); });
            return;
        }
        if (rel != l->loaded) {
            l->loaded = rel;
            zel_fatfs_next_read(vol, FollowStep::READ, zel_fatfs_read_fat(vol) + rel);
            return;
        }
        if (!follow_link(vol, l, zel_fat_bits_get(l->buffer, bit, width))) break;
    }
    follow_answer(l);
}

// ---- information sector ----

enum class InfoStep : uint8_t { START = 0, READ, WRITE };

struct InfoLocals {
    uint8_t again;
};

// A read or write of the sector that fails is tried once more at once, as
// the settle is; a second failure is answered and the sector stays to be
// written.
void info_failed(zel_fatfs_info_t *vol, InfoLocals *l) {
    if (l->again) {
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    l->again = 1;
    zel_fatfs_next_read(vol, InfoStep::READ, vol->fsinfo_sector);
}

}  // namespace

int32_t zel_fatfs_flush_info_start(zel_fatfs_info_t *vol) {
    return zel_subcall(zel_fatfs_flush_info, vol, InfoLocals{});
}

int32_t zel_fatfs_get_fat_entry_start(zel_fatfs_info_t *vol, uint32_t cluster, uint32_t *out) {
    return zel_subcall(zel_fatfs_get_fat_entry, vol, zel_fatfs_entry_param_t{cluster, 0, out}, sizeof(GetLocals));
}

int32_t zel_fatfs_set_fat_entry_start(zel_fatfs_info_t *vol, uint32_t cluster, uint32_t value) {
    return zel_subcall(
        zel_fatfs_set_fat_entry, vol, zel_fatfs_entry_param_t{cluster, value, nullptr}, sizeof(SetLocals));
}

int32_t zel_fatfs_alloc_cluster_start(zel_fatfs_info_t *vol, uint32_t link_from, uint32_t *out) {
    return zel_fatfs_alloc_run_start(vol, link_from, 1, out, nullptr);
}

int32_t zel_fatfs_alloc_run_start(
    zel_fatfs_info_t *vol, uint32_t link_from, uint32_t want, uint32_t *first, uint32_t *count) {
    return zel_subcall(
        zel_fatfs_alloc_cluster, vol, zel_fatfs_alloc_param_t{link_from, first, want, count}, sizeof(AllocLocals));
}

int32_t zel_fatfs_free_chain_start(zel_fatfs_info_t *vol, uint32_t cluster) {
    return zel_subcall(zel_fatfs_free_chain, vol, FreeLocals{cluster, 0, 0, 0, 0, 0, 0},
        (uint32_t)sizeof(FreeLocals) + free_capacity(vol) * (uint32_t)sizeof(uint32_t));
}

int32_t zel_fatfs_chain_run_start(zel_fatfs_info_t *vol, uint32_t cluster, uint32_t want, uint32_t *count) {
    return zel_subcall(zel_fatfs_chain_run, vol, ScanLocals{cluster, want, count, 0, kNoSector, nullptr, 0});
}

int32_t zel_fatfs_count_free_start(zel_fatfs_info_t *vol, uint32_t want, uint32_t *found) {
    const uint32_t from = vol->alloc_hint < 2 ? 2 : vol->alloc_hint;
    return zel_subcall(zel_fatfs_count_free, vol, ScanLocals{from, want, found, 0, kNoSector, nullptr, 1});
}

int32_t zel_fatfs_chain_follow_start(zel_fatfs_info_t *vol, uint32_t cluster, uint32_t steps, zel_fatfs_walk_t *walk,
    uint32_t *reached, uint32_t *taken) {
    return zel_subcall(zel_fatfs_chain_follow, vol,
        FollowLocals{zel_fatfs_follow_param_t{steps, walk, reached, taken, 0}, cluster, 0, kNoSector, nullptr});
}

void zel_fatfs_chain_follow(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<FollowLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        follow_on(vol, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (zel_step<FollowStep>() == FollowStep::STRADDLE) {
        if (zel_fatfs_failed()) return;
        if (!follow_link(vol, l, l->p.straddle)) {
            follow_answer(l);
            return;
        }
    } else {
        const uint8_t *data = zel_fatfs_sector_data();
        if (!data) return;
        l->buffer = data;
    }
    follow_on(vol, l);
}

void zel_fatfs_chain_run(void *locals, zel_evt_t evt) { scan_handler(locals, evt); }

void zel_fatfs_count_free(void *locals, zel_evt_t evt) { scan_handler(locals, evt); }

void zel_fatfs_get_fat_entry(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<GetLocals *>(locals);
    const uint32_t width = zel_fat_entry_width(vol->type);
    if (evt == ZEL_EVT_INIT) {
        // Entries 0 and 1 hold the media byte and the volume's flags, no
        // link: a chain that names them is broken, as one past the last is.
        if (!zel_fatfs_cluster_ok(vol, l->p.cluster)) {
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        uint32_t rel;
        zel_fat_entry_locate(vol->type, vol->sector_shift, l->p.cluster, &rel, &l->bit);
        l->sector = zel_fatfs_read_fat(vol) + rel;
        zel_fatfs_next_read(vol, GetStep::FIRST, l->sector);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const uint8_t *data = zel_fatfs_sector_data();
    if (!data) return;
    if (zel_step<GetStep>() == GetStep::FIRST) {
        const uint32_t room = sector_bits(vol) - l->bit;
        l->got = width < room ? width : room;
        l->value = zel_fat_bits_get(data, l->bit, l->got);
        if (l->got < width) {
            zel_fatfs_next_read(vol, GetStep::SECOND, l->sector + 1);
            return;
        }
    } else {
        l->value |= zel_fat_bits_get(data, 0, width - l->got) << l->got;
    }
    *l->p.out = l->value;
    zel_answer(0);
}

void zel_fatfs_set_fat_entry(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<SetLocals *>(locals);
    const uint32_t width = zel_fat_entry_put_bits(vol->type);
    if (evt == ZEL_EVT_INIT) {
        if (!zel_fatfs_cluster_ok(vol, l->p.cluster)) {
            zel_answer(ZEL_FS_ERR_FAILED);  // (entries 0 and 1 are never written)
            return;
        }
        zel_fat_entry_locate(vol->type, vol->sector_shift, l->p.cluster, &l->rel, &l->bit);
        const uint32_t room = sector_bits(vol) - l->bit;
        l->first_bits = width < room ? width : room;
        l->copy = vol->fat_active == ZEL_FAT_MIRRORED ? 0 : vol->fat_active;
        set_read_copy(vol, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const auto step = zel_step<SetStep>();
    const uint32_t high_bits = width - l->first_bits;
    switch (step) {
    case SetStep::READ1:
    case SetStep::READ2:
    case SetStep::UNDO_READ1:
    case SetStep::UNDO_READ2: {
        auto *data = reinterpret_cast<uint8_t *>(zel_eda_get_return_value());
        if (!data) {
            // The copies may differ now, and a crossing entry may be torn.
            zel_fatfs_journal_note_sync(vol, l->rel);
            if (l->first_bits < width) zel_fatfs_journal_note_sync(vol, l->rel + 1);
            if (step == SetStep::READ2) {
                zel_fatfs_next_read(vol, SetStep::UNDO_READ1, copy_sector(vol, l));
                return;
            }
            if (step != SetStep::READ1) vol->journal.uncertain = 1;
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        const bool low = step == SetStep::READ1 || step == SetStep::UNDO_READ1;
        SetStep write;
        if (step == SetStep::READ1) {
            l->old_low = zel_fat_bits_get(data, l->bit, l->first_bits);
            zel_fat_bits_put(data, l->bit, l->first_bits, l->p.value);
            write = SetStep::WRITE1;
        } else if (step == SetStep::READ2) {
            l->old_high = zel_fat_bits_get(data, 0, high_bits);
            l->second = 1;
            zel_fat_bits_put(data, 0, high_bits, l->p.value >> l->first_bits);
            write = SetStep::WRITE2;
        } else if (low) {
            zel_fat_bits_put(data, l->bit, l->first_bits, l->old_low);
            write = SetStep::UNDO1;
        } else {
            zel_fat_bits_put(data, 0, high_bits, l->old_high);
            write = SetStep::UNDO2;
        }
        const uint32_t sector = copy_sector(vol, l) + (low ? 0 : 1);
        zel_fatfs_next(write, [&] { return zel_fatfs_cache_write_back(&vol->cache, sector, data); });
        return;
    }
    case SetStep::WRITE1:
        if (zel_subcall_result() < 0) {
            // (the copies before this one hold both halves of the new value)
            zel_fatfs_journal_note_sync(vol, l->rel);
            if (l->first_bits < width) {
                // The first half may have gone: it gets its old bits back.
                zel_fatfs_journal_note_sync(vol, l->rel + 1);
                zel_fatfs_next_read(vol, SetStep::UNDO_READ1, copy_sector(vol, l));
                return;
            }
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        if (l->first_bits < width) {
            zel_fatfs_next_read(vol, SetStep::READ2, copy_sector(vol, l) + 1);  // the rest of a crossing entry
            return;
        }
        set_next_copy(vol, l);
        return;
    case SetStep::WRITE2:
        if (zel_subcall_result() < 0) {
            // The second half may or may not have gone: both get their old bits.
            zel_fatfs_journal_note_sync(vol, l->rel);
            zel_fatfs_journal_note_sync(vol, l->rel + 1);
            zel_fatfs_next_read(vol, SetStep::UNDO_READ1, copy_sector(vol, l));
            return;
        }
        set_next_copy(vol, l);
        return;
    case SetStep::UNDO1:
        if (zel_subcall_result() < 0) {
            vol->journal.uncertain = 1;
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        if (!l->second) {
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        zel_fatfs_next_read(vol, SetStep::UNDO_READ2, copy_sector(vol, l) + 1);
        return;
    case SetStep::UNDO2:
        if (zel_subcall_result() < 0) vol->journal.uncertain = 1;
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    default: return;
    }
}

void zel_fatfs_alloc_cluster(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<AllocLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        if (zel_fatfs_journal_full(vol)) {
            zel_answer(ZEL_FS_ERR_FAILED);  // no record could be kept of what it takes
            return;
        }
        // A link from anything but a cluster of the volume (a broken chain's
        // end) is refused before a cluster is taken: the link could go out
        // with the run's own FAT sector.
        if (l->p.link_from != 0 && !zel_fatfs_cluster_ok(vol, l->p.link_from)) {
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        l->cluster = vol->alloc_hint < 2 ? 2 : vol->alloc_hint;
        l->loaded = kNoSector;
        alloc_scan(vol, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const auto step = zel_step<AllocStep>();
    if (step == AllocStep::SCAN || step == AllocStep::RUN_READ) {
        auto *data = reinterpret_cast<uint8_t *>(zel_eda_get_return_value());
        if (!data) {
            if (step == AllocStep::RUN_READ) zel_fatfs_journal_note_sync(vol, l->loaded);
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        if (step == AllocStep::SCAN) {
            l->buffer = data;
            alloc_scan(vol, l);
        } else {
            run_write_copy(vol, l, data);
        }
        return;
    }
    if (zel_subcall_result() < 0) {
        if (step == AllocStep::RUN_WRITE) zel_fatfs_journal_note_sync(vol, l->loaded);
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    switch (step) {
    case AllocStep::STRADDLE:
        if (zel_fat_entry_value(vol->type, l->straddle) != 0) {
            l->cluster++;
            alloc_scan(vol, l);
            return;
        }
        // A cluster whose entry crosses two sectors is taken alone.
        l->run = 1;
        alloc_journal(vol, l->p.link_from, l->cluster, 1);
        zel_fatfs_next(
            AllocStep::SET_EOC, [&] { return zel_fatfs_set_fat_entry_start(vol, l->cluster, zel_fat_eoc(vol->type)); });
        return;
    case AllocStep::RUN_WRITE:
        if (vol->fat_active == ZEL_FAT_MIRRORED && ++l->copy < vol->fat_count) {
            run_read_copy(vol, l);
            return;
        }
        alloc_link(vol, l);
        return;
    case AllocStep::SET_EOC: alloc_link(vol, l); return;
    case AllocStep::SET_LINK: alloc_done(vol, l); return;
    default: return;
    }
}

void zel_fatfs_free_chain(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<FreeLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        free_step(vol, l);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const auto step = zel_step<FreeStep>();
    if (step == FreeStep::GATHER || step == FreeStep::COPY_READ) {
        uint8_t *data = reinterpret_cast<uint8_t *>(zel_eda_get_return_value());
        if (!data) {
            if (step == FreeStep::COPY_READ) zel_fatfs_journal_note_sync(vol, l->rel);
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        if (step == FreeStep::GATHER) {
            free_gather(vol, l, data);
            return;
        }
        const uint32_t width = zel_fat_entry_put_bits(vol->type);
        const bool first = l->copy == (vol->fat_active == ZEL_FAT_MIRRORED ? 0u : (uint32_t)vol->fat_active);
        uint32_t kept = 0;
        for (uint32_t i = 0; i < l->count; i++) {
            const uint32_t c = gathered(l)[i], bit = bit_in_sector(vol, c, l->rel);
            // In the first copy (the one the chain was read from) a cluster
            // already free was gathered twice, by a chain that loops: it is
            // counted once.
            if (first &&
                zel_fat_entry_value(vol->type, zel_fat_bits_get(data, bit, zel_fat_entry_width(vol->type))) == 0)
                continue;
            zel_fat_bits_put(data, bit, width, 0);
            gathered(l)[kept++] = c;
        }
        if (first) {
            l->count = kept;
            vol->journal.tail_count = kept;
        }
        const uint32_t sector = zel_fatfs_fat_sector(vol, l->copy) + l->rel;
        zel_set_step(FreeStep::COPY_WRITE);
        if (zel_fatfs_cache_write_back(&vol->cache, sector, data) != 0) zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    if (zel_subcall_result() < 0) {
        if (step == FreeStep::COPY_WRITE) zel_fatfs_journal_note_sync(vol, l->rel);
        zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    switch (step) {
    case FreeStep::COPY_WRITE:
        if (vol->fat_active == ZEL_FAT_MIRRORED && ++l->copy < vol->fat_count) {
            zel_set_step(FreeStep::COPY_READ);
            if (zel_fatfs_cache_read_start(&vol->cache, zel_fatfs_fat_sector(vol, l->copy) + l->rel, 1, nullptr) != 0)
                zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        for (uint32_t i = 0; i < l->count; i++) zel_fatfs_note_freed(vol, gathered(l)[i]);
        vol->journal.tail = vol->journal.tail_next;
        vol->journal.tail_next = 0;
        vol->journal.tail_count = 0;
        free_step(vol, l);
        return;
    case FreeStep::GET: {
        const uint32_t next = zel_fat_entry_value(vol->type, l->next);
        vol->journal.tail = l->cluster;
        vol->journal.tail_next = next < zel_fat_bad_mark(vol->type) && zel_fatfs_cluster_ok(vol, next) ? next : 0;
        vol->journal.tail_count = 1;
        zel_set_step(FreeStep::SET);
        if (zel_fatfs_set_fat_entry_start(vol, l->cluster, 0) != 0) zel_answer(ZEL_FS_ERR_FAILED);
        return;
    }
    case FreeStep::SET: {
        zel_fatfs_note_freed(vol, l->cluster);
        vol->journal.tail = vol->journal.tail_next;
        vol->journal.tail_next = 0;
        vol->journal.tail_count = 0;
        const uint32_t next = zel_fat_entry_value(vol->type, l->next);
        if (next >= zel_fat_bad_mark(vol->type)) {
            zel_answer(0);  // end of the chain
            return;
        }
        l->cluster = next;
        free_step(vol, l);
        return;
    }
    default: return;
    }
}

void zel_fatfs_flush_info(void *locals, zel_evt_t evt) {
    auto *vol = zel_target<zel_fatfs_info_t>(locals);
    auto *l = static_cast<InfoLocals *>(locals);
    if (evt == ZEL_EVT_INIT) {
        if (!vol->fsinfo_dirty || vol->fsinfo_sector == 0) {
            zel_answer(0);
            return;
        }
        l->again = 0;
        zel_fatfs_next_read(vol, InfoStep::READ, vol->fsinfo_sector);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (zel_step<InfoStep>() == InfoStep::WRITE) {
        if (zel_subcall_result() < 0) {
            info_failed(vol, l);
            return;
        }
        vol->fsinfo_dirty = 0;
        zel_answer(0);
        return;
    }
    auto *data = reinterpret_cast<uint8_t *>(zel_eda_get_return_value());
    if (!data) {
        info_failed(vol, l);
        return;
    }
    if (!zel_fat_fsinfo_valid(data)) {
        vol->fsinfo_sector = 0;  // not an information sector after all: leave it alone
        vol->fsinfo_dirty = 0;
        zel_answer(0);
        return;
    }
    const uint32_t next = vol->alloc_hint < vol->cluster_limit ? vol->alloc_hint : ZEL_FAT_FSINFO_UNKNOWN;
    memcpy(data + offsetof(zel_fat_fsinfo_t, free_count), &vol->free_count, 4);
    memcpy(data + offsetof(zel_fat_fsinfo_t, next_free), &next, 4);
    zel_fatfs_next(InfoStep::WRITE, [&] { return zel_fatfs_cache_write_back(&vol->cache, vol->fsinfo_sector, data); });
}

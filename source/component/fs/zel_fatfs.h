/* fatfs: FAT12, FAT16 and FAT32 volumes on a block device.
 *
 * Existing files and directories can be looked up (long names as UTF-8),
 * listed, read, written in place, grown and shrunk; create, unlink and rename
 * answer -2. exFAT is recognised and refused. Every operation is a sub-call
 * whose steps resume on the answers of the device, so a device that completes
 * later (over USB) never blocks a host thread.
 *
 * One operation runs on a volume at a time: the others wait at the volume's
 * gate in arrival order. All sectors go through the volume's sector cache,
 * which writes through; whole sectors of file data move straight between the
 * device and the caller's buffer, one transfer for each run of clusters that
 * follow one another on the volume. A chain is freed a FAT sector at a time. Bytes that growth exposes read as zeros, a chain
 * holds exactly the clusters its size needs, every FAT copy is written (on a
 * FAT32 volume whose mirroring is off, the one active copy), and the FAT32
 * information sector's free count and hint are kept. A write or resize that
 * fails part way is settled from the volume's journal (below), so that one
 * failed device transfer leaves no other file changed, no size beyond its
 * chain, no cluster lost and the FAT copies equal. A position beyond a
 * file's size is refused (-8), also when another node's resize cut the size
 * while the call waited at the gate.
 *
 * Nothing on the volume is trusted: a boot sector whose geometry does not
 * hold together is refused, every cluster number is checked against the
 * volume, every walk along a chain or through a directory is bounded, and a
 * long name is taken only from a well-formed run of pieces. */
#ifndef ZEL_FATFS_H
#define ZEL_FATFS_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_fatfs_format.h"
#include "zel_fs.h"
#include "zel_vfs.h"
#include "zel_io_gate.h"
#include "zel_mal.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- sector cache ---- */

typedef struct zel_fatfs_cache_entry {
    uint64_t sector; /* all ones: holds none */
    uint32_t flags;  /* bit 31 in use, bit 30 dirty, bits 0-29 age */
    uint32_t spare;
} zel_fatfs_cache_entry_t;

#define ZEL_FATFS_CACHE_IN_USE 0x80000000u
#define ZEL_FATFS_CACHE_DIRTY 0x40000000u
#define ZEL_FATFS_CACHE_NONE UINT64_MAX

typedef struct zel_fatfs_cache {
    zel_mal_t *mal;
    uint32_t block_size;
    uint16_t count;
    /* `count` entries followed directly by `count` buffers of block_size */
    zel_fatfs_cache_entry_t *entries;
    struct zel_fatfs_cache *self;
    void *allocation; /* released at unmount, or none */
    uint32_t tick;    /* the age the next hit or fill gives its entry */
} zel_fatfs_cache_t;

/* Parameter block of zel_fatfs_cache_read and zel_fatfs_write_sectors. */
typedef struct zel_fatfs_sectors_param {
    uint64_t sector;
    uint32_t count;
    void *buffer;
} zel_fatfs_sectors_param_t;

/* Plain: records the back pointer and empties every entry. */
void zel_fatfs_cache_init(zel_fatfs_cache_t *cache);
/* Plain: releases the recorded allocation. */
void zel_fatfs_cache_fini(zel_fatfs_cache_t *cache);
/* Sub-call on the cache: with a buffer, `count` sectors straight from the
 * device into it; without one (count 1), the cache buffer holding the sector.
 * Answers the data pointer, or 0 unless the device gave every byte. A miss
 * replaces a free entry, else the one used least recently; the cache writes
 * through, so what it holds is always what the device holds. */
void zel_fatfs_cache_read(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_cache_read_start(
    zel_fatfs_cache_t *cache, uint64_t sector, uint32_t count, void *buffer);
/* Sub-call on the cache: writes `count` whole sectors from `buffer`; cached
 * copies of them are brought up to date (dropped when the write fails).
 * Answers the bytes written, or -7 unless the device took every byte. */
void zel_fatfs_write_sectors(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_write_sectors_start(
    zel_fatfs_cache_t *cache, uint64_t sector, uint32_t count, const void *buffer);
/* Writes back one sector whose cache buffer (`data`) the caller has changed.
 * When the write cannot be started the changed copy is dropped from the
 * cache, so that no later read takes bytes the device never got. 0 or -6. */
[[nodiscard]] int32_t zel_fatfs_cache_write_back(zel_fatfs_cache_t *cache, uint64_t sector, uint8_t *data);

/* ---- volume and nodes ---- */

typedef struct zel_fatfs_info zel_fatfs_info_t;

/* A walk along a cluster chain compares each cluster it reaches with a mark
 * that moves up to it at doubling distances, so a chain that comes round to
 * a cluster it passed is found without reading the FAT twice. */
typedef struct zel_fatfs_walk {
    uint32_t mark;
    uint32_t span;
    uint32_t count;
} zel_fatfs_walk_t;

/* A walk starts (again) at `cluster`. */
static inline void zel_fatfs_walk_start(zel_fatfs_walk_t *walk, uint32_t cluster) {
    walk->mark = cluster;
    walk->span = 1;
    walk->count = 0;
}
/* The walk steps on to `next`; false when the chain has come round to a
 * cluster it already passed (a loop). */
static inline bool zel_fatfs_walk_step(zel_fatfs_walk_t *walk, uint32_t next) {
    if (next == walk->mark) return false;
    if (++walk->count >= walk->span) {
        walk->mark = next;
        if (walk->span < 0x80000000u) walk->span <<= 1;
        walk->count = 0;
    }
    return true;
}

typedef struct zel_fatfs_file {
    zel_file_t file;
    zel_fatfs_info_t *vol;
    uint32_t first_cluster; /* 0: none (and the FAT12/16 root) */
    uint32_t cur_cluster;   /* the cluster that holds the position */
    uint32_t sector_index;  /* within the current cluster */
    uint32_t byte_offset;   /* within that sector */
    /* the node's directory entries: long-name pieces, then the short entry */
    uint32_t dentry_sector_a;
    uint32_t dentry_sector_b;
    uint8_t a_first, a_count, b_first, b_count;
    /* kept by the driver */
    zel_fatfs_walk_t walk;            /* the walk to the current cluster */
    uint32_t run_after;               /* clusters right after the current one that this node
                               allocated as a run and links to in order */
    struct zel_fatfs_file *next_open; /* the volume's open nodes, from lookup to close */
    uint8_t stale;                    /* another node of the same file changed it: size and
                               first cluster are current, the position fields are not */
} zel_fatfs_file_t;

/* ---- operation journal ----
 *
 * A write or resize records what it does to the FAT as it goes: the clusters
 * it allocated (by number, in chain order), the cluster the first of them
 * was linked from, the FAT sectors whose copies a failed write may have left
 * different, and a cut-off chain still to be freed. After a failure the
 * volume is settled from it: the FAT copies are made equal again, the file's
 * directory entry is read back, and the chain is made to hold exactly what
 * that entry's size needs. Clusters the operation allocated and the entry
 * does not reach are freed by number; a link is followed only where the
 * operation never wrote it. A settle that fails itself is tried once more
 * at once; one that fails again is finished before the volume's next
 * operation, or by its unmount. */
#define ZEL_FATFS_JOURNAL_RANGES 16u
#define ZEL_FATFS_JOURNAL_SYNC 8u

typedef struct zel_fatfs_range {
    uint32_t first;
    uint32_t count;
    uint32_t counted; /* taken off the free count (the allocation completed) */
} zel_fatfs_range_t;

typedef struct zel_fatfs_journal {
    uint64_t place;     /* the file's short entry: sector << 8 | index; 0 none */
    uint32_t old_first; /* the file's first cluster when the operation began */
    uint32_t link_from; /* the cluster the first allocated one was linked from */
    uint32_t range_count;
    zel_fatfs_range_t ranges[ZEL_FATFS_JOURNAL_RANGES];
    uint32_t sync[ZEL_FATFS_JOURNAL_SYNC]; /* FAT sectors (relative) whose copies may differ */
    uint32_t sync_count;
    uint32_t tail;         /* a chain cut off from the file, still to be freed (0: none) */
    uint32_t tail_next;    /* where the chain goes on after the part being freed */
    uint32_t tail_count;   /* clusters of that part; its entries may already read 0 */
    uint32_t settled_size; /* what the entry held at the last settle */
    uint32_t settled_first;
    uint8_t sync_all;  /* more sectors than the list holds: every FAT sector */
    uint8_t uncertain; /* an entry write failed and could not be undone */
    uint8_t unsettled; /* a failed operation is not settled yet */
} zel_fatfs_journal_t;

struct zel_fatfs_info {
    zel_fatfs_file_t root; /* the mounted root; its volume is this record */
    uint32_t type;         /* ZEL_FAT12, ZEL_FAT16, ZEL_FAT32; ZEL_EXFAT never mounts */
    char label[12];
    uint32_t root_start;
    uint32_t root_sectors;
    uint32_t fat_start;
    uint32_t fat_size;
    uint32_t data_start;
    uint32_t cluster_limit;
    uint8_t sector_shift;
    uint8_t cluster_shift;
    uint8_t fat_count;
    zel_fatfs_cache_t cache; /* configured by the mounter */
    const char *label_ptr;   /* none, or `label` */
    /* kept by the driver */
    zel_io_gate_t gate;     /* one operation at a time */
    uint8_t fat_active;     /* ZEL_FAT_MIRRORED, or the one FAT in use (FAT32) */
    uint32_t alloc_hint;    /* no free cluster lies below it */
    uint32_t fsinfo_sector; /* FAT32 information sector, 0 none */
    uint32_t free_count;    /* ZEL_FAT_FSINFO_UNKNOWN when not known */
    uint8_t fsinfo_dirty;
    /* The node whose write or resize ran last. Another node of the same file
     * rereads its entry and position before it changes the file. */
    zel_fatfs_file_t *last_writer;
    zel_fatfs_file_t *open_nodes; /* every node a lookup made and no close ended */
    uint16_t boot_sector_size;    /* bytes per sector of the boot sector the mount read,
                                      also of one it refused (0: no boot sector) */
    zel_fatfs_journal_t journal;  /* of the write or resize that runs, or of a failed one */
};

/* Parameter blocks of the FAT operations. */
typedef struct zel_fatfs_entry_param {
    uint32_t cluster;
    uint32_t value; /* set: the value to write */
    uint32_t *out;  /* get: receives the raw entry */
} zel_fatfs_entry_param_t;

typedef struct zel_fatfs_alloc_param {
    uint32_t link_from; /* 0: none */
    uint32_t *out;      /* receives the (first) new cluster */
    uint32_t want;      /* a run: up to this many clusters (0 or 1: one) */
    uint32_t *count;    /* a run: receives how many were taken, or none */
} zel_fatfs_alloc_param_t;

/* Sub-calls on the volume record. The entry read and write refuse with -7
 * a number that is no cluster of the volume (0, 1, or the cluster limit and
 * above), as allocation refuses such a `link_from`: a chain that leads
 * there is broken. */
void zel_fatfs_get_fat_entry(void *locals, zel_evt_t evt); /* 0, -7 */
/* 0, -7: every copy. An entry that crosses two sectors whose second write
 * fails (or whose second sector cannot be read) gets its old bits back in
 * both; the sectors of a failed write go into the journal's sync list. */
void zel_fatfs_set_fat_entry(void *locals, zel_evt_t evt);
/* Takes the lowest free cluster and, for a run, the free clusters right
 * after it whose entries share its FAT sector, chained in order and ended
 * with the end-of-chain value, then links the first from `link_from`; the
 * entries of one sector go out in one write per FAT copy. The run goes into
 * the journal before its first write and comes off the free count once it
 * is linked. 0, -7 none free (or the journal full). */
void zel_fatfs_alloc_cluster(void *locals, zel_evt_t evt);
/* {cluster}: frees it and what follows; the journal's tail records how far
 * the release got, so that a settle resumes one cut short. */
void zel_fatfs_free_chain(void *locals, zel_evt_t evt);
/* {cluster, want, count out}: how many clusters, up to `want`, follow
 * `cluster` in the chain each as the next by number (c links to c + 1), so
 * that a run over them is one transfer. 0, -7 when a FAT sector fails. */
void zel_fatfs_chain_run(void *locals, zel_evt_t evt);
/* Follows up to `steps` links of a chain from `cluster`, reading each FAT
 * sector once for all the links it holds, and steps `walk` along. 0 with
 * the cluster reached and the links taken, which are fewer than `steps`
 * when the chain ends, leaves the volume or comes round to a cluster it
 * passed; -7 when a FAT sector fails. */
typedef struct zel_fatfs_follow_param {
    uint32_t steps;
    zel_fatfs_walk_t *walk;
    uint32_t *reached;
    uint32_t *taken;
    uint32_t straddle; /* kept by the call: a FAT12 entry read across two sectors */
} zel_fatfs_follow_param_t;
void zel_fatfs_chain_follow(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_chain_follow_start(zel_fatfs_info_t *vol, uint32_t cluster, uint32_t steps,
    zel_fatfs_walk_t *walk, uint32_t *reached, uint32_t *taken);
/* {want, found out}: counts free clusters from the lowest free one until
 * `want` are found or the FAT ends; reads only. 0, -7. */
void zel_fatfs_count_free(void *locals, zel_evt_t evt);
/* Writes the FAT32 information sector when the counts changed; a transfer
 * that fails is tried once more at once. 0, -7 (the sector stays to be
 * written). */
void zel_fatfs_flush_info(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_flush_info_start(zel_fatfs_info_t *vol);
/* Plain: a write or resize on the file whose short entry is at `place`
 * begins; the journal starts empty (kept sync entries aside). */
void zel_fatfs_journal_open(zel_fatfs_info_t *vol, uint64_t place, uint32_t first_cluster);
/* Plain: a FAT write of sector `rel` (relative to a copy) failed in some copy. */
void zel_fatfs_journal_note_sync(zel_fatfs_info_t *vol, uint32_t rel);
/* Plain: true when `cluster` is one the journal's operation allocated. */
bool zel_fatfs_journal_holds(const zel_fatfs_info_t *vol, uint32_t cluster);
/* Plain: the journal has no room for another allocation. */
bool zel_fatfs_journal_full(const zel_fatfs_info_t *vol);
/* Plain: the file's entry now records every allocated cluster (its chain
 * from `first_cluster` on): they are its own. */
void zel_fatfs_journal_commit(zel_fatfs_info_t *vol, uint32_t first_cluster);
/* Sub-call on the volume record: settles the journal as above, once more
 * at once when a transfer fails; 0, or -7 and the journal stays unsettled.
 * settled_size and settled_first tell the file's size and first cluster
 * afterwards. */
void zel_fatfs_settle(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_settle_start(zel_fatfs_info_t *vol);
/* Plain helpers of the FAT code. */
void zel_fatfs_note_freed(zel_fatfs_info_t *vol, uint32_t cluster);
void zel_fatfs_note_allocated(zel_fatfs_info_t *vol, uint32_t first, uint32_t count);
/* The bit offset of `cluster`'s entry when it lies wholly in FAT sector
 * `rel`; UINT32_MAX otherwise. */
uint32_t zel_fatfs_entry_bit(const zel_fatfs_info_t *vol, uint32_t cluster, uint32_t rel);

/* Sub-call on the volume record: checks the boot sector and fills the record
 * (0, -7). The driver table's mount runs it on the mount point's volume. */
void zel_fatfs_mount_volume(void *locals, zel_evt_t evt);

[[nodiscard]] int32_t zel_fatfs_get_fat_entry_start(zel_fatfs_info_t *vol, uint32_t cluster, uint32_t *out);
[[nodiscard]] int32_t zel_fatfs_set_fat_entry_start(zel_fatfs_info_t *vol, uint32_t cluster, uint32_t value);
[[nodiscard]] int32_t zel_fatfs_alloc_cluster_start(zel_fatfs_info_t *vol, uint32_t link_from, uint32_t *out);
[[nodiscard]] int32_t zel_fatfs_alloc_run_start(
    zel_fatfs_info_t *vol, uint32_t link_from, uint32_t want, uint32_t *first, uint32_t *count);
[[nodiscard]] int32_t zel_fatfs_free_chain_start(zel_fatfs_info_t *vol, uint32_t cluster);
[[nodiscard]] int32_t zel_fatfs_chain_run_start(
    zel_fatfs_info_t *vol, uint32_t cluster, uint32_t want, uint32_t *count);
[[nodiscard]] int32_t zel_fatfs_count_free_start(zel_fatfs_info_t *vol, uint32_t want, uint32_t *found);

/* Node operations without the volume's gate, for use inside an operation. */
void zel_fatfs_do_lookup(void *locals, zel_evt_t evt);
void zel_fatfs_do_read(void *locals, zel_evt_t evt);
void zel_fatfs_do_write(void *locals, zel_evt_t evt);
void zel_fatfs_do_resize(void *locals, zel_evt_t evt);
void zel_fatfs_do_setpos(void *locals, zel_evt_t evt);
/* {size}: writes size and first cluster into the node's short entry. */
void zel_fatfs_update_dentry(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_update_dentry_start(zel_fatfs_file_t *node, uint32_t size);
/* {entry out}: reads the node's short entry (0, -7). */
void zel_fatfs_read_dentry(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_read_dentry_start(zel_fatfs_file_t *node, zel_fat_dentry_t *out);
/* No parameters: takes size and first cluster from the node's short entry
 * again and sets the position anew (kept, or cut to the size); 0, -7. */
void zel_fatfs_refresh(void *locals, zel_evt_t evt);
[[nodiscard]] int32_t zel_fatfs_refresh_start(zel_fatfs_file_t *node);
/* Frame size of every zel_fatfs_do_* operation. */
#define ZEL_FATFS_OP_LOCALS 128u

/* True when both nodes are the same file or directory of one volume (two
 * lookups of one name give two nodes). */
bool zel_fatfs_same_file(const zel_file_t *a, const zel_file_t *b);

/* The driver table and its operations (each takes the volume's gate). A
 * file without the writable attribute (read-only on the volume) answers -7
 * to write and resize. The unmount takes the gate too, finishes a settle
 * and an information sector that a failed operation left (each tried once
 * more at once, as always), then releases the cache's allocation whatever
 * came of that: 0, or -7 when the volume is left with them undone. */
extern const zel_fs_op_t zel_fatfs_op;
void zel_fatfs_mount(void *locals, zel_evt_t evt);
void zel_fatfs_unmount(void *locals, zel_evt_t evt);
void zel_fatfs_close(void *locals, zel_evt_t evt);
void zel_fatfs_read(void *locals, zel_evt_t evt);
void zel_fatfs_write(void *locals, zel_evt_t evt);
void zel_fatfs_resize(void *locals, zel_evt_t evt);
void zel_fatfs_setpos(void *locals, zel_evt_t evt);
void zel_fatfs_lookup(void *locals, zel_evt_t evt);

/* Helpers over the geometry. */
static inline uint32_t zel_fatfs_cluster_bytes(const zel_fatfs_info_t *vol) {
    return 1u << (vol->sector_shift + vol->cluster_shift);
}
static inline bool zel_fatfs_cluster_ok(const zel_fatfs_info_t *vol, uint32_t cluster) {
    return cluster >= 2 && cluster < vol->cluster_limit;
}
static inline uint32_t zel_fatfs_cluster_sector(const zel_fatfs_info_t *vol, uint32_t cluster) {
    return vol->data_start + ((cluster - 2) << vol->cluster_shift);
}
/* The first sector of FAT copy `copy`. */
static inline uint32_t zel_fatfs_fat_sector(const zel_fatfs_info_t *vol, uint32_t copy) {
    return vol->fat_start + copy * vol->fat_size;
}
/* The first sector of the FAT that entries are read from. */
static inline uint32_t zel_fatfs_read_fat(const zel_fatfs_info_t *vol) {
    return zel_fatfs_fat_sector(vol, vol->fat_active == ZEL_FAT_MIRRORED ? 0u : vol->fat_active);
}

#ifdef __cplusplus
}
#endif

#endif

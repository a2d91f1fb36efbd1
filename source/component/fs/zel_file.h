/* The file API: how the rest of the system opens, walks, reads, writes and
 * changes files, whatever driver serves them.
 *
 * Calling convention
 * ------------------
 * Every call but zel_file_tell starts one operation as a sub-call of the
 * calling agent and answers at once:
 *   0      the operation was started; its result arrives when the sub-call
 *          returns: an agent gets event 260 and reads
 *          zel_eda_get_return_code(); a framework thread is blocked inside
 *          the call until then and reads zel_eda_get_return_code() as soon
 *          as the call has answered 0;
 *   < 0    nothing was started and no 260 follows: -6 when no call frame can
 *          be had, or the refusal a call names below.
 * So from a thread:
 *     int32_t r = zel_file_read(f, buf, n);
 *     if (r == 0) r = (int32_t)zel_eda_get_return_code();
 * Results are the counts and codes of zel_fs.h; driver codes pass unchanged.
 * Calls that take a directory use the root `zel_vfs_root` when given none.
 *
 * Open, close and positions
 * -------------------------
 * A path is walked from the given directory ('/' and '\\' separate; a
 * leading separator is skipped like any other, an empty path opens the
 * directory itself, a trailing separator after a directory is accepted),
 * under `zel_vfs_lock`. Opening references the node reached and every node
 * above it; zel_file_close releases the same chain, closing and freeing
 * nodes whose last reference goes. A failed open leaves no reference behind.
 *
 * The position lives in the node. A node that nobody else holds open is
 * rewound to 0 when it is opened; a node that others hold keeps the position
 * they share, and a directory the walk has to search from its first entry
 * gets its holders' position back afterwards, so no open ever moves the
 * position under another holder. Files of drivers that make a node per
 * lookup (host folders, FAT) are never shared. */
#ifndef ZEL_FILE_H
#define ZEL_FILE_H

#include "zel_fs.h"
#include "zel_stream.h"
#include "zel_vfs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Mounts `table` with the volume record `record` (a record that begins with
 * a zel_file_t, which becomes its own volume) on the in-memory directory
 * `dir`, and answers the mounted driver's mount result. Refused at once with
 * -8 when `dir` is not an in-memory directory, -7 when it is a mount point
 * already. The record must outlive the mount. */
[[nodiscard]] int32_t zel_fs_mount(zel_file_t *dir, const zel_fs_op_t *table, zel_file_t *record);

/* Walks `path` from `dir`; result 0 with the node in `*out` (none after a
 * failure), -4 an element is missing, -8 an element follows a non-directory.
 * With no path (null) it opens the directory's next entry instead (result -4
 * at the end, and the listing starts again): this is how directories are
 * listed. `*out` must stay valid until the result. */
[[nodiscard]] int32_t zel_file_open(zel_file_t *dir, const char *path, zel_file_t **out);
/* Releases what zel_file_open took; result 0 (-6 when a node's close could
 * not be started; the rest of the chain is still released). */
[[nodiscard]] int32_t zel_file_close(zel_file_t *file);

/* Read and write at the position; a positive count moves the position by it. */
[[nodiscard]] int32_t zel_file_read(zel_file_t *file, void *buffer, uint32_t size);
[[nodiscard]] int32_t zel_file_write(zel_file_t *file, const void *buffer, uint32_t size);
/* -8 for a directory; on success the size is `size` and a position beyond it
 * comes back to it. */
[[nodiscard]] int32_t zel_file_resize(zel_file_t *file, uint64_t size);
uint64_t zel_file_tell(const zel_file_t *file);

enum { ZEL_SEEK_SET = 0, ZEL_SEEK_CUR = 1, ZEL_SEEK_END = 2 };
/* Target: offset from 0, from the position or from the size (any other
 * whence: the position). A file refuses a target beyond its size with -8; a
 * directory's target is an entry index. */
[[nodiscard]] int32_t zel_file_seek(zel_file_t *file, uint64_t offset, uint32_t whence);

/* -8 at once when `dir` is not a directory. */
[[nodiscard]] int32_t zel_file_create(zel_file_t *dir, const char *name, uint32_t attributes);
[[nodiscard]] int32_t zel_file_unlink(zel_file_t *dir, const char *name);
/* Renames within one volume (`new_dir` is `old_dir` for a rename in place;
 * no new name keeps the old one). Refused at once with -8, nothing started,
 * when the directories belong to different volumes or are not directories. */
[[nodiscard]] int32_t zel_file_rename(
    zel_file_t *old_dir, const char *old_name, zel_file_t *new_dir, const char *new_name);

/* Pumps bytes from a file's position into a stream, as the stream's writer. */
typedef struct zel_file_read_to_stream {
    zel_file_t *file;   /* filled by the caller */
    uint32_t remaining; /* bytes still to send */
    uint32_t sent;      /* bytes sent */
    zel_stream_t *stream;
    uint32_t chunk;    /* size of the chunk under way, 0 when none */
    void *area;        /* the stream's write area for that chunk */
    zel_eda_t *agent;  /* the agent doing the pump */
    uint8_t peer_gone; /* the reader disconnected */
} zel_file_read_to_stream_t;

/* Connects as the stream's writer, copies `size` bytes from the file into the
 * stream's write areas as they become free, then disconnects. Result 0 when
 * all were sent; the read's code when a read fails; -7 when the file ends or
 * the reader goes away first (`sent` tells how many went). The record must
 * stay valid until the result. */
[[nodiscard]] int32_t zel_file_read_to_stream(zel_file_read_to_stream_t *record, zel_stream_t *stream, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif

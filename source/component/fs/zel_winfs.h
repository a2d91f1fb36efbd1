/* winfs: a folder of the host's file system mounted into the tree.
 *
 * Every operation maps onto one or a few host calls (zel_host_file.h) and
 * answers in the same step. Host paths are UTF-8, joined with '/'. A node's
 * attributes come from the host: always readable; writable unless the mode
 * has no write bit or another open has claimed the file; a directory for a
 * folder; hidden when the name starts with '.'. Only regular files and folders are served; "." and ".." never
 * appear in listings and are never looked up.
 *
 * Mounting: the mounter prepares a zeroed zel_winfs_info_t whose name is the
 * host folder's path (relative paths are taken from the program's working
 * directory) and mounts it with
 *     zel_fs_mount(dir, &zel_winfs_op, &info->file);
 * The result is -4 when the path does not exist, -8 when it is not a folder.
 * The info record and its name stay the mounter's: they must outlive the
 * mount and are released by the mounter, never by this driver. With
 * read_only set in the info record the mount only reads the host: every node
 * lacks write access, files are opened for reading only, and write, resize,
 * create, unlink and rename answer -7 without touching the host.
 *
 * Codes: -4 not found, -6 no memory, -7 a host call failed (an existing name
 * for create and rename included), -8 a bad name or a mount root that is not
 * a folder, -9 the host has no file handle left (a lookup or a listing that
 * cannot go on says so rather than "not found" or "no more entries"). */
#ifndef ZEL_WINFS_H
#define ZEL_WINFS_H

#include "zel_fs.h"
#include "zel_host_file.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_winfs_file {
    zel_file_t file;
    /* A file: the host file opened by the lookup. A directory: its running
     * listing, or none. */
    zel_host_handle_t handle;
    char *path;     /* the full host path; the mount root's is its name */
    bool read_only; /* of a read-only mount, inherited from its root */
    /* A file opened for reading only because another open has claimed it
     * (zel_winfs_claim, here or in another program). */
    bool in_use;
} zel_winfs_file_t;

/* The mount data: the root of the mount. */
typedef zel_winfs_file_t zel_winfs_info_t;

extern const zel_fs_op_t zel_winfs_op;

/* Starts a listing of the directory and keeps it in the node (none when the
 * folder cannot be listed); answers the first raw entry's name or none. A
 * directory's position counts the raw entries its listing has consumed. */
const char *zel_winfs_find_first(zel_winfs_file_t *dir);

/* True when both nodes are winfs files open on one host file, however each
 * was reached (two lookups of a name give two nodes). */
bool zel_winfs_same_file(const zel_file_t *a, const zel_file_t *b);

/* True when `f` is a winfs file that could only be opened for reading
 * because another open has claimed its host file. */
bool zel_winfs_in_use(const zel_file_t *f);
/* Claims the host file behind a writable winfs file for this node alone
 * (zel_host_file_claim): the image file of a mounted volume. 0 when claimed
 * or when `f` is no writable winfs file (nothing to claim); -7 when another
 * open holds the file for writing or has claimed it. */
int zel_winfs_claim(zel_file_t *f);

void zel_winfs_mount(void *locals, zel_evt_t evt);
void zel_winfs_rename(void *locals, zel_evt_t evt);
void zel_winfs_close(void *locals, zel_evt_t evt);
void zel_winfs_read(void *locals, zel_evt_t evt);
void zel_winfs_write(void *locals, zel_evt_t evt);
void zel_winfs_resize(void *locals, zel_evt_t evt);
void zel_winfs_setpos(void *locals, zel_evt_t evt);
void zel_winfs_lookup(void *locals, zel_evt_t evt);
void zel_winfs_create(void *locals, zel_evt_t evt);
void zel_winfs_unlink(void *locals, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

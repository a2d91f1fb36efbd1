/* The in-memory file tree `vfs`: directories, files held in memory or served
 * by read and write callbacks, and mount points through which another
 * driver's volume appears in the tree. It is the root of the name space.
 *
 * The tree keeps one reference on each of its nodes from creation to unlink;
 * every open adds its own (zel_file.h). Unlinking a file that is still open
 * takes it out of its directory at once and releases it at its last close.
 * Directories that are open or not empty, and mount points, are not unlinked
 * (-7).
 *
 * A mount point is a directory whose mount fields name the mounted driver
 * table, its volume record and the mounted root; while ZEL_FILE_MOUNT is set,
 * lookup, create, unlink and setpos on it go to the mounted root, and its own
 * children stay hidden, untouched, until the unmount. */
#ifndef ZEL_VFS_H
#define ZEL_VFS_H

#include "zel_fs.h"
#include "zel_list.h"
#include "zel_sync.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_vfs_file {
    zel_file_t file;
    zel_dlist_node_t sibling; /* in the parent's child list */
    union {
        zel_dlist_t children; /* a directory */
        struct {
            /* The file's data buffer; nodes bound by the Linux layer may hold
             * an entry function or a socket's private part here instead. */
            void *data;
            /* Sub-call handlers run on the node with a zel_fs_rw_param_t
             * block; none for a plain in-memory file. */
            zel_eda_frame_handler_t read;
            zel_eda_frame_handler_t write;
        } bound;
    } u;
    /* Mount fields, valid while ZEL_FILE_MOUNT is set. */
    const zel_fs_op_t *mnt_driver;
    zel_file_t *mnt_volume; /* the volume record (its own volume) */
    zel_file_t *mnt_root;   /* set by the mounted driver's mount */
    /* The descriptor class the Linux layer's open gives this node (none: the
     * regular-file class). */
    const void *fd_class;
    /* The buffer this driver allocated for `data`; a data word that differs
     * from it was bound by someone else and is never resized or released
     * here. */
    void *owned;
} zel_vfs_file_t;

extern const zel_fs_op_t zel_vfs_op;
/* The root directory: its own volume, one reference, no name. */
extern zel_vfs_file_t zel_vfs_root;
/* Serialises path walks: a mutex (0x8001, 1). */
extern zel_sync_t zel_vfs_lock;

/* Sets up the root and the lock; later calls do nothing. Runs before any
 * file call. */
void zel_vfs_init(void);

/* The volume a lookup in `dir` belongs to: the mounted volume for a mount
 * point, else the directory's own. */
void *zel_vfs_dir_volume(zel_file_t *dir);
/* The node a lookup in `dir` runs on: the mounted root for a mount point,
 * else the directory itself. */
zel_file_t *zel_vfs_mounted_root(zel_file_t *dir);

/* The handlers of zel_vfs_op (reached through the table). */
void zel_vfs_mount(void *locals, zel_evt_t evt);
void zel_vfs_unmount(void *locals, zel_evt_t evt);
void zel_vfs_rename(void *locals, zel_evt_t evt);
void zel_vfs_close(void *locals, zel_evt_t evt);
void zel_vfs_read(void *locals, zel_evt_t evt);
void zel_vfs_write(void *locals, zel_evt_t evt);
void zel_vfs_resize(void *locals, zel_evt_t evt);
void zel_vfs_setpos(void *locals, zel_evt_t evt);
void zel_vfs_lookup(void *locals, zel_evt_t evt);
void zel_vfs_create(void *locals, zel_evt_t evt);
void zel_vfs_unlink(void *locals, zel_evt_t evt);

#ifdef __cplusplus
}
#endif

#endif

/* File objects and file-system driver tables.
 *
 * Every file and directory, whatever driver serves it, is a record that
 * begins with `zel_file_t`. A driver is a table of operations, `zel_fs_op_t`,
 * whose entries are agent handlers run as sub-calls on the node they concern.
 *
 * The driver contract
 * -------------------
 * An operation is started with
 *
 *     zel_eda_call_param(slot, (uintptr_t)target, local + sizeof(P), sizeof(P), &params)
 *
 * where `slot` is the table entry, `target` the node it works on, `P` the
 * operation's parameter block below and `local` the table's header byte for
 * that slot: the room the handler wants for its own locals, which follow the
 * copied parameter block in the frame. The handler, called as
 * handler(locals, event):
 *   - on 257 reads its target with zel_fs_target(locals) and its parameters
 *     from the start of `locals` (its own locals at locals + sizeof(P), zeroed);
 *   - finishes at once with zel_eda_return(result), or starts sub-calls of its
 *     own and finishes on a later 260 (zel_eda_get_return_value() holds the
 *     sub-call's answer); it keeps its step in zel_eda_get_state/set_state;
 *   - ignores events it does not wait for;
 *   - answers 0 or a count on success and a negative ZEL_FS_ERR_* on failure.
 * Slots a driver does not implement hold zel_op_not_support (-2) or
 * zel_op_succeed (0); no slot is ever null.
 *
 * What each slot may rely on (the file API in zel_file.h guarantees it):
 *   - lookup, create and unlink run on directories; read, write and resize on
 *     the node's current `position` (the API moves the position afterwards);
 *   - a lookup answers a node through its out-pointer: either a node the
 *     driver keeps (the in-memory tree's nodes) or a new record from
 *     zel_file_alloc with `references` 0; the API then sets its `parent` and
 *     `volume`, references it, and runs `close` and zel_file_free when its
 *     last reference goes;
 *   - close releases what the node owns (name and driver resources), never
 *     the record itself;
 *   - setpos stores the position it has set through the out-pointer; the API
 *     copies it into `position` when the answer is 0;
 *   - mount runs on the mount point, an in-memory directory (zel_vfs.h) whose
 *     `mnt_volume` is the driver's volume record: it answers 0 after setting
 *     the mount point's `mnt_root`, or a negative code; rename runs on that
 *     volume record, with directories of the volume (never mount points).
 *
 * Codes: -1 I/O failure of a file-backed block device, -2 not supported,
 * -4 not found, -5 read or write of a node bound to only the other callback,
 * -6 out of memory or an operation that cannot be started, -7 failure (bad
 * volume, I/O error, host call failed, a busy or non-empty node), -8 invalid
 * (element under a non-directory, seek beyond the end, resize of a directory,
 * rename across volumes, a bad name), -13 exists. */
#ifndef ZEL_FS_H
#define ZEL_FS_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_eda.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Plain numbers, so that they mix with counts in one answer. */
#define ZEL_FS_ERR_IO (-1)
#define ZEL_FS_ERR_NOT_SUPPORTED (-2)
#define ZEL_FS_ERR_NOT_FOUND (-4)
#define ZEL_FS_ERR_NOT_BOUND (-5)
#define ZEL_FS_ERR_NO_MEMORY (-6)
#define ZEL_FS_ERR_FAILED (-7)
#define ZEL_FS_ERR_INVALID (-8)
#define ZEL_FS_ERR_NO_HANDLES (-9) /* the host has no file handle left for it */
#define ZEL_FS_ERR_EXISTS (-13)

/* Attribute word. */
enum {
    ZEL_FILE_READABLE = 0x01,
    ZEL_FILE_WRITABLE = 0x02,
    ZEL_FILE_EXECUTABLE = 0x04,
    ZEL_FILE_HIDDEN = 0x08,
    ZEL_FILE_DIR = 0x10,
    ZEL_FILE_ALLOCATED = 0x80,  /* made by zel_file_alloc: only such records are freed */
    ZEL_FILE_MOUNT = 0x100,     /* set by the in-memory tree's mount only: mount fields valid */
    ZEL_FILE_EXCLUSIVE = 0x800, /* held by an exclusive open of the Linux layer */
    ZEL_FILE_SOCKET = 0x1000    /* a UNIX-domain socket's name */
};

struct zel_fs_op;

/* The common head of every node. */
typedef struct zel_file {
    uint32_t attributes;
    char *name;    /* UTF-8, owned by the node */
    uint64_t size; /* bytes */
    const struct zel_fs_op *driver;
    void *volume;            /* the volume record of the node's file system */
    struct zel_file *parent; /* the directory it was last looked up in */
    uint64_t position;       /* file: byte offset; directory: index of the next entry */
    uint32_t references;     /* the node's holders and those of every node below it */
    uint32_t opens;          /* holders of this node itself (opens not yet closed) */
} zel_file_t;

/* Parameter blocks, one per operation. The frame of a slot is its header byte
 * plus sizeof the block. */
typedef struct zel_fs_none_param { /* mount, unmount, close: nothing */
    uint32_t unused;
} zel_fs_none_param_t;

typedef struct zel_fs_rename_param { /* rename; target: the volume record */
    zel_file_t *old_dir;
    const char *old_name;
    zel_file_t *new_dir;  /* the old directory for a rename in place */
    const char *new_name; /* none: the node keeps its name */
} zel_fs_rename_param_t;

typedef struct zel_fs_rw_param { /* read, write (and the in-memory node callbacks) */
    void *buffer;
    uint32_t size;
} zel_fs_rw_param_t; /* answers the count moved */

typedef struct zel_fs_resize_param {
    uint64_t size;
} zel_fs_resize_param_t;

typedef struct zel_fs_setpos_param {
    uint64_t position;
    uint64_t *out; /* receives the position set */
} zel_fs_setpos_param_t;

typedef struct zel_fs_lookup_param { /* target: a directory */
    const char *name;                /* an element, possibly followed by '/' or '\\' and more;
                                        none: the entry at the directory's position */
    zel_file_t **out;                /* receives the node, none when not found */
} zel_fs_lookup_param_t;

typedef struct zel_fs_create_param { /* target: a directory */
    const char *name;
    uint32_t attributes;
} zel_fs_create_param_t;

typedef struct zel_fs_unlink_param { /* target: a directory */
    const char *name;
} zel_fs_unlink_param_t;

/* Indexes into the header bytes of each group. */
enum { ZEL_FS_MOUNT = 0, ZEL_FS_UNMOUNT = 1, ZEL_FS_RENAME = 2 };
enum { ZEL_FS_CLOSE = 0, ZEL_FS_READ = 1, ZEL_FS_WRITE = 2, ZEL_FS_RESIZE = 3, ZEL_FS_SETPOS = 4 };
enum { ZEL_FS_LOOKUP = 0, ZEL_FS_CREATE = 1, ZEL_FS_UNLINK = 2, ZEL_FS_SPARE = 3 };

/* The driver table: three groups, each preceded by the byte-sized local-area
 * sizes of its operations, in slot order. */
typedef struct zel_fs_op {
    uint8_t volume_local[4];
    zel_eda_frame_handler_t mount;   /* target: the mount-point directory */
    zel_eda_frame_handler_t unmount; /* target: the mount-point directory */
    zel_eda_frame_handler_t rename;  /* target: the volume record */
    uint8_t file_local[8];
    zel_eda_frame_handler_t close;
    zel_eda_frame_handler_t read;
    zel_eda_frame_handler_t write;
    zel_eda_frame_handler_t resize;
    zel_eda_frame_handler_t setpos;
    uint8_t dir_local[4];
    zel_eda_frame_handler_t lookup;
    zel_eda_frame_handler_t create;
    zel_eda_frame_handler_t unlink;
    zel_eda_frame_handler_t spare; /* never called: zel_op_not_support */
} zel_fs_op_t;

/* The node an operation works on, inside its handler. */
static inline zel_file_t *zel_fs_target(const void *locals) { return (zel_file_t *)zel_eda_locals_param(locals); }

/* Stock handlers: answer -2 and 0. */
void zel_op_not_support(void *locals, zel_evt_t evt);
void zel_op_succeed(void *locals, zel_evt_t evt);

/* A zeroed heap record of `size` bytes with ZEL_FILE_ALLOCATED set; none on
 * no memory. */
zel_file_t *zel_file_alloc(uint32_t size);
/* Releases the record when it carries ZEL_FILE_ALLOCATED. */
void zel_file_free(zel_file_t *file);
/* The reference count, 0 for none. */
uint32_t zel_file_get_ref(const zel_file_t *file);
/* One more reference on the parent and every ancestor (not the node);
 * answers the parent. */
zel_file_t *zel_file_ref_parents(zel_file_t *file);
/* The part after the last '/' or '\\', or the whole path. */
const char *zel_file_getfilename(const char *path);
bool zel_file_is_div(char c);
/* True when `element` begins with `name` followed by NUL, '/' or '\\'. */
bool zel_file_is_match(const char *element, const char *name);

#ifdef __cplusplus
}
#endif

#endif

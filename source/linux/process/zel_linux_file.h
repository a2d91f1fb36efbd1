/* POSIX file calls of the layer over the file API, the regular-file
 * descriptor class, directory streams and mount.
 *
 * Every call resolves its path against the calling process's working
 * directory (zel_linux_generate_path) and runs the file API from the calling
 * thread: these calls block a framework thread and are not for agents.
 * Failures answer -1 and set errno only to 2 (missing path), 17 (O_CREAT
 * with O_EXCL on an existing path), 20 (O_DIRECTORY on a non-directory) or
 * 12 (no memory for a descriptor record).
 *
 * open, creat, close, fcntl, lseek, ftruncate, stat, fstat, access, mkdir,
 * unlink, remove, rename (as rename_checked), opendir, readdir and closedir
 * are declared in zel_linux_libc.h. */
#ifndef ZEL_LINUX_FILE_H
#define ZEL_LINUX_FILE_H

#include <stdint.h>

#include "zel_file.h"
#include "zel_linux_fd.h"
#include "zel_linux_libc.h"

extern "C" {

/* The private part of a regular-file descriptor. Classes that open() gives
 * to bound nodes (device files) begin their private part with this too:
 * open stores the node in `file`. */
typedef struct zel_linux_file_priv {
    zel_linux_fd_priv_t head;
    zel_file_t *file;
    zel_linux_dirent dirent; /* what readdir answers */
    zel_file_t *entry;       /* the entry node readdir holds until the next call */
} zel_linux_file_priv_t;

extern const zel_linux_fd_op_t zel_linux_file_op;

zel_linux_ssize_t zel_linux_file_read(zel_linux_fd_t *fd, void *buffer, size_t count);
zel_linux_ssize_t zel_linux_file_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
[[nodiscard]] int zel_linux_file_close(zel_linux_fd_t *fd);
int zel_linux_file_eof(zel_linux_fd_t *fd);

/* The node behind a regular-file descriptor of the current process, or null. */
zel_file_t *zel_linux_fd_file(int fd);

/* close() for a given process (null: the current one): the class's close
 * answer when this was the last reference to the private part, else 0;
 * -1 for a number that is not open. */
[[nodiscard]] int zel_linux_fd_close_in_process(zel_linux_process_t *process, int fd);

/* The attribute word of the in-memory node behind a regular-file descriptor
 * (0), or -1; set_attr ORs bits into it. */
[[nodiscard]] int zel_linux_fd_get_attr(int fd, uint32_t *attributes);
[[nodiscard]] int zel_linux_fd_set_attr(int fd, uint32_t bits);

/* fstat and stat report descriptors of other classes (the sockets) with the
 * mode registered for their class; unregistered classes fail. At most 8. */
[[nodiscard]] int zel_linux_stat_register_class(const zel_linux_fd_op_t *op, uint32_t mode);

/* unlink with an attribute mask: a non-zero mask requires the node to carry
 * one of its bits. A directory that is open elsewhere or not empty is
 * refused. unlink and remove are this with 0. */
[[nodiscard]] int zel_linux_unlink_masked(const char *path, uint32_t mask);
[[nodiscard]] int zel_linux_rename(const char *from, const char *to);
/* One node with the given attributes in its existing parent; 0 or -1. */
[[nodiscard]] int zel_linux_vfs_mkdir(const char *path, uint32_t attributes);
/* A directory and every missing parent; 0 or -1. */
[[nodiscard]] int zel_linux_mkdir_by_open(const char *path, zel_linux_mode_t mode);
/* The process's working directory (kept with a final '/'); 0 or -1, and
 * the old directory stays when the copy cannot be made. */
[[nodiscard]] int zel_linux_chdir(zel_linux_process_t *process, const char *path);

/* Mounts `fs` with the volume record `data` on the directory `target`; with
 * a null table `data` is a block device whose FAT partitions are mounted
 * there. 0 or -1. */
[[nodiscard]] int zel_linux_mount(
    const char *source, const char *target, const zel_fs_op_t *fs, unsigned long flags, void *data);

}  // extern "C"

#endif

/* Bound nodes: in-memory files that carry a target instead of (or beside)
 * data: an entry function (commands under "/bin"), a socket's private part
 * (UNIX-domain socket names), a data buffer served by the buffer callbacks,
 * read and write callbacks (device files), or a descriptor class of their
 * own that open() gives them. */
#ifndef ZEL_LINUX_BIND_H
#define ZEL_LINUX_BIND_H

#include <stdint.h>

#include "zel_eda.h"
#include "zel_linux_fd.h"

extern "C" {

/* 0 and the node's target in `out` (may be null) for a regular-file
 * descriptor over a non-directory in-memory node; else -1. */
[[nodiscard]] int zel_linux_fs_get_target(int fd, void **out);
/* Replaces target, read and write callbacks of the in-memory node behind a
 * regular-file descriptor; 0 or -1. */
[[nodiscard]] int zel_linux_fs_set_target(
    int fd, void *target, zel_eda_frame_handler_t read, zel_eda_frame_handler_t write);
/* Opens the path and answers its node's target (a bound UNIX socket's
 * private part); 0 or -1. */
[[nodiscard]] int zel_linux_socket_node_open(const char *path, void **out);
/* Makes (with its missing directories) or reuses the file and binds it:
 * target, class (null: the regular-file class), callbacks, attributes and
 * size. 0, or -1 after printing "fail to create %s.\r\n". */
[[nodiscard]] int zel_linux_fs_bind_target(const char *path, void *target, const zel_linux_fd_op_t *op,
    zel_eda_frame_handler_t read, zel_eda_frame_handler_t write, uint32_t attributes, uint64_t size);
/* A node served from `buffer` (which the caller keeps alive): reads and
 * writes stop at the size (0 there: the end of the data), and writes need
 * the writable attribute (-1 without it). */
[[nodiscard]] int zel_linux_fs_bind_buffer(const char *path, void *buffer, uint32_t attributes, uint64_t size);
/* The buffer callbacks (sub-calls with a zel_fs_rw_param_t block). */
void zel_linux_fs_buffer_read(void *locals, zel_evt_t evt);
void zel_linux_fs_buffer_write(void *locals, zel_evt_t evt);

}  // extern "C"

#endif

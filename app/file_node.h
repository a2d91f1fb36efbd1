/* The files behind the commands' descriptors and the mount command's image
 * devices: whether two of them are one file, and whether one may be
 * written.
 *
 * Two opens of one path give one node in the in-memory tree but two nodes
 * on a host folder or a FAT volume; a host file can also be reached through
 * two folders. These tests see through all of that.
 *
 * This header is plain C and usable by code built against the layer's own
 * C library headers. */
#ifndef FILE_NODE_H
#define FILE_NODE_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

struct zel_file;

/* True when both nodes are one file (or one directory). */
bool file_node_same(const struct zel_file *a, const struct zel_file *b);
/* The same for two descriptors of the current process; false when either is
 * not a file's. */
bool file_node_same_fd(int a, int b);
/* True when the file behind the descriptor may be written: false for a file
 * that is read-only (on a FAT volume, or on the host), for a directory and
 * for a descriptor that is not a file's. */
bool file_node_writable_fd(int fd);
/* True when the descriptor is a directory's. */
bool file_node_is_dir_fd(int fd);
/* True when the file could be opened for reading only because the image
 * file of a mounted volume is claimed by its mount (here or in another
 * program) or by the simulated adapter. */
bool file_node_in_use(const struct zel_file *node);
bool file_node_in_use_fd(int fd);

#ifdef __cplusplus
}
#endif

#endif

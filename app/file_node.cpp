// Whether two nodes are one file, over the drivers that make more than one
// node for a file.
#include "file_node.h"

#include "zel_fatfs.h"
#include "zel_linux_file.h"
#include "zel_winfs.h"

extern "C" {

bool file_node_same(const zel_file_t *a, const zel_file_t *b) {
    if (!a || !b) return false;
    return a == b || zel_winfs_same_file(a, b) || zel_fatfs_same_file(a, b);
}

bool file_node_same_fd(int a, int b) { return file_node_same(zel_linux_fd_file(a), zel_linux_fd_file(b)); }

bool file_node_writable_fd(int fd) {
    const zel_file_t *node = zel_linux_fd_file(fd);
    return node && !(node->attributes & ZEL_FILE_DIR) && (node->attributes & ZEL_FILE_WRITABLE);
}

bool file_node_in_use(const zel_file_t *node) { return zel_winfs_in_use(node); }

bool file_node_in_use_fd(int fd) { return file_node_in_use(zel_linux_fd_file(fd)); }

bool file_node_is_dir_fd(int fd) {
    const zel_file_t *node = zel_linux_fd_file(fd);
    return node && (node->attributes & ZEL_FILE_DIR);
}

}  // extern "C"

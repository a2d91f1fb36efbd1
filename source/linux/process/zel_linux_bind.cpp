// Bound nodes of the in-memory tree.
#include "zel_linux_bind.h"

#include <stdio.h>
#include <string.h>

#include "zel_linux_file.h"
#include "zel_linux_process.h"
#include "zel_vfs.h"

namespace {

zel_vfs_file_t *bound_node(int fd) {
    zel_file_t *node = zel_linux_fd_file(fd);
    if (!node || node->driver != &zel_vfs_op) return nullptr;
    return reinterpret_cast<zel_vfs_file_t *>(node);
}

// The part of the request that lies inside the buffer: 0 at or past its end.
uint32_t span(const zel_file_t *node, uint32_t size) {
    if (node->position >= node->size) return 0;
    uint64_t left = node->size - node->position;
    return left < size ? static_cast<uint32_t>(left) : size;
}

}  // namespace

extern "C" {

int zel_linux_fs_get_target(int fd, void **out) {
    zel_vfs_file_t *node = bound_node(fd);
    if (!node || (node->file.attributes & ZEL_FILE_DIR)) return -1;
    if (out) *out = node->u.bound.data;
    return 0;
}

int zel_linux_fs_set_target(int fd, void *target, zel_eda_frame_handler_t read, zel_eda_frame_handler_t write) {
    zel_vfs_file_t *node = bound_node(fd);
    if (!node || (node->file.attributes & ZEL_FILE_DIR)) return -1;
    node->u.bound.data = target;
    node->u.bound.read = read;
    node->u.bound.write = write;
    return 0;
}

int zel_linux_socket_node_open(const char *path, void **out) {
    int fd = zel_linux_open(path, 0);
    if (fd < 0) return -1;
    int r = zel_linux_fs_get_target(fd, out);
    zel_linux_close(fd);
    return r;
}

int zel_linux_fs_bind_target(const char *path, void *target, const zel_linux_fd_op_t *op, zel_eda_frame_handler_t read,
    zel_eda_frame_handler_t write, uint32_t attributes, uint64_t size) {
    int fd = zel_linux_open(path, 0);
    if (fd < 0) fd = zel_linux_open(path, ZEL_LINUX_O_CREAT | ZEL_LINUX_O_TRUNC | ZEL_LINUX_O_WRONLY);
    if (fd < 0) {
        char line[ZEL_LINUX_PATH_MAX + 32];
        int n = snprintf(line, sizeof line, "fail to create %s.\r\n", path ? path : "");
        if (n > 0) zel_linux_write(1, line, strlen(line));
        return -1;
    }
    int r = zel_linux_fs_set_target(fd, target, read, write);
    if (r == 0) {
        zel_vfs_file_t *node = bound_node(fd);
        // The tree's own bookkeeping bits stay; the rest is the binding's.
        uint32_t kept = node->file.attributes & (ZEL_FILE_ALLOCATED | ZEL_FILE_MOUNT);
        node->file.attributes = kept | attributes;
        node->file.size = size;
        node->fd_class = op;
    }
    zel_linux_close(fd);
    return r;
}

int zel_linux_fs_bind_buffer(const char *path, void *buffer, uint32_t attributes, uint64_t size) {
    return zel_linux_fs_bind_target(
        path, buffer, nullptr, zel_linux_fs_buffer_read, zel_linux_fs_buffer_write, attributes, size);
}

void zel_linux_fs_buffer_read(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    const zel_fs_rw_param_t *rw = static_cast<const zel_fs_rw_param_t *>(locals);
    zel_vfs_file_t *node = reinterpret_cast<zel_vfs_file_t *>(zel_fs_target(locals));
    uint32_t n = span(&node->file, rw->size);
    if (n) memcpy(rw->buffer, static_cast<const char *>(node->u.bound.data) + node->file.position, n);
    zel_eda_return(n);
}

void zel_linux_fs_buffer_write(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    const zel_fs_rw_param_t *rw = static_cast<const zel_fs_rw_param_t *>(locals);
    zel_vfs_file_t *node = reinterpret_cast<zel_vfs_file_t *>(zel_fs_target(locals));
    if (!(node->file.attributes & ZEL_FILE_WRITABLE)) {
        zel_eda_return(static_cast<uintptr_t>(static_cast<intptr_t>(-1)));
        return;
    }
    uint32_t n = span(&node->file, rw->size);
    if (n) memcpy(static_cast<char *>(node->u.bound.data) + node->file.position, rw->buffer, n);
    zel_eda_return(n);
}

int zel_linux_is_executable(const char *path, zel_linux_main_t *main_out) {
    int fd = zel_linux_open(path, 0);
    if (fd < 0) return -1;
    uint32_t attributes = 0;
    void *target = nullptr;
    if (zel_linux_fd_get_attr(fd, &attributes) != 0 || !(attributes & ZEL_FILE_EXECUTABLE) ||
        zel_linux_fs_get_target(fd, &target) != 0 || !target) {
        zel_linux_close(fd);
        return -1;
    }
    if (main_out) *main_out = reinterpret_cast<zel_linux_main_t>(target);
    return fd;
}

int zel_linux_bind_executable(int fd, zel_linux_main_t main) {
    if (zel_linux_fs_set_target(fd, reinterpret_cast<void *>(main), nullptr, nullptr) != 0) return -1;
    return zel_linux_fd_set_attr(fd, ZEL_FILE_EXECUTABLE);
}

}  // extern "C"

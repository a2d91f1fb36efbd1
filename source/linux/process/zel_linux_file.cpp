// POSIX file calls over the file API, the regular-file class and mount.
#include "zel_linux_file.h"

#include <stdarg.h>
#include <string.h>

#include "zel_linux_process.h"
#include "zel_linux_stream_fd.h"
#include "zel_mal_mbr.h"
#include "zel_vfs.h"

namespace {

constexpr uint32_t kDirAttributes = ZEL_FILE_DIR | ZEL_FILE_WRITABLE | ZEL_FILE_READABLE;
constexpr uint32_t kFileAttributes = ZEL_FILE_WRITABLE | ZEL_FILE_READABLE;

// The result of a file API call made from a thread.
int32_t run(int32_t started) { return started == 0 ? static_cast<int32_t>(zel_eda_get_return_code()) : started; }

// The absolute, normalised form of a caller's path.
struct abs_path {
    char text[ZEL_LINUX_PATH_MAX];
    bool ok;
    explicit abs_path(const char *path)
        : ok(path && *path && zel_linux_generate_path(text, sizeof text, nullptr, path) == 0) {}
};

// An open node of the file tree, released when it goes out of scope.
class node_ref {
public:
    node_ref() = default;
    explicit node_ref(const char *absolute) { open(absolute); }
    node_ref(const node_ref &) = delete;
    node_ref &operator=(const node_ref &) = delete;
    ~node_ref() { reset(); }
    bool open(const char *absolute) {
        reset();
        zel_file_t *n = nullptr;
        error_ = run(zel_file_open(nullptr, absolute, &n));
        if (error_ == 0) node_ = n;
        return node_ != nullptr;
    }
    // The file API's answer to the last open (0 when it found the node).
    int32_t error() const { return error_; }
    void reset() {
        if (node_) run(zel_file_close(node_));
        node_ = nullptr;
    }
    zel_file_t *release() {
        zel_file_t *n = node_;
        node_ = nullptr;
        return n;
    }
    zel_file_t *get() const { return node_; }
    zel_file_t *operator->() const { return node_; }
    explicit operator bool() const { return node_ != nullptr; }

private:
    zel_file_t *node_ = nullptr;
    int32_t error_ = 0;
};

// A file API answer that tells a want of resources becomes errno (true);
// other answers leave errno alone (false).
bool shortage(int32_t code) {
    if (code == ZEL_FS_ERR_NO_MEMORY) {
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return true;
    }
    if (code == ZEL_FS_ERR_NO_HANDLES) {
        zel_linux_set_errno(ZEL_LINUX_EMFILE);
        return true;
    }
    return false;
}

// Splits "/a/b/c" (or "/a/b/c/") into the parent "/a/b" and the name "c",
// in place in `buf`. False for the root itself.
bool split(char *buf, const char **parent, const char **name) {
    size_t n = strlen(buf);
    while (n > 1 && buf[n - 1] == '/') buf[--n] = '\0';
    char *slash = strrchr(buf, '/');
    if (!slash || slash[1] == '\0') return false;
    *name = slash + 1;
    if (slash == buf) {
        *parent = "/";
    } else {
        *slash = '\0';
        *parent = buf;
    }
    return true;
}

// True when the caller's path can only name a directory: it ends in '/' or
// its last component is "." or "..".
bool names_directory(const char *path) {
    size_t n = strlen(path);
    if (path[n - 1] == '/') return true;
    const char *last = strrchr(path, '/');
    last = last ? last + 1 : path;
    return strcmp(last, ".") == 0 || strcmp(last, "..") == 0;
}

int fail(int error) {
    zel_linux_set_errno(error);
    return -1;
}

// Creates the last component of an absolute path in its existing parent.
int32_t create_in_parent(const char *absolute, uint32_t attributes) {
    char buf[ZEL_LINUX_PATH_MAX];
    strcpy(buf, absolute);
    const char *parent_path;
    const char *name;
    if (!split(buf, &parent_path, &name)) return ZEL_FS_ERR_INVALID;
    node_ref parent(parent_path);
    if (!parent) return ZEL_FS_ERR_NOT_FOUND;
    return run(zel_file_create(parent.get(), name, attributes));
}

// Creates every missing directory on the way to `absolute`, then the last
// component itself.
bool create_path(const char *absolute, uint32_t attributes) {
    char buf[ZEL_LINUX_PATH_MAX];
    strcpy(buf, absolute);
    size_t n = strlen(buf);
    while (n > 1 && buf[n - 1] == '/') buf[--n] = '\0';
    for (char *slash = strchr(buf + 1, '/'); slash; slash = strchr(slash + 1, '/')) {
        *slash = '\0';
        node_ref present(buf);
        if (!present && create_in_parent(buf, kDirAttributes) != 0) return false;
        *slash = '/';
    }
    return create_in_parent(buf, attributes) == 0;
}

// Cuts the separators at the end of a normalised path (the root stays).
char *without_trailing(char *path) {
    size_t n = strlen(path);
    while (n > 1 && path[n - 1] == '/') path[--n] = '\0';
    return path;
}

zel_linux_file_priv_t *fp(zel_linux_fd_t *fd) { return reinterpret_cast<zel_linux_file_priv_t *>(fd->priv); }

zel_linux_fd_t *regular(int fd) {
    zel_linux_fd_t *rec = zel_linux_fd_get(fd);
    return (rec && rec->op == &zel_linux_file_op) ? rec : nullptr;
}

// A regular-file descriptor for a call that runs the file API: -1 with errno
// 9 when the number is not open (a close from another thread came first).
zel_linux_fd_t *regular_for_call(int fd) {
    zel_linux_fd_t *rec = zel_linux_fd_get(fd);
    if (!rec) zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
    return (rec && rec->op == &zel_linux_file_op) ? rec : nullptr;
}

// Whether the number still names a descriptor of the current process on
// this part.
bool names_part(int number, const zel_linux_fd_priv_t *priv) {
    const zel_linux_fd_t *now = zel_linux_fd_get(number);
    return now && now->priv == priv;
}

bool is_vfs(const zel_file_t *node) { return node && node->driver == &zel_vfs_op; }

uint32_t clamp(size_t n) { return n > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(n); }

struct stat_class {
    const zel_linux_fd_op_t *op;
    uint32_t mode;
};
stat_class g_stat_classes[8] = {
    {&zel_linux_pipe_rx_op, ZEL_LINUX_S_IFIFO},
    {&zel_linux_pipe_tx_op, ZEL_LINUX_S_IFIFO},
};

int fill_stat(zel_linux_fd_t *fd, struct zel_linux_stat *out) {
    memset(out, 0, sizeof *out);
    if (fd->op == &zel_linux_file_op) {
        zel_file_t *node = fp(fd)->file;
        if (node->attributes & ZEL_FILE_DIR)
            out->st_mode = ZEL_LINUX_S_IFDIR | 0777;
        else if (node->attributes & ZEL_FILE_SOCKET)
            out->st_mode = ZEL_LINUX_S_IFSOCK | 0777;
        else
            out->st_mode = ZEL_LINUX_S_IFREG | 0777;
        out->st_size = static_cast<zel_linux_off_t>(node->size);
        return 0;
    }
    for (const stat_class &c : g_stat_classes) {
        if (c.op && c.op == fd->op) {
            out->st_mode = c.mode;
            return 0;
        }
    }
    return -1;
}

// True when the directory holds at least one entry.
bool has_entries(zel_file_t *dir) {
    zel_file_t *entry = nullptr;
    if (run(zel_file_open(dir, nullptr, &entry)) != 0) return false;
    run(zel_file_close(entry));
    return true;
}

}  // namespace

extern "C" {

const zel_linux_fd_op_t zel_linux_file_op = {
    .priv_size = sizeof(zel_linux_file_priv_t),
    .init = nullptr,
    .fcntl = zel_linux_fd_fcntl_zero,
    .read = zel_linux_file_read,
    .write = zel_linux_file_write,
    .close = zel_linux_file_close,
    .eof = zel_linux_file_eof,
};

zel_linux_ssize_t zel_linux_file_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    zel_file_t *node = fp(fd)->file;
    if (node->attributes & ZEL_FILE_DIR) return fail(ZEL_LINUX_EISDIR);
    if (count == 0) return 0;
    char *bytes = static_cast<char *>(buffer);
    size_t total = 0;
    while (total < count) {
        uint32_t want = clamp(count - total);
        int32_t n = run(zel_file_read(node, bytes + total, want));
        if (n == 0) break;
        if (n < 0) return total ? static_cast<zel_linux_ssize_t>(total) : -1;
        total += static_cast<uint32_t>(n);
    }
    return static_cast<zel_linux_ssize_t>(total);
}

zel_linux_ssize_t zel_linux_file_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    // Opened for reading only.
    if (!(fd->priv->status & (ZEL_LINUX_O_WRONLY | ZEL_LINUX_O_RDWR))) return fail(ZEL_LINUX_EBADF);
    if (count == 0) return 0;
    zel_file_t *node = fp(fd)->file;
    const char *bytes = static_cast<const char *>(buffer);
    size_t total = 0;
    while (total < count) {
        int32_t n = run(zel_file_write(node, bytes + total, clamp(count - total)));
        if (n < 0) return -1;
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    return static_cast<zel_linux_ssize_t>(total);
}

int zel_linux_file_close(zel_linux_fd_t *fd) {
    zel_linux_file_priv_t *f = fp(fd);
    if (f->entry) run(zel_file_close(f->entry));
    f->entry = nullptr;
    if (f->file) {
        f->file->attributes &= ~static_cast<uint32_t>(ZEL_FILE_EXCLUSIVE);
        run(zel_file_close(f->file));
        f->file = nullptr;
    }
    return 0;
}

int zel_linux_file_eof(zel_linux_fd_t *fd) {
    zel_file_t *node = fp(fd)->file;
    return node->position == node->size;
}

zel_file_t *zel_linux_fd_file(int fd) {
    zel_linux_fd_t *rec = regular(fd);
    return rec ? fp(rec)->file : nullptr;
}

int zel_linux_open(const char *path, int flags, ...) {
    abs_path p(path);
    if (!p.ok || (flags & ZEL_LINUX_O_NONBLOCK)) return -1;
    node_ref node(p.text);
    if (node && (flags & ZEL_LINUX_O_CREAT) && (flags & ZEL_LINUX_O_EXCL)) {
        zel_linux_set_errno(ZEL_LINUX_EEXIST);
        return -1;
    }
    if (!node) {
        // Present or not, it cannot be looked at now.
        if (shortage(node.error())) return -1;
        if (!(flags & ZEL_LINUX_O_CREAT)) {
            zel_linux_set_errno(ZEL_LINUX_ENOENT);
            return -1;
        }
        // Only a directory can have such a name: no file is made of it.
        if (!(flags & ZEL_LINUX_O_DIRECTORY) && names_directory(path)) return fail(ZEL_LINUX_EISDIR);
        if (!create_path(p.text, (flags & ZEL_LINUX_O_DIRECTORY) ? kDirAttributes : kFileAttributes)) return -1;
        if (!node.open(p.text)) {
            zel_linux_set_errno(ZEL_LINUX_ENOENT);
            return -1;
        }
    }
    if (node->attributes & ZEL_FILE_EXCLUSIVE) return -1;
    if ((node->attributes & ZEL_FILE_DIR) && (flags & (ZEL_LINUX_O_WRONLY | ZEL_LINUX_O_RDWR)))
        return fail(ZEL_LINUX_EISDIR);
    const zel_linux_fd_op_t *op = &zel_linux_file_op;
    if (is_vfs(node.get()) && !(node->attributes & ZEL_FILE_DIR)) {
        const auto *bound =
            static_cast<const zel_linux_fd_op_t *>(reinterpret_cast<zel_vfs_file_t *>(node.get())->fd_class);
        if (bound) op = bound;
    }
    zel_linux_fd_t *fd = nullptr;
    int number = zel_linux_fd_create(&fd, op);
    if (number < 0) return -1;
    fd->priv->status = static_cast<uint32_t>(flags);
    fp(fd)->file = node.release();
    // A device that cannot be set up (a serial port that refuses its
    // configuration) is not opened.
    if (op->init && op->init(fd) != 0) {
        zel_linux_close(number);
        zel_linux_set_errno(ZEL_LINUX_EIO);
        return -1;
    }
    zel_file_t *file = fp(fd)->file;
    if ((flags & ZEL_LINUX_O_DIRECTORY) && !(file->attributes & ZEL_FILE_DIR)) {
        zel_linux_close(number);
        zel_linux_set_errno(ZEL_LINUX_ENOTDIR);
        return -1;
    }
    if (flags & ZEL_LINUX_O_APPEND) run(zel_file_seek(file, 0, ZEL_SEEK_END));
    if (flags & ZEL_LINUX_O_EXCL) file->attributes |= ZEL_FILE_EXCLUSIVE;
    if (flags & ZEL_LINUX_O_CLOEXEC) fd->fd_flags = ZEL_LINUX_FD_CLOEXEC;
    if ((flags & ZEL_LINUX_O_TRUNC) && (flags & (ZEL_LINUX_O_WRONLY | ZEL_LINUX_O_RDWR)))
        zel_linux_ftruncate(number, 0);
    return number;
}

int zel_linux_creat(const char *path, zel_linux_mode_t) {
    return zel_linux_open(path, ZEL_LINUX_O_CREAT | ZEL_LINUX_O_TRUNC | ZEL_LINUX_O_WRONLY);
}

int zel_linux_fd_close_in_process(zel_linux_process_t *process, int number) {
    zel_linux_fd_t *fd = zel_linux_fd_get_in_process(process, number);
    if (!fd) {
        zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
        return -1;
    }
    // The number goes first (waking whoever waits on the part): the class's
    // close may wait inside the file API, and a call starting meanwhile must
    // not find a part that is about to be freed. The close runs on a copy.
    zel_linux_fd_t gone = *fd;
    zel_linux_fd_delete_in_process(process, number);
    zel_linux_fd_priv_t *priv = gone.priv;
    if (--priv->refs != 0) return 0;
    int r = (gone.op && gone.op->close) ? gone.op->close(&gone) : 0;
    zel_linux_fd_priv_free(priv);
    return r;
}

int zel_linux_close(int fd) { return zel_linux_fd_close_in_process(nullptr, fd); }

int zel_linux_fcntl(int number, int command, ...) {
    va_list args;
    va_start(args, command);
    uintptr_t arg = va_arg(args, uintptr_t);
    va_end(args);
    zel_linux_fd_t *fd = zel_linux_fd_get(number);
    if (!fd) return -1;
    auto cls = [fd](int cmd, uintptr_t value) { return (fd->op && fd->op->fcntl) ? fd->op->fcntl(fd, cmd, value) : 0; };
    int value = static_cast<int>(static_cast<intptr_t>(arg));
    switch (command) {
    case ZEL_LINUX_F_DUPFD:
        // The whole argument counts: a number past what an int holds is no
        // descriptor number, whatever its low bits say.
        if (value < 0 || value >= ZEL_LINUX_FD_MAX || arg != static_cast<uintptr_t>(value))
            return fail(ZEL_LINUX_EINVAL);
        return zel_linux_fd_create_ex(nullptr, nullptr, fd->op, value, fd->priv);
    case ZEL_LINUX_F_GETFD: return static_cast<int>(fd->fd_flags);
    case ZEL_LINUX_F_SETFD: {
        uint32_t changed = fd->fd_flags ^ static_cast<uint32_t>(value);
        fd->fd_flags = static_cast<uint32_t>(value);
        return cls(ZEL_LINUX_F_SETFD, changed);
    }
    case ZEL_LINUX_F_GETFL: return static_cast<int>(fd->priv->status);
    case ZEL_LINUX_F_SETFL: {
        uint32_t changed = fd->priv->status ^ static_cast<uint32_t>(value);
        fd->priv->status = static_cast<uint32_t>(value);
        return cls(ZEL_LINUX_F_SETFL, changed);
    }
    default: return cls(command, arg);
    }
}

zel_linux_off_t zel_linux_lseek(int number, zel_linux_off_t offset, int whence) {
    zel_linux_fd_t *fd = regular_for_call(number);
    if (!fd) return -1;
    zel_linux_fd_call call(fd);
    zel_file_t *node = fp(call.rec())->file;
    if (run(zel_file_seek(node, static_cast<uint64_t>(offset), static_cast<uint32_t>(whence))) != 0) return -1;
    return static_cast<zel_linux_off_t>(node->position);
}

int zel_linux_ftruncate(int number, zel_linux_off_t length) {
    zel_linux_fd_t *fd = regular_for_call(number);
    if (!fd || length < 0) return -1;
    zel_linux_fd_call call(fd);
    // -1 on failure, as every call of the C library answers.
    return run(zel_file_resize(fp(call.rec())->file, static_cast<uint64_t>(length))) == 0 ? 0 : -1;
}

int zel_linux_fstat(int number, struct zel_linux_stat *out) {
    zel_linux_fd_t *fd = zel_linux_fd_get(number);
    if (!fd) {
        zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
        return -1;
    }
    if (!out) return -1;
    zel_linux_fd_call call(fd);
    return fill_stat(call.rec(), out);
}

int zel_linux_stat(const char *path, struct zel_linux_stat *out) {
    if (!path || !*path || !out) return -1;
    int fd = zel_linux_open(path, 0);
    if (fd < 0) return -1;
    int r = zel_linux_fstat(fd, out);
    zel_linux_close(fd);
    return r;
}

int zel_linux_stat_register_class(const zel_linux_fd_op_t *op, uint32_t mode) {
    for (stat_class &c : g_stat_classes) {
        if (c.op == op || !c.op) {
            c.op = op;
            c.mode = mode;
            return 0;
        }
    }
    return -1;
}

int zel_linux_access(const char *path, int mode) {
    int fd = zel_linux_open(path, 0);
    if (fd < 0) return -1;
    int r = 0;
    if (mode) {
        zel_file_t *node = zel_linux_fd_file(fd);
        uint32_t a = node ? node->attributes : 0;
        if (!node || ((mode & ZEL_LINUX_R_OK) && !(a & ZEL_FILE_READABLE)) ||
            ((mode & ZEL_LINUX_W_OK) && !(a & ZEL_FILE_WRITABLE)) ||
            ((mode & ZEL_LINUX_X_OK) && !(a & (ZEL_FILE_EXECUTABLE | ZEL_FILE_DIR))))
            r = -1;
    }
    zel_linux_close(fd);
    return r;
}

int zel_linux_vfs_mkdir(const char *path, uint32_t attributes) {
    abs_path p(path);
    if (!p.ok) return -1;
    if (node_ref(p.text)) return fail(ZEL_LINUX_EEXIST);
    const int32_t r = create_in_parent(p.text, attributes);
    if (r == ZEL_FS_ERR_NOT_FOUND) return fail(ZEL_LINUX_ENOENT);  // no parent
    return r == 0 ? 0 : -1;
}

int zel_linux_mkdir(const char *path, zel_linux_mode_t) { return zel_linux_vfs_mkdir(path, kDirAttributes); }

int zel_linux_mkdir_by_open(const char *path, zel_linux_mode_t) {
    int fd = zel_linux_open(path, ZEL_LINUX_O_CREAT | ZEL_LINUX_O_DIRECTORY);
    if (fd < 0) return -1;
    zel_linux_close(fd);
    return 0;
}

int zel_linux_unlink_masked(const char *path, uint32_t mask) {
    abs_path p(path);
    if (!p.ok) return -1;
    node_ref node(p.text);
    if (!node) {
        zel_linux_set_errno(ZEL_LINUX_ENOENT);
        return -1;
    }
    if (mask && !(node->attributes & mask)) return -1;
    // A directory that someone holds open, or that still has entries, stays.
    if ((node->attributes & ZEL_FILE_DIR) && (node->opens > 1 || has_entries(node.get()))) return -1;
    node.reset();
    const char *parent_path;
    const char *name;
    if (!split(p.text, &parent_path, &name)) return -1;
    node_ref parent(parent_path);
    if (!parent) return -1;
    return run(zel_file_unlink(parent.get(), name)) == 0 ? 0 : -1;
}

int zel_linux_unlink(const char *path) { return zel_linux_unlink_masked(path, 0); }
int zel_linux_remove(const char *path) { return zel_linux_unlink_masked(path, 0); }

int zel_linux_rename(const char *from, const char *to) {
    abs_path old_path(from);
    abs_path new_path(to);
    if (!old_path.ok || !new_path.ok) return -1;
    node_ref source(old_path.text);
    if (!source) {
        // "f/" of a file finds nothing, yet the file is there.
        char bare[ZEL_LINUX_PATH_MAX];
        strcpy(bare, old_path.text);
        return fail(node_ref(without_trailing(bare)) ? ZEL_LINUX_ENOTDIR : ZEL_LINUX_ENOENT);
    }
    if (source->opens > 1) return -1;  // open somewhere else
    const bool source_dir = (source->attributes & ZEL_FILE_DIR) != 0;
    source.reset();
    // A name that ends in '/' is a directory's.
    if (!source_dir && (names_directory(from) || names_directory(to))) return fail(ZEL_LINUX_ENOTDIR);
    // Normalised paths differ at most by separators at the end: the same
    // object renamed onto itself stays as it is.
    if (strcmp(without_trailing(old_path.text), without_trailing(new_path.text)) == 0) return 0;
    // A directory cannot move inside itself.
    const size_t old_length = strlen(old_path.text);
    if (source_dir && strncmp(old_path.text, new_path.text, old_length) == 0 && new_path.text[old_length] == '/')
        return fail(ZEL_LINUX_EINVAL);
    const char *old_parent_path;
    const char *old_name;
    const char *new_parent_path;
    const char *new_name;
    char old_buf[ZEL_LINUX_PATH_MAX];
    char new_buf[ZEL_LINUX_PATH_MAX];
    strcpy(old_buf, old_path.text);
    strcpy(new_buf, new_path.text);
    if (!split(old_buf, &old_parent_path, &old_name) || !split(new_buf, &new_parent_path, &new_name)) return -1;
    node_ref old_parent(old_parent_path);
    if (!old_parent || !(old_parent->attributes & ZEL_FILE_WRITABLE)) return -1;
    node_ref new_parent(new_parent_path);
    if (!new_parent || !(new_parent->attributes & ZEL_FILE_WRITABLE)) return -1;
    node_ref target(new_path.text);
    if (target) {
        if (target->opens > 1) return -1;
        target.reset();
        if (run(zel_file_unlink(new_parent.get(), new_name)) != 0) return -1;
    }
    return run(zel_file_rename(old_parent.get(), old_name, new_parent.get(), new_name)) == 0 ? 0 : -1;
}

int zel_linux_rename_checked(const char *from, const char *to) {
    if (from && strcmp(from, "/") == 0) return -1;
    return zel_linux_rename(from, to);
}

int zel_linux_chdir(zel_linux_process_t *process, const char *path) {
    zel_linux_process_t *p = process ? process : zel_linux_get_cur_process();
    abs_path dir(path);
    if (!dir.ok) return -1;
    size_t n = strlen(dir.text);
    if (dir.text[n - 1] != '/') {
        if (n + 1 >= sizeof dir.text) return -1;
        dir.text[n++] = '/';
        dir.text[n] = '\0';
    }
    node_ref node(dir.text);
    if (!node || !(node->attributes & ZEL_FILE_DIR)) return -1;
    char *copy = zel_linux_strdup_p(p, dir.text);
    if (!copy) return -1;
    zel_linux_free_p(p, p->cwd);
    p->cwd = copy;
    return 0;
}

zel_linux_fd *zel_linux_opendir(const char *path) {
    int fd = zel_linux_open(path, ZEL_LINUX_O_DIRECTORY);
    if (fd < 0) return nullptr;
    zel_linux_fd_t *rec = regular(fd);
    if (!rec) {
        zel_linux_close(fd);
        return nullptr;
    }
    return rec;
}

zel_linux_dirent *zel_linux_readdir(zel_linux_fd *dir) {
    if (!dir || dir->op != &zel_linux_file_op) return nullptr;
    // The part is held while the file API runs; a close from another thread
    // meanwhile ends the call with null and errno 9 (the part, and the entry
    // the answer would point into, go with the last release).
    zel_linux_fd_call call(dir);
    const int number = dir->number;
    zel_linux_file_priv_t *f = fp(call.rec());
    auto closed = [&] {
        if (names_part(number, call.rec()->priv)) return false;
        zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
        return true;
    };
    zel_file_t *node = f->file;
    uint64_t position = node->position;
    if (zel_file_t *previous = f->entry) {
        f->entry = nullptr;
        run(zel_file_close(previous));
    }
    zel_file_t *entry = nullptr;
    const int32_t found = run(zel_file_open(node, nullptr, &entry));
    if (found != 0 || !entry) {
        // errno 9 when the directory was closed meanwhile; ENOMEM or EMFILE
        // when the listing cannot go on; the end of the listing leaves
        // errno alone.
        if (!closed()) shortage(found);
        return nullptr;
    }
    // Another thread's readdir may have come between: its entry goes.
    while (zel_file_t *other = f->entry) {
        f->entry = nullptr;
        run(zel_file_close(other));
    }
    f->entry = entry;
    if (closed()) return nullptr;
    zel_linux_dirent *d = &f->dirent;
    d->d_ino++;
    d->d_off = static_cast<uint32_t>(position);
    d->d_reclen = 16;
    if (entry->attributes & ZEL_FILE_DIR)
        d->d_type = ZEL_LINUX_DT_DIR;
    else if (entry->attributes & ZEL_FILE_EXECUTABLE)
        d->d_type = ZEL_LINUX_DT_EXEC;
    else
        d->d_type = ZEL_LINUX_DT_REG;
    d->d_name = entry->name;
    return d;
}

int zel_linux_closedir(zel_linux_fd *dir) {
    if (!dir) return -1;
    return zel_linux_close(dir->number);
}

int zel_linux_fd_get_attr(int fd, uint32_t *attributes) {
    zel_file_t *node = zel_linux_fd_file(fd);
    if (!is_vfs(node)) return -1;
    if (attributes) *attributes = node->attributes;
    return 0;
}

int zel_linux_fd_set_attr(int fd, uint32_t bits) {
    zel_file_t *node = zel_linux_fd_file(fd);
    if (!is_vfs(node)) return -1;
    node->attributes |= bits;
    return 0;
}

int zel_linux_mount(const char *, const char *target, const zel_fs_op_t *fs, unsigned long, void *data) {
    int fd = zel_linux_open(target, 0);
    if (fd < 0) return fd;
    zel_file_t *node = zel_linux_fd_file(fd);
    int32_t r = -1;
    if (node && fs) {
        r = run(zel_fs_mount(node, fs, static_cast<zel_file_t *>(data)));
    } else if (node && data) {
        // A block device: fatfs on each of its FAT partitions. A table
        // that lists none mounts nothing, which is no success.
        zel_mal_mount_mbr_t record{};
        record.mal = static_cast<zel_mal_t *>(data);
        record.dir = node;
        if (run(zel_mal_mount_mbr(&record)) == 0 && record.mounted != 0) r = record.result;
    }
    zel_linux_close(fd);
    return r == 0 ? 0 : -1;
}

}  // extern "C"

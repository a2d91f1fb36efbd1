// Host files and folders on POSIX.
#include "zel_host_file.h"

#include <atomic>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#if ZEL_HOST_TEST_HOOKS
#include "zel_host_test_hooks.h"
#endif

namespace {

thread_local int t_error = 0;

// Records the host's error number of the failure being answered and
// answers it negated (an unknown one as ZEL_HOST_EIO: never 0).
int fail() {
    t_error = errno;
    return t_error > 0 ? -t_error : ZEL_HOST_EIO;
}

zel_host_handle_t fail_handle() {
    t_error = errno;
    return ZEL_HOST_HANDLE_NONE;
}

int fd_of(zel_host_handle_t h) { return h == ZEL_HOST_HANDLE_NONE ? -1 : static_cast<int>(h); }

DIR *dir_of(zel_host_handle_t h) { return h == ZEL_HOST_HANDLE_NONE ? nullptr : reinterpret_cast<DIR *>(h); }

bool is_access_refusal(int e) { return e == EACCES || e == EPERM || e == EROFS; }

#if ZEL_HOST_TEST_HOOKS
std::atomic<uint32_t> g_fail_opens{0};
std::atomic<int> g_fail_error{0};

// True (with errno set) when a test wants this open to fail.
bool injected_failure() {
    uint32_t n = g_fail_opens.load();
    while (n > 0 && !g_fail_opens.compare_exchange_weak(n, n - 1)) {}
    if (n == 0) return false;
    errno = g_fail_error.load();
    return true;
}
#else
bool injected_failure() { return false; }
#endif

// O_NONBLOCK: opening a pipe or a device must not wait for its other end.
int open_nonblocking(const char *path, int access) {
    if (injected_failure()) return -1;
    int fd;
    do {
        fd = open(path, access | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A lock on the host file (flock: held by this open, seen by every other
// open of the file, in this program or another); false when another holds
// one that excludes it.
bool lock(int fd, int kind) {
    int r;
    do {
        r = flock(fd, kind | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0 || errno != EWOULDBLOCK;
}

}  // namespace

extern "C" {

int zel_host_file_error(void) { return t_error; }

int zel_host_file_stat(const char *path, zel_host_file_info_t *info) {
    struct stat st;
    if (stat(path, &st) != 0) return fail();
    info->size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    info->kind = S_ISREG(st.st_mode)   ? ZEL_HOST_KIND_FILE
                 : S_ISDIR(st.st_mode) ? ZEL_HOST_KIND_DIR
                                       : ZEL_HOST_KIND_OTHER;
    info->writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    return 0;
}

zel_host_handle_t zel_host_file_open(const char *path, bool *writable, uint64_t *size) {
    t_error = 0;
    int fd = open_nonblocking(path, *writable ? O_RDWR : O_RDONLY);
    if (fd >= 0 && *writable && !lock(fd, LOCK_SH)) {
        // Claimed by an image's owner: readable, never written beside it.
        close(fd);
        fd = open_nonblocking(path, O_RDONLY);
        if (fd >= 0) {
            *writable = false;
            t_error = EBUSY;
        }
    } else if (fd < 0 && *writable && is_access_refusal(errno)) {
        const int refusal = errno;
        fd = open_nonblocking(path, O_RDONLY);
        if (fd >= 0) {
            *writable = false;
            t_error = refusal;
        }
    }
    if (fd < 0) return fail_handle();
    struct stat st;
    int e = fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EINVAL : 0;
    if (e) {
        close(fd);
        errno = e;
        return fail_handle();
    }
    *size = static_cast<uint64_t>(st.st_size);
    return static_cast<zel_host_handle_t>(fd);
}

int64_t zel_host_file_read(zel_host_handle_t file, void *buffer, uint32_t size, uint64_t offset) {
    char *p = static_cast<char *>(buffer);
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd_of(file), p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail();
        if (n == 0) break;  // end of file
        done += static_cast<uint32_t>(n);
    }
    return done;
}

int64_t zel_host_file_write(zel_host_handle_t file, const void *buffer, uint32_t size, uint64_t offset) {
    const char *p = static_cast<const char *>(buffer);
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(fd_of(file), p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? static_cast<int64_t>(done) : fail();
        done += static_cast<uint32_t>(n);
    }
    return done;
}

int zel_host_file_resize(zel_host_handle_t file, uint64_t size) {
    int r;
    do {
        r = ftruncate(fd_of(file), static_cast<off_t>(size));
    } while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : fail();
}

int zel_host_file_claim(zel_host_handle_t file) {
    int r;
    do {
        r = flock(fd_of(file), LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    // A file system without locks cannot keep others off: the claim then
    // protects nothing, and refusing the file would serve nobody.
    if (r == 0 || errno != EWOULDBLOCK) return 0;
    errno = EBUSY;
    return fail();
}

void zel_host_file_close(zel_host_handle_t file) {
    if (file != ZEL_HOST_HANDLE_NONE) close(fd_of(file));
}

bool zel_host_file_same(zel_host_handle_t a, zel_host_handle_t b) {
    struct stat x, y;
    if (fstat(fd_of(a), &x) != 0 || fstat(fd_of(b), &y) != 0) return false;
    return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

int zel_host_file_create(const char *path) {
    int fd = open(path, O_CREAT | O_EXCL | O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return fail();
    close(fd);
    return 0;
}

int zel_host_file_remove(const char *path) { return unlink(path) == 0 ? 0 : fail(); }

int zel_host_file_rename(const char *from, const char *to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return fail();
    // A file system without the no-replace flag: test, then rename.
    struct stat st;
    if (lstat(to, &st) == 0) {
        errno = EEXIST;
        return fail();
    }
    return rename(from, to) == 0 ? 0 : fail();
}

int zel_host_dir_create(const char *path) { return mkdir(path, 0777) == 0 ? 0 : fail(); }

int zel_host_dir_remove(const char *path) { return rmdir(path) == 0 ? 0 : fail(); }

zel_host_handle_t zel_host_dir_open(const char *path) {
    DIR *d = injected_failure() ? nullptr : opendir(path);
    if (!d) return fail_handle();
    return reinterpret_cast<zel_host_handle_t>(d);
}

const char *zel_host_dir_next(zel_host_handle_t dir) {
    DIR *d = dir_of(dir);
    if (!d) return nullptr;
    errno = 0;
    struct dirent *e = readdir(d);
    if (!e) {
        t_error = errno;
        return nullptr;
    }
    return e->d_name;
}

void zel_host_dir_close(zel_host_handle_t dir) {
    if (DIR *d = dir_of(dir)) closedir(d);
}

#if ZEL_HOST_TEST_HOOKS
void zel_host_fail_file_opens(uint32_t count, int error) {
    g_fail_error.store(error);
    g_fail_opens.store(count);
}
#endif

}  // extern "C"

/* Host files and folders, for the host-directory file system (winfs).
 *
 * Paths are UTF-8 and use '/'. Every call works at once and never waits for
 * another party: opening anything that is not a regular file fails instead of
 * blocking, so the kernel's dispatch context can call these directly.
 *
 * Calls answer 0 (or a count) on success and the negated host error number
 * (ZEL_HOST_E*, zel_host_err.h) on failure. The calls that answer a handle
 * or a name answer ZEL_HOST_HANDLE_NONE or null on failure; for every
 * failure, zel_host_file_error() tells the host's error number too. */
#ifndef ZEL_HOST_FILE_H
#define ZEL_HOST_FILE_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_host_err.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A host file handle or a running folder listing; all ones is none. */
typedef uintptr_t zel_host_handle_t;
#define ZEL_HOST_HANDLE_NONE UINTPTR_MAX

enum {
    ZEL_HOST_KIND_FILE = 1, /* a regular file */
    ZEL_HOST_KIND_DIR = 2,  /* a folder */
    ZEL_HOST_KIND_OTHER = 3 /* a device, pipe, socket, ...: never opened */
};

typedef struct zel_host_file_info {
    uint64_t size;
    uint32_t kind;
    bool writable; /* some write bit is set in the mode (who we run as plays no part) */
} zel_host_file_info_t;

/* The host's error number of the last failing call on this host thread. */
int zel_host_file_error(void);

/* Follows links. A negative code when the path does not lead anywhere. */
[[nodiscard]] int zel_host_file_stat(const char *path, zel_host_file_info_t *info);

/* Opens a regular file, for reading and writing when `*writable` is true on
 * entry, else for reading only. A file the host will not open for writing is
 * opened for reading only and `*writable` becomes false; so is a file that
 * another open has claimed (zel_host_file_claim, in this program or another),
 * and zel_host_file_error() then tells ZEL_HOST_EBUSY's number (EBUSY) instead
 * of the host's refusal. An open for writing holds a shared claim on the file
 * until it is closed, so that nobody claims it while it may be written.
 * `*size` receives its size. NONE when the path is missing or not a regular
 * file. */
zel_host_handle_t zel_host_file_open(const char *path, bool *writable, uint64_t *size);
/* Counts moved at `offset` (short only at the end of the file), or a
 * negative code. */
[[nodiscard]] int64_t zel_host_file_read(zel_host_handle_t file, void *buffer, uint32_t size, uint64_t offset);
[[nodiscard]] int64_t zel_host_file_write(zel_host_handle_t file, const void *buffer, uint32_t size, uint64_t offset);

[[nodiscard]] int zel_host_file_resize(zel_host_handle_t file, uint64_t size);
/* Claims the file for this handle alone (the image file of a mounted
 * volume): until the handle is closed, every other open for writing, here or
 * in another program, gets it for reading only. 0, or ZEL_HOST_EBUSY when
 * another open holds it for writing or has claimed it. On a host file
 * system without file locks nothing is claimed and the answer is 0. */
[[nodiscard]] int zel_host_file_claim(zel_host_handle_t file);
void zel_host_file_close(zel_host_handle_t file);
/* True when both handles are open on one host file (the same file reached
 * by two paths included); false when either cannot be looked at. */
bool zel_host_file_same(zel_host_handle_t a, zel_host_handle_t b);

/* Makes a new empty regular file; fails when the name exists. */
[[nodiscard]] int zel_host_file_create(const char *path);
[[nodiscard]] int zel_host_file_remove(const char *path);
/* Renames; never replaces an existing `to`. */
[[nodiscard]] int zel_host_file_rename(const char *from, const char *to);

[[nodiscard]] int zel_host_dir_create(const char *path);
/* Fails unless the folder is empty. */
[[nodiscard]] int zel_host_dir_remove(const char *path);

/* Folder listing: the host's raw entries, "." and ".." included, in the
 * host's order. */
zel_host_handle_t zel_host_dir_open(const char *path);
/* The next entry's name (valid until the next call on this listing), or null
 * at the end. */
const char *zel_host_dir_next(zel_host_handle_t dir);
void zel_host_dir_close(zel_host_handle_t dir);

#ifdef __cplusplus
}
#endif

#endif

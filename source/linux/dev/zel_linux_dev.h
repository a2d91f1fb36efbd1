/* The fixed part of the layer's name space: the standard directories, the
 * device files and the built-in terminal description.
 *
 * zel_linux_create_fs_hierarchy() makes, in this order, "/var/run",
 * "/var/lib", "/run", "/dev" with its devices, "/usr/share/terminfo/v" and
 * the read-only "/usr/share/terminfo/v/vt100" (1190 bytes), and puts
 * "TERM=vt100" and "TERMINFO=/usr/share/terminfo" into the calling
 * process's environment. A failing step prints its line to stderr and ends
 * the set-up with its result.
 *
 * Devices are in-memory nodes bound to callbacks and opened as regular
 * files:
 *   "/dev/null"     takes every write; reading it fails;
 *   "/dev/zero"     reads as zeros; writing it fails;
 *   "/dev/random",
 *   "/dev/urandom"  read as bytes of the host's random source (getentropy,
 *                   so the TLS library's entropy is real); writing fails;
 *                   their size is the largest u64 so no reader meets the end.
 * The callbacks are sub-call handlers of the in-memory tree with a
 * zel_fs_rw_param_t block. */
#ifndef ZEL_LINUX_DEV_H
#define ZEL_LINUX_DEV_H

#include <stdint.h>

#include "zel_eda.h"

extern "C" {

inline constexpr uint32_t ZEL_LINUX_VT100_SIZE = 1190;
extern const uint8_t zel_linux_devfs_vt100[ZEL_LINUX_VT100_SIZE];

/* 0, or the first error. */
[[nodiscard]] int zel_linux_create_fs_hierarchy(void);
/* "/dev" and its four devices; 0, or the error of the step that failed. */
[[nodiscard]] int zel_linux_devfs_init(void);

void zel_linux_devfs_null_write(void *locals, zel_evt_t evt);
void zel_linux_devfs_zero_read(void *locals, zel_evt_t evt);
void zel_linux_devfs_random_read(void *locals, zel_evt_t evt);

}  // extern "C"

#endif

/* The rest of the layer's C library: the environment calls of the current
 * process, system(), number conversions that report through errno, strtok,
 * strerror, the path call behind basename(), and the end of a failed
 * assertion (its line on stderr, then exit(-1) of the process).
 *
 * Environment: putenv() copies its string into the process's heap before
 * handing it to zel_linux_putenv_p, so callers may pass constants or their
 * own buffers, and replacing or removing an entry always frees a block the
 * process owns. A bare name removes the variable.
 *
 * system(line) runs a copy of the line through the shell's line executor in
 * the calling process and answers the line's status word (the last
 * foreground command's exit status shifted left by 8; 0 for a background
 * line), or -1 for a null line, no memory, or a line that could not be run.
 * It starts the shell and is built with it (shell/zel_shell_system.cpp).
 *
 * The calls are declared in zel_linux_libc.h. */
#ifndef ZEL_LINUX_STDLIB_H
#define ZEL_LINUX_STDLIB_H

#include <stddef.h>
#include <stdint.h>

#include "zel_linux_libc.h"

extern "C" {

/* The C library's data kept per process (zel_linux_dynlib_get): module 0
 * is getopt_long's state, module 1 strtok's position. */
extern int32_t zel_linux_libc_slot;

struct zel_linux_process;
/* Puts a copy of `entry` (made in the process's heap) into the process's
 * environment (null: the current process): the update's result, or -2 when
 * the copy cannot be made. */
[[nodiscard]] int zel_linux_putenv_copy(struct zel_linux_process *process, const char *entry);
inline constexpr uint16_t ZEL_LINUX_LIBC_MODULES = 2;
inline constexpr uint32_t ZEL_LINUX_LIBC_AREA = 128;

}  // extern "C"

#endif

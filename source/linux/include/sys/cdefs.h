/* Declaration helpers shared by every header of the layer's C library.
 *
 * Programs that run inside the layer are compiled against this tree alone
 * (-nostdinc) plus the compiler's own include directory (stddef.h, stdarg.h,
 * stdbool.h, float.h, stdint-gcc.h).  Every call that touches files,
 * descriptors, sockets, threads, memory, the environment, time or standard
 * I/O keeps its standard name in the source and is bound at the assembler
 * level to the layer's symbol `zel_linux_<name>`; stateless string, memory
 * and formatting functions (memcpy, strlen, snprintf, ...) stay the host's.
 */
#ifndef _SYS_CDEFS_H
#define _SYS_CDEFS_H 1

#ifdef __cplusplus
#define __BEGIN_DECLS extern "C" {
#define __END_DECLS }
#else
#define __BEGIN_DECLS
#define __END_DECLS
#endif

/* Binds a declaration to the layer's symbol zel_linux_<name>. */
#define __ZEL_LINUX(name) __asm__("zel_linux_" #name)

#define __ZEL_NORETURN __attribute__((__noreturn__))
#define __ZEL_PRINTF(fmt, args) __attribute__((__format__(__printf__, fmt, args)))
#define __ZEL_SCANF(fmt, args) __attribute__((__format__(__scanf__, fmt, args)))

#endif

/* Limits of the integer types (from the compiler) and of the layer. */
#ifndef _LIMITS_H
#define _LIMITS_H 1

/* The compiler's limits.h chains to a hosted C library's limits.h unless it
 * believes that one has already been read. */
#ifndef _LIBC_LIMITS_H_
#define _LIBC_LIMITS_H_ 1
#endif
#include_next <limits.h>

#define SSIZE_MAX LONG_MAX
/* A normalised path of the layer always fits 260 bytes. */
#define PATH_MAX 260
#define NAME_MAX 255
/* Descriptor numbers run from 0 to 255 in every process. */
#define OPEN_MAX 256
#define IOV_MAX 1024

#endif

/* Scalar types of the layer.  Sizes follow the x86-64 C library so that
 * records shared with code written for it keep their layout: 64-bit file
 * offsets, sizes and times. */
#ifndef _SYS_TYPES_H
#define _SYS_TYPES_H 1

#include <sys/cdefs.h>
#include <stddef.h>

typedef long ssize_t;
typedef long off_t;
typedef long time_t;
typedef long suseconds_t;
typedef unsigned int useconds_t;
typedef long clock_t;
typedef int pid_t;
typedef unsigned int uid_t;
typedef unsigned int gid_t;
typedef unsigned int mode_t;
typedef unsigned long dev_t;
typedef unsigned long ino_t;
typedef unsigned long nlink_t;
typedef long blksize_t;
typedef long blkcnt_t;
typedef unsigned int socklen_t;
typedef unsigned short sa_family_t;

#endif

/* Open flags and descriptor control of the layer.  The values are the
 * layer's own, not Linux's. */
#ifndef _FCNTL_H
#define _FCNTL_H 1

#include <sys/cdefs.h>
#include <sys/types.h>

#define O_RDONLY 0
#define O_WRONLY 1
#define O_RDWR 2
#define O_ACCMODE 3
/* Refused by open(); set later with fcntl(F_SETFL) where the class allows. */
#define O_NONBLOCK 4
#define O_NDELAY O_NONBLOCK
/* The position moves to the end once, at open. */
#define O_APPEND 8
#define O_DIRECTORY 0x100
/* Also creates every missing directory on the way to the file. */
#define O_CREAT 0x200
#define O_TRUNC 0x400
#define O_EXCL 0x800
#define O_CLOEXEC 0x1000

/* fcntl commands; any other number is handed to the descriptor's class
 * (the terminal's attribute commands, see termios.h). */
#define F_DUPFD 0 /* duplicate onto exactly the number given */
#define F_GETFD 1
#define F_SETFD 2
#define F_GETFL 3
#define F_SETFL 4

#define FD_CLOEXEC 1

__BEGIN_DECLS
int open(const char *path, int flags, ...) __ZEL_LINUX(open);
int creat(const char *path, mode_t mode) __ZEL_LINUX(creat);
int fcntl(int fd, int command, ...) __ZEL_LINUX(fcntl);
__END_DECLS

#endif

/* Descriptor and process calls of the layer. */
#ifndef _UNISTD_H
#define _UNISTD_H 1

#include <sys/cdefs.h>
#include <sys/types.h>

/* The layer offers the POSIX.1-2008 calls its programs use (gmtime_r among
 * them); what it does not offer is simply not declared. */
#define _POSIX_VERSION 200809L

#define STDIN_FILENO 0
#define STDOUT_FILENO 1
#define STDERR_FILENO 2

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

/* access() modes: the layer's own bit values. */
#define F_OK 0
#define R_OK 2
#define W_OK 4
#define X_OK 8 /* executable, or a directory */

__BEGIN_DECLS
ssize_t read(int fd, void *buffer, size_t count) __ZEL_LINUX(read);
ssize_t write(int fd, const void *buffer, size_t count) __ZEL_LINUX(write);
int close(int fd) __ZEL_LINUX(close);
off_t lseek(int fd, off_t offset, int whence) __ZEL_LINUX(lseek);
int ftruncate(int fd, off_t length) __ZEL_LINUX(ftruncate);
int access(const char *path, int mode) __ZEL_LINUX(access);
int unlink(const char *path) __ZEL_LINUX(unlink);
int pipe(int fds[2]) __ZEL_LINUX(pipe);
int isatty(int fd) __ZEL_LINUX(isatty);
char *getcwd(char *buffer, size_t size) __ZEL_LINUX(getcwd);
/* The argument list ends with a null pointer. */
int execl(const char *path, const char *arg0, ...) __ZEL_LINUX(execl);
__END_DECLS

#endif

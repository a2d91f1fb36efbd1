/* File status.  Only st_mode and st_size are filled; the record has the
 * layout of the x86-64 C library. */
#ifndef _SYS_STAT_H
#define _SYS_STAT_H 1

#include <sys/cdefs.h>
#include <sys/types.h>
#include <time.h>

struct stat {
    dev_t st_dev;
    ino_t st_ino;
    nlink_t st_nlink;
    mode_t st_mode;
    uid_t st_uid;
    gid_t st_gid;
    int __pad0;
    dev_t st_rdev;
    off_t st_size;
    blksize_t st_blksize;
    blkcnt_t st_blocks;
    struct timespec st_atim;
    struct timespec st_mtim;
    struct timespec st_ctim;
    long __reserved[3];
};
#define st_atime st_atim.tv_sec
#define st_mtime st_mtim.tv_sec
#define st_ctime st_ctim.tv_sec

#define S_IFMT 0xF000
#define S_IFSOCK 0xC000
#define S_IFREG 0x8000
#define S_IFDIR 0x4000
#define S_IFIFO 0x1000
#define S_ISREG(mode) (((mode)&S_IFMT) == S_IFREG)
#define S_ISDIR(mode) (((mode)&S_IFMT) == S_IFDIR)
#define S_ISFIFO(mode) (((mode)&S_IFMT) == S_IFIFO)
#define S_ISSOCK(mode) (((mode)&S_IFMT) == S_IFSOCK)

#define S_IRWXU 0700
#define S_IRUSR 0400
#define S_IWUSR 0200
#define S_IXUSR 0100
#define S_IRWXG 070
#define S_IRGRP 040
#define S_IWGRP 020
#define S_IXGRP 010
#define S_IRWXO 07
#define S_IROTH 04
#define S_IWOTH 02
#define S_IXOTH 01

__BEGIN_DECLS
int stat(const char *path, struct stat *out) __ZEL_LINUX(stat);
int fstat(int fd, struct stat *out) __ZEL_LINUX(fstat);
/* Only the last component is made; the mode is not used. */
int mkdir(const char *path, mode_t mode) __ZEL_LINUX(mkdir);
__END_DECLS

#endif

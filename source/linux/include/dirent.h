/* Directory streams of the layer.  A DIR is the descriptor record of the
 * directory opened with O_DIRECTORY; the entry record is the layer's own. */
#ifndef _DIRENT_H
#define _DIRENT_H 1

#include <sys/cdefs.h>
#include <stdint.h>

typedef struct zel_linux_fd DIR;

/* d_type values */
#define DT_REG 1 /* a file, or any other node that is not below */
#define DT_DIR 2
#define DT_EXEC 8 /* an executable file */

struct dirent {
    uint32_t d_ino; /* 1 for the first entry read, then counting */
    uint32_t d_off; /* the directory's entry index before this one */
    uint16_t d_reclen;
    uint8_t d_type;
    /* The entry's own name, valid until the next readdir() or closedir(). */
    char *d_name;
};

__BEGIN_DECLS
DIR *opendir(const char *path) __ZEL_LINUX(opendir);
struct dirent *readdir(DIR *directory) __ZEL_LINUX(readdir);
int closedir(DIR *directory) __ZEL_LINUX(closedir);
__END_DECLS

#endif

/* Path components. */
#ifndef _LIBGEN_H
#define _LIBGEN_H 1

#include <sys/cdefs.h>

__BEGIN_DECLS
/* The last component of path; a trailing '/' is cut off in place. */
char *basename(char *path) __ZEL_LINUX(path_base);
__END_DECLS

#endif

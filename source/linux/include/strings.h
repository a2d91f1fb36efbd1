/* Case-insensitive comparison: the host's (ASCII). */
#ifndef _STRINGS_H
#define _STRINGS_H 1

#include <sys/cdefs.h>
#include <stddef.h>

__BEGIN_DECLS
int strcasecmp(const char *a, const char *b);
int strncasecmp(const char *a, const char *b, size_t size);
__END_DECLS

#endif

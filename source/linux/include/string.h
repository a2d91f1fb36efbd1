/* String and memory functions.  They are the host's, except the ones that
 * allocate (strdup: the calling process's heap), keep state between calls
 * (strtok) or describe errors (strerror). */
#ifndef _STRING_H
#define _STRING_H 1

#include <sys/cdefs.h>
#include <stddef.h>

__BEGIN_DECLS
void *memcpy(void *to, const void *from, size_t size);
void *memmove(void *to, const void *from, size_t size);
void *memset(void *to, int byte, size_t size);
int memcmp(const void *a, const void *b, size_t size);
void *memchr(const void *block, int byte, size_t size);

size_t strlen(const char *text);
size_t strnlen(const char *text, size_t limit);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t size);
char *strcpy(char *to, const char *from);
char *strncpy(char *to, const char *from, size_t size);
char *strcat(char *to, const char *from);
char *strncat(char *to, const char *from, size_t size);
char *strchr(const char *text, int c);
char *strrchr(const char *text, int c);
char *strstr(const char *text, const char *part);
size_t strspn(const char *text, const char *accept);
size_t strcspn(const char *text, const char *reject);
char *strpbrk(const char *text, const char *accept);
char *strtok_r(char *text, const char *separators, char **state);

char *strdup(const char *text) __ZEL_LINUX(strdup) __attribute__((__malloc__));
char *strtok(char *text, const char *separators) __ZEL_LINUX(strtok);
char *strerror(int error) __ZEL_LINUX(strerror);
__END_DECLS

#endif

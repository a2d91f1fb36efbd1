/* Memory, environment, process and number conversion calls of the layer.
 *
 * Memory comes from the calling process's own heap and is given back when
 * the process ends.  Number conversions that report through errno belong
 * to the layer; qsort and abs are the host's. */
#ifndef _STDLIB_H
#define _STDLIB_H 1

#include <sys/cdefs.h>
#include <stddef.h>

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 2147483647

__BEGIN_DECLS
void *malloc(size_t size) __ZEL_LINUX(malloc) __attribute__((__malloc__));
void *calloc(size_t count, size_t size) __ZEL_LINUX(calloc) __attribute__((__malloc__));
void *realloc(void *block, size_t size) __ZEL_LINUX(realloc);
void free(void *block) __ZEL_LINUX(free);

char *getenv(const char *name) __ZEL_LINUX(getenv);
int setenv(const char *name, const char *value, int overwrite) __ZEL_LINUX(setenv);
/* "name=value" adds or replaces; a bare "name" removes. */
int putenv(char *entry) __ZEL_LINUX(putenv);

/* Runs a command line with the layer's shell; answers its status. */
int system(const char *command) __ZEL_LINUX(system);
void exit(int status) __ZEL_LINUX(exit) __ZEL_NORETURN;

long strtol(const char *text, char **end, int base) __ZEL_LINUX(strtol);
unsigned long strtoul(const char *text, char **end, int base) __ZEL_LINUX(strtoul);
long long strtoll(const char *text, char **end, int base) __ZEL_LINUX(strtoll);
unsigned long long strtoull(const char *text, char **end, int base) __ZEL_LINUX(strtoull);
double strtod(const char *text, char **end) __ZEL_LINUX(strtod);
int atoi(const char *text) __ZEL_LINUX(atoi);
long atol(const char *text) __ZEL_LINUX(atol);

/* The host's. */
void qsort(void *base, size_t count, size_t size, int (*compare)(const void *, const void *));
int abs(int value) __attribute__((__const__));
long labs(long value) __attribute__((__const__));
__END_DECLS

#endif

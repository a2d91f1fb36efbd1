/* Standard I/O of the layer.
 *
 * A FILE is the descriptor record itself: there is no buffering, and every
 * call is one read() or write() on the descriptor.  stdin, stdout and stderr
 * are descriptors 0, 1 and 2 of the calling process.  Formatting into
 * memory (snprintf and friends) and sscanf are the host's.
 *
 * The compiler turns some calls into others (printf of a plain line into
 * puts, printf of one character into putchar, fprintf into fputs, fputc or
 * fwrite), so each of those targets is declared here with its layer name. */
#ifndef _STDIO_H
#define _STDIO_H 1

#include <sys/cdefs.h>
#include <sys/types.h>
#include <stdarg.h>

typedef struct zel_linux_fd FILE;

#define EOF (-1)
/* setvbuf() modes; every stream stays unbuffered whatever is asked. */
#define _IOFBF 0
#define _IOLBF 1
#define _IONBF 2
#define BUFSIZ 4096
#define FILENAME_MAX 260

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

__BEGIN_DECLS
FILE *zel_linux_stdin(void);
FILE *zel_linux_stdout(void);
FILE *zel_linux_stderr(void);
/* The record of descriptor fd of the calling process, or null. */
FILE *zel_linux_fd_to_file(int fd);

FILE *fopen(const char *path, const char *mode) __ZEL_LINUX(fopen);
/* The record of an open descriptor; the mode is not looked at. */
FILE *fdopen(int fd, const char *mode) __ZEL_LINUX(fdopen);
int fclose(FILE *stream) __ZEL_LINUX(fclose);
size_t fread(void *buffer, size_t size, size_t count, FILE *stream) __ZEL_LINUX(fread);
size_t fwrite(const void *buffer, size_t size, size_t count, FILE *stream) __ZEL_LINUX(fwrite);
int fgetc(FILE *stream) __ZEL_LINUX(fgetc);
char *fgets(char *buffer, int size, FILE *stream) __ZEL_LINUX(fgets);
int fputc(int c, FILE *stream) __ZEL_LINUX(fputc);
int putchar(int c) __ZEL_LINUX(putchar);
int fputs(const char *text, FILE *stream) __ZEL_LINUX(fputs);
int puts(const char *text) __ZEL_LINUX(puts);
int fprintf(FILE *stream, const char *format, ...) __ZEL_LINUX(fprintf) __ZEL_PRINTF(2, 3);
int vfprintf(FILE *stream, const char *format, va_list args) __ZEL_LINUX(vfprintf) __ZEL_PRINTF(2, 0);
int printf(const char *format, ...) __ZEL_LINUX(printf) __ZEL_PRINTF(1, 2);
int vprintf(const char *format, va_list args) __ZEL_LINUX(vprintf) __ZEL_PRINTF(1, 0);
int fseek(FILE *stream, long offset, int whence) __ZEL_LINUX(fseek);
long ftell(FILE *stream) __ZEL_LINUX(ftell);
int feof(FILE *stream) __ZEL_LINUX(feof);
int ferror(FILE *stream) __ZEL_LINUX(ferror);
int fflush(FILE *stream) __ZEL_LINUX(fflush);
int fileno(FILE *stream) __ZEL_LINUX(fileno);
int setvbuf(FILE *stream, char *buffer, int mode, size_t size) __ZEL_LINUX(setvbuf);
int remove(const char *path) __ZEL_LINUX(remove);
/* Refuses to move the root directory. */
int rename(const char *from, const char *to) __ZEL_LINUX(rename_checked);

/* The host's: formatting into memory only. */
int snprintf(char *buffer, size_t size, const char *format, ...) __ZEL_PRINTF(3, 4);
int vsnprintf(char *buffer, size_t size, const char *format, va_list args) __ZEL_PRINTF(3, 0);
int sprintf(char *buffer, const char *format, ...) __ZEL_PRINTF(2, 3);
int vsprintf(char *buffer, const char *format, va_list args) __ZEL_PRINTF(2, 0);
int sscanf(const char *text, const char *format, ...) __ZEL_SCANF(2, 3);
__END_DECLS

#define stdin (zel_linux_stdin())
#define stdout (zel_linux_stdout())
#define stderr (zel_linux_stderr())
#define getc(stream) fgetc(stream)
#define putc(c, stream) fputc((c), (stream))

#endif

/* Standard I/O of the Linux-emulation layer.
 *
 * A FILE is the descriptor record itself (zel_linux_fd_t, its number
 * first); stdin, stdout and stderr are descriptors 0, 1 and 2 of the calling
 * process. Nothing is buffered: every call is one read() or write() of the
 * descriptor (fgets and fgetc one byte at a time), so a short read from a
 * pipe or the console gives a short count and fflush() has nothing to do.
 *
 * fopen modes: the first character decides, 'w' create + truncate + write
 * only, 'a' create + append + write only, anything else (or no mode) read
 * only; a 't' or 'b' after it is skipped, then '+' makes the file
 * read-write, keeping create, truncate and append ("r+" never creates and
 * never truncates).
 *
 * fgets on the process's standard input treats backspace and DEL as erasing
 * the last character stored; a line feed ends the line as on every stream,
 * and on a terminal so does a carriage return (stored as a line feed).
 *
 * fseek answers 0 when the position is where it was asked to be, else -1
 * (a target before the start or beyond the end of the file, or a descriptor
 * that is no file); ftell answers the position or -1.
 *
 * Formatted output formats into a 4096-byte buffer and writes once; a longer
 * text is formatted again into a block of the process's heap.
 *
 * The calls are declared in zel_linux_libc.h. */
#ifndef ZEL_LINUX_STDIO_H
#define ZEL_LINUX_STDIO_H

#include "zel_linux_libc.h"

extern "C" {

/* The open flags of an fopen mode. */
int zel_linux_fopen_flags(const char *mode);

}  // extern "C"

#endif

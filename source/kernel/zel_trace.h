/* Trace: the framework's diagnostic output. Formatted messages with a level
 * colour and hex dumps of buffers, written to one byte stream.
 *
 * Levels: 0 plain (no prefix, the previous colour stays), 1 error (bold red),
 * 2 info (bold white), 3 warning (bold yellow), 4 debug (bold blue); other
 * values are clamped to 0..4. One message holds at most 1023 characters; a
 * longer one is cut there. Any context may trace, host threads outside the
 * interrupt lock included: formatting and writing are serialised by a lock of
 * their own, so lines of two contexts never mix and a dump is never split.
 *
 * Until a stream is attached the text goes to the host's standard error
 * (unless quieted), so that start-up failures and tests stay visible. */
#ifndef ZEL_TRACE_H
#define ZEL_TRACE_H

#include <stdarg.h>
#include <stdint.h>

#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_TRACE_FORMAT_SIZE 1024

/* Attaches the trace stream (null detaches). A stream is connected as the
 * writer and gets "\033[40m" (black background) first. */
void zel_trace_init(zel_stream_t *stream);

void zel_trace(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void zel_vtrace(int level, const char *format, va_list args);

/* Flags of zel_trace_buffer. Bits 0-7: bytes per group (1, 2 or 4; anything
 * else means 1); bits 8-15: groups per line (1 to 16; 0 or more than 16 mean
 * 16). */
#define ZEL_TRACE_GROUP(bytes) ((uint32_t)(bytes)&0xFFu)
#define ZEL_TRACE_PER_LINE(groups) (((uint32_t)(groups)&0xFFu) << 8)
#define ZEL_TRACE_OFFSET 0x10000u /* each line starts with "%08X: " and its offset */
#define ZEL_TRACE_CHARS 0x20000u  /* add the character column after " | " */
#define ZEL_TRACE_CRLF 0x40000u   /* end each line with "\r\n" */

/* Hex dump of `size` bytes after the level prefix. */
void zel_trace_buffer(int level, const void *buffer, uint32_t size, uint32_t flags);

/* Tests: every formatted message and dump line is also handed to `tap` (null
 * removes it). Returns the previous tap. */
typedef void (*zel_trace_tap_t)(int level, const char *text);
zel_trace_tap_t zel_trace_set_tap(zel_trace_tap_t tap);
/* Tests: nothing goes to standard error (the tap still sees every message). */
void zel_trace_set_quiet(int quiet);

#ifdef __cplusplus
}
#endif

#endif

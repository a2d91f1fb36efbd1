/* Trace, minimal form: formats the message and writes it to
 * stderr. The byte-stream trace (zel_trace_init, zel_trace_buffer, level
 * colours) is completed with the streams. */
#ifndef ZEL_TRACE_H
#define ZEL_TRACE_H

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Levels: 0 plain, 1 error, 2 info, 3 warning, 4 debug. At most 1023
 * characters of one message are written. */
void zel_trace(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void zel_vtrace(int level, const char *format, va_list args);

/* Tests: every formatted message is also handed to `tap` (null removes it).
 * Returns the previous tap. */
typedef void (*zel_trace_tap_t)(int level, const char *text);
zel_trace_tap_t zel_trace_set_tap(zel_trace_tap_t tap);
/* Tests: stop writing to stderr (the tap still sees every message). */
void zel_trace_set_quiet(int quiet);

#ifdef __cplusplus
}
#endif

#endif

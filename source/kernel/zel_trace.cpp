// Trace: level prefixes, the shared format buffer, hex dumps.
#include "zel_trace.h"

#include <atomic>
#include <stdio.h>
#include <string.h>

#include "zel_host_lock.h"

namespace {

const char *const kPrefix[5] = {"", "\033[1;31m", "\033[1;37m", "\033[1;33m", "\033[1;34m"};
const char kHex[] = "0123456789ABCDEF";

// Room for one dump line: 16 groups of 4 bytes with their blanks (144), the
// character column (3 + 64), the line end and the terminator.
constexpr size_t kLineSize = 214;

// The lock serialises every use of the format buffer and of the stream, from
// any host thread. It is recursive because a stream handler may trace.
zel_host_lock_t g_lock = ZEL_HOST_LOCK_RECURSIVE_INIT;
zel_stream_t *g_stream = nullptr;
char g_format[ZEL_TRACE_FORMAT_SIZE];
std::atomic<zel_trace_tap_t> g_tap{nullptr};
std::atomic<int> g_quiet{0};

int clamp_level(int level) { return level < 0 ? 0 : level > 4 ? 4 : level; }

void put(const char *text, size_t n) {
    if (g_stream && n) zel_stream_write(g_stream, text, uint32_t(n));
}

void put_prefix(int level) { put(kPrefix[level], strlen(kPrefix[level])); }

// Hands finished text to the tap, and to standard error while no stream is
// attached; the stream write comes last, after which a handler may reuse the
// format buffer.
void emit(int level, const char *text) {
    if (zel_trace_tap_t tap = g_tap.load()) tap(level, text);
    if (!g_stream && !g_quiet.load()) fputs(text, stderr);
    put(text, strlen(text));
}

uint32_t group_width(uint32_t flags) {
    uint32_t g = flags & 0xFF;
    return g == 1 || g == 2 || g == 4 ? g : 1;
}

uint32_t groups_per_line(uint32_t flags) {
    uint32_t n = (flags >> 8) & 0xFF;
    return n >= 1 && n <= 16 ? n : 16;
}

// One dump line of the bytes [offset, offset + group x groups) of `data`.
void format_line(
    char *out, const uint8_t *data, uint32_t size, uint32_t offset, uint32_t group, uint32_t groups, uint32_t flags) {
    const bool chars = flags & ZEL_TRACE_CHARS;
    char *p = out;
    for (uint32_t g = 0; g < groups; ++g) {
        uint32_t first = offset + g * group;
        for (uint32_t b = 0; b < group; ++b) {
            uint32_t i = first + b;
            if (i < size) {
                *p++ = kHex[data[i] >> 4];
                *p++ = kHex[data[i] & 15];
            } else if (chars) {
                *p++ = ' ';
                *p++ = ' ';
            }
        }
        *p++ = ' ';
        // Without the character column the line ends with the group in
        // which the data runs out.
        if (!chars && first + group >= size) break;
    }
    if (chars) {
        memcpy(p, " | ", 3);
        p += 3;
        for (uint32_t i = offset; i < offset + group * groups; ++i) {
            if (i >= size)
                *p++ = ' ';
            else
                *p++ = data[i] >= 0x20 && data[i] <= 0x7F ? char(data[i]) : '.';
        }
    }
    if (flags & ZEL_TRACE_CRLF) {
        *p++ = '\r';
        *p++ = '\n';
    }
    *p = 0;
}

}  // namespace

extern "C" {

void zel_trace_init(zel_stream_t *stream) {
    zel_host_lock_guard lock(g_lock);
    g_stream = stream;
    if (!stream) return;
    zel_stream_connect_tx(stream);
    put("\033[40m", 5);
}

void zel_vtrace(int level, const char *format, va_list args) {
    level = clamp_level(level);
    zel_host_lock_guard lock(g_lock);
    put_prefix(level);
    // A message that does not fit is cut to the buffer; a failed format
    // writes nothing.
    if (vsnprintf(g_format, sizeof g_format, format, args) < 0) return;
    emit(level, g_format);
}

void zel_trace(int level, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    zel_vtrace(level, format, ap);
    va_end(ap);
}

void zel_trace_buffer(int level, const void *buffer, uint32_t size, uint32_t flags) {
    level = clamp_level(level);
    zel_host_lock_guard lock(g_lock);
    put_prefix(level);
    const uint32_t group = group_width(flags), groups = groups_per_line(flags);
    const uint32_t per_line = group * groups;
    const uint8_t *data = static_cast<const uint8_t *>(buffer);
    char line[kLineSize];
    for (uint32_t offset = 0; offset < size; offset += per_line) {
        if (flags & ZEL_TRACE_OFFSET) zel_trace(level, "%08X: ", offset);
        format_line(line, data, size, offset, group, groups, flags);
        emit(level, line);
        if (per_line > size - offset) break;  // the last line; also keeps offset from wrapping
    }
}

zel_trace_tap_t zel_trace_set_tap(zel_trace_tap_t tap) { return g_tap.exchange(tap); }

void zel_trace_set_quiet(int quiet) { g_quiet.store(quiet); }

}  // extern "C"

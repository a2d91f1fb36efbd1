// Minimal trace: format into a local buffer, write to stderr.
#include "zel_trace.h"

#include <atomic>
#include <stdio.h>

namespace {
std::atomic<zel_trace_tap_t> g_tap{nullptr};
std::atomic<int> g_quiet{0};
}  // namespace

extern "C" {

void zel_vtrace(int level, const char *format, va_list args) {
    char buffer[1024];
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) return;
    if (zel_trace_tap_t tap = g_tap.load()) tap(level, buffer);
    if (!g_quiet.load()) fputs(buffer, stderr);
}

void zel_trace(int level, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    zel_vtrace(level, format, ap);
    va_end(ap);
}

zel_trace_tap_t zel_trace_set_tap(zel_trace_tap_t tap) { return g_tap.exchange(tap); }

void zel_trace_set_quiet(int quiet) { g_quiet.store(quiet); }

}  // extern "C"

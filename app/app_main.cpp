// The application's entry: console streams, the trace and the layer.
#include "app_main.h"

#include "zel_host.h"
#include "zel_kernel.h"
#include "zel_linux_process.h"
#include "zel_stream_debug.h"
#include "zel_stream_ring.h"

namespace {

constexpr uint32_t kInputBuffer = 1024;

uint8_t g_input_buffer[kInputBuffer];
zel_stream_ring_t g_input;
zel_stream_debug_t g_output;
zel_stream_t *g_output_override;
zel_stream_t *g_trace_override;

}  // namespace

extern "C" {

zel_stream_t *app_console_input(void) { return &g_input.stream; }

void app_console_use_output(zel_stream_t *out) { g_output_override = out; }

void app_console_use_trace(zel_stream_t *trace) { g_trace_override = trace; }

int app_main(void) {
    g_input.stream.op = &zel_stream_ring_op;
    g_input.buffer = g_input_buffer;
    g_input.size = kInputBuffer;
    (void)zel_stream_init(&g_input.stream);  // cannot fail
    zel_stream_t *out = g_output_override;
    if (out) {
        zel_stream_connect_tx(&g_input.stream);
    } else {
        g_output.stream.op = &zel_stream_debug_op;
        g_output.console_in = &g_input.stream;
        (void)zel_stream_init(&g_output.stream);  // cannot fail
        out = &g_output.stream;
    }
    zel_trace_init(out && g_trace_override ? g_trace_override : out);
    zel_trace(2, "start linux...\r\n");
    zel_linux_stdio_stream_t stdio = {&g_input.stream, out, out};
    // -7 only when the init process cannot be made or started (no memory,
    // no host thread): nothing of the program would ever run.
    if (zel_linux_init(&stdio) != 0)
        zel_host_fail_start("no memory or no host thread for the init process (\"zel_thread\")");
    return 0;
}

}  // extern "C"

// Command lines of the GUI, run through the shell's line executor.
#include "run_cmd.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "zel_trace.h"

namespace {

// Shared by every caller: system() copies the line before anything can
// block, and framework threads run one at a time.
char g_line[RUN_CMD_MAX + 1];

}  // namespace

extern "C" bool run_cmd(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(g_line, sizeof g_line, format, args);
    va_end(args);
    zel_trace(4, "run: %s\r\n", g_line);
    int status = system(g_line);
    if (status != 0) zel_trace(4, "run: %s faild: %d\r\n", g_line, status);
    return status == 0;
}

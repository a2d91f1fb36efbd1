// Command lines of the GUI, run through the shell's line executor.
#include "run_cmd.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "zel_trace.h"

// The line is the caller's own: while one caller's command runs, another
// thread may run its own, and each failure names its own line.
extern "C" bool run_cmd(const char *format, ...) {
    char line[RUN_CMD_MAX + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    zel_trace(4, "run: %s\r\n", line);
    int status = system(line);
    if (status != 0) zel_trace(4, "run: %s faild: %d\r\n", line, status);
    return status == 0;
}

// The host C library's errno, for code that runs host conversions, and
// lines on the host's standard error stream.
#include "zel_host.h"

#include <errno.h>
#include <stdio.h>

extern "C" {

int zel_host_errno(void) { return errno; }

void zel_host_set_errno(int value) { errno = value; }

void zel_host_error_line(const char *line) {
    fprintf(stderr, "%s\n", line);
    fflush(stderr);
}

}  // extern "C"

// The host C library's errno, for code that runs host conversions.
#include "zel_host.h"

#include <errno.h>

extern "C" {

int zel_host_errno(void) { return errno; }

void zel_host_set_errno(int value) { errno = value; }

}  // extern "C"

// Private helpers shared by the files of the host port.
#ifndef ZEL_HOST_INTERNAL_H
#define ZEL_HOST_INTERNAL_H

#include <stdint.h>

uintptr_t zel_host_self_handle(void);
// Leaves the calling host thread without unwinding its frames: back to the
// trampoline when it was started by zel_host_thread_start, else parks for good.
[[noreturn]] void zel_host_leave_thread(void);

#endif

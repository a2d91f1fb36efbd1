// Private helpers shared by the files of the host port.
#ifndef ZEL_HOST_INTERNAL_H
#define ZEL_HOST_INTERNAL_H

#include <signal.h>
#include <stdint.h>

#include "zel_host.h"

uintptr_t zel_host_self_handle(void);
// Leaves the calling host thread without unwinding its frames: back to the
// trampoline when it was started by zel_host_thread_start, else parks for good.
[[noreturn]] void zel_host_leave_thread(void);

// The kernel's idle wait: looks for the wake-up before sleeping while
// wake-ups come within the window, backing off as
// zel_host_request_pend_soon does.
extern "C" int zel_host_request_pend_idle(zel_host_request_t *req);

// The calls the kernel handed over (zel_host_set_kernel_calls).
const zel_host_kernel_calls_t &zel_host_kernel(void);

// A restart's decision, before its exec: blocks the end signals on the
// calling thread and seals their taking (zel_host_end.cpp), so that a signal
// sent from now on stays pending across the exec. True, with the request's
// code in `code`, when an end was requested, which then ends the program
// instead. `keep_blocked` receives the signals the new image must find
// blocked until its own watcher takes them (none when they were never taken
// over).
bool zel_host_end_seal(int *code, sigset_t *keep_blocked);

#endif

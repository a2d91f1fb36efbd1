// Private helpers shared by the files of the host port.
#ifndef ZEL_HOST_INTERNAL_H
#define ZEL_HOST_INTERNAL_H

#include <signal.h>
#include <stdint.h>

#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#include "zel_host.h"

// An object of static storage that is never destroyed. An exit may come
// from any thread (a library's own, the window system's among them) while
// the other host threads run on: a static object they share must neither
// be torn down under them nor, in its destructor, wait for them (a
// condition variable with a waiter) or end the program (a joinable
// std::thread). Built in place before main, without the heap.
template <typename T>
class zel_host_lasting {
public:
    template <typename... Args>
    explicit zel_host_lasting(Args &&...args) {
        new (bytes_) T(std::forward<Args>(args)...);
    }
    zel_host_lasting(const zel_host_lasting &) = delete;
    zel_host_lasting &operator=(const zel_host_lasting &) = delete;
    T &operator*() { return *std::launder(reinterpret_cast<T *>(bytes_)); }
    T *operator->() { return &**this; }

private:
    alignas(T) unsigned char bytes_[sizeof(T)];
};
// A mutex of static storage needs no such care: it has no destructor to run.
static_assert(std::is_trivially_destructible_v<std::mutex>, "static mutexes would need zel_host_lasting");

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

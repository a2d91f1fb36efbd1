/* Host locks: mutual exclusion between host threads, for state that host
 * threads (the serial and USB threads, trace output) share outside the
 * emulated interrupts, where the kernel's protect does not reach.
 *
 * A zero-filled lock (static storage, or ZEL_HOST_LOCK_INIT) is unlocked and
 * ready: a lock needs no set-up and no teardown. A recursive lock
 * (ZEL_HOST_LOCK_RECURSIVE_INIT) may be taken again by the host thread that
 * holds it, and is free once every take has been given back.
 */
#ifndef ZEL_HOST_LOCK_H
#define ZEL_HOST_LOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the opaque storage of the host mutex; checked against the real
 * layout in zel_host_lock.cpp. */
#define ZEL_HOST_LOCK_STORAGE 40

typedef struct zel_host_lock {
    unsigned char mutex[ZEL_HOST_LOCK_STORAGE] __attribute__((aligned(8)));
    uintptr_t owner;   /* recursive: the holding host thread, 0 when free */
    uint32_t depth;    /* recursive: takes not given back yet */
    uint8_t recursive; /* 1: the holder may take it again */
} zel_host_lock_t;

#define ZEL_HOST_LOCK_INIT \
    { {0}, 0, 0, 0 }
#define ZEL_HOST_LOCK_RECURSIVE_INIT \
    { {0}, 0, 0, 1 }

/* Waits until the calling host thread holds `lock`. */
void zel_host_lock(zel_host_lock_t *lock);
/* Gives back one take of `lock`, which the calling host thread holds. */
void zel_host_unlock(zel_host_lock_t *lock);

#ifdef __cplusplus
}

/* Holds a host lock for the length of a scope. */
class zel_host_lock_guard {
public:
    explicit zel_host_lock_guard(zel_host_lock_t &lock) : lock_(lock) { zel_host_lock(&lock_); }
    ~zel_host_lock_guard() { zel_host_unlock(&lock_); }
    zel_host_lock_guard(const zel_host_lock_guard &) = delete;
    zel_host_lock_guard &operator=(const zel_host_lock_guard &) = delete;

private:
    zel_host_lock_t &lock_;
};
#endif

#endif

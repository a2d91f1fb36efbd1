// Host locks over POSIX mutexes.
#include "zel_host_lock.h"

#include <pthread.h>

namespace {

static_assert(sizeof(pthread_mutex_t) <= ZEL_HOST_LOCK_STORAGE, "ZEL_HOST_LOCK_STORAGE too small");
static_assert(alignof(pthread_mutex_t) <= 8, "zel_host_lock_t::mutex under-aligned");

// A zero-filled lock is a statically initialised mutex: the C library spells
// PTHREAD_MUTEX_INITIALIZER as zeros.
constexpr pthread_mutex_t kZeroMutex = PTHREAD_MUTEX_INITIALIZER;
static_assert(kZeroMutex.__data.__lock == 0 && kZeroMutex.__data.__count == 0 && kZeroMutex.__data.__owner == 0 &&
                  kZeroMutex.__data.__nusers == 0 && kZeroMutex.__data.__kind == 0 && kZeroMutex.__data.__spins == 0 &&
                  kZeroMutex.__data.__list.__prev == nullptr && kZeroMutex.__data.__list.__next == nullptr,
    "PTHREAD_MUTEX_INITIALIZER is not all zeros");

pthread_mutex_t *mutex_of(zel_host_lock_t *lock) { return reinterpret_cast<pthread_mutex_t *>(lock->mutex); }

uintptr_t self() { return static_cast<uintptr_t>(pthread_self()); }

}  // namespace

extern "C" {

void zel_host_lock(zel_host_lock_t *lock) {
    if (!lock->recursive) {
        pthread_mutex_lock(mutex_of(lock));
        return;
    }
    // Only the holder ever finds its own id here: it clears the owner before
    // it lets go of the mutex.
    if (__atomic_load_n(&lock->owner, __ATOMIC_RELAXED) == self()) {
        ++lock->depth;
        return;
    }
    pthread_mutex_lock(mutex_of(lock));
    __atomic_store_n(&lock->owner, self(), __ATOMIC_RELAXED);
    lock->depth = 1;
}

void zel_host_unlock(zel_host_lock_t *lock) {
    if (lock->recursive) {
        if (--lock->depth != 0) return;
        __atomic_store_n(&lock->owner, uintptr_t{0}, __ATOMIC_RELAXED);
    }
    pthread_mutex_unlock(mutex_of(lock));
}

}  // extern "C"

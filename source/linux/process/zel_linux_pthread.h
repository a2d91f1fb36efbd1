/* POSIX threads and mutexes of the layer (pthread.h binds the standard
 * names to these). A thread belongs to the process that made it; one that
 * is neither joined nor detached is joined by the process's exit, and a
 * detached one is not waited for. Once another thread's exit has begun, a
 * join or a lock that would wait answers -1 with errno 9 instead (a wait in
 * progress too). A main thread that called pthread_exit has ended for
 * joins: the first join answers 0 with its value at once, later ones -1.
 * pthread_create answers 0 once the new thread runs, and EAGAIN (11) when
 * it cannot be made or its host thread cannot be created. */
#ifndef ZEL_LINUX_PTHREAD_H
#define ZEL_LINUX_PTHREAD_H

#include <stdint.h>

#include "zel_linux_libc.h"
#include "zel_linux_thread.h"
#include "zel_sync.h"

extern "C" {

/* Words of zel_linux_pthread_attr_t that pthread_create reads. The stack
 * buffer word is not used: a 32-bit word cannot hold a pointer here, and
 * the host gives the thread its stack. */
enum {
    ZEL_LINUX_ATTR_DETACH = 0,
    ZEL_LINUX_ATTR_PRIO = 2,
    ZEL_LINUX_ATTR_INHERIT = 3,
    ZEL_LINUX_ATTR_STACK = 6,
    ZEL_LINUX_ATTR_STACK_SIZE = 7
};

/* The mutex: a priority-inheriting kernel mutex, its type and lock count.
 * It lives in the space of the layer's pthread_mutex_t. */
typedef struct zel_linux_mutex {
    zel_sync_t sync;
    int32_t type;
    uint32_t locks;
} zel_linux_mutex_t;

/* pthread_create, pthread_join, pthread_detach, pthread_exit and the mutex
 * calls are declared in zel_linux_libc.h; pthread_mutex_t holds a
 * zel_linux_mutex_t. */

}  // extern "C"

#endif

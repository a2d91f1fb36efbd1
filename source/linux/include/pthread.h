/* Threads and mutexes of the layer.  A thread belongs to the process that
 * made it; a thread that is neither joined nor detached is joined when the
 * process exits.  pthread_create answers EAGAIN when the thread cannot be
 * made (no memory, or the host refuses a thread): nothing is left of it. */
#ifndef _PTHREAD_H
#define _PTHREAD_H 1

#include <sys/cdefs.h>
#include <sys/types.h>

/* The layer's thread id. */
typedef unsigned int pthread_t;

/* Eight words: detach state (0), priority (2), inherit the process's
 * priority (3), stack buffer (6) and stack size (7, 0 for the default). */
typedef struct {
    unsigned int __word[8];
} pthread_attr_t;

/* A mutex must be set up with pthread_mutex_init(); the layer's record
 * (a priority-inheriting kernel mutex, its type and a lock count) fits in
 * this space. */
typedef union {
    unsigned char __space[64];
    long __align;
} pthread_mutex_t;

/* pthread_mutex_unlock by a thread that does not hold the mutex answers -1
 * with errno EPERM; pthread_mutex_destroy of a mutex that is held or waited
 * for answers -1 with errno EBUSY and changes nothing. A waiting lock takes
 * what its wake needs before it waits, so an unlock never fails for want of
 * memory; a lock that cannot take it answers -1 with errno ENOMEM, not
 * holding the mutex.
 *
 * The mutex type word. */
typedef int pthread_mutexattr_t;

#define PTHREAD_CREATE_JOINABLE 0
#define PTHREAD_CREATE_DETACHED 1
#define PTHREAD_MUTEX_NORMAL 0
#define PTHREAD_MUTEX_DEFAULT PTHREAD_MUTEX_NORMAL
#define PTHREAD_MUTEX_RECURSIVE 4

__BEGIN_DECLS
int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *), void *argument)
    __ZEL_LINUX(pthread_create);
int pthread_join(pthread_t thread, void **result) __ZEL_LINUX(pthread_join);
int pthread_detach(pthread_t thread) __ZEL_LINUX(pthread_detach);
void pthread_exit(void *result) __ZEL_LINUX(pthread_exit) __ZEL_NORETURN;

int pthread_mutex_init(pthread_mutex_t *mutex, const pthread_mutexattr_t *type) __ZEL_LINUX(pthread_mutex_init);
int pthread_mutex_lock(pthread_mutex_t *mutex) __ZEL_LINUX(pthread_mutex_lock);
int pthread_mutex_unlock(pthread_mutex_t *mutex) __ZEL_LINUX(pthread_mutex_unlock);
int pthread_mutex_destroy(pthread_mutex_t *mutex) __ZEL_LINUX(pthread_mutex_destroy);
__END_DECLS

#endif

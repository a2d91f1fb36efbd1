/* Per-process memory of the Linux-emulation layer.
 *
 * Every block that a program allocates through malloc, calloc, realloc or
 * strdup is recorded in its process's tracker and given back when the
 * process ends. Blocks come from the framework heap with a 16-byte head in
 * front of the pointer handed out (so they keep the heap's 16-byte
 * alignment); the head holds the block's slot in the tracker. At most 32768
 * blocks can be live in one process; an allocation beyond that fails with
 * errno 12 (ENOMEM) and takes nothing.
 *
 * The process records and the private parts of descriptors live in the
 * tracker of zel_linux_kernel_process, so that they can outlive the process
 * that made them. Thread records never live in a tracker. */
#ifndef ZEL_LINUX_ALLOC_H
#define ZEL_LINUX_ALLOC_H

#include <stddef.h>
#include <stdint.h>

#include "zel_linux_libc.h"
#include "zel_util.h"

extern "C" {

#define ZEL_LINUX_TRACKER_SLOTS 32768u
/* Bytes in front of every block handed out. */
#define ZEL_LINUX_ALLOC_HEAD 16u

typedef struct zel_linux_process zel_linux_process_t;

typedef struct zel_linux_tracker_slot {
    void *block; /* the pointer handed out */
    size_t size; /* the size asked for */
} zel_linux_tracker_slot_t;

typedef struct zel_linux_tracker {
    size_t total;   /* bytes asked for by the live blocks */
    uint32_t count; /* live blocks */
    uint32_t hint;  /* no slot below this one is free */
    zel_bitmap_t used[ZEL_LINUX_TRACKER_SLOTS / 32];
    zel_linux_tracker_slot_t slots[ZEL_LINUX_TRACKER_SLOTS];
} zel_linux_tracker_t;

/* The process forms; a null process is the current one. */
void *zel_linux_malloc_p(zel_linux_process_t *process, size_t size);
void *zel_linux_calloc_p(zel_linux_process_t *process, size_t count, size_t size);
/* Null pointer: malloc (size 0: null). Size 0: frees and answers null.
 * No memory: null, and the old block stays valid. */
void *zel_linux_realloc_p(zel_linux_process_t *process, void *block, size_t size);
/* Null does nothing. A pointer that is not a live block of the process is
 * traced and left alone. */
void zel_linux_free_p(zel_linux_process_t *process, void *block);
/* Null for a null string. */
char *zel_linux_strdup_p(zel_linux_process_t *process, const char *text);

/* Frees every block still recorded (the last step of a process's teardown). */
void zel_linux_tracker_release(zel_linux_tracker_t *tracker);

/* malloc, calloc, realloc, free and strdup (zel_linux_libc.h) are these on
 * the calling process. */

}  // extern "C"

#endif

/* Memory of the toolkit: every block comes from the port's allocator. */
#ifndef LV_MEM_H
#define LV_MEM_H

#include "lv_types.h"

void *lv_mem_alloc(size_t size);
void *lv_mem_realloc(void *ptr, size_t size);
void lv_mem_free(const void *ptr);

/* A block filled with zeros. */
void *_lv_mem_alloc_zeroed(size_t size);

/* A copy of a NUL-terminated string, or NULL when memory ran out. */
char *_lv_mem_strdup(const char *s);

#endif

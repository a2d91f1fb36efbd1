#include "lv_mem.h"

#include <cstring>

void *lv_mem_alloc(size_t size) {
    /* A zero-sized request still yields a block of its own, so it can be freed. */
    return LV_MEM_CUSTOM_ALLOC(size == 0 ? 1 : size);
}

void *lv_mem_realloc(void *ptr, size_t size) {
    if (ptr == nullptr) return lv_mem_alloc(size);
    return LV_MEM_CUSTOM_REALLOC(ptr, size == 0 ? 1 : size);
}

void lv_mem_free(const void *ptr) {
    if (ptr != nullptr) LV_MEM_CUSTOM_FREE(const_cast<void *>(ptr));
}

void *_lv_mem_alloc_zeroed(size_t size) {
    void *p = lv_mem_alloc(size);
    if (p != nullptr) std::memset(p, 0, size);
    return p;
}

char *_lv_mem_strdup(const char *s) {
    size_t len = std::strlen(s);
    char *copy = static_cast<char *>(lv_mem_alloc(len + 1));
    if (copy != nullptr) std::memcpy(copy, s, len + 1);
    return copy;
}

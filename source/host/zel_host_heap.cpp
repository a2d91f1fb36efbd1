// Host heap hooks over the C library heap; blocks are 16-byte aligned.
#include "zel_host.h"
#include "zel_host_test_hooks.h"

#include <atomic>
#include <malloc.h>
#include <stdlib.h>

namespace {
std::atomic<uint32_t> g_fail_heap{0};
std::atomic<uint32_t> g_fail_every{0};
std::atomic<uint32_t> g_allocations{0};
// Allocations still to succeed before one fails; negative: none armed.
std::atomic<int64_t> g_fail_heap_after{-1};
std::atomic<uint32_t> g_refused{0};  // allocations answered with null, ever

bool take_failure() {
    uint32_t n = g_fail_heap.load();
    while (n > 0 && !g_fail_heap.compare_exchange_weak(n, n - 1)) {}
    if (n > 0) return true;
    int64_t after = g_fail_heap_after.load();
    while (after >= 0 && !g_fail_heap_after.compare_exchange_weak(after, after - 1)) {}
    if (after == 0) return true;
    const uint32_t every = g_fail_every.load(std::memory_order_relaxed);
    return every > 0 && (g_allocations.fetch_add(1, std::memory_order_relaxed) + 1) % every == 0;
}
}  // namespace

extern "C" {

void *zel_host_heap_malloc(size_t size) {
    void *p = take_failure() ? nullptr : malloc(size ? size : 1);
    if (!p) g_refused.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void *zel_host_heap_realloc(void *ptr, size_t size) {
    void *p = take_failure() ? nullptr : realloc(ptr, size ? size : 1);
    if (!p) g_refused.fetch_add(1, std::memory_order_relaxed);
    return p;
}

uint32_t zel_host_refused_allocations(void) { return g_refused.load(std::memory_order_relaxed); }

int zel_host_heap_free(void *ptr) {
    free(ptr);
    return 1;
}

size_t zel_host_heap_alignment(void) { return 16; }

size_t zel_host_heap_size(void *ptr) { return ptr ? malloc_usable_size(ptr) : 0; }

#if ZEL_HOST_TEST_HOOKS
void zel_host_fail_heap_allocations(uint32_t count) { g_fail_heap.store(count); }
void zel_host_fail_heap_allocation_after(int64_t skip) { g_fail_heap_after.store(skip); }
bool zel_host_heap_failure_armed(void) { return g_fail_heap_after.load() >= 0; }
void zel_host_fail_heap_every(uint32_t every) {
    g_allocations.store(0);
    g_fail_every.store(every);
}
#endif

}  // extern "C"

// The toolkit's port hooks for the tests: a clock the tests move by hand and the host
// allocator, with a count of the blocks in use and an allocation made to fail.
#include "lvgl_test_env.h"

#include <cstdlib>

namespace {
uint32_t now_ms;
long live_blocks;
long fail_after = -1;  // allocations still to succeed before one fails; -1: none

bool refused() {
    if (fail_after < 0) return false;
    return fail_after-- == 0;
}
}  // namespace

uint32_t lv_port_tick_get(void) { return now_ms; }

void *lv_port_alloc(size_t size) {
    if (refused()) return nullptr;
    void *p = std::malloc(size);
    if (p != nullptr) live_blocks++;
    return p;
}

void *lv_port_realloc(void *ptr, size_t size) {
    if (refused()) return nullptr;
    if (ptr == nullptr) return lv_port_alloc(size);
    return std::realloc(ptr, size);
}

void lv_port_free(void *ptr) {
    if (ptr != nullptr) live_blocks--;
    std::free(ptr);
}

namespace lvgl_test {

void advance_clock(uint32_t ms) { now_ms += ms; }

long live_allocations() { return live_blocks; }

void fail_allocation_after(long count) { fail_after = count; }

bool allocation_failure_armed() { return fail_after >= 0; }

}  // namespace lvgl_test

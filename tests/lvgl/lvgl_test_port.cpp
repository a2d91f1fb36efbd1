// The toolkit's port hooks for the tests: a clock the tests move by hand and the host
// allocator, with a count of the blocks in use.
#include "lvgl_test_env.h"

#include <cstdlib>

namespace {
uint32_t now_ms;
long live_blocks;
}  // namespace

uint32_t lv_port_tick_get(void) { return now_ms; }

void *lv_port_alloc(size_t size) {
    void *p = std::malloc(size);
    if (p != nullptr) live_blocks++;
    return p;
}

void *lv_port_realloc(void *ptr, size_t size) { return std::realloc(ptr, size); }

void lv_port_free(void *ptr) {
    if (ptr != nullptr) live_blocks--;
    std::free(ptr);
}

namespace lvgl_test {

void advance_clock(uint32_t ms) { now_ms += ms; }

long live_allocations() { return live_blocks; }

}  // namespace lvgl_test

// Library slots: process-local data of libraries that keep static state.
#include <string.h>

#include "zel_linux_process.h"
#include "zel_trace.h"

namespace {

uint16_t g_slots_in_use;  // one bit per slot number taken by some library

// The per-process block of a library: the header, one data pointer per
// module, then the data area.
struct dynlib_block {
    uint16_t modules;
    uint32_t area_size;
    uint32_t used;
    void *data[];
};

size_t area_offset(uint16_t modules) {
    size_t n = sizeof(dynlib_block) + modules * sizeof(void *);
    return (n + 15u) & ~static_cast<size_t>(15u);
}

}  // namespace

extern "C" {

int zel_linux_library_register(int32_t *slot_word, void *data, void (*destructor)(void *data)) {
    if (*slot_word < 0) {
        int n = -1;
        for (int i = 0; i < ZEL_LINUX_LIB_SLOTS; ++i) {
            if (!(g_slots_in_use & (1u << i))) {
                n = i;
                break;
            }
        }
        if (n < 0) {
            *slot_word = -1;
            zel_trace(1, "linux: fail to allocate pls for library\r\n");
            return -6;
        }
        g_slots_in_use = static_cast<uint16_t>(g_slots_in_use | (1u << n));
        *slot_word = n;
    }
    zel_linux_lib_slot_t *slot = &zel_linux_get_cur_process()->libs[*slot_word];
    if (slot->data) {
        zel_trace(3, "linux: can not initiazlize a initizlized library\r\n");
        return -13;
    }
    slot->data = data;
    slot->destructor = destructor;
    return 0;
}

void *zel_linux_dynlib_get(const zel_linux_dynlib_desc_t *desc) {
    zel_linux_process_t *p = zel_linux_get_cur_process();
    dynlib_block *block = nullptr;
    if (*desc->slot >= 0) block = static_cast<dynlib_block *>(p->libs[*desc->slot].data);
    if (!block) {
        // Each module's data starts 16-byte aligned: room for the rounding.
        size_t area = desc->area_size + 16u * desc->modules;
        size_t off = area_offset(desc->modules);
        block = static_cast<dynlib_block *>(zel_linux_calloc_p(p, 1, off + area));
        if (!block) {
            zel_trace(1, "linux: fail to allocate dynlib\r\n");
            return nullptr;
        }
        block->modules = desc->modules;
        block->area_size = static_cast<uint32_t>(area);
        // The block is one of the process's own and goes with its tracker;
        // no destructor, so that a teardown run by another process (a parent
        // deleting a child that never ran) frees nothing twice.
        if (zel_linux_library_register(desc->slot, block, nullptr) < 0) {
            zel_linux_free_p(p, block);
            zel_trace(1, "linux: fail to allocate dynlib\r\n");
            return nullptr;
        }
    }
    if (desc->module >= block->modules) return nullptr;
    if (block->data[desc->module]) return block->data[desc->module];
    uint32_t size = (desc->module_size + 15u) & ~15u;
    if (block->used + size > block->area_size) {
        zel_trace(1, "linux: fail to allocate dynlib\r\n");
        return nullptr;
    }
    void *data = reinterpret_cast<char *>(block) + area_offset(block->modules) + block->used;
    block->used += size;
    block->data[desc->module] = data;
    if (desc->init) desc->init(data);
    return data;
}

}  // extern "C"

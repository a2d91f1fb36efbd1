#include <string.h>

#include "zel_fatfs.h"
#include "zel_heap.h"
#include "zel_subcall.h"

namespace {

enum class CacheStep : uint8_t { START = 0, DIRECT, FILL, WRITE };

struct CacheLocals {
    zel_fatfs_sectors_param_t p;
    uint32_t entry;
};

uint8_t *buffer_of(zel_fatfs_cache_t *cache, uint32_t i) {
    return reinterpret_cast<uint8_t *>(cache->entries + cache->count) + (size_t)i * cache->block_size;
}

// Drops (or, with `data`, refreshes) every entry that holds a sector of the range.
void touch_range(zel_fatfs_cache_t *cache, uint64_t sector, uint32_t count, const uint8_t *data) {
    for (uint32_t i = 0; i < cache->count; i++) {
        zel_fatfs_cache_entry_t &e = cache->entries[i];
        if (!(e.flags & ZEL_FATFS_CACHE_IN_USE) || e.sector < sector || e.sector - sector >= count) continue;
        uint8_t *buf = buffer_of(cache, i);
        const uint8_t *src = data ? data + (e.sector - sector) * cache->block_size : nullptr;
        if (!src) {
            e.sector = ZEL_FATFS_CACHE_NONE;
            e.flags = 0;
        } else if (src != buf) {
            memcpy(buf, src, cache->block_size);
        }
    }
}

constexpr uint32_t kAgeMask = 0x3FFFFFFFu;

// The entry was used now: it becomes the youngest. When the ages run out
// they start again, the entries keeping their flags but not their order.
void touch_entry(zel_fatfs_cache_t *cache, zel_fatfs_cache_entry_t &e) {
    if (cache->tick >= kAgeMask) {
        for (uint32_t i = 0; i < cache->count; i++) cache->entries[i].flags &= ~kAgeMask;
        cache->tick = 0;
    }
    e.flags = (e.flags & ~kAgeMask) | ++cache->tick;
}

// A transfer the device can be asked for: whole sectors, addresses and
// sizes that fit their fields.
bool transfer_fits(const zel_fatfs_cache_t *cache, const CacheLocals *l) {
    const uint64_t bytes = (uint64_t)l->p.count * cache->block_size;
    return l->p.count != 0 && bytes <= 0xFFFFFFFFu && l->p.sector <= UINT64_MAX / cache->block_size;
}

}  // namespace

void zel_fatfs_cache_init(zel_fatfs_cache_t *cache) {
    cache->self = cache;
    cache->tick = 0;
    for (uint32_t i = 0; i < cache->count; i++) {
        cache->entries[i].sector = ZEL_FATFS_CACHE_NONE;
        cache->entries[i].flags = 0;
    }
}

void zel_fatfs_cache_fini(zel_fatfs_cache_t *cache) {
    void *allocation = cache->allocation;
    cache->allocation = nullptr;
    if (allocation) zel_heap_free(allocation);
}

int32_t zel_fatfs_cache_read_start(zel_fatfs_cache_t *cache, uint64_t sector, uint32_t count, void *buffer) {
    return zel_subcall(
        zel_fatfs_cache_read, cache, zel_fatfs_sectors_param_t{sector, count, buffer}, sizeof(CacheLocals));
}

int32_t zel_fatfs_write_sectors_start(zel_fatfs_cache_t *cache, uint64_t sector, uint32_t count, const void *buffer) {
    return zel_subcall(zel_fatfs_write_sectors, cache,
        zel_fatfs_sectors_param_t{sector, count, const_cast<void *>(buffer)}, sizeof(CacheLocals));
}

int32_t zel_fatfs_cache_write_back(zel_fatfs_cache_t *cache, uint64_t sector, uint8_t *data) {
    const int32_t started = zel_fatfs_write_sectors_start(cache, sector, 1, data);
    if (started != 0) touch_range(cache, sector, 1, nullptr);
    return started;
}

void zel_fatfs_cache_read(void *locals, zel_evt_t evt) {
    auto *cache = zel_target<zel_fatfs_cache_t>(locals);
    auto *l = static_cast<CacheLocals *>(locals);
    const uint64_t bytes = (uint64_t)l->p.count * cache->block_size;
    if (evt == ZEL_EVT_INIT) {
        if (!transfer_fits(cache, l)) {
            zel_answer(0);
            return;
        }
        const uint64_t address = l->p.sector * cache->block_size;
        if (l->p.buffer) {
            zel_set_step(CacheStep::DIRECT);
            if (zel_mal_read(cache->mal, address, (uint32_t)bytes, l->p.buffer) != 0) zel_answer(0);
            return;
        }
        uint32_t victim = cache->count;
        for (uint32_t i = 0; i < cache->count; i++) {
            zel_fatfs_cache_entry_t &e = cache->entries[i];
            if ((e.flags & ZEL_FATFS_CACHE_IN_USE) && e.sector == l->p.sector) {
                touch_entry(cache, e);
                zel_answer(reinterpret_cast<uintptr_t>(buffer_of(cache, i)));
                return;
            }
            if (!(e.flags & ZEL_FATFS_CACHE_IN_USE) && victim == cache->count) victim = i;
        }
        if (victim == cache->count) {
            // all in use: the one used least recently (the smallest age), the
            // earlier on equal ages
            victim = 0;
            for (uint32_t i = 1; i < cache->count; i++)
                if ((cache->entries[i].flags & kAgeMask) < (cache->entries[victim].flags & kAgeMask)) victim = i;
        }
        l->entry = victim;
        zel_fatfs_cache_entry_t &e = cache->entries[victim];
        e.sector = l->p.sector;
        e.flags = ZEL_FATFS_CACHE_IN_USE;
        touch_entry(cache, e);
        zel_set_step(CacheStep::FILL);
        if (zel_mal_read(cache->mal, address, cache->block_size, buffer_of(cache, victim)) != 0) {
            e.sector = ZEL_FATFS_CACHE_NONE;
            e.flags = 0;
            zel_answer(0);
        }
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    const intptr_t r = zel_subcall_result();
    switch (zel_step<CacheStep>()) {
    case CacheStep::DIRECT: zel_answer(r == (intptr_t)bytes ? reinterpret_cast<uintptr_t>(l->p.buffer) : 0); return;
    case CacheStep::FILL: {
        zel_fatfs_cache_entry_t &e = cache->entries[l->entry];
        if (r == (intptr_t)cache->block_size) {
            zel_answer(reinterpret_cast<uintptr_t>(buffer_of(cache, l->entry)));
            return;
        }
        e.sector = ZEL_FATFS_CACHE_NONE;  // no later lookup may take this buffer
        e.flags = 0;
        zel_answer(0);
        return;
    }
    default: return;
    }
}

void zel_fatfs_write_sectors(void *locals, zel_evt_t evt) {
    auto *cache = zel_target<zel_fatfs_cache_t>(locals);
    auto *l = static_cast<CacheLocals *>(locals);
    const uint64_t bytes = (uint64_t)l->p.count * cache->block_size;
    if (evt == ZEL_EVT_INIT) {
        if (!transfer_fits(cache, l)) {
            zel_answer(ZEL_FS_ERR_FAILED);
            return;
        }
        touch_range(cache, l->p.sector, l->p.count, static_cast<const uint8_t *>(l->p.buffer));
        zel_set_step(CacheStep::WRITE);
        if (zel_mal_write(cache->mal, l->p.sector * cache->block_size, (uint32_t)bytes, l->p.buffer) != 0) {
            touch_range(cache, l->p.sector, l->p.count, nullptr);
            zel_answer(ZEL_FS_ERR_FAILED);
        }
        return;
    }
    if (evt != ZEL_EVT_RETURN || zel_step<CacheStep>() != CacheStep::WRITE) return;
    const intptr_t r = zel_subcall_result();
    if (r == (intptr_t)bytes) {
        zel_answer(r);
        return;
    }
    // What the cache holds for the range may no longer match the device.
    touch_range(cache, l->p.sector, l->p.count, nullptr);
    zel_answer(ZEL_FS_ERR_FAILED);
}

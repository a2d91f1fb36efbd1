// Step helpers of the fatfs handlers. Each handler keeps its step in the
// agent's user state; a step whose sub-call cannot be started, fails, or
// brings no sector answers the operation with -7.
#ifndef ZEL_FATFS_STEP_H
#define ZEL_FATFS_STEP_H

#include "zel_fatfs.h"
#include "zel_subcall.h"

// Sets `step`, then starts its sub-call (so that the answer comes back to
// that step); answers -7 when the sub-call cannot be started.
template <class Step, class Start>
inline void zel_fatfs_next(Step step, Start start) {
    zel_set_step(step);
    if (start() != 0) zel_answer(ZEL_FS_ERR_FAILED);
}

// Reads `sector` through the volume's cache as the next step.
template <class Step>
inline void zel_fatfs_next_read(zel_fatfs_info_t *vol, Step step, uint64_t sector) {
    zel_fatfs_next(step, [&] { return zel_fatfs_cache_read_start(&vol->cache, sector, 1, nullptr); });
}

// After a sub-call: true when it failed, and then -7 has been answered.
inline bool zel_fatfs_failed() {
    if (zel_subcall_result() >= 0) return false;
    zel_answer(ZEL_FS_ERR_FAILED);
    return true;
}

// After a cache read: the sector's data, or none when the read failed (and
// then -7 has been answered).
inline uint8_t *zel_fatfs_sector_data() {
    auto *data = reinterpret_cast<uint8_t *>(zel_eda_get_return_value());
    if (!data) zel_answer(ZEL_FS_ERR_FAILED);
    return data;
}

#endif

// Helpers shared by the file API and the drivers of this library.
#ifndef ZEL_FS_INTERNAL_H
#define ZEL_FS_INTERNAL_H

#include <stddef.h>

#include "zel_fs.h"
#include "zel_subcall.h"

// Starts a driver slot on `target`: its frame is the slot's header byte plus
// the parameter block. 0, -6 when no frame can be had, -2 for a missing slot.
template <class P>
inline int32_t zel_fs_start(zel_eda_frame_handler_t slot, uint8_t local, const void *target, const P &params) {
    if (!slot) return ZEL_FS_ERR_NOT_SUPPORTED;
    return zel_subcall(slot, target, params, local + static_cast<uint32_t>(sizeof(P)));
}

inline bool zel_fs_is_dir(const zel_file_t *f) { return (f->attributes & ZEL_FILE_DIR) != 0; }
inline bool zel_fs_is_mount(const zel_file_t *f) { return (f->attributes & ZEL_FILE_MOUNT) != 0; }

// A heap copy of the first `n` bytes of `s` with a NUL; none on no memory.
char *zel_fs_strndup(const char *s, size_t n);
// Length of the path element at the start of `path` (up to '/', '\\' or NUL).
size_t zel_fs_element_length(const char *path);
// A name a node may be given: not empty, no separator, not "." or "..".
bool zel_fs_name_is_valid(const char *name);

#endif

// The host's system trust store, mounted read-only where curl looks for it.
#include "trust_store.h"

#include <string.h>

#include "zel_heap.h"
#include "zel_linux_file.h"
#include "zel_trace.h"
#include "zel_winfs.h"

const char *app_trust_store_dir = "/etc/ssl/certs";

int app_mount_trust_store(void) {
    // A failure to make the folders shows as the mount's.
    (void)zel_linux_mkdir_by_open(APP_TRUST_STORE_MOUNT, 0);
    const size_t n = strlen(app_trust_store_dir) + 1;
    // The record lives as long as the mount, which is never taken down.
    auto *info = static_cast<zel_winfs_info_t *>(zel_heap_calloc(1, sizeof(zel_winfs_info_t) + n));
    if (!info) {
        zel_trace(1, "fail to mount the trust store: no memory\r\n");
        return -1;
    }
    char *path = reinterpret_cast<char *>(info + 1);
    memcpy(path, app_trust_store_dir, n);
    info->file.name = path;
    info->read_only = true;
    if (zel_linux_mount(nullptr, APP_TRUST_STORE_MOUNT, &zel_winfs_op, 0, info) != 0) {
        zel_trace(1, "fail to mount the trust store %s on %s\r\n", app_trust_store_dir, APP_TRUST_STORE_MOUNT);
        zel_heap_free(info);
        return -1;
    }
    return 0;
}

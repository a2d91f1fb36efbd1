// Mount types, their data, and the adapter disk under "/scsi".
#include "app_mount.h"

#include <string.h>

#include "zel_file.h"
#include "zel_file_mal.h"
#include "zel_kernel.h"
#include "zel_linux_file.h"
#include "zel_mal_mbr.h"
#include "zel_scsi_mal.h"
#include "zel_winfs.h"

namespace {

// The adapter disk: one at a time.
enum class DiskStep : uint8_t {
    InitDevice = 0,  // INQUIRY and READ CAPACITY
    OpenScsi = 1,    // open "/scsi"
    MountMbr = 2     // mount the FAT partitions
};

struct AdapterDisk {
    uint8_t mounted;
    zel_scsi_mal_t device;
    zel_eda_t agent;
    zel_mal_mount_mbr_t record;
    DiskStep step;
};
AdapterDisk g_disk;

void disk_failed() { zel_trace(1, "fail to mount scsi drive\r\n"); }

// True when an entry of the directory is a mount point.
bool holds_mounts(const char *dir) {
    zel_linux_fd *d = zel_linux_opendir(dir);
    if (!d) return false;
    bool found = false;
    while (!found && zel_linux_readdir(d)) {
        auto *priv = reinterpret_cast<zel_linux_file_priv_t *>(d->priv);
        found = priv->entry && (priv->entry->attributes & ZEL_FILE_MOUNT);
    }
    zel_linux_closedir(d);
    return found;
}

}  // namespace

extern "C" {

const mount_type_t mount_types[MOUNT_TYPE_COUNT] = {
    {"auto", nullptr, mount_file_mal_prepare, mount_file_mal_cleanup, 1},
    {"fatfs", nullptr, mount_file_mal_prepare, mount_file_mal_cleanup, 1},
    {"winfs", &zel_winfs_op, mount_winfs_prepare, mount_winfs_cleanup, 0},
};

void *mount_file_mal_prepare(const mount_type_t *, const mount_args_t *args) {
    auto *dev = static_cast<zel_file_mal_t *>(zel_heap_calloc(1, sizeof(zel_file_mal_t)));
    if (!dev) {
        zel_linux_printf("not enough resources\r\n");
        return nullptr;
    }
    int32_t r = zel_file_open(nullptr, args->device, &dev->file);
    if (r == 0) r = static_cast<int32_t>(zel_eda_get_return_code());
    if (r != 0 || !dev->file || (dev->file->attributes & ZEL_FILE_DIR)) {
        if (r == 0 && dev->file) zel_file_close(dev->file);
        zel_linux_printf("fail to open src_file %s\r\n", args->device);
        zel_heap_free(dev);
        return nullptr;
    }
    dev->mal.drv = &zel_file_mal_drv;
    dev->block_size = args->block_size;
    r = zel_mal_init(&dev->mal);
    if (r == 0) r = static_cast<int32_t>(zel_eda_get_return_code());
    if (r != 0) {
        mount_file_mal_cleanup(dev);
        return nullptr;
    }
    return dev;
}

void mount_file_mal_cleanup(void *data) {
    auto *dev = static_cast<zel_file_mal_t *>(data);
    if (!dev) return;
    zel_io_gate_fini(&dev->gate);
    zel_file_close(dev->file);
    zel_heap_free(dev);
}

void *mount_winfs_prepare(const mount_type_t *, const mount_args_t *args) {
    size_t n = strlen(args->device) + 1;
    auto *info = static_cast<zel_winfs_info_t *>(zel_heap_calloc(1, sizeof(zel_winfs_info_t) + n));
    if (!info) return nullptr;
    char *path = reinterpret_cast<char *>(info + 1);
    memcpy(path, args->device, n);
    info->file.name = path;
    return info;
}

void mount_winfs_cleanup(void *data) { zel_heap_free(data); }

int mount_apply(const mount_type_t *row, const char *dir, void *data) {
    if (zel_linux_mount(nullptr, dir, row->driver, 0, data) == 0) return 0;
    // Partitions mounted before a later one failed still read the device.
    if (!row->driver && holds_mounts(dir)) return -1;
    row->cleanup(data);
    return -1;
}

void on_msc_disk_connect(zel_scsi_t *scsi) {
    if (g_disk.mounted) return;
    g_disk.mounted = 1;
    memset(&g_disk.device, 0, sizeof g_disk.device);
    g_disk.device.scsi = scsi;
    g_disk.device.mal.drv = &zel_scsi_mal_drv;
    memset(&g_disk.agent, 0, sizeof g_disk.agent);
    g_disk.agent.handler.plain = scsi_mount_evthandler;
    zel_eda_start(&g_disk.agent, 0, 0);
}

void on_msc_disk_disconnect(zel_scsi_t *scsi) {
    if (g_disk.device.scsi == scsi) g_disk.mounted = 0;
}

void scsi_mount_evthandler(zel_eda_t *, uint16_t evt) {
    if (evt == ZEL_EVT_INIT) {
        g_disk.step = DiskStep::InitDevice;
        if (zel_mal_init(&g_disk.device.mal) != 0) disk_failed();
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (zel_eda_get_return_value() != 0) {
        disk_failed();
        return;
    }
    switch (g_disk.step) {
    case DiskStep::InitDevice:
        g_disk.step = DiskStep::OpenScsi;
        memset(&g_disk.record, 0, sizeof g_disk.record);
        if (zel_file_open(nullptr, "/scsi", &g_disk.record.dir) != 0) disk_failed();
        break;
    case DiskStep::OpenScsi:
        g_disk.record.mal = &g_disk.device.mal;
        g_disk.step = DiskStep::MountMbr;
        if (zel_mal_mount_mbr(&g_disk.record) != 0) disk_failed();
        break;
    case DiskStep::MountMbr:
        // "/scsi" stays open for the life of the mounts.
        if (g_disk.record.result != 0) disk_failed();
        break;
    }
}

bool dir_first_entry_name(const char *dir, char *out, size_t n) {
    zel_linux_fd *d = zel_linux_opendir(dir);
    if (!d) return false;
    zel_linux_dirent *first = zel_linux_readdir(d);
    bool one = false;
    if (first) {
        if (out && n) {
            size_t length = strnlen(first->d_name, n - 1);
            memcpy(out, first->d_name, length);
            out[length] = '\0';
        }
        one = zel_linux_readdir(d) == nullptr;
    }
    zel_linux_closedir(d);
    return one;
}

}  // extern "C"

// Mount types, their data, and the adapter disk under "/scsi".
#include "app_mount.h"

#include "app_commands.h"

#include <stdio.h>
#include <string.h>

#include "file_node.h"
#include "zel_file.h"
#include "zel_file_mal.h"
#include "zel_host.h"
#include "zel_kernel.h"
#include "zel_linux_file.h"
#include "zel_linux_process.h"
#include "zel_mal_mbr.h"
#include "zel_scsi_mal.h"
#include "zel_winfs.h"

static_assert(APP_FILE_PATH_MAX == ZEL_LINUX_PATH_MAX, "the application's path limit is the layer's");

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
    app_disk_state_t state;
};
AdapterDisk g_disk;

void scan_outcome(const zel_mal_mount_mbr_t &r, const char *device, char *reason, size_t size);

// The disk is there but cannot be used: the trace, one line for the user
// and the state the GUI shows.
void disk_failed(const char *why) {
    g_disk.state = APP_DISK_FAILED;
    zel_trace(1, "fail to mount scsi drive\r\n");
    char line[256];
    snprintf(line, sizeof line, "trellow: the adapter's disk could not be read: %.160s", why);
    zel_host_error_line(line);
}

// The device of an image file, and the list of the images whose partitions
// are mounted (or being mounted). Nothing unmounts them: an entry stays for
// the life of the program.
struct ImageDevice {
    zel_file_mal_t dev;  // first: the mount data is this device
    ImageDevice *next;
};
ImageDevice *g_images;

ImageDevice *image_of(void *data) { return static_cast<ImageDevice *>(data); }

bool image_mounted(const ImageDevice *image) {
    for (const ImageDevice *m = g_images; m; m = m->next)
        if (file_node_same(m->dev.file, image->dev.file)) return true;
    return false;
}

bool image_listed(const ImageDevice *image) {
    for (const ImageDevice *m = g_images; m; m = m->next)
        if (m == image) return true;
    return false;
}

void image_forget(ImageDevice *image) {
    for (ImageDevice **at = &g_images; *at; at = &(*at)->next)
        if (*at == image) {
            *at = image->next;
            return;
        }
}

// The open directory `dir`, or -1.
int open_directory(const char *dir) { return zel_linux_open(dir, ZEL_LINUX_O_DIRECTORY); }

int bits(uint8_t mask) {
    int n = 0;
    for (; mask; mask &= (uint8_t)(mask - 1)) n++;
    return n;
}

// The reason an MBR scan of `device` failed (an empty text: it did not).
void scan_outcome(const zel_mal_mount_mbr_t &r, const char *device, char *reason, size_t size) {
    if (r.result == 0 && r.mounted != 0) {
        reason[0] = 0;
    } else if (r.mounted != 0) {
        snprintf(reason, size, "%d of %d FAT partitions of %s mounted", bits(r.mounted), r.found, device);
    } else if (r.result == -6) {
        snprintf(reason, size, "not enough resources");
    } else if (r.found == 0) {
        const char *why = r.table == ZEL_MBR_TABLE_NONE  ? ": it has no partition table"
                          : r.table == ZEL_MBR_TABLE_GPT ? ": its GPT partition table is not read"
                                                         : "";
        snprintf(reason, size, "no FAT partition found on %s%s", device, why);
    } else if (r.sector_size != 0) {
        snprintf(reason, size, "unsupported sector size %u on %s", (unsigned)r.sector_size, device);
    } else {
        snprintf(reason, size, "no FAT volume mounted from %s", device);
    }
}

// The FAT partitions of an image device on `dir`. The image is claimed
// before anything waits: a mount of the same image that starts meanwhile
// finds it claimed.
int mount_image(const mount_args_t *args, const char *dir, ImageDevice *image, char *reason, size_t size) {
    if (args->block_size == 0 || ZEL_MBR_SECTOR % args->block_size != 0) {
        snprintf(reason, size, "unsupported block size %u", (unsigned)args->block_size);
        return -1;
    }
    // No wait between the test and the claim: framework threads take turns
    // only where one waits.
    if (image_mounted(image)) {
        snprintf(reason, size, "%s is already mounted", args->device);
        return -1;
    }
    // Another program's mount or the simulated adapter has the image; a
    // writable one becomes this mount's alone.
    if (file_node_in_use(image->dev.file) || zel_winfs_claim(image->dev.file) != 0) {
        snprintf(reason, size, "%s is in use", args->device);
        return -1;
    }
    image->next = g_images;
    g_images = image;
    const int fd = open_directory(dir);
    if (fd < 0) {
        image_forget(image);
        snprintf(reason, size, "no directory %s", dir);
        return -1;
    }
    zel_mal_mount_mbr_t record{};
    record.mal = &image->dev.mal;
    record.dir = zel_linux_fd_file(fd);
    int32_t r = zel_mal_mount_mbr(&record);
    if (r == 0) r = static_cast<int32_t>(zel_eda_get_return_code());
    if (r != 0) record.result = -6;
    zel_linux_close(fd);
    scan_outcome(record, args->device, reason, size);
    if (record.mounted == 0) image_forget(image);
    if (reason[0]) return -1;
    if (!(image->dev.file->attributes & ZEL_FILE_WRITABLE))
        snprintf(reason, size, "%s is read-only: its volumes are mounted read-only", args->device);
    return 0;
}

}  // namespace

extern "C" {

const mount_type_t mount_types[MOUNT_TYPE_COUNT] = {
    {"auto", nullptr, mount_file_mal_prepare, mount_file_mal_cleanup, 1},
    {"fatfs", nullptr, mount_file_mal_prepare, mount_file_mal_cleanup, 1},
    {"winfs", &zel_winfs_op, mount_winfs_prepare, mount_winfs_cleanup, 0},
};

void *mount_file_mal_prepare(const mount_type_t *, const mount_args_t *args) {
    auto *image = static_cast<ImageDevice *>(zel_heap_calloc(1, sizeof(ImageDevice)));
    zel_file_mal_t *dev = image ? &image->dev : nullptr;
    if (!dev) {
        zel_linux_printf("not enough resources\r\n");
        return nullptr;
    }
    int32_t r = zel_file_open(nullptr, args->device, &dev->file);
    if (r == 0) r = static_cast<int32_t>(zel_eda_get_return_code());
    if (r != 0 || !dev->file || (dev->file->attributes & ZEL_FILE_DIR)) {
        // -6 only without a call frame: the node then stays referenced.
        if (r == 0 && dev->file) (void)zel_file_close(dev->file);
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
    (void)zel_file_close(dev->file);  // -6 only without a call frame: the node then stays referenced
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

int mount_apply(
    const mount_type_t *row, const mount_args_t *args, const char *dir, void *data, char *reason, size_t size) {
    reason[0] = 0;
    if (!row->driver) {
        ImageDevice *image = image_of(data);
        if (mount_image(args, dir, image, reason, size) == 0) return 0;
        // Partitions that did mount still read the device.
        if (image_listed(image)) return -1;
    } else {
        const int fd = open_directory(dir);
        if (fd < 0) {
            snprintf(reason, size, "no directory %s", dir);
        } else {
            zel_linux_close(fd);
            if (zel_linux_mount(nullptr, dir, row->driver, 0, data) == 0) return 0;
            snprintf(reason, size, "no host folder %s", args->device);
        }
    }
    row->cleanup(data);
    return -1;
}

void on_msc_disk_connect(zel_scsi_t *scsi) {
    if (g_disk.mounted) return;
    g_disk.mounted = 1;
    g_disk.state = APP_DISK_MOUNTING;
    memset(&g_disk.device, 0, sizeof g_disk.device);
    g_disk.device.scsi = scsi;
    g_disk.device.mal.drv = &zel_scsi_mal_drv;
    // The agent of an earlier disk is ended first: it gives back what it
    // holds (its frames, its waits, its reserve event nodes) before its
    // record is cleared for the new one.
    (void)zel_eda_fini(&g_disk.agent);  // cannot fail
    memset(&g_disk.agent, 0, sizeof g_disk.agent);
    g_disk.agent.handler.plain = scsi_mount_evthandler;
    (void)zel_eda_start(&g_disk.agent, 0, 0);  // fails only without event nodes
}

void on_msc_disk_disconnect(zel_scsi_t *scsi) {
    if (g_disk.device.scsi != scsi) return;
    g_disk.mounted = 0;
    g_disk.state = APP_DISK_NONE;
}

app_disk_state_t app_adapter_disk_state(void) { return g_disk.state; }

void scsi_mount_evthandler(zel_eda_t *, uint16_t evt) {
    static const char kNoAnswer[] = "it did not answer INQUIRY or READ CAPACITY";
    if (evt == ZEL_EVT_INIT) {
        g_disk.step = DiskStep::InitDevice;
        if (zel_mal_init(&g_disk.device.mal) != 0) disk_failed(kNoAnswer);
        return;
    }
    if (evt != ZEL_EVT_RETURN) return;
    if (zel_eda_get_return_value() != 0) {
        disk_failed(g_disk.step == DiskStep::InitDevice ? kNoAnswer
                    : g_disk.step == DiskStep::OpenScsi ? "/scsi cannot be opened"
                                                        : "its partitions cannot be read");
        return;
    }
    switch (g_disk.step) {
    case DiskStep::InitDevice:
        g_disk.step = DiskStep::OpenScsi;
        memset(&g_disk.record, 0, sizeof g_disk.record);
        if (zel_file_open(nullptr, "/scsi", &g_disk.record.dir) != 0) disk_failed("/scsi cannot be opened");
        break;
    case DiskStep::OpenScsi:
        g_disk.record.mal = &g_disk.device.mal;
        g_disk.step = DiskStep::MountMbr;
        if (zel_mal_mount_mbr(&g_disk.record) != 0) disk_failed("its partitions cannot be read");
        break;
    case DiskStep::MountMbr:
        // "/scsi" stays open for the life of the mounts. A scan that found
        // nothing to mount answers 0 as well: the disk is of no use then.
        if (g_disk.record.result != 0 || g_disk.record.mounted == 0) {
            char why[160];
            scan_outcome(g_disk.record, "it", why, sizeof why);
            disk_failed(why[0] ? why : "its partitions cannot be read");
        } else {
            g_disk.state = APP_DISK_MOUNTED;
        }
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

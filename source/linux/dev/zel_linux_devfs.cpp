// The standard directories, the device files and the terminfo entry.
#include <string.h>

#include <initializer_list>

#include "zel_fs.h"
#include "zel_host_random.h"
#include "zel_linux_bind.h"
#include "zel_linux_dev.h"
#include "zel_linux_file.h"

namespace {

constexpr const char *kTerminfoDir = "/usr/share/terminfo/v";
constexpr const char *kVt100 = "/usr/share/terminfo/v/vt100";

const zel_fs_rw_param_t *request(void *locals) { return static_cast<const zel_fs_rw_param_t *>(locals); }

int fail(const char *format, const char *path, int r) {
    zel_linux_fprintf(zel_linux_stderr(), format, path);
    return r;
}

int bind_device(const char *path, zel_eda_frame_handler_t read, zel_eda_frame_handler_t write, uint64_t size) {
    uint32_t attributes = (read ? ZEL_FILE_READABLE : 0) | (write ? ZEL_FILE_WRITABLE : 0);
    return zel_linux_fs_bind_target(path, nullptr, nullptr, read, write, attributes, size);
}

}  // namespace

extern "C" {

void zel_linux_devfs_null_write(void *locals, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_eda_return(request(locals)->size);
}

void zel_linux_devfs_zero_read(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    const zel_fs_rw_param_t *rw = request(locals);
    memset(rw->buffer, 0, rw->size);
    zel_eda_return(rw->size);
}

void zel_linux_devfs_random_read(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    const zel_fs_rw_param_t *rw = request(locals);
    auto *bytes = static_cast<uint8_t *>(rw->buffer);
    for (uint32_t i = 0; i < rw->size; i += 4) {
        uint32_t word = zel_host_random_word();
        uint32_t n = rw->size - i < 4 ? rw->size - i : 4;
        memcpy(bytes + i, &word, n);
    }
    zel_eda_return(rw->size);
}

int zel_linux_devfs_init(void) {
    int r = zel_linux_mkdir("/dev", 0);
    if (r != 0) return fail("fail to mkdir %s\r\n", "/dev", r);
    r = bind_device("dev/null", nullptr, zel_linux_devfs_null_write, 0);
    if (r != 0) return fail("fail to bind %s\r\n", "/dev/null", r);
    r = bind_device("dev/zero", zel_linux_devfs_zero_read, nullptr, 0);
    if (r != 0) return fail("fail to bind %s\r\n", "/dev/zero", r);
    for (const char *path : {"/dev/random", "/dev/urandom"})
        if (bind_device(path, zel_linux_devfs_random_read, nullptr, UINT64_MAX) == 0)
            zel_linux_printf("%s bound.\r\n", path);
    return 0;
}

int zel_linux_create_fs_hierarchy(void) {
    int r = zel_linux_mkdir_by_open("/var/run", 0);
    if (r != 0) return fail("fail to mkdir %s\r\n", "/var/run", r);
    for (const char *dir : {"/var/lib", "/run"}) {
        r = zel_linux_mkdir(dir, 0);
        if (r != 0) return fail("fail to mkdir %s\r\n", dir, r);
    }
    r = zel_linux_devfs_init();
    if (r != 0) return r;
    r = zel_linux_mkdir_by_open(kTerminfoDir, 0);
    if (r != 0) return fail("fail to mkdir %s\r\n", kTerminfoDir, r);
    // A failure leaves the terminal description unbound; the rest of the tree still comes.
    (void)zel_linux_fs_bind_buffer(
        kVt100, const_cast<uint8_t *>(zel_linux_devfs_vt100), ZEL_FILE_READABLE, ZEL_LINUX_VT100_SIZE);
    zel_linux_putenv(const_cast<char *>("TERM=vt100"));
    zel_linux_putenv(const_cast<char *>("TERMINFO=/usr/share/terminfo"));
    return 0;
}

}  // extern "C"

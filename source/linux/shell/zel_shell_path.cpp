// Finding and binding the commands under "/bin".
#include <string.h>

#include "zel_linux_process.h"
#include "zel_shell.h"

namespace {

constexpr size_t kOwnBuffer = 255;

}  // namespace

extern "C" {

int zel_linux_set_path(const char *value) { return zel_linux_setenv("PATH", value, 1); }

int zel_linux_find_in_path(char *buf, size_t size, const char *name, zel_shell_main_t *main_out) {
    char own[kOwnBuffer];
    if (!buf) {
        buf = own;
        size = sizeof own;
    }
    const char *path = zel_linux_getenv("PATH");
    if (!path || !name) return -1;
    // A candidate that could not be looked at for a shortage may be the
    // command: the shortage is the answer's reason, not its absence.
    int short_of = 0;
    while (*path) {
        const char *colon = strchr(path, ':');
        size_t n = colon ? static_cast<size_t>(colon - path) : strlen(path);
        char dir[ZEL_LINUX_PATH_MAX];
        if (n > 0 && n < sizeof dir) {
            memcpy(dir, path, n);
            dir[n] = '\0';
            if (zel_linux_generate_path(buf, size, dir, name) == 0) {
                int fd = zel_linux_is_executable(buf, main_out);
                if (fd >= 0) return fd;
                if (!short_of && zel_shell_shortage(*zel_linux_errno_ptr())) short_of = *zel_linux_errno_ptr();
            }
        }
        path += colon ? n + 1 : n;
    }
    if (short_of) zel_linux_set_errno(short_of);
    return -1;
}

int zel_shell_lookup(const char *name, zel_shell_main_t *main_out) {
    int fd = -1, short_of = 0;
    if (name[0] != '/') {
        fd = zel_linux_find_in_path(nullptr, 0, name, main_out);
        if (fd < 0 && zel_shell_shortage(*zel_linux_errno_ptr())) short_of = *zel_linux_errno_ptr();
    }
    if (fd < 0) fd = zel_linux_is_executable(name, main_out);
    if (fd < 0) {
        if (short_of) zel_linux_set_errno(short_of);
        return -1;
    }
    zel_linux_close(fd);
    return 0;
}

int zel_linux_install_builtin(const char *path, zel_shell_main_t main) {
    int fd = zel_linux_open(path, ZEL_LINUX_O_RDONLY);
    if (fd < 0) fd = zel_linux_creat(path, 0);
    if (fd < 0 || zel_linux_bind_executable(fd, main) != 0) {
        if (fd >= 0) zel_linux_close(fd);
        zel_linux_printf("fail to install %s.\r\n", path);
        return fd < 0 ? fd : -1;
    }
    zel_linux_close(fd);
    zel_linux_printf("%s installed.\r\n", path);
    return fd;
}

int zel_linux_install_builtins(void) {
    static const struct {
        const char *path;
        zel_shell_main_t main;
    } table[] = {
        {"/bin/init", init_main},
        {"/bin/sh", sh_main},
        {"/bin/ls", ls_main},
        {"/bin/cd", cd_main},
        {"/bin/pwd", pwd_main},
        {"/bin/cat", cat_main},
        {"/bin/echo", echo_main},
        {"/bin/mkdir", mkdir_main},
        {"/bin/clear", clear_main},
        {"/bin/time", time_main},
        {"/bin/export", export_main},
    };
    if (zel_linux_mkdir_by_open("/bin", 0) != 0) return -1;
    for (const auto &entry : table)
        if (zel_linux_install_builtin(entry.path, entry.main) < 0) return -1;
    return 0;
}

}  // extern "C"

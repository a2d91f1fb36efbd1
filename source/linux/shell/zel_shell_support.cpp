// What the built-in commands change in the shell that runs them.
#include "zel_linux_file.h"
#include "zel_linux_process.h"
#include "zel_linux_stdlib.h"
#include "zel_shell.h"
#include "zel_timer.h"

namespace {

// The process whose working directory and environment a command changes.
zel_linux_process_t *stdio_source() {
    zel_linux_process_t *p = zel_linux_get_cur_process();
    return p->stdio_src ? p->stdio_src : p;
}

}  // namespace

extern "C" {

const char *zel_shell_shortage(int error) {
    if (error == ZEL_LINUX_EMFILE || error == ZEL_LINUX_ENFILE) return "too many open files";
    if (error == ZEL_LINUX_ENOMEM) return "not enough memory";
    return nullptr;
}

int zel_shell_source_chdir(const char *path) { return zel_linux_chdir(stdio_source(), path); }

int zel_shell_source_putenv(const char *entry) { return zel_linux_putenv_copy(stdio_source(), entry); }

char **zel_shell_environ(void) { return zel_linux_get_cur_process()->environ; }

uint64_t zel_shell_uptime_ms(void) { return zel_timer_get_ms(); }

}  // extern "C"

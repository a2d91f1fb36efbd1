// Program restart: start /proc/self/exe anew and end this process.
#include "zel_host.h"

#include <atomic>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;

namespace {

void default_exit(int code) {
    fflush(nullptr);
    _exit(code);
}

std::atomic<zel_host_exit_hook_t> g_exit_hook{default_exit};
std::atomic<bool> g_ending_told{false};

}  // namespace

extern "C" {

zel_host_exit_hook_t zel_host_set_exit_hook(zel_host_exit_hook_t hook) {
    return g_exit_hook.exchange(hook ? hook : default_exit);
}

void zel_host_exit(int code) {
    g_exit_hook.load()(code);
    _exit(code);
}

void zel_host_ending_line(const char *line) {
    if (!g_ending_told.exchange(true)) zel_host_error_line(line);
}

void zel_host_fail_start(const char *what) {
    char line[256];
    snprintf(line, sizeof line, "%s: cannot start: %s", program_invocation_short_name, what ? what : "");
    zel_host_ending_line(line);
    zel_host_exit(1);
}

void zel_host_reset(void) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) n = 0;
    path[n] = 0;
    char *const argv[] = {path, nullptr};

    // Everything the child needs is computed before fork: after it, in a
    // process with other threads, only async-signal-safe calls are allowed.
    struct rlimit rl;
    long max_fd = 1024;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) max_fd = static_cast<long>(rl.rlim_cur);
    if (max_fd > 65536) max_fd = 65536;

    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
#ifdef SYS_close_range
        if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
        {
            for (long fd = 3; fd < max_fd; ++fd) close(static_cast<int>(fd));
        }
        execve("/proc/self/exe", argv, environ);
        _exit(127);
    }
    // The new instance is started (or could not be): end this one with 0.
    g_exit_hook.load()(0);
    _exit(0);
}

}  // extern "C"

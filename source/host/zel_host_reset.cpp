// Program restart in place: this process becomes a fresh instance of its own
// executable (execve of /proc/self/exe with the arguments it was started
// with), so its process id, its terminal and a parent waiting on it stay.
#include "zel_host.h"
#include "zel_host_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

extern char **environ;

namespace {

void default_exit(int code) {
    fflush(nullptr);
    _exit(code);
}

std::atomic<zel_host_exit_hook_t> g_exit_hook{default_exit};
std::atomic<zel_host_restart_hook_t> g_restart_hook{nullptr};

// The signal state the program was started with, which the new image must
// find again: host threads block signals (and the thread that restarts
// hands its mask on), and the program ignores some (SIGXFSZ) or handles
// signals its starter had it ignore (a handler becomes the default at exec,
// not the ignore it replaced).
struct start_signals {
    bool noted;
    sigset_t mask;
    bool ignored[NSIG];
};
start_signals g_start;

__attribute__((constructor)) void note_start_signals() {
    g_start.noted = pthread_sigmask(SIG_SETMASK, nullptr, &g_start.mask) == 0;
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction now;
        g_start.ignored[s] = sigaction(s, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
    }
}

// `keep_blocked`: signals that stay blocked (and pending) across the exec,
// whatever the start found; their handlers become the default there, and
// none is set to be ignored, which would drop one pending.
void restore_start_signals(const sigset_t &keep_blocked) {
    sigset_t mask = keep_blocked;
    if (g_start.noted)
        for (int s = 1; s < NSIG; ++s)
            if (sigismember(&g_start.mask, s)) sigaddset(&mask, s);
    for (int s = 1; g_start.noted && s < NSIG; ++s) {
        if (s == SIGKILL || s == SIGSTOP || sigismember(&keep_blocked, s)) continue;
        struct sigaction now;
        if (sigaction(s, nullptr, &now) != 0) continue;
        const bool ignored = now.sa_handler == SIG_IGN;
        if (ignored == g_start.ignored[s]) continue;  // a handler becomes the default by itself
        struct sigaction put = {};
        put.sa_handler = g_start.ignored[s] ? SIG_IGN : SIG_DFL;
        sigemptyset(&put.sa_mask);
        (void)sigaction(s, &put, nullptr);
    }
    (void)pthread_sigmask(g_start.noted ? SIG_SETMASK : SIG_BLOCK, &mask, nullptr);
}

// The arguments the program was started with (the kernel keeps them in
// /proc/self/cmdline, whatever main did to its argv); none when unreadable.
std::vector<std::string> start_arguments() {
    std::vector<std::string> args;
    const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return args;
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            text.clear();
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\0', at);
        args.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return args;
}

// Every descriptor above the standard streams closes at the exec: it
// belongs to this image (the window, the devices, the sockets, the wake
// pipes). Marked rather than closed, so a failed exec leaves them usable.
void close_on_exec_above_2() {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    struct rlimit rl;
    long max_fd = 1024;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) max_fd = static_cast<long>(rl.rlim_cur);
    if (max_fd > 65536) max_fd = 65536;
    for (int fd = 3; fd < max_fd; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) (void)fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

std::atomic<bool> g_ending_told{false};

}  // namespace

extern "C" {

zel_host_exit_hook_t zel_host_set_exit_hook(zel_host_exit_hook_t hook) {
    return g_exit_hook.exchange(hook ? hook : default_exit);
}

zel_host_restart_hook_t zel_host_set_restart_hook(zel_host_restart_hook_t hook) {
    return g_restart_hook.exchange(hook);
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
    // An end asked for by now ends the program instead; one asked for later
    // is the new image's.
    int code = 0;
    sigset_t keep_blocked;
    if (zel_host_end_seal(&code, &keep_blocked)) zel_host_exit(code);
    std::vector<std::string> args = start_arguments();
    if (args.empty()) {
        char path[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        path[n < 0 ? 0 : n] = 0;
        args.emplace_back(path);
    }
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    if (zel_host_restart_hook_t hook = g_restart_hook.load()) hook();
    fflush(nullptr);
    close_on_exec_above_2();
    restore_start_signals(keep_blocked);
    execve("/proc/self/exe", argv.data(), environ);

    // Still this image: say so where the user looks, and end as a failure.
    const int error = errno;
    char line[160];
    snprintf(line, sizeof line, "restart: cannot start the program anew: %s", strerror(error));
    zel_host_error_line(line);
    g_exit_hook.load()(1);
    _exit(1);
}

}  // extern "C"

// The desktop's file chooser, clipboard and browser through helper
// programs (see zel_host_dialog.h).
#include "zel_host_dialog.h"

#include <fcntl.h>
#include <signal.h>
#include <pthread.h>
#include <spawn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char **environ;

namespace {

constexpr int kNotRun = -1;

// The program blocks its end signals (zel_host_end.h); a helper gets them as
// a program of its own does, unblocked.
sigset_t helper_mask() {
    sigset_t mask;
    (void)pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&mask, s);
    return mask;
}

// Browser helpers that ended with a failure (xdg-open: 3 no browser found,
// 4 the browser failed), for the GUI to say so.
// Browser launches so far, and for each of the last kLaunchesKnown the
// number of the launch whose helper failed in its slot.
constexpr uint32_t kLaunchesKnown = 32;
std::atomic<uint32_t> g_browser_launches{0};
std::atomic<uint32_t> g_browser_failed[kLaunchesKnown];

// Starts argv (looked up on PATH) like spawn_helper, as a child that ends
// (SIGTERM) when the calling thread does: a dialog's helper goes with the
// program, however the program ends (the calling host threads live as long
// as it). Everything the child needs is made before the fork.
pid_t spawn_tied_helper(const char *const argv[], int out_fd) {
    // The child says through this pipe (closed by a successful exec) that
    // it could not start the helper.
    int failed[2];
    if (pipe2(failed, O_CLOEXEC) != 0) return -1;
    const pid_t parent = getpid();
    const sigset_t mask = helper_mask();
    const pid_t pid = fork();
    if (pid == 0) {
        // The child: only async-signal-safe calls from here on.
        const char byte = 1;
        (void)sigprocmask(SIG_SETMASK, &mask, nullptr);
        const int null_in = open("/dev/null", O_RDONLY), null_out = open("/dev/null", O_WRONLY);
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) == 0 && getppid() == parent && null_in >= 0 && null_out >= 0 &&
            dup2(null_in, STDIN_FILENO) >= 0 && dup2(out_fd >= 0 ? out_fd : null_out, STDOUT_FILENO) >= 0 &&
            dup2(null_out, STDERR_FILENO) >= 0)
            execvp(argv[0], const_cast<char *const *>(argv));
        (void)!write(failed[1], &byte, 1);
        _exit(127);
    }
    close(failed[1]);
    char byte = 0;
    ssize_t n;
    do {
        n = pid > 0 ? read(failed[0], &byte, 1) : 0;
    } while (n < 0 && errno == EINTR);
    close(failed[0]);
    if (pid > 0 && n > 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        return -1;
    }
    return pid < 0 ? -1 : pid;
}

// Starts argv (looked up on PATH) with its standard input and error on
// /dev/null and its standard output on out_fd (-1: /dev/null); the pid or
// -1.
pid_t spawn_helper(const char *const argv[], int out_fd) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    const sigset_t mask = helper_mask();
    (void)posix_spawnattr_setsigmask(&attributes, &mask);
    (void)posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, &attributes, const_cast<char *const *>(argv), environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int wait_exit_code(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return kNotRun;
    return WIFEXITED(status) ? WEXITSTATUS(status) : kNotRun;
}

// Runs argv to its end and collects its standard output; its exit code, or
// kNotRun when it could not run or did not end normally. The helper ends
// with the program.
int run_helper(const char *const argv[], std::string &out) {
    out.clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return kNotRun;
    pid_t pid = spawn_tied_helper(argv, fds[1]);
    close(fds[1]);
    char buf[4096];
    for (ssize_t n; pid > 0 && ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR));)
        if (n > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    return pid > 0 ? wait_exit_code(pid) : kNotRun;
}

// How often the save dialog is shown again on an existing name that got its
// extension added, before the choice counts as cancelled.
constexpr int kSaveRounds = 4;

// Whether the last component of a path has an extension.
bool has_extension(const std::string &path) {
    size_t name = path.rfind('/');
    name = name == std::string::npos ? 0 : name + 1;
    size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > name;
}

}  // namespace

zel_host_dialog_result_t zel_host_file_dialog(
    zel_host_dialog_kind_t kind, const char *default_ext, char *path, size_t size) {
    static const char *const open_argv[] = {"zenity", "--file-selection", "--file-filter=Binary Files(*.bin) | *.bin",
        "--file-filter=All Files (*.*) | *", nullptr};
    static const char *const save_argv[] = {"zenity", "--file-selection", "--save", "--confirm-overwrite",
        "--file-filter=Binary Files(*.bin) | *.bin", "--file-filter=All Files (*.*) | *", nullptr};
    const bool save = kind == ZEL_HOST_DIALOG_SAVE;
    std::string chosen, preset;
    for (int round = 0;; round++) {
        // A name typed without extension gets the default one after the
        // dialog has asked about overwriting; when that name exists, the
        // dialog is shown again on it, so the overwrite is always asked.
        if (round == kSaveRounds) return ZEL_HOST_DIALOG_CANCELLED;
        std::vector<const char *> argv(
            save ? std::begin(save_argv) : std::begin(open_argv), save ? std::end(save_argv) : std::end(open_argv));
        argv.pop_back();
        if (!preset.empty()) argv.push_back(preset.c_str());
        argv.push_back(nullptr);
        int code = run_helper(argv.data(), chosen);
        if (code == 1) return ZEL_HOST_DIALOG_CANCELLED;
        if (code != 0) return ZEL_HOST_DIALOG_FAILED;
        if (!chosen.empty() && chosen.back() == '\n') chosen.pop_back();
        if (chosen.empty() || chosen.find('\0') != std::string::npos || chosen.find('\n') != std::string::npos)
            return ZEL_HOST_DIALOG_FAILED;
        if (!save || !default_ext || !*default_ext || has_extension(chosen)) break;
        chosen += std::string(".") + default_ext;
        struct stat st;
        if (stat(chosen.c_str(), &st) != 0) break;
        preset = "--filename=" + chosen;
    }
    if (chosen.size() + 1 > size) return ZEL_HOST_DIALOG_TOO_LONG;
    memcpy(path, chosen.c_str(), chosen.size() + 1);
    return ZEL_HOST_DIALOG_CHOSEN;
}

int zel_host_clipboard_text(char *text, size_t size) {
    static const char *const argv[] = {"xclip", "-o", "-selection", "clipboard", nullptr};
    std::string bytes;
    int code = run_helper(argv, bytes);
    if (code == kNotRun) return ZEL_HOST_CLIPBOARD_NO_HELPER;
    if (code != 0) return ZEL_HOST_CLIPBOARD_NO_TEXT;
    size_t length = strnlen(bytes.c_str(), bytes.size());
    if (length + 1 > size) return ZEL_HOST_CLIPBOARD_TOO_LARGE;
    memcpy(text, bytes.c_str(), length);
    text[length] = 0;
    return static_cast<int>(length);
}

uint32_t zel_host_open_browser(const char *address) {
    const char *const argv[] = {"xdg-open", address, nullptr};
    pid_t pid = spawn_helper(argv, -1);
    if (pid < 0) return 0;
    uint32_t launch = g_browser_launches.fetch_add(1) + 1;
    if (launch == 0) launch = g_browser_launches.fetch_add(1) + 1;  // past the wrap: 0 means none
    // The helper may live as long as the browser it starts: it is waited
    // for (and its process entry released) aside.
    try {
        std::thread([pid, launch] {
            if (wait_exit_code(pid) != 0) g_browser_failed[launch % kLaunchesKnown].store(launch);
        }).detach();
    } catch (const std::system_error &) {
        // No thread to wait for it: the helper is stopped and nothing is
        // opened.
        kill(pid, SIGKILL);
        (void)wait_exit_code(pid);
        return 0;
    }
    return launch;
}

bool zel_host_browser_failed(uint32_t launch) {
    return launch != 0 && g_browser_failed[launch % kLaunchesKnown].load() == launch;
}

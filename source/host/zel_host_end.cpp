// Ending on request: signals and the program's own requests become one
// pending request; the program ends at the last release of a hold, or, when
// nothing holds the end off, on a watcher thread at once. A restart waits
// for the holds the same way, and happens at the last release.
//
// The end signals are blocked on every thread the program starts after
// zel_host_end_watch_signals (they inherit the mask) and taken by the
// watcher alone, through a signal descriptor, under g_take_mutex. A restart
// seals the taking under that mutex before it decides between ending and
// the exec, so that a signal is either seen by that decision or still
// pending (blocked) when the exec comes, and the new image takes it once its
// own watcher runs.
#include "zel_host_end.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "zel_host.h"
#include "zel_host_internal.h"
#if ZEL_HOST_TEST_HOOKS
#include "zel_host_test_hooks.h"
#endif

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool> g_requested{false};
std::atomic<int> g_code{0};
std::atomic<int> g_holds{0};
// A restart waits for the holds: holders see it as a request, and the last
// release restarts the program (unless an end is requested by then).
std::atomic<bool> g_restart{false};
// The descriptor the end signals are read from (-1 until they are taken
// over), and the seal a restart sets: from then on this image takes none.
std::atomic<int> g_signal_fd{-1};
std::mutex g_take_mutex;
std::atomic<bool> g_sealed{false};
// Wakes the watcher: one byte per wake. Written by the signal handler too
// (write is async-signal-safe); -1 until the watcher runs.
std::atomic<int> g_wake_fd{-1};
// The watcher starts once; a start the host refused may be tried again.
std::mutex g_watcher_mutex;
bool g_watcher_started;
int g_read_fd = -1;
zel_host_thread_t g_record = {"end_watch", nullptr, 0, 0, 0, 0, nullptr};

void wake_watcher() {
    const int fd = g_wake_fd.load();
    if (fd < 0) return;
    const char byte = 1;
    ssize_t n;
    do {
        n = write(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    // A full pipe already holds a wake: nothing is lost.
}

sigset_t end_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kEndSignals) sigaddset(&set, s);
    return set;
}

void request(int code);

// Takes the pending end signals as requests, unless a restart has sealed
// the taking: then they stay pending for the image after the exec.
void take_signals(int fd) {
    std::lock_guard<std::mutex> lock(g_take_mutex);
    if (g_sealed.load()) return;
    signalfd_siginfo info;
    ssize_t n;
    while ((n = read(fd, &info, sizeof info)) == (ssize_t)sizeof info || (n < 0 && errno == EINTR))
        if (n > 0) request(128 + static_cast<int>(info.ssi_signo));
}

// Ends the program when a request is pending and nothing holds it off. The
// holds change only in framework code, which never runs beside an emulated
// interrupt, so the test inside one is final.
void watch(int fd) {
    // Started before the signals were taken over (by an end request), it
    // blocks them as the threads started after do.
    const sigset_t ends = end_signals();
    (void)pthread_sigmask(SIG_BLOCK, &ends, nullptr);
    for (;;) {
        const int signal_fd = g_sealed.load() ? -1 : g_signal_fd.load();
        pollfd watched[2] = {{fd, POLLIN, 0}, {signal_fd, POLLIN, 0}};
        const int r = poll(watched, signal_fd >= 0 ? 2 : 1, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return;
        if (signal_fd >= 0 && (watched[1].revents & POLLIN)) take_signals(signal_fd);
        if (watched[0].revents) {
            char bytes[64];
            const ssize_t n = read(fd, bytes, sizeof bytes);
            if (n == 0 || (n < 0 && errno != EINTR)) return;
        }
        if (!g_requested.load() || g_holds.load() > 0) continue;
        zel_host_irq_enter(&g_record);
        if (g_holds.load() == 0) zel_host_exit(g_code.load());
        zel_host_irq_leave(&g_record, 0);
    }
}

void watch_entry(zel_host_thread_t *) { watch(g_read_fd); }

// What a pipe or signal descriptor the host refused answers: the file
// limits by name, anything else (no memory) as ZEL_HOST_ENOMEM.
int descriptor_refused(int error) {
    return error == EMFILE ? ZEL_HOST_EMFILE : error == ENFILE ? ZEL_HOST_ENFILE : ZEL_HOST_ENOMEM;
}

// 0, or what zel_host_end_watch_signals answers when the signals'
// descriptor cannot be made.
int take_over_signals() {
    std::lock_guard<std::mutex> lock(g_watcher_mutex);
    if (g_signal_fd.load() >= 0) return 0;
    const sigset_t ends = end_signals();
    const int fd = signalfd(-1, &ends, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) return descriptor_refused(errno);
    g_signal_fd.store(fd);
    wake_watcher();  // it watches the new descriptor from its next round
    return 0;
}

// 0, or what zel_host_end_watch_signals answers without its watcher.
int start_watcher() {
    std::lock_guard<std::mutex> lock(g_watcher_mutex);
    if (g_watcher_started) return 0;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return descriptor_refused(errno);
    (void)fcntl(fds[1], F_SETFL, O_NONBLOCK);
    g_read_fd = fds[0];
    if (zel_host_thread_start(&g_record, g_record.name, watch_entry, 0) == 0) {
        close(fds[0]);
        close(fds[1]);
        g_read_fd = -1;
        return ZEL_HOST_ENOMEM;
    }
    g_wake_fd.store(fds[1]);
    g_watcher_started = true;
    return 0;
}

void request(int code) {
    int none = 0;
    (void)g_code.compare_exchange_strong(none, code);
    g_requested.store(true);
    wake_watcher();
}

void on_end_signal(int signal) {
    const int saved = errno;
    request(128 + signal);
    errno = saved;
}

}  // namespace

extern "C" {

int zel_host_end_watch_signals(void) {
    // Blocked before the watcher starts, which inherits the mask, as every
    // thread started from here on does.
    const sigset_t ends = end_signals();
    sigset_t before;
    (void)pthread_sigmask(SIG_BLOCK, &ends, &before);
    int r = start_watcher();
    if (r == 0) r = take_over_signals();
    if (r != 0) {
        (void)pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return r;
    }
    // A thread started before still takes them, as requests.
    struct sigaction sa = {};
    sa.sa_handler = on_end_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) (void)sigaction(s, &sa, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    (void)sigaction(SIGXFSZ, &ignore, nullptr);
    return 0;
}

const char *zel_host_end_watch_failure(int code) {
    switch (code) {
    case ZEL_HOST_EMFILE:
        return "no pipe or signal descriptor for \"end_watch\" (ends it on a signal): too many open files in this "
               "program";
    case ZEL_HOST_ENFILE:
        return "no pipe or signal descriptor for \"end_watch\" (ends it on a signal): too many open files on the host";
    default: return "no memory or no host thread for \"end_watch\" (ends it on a signal)";
    }
}

void zel_host_end_request(int code) {
    // Without its watcher the request still ends the program at the last
    // release of a hold.
    (void)start_watcher();
    request(code);
}

// The holds change only in framework code, as this call comes from: no
// release can come between the test and the restart.
void zel_host_end_restart(void) {
    g_restart.store(true);
    if (g_holds.load() == 0) zel_host_reset();
}

bool zel_host_end_requested(void) { return g_requested.load() || g_restart.load(); }

void zel_host_end_hold(void) { g_holds.fetch_add(1); }

// The last release with a request pending ends the program there and then,
// or restarts it for a restart: its caller is framework code, so nothing
// else of the framework runs, and the work it held for is complete.
void zel_host_end_release(void) {
    if (g_holds.fetch_sub(1) != 1) return;
    if (g_requested.load()) zel_host_exit(g_code.load());
    if (g_restart.load()) zel_host_reset();  // an end requested meanwhile still wins there
}

#if ZEL_HOST_TEST_HOOKS
void zel_host_test_end_boundary(void) {
    static std::atomic<bool> g_marked{false};
    const char *mark = getenv("ZEL_TEST_END_MARK");
    if (!mark || !*mark || g_marked.exchange(true)) return;
    const int fd = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    while (!zel_host_end_requested()) usleep(1000);
}
#endif

}  // extern "C"

bool zel_host_end_seal(int *code, sigset_t *keep_blocked) {
    const sigset_t ends = end_signals();
    (void)pthread_sigmask(SIG_BLOCK, &ends, nullptr);
    {
        std::lock_guard<std::mutex> lock(g_take_mutex);
        g_sealed.store(true);
    }
    sigemptyset(keep_blocked);
    if (g_signal_fd.load() >= 0) *keep_blocked = ends;
    *code = g_code.load();
    return g_requested.load();
}

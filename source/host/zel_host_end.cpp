// Ending on request: signals and the program's own requests become one
// pending request; the program ends at the last release of a hold, or, when
// nothing holds the end off, on a watcher thread at once.
#include "zel_host_end.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "zel_host.h"
#if ZEL_HOST_TEST_HOOKS
#include "zel_host_test_hooks.h"
#endif

namespace {

std::atomic<bool> g_requested{false};
std::atomic<int> g_code{0};
std::atomic<int> g_holds{0};
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

// Ends the program when a request is pending and nothing holds it off. The
// holds change only in framework code, which never runs beside an emulated
// interrupt, so the test inside one is final.
void watch(int fd) {
    for (;;) {
        char bytes[64];
        const ssize_t n = read(fd, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        if (!g_requested.load() || g_holds.load() > 0) continue;
        zel_host_irq_enter(&g_record);
        if (g_holds.load() == 0) zel_host_exit(g_code.load());
        zel_host_irq_leave(&g_record, 0);
    }
}

void watch_entry(zel_host_thread_t *) { watch(g_read_fd); }

// 0, or what zel_host_end_watch_signals answers without its watcher.
int start_watcher() {
    std::lock_guard<std::mutex> lock(g_watcher_mutex);
    if (g_watcher_started) return 0;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return errno == EMFILE ? ZEL_HOST_EMFILE : errno == ENFILE ? ZEL_HOST_ENFILE : ZEL_HOST_ENOMEM;
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
    if (int r = start_watcher(); r != 0) return r;
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
    case ZEL_HOST_EMFILE: return "no pipe for \"end_watch\" (ends it on a signal): too many open files in this program";
    case ZEL_HOST_ENFILE: return "no pipe for \"end_watch\" (ends it on a signal): too many open files on the host";
    default: return "no memory or no host thread for \"end_watch\" (ends it on a signal)";
    }
}

void zel_host_end_request(int code) {
    // Without its watcher the request still ends the program at the last
    // release of a hold.
    (void)start_watcher();
    request(code);
}

bool zel_host_end_requested(void) { return g_requested.load(); }

void zel_host_end_hold(void) { g_holds.fetch_add(1); }

// The last release with a request pending ends the program there and then:
// its caller is framework code, so nothing else of the framework runs, and
// the work it held for is complete.
void zel_host_end_release(void) {
    if (g_holds.fetch_sub(1) == 1 && g_requested.load()) zel_host_exit(g_code.load());
}

#if ZEL_HOST_TEST_HOOKS
void zel_host_test_end_boundary(void) {
    static std::atomic<bool> g_marked{false};
    const char *mark = getenv("ZEL_TEST_END_MARK");
    if (!mark || !*mark || g_marked.exchange(true)) return;
    const int fd = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    while (!g_requested.load()) usleep(1000);
}
#endif

}  // extern "C"

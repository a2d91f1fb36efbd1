// zel-console: the system as build/trellow boots it, with its console bound
// to this program's standard input and output, so that a person or a test
// can use the console shell.
//
//   zel-console                  interactive (the terminal goes raw; the
//                                console echoes what is typed)
//   zel-console < script.txt     one command line per line; the program
//                                ends, quietly and with status 0, once the
//                                input is used up, the shell waits at its
//                                prompt after the last line and the commands
//                                started in the background have ended; after
//                                kBackgroundWaitMs it ends without them, with
//                                a line on standard error and status 1
//
// A restart (reset, an unplugged adapter) replaces the process in place
// (zel_host_reset): the terminal is given back its mode first, and the new
// image reads on from the same input. The input is therefore read one line
// at a time, the next only once the shell waits for input again, so that no
// line after "reset" is read by the image that ends there: what is typed
// ahead waits in the terminal, the rest of a script in its file or pipe.
//
// Its sanitizer build looks for leaks when it ends (as the test binaries do).
//
// With ZEL_USB=sim and ZEL_USB_SIM_DISK (the simulated adapter), a script's
// first line waits until the adapter's volume is mounted under "/scsi", or
// until kAdapterWait has passed, which a line on standard error says. A
// terminal that goes away ends the shell's input, which the shell reports.
//
// SIGINT, SIGTERM and SIGHUP end it as they end the product: once the file
// operation under way is complete (zel_host_end.h).
//
// With ZEL_CONSOLE_UNPLUG_ON_USR1 set (not empty), SIGUSR1 pulls the
// simulated adapter out, as a person does (the tests' way to unplug it in
// the middle of the work).
//
// With ZEL_CONSOLE_HEAP_FAIL_EVERY=n in the environment one host heap
// allocation in every n fails from the shell's first prompt on
// (the tests' way to run whole sessions through a memory shortage).
//
// What the console writes goes to standard output, the trace to standard
// error: the host threads that trace (the USB host controller's, for one)
// cannot put their lines into the console's text. A line feed from a pipe or
// file reaches the shell as the carriage return a terminal's Enter key sends.
#include <dirent.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "app_main.h"
#include "app_mount.h"
#include "app_parts.h"
#include "zel_host_end.h"
#include "zel_host_test_hooks.h"
#include "zel_host_usb_backend.h"
#include "zel_host_usb_sim_disk.h"
#include "zel_host_usb_sim_internal.h"
#include "zel_kernel.h"
#include "zel_linux_fd.h"
#include "zel_linux_process.h"
#include "zel_usbh_msc.h"

namespace {

// The console's parts: the product's without the GUI (no window opens;
// the start-up script's "lvgl &" finds no command).
constexpr app_parts_t kConsoleParts = {
    .usbh_setup = app_usbh_setup,
    .lvgl_main = nullptr,
    .curl_main = curl_main,
};

// ---- the output: the console's text goes to stdout, the trace to stderr, at once ----
uint32_t out_write(zel_stream_t *, const void *buffer, uint32_t size) {
    std::fwrite(buffer, 1, size, stdout);
    std::fflush(stdout);
    return size;
}
uint32_t trace_write(zel_stream_t *, const void *buffer, uint32_t size) {
    std::fwrite(buffer, 1, size, stderr);
    std::fflush(stderr);
    return size;
}
uint32_t out_data_length(zel_stream_t *) { return 0; }
uint32_t out_free_length(zel_stream_t *) { return ZEL_STREAM_UNLIMITED; }
void out_init(zel_stream_t *s) { zel_stream_connect_rx(s); }

const zel_stream_op_t g_out_op = {
    .init = out_init,
    .fini = nullptr,
    .write = out_write,
    .read = nullptr,
    .buffer_size = nullptr,
    .data_length = out_data_length,
    .free_length = out_free_length,
    .get_wbuf = nullptr,
    .get_rbuf = nullptr,
    .readable_length = nullptr,
};
zel_stream_t g_out = {&g_out_op, 0, 0, {}, {}};
const zel_stream_op_t g_trace_op = {
    .init = out_init,
    .fini = nullptr,
    .write = trace_write,
    .read = nullptr,
    .buffer_size = nullptr,
    .data_length = out_data_length,
    .free_length = out_free_length,
    .get_wbuf = nullptr,
    .get_rbuf = nullptr,
    .readable_length = nullptr,
};
zel_stream_t g_trace = {&g_trace_op, 0, 0, {}, {}};

// ---- the terminal ----
termios g_saved;
bool g_raw;

void restore_terminal() {
    if (g_raw) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    g_raw = false;
}

void on_signal(int signal) {
    restore_terminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Ends the program without exit-time destructors, which would run under the
// kernel's host threads; the sanitizer build first looks for leaks, with
// every thread's stack and registers as roots.
void quit(int code) {
    restore_terminal();
    std::fflush(stdout);
#if defined(__SANITIZE_ADDRESS__)
    if (__lsan_do_recoverable_leak_check() && code == 0) code = 23;
#endif
    std::_Exit(code);
}

// The console echoes; Enter gives a carriage return; Ctrl-C still ends us
// (an end request, zel_host_end.h: quit restores the terminal).
void make_raw() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_saved) != 0) return;
    termios raw = g_saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
    g_raw = true;
    std::atexit(restore_terminal);
    std::signal(SIGQUIT, on_signal);
}

// ---- the simulated adapter, as ZEL_USB_SIM_DISK asks for it ----

// How long a script's first line waits for the adapter's volume.
constexpr uint32_t kAdapterWaitMs = 30000;

// How long the end of a script waits for its background commands.
constexpr uint32_t kBackgroundWaitMs = 30000;

// The outcome of the last plug at start (zel_host_usb_sim_plug_from_env):
// 1 plugged, 0 not asked for, negative failed; kPlugPending before it ran.
constexpr int kPlugPending = -1000;
std::atomic<int> g_plug{kPlugPending};

int plug_and_note() {
    const int r = zel_host_usb_sim_plug_from_env();
    g_plug.store(r);
    return r;
}

const zel_host_usb_simulator_t kSimulator = {
    .backend = &zel_host_usb_sim_backend,
    .plug_from_env = plug_and_note,
};

bool adapter_asked() {
    const char *usb = std::getenv("ZEL_USB");
    const char *disk = std::getenv("ZEL_USB_SIM_DISK");
    return usb && std::strcmp(usb, "sim") == 0 && disk && *disk;
}

// ---- the unplug on SIGUSR1 (ZEL_CONSOLE_UNPLUG_ON_USR1) ----
zel_host_thread_t g_unplug_record = {"console_unplug", nullptr, 0, 0, 0, 0, nullptr};

bool unplug_asked() {
    const char *asked = std::getenv("ZEL_CONSOLE_UNPLUG_ON_USR1");
    return asked && *asked;
}

sigset_t usr1() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    return set;
}

// Takes SIGUSR1 (blocked on every thread) and unplugs the adapter for it.
void unplug_entry(zel_host_thread_t *) {
    const sigset_t set = usr1();
    for (;;) {
        int taken = 0;
        if (sigwait(&set, &taken) != 0) continue;
        zel_host_usb_sim_dev_t *dev = zel_host_usb_sim_env_device();
        if (!dev || zel_host_usb_sim_unplug(dev) != 0)
            std::fprintf(stderr, "zel-console: SIGUSR1: no simulated adapter is plugged\n");
    }
}

// ---- the feeder ----
zel_host_thread_t g_feeder_record = {"console_in", nullptr, 0, 0, 0, 0, nullptr};

template <typename F>
void as_irq(F fn) {
    zel_host_irq_enter(&g_feeder_record);
    fn();
    zel_host_irq_leave(&g_feeder_record, 0);
}

void feed(const char *bytes, size_t n) {
    while (n > 0) {
        uint32_t taken = 0;
        as_irq([&] { taken = zel_stream_write(app_console_input(), bytes, static_cast<uint32_t>(n)); });
        bytes += taken;
        n -= taken;
        if (n > 0) zel_host_sleep_ms(1);
    }
}

// The init process runs from its start until its console shell ends.
bool init_running() {
    bool running = false;
    as_irq([&] { running = zel_linux_get_cur_process() != zel_linux_kernel_process_get(); });
    return running;
}

// Waits (bounded) until the adapter that ZEL_USB_SIM_DISK names is plugged
// and its volume mounted, or its plug or mount failed (which the program
// has said already).
void wait_for_adapter() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAdapterWaitMs);
    for (;;) {
        const int plug = g_plug.load();
        app_disk_state_t state = APP_DISK_NONE;
        uint32_t refused = 0;  // the adapter's interface went to another driver for good
        as_irq([&] {
            state = app_adapter_disk_state();
            refused = zel_usbh_msc_refused();
        });
        if ((plug != kPlugPending && plug != 1) || state == APP_DISK_MOUNTED || state == APP_DISK_FAILED) return;
        if (refused > 0 && state == APP_DISK_NONE) {
            std::fprintf(stderr,
                "zel-console: the simulated adapter's volume cannot be mounted: its mass-storage driver had no "
                "memory or no host thread for it: the input is read now\n");
            return;
        }
        if (std::chrono::steady_clock::now() >= until) {
            // What the host refused meanwhile is why the volume never came
            // (the USB host sends a refused request again for as long as
            // the shortage lasts).
            const uint32_t memory = zel_host_refused_allocations(), threads = zel_host_refused_threads();
            if (memory > 0 || threads > 0)
                std::fprintf(stderr,
                    "zel-console: the simulated adapter's volume is not mounted after %u s: the host refused %u "
                    "allocations and %u host threads: the input is read now\n",
                    kAdapterWaitMs / 1000, memory, threads);
            else
                std::fprintf(stderr,
                    "zel-console: the simulated adapter's volume is not mounted after %u s: the input is read now\n",
                    kAdapterWaitMs / 1000);
            return;
        }
        zel_host_sleep_ms(5);
    }
}

// The shell has read every byte of the input and waits for more: the
// input stream is empty and a thread waits on the console's descriptor 0.
bool shell_waits_for_input() {
    bool waits = false;
    as_irq([&] {
        zel_stream_t *in = app_console_input();
        const zel_linux_fd_t *fd = zel_linux_fd_get_in_process(zel_linux_kernel_process_get(), 0);
        bool reader = false;
        for (const zel_dlist_node_t *n = fd ? fd->priv->waiters.head : nullptr; n; n = n->next)
            if (reinterpret_cast<const zel_linux_fd_waiter_t *>(n)->wanted & ZEL_LINUX_EV_READ) reader = true;
        waits = zel_stream_get_rbuf(in, nullptr) == 0 && reader;
    });
    return waits;
}

uint32_t running_processes() {
    uint32_t n = 0;
    as_irq([&] { n = zel_linux_running_processes(); });
    return n;
}

// The end of a script: once the shell waits after the last line and the
// processes that the script started in the background have ended too (the
// processes of `idle`, the shell's own, stay), or the shell has gone. A
// background command still running after kBackgroundWaitMs is left, which
// a line on standard error says: false then.
bool wait_for_the_script(uint32_t idle) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBackgroundWaitMs);
    for (; init_running(); zel_host_sleep_ms(5)) {
        if (!shell_waits_for_input()) continue;
        if (running_processes() <= idle) return true;
        if (std::chrono::steady_clock::now() < until) continue;
        std::fprintf(stderr, "zel-console: background commands still run after %u s: the console ends now\n",
            kBackgroundWaitMs / 1000);
        return false;
    }
    return true;
}

// ZEL_CONSOLE_EXIT_AT_PROMPT=n: at the first prompt, once the host-USB
// notification thread runs, this host thread calls exit(n) as a library
// may on a thread of its own (Xlib when its display fails): the tests' way
// to see that such an exit ends the program with its status.
void exit_at_prompt_if_asked() {
    const char *code = std::getenv("ZEL_CONSOLE_EXIT_AT_PROMPT");
    if (!code || !*code) return;
    for (bool notifying = false; !notifying; zel_host_sleep_ms(1)) {
        DIR *tasks = opendir("/proc/self/task");
        for (dirent *t; tasks && (t = readdir(tasks)) != nullptr && !notifying;) {
            char path[300], name[32] = "";
            std::snprintf(path, sizeof path, "/proc/self/task/%s/comm", t->d_name);
            if (FILE *f = std::fopen(path, "r")) {
                notifying = std::fgets(name, sizeof name, f) && std::strcmp(name, "host_usb_notify\n") == 0;
                std::fclose(f);
            }
        }
        if (tasks) closedir(tasks);
    }
    std::exit(std::atoi(code));
}

// Waits until the line before has been taken: the shell (or a program it
// runs) waits for input, or the console shell has ended (`seen_init` notes
// that it had started). A long command is looked at less often.
void wait_until_input_is_wanted(bool *seen_init) {
    for (uint32_t pause = 1;; pause = pause < 8 ? pause * 2 : pause) {
        const bool running = init_running();
        *seen_init = *seen_init || running;
        if ((*seen_init && !running) || shell_waits_for_input()) return;
        zel_host_sleep_ms(pause);
    }
}

// Waits for the shell's first prompt. A shell that ended before it (its
// start-up short of memory, say) reads nothing: the console ends, saying so.
void wait_for_the_first_prompt() {
    for (bool seen_init = false;; zel_host_sleep_ms(1)) {
        if (shell_waits_for_input()) return;
        const bool running = init_running();
        seen_init = seen_init || running;
        if (!seen_init || running) continue;
        char what[160];
        const uint32_t memory = zel_host_refused_allocations(), threads = zel_host_refused_threads();
        if (memory > 0 || threads > 0)
            std::snprintf(what, sizeof what,
                "the console shell ended before its first prompt: the host refused %u allocations and %u host threads",
                memory, threads);
        else
            std::snprintf(what, sizeof what, "the console shell ended before its first prompt");
        zel_host_fail_start(what);
    }
}

void feeder() {
    bool ready = false;
    while (!ready) {
        as_irq([&] { ready = app_console_input()->op != nullptr; });
        if (!ready) zel_host_sleep_ms(1);
    }
    const bool terminal = isatty(STDIN_FILENO);
    if (!terminal && adapter_asked()) wait_for_adapter();
    // What runs at the first prompt is the shell's own: a script's end waits
    // for nothing more than that.
    wait_for_the_first_prompt();
    const uint32_t idle = running_processes();
    exit_at_prompt_if_asked();
    if (const char *every = std::getenv("ZEL_CONSOLE_HEAP_FAIL_EVERY")) {
        // From the first prompt on: the sessions are what runs short, not
        // the start-up that installs the commands.
        zel_host_fail_heap_every(static_cast<uint32_t>(std::strtoul(every, nullptr, 10)));
    }
    char last = '\n';
    bool seen_init = false;
    if (terminal) {
        // One line at a time too, read a byte at a time and each byte passed
        // on at once (the line editor echoes and edits as keys come); after
        // an Enter nothing more is read until the line has been taken.
        for (bool ended = false; !ended;) {
            wait_until_input_is_wanted(&seen_init);
            for (char c = 0; c != '\r';) {
                const ssize_t got = read(STDIN_FILENO, &c, 1);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) {
                    ended = true;  // the terminal went away: the input ends
                    break;
                }
                feed(&c, 1);
            }
        }
    } else {
        // One line at a time, read a byte at a time: what this image has not
        // read stays in the input for the image after a restart.
        for (;;) {
            wait_until_input_is_wanted(&seen_init);
            char line[256];
            size_t n = 0;
            bool ended = false, line_end = false;
            while (!line_end && n < sizeof line) {
                char c;
                const ssize_t got = read(STDIN_FILENO, &c, 1);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) {
                    ended = true;  // the end of the input (or the file went away)
                    break;
                }
                if (c != '\n')
                    line[n++] = c;
                else if (last != '\r')
                    line[n++] = '\r';  // CR LF is one line end
                line_end = c == '\n' || c == '\r';
                last = c;
            }
            feed(line, n);
            if (ended) break;
        }
    }
    while (!init_running()) zel_host_sleep_ms(1);
    if (!terminal) {
        // A last line without its line end still runs. The end of a script
        // is no fault: once the shell waits for more, the program ends.
        if (last != '\n' && last != '\r') feed("\r", 1);
        // Work cut short is no clean end.
        quit(wait_for_the_script(idle) ? 0 : 1);
    }
    // The terminal went away: the shell reads what is left, then sees the end.
    as_irq([] { zel_stream_disconnect_tx(app_console_input()); });
    while (init_running()) zel_host_sleep_ms(5);
    quit(0);
}

void feeder_entry(zel_host_thread_t *) { feeder(); }

void exit_hook(int code) { quit(code); }

// Before a restart: the new image finds the terminal as this one found it.
void restart_hook() {
    restore_terminal();
    std::fflush(stdout);
}

}  // namespace

int main() {
    app_use_parts(&kConsoleParts);
    // The end signals wait (blocked, as after a restart they already are)
    // until the watcher takes them: none ends the program by its default
    // action with the terminal raw.
    sigset_t ends;
    sigemptyset(&ends);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ends, s);
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);
    // SIGUSR1, when it unplugs the adapter, is taken by its thread alone.
    const sigset_t unplug_signal = usr1();
    if (unplug_asked()) pthread_sigmask(SIG_BLOCK, &unplug_signal, nullptr);
    make_raw();
    (void)zel_stream_init(&g_out);    // cannot fail
    (void)zel_stream_init(&g_trace);  // cannot fail
    app_console_use_output(&g_out);
    app_console_use_trace(&g_trace);
    zel_host_set_exit_hook(exit_hook);
    zel_host_set_restart_hook(restart_hook);
    // SIGINT, SIGTERM and SIGHUP end it between two operations.
    if (const int r = zel_host_end_watch_signals(); r != 0) zel_host_fail_start(zel_host_end_watch_failure(r));
    // ZEL_USB=sim with ZEL_USB_SIM_DISK: the simulated adapter, plugged at
    // every start as zel_host_usb_sim_offer_env does, with the outcome noted.
    zel_host_usb_offer_sim(&kSimulator);
    if (unplug_asked() && zel_host_thread_start(&g_unplug_record, g_unplug_record.name, unplug_entry, 0) == 0)
        zel_host_fail_start("no host thread for \"console_unplug\" (unplugs the adapter on SIGUSR1)");
    if (zel_host_thread_start(&g_feeder_record, g_feeder_record.name, feeder_entry, 0) == 0)
        zel_host_fail_start("no host thread for \"console_in\" (reads the input)");
    zel_kernel_main();
}

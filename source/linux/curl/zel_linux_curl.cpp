// The curl tool as "/bin/curl": fresh statics for every run, one process at
// a time on the image, threads of the image counted until they end.
#include "zel_linux_curl.h"

#include <string.h>

#include <new>

#include "zel_linux_alloc.h"
#include "zel_linux_thread.h"
#include "zel_shell.h"
#include "zel_sync.h"
#include "zel_thread.h"
#include "zel_trace.h"

extern "C" {
// The image's entry and its writable section (bounds from the linker).
int zel_curl_tool_main(int argc, char **argv);
extern unsigned char __start_zel_curl_state[];
extern unsigned char __stop_zel_curl_state[];
}

namespace {

// Who uses the image.
enum class image_state : uint8_t {
    idle,      // nobody: the next run takes it at once
    running,   // the holder's tool main runs
    draining,  // the main has returned; threads it started still run
};

struct image {
    image_state state;
    bool prepared;                // `turn` set up and the pristine copy taken
    zel_linux_process_t *holder;  // the process using the image, or null
    uint32_t threads;             // started by the image and not ended
    uint32_t waiting;             // runs waiting for their turn
    zel_sync_t turn;              // semaphore, count 1: held by the holder
    unsigned char *pristine;      // the section as the program was loaded
};

image g_image;
int32_t g_slot = -1;  // the library slot that lets go at the holder's clean-up

size_t state_size() { return static_cast<size_t>(__stop_zel_curl_state - __start_zel_curl_state); }

bool prepare() {
    if (g_image.prepared) return true;
    // Taken before any image code ran: these are the load-time values.
    g_image.pristine = new (std::nothrow) unsigned char[state_size()];
    if (!g_image.pristine) return false;
    memcpy(g_image.pristine, __start_zel_curl_state, state_size());
    (void)zel_eda_sync_init(&g_image.turn, 1, 1);  // cannot fail
    g_image.prepared = true;
    return true;
}

void let_go() {
    if (g_image.holder && g_slot >= 0) {
        zel_linux_lib_slot_t *slot = &g_image.holder->libs[g_slot];
        if (slot->data == g_image.holder) *slot = {nullptr, nullptr};
    }
    g_image.holder = nullptr;
    g_image.state = image_state::idle;
    zel_eda_sync_release(&g_image.turn, nullptr);  // held here
}

// Library-slot destructor: the holder is being cleaned up (it exited from
// inside the tool, or its threads kept the image until its exit).
void holder_cleaned_up(void *process) {
    if (g_image.holder == process) let_go();
}

void take_turn(zel_linux_process_t *p) {
    g_image.waiting++;
    (void)zel_thread_sync_decrease(&g_image.turn, -1);  // no timeout, never cancelled: ends obtained
    g_image.waiting--;
    g_image.holder = p;
    g_image.state = image_state::running;
    g_image.threads = 0;
    if (zel_linux_library_register(&g_slot, p, holder_cleaned_up) == -6)
        zel_trace(1, "curl: no library slot; the image is let go only when the tool returns\r\n");
    memcpy(__start_zel_curl_state, g_image.pristine, state_size());
}

void main_returned() {
    if (g_image.threads == 0)
        let_go();
    else
        g_image.state = image_state::draining;
}

void thread_ended() {
    if (g_image.threads > 0) g_image.threads--;
    if (g_image.threads == 0 && g_image.state == image_state::draining) let_go();
}

// Copies of the arguments in the process: the tool writes into its argv.
char **copy_argv(int argc, char **argv) {
    char **copy = static_cast<char **>(zel_linux_calloc(static_cast<size_t>(argc) + 1, sizeof(char *)));
    if (!copy) return nullptr;
    for (int i = 0; i < argc; ++i) {
        copy[i] = zel_linux_strdup(argv[i] ? argv[i] : "");
        if (!copy[i]) {
            for (int j = 0; j < i; ++j) zel_linux_free(copy[j]);
            zel_linux_free(copy);
            return nullptr;
        }
    }
    return copy;
}

void free_argv(int argc, char **argv) {
    for (int i = 0; i < argc; ++i) zel_linux_free(argv[i]);
    zel_linux_free(argv);
}

struct thread_start {
    void *(*start)(void *);
    void *argument;
};

void *run_image_thread(void *record) {
    thread_start s = *static_cast<thread_start *>(record);
    zel_linux_free(record);
    void *result = s.start(s.argument);
    thread_ended();
    return result;
}

constexpr int kFailedInit = 2;  // curl's CURLE_FAILED_INIT

// curl's rule for its error lines: -s (--silent) keeps them back, -S
// (--show-error) shows them all the same. Short options come alone or in a
// cluster of letters ("-sS").
bool errors_shown(int argc, char **argv) {
    bool silent = false, shown = false;
    for (int i = 1; i < argc && argv; ++i) {
        const char *a = argv[i];
        if (!a || a[0] != '-' || !a[1]) continue;
        if (a[1] == '-') {
            silent = silent || strcmp(a, "--silent") == 0;
            shown = shown || strcmp(a, "--show-error") == 0;
            continue;
        }
        bool letters = true;
        for (const char *c = a + 1; *c && letters; ++c) letters = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z');
        if (!letters) continue;
        silent = silent || strchr(a + 1, 's');
        shown = shown || strchr(a + 1, 'S');
    }
    return !silent || shown;
}

// The run could not start for want of memory: curl's status, and its error
// line unless curl was asked to keep quiet.
int cannot_start(int argc, char **argv) {
    static const char line[] = "curl: (2) not enough memory\r\n";
    if (errors_shown(argc, argv)) (void)zel_linux_write(2, line, sizeof line - 1);
    return kFailedInit;
}

}  // namespace

extern "C" {

int zel_linux_curl_run(zel_linux_main_t entry, int argc, char **argv) {
    zel_linux_thread_t *self = zel_linux_get_cur_thread();
    if (!self || !self->process || argc < 0) return kFailedInit;
    if (!prepare()) return cannot_start(argc, argv);
    char **args = copy_argv(argc, argv);
    if (!args) return cannot_start(argc, argv);
    take_turn(self->process);
    int status = entry(argc, args);
    main_returned();
    free_argv(argc, args);
    return status;
}

int curl_main(int argc, char **argv) { return zel_linux_curl_run(zel_curl_tool_main, argc, argv); }

int zel_linux_curl_install(void) { return zel_linux_install_builtin(ZEL_LINUX_CURL_PATH, curl_main); }

uint32_t zel_linux_curl_waiting(void) { return g_image.waiting; }

int zel_linux_curl_thread_create(
    zel_linux_pthread_t *thread, const zel_linux_pthread_attr_t *attributes, void *(*start)(void *), void *argument) {
    auto *record = static_cast<thread_start *>(zel_linux_malloc(sizeof(thread_start)));
    if (!record) return -1;
    *record = {start, argument};
    g_image.threads++;
    int r = zel_linux_pthread_create(thread, attributes, run_image_thread, record);
    if (r != 0) {
        g_image.threads--;
        zel_linux_free(record);
    }
    return r;
}

}  // extern "C"

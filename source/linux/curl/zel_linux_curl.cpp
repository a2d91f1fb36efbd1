// The curl tool as "/bin/curl": fresh statics for every run, one process at
// a time in the image's code, swapped at the waits on descriptors, threads of
// the image counted until they end.
#include "zel_linux_curl.h"

#include <string.h>

#include <new>

#include "zel_linux_alloc.h"
#include "zel_linux_thread.h"
#include "zel_shell.h"
#include "zel_sync.h"
#include "zel_thread.h"
#include "zel_timer.h"
#include "zel_trace.h"

extern "C" {
// The image's entry and its writable section (bounds from the linker).
int zel_curl_tool_main(int argc, char **argv);
extern unsigned char __start_zel_curl_state[];
extern unsigned char __stop_zel_curl_state[];
}

namespace {

// Where a run stands with the image.
enum class run_state : uint8_t {
    running,  // holds the turn: its threads may run image code
    taking,   // one of its threads waits for the turn; others back from a wait wait for that one
    parked,   // each of its threads waits on a descriptor or has ended: the turn is free
};

// The most of a run's threads that wait for a sibling to take the turn (the
// largest maximum of a semaphore: far more threads than a run can have).
constexpr uint16_t kMaxJoining = 0x7FFF;

// One run of the tool: a process using the image. Its statics live in the
// image while it runs, and in `statics` while another run's are there.
struct run {
    zel_linux_process_t *process;
    run_state state;
    bool fresh;          // has not run yet: starts from the pristine statics
    bool main_returned;  // the tool's main has returned
    uint32_t threads;    // started by the image and not ended
    uint32_t active;     // its threads in image code or waiting for the turn to run it
    uint32_t joining;    // its threads waiting in `taken` while another takes the turn
    zel_sync_t taken;    // semaphore, count 0: given once to each joining thread
    unsigned char *statics;
};

struct image {
    bool prepared;            // `turn` set up and the pristine copy taken
    run *holder;              // the run holding the turn, or null
    run *loaded;              // the run whose statics the image holds, or null
    uint32_t waiting;         // threads waiting for their turn
    zel_sync_t turn;          // semaphore, count 1: held by the holder
    unsigned char *pristine;  // the section as the program was loaded
};

image g_image;
int32_t g_slot = -1;  // the library slot of a process's run

size_t state_size() { return static_cast<size_t>(__stop_zel_curl_state - __start_zel_curl_state); }

void on_wait(zel_linux_thread_t *self, int waiting);

bool prepare() {
    if (g_image.prepared) return true;
    // Taken before any image code ran: these are the load-time values.
    g_image.pristine = new (std::nothrow) unsigned char[state_size()];
    if (!g_image.pristine) return false;
    memcpy(g_image.pristine, __start_zel_curl_state, state_size());
    (void)zel_eda_sync_init(&g_image.turn, 1, 1);  // cannot fail
    zel_linux_set_wait_hook(on_wait);
    g_image.prepared = true;
    return true;
}

// The image takes the run's statics (the loaded run's go to its own copy).
void load(run *r) {
    if (g_image.loaded == r) return;
    if (g_image.loaded) memcpy(g_image.loaded->statics, __start_zel_curl_state, state_size());
    memcpy(__start_zel_curl_state, r->fresh ? g_image.pristine : r->statics, state_size());
    r->fresh = false;
    g_image.loaded = r;
}

uint64_t one_ms() {
    uint64_t ticks = zel_timer_ms_to_tick(1);
    return ticks ? ticks : 1;
}

// Waits on the semaphore until it is obtained. No timeout and never
// cancelled: it ends obtained, or finds no node for its wake and looks
// again a millisecond later.
void obtain(zel_sync_t *sync) {
    g_image.waiting++;
    while (zel_thread_sync_decrease(sync, -1) == ZEL_ERR_NO_MEMORY) (void)zel_thread_delay(one_ms());
    g_image.waiting--;
}

// Waits in arrival order for the turn, then loads the run's statics and
// lets the run's threads that came back meanwhile go on.
void take_turn(run *r) {
    r->state = run_state::taking;
    obtain(&g_image.turn);
    g_image.holder = r;
    r->state = run_state::running;
    load(r);
    // Each joining thread waits already (or looks again a millisecond
    // later): the signal finds the waiter's node, or is kept in the count.
    for (; r->joining > 0; r->joining--) (void)zel_eda_sync_increase(&r->taken);
}

// Another thread of the run waits for the turn: this one goes on once that
// one has it.
void join_turn(run *r) {
    r->joining++;
    obtain(&r->taken);
}

void give_turn(run *r) {
    r->state = run_state::parked;
    g_image.holder = nullptr;
    zel_eda_sync_release(&g_image.turn, nullptr);  // held here
}

// A thread of the run goes on with image code (its first step, or the end
// of a wait) once the run holds the turn: the first of them takes it, the
// ones that come back while it waits for it wait for that one.
void resume(run *r) {
    r->active++;
    if (r->state == run_state::parked)
        take_turn(r);
    else if (r->state == run_state::taking)
        join_turn(r);
}

// A thread of the run stops running image code (it waits, or it is done):
// the last of them lets the turn go.
void pause(run *r) {
    if (r->active > 0 && --r->active == 0 && r->state == run_state::running) give_turn(r);
}

run *run_of(zel_linux_process_t *p) { return g_slot >= 0 ? static_cast<run *>(p->libs[g_slot].data) : nullptr; }

// The run is over: its main returned and its threads ended, or its process
// is cleaned up.
void finish(run *r) {
    if (r->state == run_state::running) give_turn(r);
    if (g_image.loaded == r) g_image.loaded = nullptr;
    zel_linux_lib_slot_t *slot = &r->process->libs[g_slot];
    if (slot->data == r) *slot = {nullptr, nullptr};
    zel_linux_free_p(r->process, r);
}

void finish_when_done(run *r) {
    if (r->main_returned && r->threads == 0) finish(r);
}

// Library-slot destructor: the run's process is being cleaned up (it exited
// from inside the tool, or its threads kept the run until its exit).
void run_cleaned_up(void *record) { finish(static_cast<run *>(record)); }

// The wait hook: the turn is not held across a wait on a descriptor, so a
// run waiting for its pipe partner never keeps that partner out.
void on_wait(zel_linux_thread_t *self, int waiting) {
    run *r = static_cast<run *>(self->wait_context);
    if (waiting)
        pause(r);
    else
        resume(r);
}

// A run in the current process: its record (with room for its statics)
// and its library slot; null when either cannot be had.
run *new_run(zel_linux_process_t *p) {
    auto *r = static_cast<run *>(zel_linux_malloc(sizeof(run) + state_size()));
    if (!r) return nullptr;
    *r = {p, run_state::parked, true, false, 0, 0, 0, {}, reinterpret_cast<unsigned char *>(r + 1)};
    (void)zel_eda_sync_init(&r->taken, 0, kMaxJoining);  // cannot fail
    if (zel_linux_library_register(&g_slot, r, run_cleaned_up) != 0) {
        zel_trace(1, "curl: no library slot for the run\r\n");
        zel_linux_free(r);
        return nullptr;
    }
    return r;
}

void main_returned(run *r, zel_linux_thread_t *self) {
    self->wait_context = nullptr;
    r->main_returned = true;
    pause(r);
    finish_when_done(r);
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
    run *owner;  // null: a thread started outside a run
};

void *run_image_thread(void *record) {
    thread_start s = *static_cast<thread_start *>(record);
    zel_linux_free(record);
    zel_linux_thread_t *self = zel_linux_get_cur_thread();
    if (s.owner && self) self->wait_context = s.owner;
    void *result = s.start(s.argument);
    if (run *r = s.owner) {
        if (self) self->wait_context = nullptr;
        r->threads--;
        pause(r);
        finish_when_done(r);
    }
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
    run *r = new_run(self->process);
    if (!r) {
        free_argv(argc, args);
        return cannot_start(argc, argv);
    }
    resume(r);
    self->wait_context = r;
    int status = entry(argc, args);
    main_returned(r, self);
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
    zel_linux_process_t *p = zel_linux_get_cur_process();
    run *owner = p ? run_of(p) : nullptr;
    *record = {start, argument, owner};
    // Counted from now: the thread runs image code under the run's turn.
    if (owner) {
        owner->threads++;
        owner->active++;
    }
    int r = zel_linux_pthread_create(thread, attributes, run_image_thread, record);
    if (r != 0) {
        if (owner) {
            owner->threads--;
            owner->active--;  // the caller still runs: the turn stays
        }
        zel_linux_free(record);
    }
    return r;
}

}  // extern "C"

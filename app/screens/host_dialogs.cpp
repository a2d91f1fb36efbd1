// The host dialog and clipboard threads and the GUI's requests to them.
#include "host_dialogs.h"

#include <stddef.h>
#include <string.h>

#include "zel_eda.h"
#include "zel_host_dialog.h"
#include "zel_thread.h"
#include "zel_trace.h"

namespace {

host_request_t g_open;
host_request_t g_save;
host_request_t g_text;

// Runs on the calling framework thread: hands the request to the host
// thread and blocks until it is answered.
bool run_request(host_request_t *r, char *path, uint32_t path_size, char *name, uint32_t name_size) {
    if (!r->thread.handle) {
        r->outcome = ZEL_HOST_DIALOG_FAILED;
        return false;
    }
    r->result = 0;
    r->outcome = 0;
    memset(r->full, 0, sizeof r->full);
    r->path = path;
    r->path_size = path_size;
    r->name = name;
    r->name_size = name_size;
    r->requester = zel_eda_get_cur();
    r->state = HOST_REQUEST_WAITING;
    zel_host_request_send(&r->wake);
    while (r->state != HOST_REQUEST_ANSWERED) zel_thread_wait_for_evt(ZEL_EVT_WAKE);
    r->state = HOST_REQUEST_IDLE;
    return r->result != 0;
}

// Whether a text fits its buffer with its terminator and one byte to spare.
bool fits(size_t length, uint32_t size) { return length + 2 <= size; }

// The dialog's full path split into its directory (with the separator)
// and its name.
void answer_file(host_request_t *r, zel_host_dialog_kind_t kind, const char *default_ext) {
    r->result = 0;
    r->outcome = zel_host_file_dialog(kind, default_ext, r->full, sizeof r->full);
    if (r->outcome != ZEL_HOST_DIALOG_CHOSEN) return;
    const char *slash = strrchr(r->full, '/');
    const char *title = slash ? slash + 1 : r->full;
    size_t length = strlen(r->full), title_length = strlen(title);
    if (!fits(length, r->path_size) || !fits(title_length, r->name_size)) {
        r->outcome = ZEL_HOST_DIALOG_TOO_LONG;
        return;
    }
    memcpy(r->path, r->full, length - title_length);
    r->path[length - title_length] = 0;
    memcpy(r->name, title, title_length + 1);
    r->result = 1;
}

void trace_dialog(const char *which, int32_t outcome) {
    if (outcome == ZEL_HOST_DIALOG_FAILED) zel_trace(4, "%s dialog faild\r\n", which);
    if (outcome == ZEL_HOST_DIALOG_TOO_LONG) zel_trace(4, "%s dialog: the path is too long\r\n", which);
}

void trace_clipboard(const host_request_t *r) {
    switch (r->outcome) {
    case ZEL_HOST_CLIPBOARD_NO_HELPER: zel_trace(4, "open clipboard faild\r\n"); break;
    case ZEL_HOST_CLIPBOARD_NO_TEXT: zel_trace(4, "get clipboard text data faild\r\n"); break;
    case ZEL_HOST_CLIPBOARD_TOO_LARGE:
        zel_trace(4, "The content of the clipboard is larger than the buffer\r\n");
        break;
    default: zel_trace(4, "clopboard: >>>%s<<<\r\n", r->path); break;
    }
}

// A worker's host thread: serves one request after the other for the life
// of the program; the answer enters the kernel as an emulated interrupt.
void serve(zel_host_thread_t *thread, void (*work)(host_request_t *), void (*trace)(const host_request_t *)) {
    host_request_t *r = reinterpret_cast<host_request_t *>(thread);
    for (;;) {
        zel_host_request_pend(&r->wake);
        work(r);
        zel_host_irq_enter(thread);
        trace(r);
        r->state = HOST_REQUEST_ANSWERED;
        if (zel_eda_t *requester = r->requester) {
            r->requester = nullptr;
            (void)zel_eda_wake(requester, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
        }
        zel_host_irq_leave(thread, 0);
    }
}

void start(host_request_t *r, const char *name, zel_host_thread_entry_t entry) {
    if (r->thread.handle) return;
    memset(r, 0, sizeof *r);
    zel_host_request_init(&r->wake);
    r->thread.wake = &r->wake;
    zel_host_thread_start(&r->thread, name, entry, 0);
}

}  // namespace

static_assert(offsetof(host_request_t, thread) == 0, "a host thread's record leads its request");

extern "C" {

void open_file_dialog(host_request_t *r) {
    r->path[0] = 0;
    r->name[0] = 0;
    answer_file(r, ZEL_HOST_DIALOG_OPEN, nullptr);
}

void save_file_dialog(host_request_t *r) { answer_file(r, ZEL_HOST_DIALOG_SAVE, "txt"); }

void read_clipboard_text(host_request_t *r) {
    r->outcome = zel_host_clipboard_text(r->path, r->path_size);
    r->result = r->outcome >= 0;
}

void open_file_thread(zel_host_thread_t *thread) {
    serve(thread, open_file_dialog, [](const host_request_t *r) { trace_dialog("open file", r->outcome); });
}

void save_file_thread(zel_host_thread_t *thread) {
    serve(thread, save_file_dialog, [](const host_request_t *r) { trace_dialog("save file", r->outcome); });
}

void read_text_thread(zel_host_thread_t *thread) { serve(thread, read_clipboard_text, trace_clipboard); }

void host_dialog_threads_init(void) {
    start(&g_open, "__open_file", open_file_thread);
    start(&g_save, "__save_file", save_file_thread);
    start(&g_text, "__read_text", read_text_thread);
}

bool request_open_file(char *path, uint32_t path_size, char *name, uint32_t name_size) {
    return run_request(&g_open, path, path_size, name, name_size);
}

bool request_save_file(char *path, uint32_t path_size, char *name, uint32_t name_size) {
    return run_request(&g_save, path, path_size, name, name_size);
}

int32_t request_file_outcome(bool save) { return (save ? g_save : g_open).outcome; }

bool request_clipboard_text(char *buffer, uint32_t size) { return run_request(&g_text, buffer, size, nullptr, 0); }

}  // extern "C"

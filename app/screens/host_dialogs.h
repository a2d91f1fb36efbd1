/* The host's file dialogs and clipboard for the GUI.
 *
 * The desktop's dialogs block until the user answers, so each is served by
 * a host thread of its own ("__open_file", "__save_file", "__read_text",
 * started by host_dialog_threads_init). A request fills the worker's
 * record, wakes its thread and blocks the calling framework thread until
 * the answer: the host thread runs the dialog outside the kernel, then,
 * inside an emulated interrupt, marks the request answered, traces its
 * outcome and posts event 266 to the requester.
 *
 * A request's states:
 *   HOST_REQUEST_IDLE      no request (the record's buffers are unused)
 *   HOST_REQUEST_WAITING   filled and sent; the requester blocks
 *   HOST_REQUEST_ANSWERED  the host thread is done; the requester wakes,
 *                          takes the result and sets the record idle
 * A 266 that reaches the requester for any other reason does not end its
 * wait. Without its host thread a request answers false at once.
 *
 * Call the request functions from a framework thread only (the GUI calls
 * them from LVGL event callbacks on the GUI thread), one at a time per
 * worker. */
#ifndef HOST_DIALOGS_H
#define HOST_DIALOGS_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_host.h"

#ifdef __cplusplus
extern "C" {
#endif

struct zel_eda;

/* The longest full path a dialog answers, with its terminator. */
#define HOST_DIALOG_PATH_MAX 1024

typedef enum host_request_state { HOST_REQUEST_IDLE, HOST_REQUEST_WAITING, HOST_REQUEST_ANSWERED } host_request_state_t;

typedef struct host_request {
    zel_host_thread_t thread;
    zel_host_request_t wake;
    struct zel_eda *requester; /* null when none waits */
    char *path;                /* dialogs: the directory; clipboard: the text */
    uint32_t path_size;
    char *name; /* dialogs: the file name */
    uint32_t name_size;
    uint8_t result; /* 1 success, 0 failure */
    volatile uint8_t state;
    int32_t outcome;                 /* the host call's answer, traced when answered */
    char full[HOST_DIALOG_PATH_MAX]; /* dialogs: the full path chosen */
} host_request_t;

/* Starts the three host threads, once. */
void host_dialog_threads_init(void);

/* The user's choice of a file to read (open) or to write (save): its
 * directory with the trailing separator into `path` and its name into
 * `name`, both UTF-8. False when the user cancelled, the dialog failed or
 * either part does not fit its buffer with one byte to spare. The open
 * dialog empties both buffers first. */
bool request_open_file(char *path, uint32_t path_size, char *name, uint32_t name_size);
bool request_save_file(char *path, uint32_t path_size, char *name, uint32_t name_size);
/* How the last open (save: false) or save (true) request ended, a
 * zel_host_dialog_result_t: chosen, cancelled, failed (the dialog program
 * is missing or broke, or no host thread serves the request) or too long. */
int32_t request_file_outcome(bool save);
/* The clipboard's text with its terminator; false when it holds none or
 * the text does not fit. */
bool request_clipboard_text(char *buffer, uint32_t size);

/* Host side: one request's work on its record, and the thread bodies. */
void open_file_dialog(host_request_t *request);
void save_file_dialog(host_request_t *request);
void read_clipboard_text(host_request_t *request);
void open_file_thread(zel_host_thread_t *thread);
void save_file_thread(zel_host_thread_t *thread);
void read_text_thread(zel_host_thread_t *thread);

#ifdef __cplusplus
}
#endif

#endif

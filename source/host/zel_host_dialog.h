/* The desktop's file chooser, clipboard and web browser, reached through
 * helper programs that are started with an argument vector (never through
 * a shell) and found on the host's PATH:
 *   file chooser  zenity --file-selection
 *   clipboard     xclip -o -selection clipboard
 *   browser       xdg-open ADDRESS
 * The chooser and the clipboard block the calling host thread until the
 * helper has ended: call them from host threads of their own, never from
 * the kernel's host thread or a framework thread. Their helpers end with
 * the program, or with the host thread that started them. The browser call
 * only starts its helper and does not wait for it (the browser stays). */
#ifndef ZEL_HOST_DIALOG_H
#define ZEL_HOST_DIALOG_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "zel_host_err.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum zel_host_dialog_kind {
    ZEL_HOST_DIALOG_OPEN, /* an existing file; filters "Binary Files(*.bin)" first, then all files */
    ZEL_HOST_DIALOG_SAVE  /* a file to write; an existing one is confirmed before it is chosen */
} zel_host_dialog_kind_t;

/* The user's choice, or a failure: one of the host port's codes. */
typedef enum zel_host_dialog_result {
    ZEL_HOST_DIALOG_CHOSEN = 1,
    ZEL_HOST_DIALOG_CANCELLED = 0,
    ZEL_HOST_DIALOG_FAILED = ZEL_HOST_EIO,        /* the helper did not start or failed */
    ZEL_HOST_DIALOG_TOO_LONG = ZEL_HOST_EOVERFLOW /* the chosen path does not fit the buffer */
} zel_host_dialog_result_t;

/* Asks the user for a file and writes its full path (UTF-8, NUL-terminated)
 * into `path`. For a save, `default_ext` (without its dot; none: no default)
 * is appended when the chosen name has no extension. */
zel_host_dialog_result_t zel_host_file_dialog(
    zel_host_dialog_kind_t kind, const char *default_ext, char *path, size_t size);

/* Failures of the clipboard call: the host port's codes. */
typedef enum zel_host_clipboard_result {
    ZEL_HOST_CLIPBOARD_NO_HELPER = ZEL_HOST_EIO,      /* the clipboard could not be read at all */
    ZEL_HOST_CLIPBOARD_NO_TEXT = ZEL_HOST_ENOENT,     /* it holds no text */
    ZEL_HOST_CLIPBOARD_TOO_LARGE = ZEL_HOST_EOVERFLOW /* its text does not fit the buffer with its terminator */
} zel_host_clipboard_result_t;

/* The clipboard's text (up to its first NUL) into `text` with its
 * terminator: the text's length, or one of the codes above. */
[[nodiscard]] int zel_host_clipboard_text(char *text, size_t size);

/* Starts the desktop's browser on `address`: the launch's number (never 0),
 * or 0 when the helper could not be started. The helper's end is waited for
 * aside (it may live as long as the browser); zel_host_browser_failed tells
 * whether the helper of that launch has ended with a failure (xdg-open: 3
 * when no browser was found, 4 when it failed), so a late failure of one
 * launch is never taken for another's. The last 32 launches are known. */
[[nodiscard]] uint32_t zel_host_open_browser(const char *address);
bool zel_host_browser_failed(uint32_t launch);

#ifdef __cplusplus
}
#endif

#endif

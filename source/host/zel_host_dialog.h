/* The desktop's file chooser, clipboard and web browser, reached through
 * helper programs that are started with an argument vector (never through
 * a shell) and found on the host's PATH:
 *   file chooser  zenity --file-selection
 *   clipboard     xclip -o -selection clipboard
 *   browser       xdg-open ADDRESS
 * The chooser and the clipboard block the calling host thread until the
 * helper has ended: call them from host threads of their own, never from
 * the kernel's host thread or a framework thread. The browser call only
 * starts its helper and does not wait for it. */
#ifndef ZEL_HOST_DIALOG_H
#define ZEL_HOST_DIALOG_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum zel_host_dialog_kind {
    ZEL_HOST_DIALOG_OPEN, /* an existing file; filters "Binary Files(*.bin)" first, then all files */
    ZEL_HOST_DIALOG_SAVE  /* a file to write; an existing one is confirmed before it is chosen */
} zel_host_dialog_kind_t;

typedef enum zel_host_dialog_result {
    ZEL_HOST_DIALOG_CHOSEN = 1,
    ZEL_HOST_DIALOG_CANCELLED = 0,
    ZEL_HOST_DIALOG_FAILED = -1,   /* the helper did not start or failed */
    ZEL_HOST_DIALOG_TOO_LONG = -2  /* the chosen path does not fit the buffer */
} zel_host_dialog_result_t;

/* Asks the user for a file and writes its full path (UTF-8, NUL-terminated)
 * into `path`. For a save, `default_ext` (without its dot; none: no default)
 * is appended when the chosen name has no extension. */
zel_host_dialog_result_t zel_host_file_dialog(zel_host_dialog_kind_t kind, const char *default_ext, char *path,
                                              size_t size);

typedef enum zel_host_clipboard_result {
    ZEL_HOST_CLIPBOARD_NO_HELPER = -1, /* the clipboard could not be read at all */
    ZEL_HOST_CLIPBOARD_NO_TEXT = -2,   /* it holds no text */
    ZEL_HOST_CLIPBOARD_TOO_LARGE = -3  /* its text does not fit the buffer with its terminator */
} zel_host_clipboard_result_t;

/* The clipboard's text (up to its first NUL) into `text` with its
 * terminator: the text's length, or one of the codes above. */
[[nodiscard]] int zel_host_clipboard_text(char *text, size_t size);

/* Starts the desktop's browser on `address`; false when the helper could
 * not be started. */
[[nodiscard]] bool zel_host_open_browser(const char *address);

#ifdef __cplusplus
}
#endif

#endif

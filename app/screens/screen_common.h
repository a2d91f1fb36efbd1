/* What the job screens share.
 *
 * A job screen remembers the objects it acts on later (from event
 * callbacks, tasks and worker threads); screen_forget_on_delete makes the
 * screen object clear them when it is deleted, however that happens (Back,
 * a close callback, a language switch), so nothing acts on a deleted
 * object: a worker that ends after its screen has gone finds them null.
 *
 * Workers run as detached pthreads of the GUI process at its priority;
 * they call LVGL themselves (framework threads run one at a time, so LVGL
 * is never entered twice at once). */
#ifndef SCREEN_COMMON_H
#define SCREEN_COMMON_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct screen_forget {
    void (*forget)(void); /* clears the screen's remembered objects */
} screen_forget_t;

/* `hook` must live as long as the screen object. */
void screen_forget_on_delete(lv_obj_t *screen, const screen_forget_t *hook);

/* Replaces the main screen (the parent of its clicked button) with a new
 * screen object whose deletion runs `hook`; null when the toolkit has no
 * memory for it, which is reported by the screen's `name` (ui_screen_failed). */
lv_obj_t *screen_open(lv_obj_t *clicked, const screen_forget_t *hook, const char *name);
/* Whether every one of the `count` objects a screen built was made; when
 * one was not (the toolkit had no memory for it), the screen is deleted and
 * reported (screen_failed). */
bool screen_complete(lv_obj_t *screen, const char *name, lv_obj_t *const *objs, size_t count);
/* A screen that could not be built: deleted with all it holds (its
 * remembered objects forgotten) and reported by its `name`
 * (ui_screen_failed). */
void screen_failed(lv_obj_t *screen, const char *name);
/* Deletes a job screen (when it still exists) and builds the main screen;
 * nothing when the screen has gone already (the main screen is there). */
void screen_close(lv_obj_t *screen);

/* Starts `body` as a detached worker thread; false when it could not. */
bool screen_worker_start(void *(*body)(void *));

/* What came of asking the user for a file on the PC (screen_choose_file). */
typedef enum screen_choice {
    SCREEN_CHOICE_MOUNTED,   /* chosen, and its folder mounted */
    SCREEN_CHOICE_CANCELLED, /* the user cancelled: nothing shown */
    SCREEN_CHOICE_FAILED     /* the failure is shown in the message label */
} screen_choice_t;

typedef void (*screen_choice_done_t)(screen_choice_t choice);

typedef enum screen_choosing {
    SCREEN_CHOOSING_IDLE,
    SCREEN_CHOOSING_ASKING,
    SCREEN_CHOOSING_ANSWERED
} screen_choosing_t;

/* Asks for a file with the open dialog (or the save dialog) into `path`
 * (its directory) and `name` (both emptied first), then mounts the
 * directory at a new mount point of `kind` (see transfer_mount_host_dir)
 * written to `mount`. The dialog and the mount run on a worker thread, so
 * the window keeps drawing and answering while the dialog is open; the
 * buffers are the worker's until `done` runs.
 * A choice's states:
 *   SCREEN_CHOOSING_IDLE      no choice is being made
 *   SCREEN_CHOOSING_ASKING    the worker shows the dialog, then mounts
 *   SCREEN_CHOOSING_ANSWERED  the GUI thread's next pass shows a failure
 *                             in *message (a remembered label: null once
 *                             its screen has gone) and calls `done`
 * Failures shown: a dialog that could not be shown (or no worker)
 * "无法打开文件选择窗口！", a file whose path cannot be used (too long, a
 * quotation mark or '$', or the mount failed) "所选文件无法使用，请重新选择！",
 * a name too long for the programs' paths (transfer_name_fits)
 * "所选文件无法使用（path > 259 B），请重新选择！".
 * False, with nothing started, while another choice is being made. GUI
 * thread. */
bool screen_choose_file(bool save, char *path, uint32_t path_size, char *name, uint32_t name_size, const char *kind,
    char *mount, uint32_t mount_size, lv_obj_t *const *message, screen_choice_done_t done);
/* Whether a choice is being made (asking or answered, `done` not run yet). */
bool screen_choice_pending(void);
/* The GUI thread's pass over a choice (the task screen_choose_file makes). */
void screen_choice_task(lv_task_t *task);

/* Wakes the GUI thread for a job's progress report at most five times a
 * second, so that its bar follows the job (see lvgl_gui_wake). */
void screen_progress_wake(void);
/* Whether a progress report at `now_ms` wakes the GUI thread: the first
 * report does, a later one when 200 ms have passed since the last wake
 * (which it then records in `last_ms`). */
bool screen_progress_wake_due(uint64_t now_ms, uint64_t *last_ms, bool *woken);

/* Shows `key`'s translation in a message label, when the label exists. */
void screen_message(lv_obj_t *label, const char *key);

/* Whether the transfer job runs; when it does, `message` says so
 * ("正在复制，请等待复制完成！"). Every button that starts a job asks first,
 * so a click is never dropped in silence and an earlier job's result is
 * never taken for its own. */
bool screen_job_busy(lv_obj_t *message);
/* A failed job: its bar hidden at 0 and `failed_key`'s translation in
 * `message`, with the job's reason on a second line when it gave one
 * (transfer_job_failure_reason). */
void screen_job_failed(lv_obj_t *message, lv_obj_t *bar, const char *failed_key);

/* A label of the screens' red message style: style_note, empty text and a
 * local red text colour; null, leaving nothing behind, when the toolkit has
 * no memory for it. */
lv_obj_t *screen_message_label(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x, lv_coord_t y);

/* A hidden 590 x 17 progress bar at 0 (animations of 100 ms), aligned;
 * null when the toolkit has no memory for it. */
lv_obj_t *screen_progress_bar(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x, lv_coord_t y);
/* Hides the bar at 0, for a new job. */
void screen_progress_reset(lv_obj_t *bar);
/* Shows the bar at a progress report's value and wakes the GUI thread to
 * draw it (screen_progress_wake). */
void screen_progress_show(lv_obj_t *bar, uint32_t total, uint32_t current);

#ifdef __cplusplus
}
#endif

#endif

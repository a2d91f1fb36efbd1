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
 * screen object whose deletion runs `hook`. */
lv_obj_t *screen_open(lv_obj_t *clicked, const screen_forget_t *hook);
/* Deletes a job screen (when it still exists) and builds the main screen;
 * nothing when the screen has gone already (the main screen is there). */
void screen_close(lv_obj_t *screen);

/* Starts `body` as a detached worker thread; false when it could not. */
bool screen_worker_start(void *(*body)(void *));

/* Shows `key`'s translation in a message label, when the label exists. */
void screen_message(lv_obj_t *label, const char *key);

/* A label of the screens' red message style: style_note, empty text and a
 * local red text colour. */
lv_obj_t *screen_message_label(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x,
                               lv_coord_t y);

/* A hidden 590 x 17 progress bar at 0 (animations of 100 ms), aligned. */
lv_obj_t *screen_progress_bar(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x,
                              lv_coord_t y);
/* Shows the bar at a progress report's value. */
void screen_progress_show(lv_obj_t *bar, uint32_t total, uint32_t current);

#ifdef __cplusplus
}
#endif

#endif

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

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct screen_forget {
    void (*forget)(void); /* clears the screen's remembered objects */
} screen_forget_t;

/* `hook` must live as long as the screen object. */
void screen_forget_on_delete(lv_obj_t *screen, const screen_forget_t *hook);

/* Starts `body` as a detached worker thread; false when it could not. */
bool screen_worker_start(void *(*body)(void *));

/* Shows `key`'s translation in a message label, when the label exists. */
void screen_message(lv_obj_t *label, const char *key);

/* A label of the screens' red message style: style_note, empty text and a
 * local red text colour. */
lv_obj_t *screen_message_label(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x,
                               lv_coord_t y);

#ifdef __cplusplus
}
#endif

#endif

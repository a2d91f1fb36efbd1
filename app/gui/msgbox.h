/* The modal message box: a half-opaque backdrop over the whole screen with
 * a 200-pixel box in its centre holding the text and one button, the
 * translation of "确认". The box closes by itself 3000 ms after it was
 * shown, or at the next task-handler pass after its button was clicked; it
 * is then deleted with its backdrop and `close_cb` (may be null) runs,
 * exactly once. One box at a time: showing a new one first closes the box
 * that is open. GUI thread only. */
#ifndef MSGBOX_H
#define MSGBOX_H

#include <stdbool.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MSGBOX_CLOSE_MS 3000
#define MSGBOX_WIDTH 200

typedef void (*msgbox_close_cb_t)(void);

/* `text` is shown as it is (the caller translates it). */
void msgbox_show(const char *text, msgbox_close_cb_t close_cb);
void msgbox_event_cb(lv_obj_t *obj, lv_event_t event);
void msgbox_close_task(lv_task_t *task);
/* The open box, or null. */
lv_obj_t *msgbox_current(void);

#ifdef __cplusplus
}
#endif

#endif

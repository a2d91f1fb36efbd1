/* The screens that the main screen opens, and the host dialog threads that
 * the GUI starts: provided by app/screens, which every build of the GUI
 * links.
 *
 * A screen's opener is the event callback of its main-screen button: on
 * LV_EVENT_CLICKED it deletes the main screen (lv_obj_del on the button's
 * parent), builds its own screen with ui_screen_create, and returns to the
 * main screen by deleting that object and calling main_screen_create. */
#ifndef APP_SCREENS_H
#define APP_SCREENS_H

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

void config_screen_create(lv_obj_t *obj, lv_event_t event);
void upgrade_screen_create(lv_obj_t *obj, lv_event_t event);
void script_screen_create(lv_obj_t *obj, lv_event_t event);
void host_dialog_threads_init(void);
/* The window's close waits for a running copy (window_close.h). */
void transfer_job_guard_close(void);

#ifdef __cplusplus
}
#endif

#endif

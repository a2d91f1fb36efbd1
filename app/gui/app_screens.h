/* The screens that the main screen opens, and the host dialog threads that
 * the GUI starts: provided by app/screens, which every build of the GUI
 * links.
 *
 * A screen's opener is the event callback of its main-screen button: on
 * LV_EVENT_CLICKED it deletes the main screen (lv_obj_del on the button's
 * parent), builds its own screen with ui_screen_create, and returns to the
 * main screen by deleting that object and calling main_screen_create.
 *
 * Adding a screen that the main screen opens touches eight files in
 * app/screens and app/gui, and the language packs:
 *   app/screens:
 *     - <name>_screen.cpp: the screen and its opener (above); its texts are
 *       written in Chinese and shown through i18n_get_text, the keys of the
 *       language packs; a copy onto or off the adapter goes through the
 *       transfer job (transfer_job.h), which holds the window's close while
 *       it runs;
 *     - <name>_screen.h: its objects and callbacks, for the tests;
 *     - screens.cmake: the source added to zel_app_gui.
 *   app/gui:
 *     - app_screens.h (here): the opener declared;
 *     - main_screen.h: a field for its button in main_screen_objs_t;
 *     - main_screen.cpp: the button, made in main_screen_create with
 *       job_button (the key of its text, its place, the opener and the flag
 *       that enables it);
 *     - adapter_poll.h and adapter_poll.cpp: when a file of the adapter
 *       allows the job, its flag (volatile uint8_t <name>_file_ok), which
 *       adapter_poll_run sets from adapter_has("<file>") and follows with
 *       enable(main_screen.<name>_btn, ...) beside the others (a poll never
 *       disables a button; the status still looks at the configuration and
 *       version files only).
 *   app/i18n_packs.cpp: the English of every new key in the "en-US" pack
 *     (a text left untranslated is named in app/ui_texts.h instead).
 * Characters that no text had before need the fonts made again
 * (scripts/gen_fonts, which counts them in EXPECTED_TEXT_CHARS; it writes
 * app/fonts). The screen's tests go to tests/screens, which boots the GUI
 * on the in-memory window (screens_fixture.h); tests/gui checks the main
 * screen and the packs. */
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

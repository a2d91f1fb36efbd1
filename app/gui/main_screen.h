/* The GUI set-up and the main screen.
 *
 * app_ui_init (once, from lvgl_main): host dialog threads, the window's
 * close held while a copy runs (transfer_job_guard_close), language packs,
 * the stored language (ui_language from "/mnt/hostfs/cfg.bin"), the shared
 * styles, and the main screen.
 *
 * The main screen: the adapter status, the instruction text, the three job
 * buttons (configuration, upgrade, script; enabled by the adapter poll) and
 * the two language buttons ("中文", "English"; the current language's one
 * disabled). Building it starts one adapter poll task. A language button
 * stores its choice in "cfg.bin" and rebuilds the screen in that language.
 * The remembered objects below are null while no main screen exists: they
 * are forgotten when the main screen object is deleted, however that
 * happens. */
#ifndef MAIN_SCREEN_H
#define MAIN_SCREEN_H

#include <stdint.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define UI_LANGUAGE_FILE "/mnt/hostfs/cfg.bin"

/* 0 English, any other value Chinese. */
extern uint8_t ui_language;

typedef struct main_screen_objs {
    lv_obj_t *screen;
    lv_obj_t *status;
    lv_obj_t *config_btn;
    lv_obj_t *upgrade_btn;
    lv_obj_t *script_btn;
    lv_obj_t *chinese_btn;
    lv_obj_t *english_btn;
} main_screen_objs_t;

extern main_screen_objs_t main_screen;

void app_ui_init(uint8_t gamepad_num);
void main_screen_create(void);
void language_btn_event_cb(lv_obj_t *obj, lv_event_t event);

/* The stored language byte: 0 (English) when "cfg.bin" is missing or
 * empty. Saving writes the one byte (a failure is ignored). */
uint8_t ui_language_load(void);
void ui_language_save(uint8_t language);
/* Selects the pack of a language byte: "en-US" for 0, else "zh-CN". */
void ui_language_apply(uint8_t language);

#ifdef __cplusplus
}
#endif

#endif

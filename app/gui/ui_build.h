/* Building blocks of the screens, as every screen of the GUI builds them.
 *
 * A screen is one base object of 900 x 560 on the active LVGL screen
 * (ui_screen_create, which tells the pointer that a new screen comes:
 * lvgl_input_screen_built) holding everything it shows; it is torn down with
 * lv_obj_del on that object, after which the next screen is built (the
 * main screen with main_screen_create). Texts are passed already looked up
 * (i18n_get_text) unless they are shown as they are.
 *
 *   ui_label    a label with a style on its main part, recolouring on,
 *               width 815, expanding (long mode 0), left-aligned text and
 *               auto-realign, aligned to `base`
 *   ui_button   a button with style_btn and a centred, expanding label of
 *               centred text; size, alignment and event callback
 *   ui_step_box a 42 x 35 base object with style_frame holding a centred
 *               static label ("1".."4", long mode 2, centred text)
 *
 * Each answers null, leaving nothing behind, when the toolkit has no memory
 * for its objects, their styles or their texts. A screen that cannot be
 * built so deletes what it built and calls ui_screen_failed, which ends the
 * program. */
#ifndef UI_BUILD_H
#define UI_BUILD_H

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define UI_SCREEN_W 900
#define UI_SCREEN_H 560
#define UI_LABEL_W 815

lv_obj_t *ui_screen_create(void);
/* Adds a style to a part of an object: false when the toolkit had no memory
 * to add it (the part is then without it). */
bool ui_add_style(lv_obj_t *obj, uint8_t part, lv_style_t *style);
lv_obj_t *ui_label(lv_obj_t *parent, lv_style_t *style, const char *text, const lv_obj_t *base, lv_align_t align,
    lv_coord_t x, lv_coord_t y);
lv_obj_t *ui_button(lv_obj_t *parent, const char *text, lv_coord_t w, lv_coord_t h, const lv_obj_t *base,
    lv_align_t align, lv_coord_t x, lv_coord_t y, lv_event_cb_t cb);
lv_obj_t *ui_step_box(
    lv_obj_t *parent, const char *digit, const lv_obj_t *base, lv_align_t align, lv_coord_t x, lv_coord_t y);
/* A screen that could not be built (no memory for its objects): one line
 * on stderr names it, and the program ends with status 1. */
void ui_screen_failed(const char *screen);
/* The text of a button made by ui_button. */
const char *ui_button_text(const lv_obj_t *btn);

#ifdef __cplusplus
}
#endif

#endif

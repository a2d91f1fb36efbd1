/* The GUI's shared styles, built once by ui_styles_init (a second call does
 * nothing):
 *   style_frame     19-pixel font, radius 2, a 2-pixel half-opaque border
 *                   (step boxes)
 *   style_note      15-pixel font, half-opaque background (hints, messages)
 *   style_text      19-pixel font, half-opaque background (labels)
 *   style_btn       19-pixel font, blue background (opaque by default, half
 *                   when disabled, pressed or checked), radius 7, no border
 *   style_padded    19-pixel font, 10 pixels above and below (text areas)
 *   style_msgbox    19-pixel font (message boxes)
 *   style_backdrop  half-opaque background (behind a message box) */
#ifndef UI_STYLES_H
#define UI_STYLES_H

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

extern lv_style_t style_frame;
extern lv_style_t style_note;
extern lv_style_t style_text;
extern lv_style_t style_btn;
extern lv_style_t style_padded;
extern lv_style_t style_msgbox;
extern lv_style_t style_backdrop;

void ui_styles_init(void);

#ifdef __cplusplus
}
#endif

#endif

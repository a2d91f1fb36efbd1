/* Themes give every new widget its look by adding the theme's styles to its parts. */
#ifndef LV_THEME_H
#define LV_THEME_H

#include "lv_color.h"
#include "lv_font.h"

struct _lv_obj_t;

typedef enum {
    LV_THEME_NONE = 0,
    LV_THEME_SCR,
    LV_THEME_OBJ,
    LV_THEME_BTN,
    LV_THEME_LABEL,
    LV_THEME_BAR,
    LV_THEME_BTNMATRIX,
    LV_THEME_MSGBOX,
    LV_THEME_MSGBOX_BTNS,
    LV_THEME_TEXTAREA,
} lv_theme_style_t;

struct _lv_theme_t;
typedef void (*lv_theme_apply_cb_t)(struct _lv_theme_t *, struct _lv_obj_t *, lv_theme_style_t);

typedef struct _lv_theme_t {
    lv_theme_apply_cb_t apply_cb;
    lv_color_t color_primary;
    lv_color_t color_secondary;
    const lv_font_t *font_small;
    const lv_font_t *font_normal;
    const lv_font_t *font_subtitle;
    const lv_font_t *font_title;
    uint32_t flags;
} lv_theme_t;

#define LV_THEME_MATERIAL_FLAG_DARK 0x01
#define LV_THEME_MATERIAL_FLAG_LIGHT 0x02

/* The material theme, light variant; its paddings follow the size class of the default
 * display, so it is set up when the first display is registered. */
lv_theme_t *lv_theme_material_init(lv_color_t color_primary, lv_color_t color_secondary, uint32_t flags,
    const lv_font_t *font_small, const lv_font_t *font_normal, const lv_font_t *font_subtitle,
    const lv_font_t *font_title);
/* Frees the theme's styles. */
void _lv_theme_material_deinit(void);

void lv_theme_set_act(lv_theme_t *th);
lv_theme_t *lv_theme_get_act(void);
/* Replaces the theme styles of the object's parts with the active theme's for `name`. */
void lv_theme_apply(struct _lv_obj_t *obj, lv_theme_style_t name);
const lv_font_t *lv_theme_get_font_normal(void);
lv_color_t lv_theme_get_color_primary(void);

#endif

#include "lv_theme.h"

namespace {
lv_theme_t *act_theme;
}

void lv_theme_set_act(lv_theme_t *th) { act_theme = th; }

lv_theme_t *lv_theme_get_act(void) { return act_theme; }

void lv_theme_apply(struct _lv_obj_t *obj, lv_theme_style_t name) {
    if (act_theme != nullptr && act_theme->apply_cb != nullptr) act_theme->apply_cb(act_theme, obj, name);
}

const lv_font_t *lv_theme_get_font_normal(void) {
    return act_theme != nullptr ? act_theme->font_normal : LV_THEME_DEFAULT_FONT_NORMAL;
}

lv_color_t lv_theme_get_color_primary(void) {
    return act_theme != nullptr ? act_theme->color_primary : LV_THEME_DEFAULT_COLOR_PRIMARY;
}

/* The light material theme with LVGL 7's default colours and sizes. */
#include "lv_theme.h"

#include <initializer_list>

#include "lv_bar.h"
#include "lv_btn.h"
#include "lv_btnmatrix.h"
#include "lv_hal_disp.h"
#include "lv_mem.h"
#include "lv_msgbox.h"
#include "lv_textarea.h"

namespace {

struct Styles {
    lv_style_t scr;
    lv_style_t bg;
    lv_style_t bg_click;
    lv_style_t btn;
    lv_style_t pad_small;
    lv_style_t bar_bg;
    lv_style_t bar_indic;
    lv_style_t mbox_bg;
    lv_style_t ta_cursor;
};

Styles styles;
lv_theme_t theme;
bool styles_built;

constexpr lv_state_t S_DEF = LV_STATE_DEFAULT;
constexpr lv_state_t S_PR = LV_STATE_PRESSED;
constexpr lv_state_t S_CHK = LV_STATE_CHECKED;
constexpr lv_state_t S_DIS = LV_STATE_DISABLED;
constexpr lv_state_t S_FOC = LV_STATE_FOCUSED;
constexpr lv_state_t S_EDIT = LV_STATE_EDITED;

/* The theme's sizes depend on the display's size class: LVGL calls a display "large"
 * from 5 inches of width at its DPI on. */
bool display_is_large(void) {
    lv_disp_t *disp = lv_disp_get_default();
    lv_coord_t w = disp != nullptr ? lv_disp_get_hor_res(disp) : LV_HOR_RES_MAX;
    return (int32_t)w * 10 / LV_DPI >= 50;
}

void set_pads(lv_style_t *s, lv_style_int_t hor, lv_style_int_t ver, lv_style_int_t inner) {
    lv_style_set_pad_left(s, S_DEF, hor);
    lv_style_set_pad_right(s, S_DEF, hor);
    lv_style_set_pad_top(s, S_DEF, ver);
    lv_style_set_pad_bottom(s, S_DEF, ver);
    lv_style_set_pad_inner(s, S_DEF, inner);
}

void build_styles(void) {
    const lv_color_t primary = theme.color_primary;
    const lv_color_t white = LV_COLOR_WHITE;
    const lv_style_int_t border_w = LV_DPX(2);
    const lv_style_int_t pad_def = display_is_large() ? LV_DPX(30) : LV_DPX(15);
    const lv_style_int_t pad_small = display_is_large() ? LV_DPX(20) : LV_DPX(10);
    const lv_color_t bg_text = lv_color_hex(0x3b3e42);
    const lv_color_t bg_border = lv_color_hex(0xd6dde3);
    const lv_color_t sec_text = lv_color_hex(0x31404f);

    lv_style_t *s = &styles.scr;
    lv_style_init(s);
    lv_style_set_bg_opa(s, S_DEF, LV_OPA_COVER);
    lv_style_set_bg_color(s, S_DEF, lv_color_hex(0xeaeff3));
    lv_style_set_text_color(s, S_DEF, bg_text);

    s = &styles.bg;
    lv_style_init(s);
    lv_style_set_radius(s, S_DEF, LV_DPX(8));
    lv_style_set_bg_opa(s, S_DEF, LV_OPA_COVER);
    lv_style_set_bg_color(s, S_DEF, white);
    lv_style_set_border_color(s, S_DEF, bg_border);
    lv_style_set_border_color(s, S_FOC, primary);
    lv_style_set_border_color(s, S_EDIT, theme.color_secondary);
    lv_style_set_border_width(s, S_DEF, border_w);
    lv_style_set_border_post(s, S_DEF, true);
    lv_style_set_text_color(s, S_DEF, bg_text);
    set_pads(s, (lv_style_int_t)(pad_def + border_w), (lv_style_int_t)(pad_def + border_w), pad_def);

    s = &styles.bg_click;
    lv_style_init(s);
    lv_style_set_bg_color(s, S_PR, lv_color_hex(0xeeeeee));
    lv_style_set_bg_color(s, S_CHK, primary);
    lv_style_set_bg_color(s, S_PR | S_CHK, lv_color_darken(primary, LV_OPA_20));
    lv_style_set_bg_color(s, S_DIS, white);
    lv_style_set_border_width(s, S_CHK, 0);
    lv_style_set_border_color(s, S_FOC | S_PR, lv_color_darken(primary, LV_OPA_20));
    lv_style_set_border_color(s, S_PR, lv_color_hex3(0xccc));
    lv_style_set_border_color(s, S_CHK, bg_text);
    lv_style_set_border_color(s, S_PR | S_CHK, bg_text);
    lv_style_set_border_color(s, S_DIS, bg_border);
    lv_style_set_text_color(s, S_PR, bg_text);
    lv_style_set_text_color(s, S_CHK, white);
    lv_style_set_text_color(s, S_PR | S_CHK, white);
    lv_style_set_text_color(s, S_DIS, lv_color_hex3(0xaaa));

    s = &styles.btn;
    lv_style_init(s);
    lv_style_set_radius(s, S_DEF, LV_RADIUS_CIRCLE);
    lv_style_set_bg_opa(s, S_DEF, LV_OPA_COVER);
    lv_style_set_bg_color(s, S_DEF, white);
    lv_style_set_bg_color(s, S_PR, lv_color_mix(primary, white, LV_OPA_20));
    lv_style_set_bg_color(s, S_CHK, primary);
    lv_style_set_bg_color(s, S_CHK | S_PR, lv_color_darken(primary, LV_OPA_30));
    lv_style_set_bg_color(s, S_DIS, white);
    lv_style_set_bg_color(s, S_DIS | S_CHK, lv_color_hex3(0xccc));
    lv_style_set_border_color(s, S_DEF, primary);
    lv_style_set_border_color(s, S_PR, primary);
    lv_style_set_border_color(s, S_DIS, lv_color_hex3(0x888));
    lv_style_set_border_width(s, S_DEF, border_w);
    lv_style_set_border_opa(s, S_CHK, LV_OPA_TRANSP);
    lv_style_set_text_color(s, S_DEF, sec_text);
    lv_style_set_text_color(s, S_PR, sec_text);
    lv_style_set_text_color(s, S_CHK, white);
    lv_style_set_text_color(s, S_CHK | S_PR, white);
    lv_style_set_text_color(s, S_DIS, lv_color_hex(0x888888));
    lv_style_set_pad_left(s, S_DEF, LV_DPX(40));
    lv_style_set_pad_right(s, S_DEF, LV_DPX(40));
    lv_style_set_pad_top(s, S_DEF, LV_DPX(15));
    lv_style_set_pad_bottom(s, S_DEF, LV_DPX(15));
    lv_style_set_pad_inner(s, S_DEF, LV_DPX(20));
    lv_style_set_outline_width(s, S_DEF, border_w);
    lv_style_set_outline_opa(s, S_DEF, LV_OPA_TRANSP);
    lv_style_set_outline_opa(s, S_FOC, LV_OPA_50);
    lv_style_set_outline_color(s, S_DEF, primary);
    lv_style_set_outline_color(s, S_EDIT, theme.color_secondary);

    s = &styles.pad_small;
    lv_style_init(s);
    set_pads(s, pad_small, pad_small, pad_small);

    s = &styles.bar_bg;
    lv_style_init(s);
    lv_style_set_radius(s, S_DEF, LV_RADIUS_CIRCLE);
    lv_style_set_bg_opa(s, S_DEF, LV_OPA_COVER);
    lv_style_set_bg_color(s, S_DEF, lv_color_hex(0xd4d7d9));

    s = &styles.bar_indic;
    lv_style_init(s);
    lv_style_set_bg_opa(s, S_DEF, LV_OPA_COVER);
    lv_style_set_radius(s, S_DEF, LV_RADIUS_CIRCLE);
    lv_style_set_bg_color(s, S_DEF, primary);
    lv_style_set_bg_color(s, S_DIS, lv_color_hex3(0x888));

    s = &styles.mbox_bg;
    lv_style_init(s);
    lv_style_set_shadow_width(s, S_DEF, LV_DPX(50));
    lv_style_set_shadow_color(s, S_DEF, LV_COLOR_SILVER);

    s = &styles.ta_cursor;
    lv_style_init(s);
    lv_style_set_border_color(s, S_DEF, sec_text);
    lv_style_set_border_width(s, S_DEF, LV_DPX(2));
    lv_style_set_pad_left(s, S_DEF, LV_DPX(1));
    lv_style_set_border_side(s, S_DEF, LV_BORDER_SIDE_LEFT);
}

void reset_styles(void) {
    lv_style_t *all[] = {&styles.scr, &styles.bg, &styles.bg_click, &styles.btn, &styles.pad_small, &styles.bar_bg,
        &styles.bar_indic, &styles.mbox_bg, &styles.ta_cursor};
    for (lv_style_t *s : all) lv_style_reset(s);
}

/* Drops the styles added to a part (its local style stays). */
lv_style_list_t *cleared(lv_obj_t *obj, uint8_t part) {
    lv_style_list_t *list = lv_obj_get_style_list(obj, part);
    if (list == nullptr) return nullptr;
    lv_mem_free(list->styles);
    list->styles = nullptr;
    list->style_cnt = 0;
    return list;
}

void add(lv_obj_t *obj, uint8_t part, std::initializer_list<lv_style_t *> add_styles) {
    lv_style_list_t *list = cleared(obj, part);
    if (list == nullptr) return;
    for (lv_style_t *s : add_styles) _lv_style_list_add_style(list, s);
}

void apply(lv_theme_t *th, lv_obj_t *obj, lv_theme_style_t name) {
    LV_UNUSED(th);
    switch (name) {
    case LV_THEME_SCR: add(obj, LV_OBJ_PART_MAIN, {&styles.scr}); break;
    case LV_THEME_OBJ: add(obj, LV_OBJ_PART_MAIN, {&styles.bg}); break;
    case LV_THEME_BTN: add(obj, LV_BTN_PART_MAIN, {&styles.btn}); break;
    case LV_THEME_LABEL: add(obj, LV_OBJ_PART_MAIN, {}); break;
    case LV_THEME_BAR:
        add(obj, LV_BAR_PART_BG, {&styles.bar_bg});
        add(obj, LV_BAR_PART_INDIC, {&styles.bar_indic});
        break;
    case LV_THEME_BTNMATRIX:
        add(obj, LV_BTNMATRIX_PART_BG, {&styles.bg, &styles.pad_small});
        add(obj, LV_BTNMATRIX_PART_BTN, {&styles.bg, &styles.bg_click});
        break;
    case LV_THEME_MSGBOX: add(obj, LV_MSGBOX_PART_BG, {&styles.bg, &styles.mbox_bg}); break;
    case LV_THEME_MSGBOX_BTNS:
        add(obj, LV_BTNMATRIX_PART_BG, {&styles.pad_small});
        add(obj, LV_BTNMATRIX_PART_BTN, {&styles.btn});
        break;
    case LV_THEME_TEXTAREA:
        add(obj, LV_TEXTAREA_PART_BG, {&styles.bg, &styles.pad_small});
        add(obj, LV_TEXTAREA_PART_CURSOR, {&styles.ta_cursor});
        break;
    default: break;
    }
    lv_obj_refresh_style(obj, LV_OBJ_PART_ALL, LV_STYLE_PROP_ALL);
}

}  // namespace

lv_theme_t *lv_theme_material_init(lv_color_t color_primary, lv_color_t color_secondary, uint32_t flags,
    const lv_font_t *font_small, const lv_font_t *font_normal, const lv_font_t *font_subtitle,
    const lv_font_t *font_title) {
    theme.apply_cb = apply;
    theme.color_primary = color_primary;
    theme.color_secondary = color_secondary;
    theme.flags = flags;
    theme.font_small = font_small;
    theme.font_normal = font_normal;
    theme.font_subtitle = font_subtitle;
    theme.font_title = font_title;
    if (styles_built) reset_styles();
    build_styles();
    styles_built = true;
    return &theme;
}

void _lv_theme_material_deinit(void) {
    if (styles_built) reset_styles();
    styles_built = false;
}

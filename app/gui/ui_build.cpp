// Labels, buttons and step boxes as the screens build them.
#include "ui_build.h"

#include <string.h>

#include "lvgl_port.h"
#include "ui_styles.h"

namespace {

// Whether a label shows `text` (keeping it takes memory).
bool shows(const lv_obj_t *label, const char *text) { return strcmp(lv_label_get_text(label), text) == 0; }

}  // namespace

extern "C" {

bool ui_add_style(lv_obj_t *obj, uint8_t part, lv_style_t *style) {
    lv_obj_add_style(obj, part, style);
    const lv_style_list_t *list = lv_obj_get_style_list(obj, part);
    return list && list->style_cnt > 0 && list->styles[0] == style;
}

lv_obj_t *ui_screen_create(void) {
    lvgl_input_screen_built();
    lv_obj_t *scr = lv_obj_create(lv_scr_act(), nullptr);
    if (scr) lv_obj_set_size(scr, UI_SCREEN_W, UI_SCREEN_H);
    return scr;
}

lv_obj_t *ui_label(lv_obj_t *parent, lv_style_t *style, const char *text, const lv_obj_t *base, lv_align_t align,
    lv_coord_t x, lv_coord_t y) {
    lv_obj_t *label = lv_label_create(parent, nullptr);
    if (!label) return nullptr;
    const bool styled = ui_add_style(label, LV_OBJ_PART_MAIN, style);
    lv_label_set_recolor(label, true);
    lv_label_set_text(label, text);
    if (!styled || !shows(label, text)) {
        lv_obj_del(label);
        return nullptr;
    }
    lv_obj_set_width(label, UI_LABEL_W);
    lv_label_set_long_mode(label, LV_LABEL_LONG_EXPAND);
    lv_label_set_align(label, LV_LABEL_ALIGN_LEFT);
    lv_obj_set_auto_realign(label, true);
    lv_obj_align(label, base, align, x, y);
    return label;
}

lv_obj_t *ui_button(lv_obj_t *parent, const char *text, lv_coord_t w, lv_coord_t h, const lv_obj_t *base,
    lv_align_t align, lv_coord_t x, lv_coord_t y, lv_event_cb_t cb) {
    lv_obj_t *btn = lv_btn_create(parent, nullptr);
    if (!btn) return nullptr;
    const bool styled = ui_add_style(btn, LV_BTN_PART_MAIN, &style_btn);
    lv_obj_t *label = styled ? lv_label_create(btn, nullptr) : nullptr;
    if (label) {
        lv_obj_align(label, nullptr, LV_ALIGN_CENTER, 0, 0);
        lv_label_set_long_mode(label, LV_LABEL_LONG_EXPAND);
        lv_label_set_text(label, text);
    }
    if (!label || !shows(label, text)) {
        lv_obj_del(btn);
        return nullptr;
    }
    lv_label_set_align(label, LV_LABEL_ALIGN_CENTER);
    lv_obj_set_size(btn, w, h);
    lv_obj_align(btn, base, align, x, y);
    lv_obj_set_event_cb(btn, cb);
    return btn;
}

lv_obj_t *ui_step_box(
    lv_obj_t *parent, const char *digit, const lv_obj_t *base, lv_align_t align, lv_coord_t x, lv_coord_t y) {
    lv_obj_t *box = lv_obj_create(parent, nullptr);
    if (!box) return nullptr;
    lv_obj_set_size(box, 42, 35);
    lv_obj_t *label = ui_add_style(box, LV_OBJ_PART_MAIN, &style_frame) ? lv_label_create(box, nullptr) : nullptr;
    if (!label) {
        lv_obj_del(box);
        return nullptr;
    }
    lv_label_set_long_mode(label, LV_LABEL_LONG_DOT);
    lv_label_set_static_text(label, digit);
    lv_label_set_align(label, LV_LABEL_ALIGN_CENTER);
    lv_obj_align(label, nullptr, LV_ALIGN_CENTER, 0, 0);
    lv_obj_align(box, base, align, x, y);
    return box;
}

const char *ui_button_text(const lv_obj_t *btn) {
    lv_obj_t *label = lv_obj_get_child(btn, nullptr);
    return label ? lv_label_get_text(label) : "";
}

}  // extern "C"

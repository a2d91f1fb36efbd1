#include "lv_btn.h"

#include "lv_theme.h"

namespace {

lv_btn_ext_t *ext_of(const lv_obj_t *btn) { return static_cast<lv_btn_ext_t *>(lv_obj_get_ext_attr(btn)); }

/* Children are stacked in the middle, one below the other, `pad_inner` apart. */
void layout_center(lv_obj_t *btn) {
    lv_coord_t inner = lv_obj_get_style_pad_inner(btn, LV_BTN_PART_MAIN);
    int32_t total = 0;
    int32_t n = 0;
    for (lv_obj_t *c = lv_obj_get_child_back(btn, nullptr); c != nullptr; c = lv_obj_get_child_back(btn, c)) {
        if (lv_obj_get_hidden(c)) continue;
        total += lv_obj_get_height(c) + inner;
        n++;
    }
    if (n == 0) return;
    total -= inner;
    int32_t y = -(total / 2);
    for (lv_obj_t *c = lv_obj_get_child_back(btn, nullptr); c != nullptr; c = lv_obj_get_child_back(btn, c)) {
        if (lv_obj_get_hidden(c)) continue;
        lv_coord_t h = lv_obj_get_height(c);
        lv_coord_t x = (lv_coord_t)(lv_obj_get_width(btn) / 2 - lv_obj_get_width(c) / 2);
        lv_coord_t top = (lv_coord_t)(lv_obj_get_height(btn) / 2 - h / 2 + y + h / 2);
        lv_obj_set_pos(c, x, top);
        y += h + inner;
    }
}

void relayout(lv_obj_t *btn) {
    lv_btn_ext_t *ext = ext_of(btn);
    if (ext->in_layout) return;
    ext->in_layout = 1;
    layout_center(btn);
    ext->in_layout = 0;
}

lv_res_t btn_signal(lv_obj_t *btn, lv_signal_t sign, void *param) {
    lv_res_t res = lv_obj_signal(btn, sign, param);
    if (res != LV_RES_OK) return res;
    lv_btn_ext_t *ext = ext_of(btn);
    switch (sign) {
    case LV_SIGNAL_CHILD_CHG:
    case LV_SIGNAL_STYLE_CHG: relayout(btn); break;
    case LV_SIGNAL_COORD_CHG: {
        auto *ori = static_cast<const lv_area_t *>(param);
        if (lv_area_get_width(ori) != lv_obj_get_width(btn) || lv_area_get_height(ori) != lv_obj_get_height(btn)) {
            relayout(btn);
        }
        break;
    }
    case LV_SIGNAL_RELEASED:
        if (ext->checkable) {
            uint32_t checked = (lv_obj_get_state(btn, LV_BTN_PART_MAIN) & LV_STATE_CHECKED) ? 0 : 1;
            lv_btn_set_state(btn, checked ? LV_BTN_STATE_CHECKED_RELEASED : LV_BTN_STATE_RELEASED);
            return lv_event_send(btn, LV_EVENT_VALUE_CHANGED, &checked);
        }
        break;
    default: break;
    }
    return LV_RES_OK;
}

}  // namespace

lv_obj_t *lv_btn_create(lv_obj_t *par, const lv_obj_t *copy) {
    LV_UNUSED(copy);
    lv_obj_t *btn = lv_obj_create(par, nullptr);
    if (btn == nullptr) return nullptr;
    if (lv_obj_allocate_ext_attr(btn, sizeof(lv_btn_ext_t)) == nullptr) {
        lv_obj_del(btn);
        return nullptr;
    }
    lv_obj_set_signal_cb(btn, btn_signal);
    lv_obj_set_size(btn, LV_DPI, LV_DPI / 3);
    lv_theme_apply(btn, LV_THEME_BTN);
    return btn;
}

void lv_btn_set_checkable(lv_obj_t *btn, bool tgl) { ext_of(btn)->checkable = tgl ? 1 : 0; }

void lv_btn_set_state(lv_obj_t *btn, lv_btn_state_t state) {
    constexpr lv_state_t all = LV_STATE_PRESSED | LV_STATE_CHECKED | LV_STATE_DISABLED;
    lv_state_t set = 0;
    switch (state) {
    case LV_BTN_STATE_RELEASED: break;
    case LV_BTN_STATE_PRESSED: set = LV_STATE_PRESSED; break;
    case LV_BTN_STATE_DISABLED: set = LV_STATE_DISABLED; break;
    case LV_BTN_STATE_CHECKED_RELEASED: set = LV_STATE_CHECKED; break;
    case LV_BTN_STATE_CHECKED_PRESSED: set = LV_STATE_CHECKED | LV_STATE_PRESSED; break;
    case LV_BTN_STATE_CHECKED_DISABLED: set = LV_STATE_CHECKED | LV_STATE_DISABLED; break;
    default: return;
    }
    lv_obj_set_state(btn, (lv_state_t)((lv_obj_get_state(btn, LV_BTN_PART_MAIN) & ~all) | set));
}

lv_btn_state_t lv_btn_get_state(const lv_obj_t *btn) {
    lv_state_t s = lv_obj_get_state(btn, LV_BTN_PART_MAIN);
    bool checked = s & LV_STATE_CHECKED;
    if (s & LV_STATE_DISABLED) return checked ? LV_BTN_STATE_CHECKED_DISABLED : LV_BTN_STATE_DISABLED;
    if (s & LV_STATE_PRESSED) return checked ? LV_BTN_STATE_CHECKED_PRESSED : LV_BTN_STATE_PRESSED;
    return checked ? LV_BTN_STATE_CHECKED_RELEASED : LV_BTN_STATE_RELEASED;
}

bool lv_btn_get_checkable(const lv_obj_t *btn) { return ext_of(btn)->checkable != 0; }

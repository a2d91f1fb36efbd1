#include "lv_bar.h"

#include "lv_theme.h"

namespace {

constexpr uint16_t kDefaultAnimTime = 200;

lv_bar_ext_t *ext_of(const lv_obj_t *bar) { return static_cast<lv_bar_ext_t *>(lv_obj_get_ext_attr(bar)); }

void anim_exec(void *bar, lv_anim_value_t value) {
    auto *obj = static_cast<lv_obj_t *>(bar);
    ext_of(obj)->shown = value;
    lv_obj_invalidate(obj);
}

/* The indicator: the background without its padding, cut to the shown value. */
lv_area_t indic_area(const lv_obj_t *bar) {
    const lv_bar_ext_t *ext = ext_of(bar);
    lv_area_t a = bar->coords;
    a.x1 = (lv_coord_t)(a.x1 + lv_obj_get_style_pad_left(bar, LV_BAR_PART_BG));
    a.x2 = (lv_coord_t)(a.x2 - lv_obj_get_style_pad_right(bar, LV_BAR_PART_BG));
    a.y1 = (lv_coord_t)(a.y1 + lv_obj_get_style_pad_top(bar, LV_BAR_PART_BG));
    a.y2 = (lv_coord_t)(a.y2 - lv_obj_get_style_pad_bottom(bar, LV_BAR_PART_BG));
    int32_t range = ext->max_value - ext->min_value;
    int32_t w = lv_area_get_width(&a);
    int32_t indic_w = range > 0 ? w * (ext->shown - ext->min_value) / range : 0;
    a.x2 = (lv_coord_t)(a.x1 + indic_w - 1);
    return a;
}

lv_design_res_t bar_design(lv_obj_t *bar, const lv_area_t *clip_area, lv_design_mode_t mode) {
    if (mode == LV_DESIGN_COVER_CHK) return lv_obj_design(bar, clip_area, mode);
    if (mode == LV_DESIGN_DRAW_POST) return lv_obj_design(bar, clip_area, mode);

    lv_draw_rect_dsc_t bg;
    lv_obj_init_draw_rect_dsc(bar, LV_BAR_PART_BG, &bg);
    lv_draw_rect(&bar->coords, clip_area, &bg);

    lv_area_t indic = indic_area(bar);
    if (lv_area_get_width(&indic) > 0) {
        lv_draw_rect_dsc_t dsc;
        lv_obj_init_draw_rect_dsc(bar, LV_BAR_PART_INDIC, &dsc);
        lv_draw_rect(&indic, clip_area, &dsc);
    }
    return LV_DESIGN_RES_OK;
}

lv_res_t bar_signal(lv_obj_t *bar, lv_signal_t sign, void *param) {
    lv_bar_ext_t *ext = ext_of(bar);
    if (sign == LV_SIGNAL_GET_STYLE) {
        auto *info = static_cast<lv_get_style_info_t *>(param);
        if (info->part == LV_BAR_PART_INDIC) {
            info->result = &ext->style_indic;
            return LV_RES_OK;
        }
    }
    lv_res_t res = lv_obj_signal(bar, sign, param);
    if (res != LV_RES_OK) return res;
    if (sign == LV_SIGNAL_CLEANUP) _lv_style_list_reset(&ext->style_indic);
    return LV_RES_OK;
}

}  // namespace

lv_obj_t *lv_bar_create(lv_obj_t *par, const lv_obj_t *copy) {
    LV_UNUSED(copy);
    lv_obj_t *bar = lv_obj_create(par, nullptr);
    if (bar == nullptr) return nullptr;
    if (lv_obj_allocate_ext_attr(bar, sizeof(lv_bar_ext_t)) == nullptr) {
        lv_obj_del(bar);
        return nullptr;
    }
    lv_bar_ext_t *ext = ext_of(bar);
    ext->max_value = 100;
    ext->anim_time = kDefaultAnimTime;
    lv_style_list_init(&ext->style_indic);
    lv_obj_set_click(bar, false);
    lv_obj_set_signal_cb(bar, bar_signal);
    lv_obj_set_design_cb(bar, bar_design);
    lv_obj_set_size(bar, (lv_coord_t)(LV_DPI * 2), (lv_coord_t)(LV_DPI / 10));
    lv_theme_apply(bar, LV_THEME_BAR);
    return bar;
}

void lv_bar_set_value(lv_obj_t *bar, int16_t value, lv_anim_enable_t anim) {
    lv_bar_ext_t *ext = ext_of(bar);
    value = LV_MATH_MAX(ext->min_value, LV_MATH_MIN(ext->max_value, value));
    if (ext->cur_value == value) return;
    ext->cur_value = value;
    if (anim == LV_ANIM_OFF || ext->anim_time == 0) {
        lv_anim_del(bar, anim_exec);
        anim_exec(bar, value);
        return;
    }
    /* From what is drawn now to the new value. */
    lv_anim_t a;
    lv_anim_init(&a);
    lv_anim_set_var(&a, bar);
    lv_anim_set_exec_cb(&a, anim_exec);
    lv_anim_set_values(&a, ext->shown, value);
    lv_anim_set_time(&a, ext->anim_time);
    lv_anim_start(&a);
}

void lv_bar_set_anim_time(lv_obj_t *bar, uint16_t anim_time) { ext_of(bar)->anim_time = anim_time; }

int16_t lv_bar_get_value(const lv_obj_t *bar) { return ext_of(bar)->cur_value; }

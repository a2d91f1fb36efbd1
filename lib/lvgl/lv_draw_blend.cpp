#include "lv_draw_blend.h"

namespace {

lv_color_t *target_buf;
lv_area_t target_area;

inline lv_color_t *px_ptr(lv_coord_t x, lv_coord_t y) {
    int32_t w = lv_area_get_width(&target_area);
    return target_buf + (int32_t)(y - target_area.y1) * w + (x - target_area.x1);
}

}  // namespace

void _lv_draw_set_target(lv_color_t *buf, const lv_area_t *area) {
    target_buf = buf;
    if (area != nullptr) target_area = *area;
}

bool _lv_draw_clip_to_target(const lv_area_t *clip, lv_area_t *res) {
    return target_buf != nullptr && _lv_area_intersect(res, clip, &target_area);
}

void _lv_blend_px(lv_coord_t x, lv_coord_t y, lv_color_t color, lv_opa_t opa) {
    if (opa < LV_OPA_MIN) return;
    lv_color_t *p = px_ptr(x, y);
    *p = opa >= LV_OPA_MAX ? color : lv_color_mix(color, *p, opa);
}

void _lv_blend_fill(const lv_area_t *clip, const lv_area_t *area, lv_color_t color, lv_opa_t opa) {
    if (opa < LV_OPA_MIN) return;
    lv_area_t a;
    if (!_lv_area_intersect(&a, clip, area)) return;
    if (!_lv_draw_clip_to_target(&a, &a)) return;
    for (lv_coord_t y = a.y1; y <= a.y2; y++) {
        lv_color_t *p = px_ptr(a.x1, y);
        for (lv_coord_t x = a.x1; x <= a.x2; x++, p++) {
            *p = opa >= LV_OPA_MAX ? color : lv_color_mix(color, *p, opa);
        }
    }
}

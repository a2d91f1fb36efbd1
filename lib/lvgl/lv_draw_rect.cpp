#include "lv_draw_rect.h"

#include <algorithm>
#include <cmath>

#include "lv_draw_blend.h"

namespace {

/*
 * A rounded rectangle in continuous coordinates: pixel (x, y) covers [x, x+1) x [y, y+1)
 * and is sampled at its centre. The signed distance to the outline gives the coverage
 * of a pixel, which anti-aliases the corners while straight edges stay crisp.
 */
struct RoundRect {
    float cx, cy; /* centre */
    float hw, hh; /* half width and height */
    float r;

    RoundRect(const lv_area_t &a, lv_coord_t radius) {
        hw = (float)lv_area_get_width(&a) / 2.0f;
        hh = (float)lv_area_get_height(&a) / 2.0f;
        cx = (float)a.x1 + hw;
        cy = (float)a.y1 + hh;
        r = std::max(0.0f, std::min((float)radius, std::min(hw, hh)));
    }

    float distance(lv_coord_t x, lv_coord_t y) const {
        float qx = std::fabs((float)x + 0.5f - cx) - (hw - r);
        float qy = std::fabs((float)y + 0.5f - cy) - (hh - r);
        float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
        float inside = std::min(std::max(qx, qy), 0.0f);
        return outside + inside - r;
    }

    /* 0 .. 1 */
    float coverage(lv_coord_t x, lv_coord_t y) const { return std::clamp(0.5f - distance(x, y), 0.0f, 1.0f); }
};

inline lv_opa_t scale(lv_opa_t opa, float cov) { return (lv_opa_t)((float)opa * cov + 0.5f); }

/* Inner edge of a border: the sides left out are pushed beyond the outer edge. */
lv_area_t border_inner(const lv_area_t &outer, const lv_draw_rect_dsc_t *dsc) {
    lv_coord_t bw = dsc->border_width;
    lv_coord_t size = LV_MATH_MAX(lv_area_get_width(&outer), lv_area_get_height(&outer));
    lv_coord_t away = (lv_coord_t)(bw + LV_MATH_MIN(dsc->radius, size) + 1);
    lv_area_t in = outer;
    in.x1 = (lv_coord_t)(dsc->border_side & LV_BORDER_SIDE_LEFT ? outer.x1 + bw : outer.x1 - away);
    in.x2 = (lv_coord_t)(dsc->border_side & LV_BORDER_SIDE_RIGHT ? outer.x2 - bw : outer.x2 + away);
    in.y1 = (lv_coord_t)(dsc->border_side & LV_BORDER_SIDE_TOP ? outer.y1 + bw : outer.y1 - away);
    in.y2 = (lv_coord_t)(dsc->border_side & LV_BORDER_SIDE_BOTTOM ? outer.y2 - bw : outer.y2 + away);
    return in;
}

void draw_bg(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc) {
    if (dsc->bg_opa < LV_OPA_MIN) return;
    lv_area_t a;
    if (!_lv_area_intersect(&a, coords, clip) || !_lv_draw_clip_to_target(&a, &a)) return;

    RoundRect shape(*coords, dsc->radius);
    lv_coord_t r = (lv_coord_t)std::ceil(shape.r);
    for (lv_coord_t y = a.y1; y <= a.y2; y++) {
        bool straight = y >= coords->y1 + r && y <= coords->y2 - r;
        lv_coord_t solid_x1 = straight ? a.x1 : LV_MATH_MAX(a.x1, (lv_coord_t)(coords->x1 + r));
        lv_coord_t solid_x2 = straight ? a.x2 : LV_MATH_MIN(a.x2, (lv_coord_t)(coords->x2 - r));
        for (lv_coord_t x = a.x1; x < solid_x1; x++)
            _lv_blend_px(x, y, dsc->bg_color, scale(dsc->bg_opa, shape.coverage(x, y)));
        if (solid_x1 <= solid_x2) {
            lv_area_t row = {solid_x1, y, solid_x2, y};
            _lv_blend_fill(&row, &row, dsc->bg_color, dsc->bg_opa);
        }
        for (lv_coord_t x = LV_MATH_MAX((lv_coord_t)(solid_x2 + 1), a.x1); x <= a.x2; x++) {
            _lv_blend_px(x, y, dsc->bg_color, scale(dsc->bg_opa, shape.coverage(x, y)));
        }
    }
}

void draw_border(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc) {
    if (dsc->border_width <= 0 || dsc->border_opa < LV_OPA_MIN || dsc->border_side == LV_BORDER_SIDE_NONE) return;
    lv_area_t a;
    if (!_lv_area_intersect(&a, coords, clip) || !_lv_draw_clip_to_target(&a, &a)) return;

    RoundRect outer(*coords, dsc->radius);
    lv_area_t in_area = border_inner(*coords, dsc);
    RoundRect inner(in_area, (lv_coord_t)LV_MATH_MAX(0, (int32_t)std::ceil(outer.r) - dsc->border_width));
    lv_coord_t ir = (lv_coord_t)std::ceil(inner.r);
    for (lv_coord_t y = a.y1; y <= a.y2; y++) {
        /* Pixels well inside the inner edge get nothing: skip that span. */
        bool inner_band = y >= in_area.y1 + ir && y <= in_area.y2 - ir;
        lv_coord_t skip_x1 = inner_band ? in_area.x1 : LV_COORD_MAX;
        lv_coord_t skip_x2 = inner_band ? in_area.x2 : LV_COORD_MIN;
        for (lv_coord_t x = a.x1; x <= a.x2; x++) {
            if (x >= skip_x1 && x <= skip_x2) {
                x = skip_x2;
                continue;
            }
            float cov = outer.coverage(x, y) - inner.coverage(x, y);
            if (cov > 0.0f) _lv_blend_px(x, y, dsc->border_color, scale(dsc->border_opa, cov));
        }
    }
}

void draw_outline(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc) {
    if (dsc->outline_width <= 0 || dsc->outline_opa < LV_OPA_MIN) return;
    lv_coord_t grow = (lv_coord_t)(dsc->outline_pad + dsc->outline_width);
    lv_area_t ring = {(lv_coord_t)(coords->x1 - grow), (lv_coord_t)(coords->y1 - grow), (lv_coord_t)(coords->x2 + grow),
        (lv_coord_t)(coords->y2 + grow)};
    lv_draw_rect_dsc_t as_border = *dsc;
    as_border.border_width = dsc->outline_width;
    as_border.border_color = dsc->outline_color;
    as_border.border_opa = dsc->outline_opa;
    as_border.border_side = LV_BORDER_SIDE_FULL;
    lv_coord_t r =
        LV_MATH_MIN(dsc->radius, (lv_coord_t)(LV_MATH_MIN(lv_area_get_width(coords), lv_area_get_height(coords)) / 2));
    as_border.radius = (lv_coord_t)(r + grow);
    draw_border(&ring, clip, &as_border);
}

void draw_shadow(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc) {
    if (dsc->shadow_width <= 0 || dsc->shadow_opa < LV_OPA_MIN) return;
    lv_area_t sh = *coords;
    sh.x1 = (lv_coord_t)(sh.x1 + dsc->shadow_ofs_x - dsc->shadow_spread);
    sh.x2 = (lv_coord_t)(sh.x2 + dsc->shadow_ofs_x + dsc->shadow_spread);
    sh.y1 = (lv_coord_t)(sh.y1 + dsc->shadow_ofs_y - dsc->shadow_spread);
    sh.y2 = (lv_coord_t)(sh.y2 + dsc->shadow_ofs_y + dsc->shadow_spread);
    lv_coord_t reach = (lv_coord_t)(dsc->shadow_width / 2 + 1);
    lv_area_t outer = {(lv_coord_t)(sh.x1 - reach), (lv_coord_t)(sh.y1 - reach), (lv_coord_t)(sh.x2 + reach),
        (lv_coord_t)(sh.y2 + reach)};
    lv_area_t a;
    if (!_lv_area_intersect(&a, &outer, clip) || !_lv_draw_clip_to_target(&a, &a)) return;

    RoundRect shape(sh, dsc->radius);
    RoundRect body(*coords, dsc->radius);
    float half = (float)dsc->shadow_width / 2.0f;
    for (lv_coord_t y = a.y1; y <= a.y2; y++) {
        for (lv_coord_t x = a.x1; x <= a.x2; x++) {
            /* Nothing under the rectangle itself. */
            float visible = 1.0f - body.coverage(x, y);
            if (visible <= 0.0f) continue;
            float t = std::clamp((half - shape.distance(x, y)) / (float)dsc->shadow_width, 0.0f, 1.0f);
            float strength = t * t * (3.0f - 2.0f * t);
            _lv_blend_px(x, y, dsc->shadow_color, scale(dsc->shadow_opa, strength * visible));
        }
    }
}

}  // namespace

void lv_draw_rect_dsc_init(lv_draw_rect_dsc_t *dsc) {
    *dsc = lv_draw_rect_dsc_t{};
    dsc->bg_color = LV_COLOR_WHITE;
    dsc->bg_opa = LV_OPA_COVER;
    dsc->border_color = LV_COLOR_BLACK;
    dsc->border_opa = LV_OPA_COVER;
    dsc->border_side = LV_BORDER_SIDE_FULL;
    dsc->outline_color = LV_COLOR_BLACK;
    dsc->outline_opa = LV_OPA_COVER;
    dsc->shadow_color = LV_COLOR_BLACK;
    dsc->shadow_opa = LV_OPA_COVER;
}

void lv_draw_rect(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc) {
    if (lv_area_get_width(coords) <= 0 || lv_area_get_height(coords) <= 0) return;
    draw_shadow(coords, clip, dsc);
    draw_bg(coords, clip, dsc);
    if (!dsc->border_post) draw_border(coords, clip, dsc);
    draw_outline(coords, clip, dsc);
}

void lv_draw_rect_border(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc) {
    if (lv_area_get_width(coords) <= 0 || lv_area_get_height(coords) <= 0) return;
    draw_border(coords, clip, dsc);
}

lv_coord_t _lv_draw_rect_ext_reach(const lv_draw_rect_dsc_t *dsc) {
    lv_coord_t reach = 0;
    if (dsc->shadow_width > 0 && dsc->shadow_opa >= LV_OPA_MIN) {
        lv_coord_t ofs = (lv_coord_t)LV_MATH_MAX(LV_MATH_ABS(dsc->shadow_ofs_x), LV_MATH_ABS(dsc->shadow_ofs_y));
        reach = (lv_coord_t)(dsc->shadow_width / 2 + 1 + dsc->shadow_spread + ofs);
    }
    if (dsc->outline_width > 0) reach = LV_MATH_MAX(reach, (lv_coord_t)(dsc->outline_width + dsc->outline_pad));
    return reach;
}

#include "lv_area.h"

void lv_area_set(lv_area_t *area, lv_coord_t x1, lv_coord_t y1, lv_coord_t x2, lv_coord_t y2) {
    area->x1 = x1;
    area->y1 = y1;
    area->x2 = x2;
    area->y2 = y2;
}

uint32_t lv_area_get_size(const lv_area_t *area) {
    if (area->x2 < area->x1 || area->y2 < area->y1) return 0;
    return (uint32_t)(area->x2 - area->x1 + 1) * (uint32_t)(area->y2 - area->y1 + 1);
}

bool _lv_area_intersect(lv_area_t *res, const lv_area_t *a1, const lv_area_t *a2) {
    lv_area_t r;
    r.x1 = LV_MATH_MAX(a1->x1, a2->x1);
    r.y1 = LV_MATH_MAX(a1->y1, a2->y1);
    r.x2 = LV_MATH_MIN(a1->x2, a2->x2);
    r.y2 = LV_MATH_MIN(a1->y2, a2->y2);
    *res = r;
    return r.x1 <= r.x2 && r.y1 <= r.y2;
}

void _lv_area_join(lv_area_t *res, const lv_area_t *a1, const lv_area_t *a2) {
    lv_area_t r;
    r.x1 = LV_MATH_MIN(a1->x1, a2->x1);
    r.y1 = LV_MATH_MIN(a1->y1, a2->y1);
    r.x2 = LV_MATH_MAX(a1->x2, a2->x2);
    r.y2 = LV_MATH_MAX(a1->y2, a2->y2);
    *res = r;
}

bool _lv_area_is_point_on(const lv_area_t *area, const lv_point_t *p) {
    return p->x >= area->x1 && p->x <= area->x2 && p->y >= area->y1 && p->y <= area->y2;
}

bool _lv_area_is_on(const lv_area_t *a1, const lv_area_t *a2) {
    return a1->x1 <= a2->x2 + 1 && a2->x1 <= a1->x2 + 1 && a1->y1 <= a2->y2 + 1 && a2->y1 <= a1->y2 + 1;
}

bool _lv_area_is_in(const lv_area_t *inner, const lv_area_t *outer) {
    return inner->x1 >= outer->x1 && inner->y1 >= outer->y1 && inner->x2 <= outer->x2 && inner->y2 <= outer->y2;
}

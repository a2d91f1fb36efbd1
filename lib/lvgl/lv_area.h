/* Points and rectangular areas (inclusive corners). */
#ifndef LV_AREA_H
#define LV_AREA_H

#include "lv_types.h"

typedef struct {
    lv_coord_t x;
    lv_coord_t y;
} lv_point_t;

typedef struct {
    lv_coord_t x1;
    lv_coord_t y1;
    lv_coord_t x2;
    lv_coord_t y2;
} lv_area_t;

void lv_area_set(lv_area_t *area, lv_coord_t x1, lv_coord_t y1, lv_coord_t x2, lv_coord_t y2);

static inline void lv_area_copy(lv_area_t *dest, const lv_area_t *src) { *dest = *src; }

static inline lv_coord_t lv_area_get_width(const lv_area_t *area) { return (lv_coord_t)(area->x2 - area->x1 + 1); }

static inline lv_coord_t lv_area_get_height(const lv_area_t *area) { return (lv_coord_t)(area->y2 - area->y1 + 1); }

/* Number of pixels in the area. */
uint32_t lv_area_get_size(const lv_area_t *area);

/* Common part of two areas; false when they do not overlap. */
bool _lv_area_intersect(lv_area_t *res, const lv_area_t *a1, const lv_area_t *a2);

/* Smallest area holding both. */
void _lv_area_join(lv_area_t *res, const lv_area_t *a1, const lv_area_t *a2);

/* True when the point lies inside the area. */
bool _lv_area_is_point_on(const lv_area_t *area, const lv_point_t *p);

/* True when the two areas overlap or touch. */
bool _lv_area_is_on(const lv_area_t *a1, const lv_area_t *a2);

/* True when `inner` lies wholly inside `outer`. */
bool _lv_area_is_in(const lv_area_t *inner, const lv_area_t *outer);

#endif

/*
 * The draw target: the buffer the refresh renders into, covering `area` of the screen
 * (rows back to back, `area` wide). Drawing functions take screen coordinates and stay
 * inside the target.
 */
#ifndef LV_DRAW_BLEND_H
#define LV_DRAW_BLEND_H

#include "lv_area.h"
#include "lv_color.h"

void _lv_draw_set_target(lv_color_t *buf, const lv_area_t *area);
/* The part of `clip` inside the target; false when nothing is left. */
bool _lv_draw_clip_to_target(const lv_area_t *clip, lv_area_t *res);

/* Fills `area` ∩ `clip` with the colour at the opacity. */
void _lv_blend_fill(const lv_area_t *clip, const lv_area_t *area, lv_color_t color, lv_opa_t opa);
/* Blends one pixel, which the caller has clipped. */
void _lv_blend_px(lv_coord_t x, lv_coord_t y, lv_color_t color, lv_opa_t opa);

#endif

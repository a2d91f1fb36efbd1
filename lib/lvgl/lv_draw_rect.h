/*
 * Rectangles: background, border, outline and shadow, with rounded corners drawn
 * anti-aliased. The border may leave out sides; the outline is a ring `outline_pad`
 * outside the rectangle; a shadow is a blurred copy of the rectangle drawn around it.
 */
#ifndef LV_DRAW_RECT_H
#define LV_DRAW_RECT_H

#include "lv_area.h"
#include "lv_color.h"

#define LV_RADIUS_CIRCLE (0x7FFF) /* as round as the size allows */

enum {
    LV_BORDER_SIDE_NONE = 0x00,
    LV_BORDER_SIDE_BOTTOM = 0x01,
    LV_BORDER_SIDE_TOP = 0x02,
    LV_BORDER_SIDE_LEFT = 0x04,
    LV_BORDER_SIDE_RIGHT = 0x08,
    LV_BORDER_SIDE_FULL = 0x0F,
};
typedef uint8_t lv_border_side_t;

typedef struct {
    lv_coord_t radius;
    lv_color_t bg_color;
    lv_opa_t bg_opa;
    lv_color_t border_color;
    lv_coord_t border_width;
    lv_opa_t border_opa;
    uint8_t border_side;
    uint8_t border_post : 1; /* the border is drawn after the children */
    lv_color_t outline_color;
    lv_coord_t outline_width;
    lv_coord_t outline_pad;
    lv_opa_t outline_opa;
    lv_color_t shadow_color;
    lv_coord_t shadow_width;
    lv_coord_t shadow_ofs_x;
    lv_coord_t shadow_ofs_y;
    lv_coord_t shadow_spread;
    lv_opa_t shadow_opa;
} lv_draw_rect_dsc_t;

void lv_draw_rect_dsc_init(lv_draw_rect_dsc_t *dsc);
/* Draws the rectangle `coords`, clipped to `clip`, into the current draw buffer. */
void lv_draw_rect(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc);
/* Draws only the border (for borders drawn after the children). */
void lv_draw_rect_border(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_rect_dsc_t *dsc);

/* How far the shadow or the outline reaches outside the rectangle. */
lv_coord_t _lv_draw_rect_ext_reach(const lv_draw_rect_dsc_t *dsc);

#endif

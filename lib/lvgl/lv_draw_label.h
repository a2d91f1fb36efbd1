/* Text drawing: lines broken as lv_txt breaks them, letters blended with their glyphs'
 * opacity, recolour commands honoured when asked for. */
#ifndef LV_DRAW_LABEL_H
#define LV_DRAW_LABEL_H

#include "lv_area.h"
#include "lv_color.h"
#include "lv_font.h"
#include "lv_txt.h"

typedef struct {
    lv_color_t color;
    const lv_font_t *font;
    lv_opa_t opa;
    lv_coord_t line_space;
    lv_coord_t letter_space;
    lv_coord_t ofs_x;
    lv_coord_t ofs_y;
    lv_txt_flag_t flag;
} lv_draw_label_dsc_t;

void lv_draw_label_dsc_init(lv_draw_label_dsc_t *dsc);
/* Draws `txt` inside `coords` (its width is the line width unless the flags expand),
 * clipped to `clip`. */
void lv_draw_label(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_label_dsc_t *dsc, const char *txt);
/* Draws one letter with its top-left pen position at `pos`. */
void lv_draw_letter(const lv_point_t *pos, const lv_area_t *clip, const lv_font_t *font, uint32_t letter,
    uint32_t letter_next, lv_color_t color, lv_opa_t opa);

#endif

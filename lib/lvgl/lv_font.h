/* Fonts: a glyph descriptor and a bitmap per Unicode letter, drawn with 8-bit opacity. */
#ifndef LV_FONT_H
#define LV_FONT_H

#include "lv_types.h"

typedef struct {
    uint16_t adv_w; /* advance in pixels, kerning with the next letter included */
    uint16_t box_w;
    uint16_t box_h;
    int16_t ofs_x; /* from the pen position to the bitmap's left edge */
    int16_t ofs_y; /* from the base line to the bitmap's bottom edge */
    uint8_t bpp;
} lv_font_glyph_dsc_t;

enum {
    LV_FONT_SUBPX_NONE,
    LV_FONT_SUBPX_HOR,
    LV_FONT_SUBPX_VER,
    LV_FONT_SUBPX_BOTH,
};
typedef uint8_t lv_font_subpx_t;

typedef struct _lv_font_struct {
    bool (*get_glyph_dsc)(const struct _lv_font_struct *, lv_font_glyph_dsc_t *, uint32_t letter, uint32_t letter_next);
    const uint8_t *(*get_glyph_bitmap)(const struct _lv_font_struct *, uint32_t letter);
    lv_coord_t line_height;
    lv_coord_t base_line; /* from the bottom of the line */
    uint8_t subpx : 2;
    int8_t underline_position;
    int8_t underline_thickness;
    const void *dsc;
    void *user_data;
} lv_font_t;

#define LV_FONT_DECLARE(font_name) extern lv_font_t font_name;

/* The bitmap stays valid until the next bitmap request to any font. */
const uint8_t *lv_font_get_glyph_bitmap(const lv_font_t *font, uint32_t letter);
bool lv_font_get_glyph_dsc(const lv_font_t *font, lv_font_glyph_dsc_t *dsc_out, uint32_t letter, uint32_t letter_next);
/* Advance of the letter followed by `letter_next`; 0 without a glyph. */
uint16_t lv_font_get_glyph_width(const lv_font_t *font, uint32_t letter, uint32_t letter_next);

static inline lv_coord_t lv_font_get_line_height(const lv_font_t *font) { return font->line_height; }

/* The theme's default font (line height 16, ASCII). */
LV_FONT_DECLARE(lv_font_dejavu_16)

#endif

#include "lv_font.h"

const uint8_t *lv_font_get_glyph_bitmap(const lv_font_t *font, uint32_t letter) {
    return font->get_glyph_bitmap(font, letter);
}

bool lv_font_get_glyph_dsc(const lv_font_t *font, lv_font_glyph_dsc_t *dsc_out, uint32_t letter, uint32_t letter_next) {
    return font->get_glyph_dsc(font, dsc_out, letter, letter_next);
}

uint16_t lv_font_get_glyph_width(const lv_font_t *font, uint32_t letter, uint32_t letter_next) {
    lv_font_glyph_dsc_t g;
    if (!lv_font_get_glyph_dsc(font, &g, letter, letter_next)) return 0;
    return g.adv_w;
}

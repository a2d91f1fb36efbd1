#include "lv_draw_label.h"

#include "lv_draw_blend.h"

namespace {

constexpr uint32_t kRecolorParLength = 6; /* "rrggbb" */

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* The colour of a "#rrggbb " parameter; `fallback` when it is not six hex digits. */
lv_color_t parse_recolor(const char *par, uint32_t len, lv_color_t fallback) {
    if (len != kRecolorParLength) return fallback;
    uint32_t v = 0;
    for (uint32_t k = 0; k < len; k++) {
        int d = hex_digit(par[k]);
        if (d < 0) return fallback;
        v = (v << 4) | (uint32_t)d;
    }
    return lv_color_hex(v);
}

uint8_t glyph_px(const uint8_t *bitmap, uint32_t index, uint8_t bpp) {
    if (bpp == 8) return bitmap[index];
    uint32_t bit = index * bpp;
    uint8_t v = (uint8_t)((bitmap[bit >> 3] >> (8 - bpp - (bit & 7))) & ((1U << bpp) - 1U));
    return (uint8_t)((uint32_t)v * 255U / ((1U << bpp) - 1U));
}

/* Draws the letters of one line starting at pen position `pos`. */
void draw_line(const char *txt, uint32_t len, lv_point_t pos, const lv_area_t *clip, const lv_draw_label_dsc_t *dsc) {
    lv_txt_cmd_state_t cmd = LV_TXT_CMD_STATE_WAIT;
    lv_color_t recolor = dsc->color;
    uint32_t par_start = 0;
    uint32_t i = 0;
    while (i < len && txt[i] != '\0') {
        uint32_t letter = _lv_txt_encoded_next(txt, &i);
        uint32_t probe = i;
        uint32_t next = i < len ? _lv_txt_encoded_next(txt, &probe) : 0;
        if (dsc->flag & LV_TXT_FLAG_RECOLOR) {
            lv_txt_cmd_state_t before = cmd;
            if (_lv_txt_is_cmd(&cmd, letter)) {
                if (before == LV_TXT_CMD_STATE_WAIT && cmd == LV_TXT_CMD_STATE_PAR) par_start = i;
                if (before == LV_TXT_CMD_STATE_PAR && cmd == LV_TXT_CMD_STATE_IN) {
                    recolor = parse_recolor(&txt[par_start], i - 1 - par_start, dsc->color);
                }
                continue;
            }
        }
        if (letter == '\n' || letter == '\r') continue;
        lv_color_t color = cmd == LV_TXT_CMD_STATE_IN ? recolor : dsc->color;
        lv_draw_letter(&pos, clip, dsc->font, letter, next, color, dsc->opa);
        lv_coord_t w = (lv_coord_t)lv_font_get_glyph_width(dsc->font, letter, next);
        if (w > 0) pos.x = (lv_coord_t)(pos.x + w + dsc->letter_space);
    }
}

}  // namespace

void lv_draw_label_dsc_init(lv_draw_label_dsc_t *dsc) {
    *dsc = lv_draw_label_dsc_t{};
    dsc->color = LV_COLOR_BLACK;
    dsc->opa = LV_OPA_COVER;
}

void lv_draw_letter(const lv_point_t *pos, const lv_area_t *clip, const lv_font_t *font, uint32_t letter,
    uint32_t letter_next, lv_color_t color, lv_opa_t opa) {
    if (opa < LV_OPA_MIN) return;
    lv_font_glyph_dsc_t g;
    if (!lv_font_get_glyph_dsc(font, &g, letter, letter_next)) return;
    if (g.box_w == 0 || g.box_h == 0) return;

    lv_area_t box;
    box.x1 = (lv_coord_t)(pos->x + g.ofs_x);
    box.y1 = (lv_coord_t)(pos->y + (font->line_height - font->base_line) - g.box_h - g.ofs_y);
    box.x2 = (lv_coord_t)(box.x1 + g.box_w - 1);
    box.y2 = (lv_coord_t)(box.y1 + g.box_h - 1);
    lv_area_t a;
    if (!_lv_area_intersect(&a, &box, clip) || !_lv_draw_clip_to_target(&a, &a)) return;

    const uint8_t *bitmap = lv_font_get_glyph_bitmap(font, letter);
    if (bitmap == nullptr) return;
    for (lv_coord_t y = a.y1; y <= a.y2; y++) {
        uint32_t row = (uint32_t)(y - box.y1) * g.box_w;
        for (lv_coord_t x = a.x1; x <= a.x2; x++) {
            uint32_t px = glyph_px(bitmap, row + (uint32_t)(x - box.x1), g.bpp);
            if (opa < LV_OPA_MAX) px = (px * opa) / 255U;
            _lv_blend_px(x, y, color, (lv_opa_t)px);
        }
    }
}

void lv_draw_label(const lv_area_t *coords, const lv_area_t *clip, const lv_draw_label_dsc_t *dsc, const char *txt) {
    if (txt == nullptr || dsc->font == nullptr || dsc->opa < LV_OPA_MIN) return;
    lv_area_t visible;
    if (!_lv_area_intersect(&visible, coords, clip)) return;

    const lv_font_t *font = dsc->font;
    lv_coord_t w = lv_area_get_width(coords);
    lv_coord_t max_w = (dsc->flag & LV_TXT_FLAG_EXPAND) ? LV_COORD_MAX : w;
    lv_coord_t line_h = (lv_coord_t)(font->line_height + dsc->line_space);

    lv_point_t pos = {(lv_coord_t)(coords->x1 + dsc->ofs_x), (lv_coord_t)(coords->y1 + dsc->ofs_y)};
    uint32_t line_start = 0;
    while (txt[line_start] != '\0' && pos.y <= clip->y2) {
        uint32_t len = _lv_txt_get_next_line(&txt[line_start], font, dsc->letter_space, max_w, dsc->flag);
        if (pos.y + font->line_height > clip->y1) {
            lv_point_t line_pos = pos;
            if (dsc->flag & (LV_TXT_FLAG_CENTER | LV_TXT_FLAG_RIGHT)) {
                lv_coord_t line_w = _lv_txt_get_width(&txt[line_start], len, font, dsc->letter_space, dsc->flag);
                lv_coord_t room = (lv_coord_t)(w - line_w);
                line_pos.x = (lv_coord_t)(line_pos.x + ((dsc->flag & LV_TXT_FLAG_CENTER) ? room / 2 : room));
            }
            draw_line(&txt[line_start], len, line_pos, clip, dsc);
        }
        pos.y = (lv_coord_t)(pos.y + line_h);
        line_start += len;
    }
}

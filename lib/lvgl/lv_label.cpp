#include "lv_label.h"

#include <cstring>

#include "lv_mem.h"
#include "lv_theme.h"

namespace {

constexpr const char *kDots = "...";

lv_label_ext_t *ext_of(const lv_obj_t *label) { return static_cast<lv_label_ext_t *>(lv_obj_get_ext_attr(label)); }

const char *text_of(const lv_label_ext_t *ext) { return ext->text != nullptr ? ext->text : ""; }

lv_txt_flag_t flags_of(const lv_obj_t *label) {
    const lv_label_ext_t *ext = ext_of(label);
    lv_txt_flag_t flag = LV_TXT_FLAG_NONE;
    if (ext->recolor) flag |= LV_TXT_FLAG_RECOLOR;
    if (ext->long_mode == LV_LABEL_LONG_EXPAND) flag |= LV_TXT_FLAG_EXPAND;
    if (ext->align == LV_LABEL_ALIGN_CENTER) flag |= LV_TXT_FLAG_CENTER;
    if (ext->align == LV_LABEL_ALIGN_RIGHT) flag |= LV_TXT_FLAG_RIGHT;
    return flag;
}

/* The box the text is laid out in: the label without its padding. */
lv_area_t text_box(const lv_obj_t *label) {
    lv_area_t a = label->coords;
    a.x1 = (lv_coord_t)(a.x1 + lv_obj_get_style_pad_left(label, LV_LABEL_PART_MAIN));
    a.x2 = (lv_coord_t)(a.x2 - lv_obj_get_style_pad_right(label, LV_LABEL_PART_MAIN));
    a.y1 = (lv_coord_t)(a.y1 + lv_obj_get_style_pad_top(label, LV_LABEL_PART_MAIN));
    a.y2 = (lv_coord_t)(a.y2 - lv_obj_get_style_pad_bottom(label, LV_LABEL_PART_MAIN));
    return a;
}

struct TextStyle {
    const lv_font_t *font;
    lv_coord_t letter_space;
    lv_coord_t line_space;
    lv_txt_flag_t flag;
    lv_coord_t max_w;
};

TextStyle text_style(const lv_obj_t *label) {
    TextStyle ts;
    ts.font = lv_obj_get_style_text_font(label, LV_LABEL_PART_MAIN);
    ts.letter_space = lv_obj_get_style_text_letter_space(label, LV_LABEL_PART_MAIN);
    ts.line_space = lv_obj_get_style_text_line_space(label, LV_LABEL_PART_MAIN);
    ts.flag = flags_of(label);
    lv_area_t box = text_box(label);
    ts.max_w = (ts.flag & LV_TXT_FLAG_EXPAND) ? LV_COORD_MAX : lv_area_get_width(&box);
    return ts;
}

/* In DOT mode: the text as shown, ending in "..." where the box cuts it; NULL when it
 * fits. */
char *dotted_text(const lv_obj_t *label, const TextStyle &ts) {
    const char *txt = text_of(ext_of(label));
    if (_lv_txt_get_encoded_length(txt) <= 3) return nullptr;
    lv_area_t box = text_box(label);
    lv_coord_t line_h = (lv_coord_t)(ts.font->line_height + ts.line_space);
    int32_t fit_lines = LV_MATH_MAX(1, (lv_area_get_height(&box) + ts.line_space) / line_h);

    /* Find the end of the last line that fits. */
    uint32_t start = 0, line_start = 0;
    for (int32_t n = 0; n < fit_lines; n++) {
        line_start = start;
        uint32_t len = _lv_txt_get_next_line(&txt[start], ts.font, ts.letter_space, ts.max_w, ts.flag);
        start += len;
        if (txt[start] == '\0') return nullptr;
    }
    uint32_t cut = start;
    while (cut > line_start && (txt[cut - 1] == '\n' || txt[cut - 1] == '\r')) cut--;

    lv_coord_t dots_w = _lv_txt_get_width(kDots, 3, ts.font, ts.letter_space, LV_TXT_FLAG_NONE);
    while (cut > line_start) {
        lv_coord_t w = _lv_txt_get_width(&txt[line_start], cut - line_start, ts.font, ts.letter_space, ts.flag);
        if (w + ts.letter_space + dots_w <= lv_area_get_width(&box)) break;
        _lv_txt_encoded_prev(txt, &cut);
    }
    auto *out = static_cast<char *>(lv_mem_alloc(cut + 4));
    if (out == nullptr) return nullptr;
    std::memcpy(out, txt, cut);
    std::memcpy(out + cut, kDots, 4);
    return out;
}

void refr_text(lv_obj_t *label) {
    lv_label_ext_t *ext = ext_of(label);
    lv_mem_free(ext->dot_text);
    ext->dot_text = nullptr;

    TextStyle ts = text_style(label);
    lv_point_t size;
    _lv_txt_get_size(&size, text_of(ext), ts.font, ts.letter_space, ts.line_space, ts.max_w, ts.flag);
    lv_coord_t pad_hor = (lv_coord_t)(lv_obj_get_style_pad_left(label, LV_LABEL_PART_MAIN) +
                                      lv_obj_get_style_pad_right(label, LV_LABEL_PART_MAIN));
    lv_coord_t pad_ver = (lv_coord_t)(lv_obj_get_style_pad_top(label, LV_LABEL_PART_MAIN) +
                                      lv_obj_get_style_pad_bottom(label, LV_LABEL_PART_MAIN));
    switch (ext->long_mode) {
    case LV_LABEL_LONG_EXPAND:
        lv_obj_set_size(label, (lv_coord_t)(size.x + pad_hor), (lv_coord_t)(size.y + pad_ver));
        break;
    case LV_LABEL_LONG_BREAK: lv_obj_set_height(label, (lv_coord_t)(size.y + pad_ver)); break;
    case LV_LABEL_LONG_DOT: ext->dot_text = dotted_text(label, ts); break;
    default: break;
    }
    lv_obj_invalidate(label);
}

lv_design_res_t label_design(lv_obj_t *label, const lv_area_t *clip_area, lv_design_mode_t mode) {
    if (mode == LV_DESIGN_COVER_CHK) return LV_DESIGN_RES_NOT_COVER;
    if (mode != LV_DESIGN_DRAW_MAIN) return LV_DESIGN_RES_OK;

    lv_draw_rect_dsc_t rect;
    lv_obj_init_draw_rect_dsc(label, LV_LABEL_PART_MAIN, &rect);
    lv_draw_rect(&label->coords, clip_area, &rect);

    lv_label_ext_t *ext = ext_of(label);
    lv_draw_label_dsc_t dsc;
    lv_obj_init_draw_label_dsc(label, LV_LABEL_PART_MAIN, &dsc);
    dsc.flag = flags_of(label);
    lv_area_t box = text_box(label);
    lv_area_t clip;
    if (_lv_area_intersect(&clip, clip_area, &label->coords)) {
        lv_draw_label(&box, &clip, &dsc, ext->dot_text != nullptr ? ext->dot_text : text_of(ext));
    }
    return LV_DESIGN_RES_OK;
}

lv_res_t label_signal(lv_obj_t *label, lv_signal_t sign, void *param) {
    lv_res_t res = lv_obj_signal(label, sign, param);
    if (res != LV_RES_OK) return res;
    lv_label_ext_t *ext = ext_of(label);
    switch (sign) {
    case LV_SIGNAL_CLEANUP:
        if (!ext->static_txt) lv_mem_free(ext->text);
        lv_mem_free(ext->dot_text);
        ext->text = nullptr;
        ext->dot_text = nullptr;
        break;
    case LV_SIGNAL_STYLE_CHG: refr_text(label); break;
    case LV_SIGNAL_COORD_CHG: {
        auto *ori = static_cast<const lv_area_t *>(param);
        bool width_changed = lv_area_get_width(ori) != lv_obj_get_width(label);
        bool height_changed = lv_area_get_height(ori) != lv_obj_get_height(label);
        if ((ext->long_mode == LV_LABEL_LONG_BREAK && width_changed) ||
            (ext->long_mode == LV_LABEL_LONG_DOT && (width_changed || height_changed))) {
            refr_text(label);
        }
        break;
    }
    default: break;
    }
    return LV_RES_OK;
}

/* Byte range of the line holding byte `byte_id`, and that line's top in the box. */
struct LineOf {
    uint32_t start;
    uint32_t len;
    lv_coord_t y;
};

LineOf line_of(const char *txt, uint32_t byte_id, const TextStyle &ts) {
    lv_coord_t line_h = (lv_coord_t)(ts.font->line_height + ts.line_space);
    LineOf l = {0, 0, 0};
    while (true) {
        l.len = _lv_txt_get_next_line(&txt[l.start], ts.font, ts.letter_space, ts.max_w, ts.flag);
        uint32_t end = l.start + l.len;
        bool last = txt[end] == '\0';
        if (byte_id < end) return l;
        if (last) {
            /* After a final line break the position is on the empty line below. */
            if (l.len > 0 && (txt[end - 1] == '\n' || txt[end - 1] == '\r')) {
                l.start = end;
                l.len = 0;
                l.y = (lv_coord_t)(l.y + line_h);
            }
            return l;
        }
        l.start = end;
        l.y = (lv_coord_t)(l.y + line_h);
    }
}

lv_coord_t line_offset(const char *txt, const LineOf &l, const TextStyle &ts, lv_coord_t box_w) {
    if ((ts.flag & (LV_TXT_FLAG_CENTER | LV_TXT_FLAG_RIGHT)) == 0) return 0;
    lv_coord_t line_w = _lv_txt_get_width(&txt[l.start], l.len, ts.font, ts.letter_space, ts.flag);
    lv_coord_t room = (lv_coord_t)(box_w - line_w);
    return (ts.flag & LV_TXT_FLAG_CENTER) ? (lv_coord_t)(room / 2) : room;
}

}  // namespace

lv_obj_t *lv_label_create(lv_obj_t *par, const lv_obj_t *copy) {
    LV_UNUSED(copy);
    lv_obj_t *label = lv_obj_create(par, nullptr);
    if (label == nullptr) return nullptr;
    if (lv_obj_allocate_ext_attr(label, sizeof(lv_label_ext_t)) == nullptr) {
        lv_obj_del(label);
        return nullptr;
    }
    lv_label_ext_t *ext = ext_of(label);
    ext->long_mode = LV_LABEL_LONG_EXPAND;
    ext->align = LV_LABEL_ALIGN_LEFT;
    lv_obj_set_click(label, false);
    lv_obj_set_signal_cb(label, label_signal);
    lv_obj_set_design_cb(label, label_design);
    lv_theme_apply(label, LV_THEME_LABEL);
    lv_label_set_text(label, "Text");
    return label;
}

void lv_label_set_text(lv_obj_t *label, const char *text) {
    lv_label_ext_t *ext = ext_of(label);
    if (text != nullptr && (ext->static_txt || text != ext->text)) {
        char *copy = _lv_mem_strdup(text);
        if (copy == nullptr) return;
        if (!ext->static_txt) lv_mem_free(ext->text);
        ext->text = copy;
        ext->static_txt = 0;
    }
    refr_text(label);
}

void lv_label_set_static_text(lv_obj_t *label, const char *text) {
    lv_label_ext_t *ext = ext_of(label);
    if (!ext->static_txt) lv_mem_free(ext->text);
    ext->text = const_cast<char *>(text);
    ext->static_txt = 1;
    refr_text(label);
}

void lv_label_set_long_mode(lv_obj_t *label, lv_label_long_mode_t long_mode) {
    ext_of(label)->long_mode = long_mode;
    refr_text(label);
}

void lv_label_set_align(lv_obj_t *label, lv_label_align_t align) {
    ext_of(label)->align = align;
    refr_text(label);
}

void lv_label_set_recolor(lv_obj_t *label, bool en) {
    ext_of(label)->recolor = en ? 1 : 0;
    refr_text(label);
}

char *lv_label_get_text(const lv_obj_t *label) { return const_cast<char *>(text_of(ext_of(label))); }

lv_label_long_mode_t lv_label_get_long_mode(const lv_obj_t *label) { return ext_of(label)->long_mode; }

lv_label_align_t lv_label_get_align(const lv_obj_t *label) { return ext_of(label)->align; }

bool lv_label_get_recolor(const lv_obj_t *label) { return ext_of(label)->recolor != 0; }

void lv_label_get_letter_pos(const lv_obj_t *label, uint32_t index, lv_point_t *pos) {
    const char *txt = text_of(ext_of(label));
    TextStyle ts = text_style(label);
    lv_area_t box = text_box(label);
    uint32_t byte_id = _lv_txt_encoded_get_byte_id(txt, index);
    LineOf l = line_of(txt, byte_id, ts);
    lv_coord_t x = _lv_txt_get_width(&txt[l.start], byte_id - l.start, ts.font, ts.letter_space, ts.flag);
    if (byte_id > l.start && x > 0) x = (lv_coord_t)(x + ts.letter_space);
    pos->x = (lv_coord_t)(box.x1 - label->coords.x1 + line_offset(txt, l, ts, lv_area_get_width(&box)) + x);
    pos->y = (lv_coord_t)(box.y1 - label->coords.y1 + l.y);
}

uint32_t lv_label_get_letter_on(const lv_obj_t *label, lv_point_t *pos) {
    const char *txt = text_of(ext_of(label));
    TextStyle ts = text_style(label);
    lv_area_t box = text_box(label);
    lv_coord_t line_h = (lv_coord_t)(ts.font->line_height + ts.line_space);
    lv_coord_t y = (lv_coord_t)(pos->y - (box.y1 - label->coords.y1));

    /* The line under the point (the last line when below the text). */
    LineOf l = {0, 0, 0};
    while (true) {
        l.len = _lv_txt_get_next_line(&txt[l.start], ts.font, ts.letter_space, ts.max_w, ts.flag);
        if (y < l.y + line_h || txt[l.start + l.len] == '\0') break;
        l.start += l.len;
        l.y = (lv_coord_t)(l.y + line_h);
    }
    lv_coord_t x =
        (lv_coord_t)(pos->x - (box.x1 - label->coords.x1) - line_offset(txt, l, ts, lv_area_get_width(&box)));

    uint32_t end = l.start + l.len;
    if (l.len > 0 && (txt[end - 1] == '\n' || txt[end - 1] == '\r')) end--;
    lv_coord_t cur = 0;
    uint32_t i = l.start;
    while (i < end) {
        uint32_t at = i;
        uint32_t letter = _lv_txt_encoded_next(txt, &i);
        uint32_t probe = i;
        lv_coord_t w = (lv_coord_t)lv_font_get_glyph_width(ts.font, letter, _lv_txt_encoded_next(txt, &probe));
        if (x < cur + w / 2) return _lv_txt_encoded_get_char_id(txt, at);
        cur = (lv_coord_t)(cur + w + ts.letter_space);
    }
    return _lv_txt_encoded_get_char_id(txt, end);
}

#include "lv_textarea.h"

#include <cstring>

#include "lv_group.h"
#include "lv_indev.h"
#include "lv_label.h"
#include "lv_mem.h"
#include "lv_theme.h"

namespace {

lv_textarea_ext_t *ext_of(const lv_obj_t *ta) { return static_cast<lv_textarea_ext_t *>(lv_obj_get_ext_attr(ta)); }

const char *text_of(const lv_obj_t *ta) { return lv_label_get_text(ext_of(ta)->label); }

uint32_t text_len(const lv_obj_t *ta) { return _lv_txt_get_encoded_length(text_of(ta)); }

bool accepted(const lv_textarea_ext_t *ext, uint32_t c) {
    if (ext->accepted_chars == nullptr) return true;
    uint32_t i = 0;
    while (ext->accepted_chars[i] != '\0') {
        if (_lv_txt_encoded_next(ext->accepted_chars, &i) == c) return true;
    }
    return false;
}

lv_coord_t line_height(const lv_obj_t *ta) {
    const lv_font_t *font = lv_obj_get_style_text_font(ext_of(ta)->label, LV_LABEL_PART_MAIN);
    return (lv_coord_t)(lv_font_get_line_height(font) +
                        lv_obj_get_style_text_line_space(ext_of(ta)->label, LV_LABEL_PART_MAIN));
}

/* Puts the text inside the padding, scrolled so that the cursor's line shows. */
void place_label(lv_obj_t *ta) {
    lv_textarea_ext_t *ext = ext_of(ta);
    if (ext == nullptr || ext->label == nullptr) return;
    lv_coord_t left = lv_obj_get_style_pad_left(ta, LV_TEXTAREA_PART_BG);
    lv_coord_t top = lv_obj_get_style_pad_top(ta, LV_TEXTAREA_PART_BG);
    lv_coord_t content_h = lv_obj_get_height_fit(ta);
    lv_obj_set_width(ext->label, lv_obj_get_width_fit(ta));

    lv_point_t cur;
    lv_label_get_letter_pos(ext->label, ext->cursor_pos, &cur);
    lv_coord_t line_h = line_height(ta);
    if (line_h > content_h) {
        /* A line does not fit in the box: show the cursor's line from its top. */
        ext->scroll_y = cur.y;
    } else {
        if (cur.y - ext->scroll_y < 0) ext->scroll_y = cur.y;
        if (cur.y + line_h - ext->scroll_y > content_h) ext->scroll_y = (lv_coord_t)(cur.y + line_h - content_h);
    }
    if (ext->scroll_y < 0) ext->scroll_y = 0;
    lv_obj_set_pos(ext->label, left, (lv_coord_t)(top - ext->scroll_y));
}

void cursor_changed(lv_obj_t *ta) {
    place_label(ta);
    lv_obj_invalidate(ta);
}

/* Inserts one letter at the cursor when the filters let it; true when inserted. */
bool insert_letter(lv_obj_t *ta, uint32_t c) {
    lv_textarea_ext_t *ext = ext_of(ta);
    /* Control codes other than the line feed (ESC, key 0, ...) are not text. */
    if (c < 0x20 && c != '\n') return false;
    if (c == 0x7F || !accepted(ext, c)) return false;
    if (ext->max_length > 0 && text_len(ta) >= ext->max_length) return false;

    char utf8[5];
    uint8_t n = _lv_txt_unicode_to_utf8(c, utf8);
    const char *old = text_of(ta);
    size_t old_len = std::strlen(old);
    uint32_t at = _lv_txt_encoded_get_byte_id(old, ext->cursor_pos);
    auto *buf = static_cast<char *>(lv_mem_alloc(old_len + n + 1));
    if (buf == nullptr) return false;
    std::memcpy(buf, old, at);
    std::memcpy(buf + at, utf8, n);
    std::memcpy(buf + at + n, old + at, old_len - at + 1);
    lv_label_set_text(ext->label, buf);
    lv_mem_free(buf);
    ext->cursor_pos++;
    return true;
}

/* Removes letter `index`; true when there was one. */
bool remove_letter(lv_obj_t *ta, uint32_t index) {
    lv_textarea_ext_t *ext = ext_of(ta);
    const char *old = text_of(ta);
    uint32_t from = _lv_txt_encoded_get_byte_id(old, index);
    if (old[from] == '\0') return false;
    uint32_t to = from;
    _lv_txt_encoded_next(old, &to);
    char *buf = _lv_mem_strdup(old);
    if (buf == nullptr) return false;
    std::memmove(buf + from, buf + to, std::strlen(buf + to) + 1);
    lv_label_set_text(ext->label, buf);
    lv_mem_free(buf);
    return true;
}

/* LV_RES_INV when the application deleted the text area on the news. */
lv_res_t changed(lv_obj_t *ta) {
    cursor_changed(ta);
    return lv_event_send(ta, LV_EVENT_VALUE_CHANGED, nullptr);
}

lv_res_t add_char(lv_obj_t *ta, uint32_t c) { return insert_letter(ta, c) ? changed(ta) : (lv_res_t)LV_RES_OK; }

lv_res_t del_char(lv_obj_t *ta) {
    lv_textarea_ext_t *ext = ext_of(ta);
    if (ext->cursor_pos == 0 || !remove_letter(ta, ext->cursor_pos - 1)) return LV_RES_OK;
    ext->cursor_pos--;
    return changed(ta);
}

lv_res_t del_char_forward(lv_obj_t *ta) {
    return remove_letter(ta, ext_of(ta)->cursor_pos) ? changed(ta) : (lv_res_t)LV_RES_OK;
}

/* The cursor one line up or down, at the same x. */
void cursor_vertical(lv_obj_t *ta, int dir) {
    lv_textarea_ext_t *ext = ext_of(ta);
    lv_point_t pos;
    lv_label_get_letter_pos(ext->label, ext->cursor_pos, &pos);
    lv_coord_t y = (lv_coord_t)(pos.y + dir * line_height(ta));
    if (y < 0 || y >= lv_obj_get_height(ext->label)) return;
    lv_point_t target = {pos.x, y};
    lv_textarea_set_cursor_pos(ta, (int32_t)lv_label_get_letter_on(ext->label, &target));
}

lv_area_t cursor_area(const lv_obj_t *ta) {
    lv_textarea_ext_t *ext = ext_of(ta);
    lv_point_t pos;
    lv_label_get_letter_pos(ext->label, ext->cursor_pos, &pos);
    const char *txt = text_of(ta);
    uint32_t byte = _lv_txt_encoded_get_byte_id(txt, ext->cursor_pos);
    uint32_t letter = txt[byte] == '\0' || txt[byte] == '\n' ? ' ' : _lv_txt_encoded_next(txt, &byte);
    const lv_font_t *font = lv_obj_get_style_text_font(ext->label, LV_LABEL_PART_MAIN);
    lv_coord_t w = (lv_coord_t)lv_font_get_glyph_width(font, letter, 0);
    lv_coord_t x = (lv_coord_t)(ext->label->coords.x1 + pos.x);
    lv_coord_t y = (lv_coord_t)(ext->label->coords.y1 + pos.y);
    lv_area_t a;
    a.x1 = (lv_coord_t)(x - lv_obj_get_style_pad_left(ta, LV_TEXTAREA_PART_CURSOR));
    a.y1 = (lv_coord_t)(y - lv_obj_get_style_pad_top(ta, LV_TEXTAREA_PART_CURSOR));
    a.x2 = (lv_coord_t)(x + w - 1 + lv_obj_get_style_pad_right(ta, LV_TEXTAREA_PART_CURSOR));
    a.y2 =
        (lv_coord_t)(y + lv_font_get_line_height(font) - 1 + lv_obj_get_style_pad_bottom(ta, LV_TEXTAREA_PART_CURSOR));
    return a;
}

lv_design_res_t ta_design(lv_obj_t *ta, const lv_area_t *clip_area, lv_design_mode_t mode) {
    if (mode == LV_DESIGN_DRAW_POST && !ext_of(ta)->cursor_hidden) {
        lv_area_t a = cursor_area(ta);
        lv_area_t clip;
        if (_lv_area_intersect(&clip, clip_area, &ta->coords)) {
            lv_draw_rect_dsc_t dsc;
            lv_obj_init_draw_rect_dsc(ta, LV_TEXTAREA_PART_CURSOR, &dsc);
            lv_draw_rect(&a, &clip, &dsc);
        }
    }
    return lv_obj_design(ta, clip_area, mode);
}

lv_res_t handle_key(lv_obj_t *ta, uint32_t c) {
    switch (c) {
    case LV_KEY_RIGHT: lv_textarea_cursor_right(ta); break;
    case LV_KEY_LEFT: lv_textarea_cursor_left(ta); break;
    case LV_KEY_UP: lv_textarea_cursor_up(ta); break;
    case LV_KEY_DOWN: lv_textarea_cursor_down(ta); break;
    case LV_KEY_BACKSPACE: return del_char(ta);
    case LV_KEY_DEL: return del_char_forward(ta);
    case LV_KEY_HOME: lv_textarea_set_cursor_pos(ta, 0); break;
    case LV_KEY_END: lv_textarea_set_cursor_pos(ta, LV_TEXTAREA_CURSOR_LAST); break;
    default: return add_char(ta, c);
    }
    return LV_RES_OK;
}

lv_res_t ta_signal(lv_obj_t *ta, lv_signal_t sign, void *param) {
    lv_textarea_ext_t *ext = ext_of(ta);
    if (sign == LV_SIGNAL_GET_STYLE) {
        auto *info = static_cast<lv_get_style_info_t *>(param);
        if (info->part == LV_TEXTAREA_PART_CURSOR) {
            info->result = &ext->style_cursor;
            return LV_RES_OK;
        }
    }
    lv_res_t res = lv_obj_signal(ta, sign, param);
    if (res != LV_RES_OK) return res;

    switch (sign) {
    case LV_SIGNAL_CLEANUP:
        lv_mem_free(ext->accepted_chars);
        ext->accepted_chars = nullptr;
        _lv_style_list_reset(&ext->style_cursor);
        break;
    case LV_SIGNAL_STYLE_CHG: place_label(ta); break;
    case LV_SIGNAL_COORD_CHG: {
        auto *ori = static_cast<const lv_area_t *>(param);
        if (lv_area_get_width(ori) != lv_obj_get_width(ta) || lv_area_get_height(ori) != lv_obj_get_height(ta)) {
            place_label(ta);
        }
        break;
    }
    case LV_SIGNAL_CONTROL: return handle_key(ta, *static_cast<const uint32_t *>(param));
    case LV_SIGNAL_PRESSED: {
        auto *indev = static_cast<lv_indev_t *>(param);
        if (indev == nullptr || lv_indev_get_type(indev) != LV_INDEV_TYPE_POINTER || ext->label == nullptr) break;
        lv_point_t p;
        lv_indev_get_point(indev, &p);
        lv_point_t rel = {(lv_coord_t)(p.x - ext->label->coords.x1), (lv_coord_t)(p.y - ext->label->coords.y1)};
        lv_textarea_set_cursor_pos(ta, (int32_t)lv_label_get_letter_on(ext->label, &rel));
        break;
    }
    default: break;
    }
    return LV_RES_OK;
}

}  // namespace

lv_obj_t *lv_textarea_create(lv_obj_t *par, const lv_obj_t *copy) {
    LV_UNUSED(copy);
    lv_obj_t *ta = lv_obj_create(par, nullptr);
    if (ta == nullptr) return nullptr;
    if (lv_obj_allocate_ext_attr(ta, sizeof(lv_textarea_ext_t)) == nullptr) {
        lv_obj_del(ta);
        return nullptr;
    }
    lv_textarea_ext_t *ext = ext_of(ta);
    lv_style_list_init(&ext->style_cursor);
    lv_obj_set_signal_cb(ta, ta_signal);
    lv_obj_set_design_cb(ta, ta_design);
    lv_obj_set_size(ta, (lv_coord_t)(LV_DPI * 2), LV_DPI);

    ext->label = lv_label_create(ta, nullptr);
    if (ext->label == nullptr) {
        lv_obj_del(ta);
        return nullptr;
    }
    lv_label_set_long_mode(ext->label, LV_LABEL_LONG_BREAK);
    lv_label_set_text(ext->label, "");
    lv_theme_apply(ta, LV_THEME_TEXTAREA);
    place_label(ta);
    return ta;
}

void lv_textarea_set_text(lv_obj_t *ta, const char *txt) {
    lv_textarea_ext_t *ext = ext_of(ta);
    lv_label_set_text(ext->label, "");
    ext->cursor_pos = 0;
    ext->scroll_y = 0;
    uint32_t i = 0;
    while (txt != nullptr && txt[i] != '\0') insert_letter(ta, _lv_txt_encoded_next(txt, &i));
    changed(ta);
}

void lv_textarea_add_char(lv_obj_t *ta, uint32_t c) { add_char(ta, c); }

void lv_textarea_del_char(lv_obj_t *ta) { del_char(ta); }

void lv_textarea_del_char_forward(lv_obj_t *ta) { del_char_forward(ta); }

void lv_textarea_set_cursor_pos(lv_obj_t *ta, int32_t pos) {
    lv_textarea_ext_t *ext = ext_of(ta);
    int32_t len = (int32_t)text_len(ta);
    if (pos < 0) pos = LV_MATH_MAX(0, len + pos);
    if (pos > len) pos = len;
    if ((uint32_t)pos == ext->cursor_pos) return;
    ext->cursor_pos = (uint32_t)pos;
    cursor_changed(ta);
}

void lv_textarea_set_cursor_hidden(lv_obj_t *ta, bool hide) {
    ext_of(ta)->cursor_hidden = hide ? 1 : 0;
    lv_obj_invalidate(ta);
}

void lv_textarea_set_text_align(lv_obj_t *ta, uint8_t align) {
    lv_label_set_align(ext_of(ta)->label, align);
    cursor_changed(ta);
}

void lv_textarea_set_max_length(lv_obj_t *ta, uint32_t num) { ext_of(ta)->max_length = num; }

void lv_textarea_set_accepted_chars(lv_obj_t *ta, const char *list) {
    lv_textarea_ext_t *ext = ext_of(ta);
    char *copy = nullptr;
    if (list != nullptr) {
        copy = _lv_mem_strdup(list);
        if (copy == nullptr) return;
    }
    lv_mem_free(ext->accepted_chars);
    ext->accepted_chars = copy;
}

void lv_textarea_cursor_right(lv_obj_t *ta) { lv_textarea_set_cursor_pos(ta, (int32_t)ext_of(ta)->cursor_pos + 1); }

void lv_textarea_cursor_left(lv_obj_t *ta) {
    uint32_t pos = ext_of(ta)->cursor_pos;
    if (pos > 0) lv_textarea_set_cursor_pos(ta, (int32_t)pos - 1);
}

void lv_textarea_cursor_up(lv_obj_t *ta) { cursor_vertical(ta, -1); }

void lv_textarea_cursor_down(lv_obj_t *ta) { cursor_vertical(ta, 1); }

const char *lv_textarea_get_text(const lv_obj_t *ta) { return text_of(ta); }

lv_obj_t *lv_textarea_get_label(const lv_obj_t *ta) { return ext_of(ta)->label; }

uint32_t lv_textarea_get_cursor_pos(const lv_obj_t *ta) { return ext_of(ta)->cursor_pos; }

bool lv_textarea_get_cursor_hidden(const lv_obj_t *ta) { return ext_of(ta)->cursor_hidden != 0; }

uint32_t lv_textarea_get_max_length(const lv_obj_t *ta) { return ext_of(ta)->max_length; }

const char *lv_textarea_get_accepted_chars(const lv_obj_t *ta) { return ext_of(ta)->accepted_chars; }

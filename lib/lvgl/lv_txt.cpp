#include "lv_txt.h"

#include <cstring>

namespace {

bool is_break_char(uint32_t letter) {
    for (const char *c = LV_TXT_BREAK_CHARS; *c != '\0'; c++) {
        if (letter == (uint32_t)(unsigned char)*c) return true;
    }
    return false;
}

uint32_t peek(const char *txt, uint32_t i) { return _lv_txt_encoded_next(txt, &i); }

/* Width a letter adds to a line, letter spacing included (0 for letters without a glyph). */
lv_coord_t letter_advance(const lv_font_t *font, uint32_t letter, uint32_t next, lv_coord_t letter_space) {
    lv_coord_t w = (lv_coord_t)lv_font_get_glyph_width(font, letter, next);
    return w > 0 ? (lv_coord_t)(w + letter_space) : 0;
}

}  // namespace

uint32_t _lv_txt_encoded_next(const char *txt, uint32_t *i) {
    auto *s = reinterpret_cast<const unsigned char *>(txt);
    uint32_t at = *i;
    unsigned char c = s[at];
    uint32_t len = 1;
    uint32_t letter = c;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        letter = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        letter = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        letter = c & 0x07;
    }
    for (uint32_t k = 1; k < len; k++) {
        if ((s[at + k] & 0xC0) != 0x80) {
            /* Malformed: take the lead byte alone. */
            *i = at + 1;
            return c;
        }
        letter = (letter << 6) | (s[at + k] & 0x3F);
    }
    *i = at + len;
    return letter;
}

uint32_t _lv_txt_encoded_prev(const char *txt, uint32_t *i) {
    if (*i == 0) return 0;
    auto *s = reinterpret_cast<const unsigned char *>(txt);
    uint32_t start = *i - 1;
    /* At most three continuation bytes precede a lead byte. */
    for (uint32_t k = 0; k < 3 && start > 0 && (s[start] & 0xC0) == 0x80; k++) start--;
    uint32_t probe = start;
    uint32_t letter = _lv_txt_encoded_next(txt, &probe);
    if (probe != *i) {
        /* The bytes did not form one letter ending at *i: step back one byte. */
        start = *i - 1;
        letter = s[start];
    }
    *i = start;
    return letter;
}

uint32_t _lv_txt_get_encoded_length(const char *txt) {
    uint32_t n = 0;
    uint32_t i = 0;
    while (txt[i] != '\0') {
        _lv_txt_encoded_next(txt, &i);
        n++;
    }
    return n;
}

uint32_t _lv_txt_encoded_get_byte_id(const char *txt, uint32_t letter_id) {
    uint32_t i = 0;
    for (uint32_t n = 0; n < letter_id && txt[i] != '\0'; n++) _lv_txt_encoded_next(txt, &i);
    return i;
}

uint32_t _lv_txt_encoded_get_char_id(const char *txt, uint32_t byte_id) {
    uint32_t i = 0;
    uint32_t n = 0;
    while (i < byte_id && txt[i] != '\0') {
        _lv_txt_encoded_next(txt, &i);
        n++;
    }
    return n;
}

uint8_t _lv_txt_unicode_to_utf8(uint32_t letter, char out[5]) {
    uint8_t n;
    if (letter < 0x80) {
        out[0] = (char)letter;
        n = 1;
    } else if (letter < 0x800) {
        out[0] = (char)(0xC0 | (letter >> 6));
        out[1] = (char)(0x80 | (letter & 0x3F));
        n = 2;
    } else if (letter < 0x10000) {
        out[0] = (char)(0xE0 | (letter >> 12));
        out[1] = (char)(0x80 | ((letter >> 6) & 0x3F));
        out[2] = (char)(0x80 | (letter & 0x3F));
        n = 3;
    } else {
        out[0] = (char)(0xF0 | ((letter >> 18) & 0x07));
        out[1] = (char)(0x80 | ((letter >> 12) & 0x3F));
        out[2] = (char)(0x80 | ((letter >> 6) & 0x3F));
        out[3] = (char)(0x80 | (letter & 0x3F));
        n = 4;
    }
    out[n] = '\0';
    return n;
}

bool _lv_txt_is_cmd(lv_txt_cmd_state_t *state, uint32_t c) {
    if (c == (uint32_t)LV_TXT_COLOR_CMD[0]) {
        switch (*state) {
        case LV_TXT_CMD_STATE_WAIT: *state = LV_TXT_CMD_STATE_PAR; return true;
        case LV_TXT_CMD_STATE_PAR:
            /* "##" shows one '#' */
            *state = LV_TXT_CMD_STATE_WAIT;
            return false;
        default: *state = LV_TXT_CMD_STATE_WAIT; return true;
        }
    }
    if (*state == LV_TXT_CMD_STATE_PAR) {
        if (c == ' ') *state = LV_TXT_CMD_STATE_IN;
        return true;
    }
    return false;
}

bool _lv_txt_is_cjk(uint32_t letter) {
    return (letter >= 0x2E80 && letter <= 0x9FFF) || (letter >= 0xAC00 && letter <= 0xD7AF) ||
           (letter >= 0xF900 && letter <= 0xFAFF) || (letter >= 0xFF00 && letter <= 0xFFEF) ||
           (letter >= 0x20000 && letter <= 0x3FFFF);
}

uint32_t _lv_txt_get_next_line(
    const char *txt, const lv_font_t *font, lv_coord_t letter_space, lv_coord_t max_width, lv_txt_flag_t flag) {
    if (txt == nullptr || txt[0] == '\0') return 0;
    if (flag & LV_TXT_FLAG_EXPAND) max_width = LV_COORD_MAX;

    lv_txt_cmd_state_t cmd = LV_TXT_CMD_STATE_WAIT;
    int32_t acc = 0;         /* advances so far, one letter space after each */
    uint32_t last_break = 0; /* where the line may end, 0: nowhere yet */
    bool any_letter = false;
    uint32_t i = 0;
    while (txt[i] != '\0') {
        uint32_t start = i;
        uint32_t letter = _lv_txt_encoded_next(txt, &i);
        if (letter == '\n') return i;
        if (letter == '\r') return txt[i] == '\n' ? i + 1 : i;
        if ((flag & LV_TXT_FLAG_RECOLOR) && _lv_txt_is_cmd(&cmd, letter)) continue;

        int32_t adv = letter_advance(font, letter, peek(txt, i), letter_space);
        if (adv > 0 && any_letter && acc + adv - letter_space > max_width) {
            if (letter == ' ') return i; /* a space that overflows stays, unseen */
            if (_lv_txt_is_cjk(letter)) return start;
            return last_break != 0 ? last_break : start;
        }
        acc += adv;
        if (adv > 0) any_letter = true;
        if (is_break_char(letter) || _lv_txt_is_cjk(letter)) last_break = i;
    }
    return i;
}

lv_coord_t _lv_txt_get_width(
    const char *txt, uint32_t length, const lv_font_t *font, lv_coord_t letter_space, lv_txt_flag_t flag) {
    if (txt == nullptr || font == nullptr) return 0;
    lv_txt_cmd_state_t cmd = LV_TXT_CMD_STATE_WAIT;
    int32_t width = 0;
    uint32_t i = 0;
    while (i < length && txt[i] != '\0') {
        uint32_t letter = _lv_txt_encoded_next(txt, &i);
        if ((flag & LV_TXT_FLAG_RECOLOR) && _lv_txt_is_cmd(&cmd, letter)) continue;
        width += letter_advance(font, letter, peek(txt, i), letter_space);
    }
    if (width > 0) width -= letter_space;
    return (lv_coord_t)LV_MATH_MIN(width, (int32_t)LV_COORD_MAX);
}

void _lv_txt_get_size(lv_point_t *size_res, const char *text, const lv_font_t *font, lv_coord_t letter_space,
    lv_coord_t line_space, lv_coord_t max_width, lv_txt_flag_t flag) {
    size_res->x = 0;
    size_res->y = 0;
    if (text == nullptr || font == nullptr) return;

    lv_coord_t line_h = lv_font_get_line_height(font);
    int32_t height = 0;
    int32_t width = 0;
    uint32_t line_start = 0;
    while (text[line_start] != '\0') {
        uint32_t len = _lv_txt_get_next_line(&text[line_start], font, letter_space, max_width, flag);
        width = LV_MATH_MAX(width, (int32_t)_lv_txt_get_width(&text[line_start], len, font, letter_space, flag));
        height += line_h + line_space;
        line_start += len;
    }
    /* A text ending in a line break has an empty last line. */
    if (line_start > 0 && (text[line_start - 1] == '\n' || text[line_start - 1] == '\r')) {
        height += line_h + line_space;
    }
    height = height == 0 ? line_h : height - line_space;

    size_res->x = (lv_coord_t)LV_MATH_MIN(width, (int32_t)LV_COORD_MAX);
    size_res->y = (lv_coord_t)LV_MATH_MIN(height, (int32_t)LV_COORD_MAX);
}

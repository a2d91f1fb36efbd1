/*
 * UTF-8 text: letters, recolour commands ("#rrggbb text#"), line breaking and text
 * sizes. Lines break after the break characters, on both sides of CJK and full-width
 * characters, and inside a word only when the word alone is wider than the line.
 */
#ifndef LV_TXT_H
#define LV_TXT_H

#include "lv_area.h"
#include "lv_font.h"

#define LV_TXT_COLOR_CMD "#"
#define LV_TXT_ENC_UTF8 1

enum {
    LV_TXT_FLAG_NONE = 0x00,
    LV_TXT_FLAG_RECOLOR = 0x01, /* "#rrggbb text#" sets the colour of `text` */
    LV_TXT_FLAG_EXPAND = 0x02,  /* no line breaks but at '\n' */
    LV_TXT_FLAG_CENTER = 0x04,
    LV_TXT_FLAG_RIGHT = 0x08,
};
typedef uint8_t lv_txt_flag_t;

/* State of the recolour command parser along a line. */
enum {
    LV_TXT_CMD_STATE_WAIT, /* outside a command */
    LV_TXT_CMD_STATE_PAR,  /* reading the colour parameter */
    LV_TXT_CMD_STATE_IN,   /* inside the recoloured text */
};
typedef uint8_t lv_txt_cmd_state_t;

/* Decodes the letter at byte `*i` and advances `*i` past it; malformed bytes come out
 * one by one as themselves. */
uint32_t _lv_txt_encoded_next(const char *txt, uint32_t *i);
/* Steps `*i` back to the start of the previous letter and returns that letter. */
uint32_t _lv_txt_encoded_prev(const char *txt, uint32_t *i);
/* Number of letters in the text. */
uint32_t _lv_txt_get_encoded_length(const char *txt);
/* Byte offset of letter `letter_id`. */
uint32_t _lv_txt_encoded_get_byte_id(const char *txt, uint32_t letter_id);
/* Letter index of byte offset `byte_id`. */
uint32_t _lv_txt_encoded_get_char_id(const char *txt, uint32_t byte_id);
/* UTF-8 bytes of a code point into `out` (up to 4 bytes, NUL-terminated); returns the
 * number of bytes. */
uint8_t _lv_txt_unicode_to_utf8(uint32_t letter, char out[5]);

/* True when `c` belongs to a recolour command rather than to the shown text. */
bool _lv_txt_is_cmd(lv_txt_cmd_state_t *state, uint32_t c);

/* True for CJK ideographs, kana, Hangul and full-width forms: a line may break on
 * either side of them. */
bool _lv_txt_is_cjk(uint32_t letter);

/* Bytes of the line starting at `txt` that fit in `max_width` (the line feed ending it
 * included). */
uint32_t _lv_txt_get_next_line(
    const char *txt, const lv_font_t *font, lv_coord_t letter_space, lv_coord_t max_width, lv_txt_flag_t flag);

/* Width of the first `length` bytes of `txt` drawn on one line. */
lv_coord_t _lv_txt_get_width(
    const char *txt, uint32_t length, const lv_font_t *font, lv_coord_t letter_space, lv_txt_flag_t flag);

/* Size of the whole text broken into lines of at most `max_width`; an empty text is one
 * line high. */
void _lv_txt_get_size(lv_point_t *size_res, const char *text, const lv_font_t *font, lv_coord_t letter_space,
    lv_coord_t line_space, lv_coord_t max_width, lv_txt_flag_t flag);

#endif

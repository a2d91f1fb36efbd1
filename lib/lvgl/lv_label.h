/*
 * Labels: text in the label's box. Long modes: EXPAND sizes the box to the text,
 * BREAK keeps the width and breaks lines to it (the height follows), DOT keeps the size
 * and ends an overflowing text with "...". Recolouring shows "#rrggbb text#" in colour.
 */
#ifndef LV_LABEL_H
#define LV_LABEL_H

#include "lv_obj.h"

enum {
    LV_LABEL_LONG_EXPAND,
    LV_LABEL_LONG_BREAK,
    LV_LABEL_LONG_DOT,
    LV_LABEL_LONG_SROLL,      /* not animated here: kept as CROP */
    LV_LABEL_LONG_SROLL_CIRC, /* not animated here: kept as CROP */
    LV_LABEL_LONG_CROP,       /* keeps the size and cuts the text off */
};
typedef uint8_t lv_label_long_mode_t;

enum {
    LV_LABEL_ALIGN_LEFT,
    LV_LABEL_ALIGN_CENTER,
    LV_LABEL_ALIGN_RIGHT,
    LV_LABEL_ALIGN_AUTO,
};
typedef uint8_t lv_label_align_t;

enum {
    LV_LABEL_PART_MAIN,
};

#define LV_LABEL_POS_LAST 0xFFFF

typedef struct {
    char *text;     /* owned copy, or the caller's text when static */
    char *dot_text; /* the text as shown with "...", NULL when it fits */
    lv_label_long_mode_t long_mode;
    lv_label_align_t align;
    uint8_t static_txt : 1;
    uint8_t recolor : 1;
} lv_label_ext_t;

lv_obj_t *lv_label_create(lv_obj_t *par, const lv_obj_t *copy);

/* Copies the text; NULL refreshes the current text. */
void lv_label_set_text(lv_obj_t *label, const char *text);
/* Shows the caller's text without copying it: it must outlive the label. */
void lv_label_set_static_text(lv_obj_t *label, const char *text);
void lv_label_set_long_mode(lv_obj_t *label, lv_label_long_mode_t long_mode);
void lv_label_set_align(lv_obj_t *label, lv_label_align_t align);
void lv_label_set_recolor(lv_obj_t *label, bool en);

char *lv_label_get_text(const lv_obj_t *label);
lv_label_long_mode_t lv_label_get_long_mode(const lv_obj_t *label);
lv_label_align_t lv_label_get_align(const lv_obj_t *label);
bool lv_label_get_recolor(const lv_obj_t *label);
/* Position of the top-left corner of letter `index`, relative to the label. */
void lv_label_get_letter_pos(const lv_obj_t *label, uint32_t index, lv_point_t *pos);
/* Index of the letter under `pos` (relative to the label); past the line's end gives
 * the index after its last letter. */
uint32_t lv_label_get_letter_on(const lv_obj_t *label, lv_point_t *pos);

#endif

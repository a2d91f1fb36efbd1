/*
 * Text areas: editable text with a cursor. Keys arrive through the focus group:
 * characters are inserted at the cursor (when accepted and within the maximum length),
 * LEFT/RIGHT/UP/DOWN/HOME/END move the cursor, BACKSPACE and DEL delete. Other
 * control keys are ignored. A click puts the cursor under the pointer.
 */
#ifndef LV_TEXTAREA_H
#define LV_TEXTAREA_H

#include "lv_obj.h"

#define LV_TEXTAREA_CURSOR_LAST (0x7FFF)

enum {
    LV_TEXTAREA_PART_BG = LV_OBJ_PART_MAIN,
    LV_TEXTAREA_PART_CURSOR = 3,
};

typedef struct {
    lv_obj_t *label;
    char *accepted_chars; /* copy; NULL accepts everything */
    uint32_t max_length;  /* letters; 0: no limit */
    uint32_t cursor_pos;  /* letter index */
    lv_coord_t scroll_y;  /* how far the text is scrolled up */
    uint8_t cursor_hidden : 1;
    lv_style_list_t style_cursor;
} lv_textarea_ext_t;

lv_obj_t *lv_textarea_create(lv_obj_t *par, const lv_obj_t *copy);
/* Replaces the text; with a filter set, the characters pass it one by one. */
void lv_textarea_set_text(lv_obj_t *ta, const char *txt);
void lv_textarea_add_char(lv_obj_t *ta, uint32_t c);
void lv_textarea_del_char(lv_obj_t *ta);
void lv_textarea_del_char_forward(lv_obj_t *ta);
void lv_textarea_set_cursor_pos(lv_obj_t *ta, int32_t pos);
void lv_textarea_set_cursor_hidden(lv_obj_t *ta, bool hide);
void lv_textarea_set_text_align(lv_obj_t *ta, uint8_t align);
void lv_textarea_set_max_length(lv_obj_t *ta, uint32_t num);
/* Only these characters may be entered (copied); NULL lifts the filter. */
void lv_textarea_set_accepted_chars(lv_obj_t *ta, const char *list);
void lv_textarea_cursor_right(lv_obj_t *ta);
void lv_textarea_cursor_left(lv_obj_t *ta);
void lv_textarea_cursor_up(lv_obj_t *ta);
void lv_textarea_cursor_down(lv_obj_t *ta);

const char *lv_textarea_get_text(const lv_obj_t *ta);
lv_obj_t *lv_textarea_get_label(const lv_obj_t *ta);
uint32_t lv_textarea_get_cursor_pos(const lv_obj_t *ta);
bool lv_textarea_get_cursor_hidden(const lv_obj_t *ta);
uint32_t lv_textarea_get_max_length(const lv_obj_t *ta);
const char *lv_textarea_get_accepted_chars(const lv_obj_t *ta);

#endif

/*
 * Message boxes: a text above a row of buttons, the box's height following its
 * content. A click on a button sends VALUE_CHANGED to the box with the button's index
 * (a uint32_t) as data.
 */
#ifndef LV_MSGBOX_H
#define LV_MSGBOX_H

#include "lv_obj.h"
#include "lv_task.h"

enum {
    LV_MSGBOX_PART_BG = LV_OBJ_PART_MAIN,
    LV_MSGBOX_PART_BTN_BG = _LV_OBJ_PART_REAL_LAST,
    LV_MSGBOX_PART_BTN,
};

typedef struct {
    lv_obj_t *text;
    lv_obj_t *btnm;
    lv_task_t *close_task; /* pending auto-close */
    uint8_t in_layout : 1;
} lv_msgbox_ext_t;

lv_obj_t *lv_msgbox_create(lv_obj_t *par, const lv_obj_t *copy);
void lv_msgbox_set_text(lv_obj_t *mbox, const char *txt);
/* Adds the buttons of `btn_mapaction` (kept, not copied). */
void lv_msgbox_add_btns(lv_obj_t *mbox, const char *btn_mapaction[]);
/* Deletes the box after `delay` ms; with 0 at once. */
void lv_msgbox_start_auto_close(lv_obj_t *mbox, uint16_t delay);
const char *lv_msgbox_get_text(const lv_obj_t *mbox);
uint16_t lv_msgbox_get_active_btn(const lv_obj_t *mbox);

#endif

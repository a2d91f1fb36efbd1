/* Buttons: clickable containers that centre their children; a checkable button toggles
 * its checked state on each click and reports it with VALUE_CHANGED. */
#ifndef LV_BTN_H
#define LV_BTN_H

#include "lv_obj.h"

enum {
    LV_BTN_STATE_RELEASED,
    LV_BTN_STATE_PRESSED,
    LV_BTN_STATE_DISABLED,
    LV_BTN_STATE_CHECKED_RELEASED,
    LV_BTN_STATE_CHECKED_PRESSED,
    LV_BTN_STATE_CHECKED_DISABLED,
    _LV_BTN_STATE_LAST,
};
typedef uint8_t lv_btn_state_t;

enum {
    LV_BTN_PART_MAIN = LV_OBJ_PART_MAIN,
};

typedef struct {
    uint8_t checkable : 1;
    uint8_t in_layout : 1; /* placing the children: their moves are not news */
} lv_btn_ext_t;

lv_obj_t *lv_btn_create(lv_obj_t *par, const lv_obj_t *copy);
void lv_btn_set_checkable(lv_obj_t *btn, bool tgl);
void lv_btn_set_state(lv_obj_t *btn, lv_btn_state_t state);
lv_btn_state_t lv_btn_get_state(const lv_obj_t *btn);
bool lv_btn_get_checkable(const lv_obj_t *btn);

#endif

/*
 * Input handling. Pointer: the newest visible clickable object under the point is
 * pressed (PRESSED, then PRESSING while held, LONG_PRESSED after the long-press time and
 * LONG_PRESSED_REPEAT every repeat time); moving onto another object sends PRESS_LOST
 * to the first and presses the second; releasing sends SHORT_CLICKED (no long press),
 * CLICKED and RELEASED. Pressing also moves the focus (FOCUSED, DEFOCUSED, or LEAVE for
 * an object of a group). A disabled object takes the press but gets nothing. When the
 * object in use is deleted, the press (or held key) does nothing more until released.
 * Keypad: keys go to the group's focused object; ENTER also presses and clicks it; a
 * held key repeats after the long-press time. Each key transition is printed with
 * LV_INDEV_KEY_PRINTF.
 */
#ifndef LV_INDEV_H
#define LV_INDEV_H

#include "lv_group.h"
#include "lv_hal_indev.h"

void lv_indev_set_group(lv_indev_t *indev, lv_group_t *group);
lv_indev_type_t lv_indev_get_type(const lv_indev_t *indev);
void lv_indev_get_point(const lv_indev_t *indev, lv_point_t *point);
/* The topmost object under the point that takes clicks, searching from `obj`. */
lv_obj_t *lv_indev_search_obj(lv_obj_t *obj, const lv_point_t *point);

void _lv_indev_read_task(lv_task_t *task);
void _lv_indev_obj_deleted(lv_obj_t *obj);
void _lv_indev_group_deleted(lv_group_t *group);
void _lv_indev_core_deinit(void);

#endif

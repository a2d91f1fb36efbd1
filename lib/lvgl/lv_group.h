/*
 * Focus groups: the objects a keypad reaches. One object of the group has the focus and
 * gets the keys; focusing sends FOCUS/FOCUSED to it and DEFOCUS/DEFOCUSED to the one
 * that had it.
 */
#ifndef LV_GROUP_H
#define LV_GROUP_H

#include "lv_obj.h"

/* Keys with a meaning of their own. */
enum {
    LV_KEY_UP = 17,
    LV_KEY_DOWN = 18,
    LV_KEY_RIGHT = 19,
    LV_KEY_LEFT = 20,
    LV_KEY_ESC = 27,
    LV_KEY_DEL = 127,
    LV_KEY_BACKSPACE = 8,
    LV_KEY_ENTER = 10,
    LV_KEY_NEXT = 9,
    LV_KEY_PREV = 11,
    LV_KEY_HOME = 2,
    LV_KEY_END = 3,
};

typedef struct _lv_group_t {
    lv_obj_t **objs; /* in the order added */
    uint16_t obj_cnt;
    int32_t focus; /* index of the focused object, -1: none */
    struct _lv_group_t *next;
} lv_group_t;

lv_group_t *lv_group_create(void);
void lv_group_del(lv_group_t *group);
/* Adds the object (once); the first object of a group gets the focus. */
void lv_group_add_obj(lv_group_t *group, lv_obj_t *obj);
/* Takes the object out of its group; a focused object loses the focus to the next one. */
void lv_group_remove_obj(lv_obj_t *obj);
void lv_group_focus_obj(lv_obj_t *obj);
void lv_group_focus_next(lv_group_t *group);
void lv_group_focus_prev(lv_group_t *group);
/* Sends a key to the focused object (CONTROL signal, then KEY event). */
lv_res_t lv_group_send_data(lv_group_t *group, uint32_t c);
lv_obj_t *lv_group_get_focused(const lv_group_t *group);

/* The object is being deleted: drop it without signalling it. */
void _lv_group_obj_deleted(lv_obj_t *obj);
void _lv_group_core_deinit(void);

#endif

/* Bars: an indicator filling the background in proportion to the value (range 0-100);
 * value changes may be animated over the bar's animation time. */
#ifndef LV_BAR_H
#define LV_BAR_H

#include "lv_anim.h"
#include "lv_obj.h"

enum {
    LV_BAR_PART_BG = LV_OBJ_PART_MAIN,
    LV_BAR_PART_INDIC,
};

typedef struct {
    int16_t cur_value; /* the value set */
    int16_t min_value;
    int16_t max_value;
    int16_t shown; /* the value drawn (behind cur_value while animating) */
    uint16_t anim_time;
    lv_style_list_t style_indic;
} lv_bar_ext_t;

lv_obj_t *lv_bar_create(lv_obj_t *par, const lv_obj_t *copy);
void lv_bar_set_value(lv_obj_t *bar, int16_t value, lv_anim_enable_t anim);
void lv_bar_set_anim_time(lv_obj_t *bar, uint16_t anim_time);
int16_t lv_bar_get_value(const lv_obj_t *bar);

#endif

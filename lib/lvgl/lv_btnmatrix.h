/*
 * Button matrices: a row (or rows, split by "\n" entries) of equally wide buttons drawn
 * from a map of texts ending with "". Releasing the pointer on a button reports its
 * index with VALUE_CHANGED (data: a uint32_t).
 */
#ifndef LV_BTNMATRIX_H
#define LV_BTNMATRIX_H

#include "lv_obj.h"
#include "lv_theme.h"

#define LV_BTNMATRIX_BTN_NONE 0xFFFF

enum {
    LV_BTNMATRIX_PART_BG,
    LV_BTNMATRIX_PART_BTN,
};

typedef struct {
    const char **map_p;
    lv_area_t *button_areas; /* relative to the matrix */
    uint16_t btn_cnt;
    uint16_t btn_id_pr;  /* pressed button */
    uint16_t btn_id_act; /* last released button */
    lv_style_list_t style_btn;
} lv_btnmatrix_ext_t;

lv_obj_t *lv_btnmatrix_create(lv_obj_t *par, const lv_obj_t *copy);
/* The map is kept, not copied. */
void lv_btnmatrix_set_map(lv_obj_t *btnm, const char *map[]);
const char **lv_btnmatrix_get_map_array(const lv_obj_t *btnm);
uint16_t lv_btnmatrix_get_active_btn(const lv_obj_t *btnm);

/* For widgets made of a button matrix: a matrix with another theme. */
lv_obj_t *_lv_btnmatrix_create_themed(lv_obj_t *par, lv_theme_style_t theme);

#endif

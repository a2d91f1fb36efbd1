/* Invalidated areas and the refresh that redraws them. */
#ifndef LV_REFR_H
#define LV_REFR_H

#include "lv_hal_disp.h"

/* Remembers an area of the display to redraw; NULL forgets every area. */
void _lv_inv_area(lv_disp_t *disp, const lv_area_t *area);
/* The display's refresh task. */
void _lv_disp_refr_task(lv_task_t *task);
/* Redraws the display's invalidated areas now. */
void lv_refr_now(lv_disp_t *disp);

#endif

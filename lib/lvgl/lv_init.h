/* Start and shutdown of the toolkit. */
#ifndef LV_INIT_H
#define LV_INIT_H

#include "lv_types.h"

/* Sets up the task scheduler and animations; call once before anything else. */
void lv_init(void);
/* Deletes every display, screen, input device, group, task and animation and frees the
 * theme: the toolkit is as before lv_init. */
void lv_deinit(void);

#endif

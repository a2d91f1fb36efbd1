/* Milliseconds since start, from the port's tick hook. */
#ifndef LV_TICK_H
#define LV_TICK_H

#include "lv_types.h"

uint32_t lv_tick_get(void);

/* Milliseconds elapsed since `prev_tick`; correct across the 32-bit wrap. */
uint32_t lv_tick_elaps(uint32_t prev_tick);

#endif

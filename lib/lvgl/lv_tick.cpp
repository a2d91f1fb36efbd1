#include "lv_tick.h"

uint32_t lv_tick_get(void) { return LV_TICK_CUSTOM_SYS_TIME_EXPR; }

uint32_t lv_tick_elaps(uint32_t prev_tick) { return lv_tick_get() - prev_tick; }

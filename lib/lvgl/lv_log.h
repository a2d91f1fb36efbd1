/*
 * Log levels. The build keeps warnings and errors (LV_LOG_LEVEL in lv_conf.h) and
 * registers no print callback, so records are dropped where they are made.
 */
#ifndef LV_LOG_H
#define LV_LOG_H

#include "lv_types.h"

#define LV_LOG_LEVEL_TRACE 0
#define LV_LOG_LEVEL_INFO 1
#define LV_LOG_LEVEL_WARN 2
#define LV_LOG_LEVEL_ERROR 3
#define LV_LOG_LEVEL_USER 4
#define LV_LOG_LEVEL_NONE 5

#define LV_LOG_WARN(...) ((void)0)
#define LV_LOG_ERROR(...) ((void)0)

#endif

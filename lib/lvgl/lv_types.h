/* Basic types shared by every part of the toolkit. */
#ifndef LV_TYPES_H
#define LV_TYPES_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lv_conf.h"

#define LVGL_VERSION_MAJOR 7
#define LVGL_VERSION_MINOR 11
#define LVGL_VERSION_PATCH 0
#define LV_VERSION_CHECK(x, y, z) \
    ((x) == LVGL_VERSION_MAJOR && \
        ((y) < LVGL_VERSION_MINOR || ((y) == LVGL_VERSION_MINOR && (z) <= LVGL_VERSION_PATCH)))

#define LV_ATTRIBUTE_LARGE_CONST
#define LV_ATTRIBUTE_TASK_HANDLER
#define LV_ATTRIBUTE_FLUSH_READY
#define LV_UNUSED(x) ((void)(x))

/* Result of functions that may delete the object they were called on. */
enum {
    LV_RES_INV = 0, /* the object was deleted */
    LV_RES_OK,      /* the object is still valid */
};
typedef uint8_t lv_res_t;

typedef int16_t lv_coord_t;
#define LV_COORD_MAX ((lv_coord_t)0x7FFF)
#define LV_COORD_MIN ((lv_coord_t)-0x7FFF)

/* Opacity: 0 transparent .. 255 covering */
enum {
    LV_OPA_TRANSP = 0,
    LV_OPA_0 = 0,
    LV_OPA_10 = 25,
    LV_OPA_20 = 51,
    LV_OPA_30 = 76,
    LV_OPA_40 = 102,
    LV_OPA_50 = 127,
    LV_OPA_60 = 153,
    LV_OPA_70 = 178,
    LV_OPA_80 = 204,
    LV_OPA_90 = 229,
    LV_OPA_100 = 255,
    LV_OPA_COVER = 255,
};
typedef uint8_t lv_opa_t;
#define LV_OPA_MIN 2   /* below this nothing is drawn */
#define LV_OPA_MAX 253 /* above this the colour is written as it is */

#define LV_MATH_MIN(a, b) ((a) < (b) ? (a) : (b))
#define LV_MATH_MAX(a, b) ((a) > (b) ? (a) : (b))
#define LV_MATH_ABS(x) ((x) > 0 ? (x) : (-(x)))

/* Size of one step of the display's density scale: n "design pixels" at 160 DPI. */
#define LV_DPX(n) ((n) == 0 ? 0 : LV_MATH_MAX(((LV_DPI * (n) + 80) / 160), 1))

typedef void *lv_obj_user_data_t;

#endif

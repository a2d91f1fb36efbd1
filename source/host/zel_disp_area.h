/* An area of the display, as the display driver and its window back ends
 * both see it. */
#ifndef ZEL_DISP_AREA_H
#define ZEL_DISP_AREA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An area of the display; pixels of an area come row after row, `w` pixels
 * per row. */
typedef struct zel_disp_area {
    uint16_t x;
    uint16_t y;
    uint16_t w;
    uint16_t h;
} zel_disp_area_t;

#ifdef __cplusplus
}
#endif

#endif

/* The system's display.
 *
 * A display is a record served by a driver table. The layer that drives it
 * (the GUI) hands whole areas of pixels to zel_disp_refresh and waits for the
 * display's ready callback before it reuses its pixel buffer. The callback is
 * also called once the display has finished initialising. It runs in
 * emulated interrupt context (see zel_host.h): it may only copy, signal and
 * post.
 */
#ifndef ZEL_DISP_H
#define ZEL_DISP_H

#include <stdint.h>

#include "zel_disp_area.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Colour formats; bytes per pixel = ((format >> 13) & 3) + 1. */
enum {
    ZEL_DISP_FMT_RGB332 = 0x0701,   /* 8-bit */
    ZEL_DISP_FMT_RGB565 = 0x2F02,   /* 16-bit */
    ZEL_DISP_FMT_XRGB8888 = 0x7F07, /* 32-bit, copied as it is */
    ZEL_DISP_FMT_ARGB8888 = 0xFF04  /* 32-bit, copied as it is */
};

static inline uint32_t zel_disp_bytes_per_pixel(uint32_t format) { return ((format >> 13) & 3) + 1; }

typedef struct zel_disp zel_disp_t;
typedef void (*zel_disp_ready_t)(zel_disp_t *disp);

typedef struct zel_disp_op {
    int (*init)(zel_disp_t *disp);
    int (*refresh)(zel_disp_t *disp, const zel_disp_area_t *area, const void *pixels);
} zel_disp_op_t;

struct zel_disp {
    const zel_disp_op_t *op;
    uint16_t width;
    uint16_t height;
    uint32_t format;        /* ZEL_DISP_FMT_* */
    void *ui_data;          /* free for the layer that drives the display */
    zel_disp_ready_t ready; /* may be null */
};

/* The system's display: 900 x 560, RGB565, served by the window driver
 * "disp_windgi". */
zel_disp_t *zel_disp_get(void);

/* Starts the display: the driver's init when it has one, else the ready
 * callback at once. Returns the driver's answer (0 when started). */
[[nodiscard]] int zel_disp_init(zel_disp_t *disp);

/* Shows `pixels` (in the display's format) in `area`; a null area is the
 * whole display. Returns the driver's answer; the refresh is complete when
 * the ready callback runs. */
[[nodiscard]] int zel_disp_refresh(zel_disp_t *disp, const zel_disp_area_t *area, const void *pixels);

#ifdef __cplusplus
}
#endif

#endif

/* 16-bit RGB565 colours, no byte swap. */
#ifndef LV_COLOR_H
#define LV_COLOR_H

#include "lv_types.h"

typedef union {
    struct {
        uint16_t blue : 5;
        uint16_t green : 6;
        uint16_t red : 5;
    } ch;
    uint16_t full;
} lv_color16_t;
typedef lv_color16_t lv_color_t;
typedef uint16_t lv_color_int_t;

#define LV_COLOR_SIZE 16

/* Channel access in the colour's own depth: red and blue 0..31, green 0..63. */
#define LV_COLOR_GET_R(c) ((uint8_t)(((c).full >> 11) & 0x1F))
#define LV_COLOR_GET_G(c) ((uint8_t)(((c).full >> 5) & 0x3F))
#define LV_COLOR_GET_B(c) ((uint8_t)((c).full & 0x1F))

#define LV_COLOR_MAKE(r8, g8, b8) \
    (lv_color_t{{(uint16_t)(((b8) >> 3) & 0x1FU), (uint16_t)(((g8) >> 2) & 0x3FU), (uint16_t)(((r8) >> 3) & 0x1FU)}})

#define LV_COLOR_WHITE LV_COLOR_MAKE(0xFF, 0xFF, 0xFF)
#define LV_COLOR_SILVER LV_COLOR_MAKE(0xC0, 0xC0, 0xC0)
#define LV_COLOR_GRAY LV_COLOR_MAKE(0x80, 0x80, 0x80)
#define LV_COLOR_BLACK LV_COLOR_MAKE(0x00, 0x00, 0x00)
#define LV_COLOR_RED LV_COLOR_MAKE(0xFF, 0x00, 0x00)
#define LV_COLOR_GREEN LV_COLOR_MAKE(0x00, 0x80, 0x00)
#define LV_COLOR_BLUE LV_COLOR_MAKE(0x00, 0x00, 0xFF)

static inline lv_color_t lv_color_make(uint8_t r, uint8_t g, uint8_t b) {
    lv_color_t c;
    c.full = (uint16_t)(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    return c;
}

static inline lv_color_t lv_color_hex(uint32_t c) {
    return lv_color_make((uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c);
}

/* 0xRGB shorthand: each digit is repeated (0xccc is 0xcccccc). */
static inline lv_color_t lv_color_hex3(uint32_t c) {
    return lv_color_make(
        (uint8_t)(((c >> 8) & 0xF) * 0x11), (uint8_t)(((c >> 4) & 0xF) * 0x11), (uint8_t)((c & 0xF) * 0x11));
}

/* `mix` of c1 over (255 - mix) of c2, per channel, rounded. */
lv_color_t lv_color_mix(lv_color_t c1, lv_color_t c2, uint8_t mix);

static inline lv_color_t lv_color_darken(lv_color_t c, lv_opa_t level) {
    return lv_color_mix(LV_COLOR_BLACK, c, level);
}

static inline lv_color_t lv_color_lighten(lv_color_t c, lv_opa_t level) {
    return lv_color_mix(LV_COLOR_WHITE, c, level);
}

#endif

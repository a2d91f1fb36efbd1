#include "lv_color.h"

static inline uint16_t mix_channel(uint32_t a, uint32_t b, uint32_t mix) {
    return (uint16_t)((a * mix + b * (255U - mix) + 127U) / 255U);
}

lv_color_t lv_color_mix(lv_color_t c1, lv_color_t c2, uint8_t mix) {
    lv_color_t r;
    r.full = (uint16_t)((mix_channel(LV_COLOR_GET_R(c1), LV_COLOR_GET_R(c2), mix) << 11) |
                        (mix_channel(LV_COLOR_GET_G(c1), LV_COLOR_GET_G(c2), mix) << 5) |
                        mix_channel(LV_COLOR_GET_B(c1), LV_COLOR_GET_B(c2), mix));
    return r;
}

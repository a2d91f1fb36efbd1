/* The SDL window of the display driver, seen from outside it: the key
 * translation it applies, and hooks that let tests act as SDL's input and
 * look at the window's pixels (SDL_VIDEODRIVER=dummy needs no desktop).
 */
#ifndef ZEL_DISP_SDL_H
#define ZEL_DISP_SDL_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The virtual key (ZEL_VK_*) of an SDL scancode (a USB HID usage); the
 * keypad's digits and point are navigation keys while Num Lock is off.
 * 0: the key is not passed on. */
uint8_t zel_disp_sdl_vk_of(uint16_t scancode, bool num_lock);

/* Put events into SDL's queue as the window system would; false when SDL
 * refused them (no window). `locks` is ZEL_DISP_LOCK_*. */
bool zel_disp_sdl_push_key(uint16_t scancode, bool down, uint8_t locks);
bool zel_disp_sdl_push_button(int32_t x, int32_t y, bool down);
bool zel_disp_sdl_push_close(void);

/* What the window's surface holds at (x, y), 0x00RRGGBB; 0 before the first
 * paint or outside. */
uint32_t zel_disp_sdl_pixel(uint16_t x, uint16_t y);

#ifdef __cplusplus
}
#endif

#endif

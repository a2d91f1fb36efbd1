/* The in-memory window (ZEL_DISPLAY=memory): the display without a desktop.
 *
 * It paints into memory on the window thread, as the desktop window would,
 * and lets tests play the user: keys, the left button, minimise, restore,
 * uncover and close. Each hook waits until the window thread has handled
 * what it sent (at most five seconds; false when it was not handled).
 * Call them from a host thread outside the framework: the window thread
 * needs the interrupt lock to report what it handled.
 */
#ifndef ZEL_DISP_MEMORY_H
#define ZEL_DISP_MEMORY_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_disp_window.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Lock states (ZEL_DISP_LOCK_*) that later key messages carry. */
void zel_disp_memory_set_locks(uint8_t locks);
/* A key message for a virtual key (ZEL_VK_*, '0'-'9', 'A'-'Z'); a second
 * down without an up is what auto-repeat sends. */
bool zel_disp_memory_key(uint8_t vk, bool down);
/* Whether the window reports typed text, as the desktop window does (off
 * at start: characters then come from the keys). */
void zel_disp_memory_set_typing(bool on);
/* Typed text (UTF-8), one text message per character; false on a broken
 * sequence. */
bool zel_disp_memory_text(const char *utf8);
/* The left button at client coordinates (outside the window while held). */
bool zel_disp_memory_button(int32_t x, int32_t y, bool down);
bool zel_disp_memory_mouse_move(int32_t x, int32_t y);
bool zel_disp_memory_minimise(void);
bool zel_disp_memory_restore(void);
bool zel_disp_memory_uncover(void); /* the window system asks for a full paint */
bool zel_disp_memory_close(void);

/* What the window shows at (x, y), 0x00RRGGBB; 0 outside. */
uint32_t zel_disp_memory_pixel(uint16_t x, uint16_t y);
/* Rectangles shown so far, and whether the mouse is captured. */
uint32_t zel_disp_memory_presents(void);
bool zel_disp_memory_captured(void);

#ifdef __cplusplus
}
#endif

#endif

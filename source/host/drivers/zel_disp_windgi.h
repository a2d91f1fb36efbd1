/* The display driver "disp_windgi": the system's display in a desktop window
 * of 900 x 560 titled "Trellow v1.4", served by the host thread
 * "disp_windgi". Closing the window ends the process with code 0 through the
 * host port's exit hook (zel_host_set_exit_hook), unless the program's close
 * query holds the close (zel_disp_windgi_set_close_query): the window then
 * stays and the process ends when the program calls zel_disp_windgi_close. When no window can be
 * shown (no desktop: SDL is never left to fall back to a driver that draws
 * nowhere unless SDL_VIDEODRIVER asks for one), the window thread writes one line saying why on the standard
 * error stream and ends the process with code 1 the same way; the in-memory
 * window (ZEL_DISPLAY=memory) is the way to run without a desktop.
 *
 * Keys: every key message is one keyboard report, in order; a press of a
 * key that is already down (a repeat, or a release the window system
 * folded into the next press) is reported as its release, then the press.
 * A window that reports typed text (the desktop window does) reports each
 * typed character as a text report (ZEL_INPUT_KEY_TEXT), and marks the
 * reports of the keys whose characters come that way ZEL_INPUT_KEY_TYPED:
 * the window system knows the character a key types (its layout, Shift
 * and Caps Lock as they were when it was typed) better than the keys'
 * order, which it may deliver Shift out of when keys come fast.
 */
#ifndef ZEL_DISP_WINDGI_H
#define ZEL_DISP_WINDGI_H

#include "zel_disp.h"
#include "zel_host.h"

#ifdef __cplusplus
extern "C" {
#endif

extern const zel_disp_op_t zel_disp_windgi_op; /* {init, refresh} */

/* First call: starts the window thread and answers 0 at once (the window
 * reports ready with its first paint); ZEL_HOST_ERR_NO_MEMORY (-6) when the
 * framebuffer cannot be had, ZEL_HOST_ERR_STATE (-7) when the thread cannot
 * be started (a later call tries again).
 * Later calls report ready at once. */
[[nodiscard]] int zel_disp_windgi_init(zel_disp_t *disp);

/* Converts the area, clipped to the display, into the framebuffer and asks
 * the window to paint it. Ready follows from the window thread once it has
 * painted, whether or not the window is visible; one report completes every
 * refresh made since the previous one. ZEL_HOST_ERR_STATE (-7) before init. */

[[nodiscard]] int zel_disp_windgi_refresh(zel_disp_t *disp, const zel_disp_area_t *area, const void *pixels);

void zel_disp_windgi_thread(zel_host_thread_t *record);

/* Asked inside an emulated interrupt on the window thread when the user
 * closes the window: true lets the process end at once; false holds the
 * close (the window stays and keeps serving input and paints) until the
 * program calls zel_disp_windgi_close. Null, the default: every close ends
 * the process at once. */
typedef bool (*zel_disp_close_query_t)(void);
void zel_disp_windgi_set_close_query(zel_disp_close_query_t query);
/* Any thread: the window thread closes the window and ends the process with
 * code 0, as a close of the user's that nothing holds. Nothing before the
 * window is shown. */
void zel_disp_windgi_close(void);

/* The driver's message handler, on the window thread (the messages are the
 * window back ends', zel_disp_window.h). */
struct zel_disp_msg;
void zel_disp_windgi_wndproc(const struct zel_disp_msg *msg);

#ifdef __cplusplus
}
#endif

#endif

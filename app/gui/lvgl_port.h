/* The GUI process and its LVGL port: the `lvgl` command, the GUI thread, the
 * display port over the framework display and the input callbacks over the
 * input notifier.
 *
 * Threads: lvgl_main runs on the command's process thread; it sets LVGL up,
 * builds the first screen (app_ui_init) and, once the display has reported
 * ready, runs lvgl_thread as a pthread that drives lv_task_handler for the
 * life of the process. Every LVGL call of the application happens on that
 * thread (screens, tasks, event callbacks), or on a worker that runs while
 * the GUI thread is blocked (framework threads run one at a time).
 *
 * Display port, the flush token: the LVGL driver's user_data word is
 *   before the first ready report   the application's ready callback,
 *   ready                            the framework display,
 *   flush pending                    null,
 *   a thread waits for the flush     all ones (LVGL_DISP_WAITING),
 * and changes under the kernel's protect, so a completion between the test
 * and the wait is never lost.
 *
 * Input: lvgl_input_on_evt runs inside the window's emulated interrupt and
 * only queues the event and wakes the GUI thread, which then runs ten quick
 * passes 10 ms apart; otherwise it runs at least once per second. The read
 * callbacks take one queued event per read and report "more data" while
 * others wait, so LVGL sees every press and release in order.
 *
 * A screen replaced under the pointer: pointer reports queued before the
 * new screen was on the display (built with ui_screen_create, then drawn
 * by a refresh pass, lvgl_screen_refresh_task) were aimed at the screen
 * before it; they are dropped and the pointer counts as released, so a
 * press always begins on an object of the screen that is shown. A press
 * that came within LVGL_DOUBLE_CLICK_MS (400 ms) of a new screen being
 * shown does nothing on it either, up to its release: the second click of
 * a double click, however fast a person clicks, does not act on what the
 * first one opened.
 *
 * This header is plain C and usable from code built against the layer's own
 * C library headers. */
#ifndef LVGL_PORT_H
#define LVGL_PORT_H

#include <stdbool.h>
#include <stdint.h>

#include "lvgl.h"
#include "zel_disp.h"
#include "zel_input_notifier.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- the GUI process ---- */
/* lvgl [GAMEPAD_NUM<1..4>]: 0 when the GUI thread ends (never), -1 on a bad
 * argument ("format: %s [GAMEPAD_NUM<1..4>]", "invalid gamepad_num %d"),
 * without a framework display, or when the GUI runs already. A display that
 * has not reported ready 30 s after the first screen was built (a window
 * system that never answers the window) ends the program through
 * zel_host_fail_start: "the window did not come up: the window system did
 * not answer within 30 s". */
int lvgl_main(int argc, char **argv);
void *lvgl_thread(void *arg);
/* The application's display-ready callback: wakes lvgl_main. */
void lvgl_disp_on_ready(lv_disp_drv_t *drv);
/* Wakes the GUI thread for its quick passes, as input does (nothing before
 * it runs): for work done on other framework threads that changes what the
 * screen shows. Call it from a framework thread. */
void lvgl_gui_wake(void);
/* The same from inside an emulated interrupt (input, the window's close). */
void lvgl_gui_wake_from_interrupt(void);
/* The keypad's focus group; text areas join it when they get the focus. */
lv_group_t *lvgl_focus_group(void);

/* ---- display port ---- */
#define LVGL_DISP_WAITING ((void *)~(uintptr_t)0)
typedef void (*lvgl_disp_ready_cb_t)(lv_disp_drv_t *drv);

/* Binds a registered LVGL display to a framework display: the answer of
 * zel_disp_init. `ready_cb` (may be null) runs at the display's first ready
 * report. */
int zel_lvgl_disp_bind(zel_disp_t *zel_disp, lv_disp_t *lv_disp, lvgl_disp_ready_cb_t ready_cb);
void zel_lvgl_disp_flush(lv_disp_drv_t *drv, const lv_area_t *area, lv_color_t *pixels);
void zel_lvgl_disp_wait(lv_disp_drv_t *drv);
void zel_lvgl_disp_on_inited(zel_disp_t *zel_disp);
void zel_lvgl_disp_on_refreshed(zel_disp_t *zel_disp);

/* ---- input ---- */
void lvgl_input_on_evt(zel_input_notifier_t *notifier, uint32_t type, const zel_input_evt_t *evt);
/* What lvgl_input_on_evt does with an event that came at `ms` (system
 * timer): queues it with that time, and wakes the GUI thread. */
void lvgl_input_take(uint32_t type, const zel_input_evt_t *evt, uint64_t ms);
/* Whether a press that comes at `ms` acts on what is shown: the newest
 * screen is drawn and the double-click time since has passed. */
bool lvgl_input_press_acts_at(uint64_t ms);
bool lvgl_pointer_read(lv_indev_drv_t *drv, lv_indev_data_t *data);
bool lvgl_keypad_read(lv_indev_drv_t *drv, lv_indev_data_t *data);
/* A screen is being built (GUI thread). */
void lvgl_input_screen_built(void);
/* The display's refresh task: LVGL's own, then what was built before it
 * counts as shown. lvgl_main puts it in place of LVGL's. */
void lvgl_screen_refresh_task(lv_task_t *task);
/* The LVGL key of a HID usage (plus 0x200 when shifted); 0: no key. */
uint32_t lvgl_key_of_usage(uint16_t usage);

#ifdef __cplusplus
}
#endif

#endif

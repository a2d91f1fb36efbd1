/* The window's close while work runs that must not be cut short (a copy
 * onto the adapter, whose file would be left half old and half new).
 *
 * window_close_guard(busy) makes the window ask before a close of the
 * user's ends the program. Its states:
 *   OPEN     closes end the program at once while busy() answers false;
 *   HELD     a close came while busy() answered true: the program runs on,
 *            the notice "正在复制，复制完成之后自动关窗口" shows over
 *            whatever screen is shown (built again over a newer one)
 *            from the GUI thread's next pass;
 *   ENDING   the work called window_close_work_ended(true): the window
 *            closes and the program ends with code 0.
 * Work that failed (window_close_work_ended(false)) does not end the
 * program: the held close is dropped (back to OPEN) and the notice gives
 * way to what the work's screen shows of the failure; the next close ends
 * the program.
 * The work calls window_close_work_ended whenever it has ended (its last
 * write done, its result shown); it does nothing unless a close is held.
 * Any framework thread. */
#ifndef WINDOW_CLOSE_H
#define WINDOW_CLOSE_H

#include <stdbool.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum window_close_state { WINDOW_CLOSE_OPEN, WINDOW_CLOSE_HELD, WINDOW_CLOSE_ENDING } window_close_state_t;

/* GUI thread, once LVGL runs; `busy` is asked inside an emulated interrupt. */
void window_close_guard(bool (*busy)(void));
void window_close_work_ended(bool ok);
window_close_state_t window_close_state(void);
/* The notice label while one shows, else null. */
lv_obj_t *window_close_notice(void);

/* The window's question (see zel_disp_windgi_set_close_query). */
bool window_close_query(void);
void window_close_notice_task(lv_task_t *task);

#ifdef __cplusplus
}
#endif

#endif

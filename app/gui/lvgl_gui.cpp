// The `lvgl` command: LVGL on the framework display and input notifier, the
// first screen, and the GUI thread that drives LVGL's tasks. Also the
// toolkit's port hooks: its tick is the system timer in milliseconds and its
// memory the framework heap.
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

#include "lvgl_gui.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "zel_host.h"
#include "zel_timer.h"
#if ZEL_HOST_TEST_HOOKS
#include "zel_host_test_hooks.h"
#endif

namespace {

lv_color_t g_draw_pixels[LVGL_DRAW_BUF_PIXELS];
lv_disp_buf_t g_draw_buf;

constexpr uint32_t kIdlePassMs = 1000;
constexpr uint32_t kFastPassMs = 10;
// How long the window system may take to show the window's first paint,
// counted from when the first screen is built: far longer than a slow one
// that works ever needs. A window thread waiting for a reply it never gets
// would otherwise hold the program without a window for good.
constexpr uint32_t kWindowAnswerMs = 30000;

uint32_t window_answer_ms() {
#if ZEL_HOST_TEST_HOOKS
    if (const uint32_t held = zel_host_test_first_paint_held_ms()) return held;
#endif
    return kWindowAnswerMs;
}

// Waits until the display has reported ready, for at most `ms`; false when
// it has not.
bool wait_for_display(uint32_t ms) {
    const uint64_t deadline = zel_timer_get_tick() + zel_timer_ms_to_tick(ms);
    // The report may have come while this thread waited in a sub-call (its
    // wake then went to the callee): the flag tells.
    while (!lvgl_gui.disp_ready) {
        const uint64_t now = zel_timer_get_tick();
        if (now >= deadline) return false;
        (void)zel_thread_delay(deadline - now);  // the report's wake ends it early
    }
    return true;
}

// A window that never came up ends the program: the window thread is left
// where it waits, as nothing on the way out waits for it.
[[noreturn]] void fail_window(uint32_t ms) {
    char what[128];
    if (ms % 1000 == 0)
        snprintf(what, sizeof what, "the window did not come up: the window system did not answer within %u s",
            (unsigned)(ms / 1000));
    else
        snprintf(what, sizeof what, "the window did not come up: the window system did not answer within %u ms",
            (unsigned)ms);
    zel_host_fail_start(what);
}

lv_indev_t *register_input(lv_disp_t *disp, lv_indev_type_t type, bool (*read)(lv_indev_drv_t *, lv_indev_data_t *)) {
    lv_indev_drv_t drv;
    lv_indev_drv_init(&drv);
    drv.type = type;
    drv.read_cb = read;
    drv.disp = disp;
    return lv_indev_drv_register(&drv);
}

}  // namespace

uint32_t lv_port_tick_get(void) { return (uint32_t)zel_timer_get_ms(); }
void *lv_port_alloc(size_t size) { return zel_heap_malloc(size); }
void *lv_port_realloc(void *ptr, size_t size) { return zel_heap_realloc(ptr, size); }
void lv_port_free(void *ptr) { zel_heap_free(ptr); }

extern "C" {

lv_group_t *lvgl_focus_group(void) { return lvgl_gui.group; }

void lvgl_disp_on_ready(lv_disp_drv_t *) {
    lvgl_gui.disp_ready = 1;
    if (lvgl_gui.main_agent)
        (void)zel_eda_wake(lvgl_gui.main_agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
}

int lvgl_main(int argc, char **argv) {
    if (argc >= 3) {
        printf("format: %s [GAMEPAD_NUM<1..4>]", argv[0]);
        return -1;
    }
    uint8_t gamepad_num = 1;
    if (argc == 2) {
        gamepad_num = (uint8_t)strtoul(argv[1], nullptr, 0);
        if (gamepad_num < 1 || gamepad_num > 4) {
            printf("invalid gamepad_num %d", gamepad_num);
            return -1;
        }
    }
    // One GUI per program: a second start would set LVGL up again under the
    // running GUI thread.
    if (lvgl_gui.main_agent) return -1;
    zel_disp_t *disp = zel_disp_get();
    if (!disp) return -1;
    if (disp->format != ZEL_DISP_FMT_RGB565) disp->format = ZEL_DISP_FMT_RGB565;

    lv_init();
    lv_disp_buf_init(&g_draw_buf, g_draw_pixels, nullptr, LVGL_DRAW_BUF_PIXELS);
    lv_disp_drv_t drv;
    lv_disp_drv_init(&drv);
    drv.hor_res = (lv_coord_t)(disp->width < LV_HOR_RES_MAX ? disp->width : LV_HOR_RES_MAX);
    drv.ver_res = (lv_coord_t)(disp->height < LV_VER_RES_MAX ? disp->height : LV_VER_RES_MAX);
    drv.buffer = &g_draw_buf;
    // Without memory for the toolkit's display, or for the window (its
    // frame, its host thread), there is no GUI: the command fails.
    lv_disp_t *lv_disp = lv_disp_drv_register(&drv);
    if (!lv_disp) return -1;
    if (lv_disp->refr_task) lv_disp->refr_task->task_cb = lvgl_screen_refresh_task;

    lvgl_gui.main_agent = zel_eda_get_cur();
    if (zel_lvgl_disp_bind(disp, lv_disp, lvgl_disp_on_ready) != 0) return -1;

    if (!register_input(lv_disp, LV_INDEV_TYPE_POINTER, lvgl_pointer_read)) return -1;
    lv_indev_t *keypad = register_input(lv_disp, LV_INDEV_TYPE_KEYPAD, lvgl_keypad_read);
    lvgl_gui.group = lv_group_create();
    if (!keypad || !lvgl_gui.group) return -1;
    lv_indev_set_group(keypad, lvgl_gui.group);
    lv_freetype_init(4);

    app_ui_init(gamepad_num);

    lvgl_gui.running = 1;
    if (const uint32_t ms = window_answer_ms(); !wait_for_display(ms)) fail_window(ms);
    pthread_t tid;
    if (pthread_create(&tid, nullptr, lvgl_thread, nullptr) != 0) return -1;
    pthread_join(tid, nullptr);
    return 0;
}

void *lvgl_thread(void *) {
    lvgl_gui.fast_passes = LVGL_FAST_PASSES;
    // The semaphore is ready before input may signal it.
    (void)zel_eda_sync_init(&lvgl_gui.wake, 0, 32767);  // cannot fail
    lvgl_gui.gui_agent = zel_eda_get_cur();
    lvgl_gui.notifier.mask = (1u << ZEL_INPUT_TYPE_TOUCH) | (1u << ZEL_INPUT_TYPE_KEYBOARD);
    lvgl_gui.notifier.handler = lvgl_input_on_evt;
    zel_input_notifier_register(&lvgl_gui.notifier);
    if (lvgl_gui.running != 1) return nullptr;
    do {
        lv_task_handler();
        if (lvgl_gui.fast_passes != 0) {
            lvgl_gui.fast_passes = lvgl_gui.fast_passes - 1;
            zel_thread_delay(zel_timer_ms_to_tick(kFastPassMs));
        } else {
            (void)zel_thread_sync_decrease(&lvgl_gui.wake,
                (int64_t)zel_timer_ms_to_tick(kIdlePassMs));  // woken or timed out: a pass follows either way
        }
    } while (lvgl_gui.running != 0);
    return nullptr;
}

}  // extern "C"

// The window's close held while work runs (see window_close.h).
#include "window_close.h"

#include "i18n.h"
#include "lvgl_port.h"
#include "ui_styles.h"
#include "zel_disp_windgi.h"

namespace {

constexpr uint32_t kNoticeTaskMs = 50;

bool (*g_busy)(void);
volatile window_close_state_t g_state = WINDOW_CLOSE_OPEN;
lv_obj_t *g_notice;

}  // namespace

extern "C" {

void window_close_guard(bool (*busy)(void)) {
    g_busy = busy;
    (void)lv_task_create(window_close_notice_task, kNoticeTaskMs, LV_TASK_PRIO_MID, nullptr);
    zel_disp_windgi_set_close_query(window_close_query);
}

bool window_close_query(void) {
    if (g_state == WINDOW_CLOSE_ENDING) return true;
    if (!g_busy || !g_busy()) return true;
    g_state = WINDOW_CLOSE_HELD;
    lvgl_gui_wake_from_interrupt();
    return false;
}

void window_close_work_ended(bool ok) {
    // Framework threads and the window's question take turns: a close that
    // came before this finds HELD here, one after it finds the work idle.
    if (g_state != WINDOW_CLOSE_HELD) return;
    if (!ok) {
        // The user must learn of the failure before the window goes.
        g_state = WINDOW_CLOSE_OPEN;
        lvgl_gui_wake();
        return;
    }
    g_state = WINDOW_CLOSE_ENDING;
    zel_disp_windgi_close();
}

window_close_state_t window_close_state(void) { return g_state; }

lv_obj_t *window_close_notice(void) { return g_notice; }

void window_close_notice_task(lv_task_t *) {
    if (g_state != WINDOW_CLOSE_HELD) {
        // A failed copy: the notice gives way to its result.
        if (g_state == WINDOW_CLOSE_OPEN && g_notice) {
            lv_obj_del(g_notice);
            g_notice = nullptr;
        }
        return;
    }
    // The newest object is drawn over the others: a screen or box built
    // after the notice would hide it, so it is built again over them.
    if (g_notice && lv_obj_get_child(lv_scr_act(), nullptr) == g_notice) return;
    if (g_notice) lv_obj_del(g_notice);
    g_notice = lv_label_create(lv_scr_act(), nullptr);
    lv_obj_add_style(g_notice, LV_LABEL_PART_MAIN, &style_text);
    lv_obj_set_style_local_text_color(g_notice, LV_LABEL_PART_MAIN, LV_STATE_DEFAULT, LV_COLOR_MAKE(0xFF, 0, 0));
    lv_label_set_text(g_notice, i18n_get_text("正在复制，复制完成之后自动关窗口"));
    lv_obj_align(g_notice, nullptr, LV_ALIGN_IN_BOTTOM_MID, 0, -8);
}

}  // extern "C"

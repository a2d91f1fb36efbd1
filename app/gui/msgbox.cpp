// The message box and its close task.
#include "msgbox.h"

#include "i18n.h"
#include "ui_build.h"
#include "ui_styles.h"

namespace {

lv_task_t *g_close_task;  // null while no box is open
msgbox_close_cb_t g_close_cb;
const char *g_btn_map[] = {"", ""};

// Deletes the box with its backdrop (which would otherwise cover the
// screen and take its clicks) and runs the close callback.
void close_now(lv_obj_t *box) {
    msgbox_close_cb_t cb = g_close_cb;
    g_close_cb = nullptr;
    g_close_task = nullptr;
    lv_obj_del(lv_obj_get_parent(box));
    if (cb) cb();
}

}  // namespace

extern "C" {

void msgbox_show(const char *text, msgbox_close_cb_t close_cb) {
    if (g_close_task) {
        lv_task_t *old = g_close_task;
        close_now(static_cast<lv_obj_t *>(old->user_data));
        lv_task_del(old);
    }
    g_btn_map[0] = i18n_get_text("确认");
    lv_obj_t *backdrop = lv_obj_create(lv_scr_act(), nullptr);
    lv_obj_set_size(backdrop, UI_SCREEN_W, UI_SCREEN_H);
    lv_obj_add_style(backdrop, LV_OBJ_PART_MAIN, &style_backdrop);

    lv_obj_t *box = lv_msgbox_create(backdrop, nullptr);
    lv_msgbox_set_text(box, text);
    lv_msgbox_add_btns(box, g_btn_map);
    lv_obj_add_style(box, LV_MSGBOX_PART_BG, &style_msgbox);
    lv_obj_set_width(box, MSGBOX_WIDTH);
    lv_obj_set_event_cb(box, msgbox_event_cb);
    lv_obj_align(box, nullptr, LV_ALIGN_CENTER, 0, 0);

    g_close_cb = close_cb;
    g_close_task = lv_task_create(msgbox_close_task, MSGBOX_CLOSE_MS, LV_TASK_PRIO_MID, box);
    lv_task_set_repeat_count(g_close_task, 1);
}

void msgbox_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_VALUE_CHANGED && g_close_task) lv_task_ready(g_close_task);
}

void msgbox_close_task(lv_task_t *task) {
    if (task != g_close_task) return;
    close_now(static_cast<lv_obj_t *>(task->user_data));
}

lv_obj_t *msgbox_current(void) { return g_close_task ? static_cast<lv_obj_t *>(g_close_task->user_data) : nullptr; }

}  // extern "C"

// What the job screens share.
#include "screen_common.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "host_dialogs.h"
#include "i18n.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "transfer_job.h"
#include "ui_build.h"
#include "ui_styles.h"
#include "zel_host_dialog.h"
#include "zel_timer.h"
#include "zel_trace.h"

namespace {

constexpr uint64_t kProgressWakeMs = 200;
uint64_t g_last_progress_wake_ms;
bool g_progress_woken;

lv_signal_cb_t g_base_signal;  // the base object's own signal handler

lv_res_t screen_signal(lv_obj_t *obj, lv_signal_t sign, void *param) {
    if (sign == LV_SIGNAL_CLEANUP && obj->user_data) static_cast<const screen_forget_t *>(obj->user_data)->forget();
    return g_base_signal(obj, sign, param);
}

}  // namespace

extern "C" {

void screen_forget_on_delete(lv_obj_t *screen, const screen_forget_t *hook) {
    g_base_signal = screen->signal_cb;
    screen->user_data = const_cast<screen_forget_t *>(hook);
    lv_obj_set_signal_cb(screen, screen_signal);
}

lv_obj_t *screen_open(lv_obj_t *clicked, const screen_forget_t *hook) {
    lv_obj_del(lv_obj_get_parent(clicked));
    lv_obj_t *screen = ui_screen_create();
    if (!screen) {
        ui_screen_failed("a screen");
        return nullptr;
    }
    screen_forget_on_delete(screen, hook);
    return screen;
}

void screen_close(lv_obj_t *screen) {
    if (!screen) return;
    lv_obj_del(screen);
    main_screen_create();
}

bool screen_worker_start(void *(*body)(void *)) {
    pthread_attr_t attr = {};
    attr.__word[0] = PTHREAD_CREATE_DETACHED;
    attr.__word[3] = 1;  // at the process's priority
    pthread_t thread;
    return pthread_create(&thread, &attr, body, nullptr) == 0;
}

screen_choice_t screen_choose_file(bool save, char *path, uint32_t path_size, char *name, uint32_t name_size,
    const char *kind, char *mount, uint32_t mount_size, lv_obj_t *message) {
    bool chosen = save ? request_save_file(path, path_size, name, name_size)
                       : request_open_file(path, path_size, name, name_size);
    if (!chosen) {
        switch (request_file_outcome(save)) {
        case ZEL_HOST_DIALOG_CANCELLED: return SCREEN_CHOICE_CANCELLED;
        case ZEL_HOST_DIALOG_TOO_LONG: screen_message(message, "所选文件无法使用，请重新选择！"); break;
        default:
            zel_trace(1, "no file dialog could be shown\r\n");
            screen_message(message, "无法打开文件选择窗口！");
            break;
        }
        return SCREEN_CHOICE_FAILED;
    }
    if (!transfer_mount_host_dir(kind, path, name, mount, mount_size)) {
        screen_message(message, "所选文件无法使用，请重新选择！");
        return SCREEN_CHOICE_FAILED;
    }
    return SCREEN_CHOICE_MOUNTED;
}

bool screen_progress_wake_due(uint64_t now_ms, uint64_t *last_ms, bool *woken) {
    if (*woken && now_ms - *last_ms < kProgressWakeMs) return false;
    *woken = true;
    *last_ms = now_ms;
    return true;
}

void screen_progress_wake(void) {
    uint64_t now = zel_timer_get_ms();
    if (screen_progress_wake_due(now, &g_last_progress_wake_ms, &g_progress_woken)) lvgl_gui_wake();
}

void screen_message(lv_obj_t *label, const char *key) {
    if (label) lv_label_set_text(label, i18n_get_text(key));
}

bool screen_job_busy(lv_obj_t *message) {
    if (!transfer_job.busy) return false;
    screen_message(message, "正在复制，请等待复制完成！");
    return true;
}

void screen_job_failed(lv_obj_t *message, lv_obj_t *bar, const char *failed_key) {
    screen_progress_reset(bar);
    if (!message) return;
    char reason[256];
    transfer_job_failure_reason(reason, sizeof reason);
    char line[384];
    snprintf(line, sizeof line, "%s%s%s", i18n_get_text(failed_key), reason[0] ? "\n" : "", reason);
    lv_label_set_text(message, line);
}

lv_obj_t *screen_message_label(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x, lv_coord_t y) {
    lv_obj_t *label = ui_label(parent, &style_note, "", base, align, x, y);
    lv_obj_set_style_local_text_color(label, LV_LABEL_PART_MAIN, LV_STATE_DEFAULT, LV_COLOR_MAKE(0xFF, 0, 0));
    return label;
}

lv_obj_t *screen_progress_bar(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x, lv_coord_t y) {
    lv_obj_t *bar = lv_bar_create(parent, nullptr);
    lv_bar_set_anim_time(bar, 100);
    lv_bar_set_value(bar, 0, LV_ANIM_ON);
    lv_obj_set_size(bar, 590, 17);
    lv_obj_align(bar, base, align, x, y);
    lv_obj_set_hidden(bar, true);
    return bar;
}

void screen_progress_reset(lv_obj_t *bar) {
    if (!bar) return;
    lv_bar_set_value(bar, 0, LV_ANIM_OFF);
    lv_obj_set_hidden(bar, true);
}

void screen_progress_show(lv_obj_t *bar, uint32_t total, uint32_t current) {
    if (!bar) return;
    lv_obj_set_hidden(bar, false);
    lv_bar_set_value(bar, transfer_percent(total, current), LV_ANIM_ON);
    screen_progress_wake();
}

}  // extern "C"

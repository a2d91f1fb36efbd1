// What the job screens share.
#include "screen_common.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "app_commands.h"
#include "host_dialogs.h"
#include "i18n.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "transfer_job.h"
#include "ui_build.h"
#include "ui_styles.h"
#include "zel_host_dialog.h"
#include "zel_thread.h"
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

// A chosen file whose path under its mount point is too long for the
// programs (the limit is APP_FILE_PATH_MAX - 1 bytes).
constexpr const char *kNameTooLong = "所选文件无法使用（path > 259 B），请重新选择！";
static_assert(APP_FILE_PATH_MAX == 260, "the text names the limit");

// The choice of a file on the PC being made (screen_choose_file).
constexpr uint32_t kChoicePassMs = 20;
struct Choice {
    volatile screen_choosing_t state;
    bool save;
    char *path;
    uint32_t path_size;
    char *name;
    uint32_t name_size;
    const char *kind;
    char *mount;
    uint32_t mount_size;
    lv_obj_t *const *message;
    screen_choice_done_t done;
    screen_choice_t outcome;
    const char *failure_key; /* shown in the message label, or null */
};
Choice g_choice;

void answer(screen_choice_t outcome, const char *failure_key) {
    g_choice.outcome = outcome;
    g_choice.failure_key = failure_key;
    g_choice.state = SCREEN_CHOOSING_ANSWERED;
}

// The worker: the dialog (blocking this thread only), then the mount.
void *choice_worker(void *) {
    Choice &c = g_choice;
    const bool chosen = c.save ? request_save_file(c.path, c.path_size, c.name, c.name_size)
                               : request_open_file(c.path, c.path_size, c.name, c.name_size);
    if (!chosen) {
        switch (request_file_outcome(c.save)) {
        case ZEL_HOST_DIALOG_CANCELLED: answer(SCREEN_CHOICE_CANCELLED, nullptr); break;
        case ZEL_HOST_DIALOG_TOO_LONG: answer(SCREEN_CHOICE_FAILED, "所选文件无法使用，请重新选择！"); break;
        default:
            zel_trace(1, "no file dialog could be shown\r\n");
            answer(SCREEN_CHOICE_FAILED, "无法打开文件选择窗口！");
            break;
        }
    } else if (!transfer_mount_host_dir(c.kind, c.path, c.name, c.mount, c.mount_size)) {
        answer(SCREEN_CHOICE_FAILED,
            transfer_name_fits(c.mount, c.name) ? "所选文件无法使用，请重新选择！" : kNameTooLong);
    } else {
        answer(SCREEN_CHOICE_MOUNTED, nullptr);
    }
    lvgl_gui_wake();
    return nullptr;
}

}  // namespace

extern "C" {

void screen_forget_on_delete(lv_obj_t *screen, const screen_forget_t *hook) {
    g_base_signal = screen->signal_cb;
    screen->user_data = const_cast<screen_forget_t *>(hook);
    lv_obj_set_signal_cb(screen, screen_signal);
}

lv_obj_t *screen_open(lv_obj_t *clicked, const screen_forget_t *hook, const char *name) {
    lv_obj_del(lv_obj_get_parent(clicked));
    lv_obj_t *screen = ui_screen_create();
    if (!screen) {
        ui_screen_failed(name);
        return nullptr;
    }
    screen_forget_on_delete(screen, hook);
    return screen;
}

bool screen_complete(lv_obj_t *screen, const char *name, lv_obj_t *const *objs, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (objs[i]) continue;
        screen_failed(screen, name);
        return false;
    }
    return true;
}

void screen_failed(lv_obj_t *screen, const char *name) {
    lv_obj_del(screen);  // forgets what the screen remembered
    ui_screen_failed(name);
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

bool screen_choose_file(bool save, char *path, uint32_t path_size, char *name, uint32_t name_size, const char *kind,
    char *mount, uint32_t mount_size, lv_obj_t *const *message, screen_choice_done_t done) {
    if (g_choice.state != SCREEN_CHOOSING_IDLE) return false;
    memset(path, 0, path_size);
    memset(name, 0, name_size);
    g_choice = {SCREEN_CHOOSING_ASKING, save, path, path_size, name, name_size, kind, mount, mount_size, message, done,
        SCREEN_CHOICE_CANCELLED, nullptr};
    lv_task_t *task = lv_task_create(screen_choice_task, kChoicePassMs, LV_TASK_PRIO_MID, nullptr);
    if (!screen_worker_start(choice_worker)) {
        zel_trace(1, "no file dialog could be shown\r\n");
        answer(SCREEN_CHOICE_FAILED, "无法打开文件选择窗口！");
    }
    if (!task) screen_choice_task(nullptr);  // the answer waits for no pass
    return true;
}

bool screen_choice_pending(void) { return g_choice.state != SCREEN_CHOOSING_IDLE; }

void screen_choice_task(lv_task_t *task) {
    if (g_choice.state != SCREEN_CHOOSING_ANSWERED) {
        if (task || g_choice.state == SCREEN_CHOOSING_IDLE) return;
        // No task: the GUI thread waits for the worker here.
        while (g_choice.state == SCREEN_CHOOSING_ASKING) zel_thread_delay(zel_timer_ms_to_tick(kChoicePassMs));
    }
    if (task) lv_task_del(task);
    const Choice c = g_choice;
    g_choice.state = SCREEN_CHOOSING_IDLE;
    if (c.failure_key) screen_message(*c.message, c.failure_key);
    if (c.done) c.done(c.outcome);
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
    const lv_color_t red = LV_COLOR_MAKE(0xFF, 0, 0);
    lv_obj_t *label = ui_label(parent, &style_note, "", base, align, x, y);
    if (!label) return nullptr;
    lv_obj_set_style_local_text_color(label, LV_LABEL_PART_MAIN, LV_STATE_DEFAULT, red);
    if (lv_obj_get_style_text_color(label, LV_LABEL_PART_MAIN).full == red.full) return label;
    lv_obj_del(label);  // no memory for its colour
    return nullptr;
}

lv_obj_t *screen_progress_bar(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x, lv_coord_t y) {
    lv_obj_t *bar = lv_bar_create(parent, nullptr);
    if (!bar) return nullptr;
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

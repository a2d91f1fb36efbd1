// The firmware screen (see upgrade_screen.h).
#include "upgrade_screen.h"

#include <stdio.h>
#include <string.h>

#include "adapter_poll.h"
#include "app_commands.h"
#include "i18n.h"
#include "host_dialogs.h"
#include "main_screen.h"
#include "msgbox.h"
#include "run_cmd.h"
#include "screen_common.h"
#include "transfer_job.h"
#include "ui_build.h"
#include "ui_styles.h"
#include "ui_texts.h"
#include "zel_trace.h"

extern "C" {
upgrade_screen_objs_t upgrade_screen;
}

namespace {

constexpr const char *kName = "the upgrade screen";

// The file chosen on this screen (its name empty while none is), and the
// dialog's answer while the user chooses another.
char g_name[UPGRADE_PATH_SIZE];
char g_mount[UPGRADE_PATH_SIZE];
char g_dialog_path[UPGRADE_PATH_SIZE];
char g_dialog_name[UPGRADE_PATH_SIZE];
char g_dialog_mount[UPGRADE_PATH_SIZE];

void set_chosen(const char *name, const char *mount) {
    snprintf(g_name, sizeof g_name, "%s", name);
    snprintf(g_mount, sizeof g_mount, "%s", mount);
    if (!upgrade_screen.select_btn) return;
    if (g_name[0])
        lv_obj_add_state(upgrade_screen.select_btn, LV_STATE_CHECKED);
    else
        lv_obj_clear_state(upgrade_screen.select_btn, LV_STATE_CHECKED);
}

void forget() { upgrade_screen = upgrade_screen_objs_t{}; }

// The dialog's answer. A cancelled dialog keeps the earlier choice; a failed
// one forgets it, the user having meant to replace it. A screen left
// meanwhile takes nothing: the next one starts with nothing chosen.
void fw_chosen(screen_choice_t choice) {
    if (!upgrade_screen.screen) return;
    switch (choice) {
    case SCREEN_CHOICE_MOUNTED:
        screen_message(upgrade_screen.message, "");
        set_chosen(g_dialog_name, g_dialog_mount);
        break;
    case SCREEN_CHOICE_FAILED: set_chosen("", ""); break;
    case SCREEN_CHOICE_CANCELLED: break;
    }
}
const screen_forget_t g_forget = {forget};

constexpr size_t kVersionTextMax = 126;

}  // namespace

extern "C" {

void upgrade_screen_create(lv_obj_t *obj, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    lv_obj_t *scr = screen_open(obj, &g_forget, kName);
    if (!scr) return;
    lv_obj_t *version = ui_label(scr, &style_text, "", scr, LV_ALIGN_IN_TOP_MID, 0, 70);
    lv_obj_t *hint = ui_label(
        scr, &style_text, i18n_get_text("请选择对应的update.bin文件进行升级"), scr, LV_ALIGN_IN_TOP_MID, 0, 140);
    lv_obj_t *box1 = ui_step_box(scr, UI_TEXT_STEPS[0], scr, LV_ALIGN_IN_TOP_LEFT, 84, 210);
    lv_obj_t *select =
        ui_button(scr, i18n_get_text("选择升级固件"), 590, 35, box1, LV_ALIGN_OUT_RIGHT_TOP, 20, 0, select_fw_event_cb);
    lv_obj_t *box2 = ui_step_box(scr, UI_TEXT_STEPS[1], box1, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 35);
    lv_obj_t *upgrade =
        ui_button(scr, i18n_get_text("升级"), 590, 35, box2, LV_ALIGN_OUT_RIGHT_TOP, 20, 0, upgrade_event_cb);
    lv_obj_t *bar = screen_progress_bar(scr, upgrade, LV_ALIGN_OUT_BOTTOM_MID, 0, 17);
    lv_obj_t *message = screen_message_label(scr, hint, LV_ALIGN_OUT_BOTTOM_MID, 0, 210);
    lv_obj_t *back =
        ui_button(scr, i18n_get_text("返回"), 196, 35, box2, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 87, upgrade_back_event_cb);
    lv_obj_t *const made[] = {version, hint, box1, select, box2, upgrade, bar, message, back};
    if (!screen_complete(scr, kName, made, sizeof made / sizeof made[0])) return;

    lv_task_t *task = lv_task_create(version_label_task, 0, LV_TASK_PRIO_MID, nullptr);
    if (!task) {
        screen_failed(scr, kName);
        return;
    }
    lv_task_set_repeat_count(task, 1);
    upgrade_screen = {scr, select, upgrade, bar, message, version};
    // A new screen has no file chosen, whatever an earlier one had.
    set_chosen("", "");
}

void version_label_task(lv_task_t *) {
    char path[127];
    if (snprintf(path, sizeof path, "/scsi/%s/version.txt", volume_id) >= static_cast<int>(sizeof path)) return;
    char text[128] = {};
    if (file_read(path, text, sizeof text - 1) == 0) return;
    zel_trace_buffer(4, text, sizeof text,
        ZEL_TRACE_GROUP(1) | ZEL_TRACE_PER_LINE(16) | ZEL_TRACE_OFFSET | ZEL_TRACE_CHARS | ZEL_TRACE_CRLF);
    if (strlen(text) < 9 || strncmp(text, "Version:", 8) != 0 || !upgrade_screen.version) return;
    char line[kVersionTextMax + 1];
    snprintf(line, sizeof line, "%s%s", i18n_get_text("当前版本是："), text + 8);
    lv_label_set_text(upgrade_screen.version, line);
}

void select_fw_event_cb(lv_obj_t *, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    // While the dialog is open a second click opens no other.
    (void)screen_choose_file(false, g_dialog_path, sizeof g_dialog_path, g_dialog_name, sizeof g_dialog_name,
        "update_bin", g_dialog_mount, sizeof g_dialog_mount, &upgrade_screen.message, fw_chosen);
}

void upgrade_event_cb(lv_obj_t *, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    if (screen_job_busy(upgrade_screen.message)) return;
    if (!run_cmd("access \"/scsi/${VOLUMEID}/%s\"", "version.txt")) {
        screen_message(upgrade_screen.message, "找不到版本文件！");
        return;
    }
    if (g_name[0] == 0) {
        screen_message(upgrade_screen.message, "update bin文件不存在！");
        return;
    }
    // The earlier run's result goes as this one starts.
    screen_message(upgrade_screen.message, "");
    screen_progress_reset(upgrade_screen.bar);
    const transfer_job_t job = {g_mount, g_name, "update.bin", upgrade_progress_cb, upgrade_done_cb, 1, 1, 0};
    if (!transfer_job_start(&job)) (void)screen_job_busy(upgrade_screen.message);
}

void upgrade_progress_cb(const char *, const char *, uint32_t total, uint32_t current) {
    zel_trace(4, "update, total: %d, current: %d\r\n", static_cast<int>(total), static_cast<int>(current));
    screen_progress_show(upgrade_screen.bar, total, current);
}

void upgrade_done_cb(uint8_t ok) {
    if (ok) {
        msgbox_show(i18n_get_text("升级成功"), upgrade_ok_close_cb);
    } else if (upgrade_screen.message) {
        screen_job_failed(upgrade_screen.message, upgrade_screen.bar, "升级失败！");
    } else {
        // Left with Back while the copy ran: the failure must not pass unseen.
        msgbox_show(i18n_get_text("升级失败！"), nullptr);
    }
}

void upgrade_back_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) upgrade_ok_close_cb();
}

// After Back the main screen is already there.
void upgrade_ok_close_cb(void) { screen_close(upgrade_screen.screen); }

}  // extern "C"

// The script screen (see script_screen.h).
#include "script_screen.h"

#include <string.h>

#include "host_dialogs.h"
#include "i18n.h"
#include "main_screen.h"
#include "screen_common.h"
#include "transfer_job.h"
#include "ui_build.h"
#include "ui_styles.h"
#include "ui_texts.h"
#include "zel_trace.h"

extern "C" {
script_screen_objs_t script_screen;
}

namespace {

constexpr const char *kName = "the script screen";

char g_path[SCRIPT_PATH_SIZE];
char g_name[SCRIPT_PATH_SIZE];
char g_mount[SCRIPT_PATH_SIZE];

void forget() { script_screen = script_screen_objs_t{}; }
const screen_forget_t g_forget = {forget};

void set_buttons_disabled(bool disabled) {
    lv_obj_t *const buttons[] = {script_screen.export_btn, script_screen.import_btn, script_screen.back_btn};
    for (lv_obj_t *btn : buttons) {
        if (!btn) continue;
        if (disabled)
            lv_obj_add_state(btn, LV_STATE_DISABLED);
        else
            lv_obj_clear_state(btn, LV_STATE_DISABLED);
    }
}

void job_done(lv_obj_t *bar, bool ok, const char *ok_key, const char *failed_key) {
    set_buttons_disabled(false);
    if (!ok) {
        screen_job_failed(script_screen.message, bar, failed_key);
        return;
    }
    if (bar) lv_obj_set_hidden(bar, true);
    screen_message(script_screen.message, ok_key);
}

void start_chosen_copy(bool is_export, screen_choice_t choice);
void export_chosen(screen_choice_t choice) { start_chosen_copy(true, choice); }
void import_chosen(screen_choice_t choice) { start_chosen_copy(false, choice); }

// Asks for the PC's file (its folder is mounted once chosen); the copy
// starts once the dialog has answered. While the dialog is open a second
// click opens no other.
void start_copy(bool is_export) {
    // Another screen's job may run (the firmware screen's Back stays enabled).
    if (screen_job_busy(script_screen.message)) return;
    (void)screen_choose_file(is_export, g_path, sizeof g_path, g_name, sizeof g_name,
        is_export ? "export_bin" : "import_bin", g_mount, sizeof g_mount, &script_screen.message,
        is_export ? export_chosen : import_chosen);
}

// The chosen file's copy, unless the screen was left meanwhile or a job
// started meanwhile.
void start_chosen_copy(bool is_export, screen_choice_t choice) {
    if (choice != SCREEN_CHOICE_MOUNTED || !script_screen.screen) return;
    if (screen_job_busy(script_screen.message)) return;
    // The earlier run's result goes as this one starts.
    screen_message(script_screen.message, "");
    screen_progress_reset(is_export ? script_screen.export_bar : script_screen.import_bar);
    set_buttons_disabled(true);
    const transfer_job_t job =
        is_export ? transfer_job_t{g_mount, g_name, "data.bin", export_progress_cb, export_done_cb, 1, 0, 1}
                  : transfer_job_t{g_mount, g_name, "data.bin", import_progress_cb, import_done_cb, 1, 1, 0};
    if (!transfer_job_start(&job)) {
        set_buttons_disabled(false);
        (void)screen_job_busy(script_screen.message);
    }
}

}  // namespace

extern "C" {

void script_screen_create(lv_obj_t *obj, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    lv_obj_t *scr = screen_open(obj, &g_forget, kName);
    if (!scr) return;
    lv_obj_t *export_btn =
        ui_button(scr, i18n_get_text("导出脚本"), 590, 52, scr, LV_ALIGN_IN_TOP_LEFT, 154, 140, export_script_event_cb);
    lv_obj_t *export_bar = screen_progress_bar(scr, scr, LV_ALIGN_IN_TOP_LEFT, 154, 192);
    lv_obj_t *import_btn =
        ui_button(scr, i18n_get_text("导入脚本"), 590, 52, scr, LV_ALIGN_IN_TOP_LEFT, 154, 262, import_script_event_cb);
    lv_obj_t *import_bar = screen_progress_bar(scr, scr, LV_ALIGN_IN_TOP_LEFT, 154, 315);
    lv_obj_t *back =
        ui_button(scr, i18n_get_text("返回"), 196, 35, scr, LV_ALIGN_IN_TOP_LEFT, 84, 437, script_back_event_cb);
    lv_obj_t *message = screen_message_label(scr, scr, LV_ALIGN_IN_TOP_LEFT, 337, 437);
    lv_obj_t *const made[] = {export_btn, export_bar, import_btn, import_bar, back, message};
    if (!screen_complete(scr, kName, made, sizeof made / sizeof made[0])) return;
    script_screen = {scr, export_btn, import_btn, back, message, export_bar, import_bar};
}

void export_script_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) start_copy(true);
}

void import_script_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) start_copy(false);
}

void export_progress_cb(const char *, const char *, uint32_t total, uint32_t current) {
    screen_progress_show(script_screen.export_bar, total, current);
}

void import_progress_cb(const char *, const char *, uint32_t total, uint32_t current) {
    zel_trace(4, "script import, total: %d, current: %d\r\n", static_cast<int>(total), static_cast<int>(current));
    screen_progress_show(script_screen.import_bar, total, current);
}

void export_done_cb(uint8_t ok) { job_done(script_screen.export_bar, ok, UI_TEXT_EXPORT_OK, UI_TEXT_EXPORT_FAILED); }

void import_done_cb(uint8_t ok) { job_done(script_screen.import_bar, ok, "导入成功！", "导入失败！"); }

void script_back_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) screen_close(script_screen.screen);
}

}  // extern "C"

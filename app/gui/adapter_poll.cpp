// The adapter poll task of the main screen.
#include "adapter_poll.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_main.h"
#include "app_mount.h"
#include "i18n.h"
#include "main_screen.h"
#include "run_cmd.h"
#include "zel_trace.h"

extern "C" {
char volume_id[VOLUME_ID_SIZE];
volatile uint8_t cfg_files_ok;
volatile uint8_t version_file_ok;
volatile uint8_t script_file_ok;
}

namespace {

constexpr uint32_t kPeriodMs = 1000;
constexpr size_t kErrorTextMax = 254;

// The poll task alive now: one that has not ended (a task ending in its
// run keeps its place in the list until the run is over).
lv_task_t *live_poll(lv_task_t *after) {
    for (lv_task_t *t = lv_task_get_next(after); t; t = lv_task_get_next(t))
        if (t->task_cb == adapter_poll_task && t->repeat_count != 0) return t;
    return nullptr;
}

bool adapter_has(const char *name) { return run_cmd("access \"/scsi/${VOLUMEID}/%s\"", name); }

// The same text again changes nothing: the screen is not drawn anew.
void show_status(const char *text) {
    if (!main_screen.status) return;
    const char *shown = lv_label_get_text(main_screen.status);
    if (shown && strcmp(shown, text) == 0) return;
    lv_label_set_text(main_screen.status, text);
}

void enable(lv_obj_t *btn, uint8_t ok) {
    if (btn && ok) lv_btn_set_state(btn, LV_BTN_STATE_RELEASED);
}

// The MBR mount names a volume "root<i>" first and renames it after its
// label a moment later: a name seen in between would name nothing from then
// on. So while the adapter is looked for, a different single entry of
// "/scsi" replaces the name learned before.
void learn_volume() {
    char name[VOLUME_ID_SIZE];
    if (!dir_first_entry_name("/scsi/", name, sizeof name)) return;
    if (strcmp(name, volume_id) == 0) return;
    memcpy(volume_id, name, sizeof volume_id);
    zel_trace(4, "volume id: %s\r\n", volume_id);
    setenv("VOLUMEID", volume_id, 1);
    run_cmd("export");
}

}  // namespace

extern "C" {

adapter_poll_state_t adapter_poll_run(void) {
    if (restart_needed) {
        run_cmd("reset");
        return ADAPTER_POLL_RESTART;
    }
    if (driver_error_text[0] != '\0') {
        char line[kErrorTextMax + 1];
        // Cut to what the status shows.
        if (snprintf(line, sizeof line, "%s : %s", i18n_get_text("安装驱动失败"), driver_error_text) < 0) line[0] = 0;
        show_status(line);
        return ADAPTER_POLL_DRIVER_FAIL;
    }
    if (driver_installing) {
        show_status(i18n_get_text("正在安装驱动，可能需要等几分钟，驱动安装完成之后自动重启本应用"));
        return ADAPTER_POLL_INSTALLING;
    }
    learn_volume();

    // Every file is tested, each failure leaving its trace.
    uint8_t cfg = adapter_has("Wifi Config.txt");
    if (!adapter_has("PSN Config.txt")) cfg = 0;
    uint8_t script = adapter_has("data.bin");
    uint8_t version = adapter_has("version.txt");
    cfg_files_ok = cfg;
    script_file_ok = script;
    version_file_ok = version;

    enable(main_screen.config_btn, cfg);
    enable(main_screen.upgrade_btn, version);
    enable(main_screen.script_btn, script);
    if (!cfg && !version && app_adapter_disk_state() == APP_DISK_FAILED) {
        // Plugged in, but its disk says nothing: not the same as no adapter.
        show_status(i18n_get_text("无法读取适配器的内容"));
        return ADAPTER_POLL_DISK_UNREADABLE;
    }
    if (!cfg && !version) {
        show_status(i18n_get_text("请连接适配器"));
        return ADAPTER_POLL_NOT_FOUND;
    }
    show_status(i18n_get_text("发现适配器"));
    return ADAPTER_POLL_FOUND;
}

void adapter_poll_task(lv_task_t *task) {
    if (adapter_poll_run() != ADAPTER_POLL_FOUND) return;
    lv_task_set_repeat_count(task, 0);
}

uint32_t adapter_poll_task_count(void) {
    uint32_t n = 0;
    for (lv_task_t *t = live_poll(nullptr); t; t = live_poll(t)) n++;
    return n;
}

bool adapter_poll_start(void) {
    lv_task_t *task = live_poll(nullptr);
    if (!task) task = lv_task_create(adapter_poll_task, kPeriodMs, LV_TASK_PRIO_MID, nullptr);
    if (!task) return false;
    lv_task_ready(task);
    return true;
}

}  // extern "C"

/* The firmware screen: shows the adapter's version ("version.txt"), lets
 * the user choose a firmware file on the PC (its folder is mounted under
 * "/mnt/update_bin/") and copies it over "update.bin" on the adapter with
 * the transfer job, showing its progress in a bar. A missing "version.txt"
 * or no chosen file is reported before any job starts, and so is a job
 * that still runs ("正在复制，请等待复制完成！"); a failed copy hides the bar
 * and shows "升级失败！" with the reason on a second line when update gave
 * one (screen_job_failed), a successful one the box "升级成功", whose close
 * returns to the main screen.
 *
 * Back stays enabled while a job runs: the job then finishes without a
 * screen to report on (its callbacks find the remembered objects null):
 * the "升级成功" box only closes itself, and a failure shows in the box
 * "升级失败！". */
#ifndef UPGRADE_SCREEN_H
#define UPGRADE_SCREEN_H

#include <stdint.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define UPGRADE_PATH_SIZE 1024

typedef struct upgrade_screen_objs {
    lv_obj_t *screen;
    lv_obj_t *select_btn;
    lv_obj_t *upgrade_btn;
    lv_obj_t *bar;
    lv_obj_t *message;
    lv_obj_t *version;
} upgrade_screen_objs_t;

extern upgrade_screen_objs_t upgrade_screen;

void upgrade_screen_create(lv_obj_t *obj, lv_event_t event);
void select_fw_event_cb(lv_obj_t *obj, lv_event_t event);
void upgrade_event_cb(lv_obj_t *obj, lv_event_t event);
void upgrade_back_event_cb(lv_obj_t *obj, lv_event_t event);
void version_label_task(lv_task_t *task);
void upgrade_progress_cb(const char *src, const char *dst, uint32_t total, uint32_t current);
void upgrade_done_cb(uint8_t ok);
void upgrade_ok_close_cb(void);

#ifdef __cplusplus
}
#endif

#endif

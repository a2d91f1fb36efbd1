/* The script screen: exports the adapter's "data.bin" to a file the user
 * names on the PC (created or truncated to its size) and imports a file
 * the user chooses on the PC over "data.bin" (which keeps its size; a
 * larger file is refused). The chosen file's folder is mounted under
 * "/mnt/export_bin/" or "/mnt/import_bin/"; the copy is the transfer job,
 * its progress shown in the button's bar. While its job runs the export,
 * import and back buttons are disabled; while another screen's job runs
 * they say so ("正在复制，请等待复制完成！") before any dialog. The end shows
 * "导出成功！", "导出失败！", "导入成功！" or "导入失败！" (a failure with its
 * reason on a second line when update gave one, the bar hidden). */
#ifndef SCRIPT_SCREEN_H
#define SCRIPT_SCREEN_H

#include <stdint.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SCRIPT_PATH_SIZE 1024

typedef struct script_screen_objs {
    lv_obj_t *screen;
    lv_obj_t *export_btn;
    lv_obj_t *import_btn;
    lv_obj_t *back_btn;
    lv_obj_t *message;
    lv_obj_t *export_bar;
    lv_obj_t *import_bar;
} script_screen_objs_t;

extern script_screen_objs_t script_screen;

void script_screen_create(lv_obj_t *obj, lv_event_t event);
void export_script_event_cb(lv_obj_t *obj, lv_event_t event);
void import_script_event_cb(lv_obj_t *obj, lv_event_t event);
void script_back_event_cb(lv_obj_t *obj, lv_event_t event);
void export_progress_cb(const char *src, const char *dst, uint32_t total, uint32_t current);
void export_done_cb(uint8_t ok);
void import_progress_cb(const char *src, const char *dst, uint32_t total, uint32_t current);
void import_done_cb(uint8_t ok);

#ifdef __cplusplus
}
#endif

#endif

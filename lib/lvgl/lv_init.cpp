#include "lv_init.h"

#include "lv_anim.h"
#include "lv_font_fmt_txt.h"
#include "lv_group.h"
#include "lv_hal_disp.h"
#include "lv_indev.h"
#include "lv_task.h"
#include "lv_theme.h"

namespace {
bool initialized;
}

void lv_init(void) {
    if (initialized) return;
    _lv_task_core_init();
    _lv_anim_core_init();
    initialized = true;
}

void lv_deinit(void) {
    if (!initialized) return;
    _lv_disp_core_deinit();
    _lv_indev_core_deinit();
    _lv_group_core_deinit();
    _lv_anim_core_deinit();
    _lv_task_core_deinit();
    _lv_theme_material_deinit();
    lv_theme_set_act(nullptr);
    _lv_font_fmt_txt_deinit();
    initialized = false;
}

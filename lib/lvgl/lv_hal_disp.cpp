#include "lv_hal_disp.h"

#include "lv_mem.h"
#include "lv_obj.h"
#include "lv_refr.h"
#include "lv_theme.h"

namespace {

lv_disp_t *disps;
lv_disp_t *disp_def;

void invalidate_all(lv_disp_t *disp) {
    lv_area_t a = {0, 0, (lv_coord_t)(disp->driver.hor_res - 1), (lv_coord_t)(disp->driver.ver_res - 1)};
    _lv_inv_area(disp, &a);
}

}  // namespace

void lv_disp_buf_init(lv_disp_buf_t *disp_buf, void *buf1, void *buf2, uint32_t size_in_px_cnt) {
    *disp_buf = lv_disp_buf_t{};
    disp_buf->buf1 = buf1;
    disp_buf->buf2 = buf2;
    disp_buf->buf_act = buf1;
    disp_buf->size = size_in_px_cnt;
}

void lv_disp_drv_init(lv_disp_drv_t *driver) {
    *driver = lv_disp_drv_t{};
    driver->hor_res = LV_HOR_RES_MAX;
    driver->ver_res = LV_VER_RES_MAX;
    driver->antialiasing = 1;
    driver->dpi = LV_DPI;
}

lv_disp_t *lv_disp_drv_register(lv_disp_drv_t *driver) {
    auto *disp = static_cast<lv_disp_t *>(_lv_mem_alloc_zeroed(sizeof(lv_disp_t)));
    if (disp == nullptr) return nullptr;
    disp->driver = *driver;
    disp->refr_task = lv_task_create(_lv_disp_refr_task, LV_DISP_DEF_REFR_PERIOD, LV_TASK_PRIO_MID, disp);
    if (disp->refr_task == nullptr) {
        lv_mem_free(disp);
        return nullptr;
    }
    lv_disp_t **tail = &disps;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = disp;

    /* The first screen is made on this display. */
    lv_disp_t *prev_def = disp_def;
    disp_def = disp;
    if (lv_theme_get_act() == nullptr) {
        lv_theme_set_act(lv_theme_material_init(LV_THEME_DEFAULT_COLOR_PRIMARY, LV_THEME_DEFAULT_COLOR_SECONDARY,
            LV_THEME_DEFAULT_FLAG, LV_THEME_DEFAULT_FONT_SMALL, LV_THEME_DEFAULT_FONT_NORMAL,
            LV_THEME_DEFAULT_FONT_SUBTITLE, LV_THEME_DEFAULT_FONT_TITLE));
    }
    disp->act_scr = lv_obj_create(nullptr, nullptr);
    if (prev_def != nullptr) disp_def = prev_def;
    invalidate_all(disp);
    return disp;
}

void lv_disp_flush_ready(lv_disp_drv_t *disp_drv) {
    disp_drv->buffer->flushing = 0;
    disp_drv->buffer->flushing_last = 0;
}

lv_disp_t *lv_disp_get_default(void) { return disp_def; }

lv_coord_t lv_disp_get_hor_res(lv_disp_t *disp) {
    if (disp == nullptr) disp = disp_def;
    return disp != nullptr ? disp->driver.hor_res : (lv_coord_t)LV_HOR_RES_MAX;
}

lv_coord_t lv_disp_get_ver_res(lv_disp_t *disp) {
    if (disp == nullptr) disp = disp_def;
    return disp != nullptr ? disp->driver.ver_res : (lv_coord_t)LV_VER_RES_MAX;
}

lv_obj_t *lv_disp_get_scr_act(lv_disp_t *disp) {
    if (disp == nullptr) disp = disp_def;
    return disp != nullptr ? disp->act_scr : nullptr;
}

lv_obj_t *lv_scr_act(void) { return lv_disp_get_scr_act(nullptr); }

void _lv_disp_core_deinit(void) {
    while (disps != nullptr) {
        lv_disp_t *disp = disps;
        while (disp->screens != nullptr) lv_obj_del(disp->screens);
        disps = disp->next;
        lv_task_del(disp->refr_task);
        lv_mem_free(disp);
    }
    disp_def = nullptr;
}

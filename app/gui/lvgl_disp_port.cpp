// LVGL's display driver over the framework display. The driver's user_data
// word is the flush token (see lvgl_port.h): the framework display while
// ready, null while a flush is pending, LVGL_DISP_WAITING while the GUI
// thread waits for that flush.
#include "lvgl_port.h"
#include "zel_irq_guard.h"
#include "zel_kernel.h"

namespace {

zel_eda_t *g_flushing_agent;  // the agent that issued the last flush

lv_disp_drv_t *lv_drv_of(zel_disp_t *zel_disp) { return &static_cast<lv_disp_t *>(zel_disp->ui_data)->driver; }

}  // namespace

extern "C" {

int zel_lvgl_disp_bind(zel_disp_t *zel_disp, lv_disp_t *lv_disp, lvgl_disp_ready_cb_t ready_cb) {
    lv_disp->driver.flush_cb = zel_lvgl_disp_flush;
    lv_disp->driver.wait_cb = zel_lvgl_disp_wait;
    g_flushing_agent = nullptr;
    lv_disp->driver.user_data = reinterpret_cast<void *>(ready_cb);
    zel_disp->ui_data = lv_disp;
    zel_disp->ready = zel_lvgl_disp_on_inited;
    return zel_disp_init(zel_disp);
}

void zel_lvgl_disp_on_inited(zel_disp_t *zel_disp) {
    lv_disp_drv_t *drv = lv_drv_of(zel_disp);
    auto ready_cb = reinterpret_cast<lvgl_disp_ready_cb_t>(drv->user_data);
    drv->user_data = zel_disp;
    zel_disp->ready = zel_lvgl_disp_on_refreshed;
    if (ready_cb) ready_cb(drv);
}

void zel_lvgl_disp_flush(lv_disp_drv_t *drv, const lv_area_t *area, lv_color_t *pixels) {
    lv_coord_t width = drv->rotated ? drv->ver_res : drv->hor_res;
    lv_coord_t height = drv->rotated ? drv->hor_res : drv->ver_res;
    if (area->x2 < 0 || area->y2 < 0 || area->x1 >= width || area->y1 >= height) {
        lv_disp_flush_ready(drv);
        return;
    }
    g_flushing_agent = zel_eda_get_cur();
    zel_disp_area_t a = {(uint16_t)area->x1, (uint16_t)area->y1, (uint16_t)(area->x2 - area->x1 + 1),
        (uint16_t)(area->y2 - area->y1 + 1)};
    auto *zel_disp = static_cast<zel_disp_t *>(drv->user_data);
    drv->user_data = nullptr;
    // Refused only before the display's init, which the GUI's start runs
    // before its first flush.
    (void)zel_disp_refresh(zel_disp, &a, pixels);
}

void zel_lvgl_disp_wait(lv_disp_drv_t *drv) {
    {
        zel_irq_guard guard;
        if (drv->user_data != nullptr) return;
        drv->user_data = LVGL_DISP_WAITING;
    }
    zel_thread_wait_for_evt(ZEL_EVT_WAKE);
}

void zel_lvgl_disp_on_refreshed(zel_disp_t *zel_disp) {
    lv_disp_drv_t *drv = lv_drv_of(zel_disp);
    lv_disp_flush_ready(drv);
    void *old;
    {
        zel_irq_guard guard;
        old = drv->user_data;
        drv->user_data = zel_disp;
    }
    // Only a waiting thread is woken: a stray 266 would end another wait of
    // the GUI thread (a host dialog's answer, a join).
    if (old == LVGL_DISP_WAITING && g_flushing_agent)
        (void)zel_eda_wake(g_flushing_agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
}

}  // extern "C"

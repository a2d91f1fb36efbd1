#include "gui_port.h"

#include <atomic>
#include <chrono>

#include "zel_disp.h"
#include "zel_input_notifier.h"
#include "zel_irq_guard.h"
#include "zel_kernel.h"
#include "zel_test.h"

namespace {

std::atomic<long> g_blocks{0};

zel_sync_t g_flushed;              // one count per ready report
zel_test::Signal g_first_ready;    // the window's first paint
std::atomic<uint64_t> g_touch{0};  // last left-button event: id << 32 | y << 16 | x

void on_ready(zel_disp_t *d) {
    g_first_ready.set();
    auto *drv = static_cast<lv_disp_drv_t *>(d->ui_data);
    if (drv == nullptr) return;
    lv_disp_flush_ready(drv);
    (void)zel_eda_sync_increase_from_irq(&g_flushed);  // a lost report only makes the wait time out
}

void on_input(zel_input_notifier_t *, uint32_t type, const zel_input_evt_t *evt) {
    if (type != ZEL_INPUT_TYPE_TOUCH || (evt->id & ZEL_INPUT_TOUCH_POINT_MASK) != 0) return;
    g_touch.store((evt->id & 0xFFFFFFFFu) << 32 | (uint64_t)zel_input_touch_y(evt) << 16 | zel_input_touch_x(evt));
}

zel_input_notifier_t g_notifier = {nullptr, on_input, 1u << ZEL_INPUT_TYPE_TOUCH};

}  // namespace

uint32_t lv_port_tick_get(void) { return (uint32_t)(zel_systimer_get_tick() / 10000); }

void *lv_port_alloc(size_t size) {
    void *p = zel_heap_malloc(size);
    if (p != nullptr) g_blocks++;
    return p;
}

void *lv_port_realloc(void *ptr, size_t size) {
    void *p = zel_heap_realloc(ptr, size);
    if (ptr == nullptr && p != nullptr) g_blocks++;
    return p;
}

void lv_port_free(void *ptr) {
    if (ptr != nullptr) g_blocks--;
    zel_heap_free(ptr);
}

namespace gui_port {

bool start() {
    static bool started = false;
    if (started) return true;
    zel_test::boot();
    int rc = -1;
    bool ran = zel_test::run_in_thread([&] {
        (void)zel_eda_sync_init(&g_flushed, 0, 32767);  // cannot fail
        zel_disp_t *d = zel_disp_get();
        d->ui_data = nullptr;
        d->ready = on_ready;
        rc = zel_disp_init(d);
    });
    if (!ran || rc != 0 || !g_first_ready.wait(std::chrono::seconds(10))) return false;
    zel_test::run_as_irq([] { zel_input_notifier_register(&g_notifier); });
    started = true;
    return true;
}

void bind(lv_disp_t *disp) {
    zel_irq_guard guard;
    zel_disp_get()->ui_data = &disp->driver;
}

void unbind(lv_disp_t *disp) {
    while (disp->driver.buffer->flushing) wait(&disp->driver);
    zel_irq_guard guard;
    zel_disp_get()->ui_data = nullptr;
}

void flush(lv_disp_drv_t *drv, const lv_area_t *area, lv_color_t *px) {
    // The toolkit clips its areas to the screen; one off it is done at once.
    if (area->x2 < 0 || area->y2 < 0 || area->x1 >= drv->hor_res || area->y1 >= drv->ver_res) {
        lv_disp_flush_ready(drv);
        return;
    }
    zel_disp_area_t a = {
        (uint16_t)area->x1, (uint16_t)area->y1, (uint16_t)lv_area_get_width(area), (uint16_t)lv_area_get_height(area)};
    if (zel_disp_refresh(zel_disp_get(), &a, px) != 0) lv_disp_flush_ready(drv);
}

void wait(lv_disp_drv_t *) {
    // The toolkit asks again while the buffer is busy, so a report that came
    // before this wait only makes the next one return at once.
    // A report or the time-out: either ends this wait.
    (void)zel_thread_sync_decrease(&g_flushed, (int64_t)zel_systimer_ms_to_tick(100));
}

bool pointer_read(lv_indev_drv_t *, lv_indev_data_t *data) {
    uint64_t t = g_touch.load();
    data->point.x = (lv_coord_t)(t & 0xFFFF);
    data->point.y = (lv_coord_t)((t >> 16) & 0xFFFF);
    data->state = ((t >> 32) & ZEL_INPUT_TOUCH_PRESSED) ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
    return false;
}

long live_blocks() { return g_blocks.load(); }

void sleep_ms(uint32_t ms) { zel_thread_delay(zel_systimer_ms_to_tick(ms)); }

}  // namespace gui_port

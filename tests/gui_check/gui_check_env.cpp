// The toolkit tests' set-up (lvgl_test_env.h) over the GUI port, so that the
// toolkit's own demo screen draws into the real window. A copy of every flush
// is kept to read pixels and to write the frame the window should show.
#include <cstdio>
#include <string>

#include "gui_check.h"
#include "gui_port.h"
#include "lvgl_test_env.h"

namespace lvgl_test {

void LvglTest::SetUp() {
    blocks_before_ = gui_port::live_blocks();
    start_display();
    ASSERT_NE(disp, nullptr);
    gui_port::bind(disp);

    start_input();

    scr = lv_scr_act();
    refresh();
    flushed.clear();
}

void LvglTest::TearDown() {
    if (disp != nullptr) gui_port::unbind(disp);
    lv_deinit();
    EXPECT_EQ(gui_port::live_blocks(), blocks_before_) << "the toolkit kept framework heap blocks after lv_deinit";
}

void LvglTest::refresh() {
    lv_refr_now(disp);
    // The frame is on the window once its last flush is reported.
    while (disp->driver.buffer->flushing) wait_cb(&disp->driver);
}

// Writes the frame as the window shows it (the display widens RGB565 by
// shifting) and, when shots are awaited, waits until one is taken.
void LvglTest::write_ppm(const std::string &path) const {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
    for (lv_color_t c : framebuffer_) {
        unsigned char rgb[3] = {(unsigned char)(LV_COLOR_GET_R(c) << 3), (unsigned char)(LV_COLOR_GET_G(c) << 2),
            (unsigned char)(LV_COLOR_GET_B(c) << 3)};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
    gui_check::frame_shown(path);
}

void LvglTest::flush_cb(lv_disp_drv_t *drv, const lv_area_t *area, lv_color_t *px) {
    auto *self = static_cast<LvglTest *>(drv->user_data);
    self->flushed.push_back(*area);
    lv_coord_t w = lv_area_get_width(area);
    for (int y = LV_MATH_MAX(area->y1, 0); y <= LV_MATH_MIN(area->y2, kHeight - 1); y++) {
        for (int x = LV_MATH_MAX(area->x1, 0); x <= LV_MATH_MIN(area->x2, kWidth - 1); x++) {
            self->framebuffer_[(size_t)y * kWidth + x] = px[(y - area->y1) * w + (x - area->x1)];
        }
    }
    gui_port::flush(drv, area, px);
}

void LvglTest::wait_cb(lv_disp_drv_t *drv) {
    auto *self = static_cast<LvglTest *>(drv->user_data);
    self->wait_calls++;
    gui_port::wait(drv);
}

bool LvglTest::pointer_read(lv_indev_drv_t *drv, lv_indev_data_t *data) { return gui_port::pointer_read(drv, data); }

}  // namespace lvgl_test

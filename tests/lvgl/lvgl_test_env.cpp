#include "lvgl_test_env.h"

#include <cstdio>

namespace lvgl_test {

void LvglTest::SetUp() {
    blocks_before_ = live_allocations();
    start_display();
    ASSERT_NE(disp, nullptr);

    start_input();

    scr = lv_scr_act();
    refresh();
    flushed.clear();
}

void LvglTest::TearDown() {
    lv_deinit();
    EXPECT_EQ(live_allocations(), blocks_before_) << "the toolkit kept memory after lv_deinit";
}

void LvglTest::run_for(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
        advance_clock(10);
        lv_task_handler();
    }
}

void LvglTest::refresh() { lv_refr_now(disp); }

void LvglTest::press_at(lv_coord_t x, lv_coord_t y) {
    point_ = {x, y};
    pressed_ = true;
    run_for(40);
}

void LvglTest::release() {
    pressed_ = false;
    run_for(40);
}

void LvglTest::click_at(lv_coord_t x, lv_coord_t y) {
    press_at(x, y);
    release();
}

void LvglTest::click_obj(const lv_obj_t *obj) {
    lv_point_t c = centre_of(obj);
    click_at(c.x, c.y);
}

void LvglTest::key_down(uint32_t key) {
    key_ = key;
    key_pressed_ = true;
    run_for(40);
}

void LvglTest::key_up() {
    key_pressed_ = false;
    run_for(40);
}

void LvglTest::tap_key(uint32_t key) {
    key_down(key);
    key_up();
}

void LvglTest::write_ppm(const std::string &path) const {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
    for (lv_color_t c : framebuffer_) {
        unsigned char rgb[3] = {(unsigned char)(LV_COLOR_GET_R(c) * 255 / 31),
            (unsigned char)(LV_COLOR_GET_G(c) * 255 / 63), (unsigned char)(LV_COLOR_GET_B(c) * 255 / 31)};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
}

void LvglTest::flush_cb(lv_disp_drv_t *drv, const lv_area_t *area, lv_color_t *px) {
    auto *self = static_cast<LvglTest *>(drv->user_data);
    self->flushed.push_back(*area);
    lv_coord_t w = lv_area_get_width(area);
    for (lv_coord_t y = area->y1; y <= area->y2; y++) {
        for (lv_coord_t x = area->x1; x <= area->x2; x++) {
            self->framebuffer_[(size_t)y * kWidth + x] = px[(y - area->y1) * w + (x - area->x1)];
        }
    }
    if (!self->defer_flush_ready) lv_disp_flush_ready(drv);
}

void LvglTest::wait_cb(lv_disp_drv_t *drv) {
    auto *self = static_cast<LvglTest *>(drv->user_data);
    self->wait_calls++;
    if (self->on_wait) self->on_wait();
    lv_disp_flush_ready(drv);
}

bool LvglTest::pointer_read(lv_indev_drv_t *drv, lv_indev_data_t *data) {
    auto *self = static_cast<LvglTest *>(drv->user_data);
    data->point = self->point_;
    data->state = self->pressed_ ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
    return false;
}

}  // namespace lvgl_test

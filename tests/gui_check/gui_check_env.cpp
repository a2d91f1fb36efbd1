// The toolkit tests' set-up (lvgl_test_env.h) over the GUI port, so that the
// toolkit's own demo screen draws into the real window. A copy of every flush
// is kept to read pixels and to write the frame the window should show.
#include <cstdio>
#include <string>

#include "gui_check.h"
#include "gui_port.h"
#include "lvgl_test_env.h"

namespace lvgl_test {

void LvglTest::SetUp()
{
    blocks_before_ = gui_port::live_blocks();
    draw_buf_.assign(kWidth * kBufLines, lv_color_t{});
    framebuffer_.assign((size_t)kWidth * kHeight, lv_color_t{});

    lv_init();
    lv_disp_buf_init(&disp_buf_, draw_buf_.data(), nullptr, (uint32_t)draw_buf_.size());
    lv_disp_drv_t drv;
    lv_disp_drv_init(&drv);
    drv.hor_res = kWidth;
    drv.ver_res = kHeight;
    drv.buffer = &disp_buf_;
    drv.flush_cb = flush_cb;
    drv.wait_cb = wait_cb;
    drv.user_data = this;
    disp = lv_disp_drv_register(&drv);
    ASSERT_NE(disp, nullptr);
    gui_port::bind(disp);

    lv_indev_drv_t in;
    lv_indev_drv_init(&in);
    in.type = LV_INDEV_TYPE_POINTER;
    in.read_cb = pointer_read;
    in.user_data = this;
    pointer = lv_indev_drv_register(&in);
    lv_indev_drv_init(&in);
    in.type = LV_INDEV_TYPE_KEYPAD;
    in.read_cb = keypad_read;
    in.user_data = this;
    keypad = lv_indev_drv_register(&in);
    group = lv_group_create();
    lv_indev_set_group(keypad, group);

    scr = lv_scr_act();
    refresh();
    flushed.clear();
}

void LvglTest::TearDown()
{
    if(disp != nullptr) gui_port::unbind(disp);
    lv_deinit();
    EXPECT_EQ(gui_port::live_blocks(), blocks_before_) << "the toolkit kept framework heap blocks after lv_deinit";
}

void LvglTest::refresh()
{
    lv_refr_now(disp);
    // The frame is on the window once its last flush is reported.
    while(disp->driver.buffer->flushing) wait_cb(&disp->driver);
}

lv_color_t LvglTest::pixel(lv_coord_t x, lv_coord_t y) const
{
    return framebuffer_[(size_t)y * kWidth + x];
}

// Writes the frame as the window shows it (the display widens RGB565 by
// shifting) and, when shots are awaited, waits until one is taken.
void LvglTest::write_ppm(const std::string & path) const
{
    FILE * f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
    for(lv_color_t c : framebuffer_) {
        unsigned char rgb[3] = {(unsigned char)(LV_COLOR_GET_R(c) << 3), (unsigned char)(LV_COLOR_GET_G(c) << 2),
                                (unsigned char)(LV_COLOR_GET_B(c) << 3)};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
    gui_check::frame_shown(path);
}

void LvglTest::flush_cb(lv_disp_drv_t * drv, const lv_area_t * area, lv_color_t * px)
{
    auto * self = static_cast<LvglTest *>(drv->user_data);
    self->flushed.push_back(*area);
    lv_coord_t w = lv_area_get_width(area);
    for(int y = LV_MATH_MAX(area->y1, 0); y <= LV_MATH_MIN(area->y2, kHeight - 1); y++) {
        for(int x = LV_MATH_MAX(area->x1, 0); x <= LV_MATH_MIN(area->x2, kWidth - 1); x++) {
            self->framebuffer_[(size_t)y * kWidth + x] = px[(y - area->y1) * w + (x - area->x1)];
        }
    }
    gui_port::flush(drv, area, px);
}

void LvglTest::wait_cb(lv_disp_drv_t * drv)
{
    auto * self = static_cast<LvglTest *>(drv->user_data);
    self->wait_calls++;
    gui_port::wait(drv);
}

bool LvglTest::pointer_read(lv_indev_drv_t * drv, lv_indev_data_t * data)
{
    return gui_port::pointer_read(drv, data);
}

bool LvglTest::keypad_read(lv_indev_drv_t * drv, lv_indev_data_t * data)
{
    auto * self = static_cast<LvglTest *>(drv->user_data);
    data->key = self->key_;
    data->state = self->key_pressed_ ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
    return false;
}

lv_point_t centre_of(const lv_obj_t * obj)
{
    return lv_point_t{(lv_coord_t)((obj->coords.x1 + obj->coords.x2) / 2), (lv_coord_t)((obj->coords.y1 + obj->coords.y2) / 2)};
}

} // namespace lvgl_test

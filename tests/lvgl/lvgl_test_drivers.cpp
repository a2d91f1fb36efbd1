// What both set-ups of the toolkit tests share (lvgl_test_env.cpp on the
// in-memory framebuffer, the GUI check's over the real window): the display
// and input drivers' registration, the keypad and reading pixels back.
#include "lvgl_test_env.h"

namespace lvgl_test {

void LvglTest::start_display() {
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
}

void LvglTest::start_input() {
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
}

lv_color_t LvglTest::pixel(lv_coord_t x, lv_coord_t y) const { return framebuffer_[(size_t)y * kWidth + x]; }

bool LvglTest::keypad_read(lv_indev_drv_t *drv, lv_indev_data_t *data) {
    auto *self = static_cast<LvglTest *>(drv->user_data);
    data->key = self->key_;
    data->state = self->key_pressed_ ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
    return false;
}

lv_point_t centre_of(const lv_obj_t *obj) {
    return lv_point_t{
        (lv_coord_t)((obj->coords.x1 + obj->coords.x2) / 2), (lv_coord_t)((obj->coords.y1 + obj->coords.y2) / 2)};
}

}  // namespace lvgl_test

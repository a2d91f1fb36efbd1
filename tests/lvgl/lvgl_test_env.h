// A toolkit set up as the product sets it up: a 900x560 RGB565 display with a draw
// buffer of 56 lines, a pointer and a keypad with a focus group. The display flushes
// into a framebuffer the tests read; the input devices report what the tests set.
#ifndef LVGL_TEST_ENV_H
#define LVGL_TEST_ENV_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lvgl.h"

namespace lvgl_test {

void advance_clock(uint32_t ms);
long live_allocations();
// The allocation after `count` more that succeed fails (alloc or realloc);
// -1 disarms. Armed: the failure has not happened yet.
void fail_allocation_after(long count);
bool allocation_failure_armed();

class LvglTest : public ::testing::Test {
protected:
    static constexpr lv_coord_t kWidth = 900;
    static constexpr lv_coord_t kHeight = 560;
    static constexpr uint32_t kBufLines = 56;

    void SetUp() override;
    void TearDown() override;

    // Moves the clock on in steps of 10 ms, running the task handler after each step.
    void run_for(uint32_t ms);
    // Redraws what is invalidated now.
    void refresh();

    void press_at(lv_coord_t x, lv_coord_t y);
    void release();
    void click_at(lv_coord_t x, lv_coord_t y);
    void click_obj(const lv_obj_t *obj);
    void key_down(uint32_t key);
    void key_up();
    void tap_key(uint32_t key);

    lv_color_t pixel(lv_coord_t x, lv_coord_t y) const;
    // Writes the framebuffer as a binary PPM.
    void write_ppm(const std::string &path) const;

    lv_obj_t *scr = nullptr;
    lv_disp_t *disp = nullptr;
    lv_indev_t *pointer = nullptr;
    lv_indev_t *keypad = nullptr;
    lv_group_t *group = nullptr;

    std::vector<lv_area_t> flushed;  // every flushed area, in order
    bool defer_flush_ready = false;  // flush_cb leaves the buffer busy ...
    int wait_calls = 0;              // ... and wait_cb frees it, counting the waits
    std::function<void()> on_wait;   // runs in wait_cb, as other threads may meanwhile

private:
    // SetUp's steps in both set-ups: the display over a cleared draw buffer
    // and framebuffer, then the pointer and the keypad with its group.
    void start_display();
    void start_input();

    static void flush_cb(lv_disp_drv_t *drv, const lv_area_t *area, lv_color_t *px);
    static void wait_cb(lv_disp_drv_t *drv);
    static bool pointer_read(lv_indev_drv_t *drv, lv_indev_data_t *data);
    static bool keypad_read(lv_indev_drv_t *drv, lv_indev_data_t *data);

    long blocks_before_ = 0;
    std::vector<lv_color_t> draw_buf_;
    std::vector<lv_color_t> framebuffer_;
    lv_disp_buf_t disp_buf_{};
    lv_point_t point_{};
    bool pressed_ = false;
    uint32_t key_ = 0;
    bool key_pressed_ = false;
};

// Centre of an object.
lv_point_t centre_of(const lv_obj_t *obj);

}  // namespace lvgl_test

#endif

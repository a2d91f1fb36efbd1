// The GUI port on the in-memory window: what the toolkit flushes is what the
// window shows, the left button reaches the toolkit's pointer through the
// input notifier, and the toolkit's memory goes back to the framework heap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "gui_port.h"
#include "zel_disp_memory.h"
#include "zel_test.h"

namespace {

constexpr lv_coord_t kW = 900, kH = 560;

struct Gui {
    std::vector<lv_color_t> draw_buf = std::vector<lv_color_t>(kW * 56);
    lv_disp_buf_t disp_buf{};
    lv_disp_t *disp = nullptr;
    lv_style_t red{};
    lv_obj_t *target = nullptr;
    int clicks = 0;
    int presses = 0;
};
Gui *g_gui = nullptr;

void on_event(lv_obj_t *, lv_event_t e) {
    if (e == LV_EVENT_PRESSED) g_gui->presses++;
    if (e == LV_EVENT_CLICKED) g_gui->clicks++;
}

// Runs the task handler every 10 ms until `done` holds (at most `passes` times).
bool pump_until(const std::function<bool()> &done, int passes = 300) {
    bool ok = false;
    EXPECT_TRUE(zel_test::run_in_thread([&] {
        for (int i = 0; i < passes && !(ok = done()); i++) {
            lv_task_handler();
            gui_port::sleep_ms(10);
        }
    }));
    return ok;
}

TEST(GuiPort, WindowShowsTheFlushAndTheMouseClicks) {
    setenv("ZEL_DISPLAY", "memory", 1);
    ASSERT_TRUE(gui_port::start());
    Gui gui;
    g_gui = &gui;
    long blocks_before = 0;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        blocks_before = gui_port::live_blocks();
        lv_init();
        lv_disp_buf_init(&gui.disp_buf, gui.draw_buf.data(), nullptr, (uint32_t)gui.draw_buf.size());
        lv_disp_drv_t drv;
        lv_disp_drv_init(&drv);
        drv.hor_res = kW;
        drv.ver_res = kH;
        drv.buffer = &gui.disp_buf;
        drv.flush_cb = gui_port::flush;
        drv.wait_cb = gui_port::wait;
        gui.disp = lv_disp_drv_register(&drv);
        gui_port::bind(gui.disp);
        lv_indev_drv_t in;
        lv_indev_drv_init(&in);
        in.type = LV_INDEV_TYPE_POINTER;
        in.read_cb = gui_port::pointer_read;
        lv_indev_drv_register(&in);

        lv_style_init(&gui.red);
        lv_style_set_bg_color(&gui.red, LV_STATE_DEFAULT, LV_COLOR_MAKE(0xFF, 0, 0));
        gui.target = lv_obj_create(lv_scr_act(), nullptr);
        lv_obj_add_style(gui.target, LV_OBJ_PART_MAIN, &gui.red);
        lv_obj_set_size(gui.target, 200, 100);
        lv_obj_set_pos(gui.target, 600, 400);  // across two bands of the draw buffer
        lv_obj_set_event_cb(gui.target, on_event);
        lv_refr_now(gui.disp);
    }));

    // The last band is on the window once its ready report has come.
    ASSERT_TRUE(pump_until([&] { return !gui.disp->driver.buffer->flushing; }));
    EXPECT_EQ(zel_disp_memory_pixel(700, 450), 0x00F80000u);
    EXPECT_NE(zel_disp_memory_pixel(500, 450), 0x00F80000u);

    // A click inside: pressed, then clicked once; one outside does nothing.
    ASSERT_TRUE(zel_disp_memory_button(700, 450, true));
    EXPECT_TRUE(pump_until([&] { return gui.presses == 1; }));
    ASSERT_TRUE(zel_disp_memory_button(700, 450, false));
    EXPECT_TRUE(pump_until([&] { return gui.clicks == 1; }));
    ASSERT_TRUE(zel_disp_memory_button(100, 100, true));
    ASSERT_TRUE(zel_disp_memory_button(100, 100, false));
    pump_until([] { return false; }, 20);
    EXPECT_EQ(gui.presses, 1);
    EXPECT_EQ(gui.clicks, 1);

    ASSERT_TRUE(zel_test::run_in_thread([&] {
        gui_port::unbind(gui.disp);
        lv_deinit();
        lv_style_reset(&gui.red);
    }));
    EXPECT_EQ(gui_port::live_blocks(), blocks_before);
    g_gui = nullptr;
}

}  // namespace

// Input that comes faster than the GUI reads it, through the in-memory
// window: keys and clicks sent back to back all reach their objects, in
// order.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config_screen.h"
#include "main_screen.h"
#include "screens_fixture.h"
#include "zel_disp_memory.h"

namespace {

using namespace screens;

class InputBurst : public ScreensTest {};

TEST_F(InputBurst, KeysAMillisecondApartAreAllTyped) {
    click([] { return main_screen.config_btn; });
    ASSERT_TRUE(wait_gui([] { return config_screen.screen != nullptr; }));
    click([] { return config_screen.pin_area; });
    for (size_t n = area_text(config_screen.pin_area).size(); n > 0; --n) press_key(ZEL_VK_BACK);
    ASSERT_EQ("", area_text(config_screen.pin_area));

    const std::string code = "13572468";
    for (char c : code) {
        ASSERT_TRUE(zel_disp_memory_key(static_cast<uint8_t>(c), true));
        ASSERT_TRUE(zel_disp_memory_key(static_cast<uint8_t>(c), false));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(wait_gui([&] { return code == lv_textarea_get_text(config_screen.pin_area); }));
    EXPECT_EQ(code, area_text(config_screen.pin_area));
}

int g_clicks;
void count_click(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) g_clicks++;
}

TEST_F(InputBurst, PressesAndReleasesBackToBackAreAllClicks) {
    lv_obj_t *target = nullptr;
    lv_area_t a{};
    in_gui([&] {
        g_clicks = 0;
        target = lv_btn_create(main_screen.screen, nullptr);
        lv_obj_set_size(target, 100, 40);
        lv_obj_set_pos(target, 10, 500);
        lv_obj_set_event_cb(target, count_click);
        lv_obj_get_coords(target, &a);
    });
    const int32_t x = (a.x1 + a.x2) / 2, y = (a.y1 + a.y2) / 2;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(zel_disp_memory_button(x, y, true));
        ASSERT_TRUE(zel_disp_memory_button(x, y, false));
    }
    EXPECT_TRUE(wait_gui([] { return g_clicks == 30; }));
    int clicks = 0;
    in_gui([&] {
        clicks = g_clicks;
        lv_obj_del(target);
    });
    EXPECT_EQ(30, clicks);
}

}  // namespace

// Input that comes faster than the GUI reads it, through the in-memory
// window: keys and clicks sent back to back all reach their objects, in
// order.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config_screen.h"
#include "fake_desktop.h"
#include "lvgl_gui.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "screens_fixture.h"
#include "upgrade_screen.h"
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

// Keys typed by a program come so fast that the window system folds each
// release into the next press of the same key: presses of keys that are
// down, and the releases at the very end. Every press is typed.
TEST_F(InputBurst, KeysWhoseReleasesWereFoldedAwayAreAllTyped) {
    click([] { return main_screen.config_btn; });
    ASSERT_TRUE(wait_gui([] { return config_screen.screen != nullptr; }));
    click([] { return config_screen.pin_area; });
    for (size_t n = area_text(config_screen.pin_area).size(); n > 0; --n) press_key(ZEL_VK_BACK);
    ASSERT_EQ("", area_text(config_screen.pin_area));

    const std::string code = "11221212";
    for (char c : code) ASSERT_TRUE(zel_disp_memory_key(static_cast<uint8_t>(c), true));
    ASSERT_TRUE(zel_disp_memory_key('1', false));
    ASSERT_TRUE(zel_disp_memory_key('2', false));
    EXPECT_TRUE(wait_gui([&] { return code == lv_textarea_get_text(config_screen.pin_area); }));
    EXPECT_EQ(code, area_text(config_screen.pin_area));
}

// Typed text comes from the window's text reports: the keys that typed it
// are not typed again, and a burst arrives whole, in order.
TEST_F(InputBurst, TypedTextIsTakenFromTheTextReports) {
    zel_disp_memory_set_typing(true);
    struct Off {
        ~Off() { zel_disp_memory_set_typing(false); }
    } off;
    click([] { return main_screen.config_btn; });
    ASSERT_TRUE(wait_gui([] { return config_screen.screen != nullptr; }));
    click([] { return config_screen.id_area; });
    press_key(ZEL_VK_END);
    for (size_t n = area_text(config_screen.id_area).size(); n > 0; --n) press_key(ZEL_VK_BACK);
    ASSERT_EQ("", area_text(config_screen.id_area));

    std::string sent;
    for (int i = 0; i < 25; ++i) sent += "AbCd";
    for (char c : sent) {
        const bool upper = c >= 'A' && c <= 'Z';
        const uint8_t vk = static_cast<uint8_t>(upper ? c : c - 'a' + 'A');
        if (upper) {
            ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, true));
        }
        ASSERT_TRUE(zel_disp_memory_key(vk, true));
        ASSERT_TRUE(zel_disp_memory_text(std::string(1, c).c_str()));
        ASSERT_TRUE(zel_disp_memory_key(vk, false));
        if (upper) {
            ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, false));
        }
    }
    EXPECT_TRUE(wait_gui([&] { return sent == lv_textarea_get_text(config_screen.id_area); }));
    EXPECT_EQ(sent, area_text(config_screen.id_area));
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

// Two clicks at the middle of `which`, queued at once, before the GUI reads
// the first: a double click faster than the GUI builds the next screen.
void double_click(const std::function<lv_obj_t *()> &which) {
    wait_shown();
    in_gui([&] {
        lv_area_t a{};
        lv_obj_get_coords(which(), &a);
        zel_input_evt_t e{};
        e.device = zel_disp_get();
        e.value = uint32_t((a.x1 + a.x2) / 2) | (uint32_t((a.y1 + a.y2) / 2) << 16);
        e.screen_w = 900;
        e.screen_h = 560;
        for (int i = 0; i < 4; ++i) {
            e.id = i % 2 == 0 ? ZEL_INPUT_TOUCH_PRESSED : 0;
            lvgl_input_on_evt(nullptr, ZEL_INPUT_TYPE_TOUCH, &e);
        }
    });
    EXPECT_TRUE(wait_gui([] { return lvgl_gui.touches.count == 0; }));
}

// The second click of a double click does not act on the screen the first
// one opened, whatever lies under the pointer there.
TEST_F(InputBurst, ADoubleClickOpensAScreenAndDoesNothingOnIt) {
    fake_desktop::clipboard_holds("", 1);
    fake_desktop::forget_runs();
    double_click([] { return main_screen.config_btn; });
    ASSERT_TRUE(wait_gui([] { return config_screen.screen != nullptr; }));
    // The screen fills its fields from the adapter's files after it opens.
    EXPECT_TRUE(wait_gui([] { return config_screen.id_area && *lv_textarea_get_text(config_screen.id_area); }));
    // A later click is a click again: the GUI has read everything queued.
    click(button_of(config_screen.screen, "不保存返回"));
    ASSERT_TRUE(wait_gui([] { return main_screen.screen != nullptr; }));
    EXPECT_TRUE(fake_desktop::last_args("xclip").empty()) << "the second click pasted";

    fake_desktop::forget_runs();
    double_click([] { return main_screen.upgrade_btn; });
    ASSERT_TRUE(wait_gui([] { return upgrade_screen.screen != nullptr; }));
    click(button_of(upgrade_screen.screen, "返回"));
    ASSERT_TRUE(wait_gui([] { return main_screen.screen != nullptr; }));
    EXPECT_TRUE(fake_desktop::last_args("zenity").empty()) << "the second click opened the file dialog";
}

// A double click at a person's speed: the first click opens a screen, the
// second comes `gap_ms` after that screen was shown, at the same place.
void human_double_click(
    const std::function<lv_obj_t *()> &which, const std::function<bool()> &opened, uint64_t gap_ms) {
    wait_shown();
    lv_area_t a{};
    in_gui([&] { lv_obj_get_coords(which(), &a); });
    const int32_t x = (a.x1 + a.x2) / 2, y = (a.y1 + a.y2) / 2;
    ASSERT_TRUE(zel_disp_memory_button(x, y, true));
    ASSERT_TRUE(zel_disp_memory_button(x, y, false));
    ASSERT_TRUE(wait_gui([&] { return opened() && lvgl_gui.screens_shown == lvgl_gui.screens_built; }));
    in_gui([&] {
        zel_input_evt_t e{};
        e.device = zel_disp_get();
        e.value = uint32_t(x) | (uint32_t(y) << 16);
        e.screen_w = 900;
        e.screen_h = 560;
        e.id = ZEL_INPUT_TOUCH_PRESSED;
        lvgl_input_take(ZEL_INPUT_TYPE_TOUCH, &e, lvgl_gui.shown_ms + gap_ms);
        e.id = 0;
        lvgl_input_take(ZEL_INPUT_TYPE_TOUCH, &e, lvgl_gui.shown_ms + gap_ms + 60);
    });
    EXPECT_TRUE(wait_gui([] { return lvgl_gui.touches.count == 0; }));
}

// The second click of a double click at a person's speed, which comes once
// the new screen is drawn, does nothing on it either.
TEST_F(InputBurst, ADoubleClickAtAPersonsSpeedDoesNothingOnTheScreenItOpened) {
    fake_desktop::clipboard_holds("", 1);
    for (uint64_t gap : {50u, 120u, 250u}) {
        fake_desktop::forget_runs();
        human_double_click([] { return main_screen.config_btn; }, [] { return config_screen.screen != nullptr; }, gap);
        const std::string message = label_text(config_screen.message);
        click(button_of(config_screen.screen, "不保存返回"));
        ASSERT_TRUE(wait_gui([] { return main_screen.screen != nullptr; }));
        EXPECT_TRUE(fake_desktop::last_args("xclip").empty()) << "the second click pasted, " << gap << " ms";
        EXPECT_EQ("", message) << gap << " ms";

        fake_desktop::forget_runs();
        human_double_click(
            [] { return main_screen.upgrade_btn; }, [] { return upgrade_screen.screen != nullptr; }, gap);
        click(button_of(upgrade_screen.screen, "返回"));
        ASSERT_TRUE(wait_gui([] { return main_screen.screen != nullptr; }));
        EXPECT_TRUE(fake_desktop::last_args("zenity").empty())
            << "the second click opened the file dialog, " << gap << " ms";
    }
}

}  // namespace

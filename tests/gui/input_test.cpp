// The input path between the notifier and LVGL's read callbacks: what each
// read reports after the window's events, and which reports are traced.
#include <gtest/gtest.h>

#include <string>

#include "lvgl_gui.h"
#include "lvgl_port.h"
#include "zel_test.h"

namespace {

constexpr uint64_t kShifted = 0x200, kPress = ZEL_INPUT_KEY_PRESS;

class GuiInput : public testing::Test {
protected:
    void SetUp() override {
        zel_test::boot();
        lvgl_gui.keypad = lvgl_keypad_report_t{};
        lvgl_gui.gui_agent = nullptr;
    }
    static void key(uint64_t id) {
        zel_input_evt_t e{};
        e.id = id;
        lvgl_input_on_evt(nullptr, ZEL_INPUT_TYPE_KEYBOARD, &e);
    }
    static void touch(uint64_t id, uint16_t x, uint16_t y) {
        zel_input_evt_t e{};
        e.id = id;
        e.value = x | (uint32_t)y << 16;
        lvgl_input_on_evt(nullptr, ZEL_INPUT_TYPE_TOUCH, &e);
    }
    // One read: "<key> PR|REL" and "+" when more data waits.
    std::string read() {
        lv_indev_data_t d{};
        bool more = lvgl_keypad_read(nullptr, &d);
        return std::to_string(d.key) + (d.state == LV_INDEV_STATE_PR ? " PR" : " REL") + (more ? " +" : "");
    }
    size_t traced(const std::string &what) {
        std::string t = trace.text();
        size_t n = 0;
        for (size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1)) n++;
        return n;
    }
    zel_test::TraceCapture trace;
};

TEST_F(GuiInput, AKeyChangeWhileHeldReleasesTheOldKeyFirst) {
    key(kPress | kShifted | 4);  // Shift+A
    EXPECT_EQ("65 PR", read());
    EXPECT_EQ("65 PR", read()) << "held: reported at every read";
    EXPECT_EQ(2u, traced("first send, key: 65, status: LV_INDEV_STATE_PR"));

    key(kPress | kShifted | 5);  // Shift+B, A still down
    EXPECT_EQ("65 REL +", read());
    EXPECT_EQ(1u, traced("more send, key: 65, status: LV_INDEV_STATE_REL"));
    EXPECT_EQ("66 PR", read());
    EXPECT_EQ(1u, traced("first send, key: 66, status: LV_INDEV_STATE_PR"));

    key(kShifted | 5);  // B up
    EXPECT_EQ("66 REL", read());
    EXPECT_EQ(0u, traced("key: 66, status: LV_INDEV_STATE_REL")) << "a plain release is not traced";
}

TEST_F(GuiInput, AHeldBackReleaseIsReportedButNotTraced) {
    key(kPress | 30);  // '1'
    EXPECT_EQ("49 PR", read());
    key(31);  // a release of '2' arrives while '1' counts as held
    EXPECT_EQ("49 REL +", read());
    EXPECT_EQ("50 REL", read());
    EXPECT_EQ(0u, traced("key: 50"));
    EXPECT_EQ("50 REL", read());
}

TEST_F(GuiInput, ThePointerFollowsTouchPointZeroOnly) {
    touch(ZEL_INPUT_TOUCH_PRESSED, 120, 340);
    lv_indev_data_t d{};
    EXPECT_FALSE(lvgl_pointer_read(nullptr, &d));
    EXPECT_EQ(LV_INDEV_STATE_PR, d.state);
    EXPECT_EQ(120, d.point.x);
    EXPECT_EQ(340, d.point.y);

    touch(ZEL_INPUT_TOUCH_PRESSED | 1, 5, 6);  // another touch point
    lvgl_pointer_read(nullptr, &d);
    EXPECT_EQ(120, d.point.x);

    touch(0, 121, 341);
    lvgl_pointer_read(nullptr, &d);
    EXPECT_EQ(LV_INDEV_STATE_REL, d.state);
    EXPECT_EQ(121, d.point.x);
}

TEST_F(GuiInput, EventsWakeTheGuiThreadOnlyOnceItRuns) {
    zel_test::run_as_irq([] {
        lvgl_gui.fast_passes = 0;
        zel_eda_sync_init(&lvgl_gui.wake, 0, 32767);
    });
    key(kPress | 4);
    EXPECT_EQ(0u, lvgl_gui.fast_passes);
    EXPECT_EQ(0, lvgl_gui.wake.count);

    zel_test::Agent gui;
    zel_test::run_as_irq([&] { lvgl_gui.gui_agent = gui.eda(); });
    zel_test::run_as_irq([] {
        zel_input_evt_t e{};
        e.id = 4;
        lvgl_input_on_evt(nullptr, ZEL_INPUT_TYPE_KEYBOARD, &e);
        lvgl_input_on_evt(nullptr, 1, &e);  // a type nobody reports
    });
    EXPECT_EQ(LVGL_FAST_PASSES, lvgl_gui.fast_passes);
    EXPECT_EQ(1, lvgl_gui.wake.count);
    lvgl_gui.gui_agent = nullptr;
}

}  // namespace

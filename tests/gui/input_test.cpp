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
        lvgl_gui.keys = lvgl_input_queue_t{};
        lvgl_gui.touches = lvgl_input_queue_t{};
        lvgl_gui.last_key = zel_input_evt_t{};
        lvgl_gui.last_touch = zel_input_evt_t{};
        lvgl_gui.gui_agent = nullptr;
        lvgl_gui.screens_built = lvgl_gui.screens_shown = lvgl_gui.touches_stale = 0;
        lvgl_gui.shown_ms = 0;
        lvgl_gui.press_ignored = 0;
        now_ms = LVGL_DOUBLE_CLICK_MS;
    }
    // A refresh pass of a display with nothing to draw; the events after it
    // come once the double-click time has passed.
    static void refresh() {
        static lv_disp_t disp{};
        lv_task_t task{};
        task.user_data = &disp;
        lvgl_screen_refresh_task(&task);
        now_ms = lvgl_gui.shown_ms + LVGL_DOUBLE_CLICK_MS;
    }
    // When the next events come (system timer, ms).
    static inline uint64_t now_ms;
    static void key(uint64_t id) {
        zel_input_evt_t e{};
        e.id = id;
        lvgl_input_on_evt(nullptr, ZEL_INPUT_TYPE_KEYBOARD, &e);
    }
    // A typed character (a text report).
    static void text(uint32_t code_point) {
        zel_input_evt_t e{};
        e.id = ZEL_INPUT_KEY_TEXT | ZEL_INPUT_KEY_PRESS;
        e.value = code_point;
        lvgl_input_on_evt(nullptr, ZEL_INPUT_TYPE_KEYBOARD, &e);
    }
    static void touch(uint64_t id, uint16_t x, uint16_t y) {
        zel_input_evt_t e{};
        e.id = id;
        e.value = x | (uint32_t)y << 16;
        lvgl_input_take(ZEL_INPUT_TYPE_TOUCH, &e, now_ms);
    }
    // One read: "<key> PR|REL" and "+" when more data waits.
    std::string read() {
        lv_indev_data_t d{};
        bool more = lvgl_keypad_read(nullptr, &d);
        return std::to_string(d.key) + (d.state == LV_INDEV_STATE_PR ? " PR" : " REL") + (more ? " +" : "");
    }
    // One pointer read: "PR|REL x,y" and "+" when more data waits.
    static std::string point() {
        lv_indev_data_t d{};
        bool more = lvgl_pointer_read(nullptr, &d);
        return std::string(d.state == LV_INDEV_STATE_PR ? "PR " : "REL ") + std::to_string(d.point.x) + "," +
               std::to_string(d.point.y) + (more ? " +" : "");
    }
    size_t traced(const std::string &what) {
        std::string t = trace.text();
        size_t n = 0;
        for (size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1)) n++;
        return n;
    }
    zel_test::TraceCapture trace;
};

// Pointer reports queued before a new screen was drawn were aimed at the
// screen before it: they go, and the pointer counts as released until a
// press that came after.
TEST_F(GuiInput, PointerReportsFromBeforeANewScreenWasShownAreDropped) {
    touch(ZEL_INPUT_TOUCH_PRESSED, 10, 10);
    EXPECT_EQ("PR 10,10", point());
    touch(0, 10, 10);
    touch(ZEL_INPUT_TOUCH_PRESSED, 11, 11);  // the second click of a double click
    lvgl_input_screen_built();
    touch(0, 11, 11);
    touch(ZEL_INPUT_TOUCH_PRESSED, 12, 12);  // while the new screen is not drawn yet
    EXPECT_EQ("REL 12,12", point());
    EXPECT_EQ(0u, lvgl_gui.touches.count);

    touch(0, 12, 12);  // queued before the pass that draws the screen
    refresh();
    touch(ZEL_INPUT_TOUCH_PRESSED, 30, 30);  // after it: a press on what is shown
    EXPECT_EQ("PR 30,30", point());
    touch(0, 30, 30);
    EXPECT_EQ("REL 30,30", point());

    // No new screen: nothing is dropped.
    refresh();
    touch(ZEL_INPUT_TOUCH_PRESSED, 40, 40);
    touch(0, 40, 40);
    EXPECT_EQ("PR 40,40 +", point());
    EXPECT_EQ("REL 40,40", point());
}

// A press that comes within the double-click time of a new screen being
// shown was meant for the screen before: it does nothing up to its
// release, however long it is held; the first press after that time acts.
TEST_F(GuiInput, PressesWithinTheDoubleClickTimeOfANewScreenDoNothingOnIt) {
    lvgl_input_screen_built();
    refresh();
    const uint64_t shown = lvgl_gui.shown_ms;
    EXPECT_FALSE(lvgl_input_press_acts_at(shown + LVGL_DOUBLE_CLICK_MS - 1));
    EXPECT_TRUE(lvgl_input_press_acts_at(shown + LVGL_DOUBLE_CLICK_MS));
    for (uint64_t after : {0u, 50u, 120u, 250u, LVGL_DOUBLE_CLICK_MS - 1}) {
        now_ms = shown + after;
        touch(ZEL_INPUT_TOUCH_PRESSED, 20, 20);
        now_ms = shown + LVGL_DOUBLE_CLICK_MS + 100;  // held past the time: still the same press
        touch(ZEL_INPUT_TOUCH_PRESSED, 21, 20);
        touch(0, 21, 20);
        EXPECT_EQ("REL 20,20 +", point()) << after << " ms after";
        EXPECT_EQ("REL 21,20 +", point()) << after << " ms after";
        EXPECT_EQ("REL 21,20", point()) << after << " ms after";
    }
    now_ms = shown + LVGL_DOUBLE_CLICK_MS;
    touch(ZEL_INPUT_TOUCH_PRESSED, 30, 30);
    touch(0, 30, 30);
    EXPECT_EQ("PR 30,30 +", point());
    EXPECT_EQ("REL 30,30", point());

    // The time runs from the newest screen's showing.
    lvgl_input_screen_built();
    EXPECT_FALSE(lvgl_input_press_acts_at(shown + 10 * LVGL_DOUBLE_CLICK_MS)) << "not shown yet";
    refresh();
    now_ms = lvgl_gui.shown_ms + 10;
    touch(ZEL_INPUT_TOUCH_PRESSED, 40, 40);
    EXPECT_EQ("REL 40,40", point());
    touch(0, 40, 40);
    EXPECT_EQ("REL 40,40", point());
}

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

// Typed characters come from the text reports, each pressed then released;
// the keys that typed them are not typed again. A character typed while
// a key is held releases that key first.
TEST_F(GuiInput, TypedCharactersComeFromTextReportsOnce) {
    key(kPress | ZEL_INPUT_KEY_TYPED | ZEL_INPUT_KEY_SHIFT | kShifted | 4);  // Shift+A, its character follows
    EXPECT_EQ(0u, lvgl_gui.keys.count);
    text('A');
    EXPECT_EQ("65 PR +", read());
    EXPECT_EQ("65 REL", read());
    EXPECT_EQ("65 REL", read()) << "read again: not typed again";
    text(0x4E2D);  // beyond ASCII
    EXPECT_EQ(std::to_string(0x4E2D) + " PR +", read());
    EXPECT_EQ(std::to_string(0x4E2D) + " REL", read());

    key(kPress | 40);  // Enter, held
    EXPECT_EQ("10 PR", read());
    text('b');
    EXPECT_EQ("10 REL +", read());
    EXPECT_EQ("98 PR +", read());
    EXPECT_EQ("98 REL", read());
    EXPECT_EQ(1u, traced("key: 98, status: LV_INDEV_STATE_PR")) << "the press once";

    // A burst far longer than a line of text: every character, in order.
    std::string sent, typed;
    for (int i = 0; i < 600; ++i) sent += static_cast<char>("AbCd"[i % 4]);
    for (char c : sent) text(static_cast<uint32_t>(c));
    EXPECT_EQ(0u, lvgl_gui.keys.dropped);
    bool more = true;
    for (int reads = 0; more && reads < 5000; ++reads) {
        lv_indev_data_t d{};
        more = lvgl_keypad_read(nullptr, &d);
        if (d.state == LV_INDEV_STATE_PR) typed += static_cast<char>(d.key);
    }
    EXPECT_EQ(sent, typed);
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

TEST_F(GuiInput, BackToBackKeysAreEachReadInOrder) {
    const std::string digits = "13572468";
    for (char c : digits) {
        uint64_t usage = c == '0' ? 39 : 30 + (c - '1');
        key(kPress | usage);
        key(usage);
    }
    std::string typed;
    bool more = true;
    for (int reads = 0; more && reads < 100; ++reads) {
        lv_indev_data_t d{};
        more = lvgl_keypad_read(nullptr, &d);
        if (d.state == LV_INDEV_STATE_PR) typed += static_cast<char>(d.key);
    }
    EXPECT_EQ(digits, typed);
    EXPECT_FALSE(more) << "read to the end";
    EXPECT_EQ("56 REL", read()) << "the last key, released, once all are read";
}

TEST_F(GuiInput, BackToBackClicksAreEachReadInOrder) {
    for (uint16_t i = 0; i < 30; ++i) {
        touch(ZEL_INPUT_TOUCH_PRESSED, i, 7);
        touch(0, i, 7);
    }
    std::string reads;
    for (uint16_t i = 0; i < 30; ++i) {
        const std::string x = std::to_string(i);
        EXPECT_EQ("PR " + x + ",7 +", point());
        EXPECT_EQ("REL " + x + ",7" + (i < 29 ? " +" : ""), point());
    }
    EXPECT_EQ("REL 29,7", point()) << "the last report, once all are read";
}

TEST_F(GuiInput, AFullQueueDropsItsOldestMoveButNoPressOrRelease) {
    touch(ZEL_INPUT_TOUCH_PRESSED, 1, 1);                                                           // the press
    for (uint16_t x = 2; x < LVGL_INPUT_QUEUE_LEN + 20; ++x) touch(ZEL_INPUT_TOUCH_PRESSED, x, 1);  // drags
    touch(0, 500, 1);                                                                               // the release
    EXPECT_EQ(0u, lvgl_gui.touches.dropped);
    EXPECT_EQ("PR 1,1 +", point());
    std::string last;
    for (uint32_t reads = 0; reads < 4 * LVGL_INPUT_QUEUE_LEN; ++reads) {
        last = point();
        if (last.back() != '+') break;
    }
    EXPECT_EQ("REL 500,1", last);

    // Nothing but presses and releases: the newest is refused and counted.
    for (uint32_t i = 0; i < LVGL_INPUT_QUEUE_LEN; ++i) touch(i % 2 ? 0 : ZEL_INPUT_TOUCH_PRESSED, 3, 3);
    touch(ZEL_INPUT_TOUCH_PRESSED, 4, 4);
    EXPECT_EQ(1u, lvgl_gui.touches.dropped);
    for (uint32_t i = 0; i < LVGL_INPUT_QUEUE_LEN; ++i) point();
    EXPECT_EQ("REL 3,3", point()) << "what was queued is read whole";
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
        EXPECT_EQ(0, zel_eda_sync_init(&lvgl_gui.wake, 0, 32767));
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

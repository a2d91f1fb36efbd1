// Keyboard and mouse reports of the in-memory window, and the notifier list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "display_fixture.h"
#include "zel_disp_memory.h"
#include "zel_test.h"

namespace {

using disp_test::Input;
using disp_test::take_inputs;

const bool kMemoryWindow = setenv("ZEL_DISPLAY", "memory", 1) == 0;

constexpr uint64_t kPress = ZEL_INPUT_KEY_PRESS;
constexpr uint64_t kShift = ZEL_INPUT_KEY_SHIFT;
constexpr uint64_t kCaps = ZEL_INPUT_KEY_CAPS_LOCK;
constexpr uint64_t kNum = ZEL_INPUT_KEY_NUM_LOCK;

class WindowInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kMemoryWindow);
        ASSERT_TRUE(disp_test::start_display());
        disp_test::listen_to_input();
        zel_disp_memory_set_locks(0);
        take_inputs();
    }

    // Presses and releases `vk`; the ids of the two keyboard reports.
    static std::vector<uint64_t> tap(uint8_t vk) {
        EXPECT_TRUE(zel_disp_memory_key(vk, true));
        EXPECT_TRUE(zel_disp_memory_key(vk, false));
        return key_ids();
    }

    static std::vector<uint64_t> key_ids() {
        std::vector<uint64_t> ids;
        for (const Input &in : take_inputs()) {
            EXPECT_EQ(5u, in.type);
            EXPECT_EQ(zel_disp_get(), in.evt.device);
            ids.push_back(in.evt.id);
        }
        return ids;
    }
};
using KeyboardReport = WindowInput;
using MouseReport = WindowInput;

TEST_F(KeyboardReport, LettersFollowShiftAndCapsLock) {
    EXPECT_EQ((std::vector<uint64_t>{4 | kPress, 4}), tap('A'));

    zel_disp_memory_set_locks(ZEL_DISP_LOCK_CAPS);
    EXPECT_EQ((std::vector<uint64_t>{0x204 | kPress | kCaps, 0x204 | kCaps}), tap('A'));

    ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, true));
    EXPECT_EQ((std::vector<uint64_t>{225 | kPress | kShift | kCaps}), key_ids());
    EXPECT_EQ((std::vector<uint64_t>{4 | kPress | kShift | kCaps, 4 | kShift | kCaps}), tap('A'));
    ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, false));
    EXPECT_EQ((std::vector<uint64_t>{225 | kCaps}), key_ids());
}

TEST_F(KeyboardReport, ShiftedPrintableKeysAndFixedKeys) {
    ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, true));
    take_inputs();
    EXPECT_EQ((std::vector<uint64_t>{(31 + 0x200) | kPress | kShift, (31 + 0x200) | kShift}), tap('2'));
    EXPECT_EQ((std::vector<uint64_t>{(39 + 0x200) | kPress | kShift, (39 + 0x200) | kShift}), tap('0'));
    EXPECT_EQ((std::vector<uint64_t>{(56 + 0x200) | kPress | kShift, (56 + 0x200) | kShift}), tap(ZEL_VK_OEM_2));
    // F-keys and editing keys take no shift.
    EXPECT_EQ((std::vector<uint64_t>{58 | kPress | kShift, 58 | kShift}), tap(ZEL_VK_F1));
    EXPECT_EQ((std::vector<uint64_t>{76 | kPress | kShift, 76 | kShift}), tap(ZEL_VK_DELETE));
    ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, false));
    take_inputs();

    EXPECT_EQ((std::vector<uint64_t>{69 | kPress, 69}), tap(ZEL_VK_F1 + 11));
    EXPECT_EQ((std::vector<uint64_t>{40 | kPress, 40}), tap(ZEL_VK_RETURN));
}

TEST_F(KeyboardReport, KeypadLocksAndUnmappedKeys) {
    zel_disp_memory_set_locks(ZEL_DISP_LOCK_NUM);
    EXPECT_EQ((std::vector<uint64_t>{93 | kPress | kNum, 93 | kNum}), tap(ZEL_VK_NUMPAD0 + 5));
    EXPECT_EQ((std::vector<uint64_t>{98 | kPress | kNum, 98 | kNum}), tap(ZEL_VK_NUMPAD0));

    zel_disp_memory_set_locks(ZEL_DISP_LOCK_SCROLL);
    EXPECT_EQ(
        (std::vector<uint64_t>{0 | kPress | ZEL_INPUT_KEY_SCROLL_LOCK, ZEL_INPUT_KEY_SCROLL_LOCK}), tap(ZEL_VK_APPS));
    zel_disp_memory_set_locks(0);
    EXPECT_EQ((std::vector<uint64_t>{kPress, 0}), tap(ZEL_VK_F1 + 12));  // F13
    EXPECT_EQ((std::vector<uint64_t>{kPress, 0}), tap(ZEL_VK_OEM_102));
}

TEST_F(KeyboardReport, ModifierBitsFollowTheHeldKeys) {
    const uint8_t mods[] = {ZEL_VK_CONTROL, ZEL_VK_MENU, ZEL_VK_LWIN, ZEL_VK_RWIN};
    for (uint8_t vk : mods) ASSERT_TRUE(zel_disp_memory_key(vk, true));
    take_inputs();
    const uint64_t all = ZEL_INPUT_KEY_CTRL | ZEL_INPUT_KEY_ALT | ZEL_INPUT_KEY_LWIN | ZEL_INPUT_KEY_RWIN;
    EXPECT_EQ((std::vector<uint64_t>{6 | kPress | all, 6 | all}), tap('C'));
    for (uint8_t vk : mods) ASSERT_TRUE(zel_disp_memory_key(vk, false));
    std::vector<uint64_t> releases = key_ids();
    ASSERT_EQ(4u, releases.size());
    EXPECT_EQ(227 | ZEL_INPUT_KEY_RWIN, releases[2]);  // left Windows key up, right still down
    EXPECT_EQ(231u, releases[3]);
}

// A press of a key that is down (a held key's repeat, or a release the
// window system folded into the next press) is that key's release, then its
// press: no press is lost, none is reported twice in a row.
TEST_F(KeyboardReport, APressOfAKeyThatIsDownIsAReleaseThenAPress) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(zel_disp_memory_key('B', true));
    ASSERT_TRUE(zel_disp_memory_key('B', false));
    EXPECT_EQ((std::vector<uint64_t>{5 | kPress, 5, 5 | kPress, 5, 5 | kPress, 5}), key_ids());
    // Released: the next press is a press again.
    EXPECT_EQ((std::vector<uint64_t>{5 | kPress, 5}), tap('B'));

    // Two keys whose releases were folded away, and Shift with them.
    ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, true));
    ASSERT_TRUE(zel_disp_memory_key('A', true));
    ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, true));
    ASSERT_TRUE(zel_disp_memory_key('A', true));
    ASSERT_TRUE(zel_disp_memory_key('A', false));
    ASSERT_TRUE(zel_disp_memory_key(ZEL_VK_SHIFT, false));
    const uint64_t shift = 225, a = 0x204;
    EXPECT_EQ((std::vector<uint64_t>{shift | kPress | kShift, a | kPress | kShift, shift, shift | kPress | kShift,
                  a | kShift, a | kPress | kShift, a | kShift, shift}),
        key_ids());
}

TEST_F(MouseReport, LeftButtonReportsPressAndReleaseWithPosition) {
    ASSERT_TRUE(zel_disp_memory_mouse_move(300, 300));
    ASSERT_TRUE(zel_disp_memory_button(100, 200, true));
    EXPECT_TRUE(zel_disp_memory_captured());
    ASSERT_TRUE(zel_disp_memory_mouse_move(120, 210));
    ASSERT_TRUE(zel_disp_memory_button(120, 210, false));
    EXPECT_FALSE(zel_disp_memory_captured());

    std::vector<Input> in = take_inputs();
    ASSERT_EQ(2u, in.size());  // moves are not reported
    EXPECT_EQ(4u, in[0].type);
    EXPECT_EQ(ZEL_INPUT_TOUCH_PRESSED, in[0].evt.id);
    EXPECT_EQ(100, zel_input_touch_x(&in[0].evt));
    EXPECT_EQ(200, zel_input_touch_y(&in[0].evt));
    EXPECT_EQ(0u, in[0].evt.value >> 32);
    EXPECT_EQ(900, in[0].evt.screen_w);
    EXPECT_EQ(560, in[0].evt.screen_h);
    EXPECT_EQ(zel_disp_get(), in[0].evt.device);
    EXPECT_EQ(0u, in[1].evt.id);
    EXPECT_EQ(120, zel_input_touch_x(&in[1].evt));
    EXPECT_EQ(210, zel_input_touch_y(&in[1].evt));
}

TEST_F(MouseReport, ReleaseOutsideTheWindowIsClampedToIt) {
    const int32_t outside[][2] = {{1000, -40}, {-5, 700}, {450, 560}};
    const uint16_t expect[][2] = {{899, 0}, {0, 559}, {450, 559}};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(zel_disp_memory_button(450, 280, true));
        ASSERT_TRUE(zel_disp_memory_button(outside[i][0], outside[i][1], false));
        std::vector<Input> in = take_inputs();
        ASSERT_EQ(2u, in.size());
        EXPECT_EQ(0u, in[1].evt.id);
        EXPECT_EQ(expect[i][0], zel_input_touch_x(&in[1].evt));
        EXPECT_EQ(expect[i][1], zel_input_touch_y(&in[1].evt));
    }
}

TEST(InputNotifier, MasksPickTypesAndNewestComesFirst) {
    ASSERT_TRUE(kMemoryWindow);
    static disp_test::Recorder both("both", 0x30), touch("touch", 0x10), keys("keys", 0x20);
    both.register_now();
    touch.register_now();
    keys.register_now();
    keys.register_now();  // a second registration changes nothing
    EXPECT_EQ(0x32, both.notifier()->mask);
    take_inputs();

    zel_input_evt_t evt = {};
    auto names = [] {
        std::vector<std::string> out;
        for (const Input &in : take_inputs()) {
            if (in.notifier != "kb+touch") out.push_back(in.notifier + ":" + std::to_string(in.type));
        }
        return out;
    };
    zel_test::run_as_irq([&] { zel_input_notify_keyboard(&evt); });
    EXPECT_EQ((std::vector<std::string>{"keys:5", "both:5"}), names());
    zel_test::run_as_irq([&] { zel_input_notify_touch(&evt); });
    EXPECT_EQ((std::vector<std::string>{"touch:4", "both:4"}), names());
    // Type 1 reaches every notifier through the bit that registration sets.
    zel_test::run_as_irq([&] { zel_input_notify(1, &evt); });
    EXPECT_EQ((std::vector<std::string>{"keys:1", "touch:1", "both:1"}), names());
    zel_test::run_as_irq([&] {
        zel_input_notify(3, &evt);
        zel_input_notify(9, &evt);
    });
    EXPECT_TRUE(names().empty());
}

}  // namespace

// The SDL window, on SDL's dummy video driver: no desktop needed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "display_fixture.h"
#include "zel_disp_sdl.h"
#include "zel_disp_window.h"
#include "zel_test.h"

namespace {

using disp_test::Input;

const bool kDummyDriver = unsetenv("ZEL_DISPLAY") == 0 && setenv("SDL_VIDEODRIVER", "dummy", 1) == 0;

uint16_t usage_of(uint16_t scancode, bool num_lock) {
    return zel_disp_vk_to_usage(zel_disp_sdl_vk_of(scancode, num_lock), false, false);
}

TEST(SdlKeys, ScancodesComeBackAsTheSameUsage) {
    // SDL's scancodes are HID usages; through the virtual keys most of them
    // come back unchanged.
    for (uint16_t sc = 4; sc <= 99; ++sc) {
        if (sc == 50 || sc == 88) continue;  // below
        EXPECT_EQ(sc, usage_of(sc, true)) << "scancode " << sc;
    }
    for (uint16_t sc : {224, 225, 226, 227, 231}) EXPECT_EQ(sc, usage_of(sc, true)) << "scancode " << sc;

    EXPECT_EQ(49, usage_of(50, true));    // non-US '#' sits where '\' is
    EXPECT_EQ(40, usage_of(88, true));    // keypad Enter is Enter
    EXPECT_EQ(224, usage_of(228, true));  // right Ctrl, Shift and Alt are the left ones
    EXPECT_EQ(225, usage_of(229, true));
    EXPECT_EQ(226, usage_of(230, true));
}

TEST(SdlKeys, KeypadFollowsNumLockAndOthersAreUnmapped) {
    EXPECT_EQ(ZEL_VK_NUMPAD0 + 5, zel_disp_sdl_vk_of(93, true));
    EXPECT_EQ(ZEL_VK_CLEAR, zel_disp_sdl_vk_of(93, false));
    EXPECT_EQ(74, usage_of(95, false));  // keypad 7 is Home
    EXPECT_EQ(76, usage_of(99, false));  // keypad point is Delete
    EXPECT_EQ(0, usage_of(93, false));

    EXPECT_EQ(0, usage_of(101, true));  // Application key
    EXPECT_EQ(0, usage_of(104, true));  // F13
    EXPECT_EQ(0, zel_disp_sdl_vk_of(0, true));
    EXPECT_EQ(0, zel_disp_sdl_vk_of(600, true));
}

class SdlWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kDummyDriver);
        ASSERT_TRUE(disp_test::start_display());
        disp_test::listen_to_input();
        disp_test::take_inputs();
    }
};

TEST_F(SdlWindow, ShowsRefreshesAndReportsInput) {
    EXPECT_EQ("disp_windgi", disp_test::ready_stats().last_thread);
    const uint16_t rgb565[3] = {0xF800, 0x07E0, 0xFFFF};
    ASSERT_TRUE(disp_test::refresh_and_wait({897, 559, 3, 1}, rgb565));
    EXPECT_EQ(0x00F80000u, zel_disp_sdl_pixel(897, 559));
    EXPECT_EQ(0x0000FC00u, zel_disp_sdl_pixel(898, 559));
    EXPECT_EQ(0x00F8FCF8u, zel_disp_sdl_pixel(899, 559));

    ASSERT_TRUE(zel_disp_sdl_push_key(4, true, ZEL_DISP_LOCK_CAPS));
    ASSERT_TRUE(zel_disp_sdl_push_key(4, true, ZEL_DISP_LOCK_CAPS));  // a repeat: released, pressed again
    ASSERT_TRUE(zel_disp_sdl_push_key(4, false, ZEL_DISP_LOCK_CAPS));
    ASSERT_TRUE(zel_disp_sdl_push_key(93, true, ZEL_DISP_LOCK_NUM));
    ASSERT_TRUE(zel_disp_sdl_push_key(93, false, 0));  // Num Lock went off meanwhile
    ASSERT_TRUE(zel_disp_sdl_push_button(10, 20, true));
    ASSERT_TRUE(zel_disp_sdl_push_button(-3, 900, false));
    ASSERT_TRUE(disp_test::wait_inputs(8));

    std::vector<Input> in = disp_test::take_inputs();
    ASSERT_EQ(8u, in.size());
    // The window reports typed text: the keys that type a character say so.
    for (int i : {0, 2}) {
        EXPECT_EQ(0x204 | ZEL_INPUT_KEY_PRESS | ZEL_INPUT_KEY_CAPS_LOCK | ZEL_INPUT_KEY_TYPED, in[i].evt.id);
        EXPECT_EQ(0x204 | ZEL_INPUT_KEY_CAPS_LOCK | ZEL_INPUT_KEY_TYPED, in[i + 1].evt.id);
    }
    in.erase(in.begin(), in.begin() + 2);
    EXPECT_EQ(93 | ZEL_INPUT_KEY_PRESS | ZEL_INPUT_KEY_NUM_LOCK | ZEL_INPUT_KEY_TYPED, in[2].evt.id);
    EXPECT_EQ(93u, in[3].evt.id);  // released as the key it went down as
    EXPECT_EQ(4u, in[4].type);
    EXPECT_EQ(ZEL_INPUT_TOUCH_PRESSED, in[4].evt.id);
    EXPECT_EQ(10, zel_input_touch_x(&in[4].evt));
    EXPECT_EQ(20, zel_input_touch_y(&in[4].evt));
    EXPECT_EQ(0u, in[5].evt.id);
    EXPECT_EQ(0, zel_input_touch_x(&in[5].evt));
    EXPECT_EQ(559, zel_input_touch_y(&in[5].evt));
}

zel_test::Signal g_exited;
int g_exit_code = -1;

void record_exit(int code) {
    g_exit_code = code;
    g_exited.set();
}

TEST_F(SdlWindow, ClosingTheWindowEndsTheProcessWithZero) {
    ASSERT_TRUE(disp_test::claim_window_close());
    zel_host_exit_hook_t previous = zel_host_set_exit_hook(record_exit);
    ASSERT_TRUE(zel_disp_sdl_push_close());
    ASSERT_TRUE(g_exited.wait());
    zel_host_set_exit_hook(previous);
    EXPECT_EQ(0, g_exit_code);
}

}  // namespace

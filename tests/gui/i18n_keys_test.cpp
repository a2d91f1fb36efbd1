// Text look-up in the application's packs, and the keys the keypad reports
// for the window's HID usages.
#include <gtest/gtest.h>

#include "i18n.h"
#include "lvgl_port.h"
#include "ui_texts.h"

namespace {

TEST(GuiI18n, EnglishTranslatesOrKeepsTheKeyChineseKeepsEveryKey) {
    ASSERT_EQ(0, i18n_init(i18n_app_packs()));
    EXPECT_EQ(-1, i18n_init(nullptr));

    ASSERT_EQ(0, i18n_set_locale("en-US"));
    EXPECT_STREQ("Upgrade", i18n_get_text("升级"));
    EXPECT_STREQ("Adapter not found", i18n_get_text("请连接适配器"));
    EXPECT_STREQ(UI_TEXT_EXPORT_OK, i18n_get_text(UI_TEXT_EXPORT_OK));
    EXPECT_STREQ("Upgrade", i18n_get_text("升级"));
    // A near miss is no match.
    EXPECT_STREQ("升级 ", i18n_get_text("升级 "));

    EXPECT_EQ(-1, i18n_set_locale("fr-FR"));
    EXPECT_EQ(-1, i18n_set_locale("en"));
    EXPECT_STREQ("Upgrade", i18n_get_text("升级")) << "a refused locale keeps the language";

    ASSERT_EQ(0, i18n_set_locale("zh-CN"));
    EXPECT_STREQ("升级", i18n_get_text("升级"));
    EXPECT_STREQ("确认", i18n_get_text("确认"));
    EXPECT_EQ(nullptr, i18n_get_text(nullptr));
}

TEST(GuiKeys, ShiftedKeysTheirSymbolsOthersNoKey) {
    constexpr uint16_t shift = 0x200;
    EXPECT_EQ('a', lvgl_key_of_usage(4));
    EXPECT_EQ('A', lvgl_key_of_usage(4 + shift));
    EXPECT_EQ('1', lvgl_key_of_usage(30));
    EXPECT_EQ('!', lvgl_key_of_usage(30 + shift));
    EXPECT_EQ(')', lvgl_key_of_usage(39 + shift));
    EXPECT_EQ('|', lvgl_key_of_usage(49 + shift));
    EXPECT_EQ('?', lvgl_key_of_usage(56 + shift));
    EXPECT_EQ(10u, lvgl_key_of_usage(40));   // Enter
    EXPECT_EQ(127u, lvgl_key_of_usage(76));  // Delete
    EXPECT_EQ(17u, lvgl_key_of_usage(82));   // Up
    EXPECT_EQ('0', lvgl_key_of_usage(98));   // keypad 0
    // No key: nothing, Tab, the non-US '#', Caps Lock, F1-F12, Page Up/Down,
    // shifted keys that have no shifted symbol, usages past the table.
    for (uint16_t usage : {0, 1, 43, 50, 57, 58, 69, 75, 78, 83, 100, 0x200 + 40, 0x200 + 50, 0x200 + 57, 0x3FF})
        EXPECT_EQ(0u, lvgl_key_of_usage(usage)) << usage;
}

}  // namespace

// Text look-up in the application's packs, and the keys the keypad reports
// for the window's HID usages.
#include <gtest/gtest.h>

#include <string>

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

// What a failure says is translated, and a text with numbers and names
// filled in keeps them in the same order in both languages.
TEST(GuiI18n, FailureReasonsAreTranslatedWithTheirFields) {
    ASSERT_EQ(0, i18n_init(i18n_app_packs()));
    ASSERT_EQ(0, i18n_set_locale("en-US"));
    const char *const keys[] = {"正在复制，请等待复制完成！", "正在复制，复制完成之后自动关窗口",
        "文件有 %ld B，适配器上的 %s 太短（%ld B）", "无法读取适配器的内容", "无法打开网址",
        "所选文件无法使用（path > 259 B），请重新选择！"};
    auto fields = [](const std::string &text) {
        std::string f;
        for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1))
            f += text.substr(at, text.compare(at, 3, "%ld") == 0 ? 3 : 2);
        return f;
    };
    for (const char *key : keys) {
        const std::string text = i18n_get_text(key);
        EXPECT_NE(key, text) << key;
        EXPECT_EQ(fields(key), fields(text)) << key;
    }
    EXPECT_EQ("%ld%s%ld", fields(keys[2]));
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

// The account configuration screen on the booted GUI: the fields filled
// from the adapter, pasting an address or an id, the usrid worker, saving
// "PSN Config.txt" in place, and every refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "account_config.h"
#include "config_screen.h"
#include "fake_desktop.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "msgbox.h"
#include "screens_fixture.h"
#include "shell_harness.h"
#include "zel_disp_window.h"

namespace {

using namespace screens;

const std::string kToken = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
const std::string kAddress = ACCOUNT_REDIRECT_URI "?state=s1&code=";

// ---- what a pasted text is ----

TEST(ConfigPaste, TellsAddressesFromIds) {
    char code[CONFIG_AUTH_CODE_MAX + 1] = "untouched";
    EXPECT_EQ(PASTE_ADDRESS, config_classify_paste((kAddress + "AbC-12.3_x~%2F&cid=7&x=y").c_str(), code, sizeof code));
    EXPECT_STREQ("AbC-12.3_x~%2F", code);
    const std::string code64(64, 'c');
    EXPECT_EQ(PASTE_ADDRESS, config_classify_paste((kAddress + code64 + "&cid=").c_str(), code, sizeof code));
    EXPECT_EQ(code64, code);

    // The prefix, but no usable code: never run.
    const std::vector<std::string> tails = {"nothing", "&cid=1&code=late",
        "&cid=", std::string(65, 'c') + "&cid=", "a;reset&cid=", "a\"b&cid=", "$HOME&cid=", "a b&cid=", "a|b&cid="};
    for (const std::string &tail : tails) {
        strcpy(code, "kept");
        EXPECT_EQ(PASTE_BAD_ADDRESS, config_classify_paste((kAddress + tail).c_str(), code, sizeof code)) << tail;
        EXPECT_STREQ("kept", code) << tail;
    }
    // Only the first 48 characters are compared, and 48 alone are too few.
    EXPECT_EQ(PASTE_BAD_ADDRESS, config_classify_paste(ACCOUNT_REDIRECT_PREFIX "elsewhere", code, sizeof code));
    EXPECT_EQ(PASTE_UNUSABLE, config_classify_paste(ACCOUNT_REDIRECT_PREFIX, code, sizeof code));
    std::string other = ACCOUNT_REDIRECT_URI "?code=a&cid=";
    other[8] = 'X';
    EXPECT_EQ(PASTE_UNUSABLE, config_classify_paste(other.c_str(), code, sizeof code));

    EXPECT_EQ(PASTE_ACCOUNT_ID, config_classify_paste("ewAAAAAAAAA=", code, sizeof code));
    // As long as the id field holds, and no longer: a longer one would be cut.
    EXPECT_EQ(PASTE_ACCOUNT_ID, config_classify_paste(std::string(124, 'A').c_str(), code, sizeof code));
    EXPECT_EQ(PASTE_UNUSABLE, config_classify_paste(std::string(128, 'A').c_str(), code, sizeof code));
    EXPECT_EQ(PASTE_UNUSABLE, config_classify_paste("", code, sizeof code));
    EXPECT_EQ(PASTE_UNUSABLE, config_classify_paste("not base64!", code, sizeof code));
}

TEST(ConfigPaste, ChecksIdsAndPins) {
    EXPECT_TRUE(config_account_id_valid("Ts/FTTMzGwA="));
    EXPECT_FALSE(config_account_id_valid(""));
    EXPECT_FALSE(config_account_id_valid("Ts/F*TMzGwA="));
    EXPECT_TRUE(config_pin_valid("01234567"));
    EXPECT_FALSE(config_pin_valid("1234567"));
    EXPECT_FALSE(config_pin_valid("123456789"));
    EXPECT_FALSE(config_pin_valid("1234567a"));
    EXPECT_FALSE(config_pin_valid(""));
}

// ---- the screen ----

class ConfigScreen : public ScreensTest {
protected:
    void SetUp() override {
        ScreensTest::SetUp();
        answer("token", "{\"access_token\": \"" + kToken + "\"}");
        answer("info", "{\"user_id\": \"123\"}");
        std::ofstream(token_server().dir() + "/log", std::ios::trunc);
    }
    void TearDown() override { hold(false); }
    static void answer(const std::string &which, const std::string &body) { token_server().put(which, body); }
    static void hold(bool on) {
        std::error_code ignored;
        if (on)
            token_server().put("hold", "");
        else
            std::filesystem::remove(token_server().dir() + "/www/hold", ignored);
    }
    static size_t posts() {
        const std::string log = token_server().log();
        size_t n = 0;
        for (size_t at = log.find("\"POST\""); at != std::string::npos; at = log.find("\"POST\"", at + 1)) ++n;
        return n;
    }
    void open() {
        click([] { return main_screen.config_btn; });
        ASSERT_TRUE(wait_gui([] { return config_screen.screen != nullptr; }));
    }
    void paste(const std::string &text, int code = 0) {
        fake_desktop::clipboard_holds(text, code);
        mark_read(config_screen.message);
        click([] { return config_screen.paste_btn; });
    }
    std::string message() { return next_message(config_screen.message); }
    void clear_pin() {
        click([] { return config_screen.pin_area; });
        for (size_t n = area_text(config_screen.pin_area).size(); n > 0; --n) press_key(ZEL_VK_BACK);
    }
    void type(const std::string &keys) {
        for (char k : keys) press_key(static_cast<uint8_t>(k));
    }
};

TEST_F(ConfigScreen, OpensFilledAndSavesTheConfigurationInPlace) {
    open();
    ASSERT_TRUE(wait_gui([] { return strcmp(lv_textarea_get_text(config_screen.pin_area), "12345678") == 0; }));
    EXPECT_EQ("ewAAAAAAAAA=", area_text(config_screen.id_area));

    paste("Ts/FTTMzGwA=");
    EXPECT_EQ(tr("手动获取PSN ID成功!"), message());
    EXPECT_EQ("Ts/FTTMzGwA=", area_text(config_screen.id_area));
    clear_pin();
    EXPECT_EQ("", area_text(config_screen.pin_area));
    type("8A7654321");  // the letter is not taken, the ninth digit neither
    EXPECT_EQ("87654321", area_text(config_screen.pin_area));
    bool typing = false;
    in_gui([&] {
        typing = lv_obj_get_group(config_screen.pin_area) == lvgl_focus_group() &&
                 !lv_textarea_get_cursor_hidden(config_screen.pin_area);
    });
    EXPECT_TRUE(typing) << "the focused area takes the keys and shows its cursor";

    click(button_of(config_screen.screen, "点击保存"));
    ASSERT_TRUE(wait_gui([] { return msgbox_current() != nullptr; }));
    EXPECT_EQ(tr("配置保存成功"), msgbox_text());
    in_gui([&] {
        typing = lv_obj_get_group(config_screen.pin_area) || !lv_textarea_get_cursor_hidden(config_screen.pin_area);
    });
    EXPECT_FALSE(typing) << "left for the save button, the area gives up the keys";
    std::string written = "PSNID\t: Ts/FTTMzGwA=\r\nPIN \t: 87654321\r\n";
    for (int line = 0; line < 4; ++line) written += std::string(55, ' ') + "\n";
    EXPECT_EQ(written + kPsnConfig.substr(written.size()), adapter_file("PSN Config.txt"));
    EXPECT_EQ(kWifiConfig, adapter_file("Wifi Config.txt"));
    EXPECT_TRUE(adapter_clean());

    close_msgbox();
    EXPECT_TRUE(wait_gui([] { return main_screen.screen && !config_screen.screen; }));
    // Opened again, the screen shows what was saved.
    open();
    EXPECT_TRUE(wait_gui([] { return strcmp(lv_textarea_get_text(config_screen.pin_area), "87654321") == 0; }));
    EXPECT_EQ("Ts/FTTMzGwA=", area_text(config_screen.id_area));
}

TEST_F(ConfigScreen, RefusesABadIdOrPinAndKeepsTheFile) {
    const std::string before = adapter_file("PSN Config.txt");
    open();
    ASSERT_TRUE(wait_gui([] { return lv_textarea_get_text(config_screen.pin_area)[0] != 0; }));
    paste("not an id!");
    EXPECT_EQ(tr("粘贴板的内容不是链接也不是PSN ID，请重新复制!"), message());
    EXPECT_EQ("", area_text(config_screen.id_area));
    mark_read(config_screen.message);
    click(button_of(config_screen.screen, "点击保存"));
    EXPECT_EQ("PSN ID 错误，\n请检查步骤2~4!", message());

    paste("ewAAAAAAAAA=");
    message();
    click([] { return config_screen.pin_area; });
    press_key(ZEL_VK_BACK);
    EXPECT_EQ(7u, area_text(config_screen.pin_area).size());
    mark_read(config_screen.message);
    click(button_of(config_screen.screen, "点击保存"));
    EXPECT_EQ(tr("校验码为空或者太短，\n请检查步骤6!"), message());
    EXPECT_EQ("", msgbox_text());
    EXPECT_EQ(before, adapter_file("PSN Config.txt"));
}

TEST_F(ConfigScreen, SaysWhatIsWrongWithAPastedText) {
    open();
    struct Case {
        std::string text;
        int code;
        const char *message;
    };
    const Case cases[] = {
        {"", 1, "读取粘贴板失败，请检查复制的内容!"},
        {std::string(222, 'a'), 0, "读取粘贴板失败，请检查复制的内容!"},
        {kAddress + "abc", 0, "解析粘贴板的链接出错，请重新复制!"},
        {kAddress + "abc;reset&cid=1", 0, "解析粘贴板的链接出错，请重新复制!"},
        {ACCOUNT_REDIRECT_PREFIX, 0, "粘贴板的内容不是链接也不是PSN ID，请重新复制!"},
        {std::string(216, 'A') + "QUJD", 0, "粘贴板的内容不是链接也不是PSN ID，请重新复制!"},
    };
    for (const Case &k : cases) {
        paste(k.text, k.code);
        EXPECT_EQ(tr(k.message), message()) << k.text;
    }
    EXPECT_EQ(0u, posts()) << "nothing was fetched";
    EXPECT_EQ("", area_text(config_screen.id_area)) << "no id taken";
}

// Every text of the screen lies within the window, in both languages.
TEST_F(ConfigScreen, ItsTextsStayInsideTheWindow) {
    uint8_t stored = 0;
    in_gui([&] { stored = ui_language; });
    for (uint8_t language : {0, 1}) {
        in_gui([language] {
            ui_language = language;
            ui_language_apply(language);
        });
        open();
        std::string outside;
        size_t labels = 0;
        in_gui([&] {
            lv_obj_t *probe = lv_label_create(config_screen.screen, nullptr);
            const lv_signal_cb_t label_signal = probe->signal_cb;
            lv_obj_del(probe);
            for (lv_obj_t *c = lv_obj_get_child(config_screen.screen, nullptr); c;
                 c = lv_obj_get_child(config_screen.screen, c)) {
                if (c->signal_cb != label_signal) continue;
                labels++;
                lv_area_t a;
                lv_obj_get_coords(c, &a);
                if (a.x1 < 0 || a.y1 < 0 || a.x2 >= 900 || a.y2 >= 560)
                    outside += std::string(lv_label_get_text(c)) + "\n";
            }
        });
        EXPECT_GE(labels, 6u);
        EXPECT_EQ("", outside) << "language " << int(language);
        click(button_of(config_screen.screen, "不保存返回"));
        ASSERT_TRUE(wait_gui([] { return main_screen.screen != nullptr; }));
    }
    in_gui([stored] {
        ui_language = stored;
        ui_language_apply(stored);
    });
}

TEST_F(ConfigScreen, APastedAddressFetchesTheIdOnceAtATime) {
    open();
    hold(true);
    paste(kAddress + "AbC-12.3_x~&cid=77&more=1");
    ASSERT_TRUE(token_server().wait_for_log("\"POST\""));
    EXPECT_TRUE(wait_gui([] { return usrid_busy != 0; }));
    EXPECT_TRUE(has_state(config_screen.paste_btn, LV_STATE_CHECKED)) << "the paste button shows the run";
    // A second paste while the first runs only takes its code.
    paste(kAddress + "Second&cid=1");
    EXPECT_TRUE(wait_gui([] { return strcmp(auth_code, "Second") == 0; }));
    hold(false);
    EXPECT_TRUE(wait_gui([] { return usrid_busy == 0; }));
    EXPECT_EQ("ewAAAAAAAAA=", area_text(config_screen.id_area));
    EXPECT_FALSE(has_state(config_screen.paste_btn, LV_STATE_CHECKED));
    EXPECT_EQ(1u, posts());
    EXPECT_NE(std::string::npos, token_server().log().find("code=AbC-12.3_x~&redirect_uri="));

    // The endpoint refuses the code.
    std::error_code ignored;
    std::filesystem::remove(token_server().dir() + "/www/token", ignored);
    paste(kAddress + "Refused&cid=1");
    EXPECT_EQ(tr("联网获取PSN ID失败，\n请检查网络或者使用步骤2手动获取!"), message());
    EXPECT_TRUE(wait_gui([] { return usrid_busy == 0; }));
}

TEST_F(ConfigScreen, AFetchThatEndsAfterBackTouchesNothingGone) {
    open();
    hold(true);
    paste(kAddress + "Late&cid=1");
    ASSERT_TRUE(token_server().wait_for_log("\"POST\""));
    click(button_of(config_screen.screen, "不保存返回"));
    ASSERT_TRUE(wait_gui([] { return main_screen.screen && !config_screen.screen; }));
    hold(false);
    EXPECT_TRUE(wait_gui([] { return usrid_busy == 0; }));
    EXPECT_TRUE(wait_gui([] { return main_screen.screen != nullptr; }));
    // The screen opens again and works.
    open();
    paste("ewAAAAAAAAA=");
    EXPECT_EQ(tr("手动获取PSN ID成功!"), message());
}

TEST_F(ConfigScreen, SignInButtonsOpenThePagesInTheBrowser) {
    open();
    click(button_of(config_screen.screen, "点击此处进行PSN账号设置"));
    const auto args = fake_desktop::last_args("xdg-open");
    ASSERT_EQ(1u, args.size());
    EXPECT_EQ(config_signin_address, args[0]);
    EXPECT_EQ(0u, args[0].find(ACCOUNT_SIGNIN_PAGE
                      "?service_entity=urn:service-entity:psn&response_type=code"
                      "&client_id=7f3a9c12-4b6e-4d81-9e2f-a5c0d7b3e618&redirect_uri=" ACCOUNT_REDIRECT_URI
                      "&scope=psn:clientapp&"));
    fake_desktop::forget_runs();
    click(button_of(config_screen.screen, "手动获取 PSN ID"));
    EXPECT_EQ(std::vector<std::string>{ACCOUNT_ID_LOOKUP_PAGE
                  "?outputOnly=true&runOption=run&start=result&showInstructions=true"},
        fake_desktop::last_args("xdg-open"));
}

// No browser: the click says so, whether the helper is missing or finds no
// browser to start.
TEST_F(ConfigScreen, SignInButtonsSayWhenNoBrowserOpens) {
    open();
    fake_desktop::browser_answers(3);
    fake_desktop::forget_runs();
    mark_read(config_screen.message);
    click(button_of(config_screen.screen, "点击此处进行PSN账号设置"));
    EXPECT_FALSE(fake_desktop::last_args("xdg-open").empty());
    EXPECT_EQ(tr("无法打开网址"), message());
    fake_desktop::browser_answers(0);
    {
        fake_desktop::Missing no_browser("xdg-open");
        mark_read(config_screen.message);
        click(button_of(config_screen.screen, "手动获取 PSN ID"));
        EXPECT_EQ(tr("无法打开网址"), message());
    }
    // A browser that starts leaves the message alone.
    mark_read(config_screen.message);
    fake_desktop::forget_runs();
    click(button_of(config_screen.screen, "手动获取 PSN ID"));
    EXPECT_FALSE(fake_desktop::last_args("xdg-open").empty());
    EXPECT_EQ("(old)", label_text(config_screen.message));
}

TEST_F(ConfigScreen, AnUnreadableWifiConfigurationLeavesTheFieldsEmpty) {
    shell::Console &c = shell::console();
    c.run("write \"/scsi/TRELLOW/Wifi Config.txt\" XXXX");
    ASSERT_EQ("XXXX", adapter_file("Wifi Config.txt").substr(0, 4));
    open();
    // The prefill has run once a later click is handled.
    paste("", 1);
    message();
    EXPECT_EQ("", area_text(config_screen.pin_area));
    c.run("write \"/scsi/TRELLOW/Wifi Config.txt\" SSID");
    EXPECT_EQ(kWifiConfig, adapter_file("Wifi Config.txt"));
}

}  // namespace

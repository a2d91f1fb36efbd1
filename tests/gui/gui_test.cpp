// The GUI as the system starts it: the init script's "lvgl &" on the
// in-memory window, with the init process and its console shell. The test
// plays the user through the window (clicks, keys) and reads LVGL's objects
// inside emulated interrupts, while the GUI thread is parked.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "adapter_poll.h"
#include "app_main.h"
#include "i18n.h"
#include "lvgl_gui.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "run_cmd.h"
#include "shell_harness.h"
#include "ui_build.h"
#include "zel_disp_memory.h"
#include "zel_timer.h"
#include "zel_linux_libc.h"

namespace {

// Before anything boots.
const bool kMemoryWindow = setenv("ZEL_DISPLAY", "memory", 1) == 0;

std::string g_dir;  // the program's working directory: "cfg.bin" lives here

// Removes the working directory after the last test.
class WorkingDirectory : public testing::Environment {
    void TearDown() override {
        if (g_dir.empty()) return;
        unlink((g_dir + "/cfg.bin").c_str());
        rmdir(g_dir.c_str());
    }
};
testing::Environment *const kWorkingDirectory = testing::AddGlobalTestEnvironment(new WorkingDirectory);

// What the main screen shows, read in one go.
struct Screen {
    bool exists = false;
    std::string status, config, upgrade, script, chinese, english;
    bool config_on = false, upgrade_on = false, script_on = false, chinese_on = false, english_on = false;
    uint8_t cfg_ok = 0, version_ok = 0, script_ok = 0;
    std::string found, not_found;  // the status texts in the current language
};

bool enabled(const lv_obj_t *btn) { return !(lv_obj_get_state(btn, LV_BTN_PART_MAIN) & LV_STATE_DISABLED); }

Screen screen() {
    Screen s;
    zel_test::run_as_irq([&] {
        s.cfg_ok = cfg_files_ok;
        s.version_ok = version_file_ok;
        s.script_ok = script_file_ok;
        s.found = i18n_get_text("发现适配器");
        s.not_found = i18n_get_text("请连接适配器");
        if (!main_screen.screen) return;
        s.exists = true;
        s.status = lv_label_get_text(main_screen.status);
        s.config = ui_button_text(main_screen.config_btn);
        s.upgrade = ui_button_text(main_screen.upgrade_btn);
        s.script = ui_button_text(main_screen.script_btn);
        s.chinese = ui_button_text(main_screen.chinese_btn);
        s.english = ui_button_text(main_screen.english_btn);
        s.config_on = enabled(main_screen.config_btn);
        s.upgrade_on = enabled(main_screen.upgrade_btn);
        s.script_on = enabled(main_screen.script_btn);
        s.chinese_on = enabled(main_screen.chinese_btn);
        s.english_on = enabled(main_screen.english_btn);
    });
    return s;
}

// Waits (at most the harness's timeout) until the screen satisfies `pred`.
bool wait_for(const std::function<bool(const Screen &)> &pred) {
    auto deadline = std::chrono::steady_clock::now() + zel_test::kTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred(screen())) return true;
        usleep(1000);
    }
    return false;
}

// The status the adapter flags call for.
bool status_follows_flags(const Screen &s) { return s.status == ((s.cfg_ok || s.version_ok) ? s.found : s.not_found); }

Screen g_first;  // the screen right after start-up

void boot() {
    static bool booted = [] {
        char tmpl[] = "/tmp/gui_test.XXXXXX";
        if (!kMemoryWindow || !mkdtemp(tmpl) || chdir(tmpl) != 0) return false;
        g_dir = tmpl;
        shell::console();
        // The first poll has run once the status is no longer the build's.
        bool polled = wait_for([](const Screen &s) { return s.exists && s.status == s.not_found; });
        g_first = screen();
        return polled;
    }();
    ASSERT_TRUE(booted);
}

// Presses the left button on the object `which` names, waits until LVGL has
// seen the press, and releases it.
void click(const std::function<lv_obj_t *()> &which) {
    // A person clicks on what the window shows: the newest screen is drawn
    // (and was shown longer than a double click lasts).
    ASSERT_TRUE(zel_test::wait_until([] { return lvgl_input_press_acts_at(zel_timer_get_ms()); }));
    lv_area_t a{};
    zel_test::run_as_irq([&] {
        if (lv_obj_t *o = which()) lv_obj_get_coords(o, &a);
    });
    ASSERT_GT(a.x2, a.x1) << "nothing to click";
    int32_t x = (a.x1 + a.x2) / 2, y = (a.y1 + a.y2) / 2;
    ASSERT_TRUE(zel_disp_memory_button(x, y, true));
    EXPECT_TRUE(zel_test::wait_until([&] {
        lv_obj_t *o = which();
        return o && (lv_obj_get_state(o, LV_BTN_PART_MAIN) & LV_STATE_PRESSED);
    }));
    ASSERT_TRUE(zel_disp_memory_button(x, y, false));
}

void click_chinese() {
    click([] { return main_screen.chinese_btn; });
    ASSERT_TRUE(wait_for([](const Screen &s) { return s.exists && !s.chinese_on; }));
}
void click_english() {
    click([] { return main_screen.english_btn; });
    ASSERT_TRUE(wait_for([](const Screen &s) { return s.exists && !s.english_on; }));
}
// Rebuilds the main screen (and so starts a poll) by switching the language
// and back.
void rebuild() {
    if (screen().chinese_on) {
        click_chinese();
        click_english();
    } else {
        click_english();
        click_chinese();
    }
}

std::string host_file(const std::string &name) {
    std::ifstream f(g_dir + "/" + name, std::ios::binary);
    if (!f) return "(missing)";
    return std::string(std::istreambuf_iterator<char>(f), {});
}

int sh(const std::string &line) {
    return shell::in_process([&] { return zel_linux_system(line.c_str()); });
}

// Adds a file to the adapter's volume.
void adapter_file(const std::string &name) {
    ASSERT_EQ(0, sh("update -t /usr/share/terminfo/v/vt100 \"/scsi/ADAPTER/" + name + "\""));
}

TEST(GuiMainScreen, StartsInEnglishWithoutCfgBinAndSwitchesLanguageByClicks) {
    boot();
    EXPECT_TRUE(g_first.exists);
    EXPECT_EQ("Adapter not found", g_first.status);
    EXPECT_EQ("Configuration", g_first.config);
    EXPECT_EQ("Upgrade", g_first.upgrade);
    EXPECT_EQ("Script", g_first.script);
    EXPECT_EQ("中文", g_first.chinese);
    EXPECT_EQ("English", g_first.english);
    EXPECT_FALSE(g_first.config_on || g_first.upgrade_on || g_first.script_on) << "no adapter files yet";
    EXPECT_TRUE(g_first.chinese_on);
    EXPECT_FALSE(g_first.english_on);

    if (!screen().chinese_on) click_english();
    click_chinese();
    EXPECT_EQ(std::string(1, '\1'), host_file("cfg.bin"));
    ASSERT_TRUE(wait_for([](const Screen &s) { return status_follows_flags(s); }));
    Screen zh = screen();
    EXPECT_EQ("配置", zh.config);
    EXPECT_EQ("升级", zh.upgrade);
    EXPECT_EQ("脚本", zh.script);
    EXPECT_TRUE(zh.status == "请连接适配器" || zh.status == "发现适配器") << zh.status;
    EXPECT_TRUE(zh.english_on);
    EXPECT_EQ(zh.cfg_ok != 0, zh.config_on) << "the job buttons keep the adapter's flags";
    EXPECT_EQ(zh.version_ok != 0, zh.upgrade_on);
    EXPECT_EQ(zh.script_ok != 0, zh.script_on);

    click_english();
    EXPECT_EQ(std::string(1, '\0'), host_file("cfg.bin"));
    Screen en = screen();
    EXPECT_EQ("Configuration", en.config);
    EXPECT_TRUE(en.chinese_on);
}

TEST(GuiMainScreen, TheWindowShowsIt) {
    boot();
    lv_area_t btn{};
    zel_test::run_as_irq([&] {
        lv_obj_t *b = enabled(main_screen.chinese_btn) ? main_screen.chinese_btn : main_screen.english_btn;
        lv_obj_get_coords(b, &btn);
    });
    // The enabled language button is drawn in the buttons' blue (RGB565 0x44FF).
    EXPECT_TRUE(zel_test::wait_until([&] { return zel_disp_memory_pixel(btn.x1 + 8, btn.y1 + 4) == 0x409CF8; }))
        << std::hex << zel_disp_memory_pixel(btn.x1 + 8, btn.y1 + 4);
    // Text on the status line: more than the background and one colour.
    uint32_t background = zel_disp_memory_pixel(3, 3), other = 0;
    for (uint16_t x = 300; x < 600; ++x)
        for (uint16_t y = 35; y < 60; ++y) other += zel_disp_memory_pixel(x, y) != background;
    EXPECT_GT(other, 50u);
}

TEST(GuiAdapterPoll, FollowsTheFilesOfTheVolumeUnderScsi) {
    boot();
    ASSERT_EQ(0, sh("mkdir -p /scsi/ADAPTER"));
    ASSERT_TRUE(zel_test::wait_until([] { return std::string(volume_id) == "ADAPTER"; }));

    // Only the script file: its button, but no adapter yet.
    adapter_file("data.bin");
    ASSERT_TRUE(wait_for([](const Screen &s) { return s.script_ok && (!s.exists || s.script_on); }));
    Screen s = screen();
    EXPECT_EQ(s.not_found, s.status);
    EXPECT_FALSE(s.config_on || s.upgrade_on);
    uint32_t polls = 0;
    zel_test::run_as_irq([&] { polls = adapter_poll_task_count(); });
    EXPECT_GE(polls, 1u) << "it keeps polling";

    // The version file: the adapter is found and every poll ends.
    adapter_file("version.txt");
    ASSERT_TRUE(zel_test::wait_until([] { return version_file_ok && adapter_poll_task_count() == 0; }));
    s = screen();
    EXPECT_EQ(s.found, s.status);
    EXPECT_TRUE(s.upgrade_on && s.script_on);
    EXPECT_FALSE(s.config_on);

    // The configuration files count once a new main screen polls again.
    adapter_file("Wifi Config.txt");
    adapter_file("PSN Config.txt");
    EXPECT_FALSE(screen().config_on);
    rebuild();
    ASSERT_TRUE(wait_for([](const Screen &x) { return x.config_on && x.cfg_ok; }));
    ASSERT_TRUE(zel_test::wait_until([] { return adapter_poll_task_count() == 0; }));
    EXPECT_EQ(screen().found, screen().status);
}

TEST(GuiAdapterPoll, ShowsTheDriverInstallationAndItsFailure) {
    boot();
    zel_test::run_as_irq([] { driver_installing = 1; });
    rebuild();
    ASSERT_TRUE(wait_for([](const Screen &s) {
        return s.status == i18n_get_text("正在安装驱动，可能需要等几分钟，驱动安装完成之后自动重启本应用");
    }));
    zel_test::run_as_irq([] { on_driver_install_end(APP_ADAPTER_VID, APP_ADAPTER_PID, 5, "access denied"); });
    ASSERT_TRUE(wait_for(
        [](const Screen &s) { return s.status == std::string(i18n_get_text("安装驱动失败")) + " : access denied"; }));
    zel_test::run_as_irq([] {
        driver_installing = 0;
        driver_error_text[0] = '\0';
    });
    EXPECT_TRUE(wait_for(status_follows_flags));
}

TEST(GuiRunCmd, CutsTheLineAt511CharactersAndReportsTheStatus) {
    boot();
    shell::Console &c = shell::console();
    c.take();
    std::string xs(600, 'x');
    EXPECT_EQ(0, shell::in_process([&] { return run_cmd("echo %s", xs.c_str()) ? 0 : 1; }));
    std::string out = c.until(std::string(500, 'x'));
    out += c.until("\r\n");
    size_t first = out.find('x');
    size_t run = out.find_first_not_of('x', first);
    EXPECT_EQ(size_t(RUN_CMD_MAX - 5), run - first) << "echo and a blank, then the first 506 of 600";

    zel_test::TraceCapture trace;
    EXPECT_EQ(0, shell::in_process([] { return run_cmd("access \"/no/such/%s\"", "file") ? 1 : 0; }));
    EXPECT_TRUE(trace.contains("run: access \"/no/such/file\"\r\n"));
    EXPECT_TRUE(trace.contains("run: access \"/no/such/file\" faild: "));
}

TEST(GuiRunCmd, AFailureNamesItsOwnLineWhileOthersRunMeanwhile) {
    boot();
    static std::atomic<bool> entered{false}, released{false};
    shell::install("t_held", [](int, char **) {
        entered = true;
        while (!released) zel_thread_delay(zel_systimer_ms_to_tick(1));
        return 1;
    });
    zel_test::TraceCapture trace;
    int held_status = -1;
    std::thread held([&] { held_status = shell::in_process([] { return run_cmd("t_held %d", 1) ? 1 : 0; }); });
    ASSERT_TRUE(zel_test::wait_until([] { return entered.load(); }));
    EXPECT_EQ(0, shell::in_process([] { return run_cmd("echo %s", "meanwhile") ? 0 : 1; }));
    released = true;
    held.join();
    EXPECT_EQ(0, held_status);
    EXPECT_TRUE(trace.contains("run: t_held 1 faild: ")) << trace.text();
    EXPECT_FALSE(trace.contains("run: echo meanwhile faild"));
}

TEST(GuiCommand, RefusesBadArgumentsBeforeSettingAnythingUp) {
    boot();
    shell::Console &c = shell::console();
    c.type("lvgl 5\r");
    EXPECT_NE(std::string::npos, c.until("invalid gamepad_num 5").find("invalid gamepad_num 5"));
    c.type("lvgl 0\r");
    EXPECT_NE(std::string::npos, c.until("invalid gamepad_num 0").find("invalid gamepad_num 0"));
    c.type("lvgl 1 2\r");
    EXPECT_NE(std::string::npos, c.until("format: lvgl [GAMEPAD_NUM<1..4>]").find("format: lvgl"));
}

TEST(GuiCommand, ASecondStartLeavesTheRunningGuiAlone) {
    boot();
    EXPECT_NE(0, sh("lvgl"));
    EXPECT_NE(0, sh("lvgl 2"));
    // The running GUI still answers clicks.
    rebuild();
    EXPECT_TRUE(screen().exists);
}

}  // namespace

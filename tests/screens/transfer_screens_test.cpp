// The firmware and script screens on the booted GUI: files chosen on the
// PC copied over "update.bin" and to and from "data.bin" by the transfer
// job, with their progress, results and refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "curl_server.h"
#include "fake_desktop.h"
#include "lvgl_gui.h"
#include "main_screen.h"
#include "msgbox.h"
#include "screens_fixture.h"
#include "shell_harness.h"
#include "screen_common.h"
#include "script_screen.h"
#include "transfer_job.h"
#include "ui_texts.h"
#include "upgrade_screen.h"
#include "zel_host_test_hooks.h"
#include "zel_test.h"

namespace {

using namespace screens;

std::string host_path(const std::string &relative) { return ScreensTest::work_dir_path(relative); }

void put_host(const std::string &relative, const std::string &bytes) {
    std::filesystem::create_directories(std::filesystem::path(host_path(relative)).parent_path());
    std::ofstream(host_path(relative), std::ios::binary | std::ios::trunc) << bytes;
}

std::string host_bytes(const std::string &relative) {
    std::ifstream in(host_path(relative), std::ios::binary);
    if (!in) return "(missing)";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The failure line of a file that update refused as larger than the
// adapter's file.
std::string too_large(const char *failed_key, long size, const char *adapter_name, long adapter_size) {
    char reason[256];
    snprintf(reason, sizeof reason, tr("文件有 %ld B，适配器上的 %s 太短（%ld B）").c_str(), size, adapter_name,
        adapter_size);
    return tr(failed_key) + "\n" + reason;
}

TEST(TransferJob, BarValues) {
    EXPECT_EQ(0, transfer_percent(40000, 0));
    EXPECT_EQ(40, transfer_percent(40000, 16384));
    EXPECT_EQ(100, transfer_percent(40000, 40000));
    EXPECT_EQ(100, transfer_percent(0, 0)) << "an empty file is copied whole";
    EXPECT_EQ(50, transfer_percent(4000000000u, 2000000000u)) << "no overflow";
}

TEST(TransferJob, ProgressWakesTheGuiAtMostFiveTimesASecond) {
    uint64_t last = 0;
    bool woken = false;
    EXPECT_TRUE(screen_progress_wake_due(50, &last, &woken)) << "the first report";
    EXPECT_FALSE(screen_progress_wake_due(51, &last, &woken));
    EXPECT_FALSE(screen_progress_wake_due(249, &last, &woken));
    EXPECT_TRUE(screen_progress_wake_due(250, &last, &woken));
    EXPECT_FALSE(screen_progress_wake_due(449, &last, &woken));
    EXPECT_TRUE(screen_progress_wake_due(10000, &last, &woken));
}

class UpgradeScreen : public ScreensTest {
protected:
    void open() {
        click([] { return main_screen.upgrade_btn; });
        ASSERT_TRUE(wait_gui([] { return upgrade_screen.screen != nullptr; }));
    }
    // Answers the dialog; the GUI handles the choice before any later click.
    void choose(const std::string &answer, int code = 0) {
        fake_desktop::forget_runs();
        fake_desktop::zenity_answers(answer + "\n", code);
        click([] { return upgrade_screen.select_btn; });
        EXPECT_FALSE(fake_desktop::last_args("zenity", true).empty());
        EXPECT_TRUE(wait_gui([] { return !screen_choice_pending(); }));
    }
    static bool chosen() {
        return wait_gui([] { return (lv_obj_get_state(upgrade_screen.select_btn, 0) & LV_STATE_CHECKED) != 0; });
    }
    std::string upgrade() {
        mark_read(upgrade_screen.message);
        click([] { return upgrade_screen.upgrade_btn; });
        return next_message(upgrade_screen.message);
    }
};

TEST_F(UpgradeScreen, ShowsTheVersionAndCopiesTheChosenFileOverUpdateBin) {
    open();
    EXPECT_TRUE(wait_gui([] { return lv_label_get_text(upgrade_screen.version)[0] != 0; }));
    EXPECT_EQ(tr("当前版本是：") + kVersion.substr(8), label_text(upgrade_screen.version));
    EXPECT_EQ(tr("update bin文件不存在！"), upgrade()) << "nothing chosen yet";

    const std::string firmware = curl_test::binary_bytes(20000);
    put_host("fw 1/new.bin", firmware);
    choose(host_path("fw 1/new.bin"));
    ASSERT_TRUE(chosen());

    zel_test::TraceCapture trace;
    click([] { return upgrade_screen.upgrade_btn; });
    ASSERT_TRUE(wait_gui([] { return msgbox_current() != nullptr; }));
    EXPECT_EQ(tr("升级成功"), msgbox_text());
    EXPECT_TRUE(trace.contains("update, total: 20000, current: 0\r\n"));
    EXPECT_TRUE(trace.contains("update, total: 20000, current: 16384\r\n"));
    EXPECT_TRUE(trace.contains("update, total: 20000, current: 20000\r\n"));
    EXPECT_TRUE(trace.contains("run: update  \"/mnt/update_bin/")) << trace.text();
    bool bar_full = false;
    in_gui([&] { bar_full = !lv_obj_get_hidden(upgrade_screen.bar) && lv_bar_get_value(upgrade_screen.bar) == 100; });
    EXPECT_TRUE(bar_full);
    EXPECT_EQ(firmware + kUpdateBin.substr(firmware.size()), adapter_file("update.bin"));
    EXPECT_TRUE(adapter_clean());

    close_msgbox();
    EXPECT_TRUE(wait_gui([] { return main_screen.screen && !upgrade_screen.screen; }));
}

TEST_F(UpgradeScreen, RefusesWhatCannotBeCopiedAndKeepsUpdateBin) {
    const std::string before = adapter_file("update.bin");
    open();
    put_host("fw/big.bin", std::string(50000, 'B'));
    choose(host_path("fw/big.bin"));
    ASSERT_TRUE(chosen());
    EXPECT_EQ(too_large("升级失败！", 50000, "update.bin", 40000), upgrade()) << "the failure says why";
    EXPECT_EQ(before, adapter_file("update.bin"));

    // A name that would break the command line is not taken, and says so.
    zel_test::TraceCapture trace;
    mark_read(upgrade_screen.message);
    choose(host_path("fw/we\"ird.bin"));
    EXPECT_EQ(tr("所选文件无法使用，请重新选择！"), next_message(upgrade_screen.message));
    EXPECT_TRUE(wait_gui([] { return !(lv_obj_get_state(upgrade_screen.select_btn, 0) & LV_STATE_CHECKED); }));
    EXPECT_TRUE(trace.contains("the chosen file cannot be used")) << trace.text();
    EXPECT_EQ(tr("update bin文件不存在！"), upgrade());

    // A cancelled choice keeps the one before, as the button shows.
    choose(host_path("fw/big.bin"));
    ASSERT_TRUE(chosen());
    choose("", 1);
    EXPECT_TRUE(has_state(upgrade_screen.select_btn, LV_STATE_CHECKED));
    EXPECT_EQ(too_large("升级失败！", 50000, "update.bin", 40000), upgrade());
    EXPECT_TRUE(trace.contains("/big.bin\" \"/scsi/${VOLUMEID}/update.bin\"")) << trace.text();
    EXPECT_EQ(before, adapter_file("update.bin"));

    // Without the dialog program the choice says so.
    {
        fake_desktop::Missing no_zenity("zenity");
        mark_read(upgrade_screen.message);
        click([] { return upgrade_screen.select_btn; });
        EXPECT_EQ(tr("无法打开文件选择窗口！"), next_message(upgrade_screen.message));
        EXPECT_FALSE(has_state(upgrade_screen.select_btn, LV_STATE_CHECKED));
        EXPECT_TRUE(wait_gui([] { return !screen_choice_pending(); }));
    }

    // Nor without a thread to show it on: no dialog runs.
    fake_desktop::zenity_answers(host_path("fw/big.bin") + "\n");
    fake_desktop::forget_runs();
    mark_read(upgrade_screen.message);
    zel_host_fail_thread_creations(1);
    click([] { return upgrade_screen.select_btn; });
    EXPECT_EQ(tr("无法打开文件选择窗口！"), next_message(upgrade_screen.message));
    zel_host_fail_thread_creations(0);
    EXPECT_TRUE(wait_gui([] { return !screen_choice_pending(); }));
    EXPECT_TRUE(fake_desktop::last_args("zenity").empty());
}

// Paths longer than 255 bytes, as Linux allows them: a deep folder and a
// long name are copied; a name too long for the programs' paths says so
// when it is chosen.
TEST_F(UpgradeScreen, LongPathsAreCopiedOrSayWhyNot) {
    open();
    const std::string deep = std::string(120, 'd') + "/" + std::string(120, 'e') + "/" + std::string(100, 'f');
    const std::string too_long = std::string(251, 'n') + ".bin";
    put_host("fw 6/" + too_long, "firmware");
    mark_read(upgrade_screen.message);
    choose(host_path("fw 6/" + too_long));
    EXPECT_EQ(tr("所选文件无法使用（path > 259 B），请重新选择！"), next_message(upgrade_screen.message));
    EXPECT_FALSE(has_state(upgrade_screen.select_btn, LV_STATE_CHECKED));
    EXPECT_EQ(tr("update bin文件不存在！"), upgrade());

    const std::string long_name = std::string(200, 'n') + ".bin";
    for (const std::string &file : {deep + "/fw.bin", "fw 6/" + long_name, deep + "/" + long_name}) {
        SCOPED_TRACE(file.size());
        const std::string firmware = curl_test::binary_bytes(1000 + file.size());
        put_host(file, firmware);
        choose(host_path(file));
        ASSERT_TRUE(chosen()) << label_text(upgrade_screen.message);
        click([] { return upgrade_screen.upgrade_btn; });
        ASSERT_TRUE(wait_gui([] { return msgbox_current() != nullptr; })) << label_text(upgrade_screen.message);
        EXPECT_EQ(tr("升级成功"), msgbox_text());
        EXPECT_EQ(firmware, adapter_file("update.bin").substr(0, firmware.size()));
        close_msgbox();
        ASSERT_TRUE(wait_gui([] { return main_screen.screen && !upgrade_screen.screen; }));
        open();
    }
}

// A screen opened again starts with nothing chosen, after a job as after a
// choice left behind: Upgrade runs nothing.
TEST_F(UpgradeScreen, AReopenedScreenHasNothingChosen) {
    put_host("fw 2/good.bin", std::string(1000, 'g'));
    open();
    choose(host_path("fw 2/good.bin"));
    ASSERT_TRUE(chosen());
    click([] { return upgrade_screen.upgrade_btn; });
    ASSERT_TRUE(wait_gui([] { return msgbox_current() != nullptr; }));
    close_msgbox();
    ASSERT_TRUE(wait_gui([] { return main_screen.screen && !upgrade_screen.screen; }));

    for (int round = 0; round < 2; ++round) {
        open();
        EXPECT_FALSE(has_state(upgrade_screen.select_btn, LV_STATE_CHECKED)) << round;
        zel_test::TraceCapture trace;
        EXPECT_EQ(tr("update bin文件不存在！"), upgrade()) << round;
        EXPECT_FALSE(trace.contains("run: update")) << trace.text();
        EXPECT_EQ("", msgbox_text());
        // Chosen, then left with Back.
        choose(host_path("fw 2/good.bin"));
        ASSERT_TRUE(chosen());
        click(button_of(upgrade_screen.screen, "返回"));
        ASSERT_TRUE(wait_gui([] { return main_screen.screen && !upgrade_screen.screen; }));
    }
}

// A new run clears the last one's result; the bar follows the job.
TEST_F(UpgradeScreen, ARunStartsWithoutTheLastResultAndWakesTheGuiForItsBar) {
    put_host("fw 3/big.bin", std::string(50000, 'B'));
    put_host("fw 3/ok.bin", std::string(100, 'o'));
    open();
    choose(host_path("fw 3/big.bin"));
    ASSERT_TRUE(chosen());
    EXPECT_EQ(too_large("升级失败！", 50000, "update.bin", 40000), upgrade());
    choose(host_path("fw 3/ok.bin"));
    ASSERT_TRUE(chosen());
    click([] { return upgrade_screen.upgrade_btn; });
    ASSERT_TRUE(wait_gui([] { return msgbox_current() != nullptr; }));
    EXPECT_EQ("", label_text(upgrade_screen.message)) << "no red error under the success box";
    close_msgbox();
    ASSERT_TRUE(wait_gui([] { return main_screen.screen && !upgrade_screen.screen; }));

    open();
    // The GUI thread idles; a progress report wakes it to draw the bar.
    ASSERT_TRUE(wait_gui([] { return lvgl_gui.fast_passes == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // past the last wake
    bool woken = false;
    EXPECT_EQ(0, shell::in_process([&] {
        upgrade_progress_cb("a", "b", 100, 50);
        woken = lvgl_gui.fast_passes == LVGL_FAST_PASSES;
        return 0;
    }));
    EXPECT_TRUE(woken);
}

TEST_F(UpgradeScreen, SaysWhenTheAdapterHasNoVersionFile) {
    open();
    mark_read(upgrade_screen.message);
    // Run where VOLUMEID is not set: the adapter's version file is not found.
    EXPECT_EQ(0, shell::in_process([] {
        upgrade_event_cb(upgrade_screen.upgrade_btn, LV_EVENT_CLICKED);
        return 0;
    }));
    EXPECT_EQ(tr("找不到版本文件！"), next_message(upgrade_screen.message));
}

// A job that ends after Back (which stays enabled) finds no screen to
// report on; its success box closes without building a second main screen.
TEST_F(UpgradeScreen, AJobThatEndsAfterBackTouchesNothingGone) {
    lv_obj_t *main = nullptr;
    in_gui([&] { main = main_screen.screen; });
    // A failed upgrade says so in a box, its screen having gone.
    EXPECT_EQ(0, shell::in_process([] {
        upgrade_progress_cb("a", "b", 100, 50);
        upgrade_done_cb(0);
        return 0;
    }));
    EXPECT_EQ(tr("升级失败！"), msgbox_text());
    close_msgbox();
    EXPECT_EQ(0, shell::in_process([] {
        upgrade_done_cb(1);
        export_progress_cb("a", "b", 100, 50);
        export_done_cb(1);
        import_done_cb(0);
        return 0;
    }));
    EXPECT_EQ(tr("升级成功"), msgbox_text());
    close_msgbox();
    bool same = false;
    in_gui([&] { same = main_screen.screen == main && !upgrade_screen.screen; });
    EXPECT_TRUE(same);
}

class ScriptScreen : public ScreensTest {
protected:
    void open() {
        click([] { return main_screen.script_btn; });
        ASSERT_TRUE(wait_gui([] { return script_screen.screen != nullptr; }));
    }
    // Runs the export (or import) with the dialog's answer; the message.
    std::string run(bool is_export, const std::string &answer) {
        fake_desktop::zenity_answers(answer + "\n");
        mark_read(script_screen.message);
        click([is_export] { return is_export ? script_screen.export_btn : script_screen.import_btn; });
        std::string message = next_message(script_screen.message);
        EXPECT_TRUE(wait_gui([] { return transfer_job.busy == 0; }));
        return message;
    }
    static bool buttons_enabled() {
        bool on = true;
        in_gui([&] {
            for (lv_obj_t *b : {script_screen.export_btn, script_screen.import_btn, script_screen.back_btn})
                on = on && !(lv_obj_get_state(b, LV_OBJ_PART_MAIN) & LV_STATE_DISABLED);
        });
        return on;
    }
};

TEST_F(ScriptScreen, ExportsAndImportsDataBin) {
    open();
    const std::string data = adapter_file("data.bin");
    // Over a longer file, which is truncated to data.bin's size.
    put_host("exports/old.bin", std::string(10000, 'x'));
    zel_test::TraceCapture trace;
    EXPECT_EQ(UI_TEXT_EXPORT_OK, run(true, host_path("exports/old.bin")));
    EXPECT_EQ(data, host_bytes("exports/old.bin"));
    EXPECT_TRUE(trace.contains("run: update -t \"/scsi/${VOLUMEID}/data.bin\" \"/mnt/export_bin/")) << trace.text();
    EXPECT_TRUE(trace.contains("/old.bin\" \r\n")) << "the line ends in a blank";
    EXPECT_TRUE(buttons_enabled());
    EXPECT_TRUE(wait_gui([] { return lv_obj_get_hidden(script_screen.export_bar); }));
    // A new file, named without an extension.
    EXPECT_EQ(UI_TEXT_EXPORT_OK, run(true, host_path("exports/script")));
    EXPECT_EQ(data, host_bytes("exports/script.txt"));

    const std::string imported = curl_test::binary_bytes(1000);
    put_host("imports/new.bin", imported);
    EXPECT_EQ(tr("导入成功！"), run(false, host_path("imports/new.bin")));
    EXPECT_EQ(imported + data.substr(imported.size()), adapter_file("data.bin"));
    EXPECT_TRUE(trace.contains("script import, total: 1000, current: 1000\r\n"));
    EXPECT_TRUE(adapter_clean());

    put_host("imports/big.bin", std::string(data.size() + 1, 'b'));
    EXPECT_EQ(too_large("导入失败！", long(data.size() + 1), "data.bin", long(data.size())),
        run(false, host_path("imports/big.bin")));
    EXPECT_EQ(imported + data.substr(imported.size()), adapter_file("data.bin"));
    EXPECT_TRUE(buttons_enabled());
    EXPECT_TRUE(wait_gui([] { return lv_obj_get_hidden(script_screen.import_bar); }));
}

TEST_F(ScriptScreen, RefusalsReplaceTheLastResult) {
    open();
    put_host("imports/small.bin", "abc");
    EXPECT_EQ(tr("导入成功！"), run(false, host_path("imports/small.bin")));
    zel_test::TraceCapture trace;
    EXPECT_EQ(tr("所选文件无法使用，请重新选择！"), run(false, host_path("imports/we\"ird.bin")));
    EXPECT_FALSE(trace.contains("run: update")) << trace.text();
    {
        fake_desktop::Missing no_zenity("zenity");
        mark_read(script_screen.message);
        click([] { return script_screen.export_btn; });
        EXPECT_EQ(tr("无法打开文件选择窗口！"), next_message(script_screen.message));
    }
    EXPECT_TRUE(buttons_enabled());
    // A run that starts takes the old text away before its own.
    put_host("imports/big2.bin", std::string(kDataBin.size() + 1, 'b'));
    EXPECT_EQ(too_large("导入失败！", long(kDataBin.size() + 1), "data.bin", long(kDataBin.size())),
        run(false, host_path("imports/big2.bin")));
}

// The job copies what it was given, whatever its caller's buffers hold
// afterwards (a screen choosing anew, or opened again, while it runs).
TEST_F(ScriptScreen, AJobKeepsTheFileItWasStartedWith) {
    put_host("keep/a.bin", "");
    const std::string dir = host_path("keep/");
    zel_test::TraceCapture trace;
    bool started = false;
    EXPECT_EQ(0, shell::in_process([&] {
        static char mount[256], name[64];
        snprintf(name, sizeof name, "a.bin");
        if (!transfer_mount_host_dir("export_bin", dir.c_str(), name, mount, sizeof mount)) return 1;
        const transfer_job_t job = {mount, name, "data.bin", nullptr, nullptr, 1, 0, 1};
        started = transfer_job_start(&job);
        snprintf(name, sizeof name, "b.bin");
        mount[0] = 0;
        // The worker is this process's thread: it ends with it.
        for (int i = 0; transfer_job.busy && i < 3000; ++i) zel_thread_delay(zel_systimer_ms_to_tick(10));
        return transfer_job.busy ? 2 : 0;
    }));
    ASSERT_TRUE(started);
    EXPECT_TRUE(trace.contains("run: update -t \"/scsi/${VOLUMEID}/data.bin\" \"/mnt/export_bin/")) << trace.text();
    EXPECT_TRUE(trace.contains("/a.bin\" \r\n")) << trace.text();
    EXPECT_FALSE(trace.contains("b.bin")) << trace.text();
}

TEST_F(ScriptScreen, ACancelledChoiceOrABusyJobStartsNothing) {
    open();
    mark_read(script_screen.message);
    fake_desktop::zenity_answers("", 1);
    fake_desktop::forget_runs();
    click([] { return script_screen.export_btn; });
    EXPECT_FALSE(fake_desktop::last_args("zenity", true).empty());
    EXPECT_TRUE(wait_gui([] { return !screen_choice_pending(); }));

    // Another screen's job runs: both buttons say so, and ask for no file.
    put_host("busy/out.bin", "");
    in_gui([] { transfer_job.busy = 1; });
    fake_desktop::zenity_answers(host_path("busy/out.bin") + "\n");
    zel_test::TraceCapture trace;
    for (bool is_export : {true, false}) {
        fake_desktop::forget_runs();
        mark_read(script_screen.message);
        click([is_export] { return is_export ? script_screen.export_btn : script_screen.import_btn; });
        EXPECT_EQ(tr("正在复制，请等待复制完成！"), next_message(script_screen.message)) << is_export;
        EXPECT_TRUE(fake_desktop::last_args("zenity", true).empty()) << is_export;
    }
    EXPECT_TRUE(buttons_enabled());
    in_gui([] { transfer_job.busy = 0; });
    EXPECT_FALSE(trace.contains("run: ")) << trace.text();
    EXPECT_EQ("", host_bytes("busy/out.bin")) << "nothing exported";
}

// While the file dialog is open the window keeps drawing and answering:
// a click acts, a second click on the button opens no second dialog, and
// the answer is taken once the dialog ends.
TEST_F(UpgradeScreen, TheWindowAnswersWhileTheDialogIsOpen) {
    open();
    put_host("fw 5/ok.bin", "new firmware");
    fake_desktop::forget_runs();
    fake_desktop::zenity_answers(host_path("fw 5/ok.bin") + "\n");
    fake_desktop::hold("zenity", true);
    struct Release {
        ~Release() { fake_desktop::hold("zenity", false); }
    } release;
    click([] { return upgrade_screen.select_btn; });
    ASSERT_FALSE(fake_desktop::last_args("zenity", true).empty()) << "no dialog opened";
    EXPECT_EQ(tr("update bin文件不存在！"), upgrade()) << "the window did not answer while the dialog is open";
    fake_desktop::forget_runs();
    click([] { return upgrade_screen.select_btn; });
    EXPECT_TRUE(screen_choice_pending());
    fake_desktop::hold("zenity", false);
    EXPECT_TRUE(chosen()) << "the answer was not taken";
    EXPECT_TRUE(wait_gui([] { return !screen_choice_pending(); }));
    EXPECT_TRUE(fake_desktop::last_args("zenity").empty()) << "a second dialog opened";
}

// Upgrade while a job runs says so instead of doing nothing, so the earlier
// job's result is not taken for this one's.
TEST_F(UpgradeScreen, UpgradeWhileAJobRunsSaysSo) {
    put_host("fw 4/ok.bin", std::string(100, 'o'));
    open();
    choose(host_path("fw 4/ok.bin"));
    ASSERT_TRUE(chosen());
    in_gui([] { transfer_job.busy = 1; });
    zel_test::TraceCapture trace;
    EXPECT_EQ(tr("正在复制，请等待复制完成！"), upgrade());
    in_gui([] { transfer_job.busy = 0; });
    EXPECT_FALSE(trace.contains("run: update")) << trace.text();
}

// A copy that fails after its bar showed takes the bar away with it.
TEST_F(UpgradeScreen, AFailureInMidCopyClearsTheBar) {
    open();
    EXPECT_EQ(0, shell::in_process([] {
        upgrade_progress_cb("a", "b", 100, 50);
        return lv_obj_get_hidden(upgrade_screen.bar) ? 1 : 0;
    }));
    mark_read(upgrade_screen.message);
    EXPECT_EQ(0, shell::in_process([] {
        upgrade_done_cb(0);
        return 0;
    }));
    EXPECT_EQ(0u, next_message(upgrade_screen.message).rfind(tr("升级失败！"), 0));
    bool hidden = false;
    in_gui([&] { hidden = lv_obj_get_hidden(upgrade_screen.bar) && lv_bar_get_value(upgrade_screen.bar) == 0; });
    EXPECT_TRUE(hidden);
}

}  // namespace

// The main screen, its adapter poll and the building of the job screens on
// the toolkit alone, with a clock the test moves and a fake system under them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "adapter_poll.h"
#include "app_main.h"
#include "app_mount.h"
#include "config_screen.h"
#include "fake_system.h"
#include "gui_lvgl_test.h"
#include "main_screen.h"
#include "script_screen.h"
#include "ui_build.h"
#include "ui_styles.h"
#include "upgrade_screen.h"

namespace {

const std::string kAccess = "access \"/scsi/${VOLUMEID}/";

class GuiMainScreenUnit : public GuiLvglTest {
protected:
    void SetUp() override {
        GuiLvglTest::SetUp();
        fake_system::reset();
        volume_id[0] = '\0';
        cfg_files_ok = 0;
        version_file_ok = 0;
        script_file_ok = 0;
        ui_language = 0;
        tasks_before = adapter_poll_task_count();
    }
    static std::string status() { return main_screen.status ? lv_label_get_text(main_screen.status) : "(none)"; }
    static bool on(const lv_obj_t *btn) { return !(lv_obj_get_state(btn, LV_BTN_PART_MAIN) & LV_STATE_DISABLED); }
    static size_t accesses() {
        return std::count_if(fake_system::commands.begin(), fake_system::commands.end(),
            [](const std::string &c) { return c.compare(0, kAccess.size(), kAccess) == 0; });
    }
    uint32_t tasks_before = 0;
};

// The toolkit's kinds of object a job screen holds, told apart by how they draw.
struct Kinds {
    lv_design_cb_t label, bar, text_area;
};

Kinds kinds() {
    lv_obj_t *const made[] = {lv_label_create(lv_scr_act(), nullptr), lv_bar_create(lv_scr_act(), nullptr),
        lv_textarea_create(lv_scr_act(), nullptr)};
    const Kinds kinds = {made[0]->design_cb, made[1]->design_cb, made[2]->design_cb};
    for (lv_obj_t *obj : made) lv_obj_del(obj);
    return kinds;
}

// Whether the objects under `parent` have all a screen gave them: a label its
// own text (never the toolkit's first "Text"), a text area the characters it
// takes, and each object on the screen itself but a bar one of the screens'
// styles first.
bool as_given(const lv_obj_t *parent, const Kinds &kinds, bool on_screen) {
    const lv_style_t *const given[] = {&style_text, &style_note, &style_btn, &style_frame, &style_padded};
    for (lv_obj_t *obj = lv_obj_get_child(parent, nullptr); obj; obj = lv_obj_get_child(parent, obj)) {
        if (obj->design_cb == kinds.label && std::string(lv_label_get_text(obj)) == "Text") return false;
        if (obj->design_cb == kinds.text_area && !lv_textarea_get_accepted_chars(obj)) return false;
        const lv_style_list_t *styles = lv_obj_get_style_list(obj, LV_OBJ_PART_MAIN);
        if (on_screen && obj->design_cb != kinds.bar &&
            (styles->style_cnt == 0 ||
                std::find(std::begin(given), std::end(given), styles->styles[0]) == std::end(given)))
            return false;
        if (!as_given(obj, kinds, false)) return false;
    }
    return true;
}

// No memory for the main screen's n-th allocation, for every n: either the
// screen is built whole, or it is reported as failed with nothing of it
// left (no object, no poll task) and no null object used.
TEST_F(GuiMainScreenUnit, AMainScreenTheToolkitHasNoMemoryForIsReportedAndLeavesNothing) {
    uint32_t reported = 0;
    for (long n = 0;; ++n) {
        // A poll task left by an earlier build lives on (it outlives its screen).
        const long before = lvgl_test::live_allocations();
        const uint32_t tasks = adapter_poll_task_count();
        fake_system::failed_screens.clear();
        lvgl_test::fail_allocation_after(n);
        main_screen_create();
        const bool refused = !lvgl_test::allocation_failure_armed();
        lvgl_test::fail_allocation_after(-1);
        if (!fake_system::failed_screens.empty()) {
            ++reported;
            EXPECT_EQ(std::vector<std::string>{"the main screen"}, fake_system::failed_screens) << n;
            EXPECT_EQ(nullptr, main_screen.screen) << n;
            EXPECT_EQ(tasks, adapter_poll_task_count()) << n;
            EXPECT_EQ(before, lvgl_test::live_allocations()) << n;
            continue;
        }
        ASSERT_NE(nullptr, main_screen.screen) << n;
        EXPECT_NE(nullptr, main_screen.english_btn) << n;
        run_for(10);
        lv_obj_del(main_screen.screen);
        if (!refused) break;  // built with every allocation it asked for
    }
    EXPECT_GE(reported, 8u) << "the screen, two labels and five buttons each failed it once at least";
}

// The same for the job screens a main-screen button opens: either the
// screen opens whole, or it is reported by its name with nothing of it left
// (no object, task or style, the button's screen gone too) and its record
// clear, so that no job, dialog or command takes it for open.
TEST_F(GuiMainScreenUnit, AJobScreenTheToolkitHasNoMemoryForIsReportedAndLeavesNothing) {
    using Record = std::vector<lv_obj_t *>;
    struct Job {
        const char *name;
        lv_event_cb_t open;
        Record (*record)();
        uint32_t parts;  // its screen object, the objects on it and its task: each fails it once at least
    };
    const Job jobs[] = {
        {"the configuration screen", config_screen_create,
            [] {
                const config_screen_objs_t &s = config_screen;
                return Record{s.screen, s.paste_btn, s.id_area, s.pin_area, s.message};
            },
            19},
        {"the upgrade screen", upgrade_screen_create,
            [] {
                const upgrade_screen_objs_t &s = upgrade_screen;
                return Record{s.screen, s.select_btn, s.upgrade_btn, s.bar, s.message, s.version};
            },
            11},
        {"the script screen", script_screen_create,
            [] {
                const script_screen_objs_t &s = script_screen;
                return Record{s.screen, s.export_btn, s.import_btn, s.back_btn, s.message, s.export_bar, s.import_bar};
            },
            7},
    };
    const Kinds built = kinds();
    for (const Job &job : jobs) {
        uint32_t reported = 0;
        for (long n = 0;; ++n) {
            const long before = lvgl_test::live_allocations();
            lv_obj_t *main = lv_obj_create(lv_scr_act(), nullptr);
            lv_obj_t *clicked = lv_btn_create(main, nullptr);
            fake_system::failed_screens.clear();
            lvgl_test::fail_allocation_after(n);
            job.open(clicked, LV_EVENT_CLICKED);
            const bool refused = !lvgl_test::allocation_failure_armed();
            lvgl_test::fail_allocation_after(-1);
            const Record record = job.record();
            if (!fake_system::failed_screens.empty()) {
                ++reported;
                EXPECT_EQ(std::vector<std::string>{job.name}, fake_system::failed_screens) << job.name << " " << n;
                EXPECT_EQ(Record(record.size()), record) << job.name << " " << n;
                EXPECT_EQ(before, lvgl_test::live_allocations()) << job.name << " " << n;
                continue;
            }
            ASSERT_EQ(0, std::count(record.begin(), record.end(), nullptr)) << job.name << " " << n;
            EXPECT_TRUE(as_given(record[0], built, true)) << job.name << " " << n;
            EXPECT_EQ(LV_COLOR_MAKE(0xFF, 0, 0).full, lv_obj_get_style_text_color(record[4], LV_LABEL_PART_MAIN).full)
                << job.name << " " << n << ": the message label, fifth in each record, is red";
            run_for(10);  // what it reads as it opens
            lv_obj_del(job.record()[0]);
            if (!refused) break;  // opened with every allocation it asked for
        }
        EXPECT_GE(reported, job.parts) << job.name;
    }
}

TEST_F(GuiMainScreenUnit, PollEnablesTheJobsAsTheAdapterFilesAppearAndEndsOnceFound) {
    main_screen_create();
    EXPECT_EQ("Found adapter", status()) << "the text a screen is built with";
    EXPECT_FALSE(on(main_screen.config_btn) || on(main_screen.upgrade_btn) || on(main_screen.script_btn));
    run_for(10);
    EXPECT_EQ("Adapter not found", status());
    EXPECT_EQ(4u, accesses()) << "Wifi Config.txt, PSN Config.txt, data.bin, version.txt";
    EXPECT_EQ(volume_id[0], '\0');

    fake_system::volume = "ADAPTER";
    fake_system::adapter_files = {"data.bin"};
    run_for(1000);
    EXPECT_STREQ("ADAPTER", volume_id);
    EXPECT_STREQ("ADAPTER", getenv("VOLUMEID"));
    EXPECT_EQ(1, std::count(fake_system::commands.begin(), fake_system::commands.end(), "export"));
    EXPECT_TRUE(on(main_screen.script_btn));
    EXPECT_FALSE(on(main_screen.config_btn) || on(main_screen.upgrade_btn));
    EXPECT_EQ("Adapter not found", status()) << "the script file alone is no adapter";
    EXPECT_EQ(tasks_before + 1, adapter_poll_task_count());

    // The mount names a volume "root<i>" first and after its label a moment
    // later: while the adapter is looked for, the new name is learned.
    fake_system::adapter_files.insert("version.txt");
    fake_system::volume = "OTHER";
    run_for(1000);
    EXPECT_STREQ("OTHER", volume_id);
    EXPECT_STREQ("OTHER", getenv("VOLUMEID"));
    EXPECT_EQ(2, std::count(fake_system::commands.begin(), fake_system::commands.end(), "export"));
    EXPECT_EQ("Found adapter", status());
    EXPECT_TRUE(on(main_screen.upgrade_btn));
    EXPECT_FALSE(on(main_screen.config_btn));
    EXPECT_EQ(tasks_before, adapter_poll_task_count());
    size_t seen = accesses();
    fake_system::volume = "THIRD";
    run_for(3000);
    EXPECT_EQ(seen, accesses()) << "the task has ended";
    EXPECT_STREQ("OTHER", volume_id) << "found: the name stays";

    // Files that go away do not disable a button, the task never disables.
    fake_system::adapter_files = {"Wifi Config.txt", "PSN Config.txt"};
    main_screen_create();
    run_for(10);
    EXPECT_TRUE(on(main_screen.config_btn));
    EXPECT_TRUE(on(main_screen.upgrade_btn)) << "built enabled from the flag of the previous poll";
    EXPECT_EQ(0, script_file_ok);
}

// An adapter whose disk cannot be mounted is no missing adapter: the status
// says so, until the files show up.
TEST_F(GuiMainScreenUnit, AnUnreadableDiskIsNotAMissingAdapter) {
    fake_system::disk_state = APP_DISK_FAILED;
    main_screen_create();
    run_for(10);
    EXPECT_EQ("The adapter's disk could not be read", status());
    EXPECT_EQ(ADAPTER_POLL_DISK_UNREADABLE, adapter_poll_run());
    EXPECT_EQ(tasks_before + 1, adapter_poll_task_count()) << "the poll goes on";
    i18n_set_locale("zh-CN");
    EXPECT_EQ(ADAPTER_POLL_DISK_UNREADABLE, adapter_poll_run());
    EXPECT_EQ("无法读取适配器的内容", status());
    i18n_set_locale("en-US");

    fake_system::disk_state = APP_DISK_NONE;
    EXPECT_EQ(ADAPTER_POLL_NOT_FOUND, adapter_poll_run());
    EXPECT_EQ("Adapter not found", status());
    fake_system::volume = "ADAPTER";
    fake_system::adapter_files = {"version.txt"};
    fake_system::disk_state = APP_DISK_FAILED;  // a later disk's failure does not hide what was found
    EXPECT_EQ(ADAPTER_POLL_FOUND, adapter_poll_run());
}

// While the adapter is looked for and nothing changes, the polls draw
// nothing: the screen is as it was (and a change is drawn at once).
TEST_F(GuiMainScreenUnit, PollsThatFindNothingNewDrawNothing) {
    main_screen_create();
    run_for(1000);
    EXPECT_EQ("Adapter not found", status());
    const size_t polls = accesses();
    flushed.clear();
    run_for(5000);
    EXPECT_GE(accesses(), polls + 4 * 4) << "the poll went on looking";
    EXPECT_EQ(0u, flushed.size()) << "an unchanged screen was drawn again";

    fake_system::disk_state = APP_DISK_FAILED;
    run_for(1000);
    EXPECT_EQ("The adapter's disk could not be read", status());
    EXPECT_NE(0u, flushed.size());
    flushed.clear();
    run_for(3000);
    EXPECT_EQ(0u, flushed.size());
}

TEST_F(GuiMainScreenUnit, ShowsDriverStatesAndRestartsAfterASuccessfulInstallation) {
    driver_installing = 1;
    main_screen_create();
    run_for(10);
    EXPECT_EQ(std::string(i18n_get_text("正在安装驱动，可能需要等几分钟，驱动安装完成之后自动重启本应用")), status());
    EXPECT_EQ(0u, accesses());

    on_driver_install_end(APP_ADAPTER_VID, APP_ADAPTER_PID, -5, std::string(600, 'e').c_str());
    run_for(1000);
    EXPECT_EQ("Failed to install driver : " + std::string(254 - 27, 'e'), status()) << "cut to 254 characters";

    driver_error_text[0] = '\0';
    on_driver_install_end(APP_ADAPTER_VID, APP_ADAPTER_PID, 0, "");
    fake_system::commands.clear();
    run_for(1000);
    EXPECT_EQ(std::vector<std::string>{"reset"}, fake_system::commands);
}

TEST_F(GuiMainScreenUnit, APollWithoutMainScreenTouchesNothingAndTheNextScreenShowsItsFindings) {
    main_screen_create();
    run_for(10);
    lv_obj_del(main_screen.screen);
    EXPECT_EQ(nullptr, main_screen.screen);
    EXPECT_EQ(nullptr, main_screen.status);
    EXPECT_EQ(nullptr, main_screen.config_btn);

    fake_system::volume = "ADAPTER";
    fake_system::adapter_files = {"Wifi Config.txt", "PSN Config.txt", "version.txt"};
    run_for(1000);  // under the sanitizers a touch of the deleted objects fails here
    EXPECT_EQ(1, cfg_files_ok);
    EXPECT_EQ(tasks_before, adapter_poll_task_count()) << "found: ended all the same";

    main_screen_create();
    EXPECT_TRUE(on(main_screen.config_btn));
    EXPECT_TRUE(on(main_screen.upgrade_btn));
    EXPECT_FALSE(on(main_screen.script_btn));
}

TEST_F(GuiMainScreenUnit, LanguageSwitchesAndNewScreensKeepOnePollRunning) {
    main_screen_create();
    run_for(10);
    for (int i = 0; i < 20; ++i) {
        refresh();
        click_obj(ui_language == 0 ? main_screen.chinese_btn : main_screen.english_btn);
        run_for(10);
    }
    main_screen_create();
    EXPECT_EQ(1u, adapter_poll_task_count());
    fake_system::commands.clear();
    run_for(1000);
    EXPECT_EQ(4u, accesses()) << "one poll a second, whatever was built";
    EXPECT_EQ("Adapter not found", status());
    EXPECT_EQ(0, ui_language) << "an even number of switches";
}

TEST_F(GuiMainScreenUnit, TheStoredByteChoosesTheLanguageAndAClickStoresTheOther) {
    EXPECT_EQ(0, ui_language_load()) << "no cfg.bin: English";
    fake_system::files[UI_LANGUAGE_FILE] = std::string(1, '\2');
    app_ui_init(1);
    EXPECT_EQ(2, ui_language);
    run_for(10);
    EXPECT_EQ("请连接适配器", status());
    EXPECT_STREQ("配置", ui_button_text(main_screen.config_btn));
    EXPECT_FALSE(on(main_screen.chinese_btn));
    EXPECT_TRUE(on(main_screen.english_btn));

    refresh();
    click_obj(main_screen.english_btn);
    EXPECT_EQ(std::string(1, '\0'), fake_system::files[UI_LANGUAGE_FILE]);
    EXPECT_EQ(0, ui_language);
    EXPECT_STREQ("Configuration", ui_button_text(main_screen.config_btn));
    EXPECT_FALSE(on(main_screen.english_btn));
    EXPECT_TRUE(on(main_screen.chinese_btn));
}

}  // namespace

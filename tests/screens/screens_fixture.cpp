// The booted GUI with an adapter volume, for the job screens' tests.
#include "screens_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "adapter_poll.h"
#include "config_screen.h"
#include "disk_image.h"
#include "fake_desktop.h"
#include "i18n.h"
#include "lvgl_gui.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "msgbox.h"
#include "script_screen.h"
#include "shell_harness.h"
#include "trust_store.h"
#include "ui_build.h"
#include "upgrade_screen.h"
#include "usrid.h"
#include "zel_disp_memory.h"
#include "zel_timer.h"

namespace screens {

const std::string kPsnConfig = "PSNID\t: ewAAAAAAAAA=\r\nPIN \t: 12345678\r\n" + std::string(300, '#') + "\r\n";
const std::string kWifiConfig = "SSID : home\r\nPASSWD : secret\r\n";
const std::string kVersion = "Version:1.4.2\r\n";
const std::string kDataBin = curl_test::binary_bytes(3000);
const std::string kUpdateBin(40000, '\0');

namespace {

// Before anything boots.
const bool kMemoryWindow = setenv("ZEL_DISPLAY", "memory", 1) == 0;

std::string g_dir;

std::string host_read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The system's trust store as the start-up mounts it: a copy of the host's
// that also trusts the token endpoint's self-signed certificate.
bool make_trust_store(const std::string &dir) {
    const std::string ours = host_read(ScreensTest::token_server().dir() + "/cert.pem");
    std::ofstream(dir + "/ca-certificates.crt", std::ios::binary)
        << host_read("/etc/ssl/certs/ca-certificates.crt") << ours;
    static const std::string kept = dir;
    app_trust_store_dir = kept.c_str();
    return !ours.empty();
}

// `text` without its lines of the form NAME=VALUE (an environment listing)
// and its empty lines.
std::string not_environment(const std::string &text) {
    std::string kept;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(at, end - at);
        at = end;
        const size_t eq = line.find('=');
        bool name = eq != std::string::npos && eq > 0;
        for (size_t i = 0; name && i < eq; ++i)
            name = std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '_';
        if (!name && line.find_first_not_of("\r\n") != std::string::npos) kept += line;
    }
    return kept;
}

bool boot() {
    static const bool booted = [] {
        fake_desktop::install();
        if (!kMemoryWindow || !ScreensTest::token_server().ok()) return false;
        static const std::string base = ScreensTest::token_server().base();
        usrid_token_base = base.c_str();
        g_dir = disk_image::temp_dir();
        if (g_dir.empty() || chdir(g_dir.c_str()) != 0 || !make_trust_store(g_dir)) return false;
        if (!disk_image::make(g_dir + "/disk.img", "TRELLOW",
                {{"PSN Config.txt", kPsnConfig}, {"Wifi Config.txt", kWifiConfig}, {"version.txt", kVersion},
                    {"data.bin", kDataBin}, {"update.bin", kUpdateBin}}))
            return false;
        shell::Console &c = shell::console();
        // The mount says nothing when it works; the poll may list the
        // environment on the console meanwhile (it runs `export` once it
        // sees the volume), which is not the mount's.
        const std::string said = not_environment(c.run("mount -t fatfs -b 512 /mnt/hostfs/disk.img /scsi"));
        if (said != "") {
            ADD_FAILURE() << "mount said: " << said;
            return false;
        }
        // The poll finds the volume within a second or two.
        return wait_gui([] {
            return main_screen.screen && cfg_files_ok && version_file_ok && script_file_ok &&
                   !(lv_obj_get_state(main_screen.config_btn, LV_BTN_PART_MAIN) & LV_STATE_DISABLED);
        });
    }();
    return booted;
}

lv_obj_t *find_button_in(lv_obj_t *parent, const std::string &text) {
    for (lv_obj_t *child = lv_obj_get_child(parent, nullptr); child; child = lv_obj_get_child(parent, child))
        if (ui_button_text(child) == text) return child;
    return nullptr;
}

}  // namespace

void ScreensTest::SetUp() {
    ASSERT_TRUE(boot()) << "the GUI, the token endpoint or the adapter volume did not come up";
    // Back to the main screen from wherever the last test left.
    if (!msgbox_text().empty()) {
        wait_gui([] { return msgbox_current() == nullptr; });
    }
    struct Way {
        lv_obj_t *const *screen;
        const char *back;
    };
    const Way ways[] = {
        {&config_screen.screen, "不保存返回"}, {&upgrade_screen.screen, "返回"}, {&script_screen.screen, "返回"}};
    for (const Way &w : ways) {
        bool open = false;
        in_gui([&] { open = *w.screen != nullptr; });
        if (open) click(button_of(*w.screen, w.back));
    }
    ASSERT_TRUE(wait_gui([] { return main_screen.screen != nullptr; }));
    wait_shown();
    fake_desktop::forget_runs();
}

curl_test::Server &ScreensTest::token_server() {
    static auto *server = new curl_test::Server(curl_test::Server::Scheme::https);  // ends with the test binary
    return *server;
}

const std::string &ScreensTest::work_dir() { return g_dir; }
std::string ScreensTest::image() { return g_dir + "/disk.img"; }
std::string ScreensTest::adapter_file(const std::string &name) { return disk_image::read_file(image(), name); }
bool ScreensTest::adapter_clean() { return disk_image::fsck_clean(image()); }

void in_gui(const std::function<void()> &fn) { zel_test::run_as_irq(fn); }

bool wait_gui(const std::function<bool()> &pred) {
    auto deadline = std::chrono::steady_clock::now() + zel_test::kTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        bool ok = false;
        in_gui([&] { ok = pred(); });
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void wait_shown() {
    ASSERT_TRUE(wait_gui([] { return lvgl_input_press_acts_at(zel_timer_get_ms()); }));
}

void click(const std::function<lv_obj_t *()> &which) {
    wait_shown();
    lv_area_t a{};
    in_gui([&] {
        if (lv_obj_t *o = which()) lv_obj_get_coords(o, &a);
    });
    ASSERT_GT(a.x2, a.x1) << "nothing to click";
    const int32_t x = (a.x1 + a.x2) / 2, y = (a.y1 + a.y2) / 2;
    ASSERT_TRUE(zel_disp_memory_button(x, y, true));
    EXPECT_TRUE(wait_gui([&] {
        lv_obj_t *o = which();
        return o && (lv_obj_get_state(o, LV_OBJ_PART_MAIN) & LV_STATE_PRESSED);
    })) << "the press did not arrive";
    ASSERT_TRUE(zel_disp_memory_button(x, y, false));
    // The release has arrived once nothing is pressed any more.
    EXPECT_TRUE(wait_gui([&] {
        lv_obj_t *o = which();
        return !o || !(lv_obj_get_state(o, LV_OBJ_PART_MAIN) & LV_STATE_PRESSED);
    }));
}

void press_key(uint8_t vk) {
    ASSERT_TRUE(zel_disp_memory_key(vk, true));
    EXPECT_TRUE(wait_gui([] { return lvgl_gui.keypad.last_pressed != 0; })) << "key " << int(vk) << " not read";
    ASSERT_TRUE(zel_disp_memory_key(vk, false));
    EXPECT_TRUE(wait_gui([] { return lvgl_gui.keypad.last_pressed == 0; })) << "key " << int(vk) << " not let go";
}

std::function<lv_obj_t *()> button_of(lv_obj_t *const &screen, const char *key) {
    const std::string text = tr(key);
    return [&screen, text] { return screen ? find_button_in(screen, text) : nullptr; };
}

void close_msgbox() {
    wait_shown();
    lv_area_t a{};
    in_gui([&] {
        if (lv_obj_t *box = msgbox_current())
            lv_obj_get_coords(static_cast<lv_msgbox_ext_t *>(lv_obj_get_ext_attr(box))->btnm, &a);
    });
    ASSERT_GT(a.x2, a.x1) << "no message box";
    const int32_t x = (a.x1 + a.x2) / 2, y = (a.y1 + a.y2) / 2;
    ASSERT_TRUE(zel_disp_memory_button(x, y, true));
    wait_gui([] {
        lv_obj_t *box = msgbox_current();
        lv_obj_t *btnm = box ? static_cast<lv_msgbox_ext_t *>(lv_obj_get_ext_attr(box))->btnm : nullptr;
        return !btnm || (lv_obj_get_state(btnm, LV_OBJ_PART_MAIN) & LV_STATE_PRESSED);
    });
    ASSERT_TRUE(zel_disp_memory_button(x, y, false));
    EXPECT_TRUE(wait_gui([] { return msgbox_current() == nullptr; }));
}

std::string label_text(lv_obj_t *const &label) {
    std::string text = "(none)";
    in_gui([&] {
        if (label) text = lv_label_get_text(label);
    });
    return text;
}

void mark_read(lv_obj_t *const &label) {
    in_gui([&] {
        if (label) lv_label_set_text(label, "(old)");
    });
}

std::string next_message(lv_obj_t *const &label) {
    wait_gui([&] {
        const std::string text = label ? lv_label_get_text(label) : "";
        return text != "(old)" && !text.empty();
    });
    return label_text(label);
}

std::string area_text(lv_obj_t *const &area) {
    std::string text = "(none)";
    in_gui([&] {
        if (area) text = lv_textarea_get_text(area);
    });
    return text;
}

bool has_state(lv_obj_t *const &obj, lv_state_t state) {
    bool on = false;
    in_gui([&] { on = obj && (lv_obj_get_state(obj, LV_OBJ_PART_MAIN) & state); });
    return on;
}

std::string msgbox_text() {
    std::string text;
    in_gui([&] {
        if (lv_obj_t *box = msgbox_current()) text = lv_msgbox_get_text(box);
    });
    return text;
}

std::string tr(const char *key) {
    std::string text;
    in_gui([&] { text = i18n_get_text(key); });
    return text;
}

}  // namespace screens

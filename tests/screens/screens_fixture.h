// The GUI as the system starts it, for the job screens: the in-memory
// window, the desktop's helpers played by scripts, the local token
// endpoint, and an adapter volume "TRELLOW" (a FAT image in the program's
// working directory) mounted under "/scsi", found by the adapter poll.
// Tests play the user with clicks and keys and read LVGL's objects inside
// emulated interrupts, while the GUI thread is parked.
#ifndef SCREENS_FIXTURE_H
#define SCREENS_FIXTURE_H

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "curl_server.h"
#include "lvgl.h"

namespace screens {

// The adapter's files as the image holds them at start.
extern const std::string kPsnConfig, kWifiConfig, kVersion, kDataBin, kUpdateBin;

class ScreensTest : public testing::Test {
public:
    static curl_test::Server &token_server();
    // The program's working directory on the host, and a path in it.
    static const std::string &work_dir();
    static std::string work_dir_path(const std::string &relative) { return work_dir() + "/" + relative; }

protected:
    // Boots once per process; each test starts on the main screen.
    void SetUp() override;
    // The program's working directory on the host, and its disk image.

    static std::string image();
    // The bytes of a file of the adapter's volume (read from the image).
    static std::string adapter_file(const std::string &name);
    static bool adapter_clean();  // fsck.fat finds nothing to fix
};

// LVGL work while the GUI thread is parked.
void in_gui(const std::function<void()> &fn);
// Waits until `pred` (evaluated in the GUI's context) holds.
bool wait_gui(const std::function<bool()> &pred);
// Waits until the newest screen is on the display and the double-click
// time since has passed: a press before would do nothing on it.
void wait_shown();
// Clicks the middle of the object `which` names (looked up in the GUI's
// context); fails the test when it is missing or takes no press.
void click(const std::function<lv_obj_t *()> &which);
// Presses and releases a key (a virtual key: ZEL_VK_*, '0'-'9', 'A'-'Z'),
// each transition read by the GUI before the next.
void press_key(uint8_t vk);
// A button of an open screen, found by its text (`key` translated).
std::function<lv_obj_t *()> button_of(lv_obj_t *const &screen, const char *key);
// Clicks the open message box's button.
void close_msgbox();

std::string label_text(lv_obj_t *const &label);
// Marks a message label as read ("(old)"), and waits for its next,
// non-empty text.
void mark_read(lv_obj_t *const &label);
std::string next_message(lv_obj_t *const &label);
std::string area_text(lv_obj_t *const &area);
bool has_state(lv_obj_t *const &obj, lv_state_t state);
// The open message box's text, or "" when none is open.
std::string msgbox_text();
// The translation of `key` in the current language.
std::string tr(const char *key);

}  // namespace screens

#endif

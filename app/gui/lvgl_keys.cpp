// HID usages (as the window reports them, plus 0x200 when shifted) to the
// keys LVGL's keypad understands.
#include "lvgl_port.h"

namespace {

// LVGL's control keys.
constexpr uint32_t kHome = 2, kEnd = 3, kBackspace = 8, kEnter = 10, kUp = 17, kDown = 18, kRight = 19, kLeft = 20,
                   kEscape = 27, kDelete = 127;

constexpr uint16_t kShifted = 0x200;

// Usages 39-57; only those whose bit is set in kPunctMask give a key (50,
// the non-US '#', does not).
constexpr uint32_t kPunct[] = {
    '0', kEnter, kEscape, kBackspace, 0, ' ', '-', '=', '[', ']', '\\', '0', ';', '\'', '`', ',', '.', '/', 0};
constexpr uint32_t kPunctMask = 0x7F7FF;

// Usages 70-88: editing and arrow keys, then the keypad's operators.
constexpr uint32_t kNav[] = {
    0, 0, 0, 0, kHome, 0, kDelete, kEnd, 0, kRight, kLeft, kDown, kUp, 0, '/', '*', '-', '+', kEnter};

constexpr char kShiftedDigits[] = "!@#$%^&*()";  // usages 30-39 shifted
constexpr char kShiftedPunct1[] = "_+{}|";       // usages 45-49 shifted
constexpr char kShiftedPunct2[] = ":\"~<>?";     // usages 51-56 shifted

}  // namespace

extern "C" uint32_t lvgl_key_of_usage(uint16_t usage) {
    if (usage >= 4 && usage <= 29) return usage + 93u;
    if (usage >= 30 && usage <= 38) return usage + 19u;
    if (usage >= 39 && usage <= 57) return (kPunctMask >> (usage - 39)) & 1 ? kPunct[usage - 39] : 0;
    if (usage >= 70 && usage <= 88) return kNav[usage - 70];
    if (usage >= 89 && usage <= 97) return usage - 40u;
    if (usage == 98) return '0';
    if (usage == 99) return '.';
    if (usage == 103) return '=';
    if (usage >= kShifted + 4 && usage <= kShifted + 29) return usage - 451u;
    if (usage >= kShifted + 30 && usage <= kShifted + 39) return (uint8_t)kShiftedDigits[usage - kShifted - 30];
    if (usage >= kShifted + 45 && usage <= kShifted + 49) return (uint8_t)kShiftedPunct1[usage - kShifted - 45];
    if (usage >= kShifted + 51 && usage <= kShifted + 56) return (uint8_t)kShiftedPunct2[usage - kShifted - 51];
    return 0;
}

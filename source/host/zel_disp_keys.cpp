// Virtual-key code to USB HID usage.
#include "zel_disp_window.h"

#include <array>

namespace {

constexpr uint16_t kShiftable = 0x8000;  // the usage takes 0x200 when Shift is down

constexpr std::array<uint16_t, 256> make_table() {
    std::array<uint16_t, 256> t{};
    for (int k = '1'; k <= '9'; ++k) t[k] = static_cast<uint16_t>((k - 19) | kShiftable);
    t['0'] = 39 | kShiftable;
    for (int k = 0; k < 12; ++k) t[ZEL_VK_F1 + k] = static_cast<uint16_t>(ZEL_VK_F1 + k - 54);
    t[ZEL_VK_BACK] = 42;
    t[ZEL_VK_TAB] = 43;
    t[ZEL_VK_RETURN] = 40;
    t[ZEL_VK_SHIFT] = 225;
    t[ZEL_VK_CONTROL] = 224;
    t[ZEL_VK_MENU] = 226;
    t[ZEL_VK_PAUSE] = 72;
    t[ZEL_VK_CAPITAL] = 57;
    t[ZEL_VK_ESCAPE] = 41;
    t[ZEL_VK_SPACE] = 44;
    t[ZEL_VK_PRIOR] = 75;
    t[ZEL_VK_NEXT] = 78;
    t[ZEL_VK_END] = 77;
    t[ZEL_VK_HOME] = 74;
    t[ZEL_VK_LEFT] = 80;
    t[ZEL_VK_UP] = 82;
    t[ZEL_VK_RIGHT] = 79;
    t[ZEL_VK_DOWN] = 81;
    t[ZEL_VK_SNAPSHOT] = 70;
    t[ZEL_VK_INSERT] = 73;
    t[ZEL_VK_DELETE] = 76;
    t[ZEL_VK_LWIN] = 227;
    t[ZEL_VK_RWIN] = 231;
    t[ZEL_VK_NUMPAD0] = 98;
    for (int k = 1; k <= 9; ++k) t[ZEL_VK_NUMPAD0 + k] = static_cast<uint16_t>(88 + k);
    t[ZEL_VK_MULTIPLY] = 85;
    t[ZEL_VK_ADD] = 87;
    t[ZEL_VK_SUBTRACT] = 86;
    t[ZEL_VK_DECIMAL] = 99;
    t[ZEL_VK_DIVIDE] = 84;
    t[ZEL_VK_NUMLOCK] = 83;
    t[ZEL_VK_SCROLL] = 71;
    t[ZEL_VK_OEM_1] = 51 | kShiftable;
    t[ZEL_VK_OEM_PLUS] = 46 | kShiftable;
    t[ZEL_VK_OEM_COMMA] = 54 | kShiftable;
    t[ZEL_VK_OEM_MINUS] = 45 | kShiftable;
    t[ZEL_VK_OEM_PERIOD] = 55 | kShiftable;
    t[ZEL_VK_OEM_2] = 56 | kShiftable;
    t[ZEL_VK_OEM_3] = 53 | kShiftable;
    t[ZEL_VK_OEM_4] = 47 | kShiftable;
    t[ZEL_VK_OEM_5] = 49 | kShiftable;
    t[ZEL_VK_OEM_6] = 48 | kShiftable;
    t[ZEL_VK_OEM_7] = 52 | kShiftable;
    return t;
}

constexpr std::array<uint16_t, 256> kUsage = make_table();

}  // namespace

extern "C" uint16_t zel_disp_vk_to_usage(uint8_t vk, bool shift, bool caps) {
    uint16_t sh = shift ? 0x200 : 0;
    if (vk >= 'A' && vk <= 'Z') return static_cast<uint16_t>(vk - 61 + (caps ? sh ^ 0x200 : sh));
    uint16_t u = kUsage[vk];
    return u & kShiftable ? static_cast<uint16_t>((u & ~kShiftable) + sh) : u;
}

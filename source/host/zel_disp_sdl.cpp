// The SDL window: SDL's events become window messages, the framebuffer is
// blitted onto the window's surface.
#include "zel_disp_sdl.h"

#include "zel_disp_window.h"

#include <SDL.h>
#include <array>
#include <atomic>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr std::array<uint8_t, SDL_NUM_SCANCODES> make_vk_table() {
    std::array<uint8_t, SDL_NUM_SCANCODES> t{};
    for (int i = 0; i < 26; ++i) t[SDL_SCANCODE_A + i] = static_cast<uint8_t>('A' + i);
    for (int i = 0; i < 9; ++i) t[SDL_SCANCODE_1 + i] = static_cast<uint8_t>('1' + i);
    t[SDL_SCANCODE_0] = '0';
    t[SDL_SCANCODE_RETURN] = ZEL_VK_RETURN;
    t[SDL_SCANCODE_ESCAPE] = ZEL_VK_ESCAPE;
    t[SDL_SCANCODE_BACKSPACE] = ZEL_VK_BACK;
    t[SDL_SCANCODE_TAB] = ZEL_VK_TAB;
    t[SDL_SCANCODE_SPACE] = ZEL_VK_SPACE;
    t[SDL_SCANCODE_MINUS] = ZEL_VK_OEM_MINUS;
    t[SDL_SCANCODE_EQUALS] = ZEL_VK_OEM_PLUS;
    t[SDL_SCANCODE_LEFTBRACKET] = ZEL_VK_OEM_4;
    t[SDL_SCANCODE_RIGHTBRACKET] = ZEL_VK_OEM_6;
    t[SDL_SCANCODE_BACKSLASH] = ZEL_VK_OEM_5;
    t[SDL_SCANCODE_NONUSHASH] = ZEL_VK_OEM_5;  // same key position as backslash
    t[SDL_SCANCODE_SEMICOLON] = ZEL_VK_OEM_1;
    t[SDL_SCANCODE_APOSTROPHE] = ZEL_VK_OEM_7;
    t[SDL_SCANCODE_GRAVE] = ZEL_VK_OEM_3;
    t[SDL_SCANCODE_COMMA] = ZEL_VK_OEM_COMMA;
    t[SDL_SCANCODE_PERIOD] = ZEL_VK_OEM_PERIOD;
    t[SDL_SCANCODE_SLASH] = ZEL_VK_OEM_2;
    t[SDL_SCANCODE_CAPSLOCK] = ZEL_VK_CAPITAL;
    for (int i = 0; i < 12; ++i) t[SDL_SCANCODE_F1 + i] = static_cast<uint8_t>(ZEL_VK_F1 + i);
    for (int i = 0; i < 12; ++i) t[SDL_SCANCODE_F13 + i] = static_cast<uint8_t>(ZEL_VK_F1 + 12 + i);
    t[SDL_SCANCODE_PRINTSCREEN] = ZEL_VK_SNAPSHOT;
    t[SDL_SCANCODE_SCROLLLOCK] = ZEL_VK_SCROLL;
    t[SDL_SCANCODE_PAUSE] = ZEL_VK_PAUSE;
    t[SDL_SCANCODE_INSERT] = ZEL_VK_INSERT;
    t[SDL_SCANCODE_HOME] = ZEL_VK_HOME;
    t[SDL_SCANCODE_PAGEUP] = ZEL_VK_PRIOR;
    t[SDL_SCANCODE_DELETE] = ZEL_VK_DELETE;
    t[SDL_SCANCODE_END] = ZEL_VK_END;
    t[SDL_SCANCODE_PAGEDOWN] = ZEL_VK_NEXT;
    t[SDL_SCANCODE_RIGHT] = ZEL_VK_RIGHT;
    t[SDL_SCANCODE_LEFT] = ZEL_VK_LEFT;
    t[SDL_SCANCODE_DOWN] = ZEL_VK_DOWN;
    t[SDL_SCANCODE_UP] = ZEL_VK_UP;
    t[SDL_SCANCODE_NUMLOCKCLEAR] = ZEL_VK_NUMLOCK;
    t[SDL_SCANCODE_KP_DIVIDE] = ZEL_VK_DIVIDE;
    t[SDL_SCANCODE_KP_MULTIPLY] = ZEL_VK_MULTIPLY;
    t[SDL_SCANCODE_KP_MINUS] = ZEL_VK_SUBTRACT;
    t[SDL_SCANCODE_KP_PLUS] = ZEL_VK_ADD;
    t[SDL_SCANCODE_KP_ENTER] = ZEL_VK_RETURN;
    for (int i = 0; i < 9; ++i) t[SDL_SCANCODE_KP_1 + i] = static_cast<uint8_t>(ZEL_VK_NUMPAD0 + 1 + i);
    t[SDL_SCANCODE_KP_0] = ZEL_VK_NUMPAD0;
    t[SDL_SCANCODE_KP_PERIOD] = ZEL_VK_DECIMAL;
    t[SDL_SCANCODE_NONUSBACKSLASH] = ZEL_VK_OEM_102;
    t[SDL_SCANCODE_APPLICATION] = ZEL_VK_APPS;
    t[SDL_SCANCODE_LCTRL] = ZEL_VK_CONTROL;
    t[SDL_SCANCODE_RCTRL] = ZEL_VK_CONTROL;
    t[SDL_SCANCODE_LSHIFT] = ZEL_VK_SHIFT;
    t[SDL_SCANCODE_RSHIFT] = ZEL_VK_SHIFT;
    t[SDL_SCANCODE_LALT] = ZEL_VK_MENU;
    t[SDL_SCANCODE_RALT] = ZEL_VK_MENU;
    t[SDL_SCANCODE_LGUI] = ZEL_VK_LWIN;
    t[SDL_SCANCODE_RGUI] = ZEL_VK_RWIN;
    return t;
}

constexpr std::array<uint8_t, SDL_NUM_SCANCODES> kVk = make_vk_table();

// The keypad from 1 to 9, then 0 and the point, while Num Lock is off.
constexpr uint8_t kKeypadNav[11] = {ZEL_VK_END, ZEL_VK_DOWN, ZEL_VK_NEXT, ZEL_VK_LEFT, ZEL_VK_CLEAR, ZEL_VK_RIGHT,
    ZEL_VK_HOME, ZEL_VK_UP, ZEL_VK_PRIOR, ZEL_VK_INSERT, ZEL_VK_DELETE};

struct sdl_window {
    SDL_Window *win;
    std::atomic<SDL_Surface *> surface;  // the window's surface once painted
    std::atomic<uint32_t> wake_type;     // our own event type; 0 until the window is open
    std::atomic<bool> invalidate;        // a refresh asked for a paint
    uint8_t vk_down[SDL_NUM_SCANCODES];  // the key each held scancode went down as
    // The characters of the last text event not yet handed on (window thread).
    uint32_t text[SDL_TEXTINPUTEVENT_TEXT_SIZE];
    uint32_t text_count;
    uint32_t text_next;
};

sdl_window g_sdl;

uint8_t locks_of(uint16_t mod) {
    return static_cast<uint8_t>((mod & KMOD_NUM ? ZEL_DISP_LOCK_NUM : 0) | (mod & KMOD_CAPS ? ZEL_DISP_LOCK_CAPS : 0) |
                                (mod & KMOD_SCROLL ? ZEL_DISP_LOCK_SCROLL : 0));
}

uint16_t mod_of(uint8_t locks) {
    return static_cast<uint16_t>((locks & ZEL_DISP_LOCK_NUM ? KMOD_NUM : 0) |
                                 (locks & ZEL_DISP_LOCK_CAPS ? KMOD_CAPS : 0) |
                                 (locks & ZEL_DISP_LOCK_SCROLL ? KMOD_SCROLL : 0));
}

bool key_msg(const SDL_KeyboardEvent &k, zel_disp_msg_t *msg) {
    uint16_t sc = static_cast<uint16_t>(k.keysym.scancode);
    if (sc >= SDL_NUM_SCANCODES) return false;
    uint8_t locks = locks_of(k.keysym.mod);
    uint8_t vk;
    if (k.type == SDL_KEYDOWN) {
        vk = zel_disp_sdl_vk_of(sc, locks & ZEL_DISP_LOCK_NUM);
        g_sdl.vk_down[sc] = vk;
    } else {
        // Released as the key it went down as, even if Num Lock changed since.
        vk = g_sdl.vk_down[sc] ? g_sdl.vk_down[sc] : zel_disp_sdl_vk_of(sc, locks & ZEL_DISP_LOCK_NUM);
        g_sdl.vk_down[sc] = 0;
    }
    if (!vk) return false;
    *msg = {k.type == SDL_KEYDOWN ? ZEL_DISP_MSG_KEY_DOWN : ZEL_DISP_MSG_KEY_UP, vk, locks, 0, 0};
    return true;
}

bool window_msg(const SDL_WindowEvent &w, zel_disp_msg_t *msg) {
    switch (w.event) {
    case SDL_WINDOWEVENT_EXPOSED: msg->kind = ZEL_DISP_MSG_PAINT; return true;
    case SDL_WINDOWEVENT_MINIMIZED: msg->kind = ZEL_DISP_MSG_MINIMISE; return true;
    case SDL_WINDOWEVENT_RESTORED: msg->kind = ZEL_DISP_MSG_RESTORE; return true;
    case SDL_WINDOWEVENT_CLOSE: msg->kind = ZEL_DISP_MSG_CLOSE; return true;
    default: return false;
    }
}

// Keeps the code points of a text event's UTF-8 text (a broken sequence
// ends it) for the next messages.
void take_text(const char *utf8) {
    const auto *s = reinterpret_cast<const unsigned char *>(utf8);
    g_sdl.text_count = 0;
    g_sdl.text_next = 0;
    while (*s && g_sdl.text_count < SDL_TEXTINPUTEVENT_TEXT_SIZE) {
        uint32_t cp = *s;
        int more = cp < 0x80 ? 0 : cp < 0xC0 ? -1 : cp < 0xE0 ? 1 : cp < 0xF0 ? 2 : 3;
        if (more < 0) return;
        cp &= more == 0 ? 0x7F : more == 1 ? 0x1F : more == 2 ? 0x0F : 0x07;
        for (s++; more > 0 && (*s & 0xC0) == 0x80; --more, ++s) cp = (cp << 6) | (*s & 0x3F);
        if (more != 0) return;
        g_sdl.text[g_sdl.text_count++] = cp;
    }
}

// The message an SDL event stands for; false when it stands for none.
bool translate(const SDL_Event &e, zel_disp_msg_t *msg) {
    *msg = {ZEL_DISP_MSG_NONE, 0, 0, 0, 0};
    switch (e.type) {
    case SDL_QUIT: msg->kind = ZEL_DISP_MSG_CLOSE; return true;
    case SDL_WINDOWEVENT: return window_msg(e.window, msg);
    case SDL_KEYDOWN:
    case SDL_KEYUP: return key_msg(e.key, msg);
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT) return false;
        *msg = {e.type == SDL_MOUSEBUTTONDOWN ? ZEL_DISP_MSG_BUTTON_DOWN : ZEL_DISP_MSG_BUTTON_UP, 0, 0, e.button.x,
            e.button.y};
        return true;
    case SDL_MOUSEMOTION: *msg = {ZEL_DISP_MSG_MOUSE_MOVE, 0, 0, e.motion.x, e.motion.y}; return true;
    case SDL_TEXTINPUT: take_text(e.text.text); return false;  // its characters follow one by one
    default: return false;                                     // our wake-up event among others
    }
}

bool sdl_open(const zel_disp_window_cfg_t *cfg, char *why, size_t why_size) {
    // The process's signals stay the process's own.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Unless a driver is asked for (SDL_VIDEODRIVER, "dummy" in tests), the
    // desktop's own: SDL would otherwise fall back to a driver that draws
    // into memory while the program looks as if it ran.
    const char *forced = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (!forced || !*forced) {
        const char *display = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY");
        if (display && *display) {
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        } else if (wayland && *wayland) {
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland");
        } else {
            snprintf(why, why_size, "no desktop to show it on (neither DISPLAY nor WAYLAND_DISPLAY is set)");
            return false;
        }
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        snprintf(why, why_size, "%s", SDL_GetError());
        return false;
    }
    g_sdl.win = SDL_CreateWindow(
        cfg->title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, cfg->width, cfg->height, SDL_WINDOW_SHOWN);
    if (!g_sdl.win) {
        snprintf(why, why_size, "%s", SDL_GetError());
        SDL_Quit();
        return false;
    }
    // Typed text comes as text events, with the characters the window
    // system made of the keys.
    SDL_StartTextInput();
    g_sdl.wake_type.store(SDL_RegisterEvents(1));
    return true;
}

void sdl_next_msg(zel_disp_msg_t *msg) {
    for (;;) {
        if (g_sdl.text_next < g_sdl.text_count) {
            *msg = {ZEL_DISP_MSG_TEXT, 0, 0, static_cast<int32_t>(g_sdl.text[g_sdl.text_next++]), 0};
            return;
        }
        if (g_sdl.invalidate.exchange(false)) {
            *msg = {ZEL_DISP_MSG_INVALIDATE, 0, 0, 0, 0};
            return;
        }
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, 1000) && translate(e, msg)) return;
    }
}

void sdl_post_invalidate() {
    g_sdl.invalidate.store(true);
    // Before the window is open the flag alone is enough: the window thread
    // looks at it before it first waits.
    uint32_t type = g_sdl.wake_type.load();
    if (type == 0 || type == static_cast<uint32_t>(-1)) return;
    SDL_Event e = {};
    e.type = type;
    SDL_PushEvent(&e);
}

void sdl_present(const uint32_t *frame, uint16_t frame_w, const zel_disp_area_t *area) {
    SDL_Surface *dst = SDL_GetWindowSurface(g_sdl.win);
    if (!dst) return;
    SDL_Surface *src = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<uint32_t *>(frame), frame_w, area->y + area->h, 32, frame_w * 4, SDL_PIXELFORMAT_RGB888);
    if (!src) return;
    SDL_Rect from = {area->x, area->y, area->w, area->h};
    SDL_Rect to = from;
    SDL_BlitSurface(src, &from, dst, &to);
    SDL_FreeSurface(src);
    SDL_UpdateWindowSurfaceRects(g_sdl.win, &from, 1);
    g_sdl.surface.store(dst);
}

void sdl_capture_mouse(bool on) { SDL_CaptureMouse(on ? SDL_TRUE : SDL_FALSE); }

void sdl_close() {
    g_sdl.wake_type.store(0);
    zel_disp_window_lock_frame();
    g_sdl.surface.store(nullptr);
    zel_disp_window_unlock_frame();
    SDL_DestroyWindow(g_sdl.win);
    g_sdl.win = nullptr;
    SDL_Quit();
}

bool sdl_types_text() { return true; }

bool push(SDL_Event *e) { return g_sdl.wake_type.load() != 0 && SDL_PushEvent(e) == 1; }

}  // namespace

extern "C" {

const zel_disp_window_op_t zel_disp_window_sdl = {
    .name = "sdl",
    .open = sdl_open,
    .next_msg = sdl_next_msg,
    .post_invalidate = sdl_post_invalidate,
    .present = sdl_present,
    .capture_mouse = sdl_capture_mouse,
    .close = sdl_close,
    .types_text = sdl_types_text,
};

uint8_t zel_disp_sdl_vk_of(uint16_t scancode, bool num_lock) {
    if (scancode >= SDL_NUM_SCANCODES) return 0;
    if (!num_lock && scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_PERIOD) {
        return kKeypadNav[scancode - SDL_SCANCODE_KP_1];
    }
    return kVk[scancode];
}

bool zel_disp_sdl_push_key(uint16_t scancode, bool down, uint8_t locks) {
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = static_cast<SDL_Scancode>(scancode);
    e.key.keysym.mod = mod_of(locks);
    return push(&e);
}

bool zel_disp_sdl_push_button(int32_t x, int32_t y, bool down) {
    SDL_Event e = {};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    return push(&e);
}

bool zel_disp_sdl_push_close(void) {
    SDL_Event e = {};
    e.type = SDL_QUIT;
    return push(&e);
}

uint32_t zel_disp_sdl_pixel(uint16_t x, uint16_t y) {
    uint32_t rgb = 0;
    zel_disp_window_lock_frame();
    SDL_Surface *s = g_sdl.surface.load();
    if (s && x < s->w && y < s->h && s->format->BytesPerPixel == 4) {
        uint32_t p = static_cast<const uint32_t *>(s->pixels)[static_cast<size_t>(y) * (s->pitch / 4) + x];
        uint8_t r, g, b;
        SDL_GetRGB(p, s->format, &r, &g, &b);
        rgb = (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
    }
    zel_disp_window_unlock_frame();
    return rgb;
}

}  // extern "C"

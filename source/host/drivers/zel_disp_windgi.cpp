// The display driver "disp_windgi": framebuffer, window thread, readiness
// and input reports. What the window looks like on screen is the back end's.
#include "zel_disp_windgi.h"

#include "zel_disp_window.h"
#include "zel_input_notifier.h"

#include <atomic>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr const char kTitle[] = "Trellow v1.4";

enum class win_state : uint8_t {
    stopped,    // no window thread yet
    opening,    // the thread creates the window
    shown,      // visible: paints reach the screen
    minimised,  // paints are only reported; the restore draws everything
    closed,     // the user closed the window
    failed      // no window could be made; the display never reports ready
};

struct windgi {
    uint8_t started;
    std::atomic<uint8_t> painted;  // the last refresh has been reported ready
    zel_disp_t *disp;
    zel_host_thread_t thread;
    const zel_disp_window_op_t *window;
    std::atomic<win_state> state;

    // Framebuffer: frame_w x frame_h, top-down, 0x00RRGGBB, fixed for the life
    // of the process. Written by refresh, read by paints, under the frame lock.
    uint32_t *frame;
    uint16_t frame_w;
    uint16_t frame_h;
    bool dirty_set;
    zel_disp_area_t dirty;

    std::atomic<zel_disp_close_query_t> close_query;
    std::atomic<bool> close_due;  // the program asked the window to close

    // Window thread only.
    uint32_t keys_down[8];  // one bit per virtual key
    bool button_down;
};

// Plain static storage without destructors: the window thread may still run
// while the process exits.
windgi g;

zel_disp_t g_disp = {&zel_disp_windgi_op, 900, 560, ZEL_DISP_FMT_RGB565, nullptr, nullptr};

const zel_disp_window_op_t *choose_window() {
    const char *which = getenv("ZEL_DISPLAY");
    if (which && strcmp(which, "memory") == 0) return &zel_disp_window_memory;
    return &zel_disp_window_sdl;
}

// ---- pixel conversion ----

uint32_t from_rgb332(uint32_t p) { return ((p << 16) & 0xE00000) | ((p & 0x1C) << 11) | ((p << 6) & 0xFF); }
uint32_t from_rgb565(uint32_t p) { return ((p << 8) & 0xF80000) | ((p << 5) & 0xFC00) | ((p & 0x1F) << 3); }

void convert_row(uint32_t format, const uint8_t *src, uint32_t *dst, uint32_t count) {
    switch (format) {
    case ZEL_DISP_FMT_RGB332:
        for (uint32_t i = 0; i < count; ++i) dst[i] = from_rgb332(src[i]);
        break;
    case ZEL_DISP_FMT_RGB565:
        for (uint32_t i = 0; i < count; ++i) {
            uint16_t p;
            memcpy(&p, src + 2 * i, 2);
            dst[i] = from_rgb565(p);
        }
        break;
    case ZEL_DISP_FMT_XRGB8888:
    case ZEL_DISP_FMT_ARGB8888: memcpy(dst, src, 4 * static_cast<size_t>(count)); break;
    default:  // unknown format: nothing is copied
        break;
    }
}

void add_dirty(const zel_disp_area_t &a) {
    if (!g.dirty_set) {
        g.dirty = a;
        g.dirty_set = true;
        return;
    }
    uint32_t x0 = a.x < g.dirty.x ? a.x : g.dirty.x;
    uint32_t y0 = a.y < g.dirty.y ? a.y : g.dirty.y;
    uint32_t x1 = a.x + a.w > g.dirty.x + g.dirty.w ? a.x + a.w : g.dirty.x + g.dirty.w;
    uint32_t y1 = a.y + a.h > g.dirty.y + g.dirty.h ? a.y + a.h : g.dirty.y + g.dirty.h;
    g.dirty = {static_cast<uint16_t>(x0), static_cast<uint16_t>(y0), static_cast<uint16_t>(x1 - x0),
        static_cast<uint16_t>(y1 - y0)};
}

// ---- reports into the framework (never with the frame lock held) ----

void report_ready() {
    zel_host_irq_enter(&g.thread);
    if (!g.painted.load()) {
        g.painted.store(1);
        if (g.disp->ready) g.disp->ready(g.disp);
    }
    zel_host_irq_leave(&g.thread, 0);
}

bool key_is_down(uint8_t vk) { return (g.keys_down[vk >> 5] >> (vk & 31)) & 1; }
void set_key(uint8_t vk, bool down) {
    uint32_t bit = 1u << (vk & 31);
    if (down) {
        g.keys_down[vk >> 5] |= bit;
    } else {
        g.keys_down[vk >> 5] &= ~bit;
    }
}

// Keys that may type a character (with Shift, AltGr or none): their
// characters come as text when the window reports it; with Ctrl they type
// nothing.
bool types_character(uint8_t vk, uint8_t locks) {
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9') || vk == ZEL_VK_SPACE) return true;
    if (vk >= ZEL_VK_OEM_1 && vk <= ZEL_VK_OEM_3) return true;
    if ((vk >= ZEL_VK_OEM_4 && vk <= ZEL_VK_OEM_7) || vk == ZEL_VK_OEM_102) return true;
    if (vk >= ZEL_VK_MULTIPLY && vk <= ZEL_VK_DIVIDE && vk != 108) return true;
    return vk >= ZEL_VK_NUMPAD0 && vk <= ZEL_VK_NUMPAD0 + 9 && (locks & ZEL_DISP_LOCK_NUM);
}

void report_key(uint8_t vk, bool down, uint8_t locks) {
    uint64_t id = zel_disp_vk_to_usage(vk, key_is_down(ZEL_VK_SHIFT), locks & ZEL_DISP_LOCK_CAPS);
    if (g.window->types_text && g.window->types_text() && types_character(vk, locks)) id |= ZEL_INPUT_KEY_TYPED;
    if (down) id |= ZEL_INPUT_KEY_PRESS;
    if (key_is_down(ZEL_VK_SHIFT)) id |= ZEL_INPUT_KEY_SHIFT;
    if (key_is_down(ZEL_VK_CONTROL)) id |= ZEL_INPUT_KEY_CTRL;
    if (key_is_down(ZEL_VK_MENU)) id |= ZEL_INPUT_KEY_ALT;
    if (key_is_down(ZEL_VK_LWIN)) id |= ZEL_INPUT_KEY_LWIN;
    if (key_is_down(ZEL_VK_RWIN)) id |= ZEL_INPUT_KEY_RWIN;
    if (locks & ZEL_DISP_LOCK_NUM) id |= ZEL_INPUT_KEY_NUM_LOCK;
    if (locks & ZEL_DISP_LOCK_CAPS) id |= ZEL_INPUT_KEY_CAPS_LOCK;
    if (locks & ZEL_DISP_LOCK_SCROLL) id |= ZEL_INPUT_KEY_SCROLL_LOCK;

    zel_input_evt_t evt = {};
    evt.device = g.disp;
    evt.id = id;
    zel_host_irq_enter(&g.thread);
    zel_input_notify_keyboard(&evt);
    zel_host_irq_leave(&g.thread, 0);
}

void report_text(uint32_t code_point) {
    zel_input_evt_t evt = {};
    evt.device = g.disp;
    evt.id = ZEL_INPUT_KEY_TEXT | ZEL_INPUT_KEY_PRESS;
    evt.value = code_point;
    zel_host_irq_enter(&g.thread);
    zel_input_notify_keyboard(&evt);
    zel_host_irq_leave(&g.thread, 0);
}

int32_t clamp(int32_t v, int32_t size) { return v < 0 ? 0 : v >= size ? size - 1 : v; }

void report_button(int32_t x, int32_t y, bool down) {
    // A release may come from outside the window while the button is
    // captured: it is reported at the nearest point of the client area.
    zel_input_evt_t evt = {};
    evt.device = g.disp;
    evt.id = down ? ZEL_INPUT_TOUCH_PRESSED : 0;
    uint32_t cx = static_cast<uint32_t>(clamp(x, g.frame_w));
    uint32_t cy = static_cast<uint32_t>(clamp(y, g.frame_h));
    evt.value = cx | (cy << 16);
    evt.screen_w = g.disp->width;
    evt.screen_h = g.disp->height;
    zel_host_irq_enter(&g.thread);
    zel_input_notify_touch(&evt);
    zel_host_irq_leave(&g.thread, 0);
}

// ---- painting ----

// Shows the dirty area (or all of the framebuffer) unless minimised, then
// reports the refresh complete: a minimised window never holds up the GUI.
void paint(bool whole) {
    zel_disp_window_lock_frame();
    zel_disp_area_t area = {0, 0, g.frame_w, g.frame_h};
    bool any = whole || g.dirty_set;
    if (!whole) area = g.dirty;
    g.dirty_set = false;
    if (any && g.state.load() == win_state::shown && area.w && area.h) g.window->present(g.frame, g.frame_w, &area);
    zel_disp_window_unlock_frame();
    report_ready();
}

void leave_process(int code) {
    // The host port's exit path; a hook that returns (tests) leaves the
    // window thread ended instead.
    zel_host_exit_hook_t hook = zel_host_set_exit_hook(nullptr);
    zel_host_set_exit_hook(hook);
    hook(code);
}

// Whether the user's close may end the process now: the program's query
// answers inside an emulated interrupt, as input reports do.
bool close_allowed() {
    zel_disp_close_query_t query = g.close_query.load();
    if (!query) return true;
    zel_host_irq_enter(&g.thread);
    bool allowed = query();
    zel_host_irq_leave(&g.thread, 0);
    return allowed;
}

void close_window() {
    g.window->close();
    g.state.store(win_state::closed);
    leave_process(0);
}

}  // namespace

extern "C" {

const zel_disp_op_t zel_disp_windgi_op = {
    .init = zel_disp_windgi_init,
    .refresh = zel_disp_windgi_refresh,
};

zel_disp_t *zel_disp_get(void) { return &g_disp; }

int zel_disp_windgi_init(zel_disp_t *disp) {
    if (g.started) {
        if (disp->ready) disp->ready(disp);
        return 0;
    }
    if (!g.frame) {
        g.frame = static_cast<uint32_t *>(calloc(static_cast<size_t>(disp->width) * disp->height, 4));
        if (!g.frame) return ZEL_HOST_ERR_NO_MEMORY;
        g.frame_w = disp->width;
        g.frame_h = disp->height;
    }
    g.started = 1;
    g.painted.store(0);
    g.disp = disp;
    g.window = choose_window();
    g.state.store(win_state::opening);
    if (zel_host_thread_start(&g.thread, "disp_windgi", zel_disp_windgi_thread, 0) == 0) {
        g.state.store(win_state::stopped);
        g.started = 0;
        return ZEL_HOST_ERR_STATE;
    }
    return 0;
}

int zel_disp_windgi_refresh(zel_disp_t *disp, const zel_disp_area_t *area, const void *pixels) {
    if (!g.started) return ZEL_HOST_ERR_STATE;

    uint32_t bpp = zel_disp_bytes_per_pixel(disp->format);
    // Only the part of the area that lies on the display is written.
    uint32_t w = area->x < g.frame_w ? area->w : 0;
    uint32_t h = area->y < g.frame_h ? area->h : 0;
    if (w > static_cast<uint32_t>(g.frame_w - area->x)) w = g.frame_w - area->x;
    if (h > static_cast<uint32_t>(g.frame_h - area->y)) h = g.frame_h - area->y;

    zel_disp_window_lock_frame();
    const uint8_t *src = static_cast<const uint8_t *>(pixels);
    for (uint32_t r = 0; r < h; ++r) {
        uint32_t *dst = g.frame + static_cast<size_t>(area->y + r) * g.frame_w + area->x;
        convert_row(disp->format, src + static_cast<size_t>(area->w) * bpp * r, dst, w);
    }
    if (w && h) add_dirty({area->x, area->y, static_cast<uint16_t>(w), static_cast<uint16_t>(h)});
    zel_disp_window_unlock_frame();

    g.painted.store(0);
    g.window->post_invalidate();
    return 0;
}

void zel_disp_windgi_thread(zel_host_thread_t *) {
    zel_disp_window_cfg_t cfg = {kTitle, g.frame_w, g.frame_h};
    char why[256] = "";
    if (!g.window->open(&cfg, why, sizeof why)) {
        // Without its window the program would run on unseen: it ends,
        // saying why, in one line.
        g.state.store(win_state::failed);
        char line[512];
        if (g.window == &zel_disp_window_memory)
            snprintf(line, sizeof line, "%s: no window can be shown: %s", kTitle, why);  // in memory already: no advice
        else
            snprintf(line, sizeof line,
                "%s: no window can be shown: %s; start it on a desktop, or with ZEL_DISPLAY=memory to run it "
                "without a window",
                kTitle, why);
        zel_host_ending_line(line);
        leave_process(1);
        return;
    }
    g.state.store(win_state::shown);
    paint(true);  // the first paint reports the display ready
    zel_disp_msg_t msg;
    while (g.state.load() != win_state::closed) {
        g.window->next_msg(&msg);
        zel_disp_windgi_wndproc(&msg);
        if (g.state.load() != win_state::closed && g.close_due.exchange(false)) close_window();
    }
}

void zel_disp_windgi_set_close_query(zel_disp_close_query_t query) { g.close_query.store(query); }

void zel_disp_windgi_close(void) {
    g.close_due.store(true);
    // The window thread looks at the flag after the paint this asks for.
    if (g.window) g.window->post_invalidate();
}

void zel_disp_windgi_wndproc(const zel_disp_msg_t *msg) {
    switch (msg->kind) {
    case ZEL_DISP_MSG_KEY_DOWN:
        // A press of a key that is down: its release never came. A window
        // system folds a release and the next press of the same key into
        // one repeated press when they come a moment apart (typed by a
        // program), and a held key repeats: either way the release goes
        // first, so that every press reaches the program as one.
        if (key_is_down(msg->vk)) {
            set_key(msg->vk, false);
            report_key(msg->vk, false, msg->locks);
        }
        set_key(msg->vk, true);
        report_key(msg->vk, true, msg->locks);
        return;
    case ZEL_DISP_MSG_KEY_UP:
        set_key(msg->vk, false);
        report_key(msg->vk, false, msg->locks);
        return;
    case ZEL_DISP_MSG_TEXT:
        if (msg->x > 0) report_text(static_cast<uint32_t>(msg->x));
        return;
    case ZEL_DISP_MSG_BUTTON_DOWN:
        g.button_down = true;
        g.window->capture_mouse(true);
        report_button(msg->x, msg->y, true);
        return;
    case ZEL_DISP_MSG_BUTTON_UP:
        if (g.button_down) g.window->capture_mouse(false);
        g.button_down = false;
        report_button(msg->x, msg->y, false);
        return;
    case ZEL_DISP_MSG_PAINT: paint(true); return;
    case ZEL_DISP_MSG_INVALIDATE: paint(false); return;
    case ZEL_DISP_MSG_MINIMISE:
        if (g.state.load() == win_state::shown) g.state.store(win_state::minimised);
        return;
    case ZEL_DISP_MSG_RESTORE:
        if (g.state.load() != win_state::minimised) return;
        g.state.store(win_state::shown);
        paint(true);
        return;
    case ZEL_DISP_MSG_CLOSE:
        if (close_allowed()) close_window();
        return;
    case ZEL_DISP_MSG_MOUSE_MOVE:  // not reported
    case ZEL_DISP_MSG_NONE: return;
    }
}

}  // extern "C"

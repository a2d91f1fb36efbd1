// The in-memory window: a message queue fed by the test hooks and an image
// of what a desktop window would show.
#include "zel_disp_memory.h"

#include <stdio.h>

#include <atomic>
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

#if ZEL_HOST_TEST_HOOKS
#include "zel_host_test_hooks.h"
#endif

namespace {

constexpr uint32_t kQueueSize = 64;
constexpr int kHookWaitSeconds = 5;

struct memory_window {
    pthread_mutex_t m;
    pthread_cond_t c;  // queue changed, or a message was handled
    zel_disp_msg_t queue[kQueueSize];
    uint64_t sent;     // messages queued so far; the n-th carries sequence n
    uint64_t taken;    // messages handed to the window thread
    uint64_t handled;  // messages the window thread has finished with
    bool invalidate;   // a refresh asked for a paint
    uint8_t locks;
    std::atomic<bool> typing;  // reports typed text

    // Shown image, written by present under the framebuffer lock.
    uint32_t *shown;
    uint16_t w;
    uint16_t h;
    std::atomic<uint32_t> presents;
    std::atomic<bool> captured;
};

memory_window g_mem = {
    PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, {}, 0, 0, 0, false, 0, {false}, nullptr, 0, 0, {0}, {false}};

// Queues one message and waits until the window thread has handled it.
bool send(zel_disp_msg_kind_t kind, uint8_t vk, int32_t x, int32_t y) {
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += kHookWaitSeconds;

    pthread_mutex_lock(&g_mem.m);
    while (g_mem.sent - g_mem.taken >= kQueueSize) {
        if (pthread_cond_clockwait(&g_mem.c, &g_mem.m, CLOCK_MONOTONIC, &until) == ETIMEDOUT) {
            pthread_mutex_unlock(&g_mem.m);
            return false;
        }
    }
    g_mem.queue[g_mem.sent % kQueueSize] = {kind, vk, g_mem.locks, x, y};
    uint64_t seq = ++g_mem.sent;
    pthread_cond_broadcast(&g_mem.c);
    bool done = true;
    while (g_mem.handled < seq) {
        if (pthread_cond_clockwait(&g_mem.c, &g_mem.m, CLOCK_MONOTONIC, &until) == ETIMEDOUT) {
            done = false;
            break;
        }
    }
    pthread_mutex_unlock(&g_mem.m);
    return done;
}

// Caller holds g_mem.m: everything taken so far has been handled.
void mark_handled() {
    g_mem.handled = g_mem.taken;
    pthread_cond_broadcast(&g_mem.c);
}

bool mem_open(const zel_disp_window_cfg_t *cfg, char *why, size_t why_size) {
    uint32_t *shown = static_cast<uint32_t *>(calloc(static_cast<size_t>(cfg->width) * cfg->height, 4));
    if (!shown) {
        snprintf(why, why_size, "out of memory");
        return false;
    }
    zel_disp_window_lock_frame();
    g_mem.shown = shown;
    g_mem.w = cfg->width;
    g_mem.h = cfg->height;
    zel_disp_window_unlock_frame();
    return true;
}

void mem_next_msg(zel_disp_msg_t *msg) {
    pthread_mutex_lock(&g_mem.m);
    mark_handled();
    while (!g_mem.invalidate && g_mem.taken == g_mem.sent) pthread_cond_wait(&g_mem.c, &g_mem.m);
    if (g_mem.invalidate) {
        g_mem.invalidate = false;
        *msg = {ZEL_DISP_MSG_INVALIDATE, 0, 0, 0, 0};
    } else {
        *msg = g_mem.queue[g_mem.taken % kQueueSize];
        g_mem.taken++;
        pthread_cond_broadcast(&g_mem.c);  // room in the queue
    }
    pthread_mutex_unlock(&g_mem.m);
}

void mem_post_invalidate() {
    pthread_mutex_lock(&g_mem.m);
    g_mem.invalidate = true;
    pthread_cond_broadcast(&g_mem.c);
    pthread_mutex_unlock(&g_mem.m);
}

#if ZEL_HOST_TEST_HOOKS
// A window system that never answers the first paint (see
// zel_host_test_first_paint_held_ms): the window thread stays here.
void hold_first_paint() {
    static std::atomic<bool> painted{false};
    if (painted.exchange(true) || zel_host_test_first_paint_held_ms() == 0) return;
    static pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
    static pthread_cond_t never = PTHREAD_COND_INITIALIZER;
    pthread_mutex_lock(&m);
    for (;;) pthread_cond_wait(&never, &m);
}
#endif

void mem_present(const uint32_t *frame, uint16_t frame_w, const zel_disp_area_t *area) {
#if ZEL_HOST_TEST_HOOKS
    hold_first_paint();
#endif
    for (uint32_t r = 0; r < area->h && area->y + r < g_mem.h; ++r) {
        for (uint32_t c = 0; c < area->w && area->x + c < g_mem.w; ++c) {
            size_t from = static_cast<size_t>(area->y + r) * frame_w + area->x + c;
            g_mem.shown[static_cast<size_t>(area->y + r) * g_mem.w + area->x + c] = frame[from];
        }
    }
    g_mem.presents.fetch_add(1);
}

void mem_capture_mouse(bool on) { g_mem.captured.store(on); }

bool mem_types_text() { return g_mem.typing.load(); }

void mem_close() {
    pthread_mutex_lock(&g_mem.m);
    mark_handled();
    pthread_mutex_unlock(&g_mem.m);
}

}  // namespace

extern "C" {

const zel_disp_window_op_t zel_disp_window_memory = {
    .name = "memory",
    .open = mem_open,
    .next_msg = mem_next_msg,
    .post_invalidate = mem_post_invalidate,
    .present = mem_present,
    .capture_mouse = mem_capture_mouse,
    .close = mem_close,
    .types_text = mem_types_text,
};

void zel_disp_memory_set_locks(uint8_t locks) {
    pthread_mutex_lock(&g_mem.m);
    g_mem.locks = locks;
    pthread_mutex_unlock(&g_mem.m);
}

bool zel_disp_memory_key(uint8_t vk, bool down) {
    return send(down ? ZEL_DISP_MSG_KEY_DOWN : ZEL_DISP_MSG_KEY_UP, vk, 0, 0);
}

void zel_disp_memory_set_typing(bool on) { g_mem.typing.store(on); }

bool zel_disp_memory_text(const char *utf8) {
    const auto *s = reinterpret_cast<const unsigned char *>(utf8);
    while (*s) {
        uint32_t cp = *s;
        int more = cp < 0x80 ? 0 : cp < 0xE0 ? 1 : cp < 0xF0 ? 2 : 3;
        cp &= more == 0 ? 0x7F : more == 1 ? 0x1F : more == 2 ? 0x0F : 0x07;
        for (s++; more > 0 && (*s & 0xC0) == 0x80; --more, ++s) cp = (cp << 6) | (*s & 0x3F);
        if (more != 0) return false;
        if (!send(ZEL_DISP_MSG_TEXT, 0, static_cast<int32_t>(cp), 0)) return false;
    }
    return true;
}

bool zel_disp_memory_button(int32_t x, int32_t y, bool down) {
    return send(down ? ZEL_DISP_MSG_BUTTON_DOWN : ZEL_DISP_MSG_BUTTON_UP, 0, x, y);
}

bool zel_disp_memory_mouse_move(int32_t x, int32_t y) { return send(ZEL_DISP_MSG_MOUSE_MOVE, 0, x, y); }
bool zel_disp_memory_minimise(void) { return send(ZEL_DISP_MSG_MINIMISE, 0, 0, 0); }
bool zel_disp_memory_restore(void) { return send(ZEL_DISP_MSG_RESTORE, 0, 0, 0); }
bool zel_disp_memory_uncover(void) { return send(ZEL_DISP_MSG_PAINT, 0, 0, 0); }
bool zel_disp_memory_close(void) { return send(ZEL_DISP_MSG_CLOSE, 0, 0, 0); }

uint32_t zel_disp_memory_pixel(uint16_t x, uint16_t y) {
    zel_disp_window_lock_frame();
    uint32_t p = g_mem.shown && x < g_mem.w && y < g_mem.h ? g_mem.shown[static_cast<size_t>(y) * g_mem.w + x] : 0;
    zel_disp_window_unlock_frame();
    return p;
}

uint32_t zel_disp_memory_presents(void) { return g_mem.presents.load(); }
bool zel_disp_memory_captured(void) { return g_mem.captured.load(); }

#if ZEL_HOST_TEST_HOOKS
uint32_t zel_host_test_first_paint_held_ms(void) {
    static const uint32_t held = [] {
        const char *text = getenv("ZEL_TEST_FIRST_PAINT_HELD");
        if (!text || !*text) return 0u;
        char *end = nullptr;
        const unsigned long ms = strtoul(text, &end, 10);
        return *end || ms > UINT32_MAX ? 0u : static_cast<uint32_t>(ms);
    }();
    return held;
}
#endif

}  // extern "C"

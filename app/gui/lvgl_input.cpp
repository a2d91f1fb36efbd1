// The input path: the notifier handler (inside the window's emulated
// interrupt) queues the events, LVGL's pointer and keypad read callbacks
// (GUI thread) take them one per read and ask to be read again while more
// wait.
#include "lvgl_gui.h"
#include "lvgl_port.h"
#include "zel_irq_guard.h"
#include "zel_timer.h"

lvgl_gui_t lvgl_gui;

namespace {

zel_input_evt_t &at(lvgl_input_queue_t &q, uint32_t i) { return q.evt[(q.head + i) % LVGL_INPUT_QUEUE_LEN]; }

bool pressed(const zel_input_evt_t &e) { return (e.id & ZEL_INPUT_TOUCH_PRESSED) != 0; }

// The oldest queued touch report that changes nothing pressed, or
// LVGL_INPUT_QUEUE_LEN when every one is a press or a release.
uint32_t oldest_move(lvgl_input_queue_t &q) {
    bool before = pressed(lvgl_gui.last_touch);
    for (uint32_t i = 0; i < q.count; ++i) {
        bool now = pressed(at(q, i));
        if (now == before) return i;
        before = now;
    }
    return LVGL_INPUT_QUEUE_LEN;
}

void drop(lvgl_input_queue_t &q, uint32_t i) {
    for (; i + 1 < q.count; ++i) at(q, i) = at(q, i + 1);
    q.count--;
}

// Under the kernel's protect (the notifier's walk).
void push(lvgl_input_queue_t &q, const zel_input_evt_t &e, bool may_drop_move) {
    if (q.count == LVGL_INPUT_QUEUE_LEN) {
        uint32_t move = may_drop_move ? oldest_move(q) : LVGL_INPUT_QUEUE_LEN;
        if (move == LVGL_INPUT_QUEUE_LEN) {
            // Only presses and releases wait: a new move goes, anything else
            // is lost and counted.
            if (!may_drop_move || pressed(e) != pressed(at(q, q.count - 1))) q.dropped++;
            return;
        }
        drop(q, move);
    }
    at(q, q.count) = e;
    q.count++;
}

// Drops the `n` oldest queued events; the pointer counts as released at the
// last one's place.
void drop_oldest(lvgl_input_queue_t &q, uint32_t n, zel_input_evt_t &last) {
    if (n > q.count) n = q.count;
    if (n != 0) last = at(q, n - 1);
    q.head = (q.head + n) % LVGL_INPUT_QUEUE_LEN;
    q.count -= n;
    last.id &= ~static_cast<uint64_t>(ZEL_INPUT_TOUCH_PRESSED);
}

// The oldest queued event into `last` (kept when none waits); whether more
// wait after it. `taken` tells whether one was taken.
bool pop(lvgl_input_queue_t &q, zel_input_evt_t &last, bool *taken = nullptr) {
    zel_irq_guard guard;
    if (taken) *taken = q.count != 0;
    if (q.count != 0) {
        last = q.evt[q.head];
        q.head = (q.head + 1) % LVGL_INPUT_QUEUE_LEN;
        q.count--;
    }
    return q.count != 0;
}

}  // namespace

extern "C" {

void lvgl_input_on_evt(zel_input_notifier_t *, uint32_t type, const zel_input_evt_t *evt) {
    lvgl_input_take(type, evt, zel_timer_get_ms());
}

void lvgl_input_take(uint32_t type, const zel_input_evt_t *evt, uint64_t ms) {
    zel_input_evt_t stamped = *evt;
    stamped.data = ms;
    if (type == ZEL_INPUT_TYPE_KEYBOARD) {
        // A key whose character comes as a text report is not typed twice.
        if (evt->id & ZEL_INPUT_KEY_TYPED) return;
        push(lvgl_gui.keys, stamped, false);
    } else if (type == ZEL_INPUT_TYPE_TOUCH && (evt->id & ZEL_INPUT_TOUCH_POINT_MASK) == 0) {
        push(lvgl_gui.touches, stamped, true);
    } else {
        return;
    }
    lvgl_gui_wake_from_interrupt();
}

bool lvgl_input_press_acts_at(uint64_t ms) {
    zel_irq_guard guard;
    return lvgl_gui.screens_shown == lvgl_gui.screens_built &&
           (lvgl_gui.screens_shown == 0 || ms >= lvgl_gui.shown_ms + LVGL_DOUBLE_CLICK_MS);
}

void lvgl_gui_wake_from_interrupt(void) {
    if (!lvgl_gui.gui_agent) return;
    lvgl_gui.fast_passes = LVGL_FAST_PASSES;
    (void)zel_eda_sync_increase(&lvgl_gui.wake);  // fails only past 32767 wakes (its waiter holds the node of its wake)
}

void lvgl_gui_wake(void) {
    if (!lvgl_gui.gui_agent) return;
    lvgl_gui.fast_passes = LVGL_FAST_PASSES;
    (void)zel_thread_sync_increase(
        &lvgl_gui.wake);  // fails only past 32767 wakes (its waiter holds the node of its wake)
}

void lvgl_input_screen_built(void) { lvgl_gui.screens_built++; }

void lvgl_screen_refresh_task(lv_task_t *task) {
    const uint32_t built = lvgl_gui.screens_built;
    _lv_disp_refr_task(task);
    if (lvgl_gui.screens_shown == built) return;
    zel_irq_guard guard;
    lvgl_gui.screens_shown = built;
    lvgl_gui.shown_ms = zel_timer_get_ms();
    lvgl_gui.touches_stale = lvgl_gui.touches.count;
}

bool lvgl_pointer_read(lv_indev_drv_t *, lv_indev_data_t *data) {
    {
        // Whatever came before the screen now built was shown goes.
        zel_irq_guard guard;
        lvgl_input_queue_t &q = lvgl_gui.touches;
        if (lvgl_gui.screens_shown != lvgl_gui.screens_built) {
            drop_oldest(q, q.count, lvgl_gui.last_touch);
        } else if (lvgl_gui.touches_stale != 0) {
            drop_oldest(q, lvgl_gui.touches_stale, lvgl_gui.last_touch);
        }
        lvgl_gui.touches_stale = 0;
    }
    const bool was_pressed = pressed(lvgl_gui.last_touch);
    bool more = pop(lvgl_gui.touches, lvgl_gui.last_touch);
    const zel_input_evt_t &t = lvgl_gui.last_touch;
    if (!pressed(t)) {
        lvgl_gui.press_ignored = 0;
    } else if (!was_pressed) {
        // A new press: too soon after a new screen was shown, it was meant
        // for the screen before (a double click); ignored up to its release.
        lvgl_gui.press_ignored = lvgl_gui.screens_shown != 0 && t.data < lvgl_gui.shown_ms + LVGL_DOUBLE_CLICK_MS;
    }
    data->state = pressed(t) && !lvgl_gui.press_ignored ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
    data->point.x = (lv_coord_t)zel_input_touch_x(&t);
    data->point.y = (lv_coord_t)zel_input_touch_y(&t);
    return more;
}

bool lvgl_keypad_read(lv_indev_drv_t *, lv_indev_data_t *data) {
    lvgl_keypad_report_t &k = lvgl_gui.keypad;
    bool traced, more = false;
    if (k.deferred) {
        // What a forced release or a typed character held back: the new
        // key (a character's press first), then a character's release.
        const bool character_press = k.deferred == 2;
        data->key = k.last_key;
        data->state = character_press || k.last_pressed ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
        k.deferred--;
        traced = data->state == LV_INDEV_STATE_PR;
        zel_irq_guard guard;
        more = lvgl_gui.keys.count != 0;
    } else {
        bool taken = false;
        more = pop(lvgl_gui.keys, lvgl_gui.last_key, &taken);
        uint64_t id = lvgl_gui.last_key.id;
        // A character is typed once: read again, it counts as released.
        const bool character = (id & ZEL_INPUT_KEY_TEXT) != 0;
        uint32_t key = character ? (uint32_t)lvgl_gui.last_key.value
                                 : lvgl_key_of_usage((uint16_t)(id & ZEL_INPUT_KEY_USAGE_MASK));
        uint8_t pressed = character ? (taken ? 1 : 0) : ((id & ZEL_INPUT_KEY_PRESS) ? 1 : 0);
        bool forced_release = k.last_pressed && key != k.last_key;
        if (forced_release) {
            data->key = k.last_key;
            data->state = LV_INDEV_STATE_REL;
            k.deferred = character && pressed ? 2 : 1;
        } else {
            data->key = key;
            data->state = pressed ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
            k.deferred = character && pressed ? 1 : 0;
        }
        k.last_key = key;
        k.last_pressed = character ? 0 : pressed;
        traced = forced_release || data->state == LV_INDEV_STATE_PR;
    }
    if (traced) {
        uint64_t now = zel_timer_get_ms();
        zel_trace(2, "[%lld] %s, key: %d, status: %s\r\n", (long long)(now - k.last_trace_ms),
            k.deferred ? "more send" : "first send", (int)data->key,
            data->state == LV_INDEV_STATE_PR ? "LV_INDEV_STATE_PR" : "LV_INDEV_STATE_REL");
        k.last_trace_ms = now;
    }
    return k.deferred != 0 || more;
}

}  // extern "C"

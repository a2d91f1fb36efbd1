// The input path: the notifier handler (inside the window's emulated
// interrupt) and LVGL's pointer and keypad read callbacks (GUI thread).
#include "lvgl_gui.h"
#include "lvgl_port.h"

lvgl_gui_t lvgl_gui;

extern "C" {

void lvgl_input_on_evt(zel_input_notifier_t *, uint32_t type, const zel_input_evt_t *evt) {
    if (type == ZEL_INPUT_TYPE_KEYBOARD) {
        lvgl_gui.last_key = *evt;
    } else if (type == ZEL_INPUT_TYPE_TOUCH && (evt->id & ZEL_INPUT_TOUCH_POINT_MASK) == 0) {
        lvgl_gui.last_touch = *evt;
    } else {
        return;
    }
    if (lvgl_gui.gui_agent) {
        lvgl_gui.fast_passes = LVGL_FAST_PASSES;
        zel_eda_sync_increase(&lvgl_gui.wake);
    }
}

bool lvgl_pointer_read(lv_indev_drv_t *, lv_indev_data_t *data) {
    const zel_input_evt_t &t = lvgl_gui.last_touch;
    data->state = (t.id & ZEL_INPUT_TOUCH_PRESSED) ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
    data->point.x = (lv_coord_t)zel_input_touch_x(&t);
    data->point.y = (lv_coord_t)zel_input_touch_y(&t);
    return false;
}

bool lvgl_keypad_read(lv_indev_drv_t *, lv_indev_data_t *data) {
    lvgl_keypad_report_t &k = lvgl_gui.keypad;
    bool traced;
    if (k.deferred) {
        // The new key that a forced release held back.
        data->key = k.last_key;
        data->state = k.last_pressed ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
        k.deferred = 0;
        traced = k.last_pressed;
    } else {
        uint64_t id = lvgl_gui.last_key.id;
        uint16_t key = (uint16_t)lvgl_key_of_usage((uint16_t)(id & ZEL_INPUT_KEY_USAGE_MASK));
        uint8_t pressed = (id & ZEL_INPUT_KEY_PRESS) ? 1 : 0;
        bool forced_release = k.last_pressed && key != k.last_key;
        if (forced_release) {
            data->key = k.last_key;
            data->state = LV_INDEV_STATE_REL;
            k.deferred = 1;
        } else {
            data->key = key;
            data->state = pressed ? LV_INDEV_STATE_PR : LV_INDEV_STATE_REL;
        }
        k.last_key = key;
        k.last_pressed = pressed;
        traced = forced_release || data->state == LV_INDEV_STATE_PR;
    }
    if (traced) {
        uint64_t now = zel_systimer_tick_to_ms(zel_systimer_get_tick());
        zel_trace(2, "[%lld] %s, key: %d, status: %s\r\n", (long long)(now - k.last_trace_ms),
                  k.deferred ? "more send" : "first send", (int)data->key,
                  data->state == LV_INDEV_STATE_PR ? "LV_INDEV_STATE_PR" : "LV_INDEV_STATE_REL");
        k.last_trace_ms = now;
    }
    return k.deferred != 0;
}

}  // extern "C"

/* The GUI process's state, shared by the GUI thread (lvgl_gui.cpp) and the
 * input path (lvgl_input.cpp). One static instance. */
#ifndef LVGL_GUI_H
#define LVGL_GUI_H

#include <stdint.h>

#include "lvgl.h"
#include "zel_input_notifier.h"
#include "zel_kernel.h"

#define LVGL_DRAW_BUF_PIXELS 50400u /* 900 x 56 lines */
#define LVGL_FAST_PASSES 10u
#define LVGL_INPUT_QUEUE_LEN 1024u /* a burst of typed text or of clicks fits */
/* A press that comes this soon after a new screen was shown does nothing
 * on it: the second click of a double click at a person's speed. */
#define LVGL_DOUBLE_CLICK_MS 400u

/* Input events between the window's reports and LVGL's reads, oldest
 * first: every press and release reaches LVGL, in order, however fast they
 * come. Each queued event carries the time it came (milliseconds of the
 * system timer) in its `data` word. Filled inside the window's emulated interrupt, emptied by the read
 * callbacks under the kernel's protect. A full queue makes room by dropping
 * its oldest move (a touch report that changes no pressed state); with no
 * move to drop, the new event is dropped and counted. */
typedef struct lvgl_input_queue {
    zel_input_evt_t evt[LVGL_INPUT_QUEUE_LEN];
    uint32_t head; /* index of the oldest */
    uint32_t count;
    uint32_t dropped; /* presses and releases that found the queue full of them */
} lvgl_input_queue_t;

/* What the keypad reported last; a key change while a key is held is
 * reported in two reads: the old key released (with "more data"), then the
 * new one. A typed character (a text report) is its key pressed, then
 * released on the next read. */
typedef struct lvgl_keypad_report {
    uint32_t last_key;
    uint8_t last_pressed;
    /* Reports of last_key held back for the next reads: 1 the last one
     * (last_key as last_pressed says), 2 a typed character's press, then
     * its release. */
    uint8_t deferred;
    uint64_t last_trace_ms;
} lvgl_keypad_report_t;

typedef struct lvgl_gui {
    volatile uint8_t running;
    volatile uint32_t fast_passes;
    zel_sync_t wake;
    zel_eda_t *volatile gui_agent;  /* set by lvgl_thread; input wakes it from then on */
    zel_eda_t *volatile main_agent; /* lvgl_main, woken by the display-ready report */
    volatile uint8_t disp_ready;    /* the display has reported ready (kept: the wake may come during a sub-call) */
    zel_input_notifier_t notifier;
    lvgl_input_queue_t keys;    /* type 5, not yet read */
    lvgl_input_queue_t touches; /* type 4 of touch point 0, not yet read */
    zel_input_evt_t last_key;   /* the last key event read: held until the next */
    zel_input_evt_t last_touch; /* the last touch event read */
    lvgl_keypad_report_t keypad;
    lv_group_t *group;
    /* Screens built (ui_screen_create) and those of them on the display
     * (a refresh pass ran after the build); pointer reports queued before
     * the newest screen was shown are dropped (touches_stale: how many of
     * the queued ones came before the last screen was shown). */
    uint32_t screens_built;
    uint32_t screens_shown;
    uint32_t touches_stale;
    /* When the last screen was shown (system timer, ms); a press that came
     * before shown_ms + LVGL_DOUBLE_CLICK_MS is ignored up to its release
     * (press_ignored). */
    uint64_t shown_ms;
    uint8_t press_ignored;
} lvgl_gui_t;

extern lvgl_gui_t lvgl_gui;

#endif

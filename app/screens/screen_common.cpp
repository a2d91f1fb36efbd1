// What the job screens share.
#include "screen_common.h"

#include <pthread.h>

#include "i18n.h"
#include "main_screen.h"
#include "transfer_job.h"
#include "ui_build.h"
#include "ui_styles.h"

namespace {

lv_signal_cb_t g_base_signal;  // the base object's own signal handler

lv_res_t screen_signal(lv_obj_t *obj, lv_signal_t sign, void *param) {
    if (sign == LV_SIGNAL_CLEANUP && obj->user_data)
        static_cast<const screen_forget_t *>(obj->user_data)->forget();
    return g_base_signal(obj, sign, param);
}

}  // namespace

extern "C" {

void screen_forget_on_delete(lv_obj_t *screen, const screen_forget_t *hook) {
    g_base_signal = screen->signal_cb;
    screen->user_data = const_cast<screen_forget_t *>(hook);
    lv_obj_set_signal_cb(screen, screen_signal);
}

lv_obj_t *screen_open(lv_obj_t *clicked, const screen_forget_t *hook) {
    lv_obj_del(lv_obj_get_parent(clicked));
    lv_obj_t *screen = ui_screen_create();
    screen_forget_on_delete(screen, hook);
    return screen;
}

void screen_close(lv_obj_t *screen) {
    if (!screen) return;
    lv_obj_del(screen);
    main_screen_create();
}

bool screen_worker_start(void *(*body)(void *)) {
    pthread_attr_t attr = {};
    attr.__word[0] = PTHREAD_CREATE_DETACHED;
    attr.__word[3] = 1;  // at the process's priority
    pthread_t thread;
    return pthread_create(&thread, &attr, body, nullptr) == 0;
}

void screen_message(lv_obj_t *label, const char *key) {
    if (label) lv_label_set_text(label, i18n_get_text(key));
}

lv_obj_t *screen_message_label(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x,
                               lv_coord_t y) {
    lv_obj_t *label = ui_label(parent, &style_note, "", base, align, x, y);
    lv_obj_set_style_local_text_color(label, LV_LABEL_PART_MAIN, LV_STATE_DEFAULT, LV_COLOR_MAKE(0xFF, 0, 0));
    return label;
}

lv_obj_t *screen_progress_bar(lv_obj_t *parent, const lv_obj_t *base, lv_align_t align, lv_coord_t x,
                              lv_coord_t y) {
    lv_obj_t *bar = lv_bar_create(parent, nullptr);
    lv_bar_set_anim_time(bar, 100);
    lv_bar_set_value(bar, 0, LV_ANIM_ON);
    lv_obj_set_size(bar, 590, 17);
    lv_obj_align(bar, base, align, x, y);
    lv_obj_set_hidden(bar, true);
    return bar;
}

void screen_progress_show(lv_obj_t *bar, uint32_t total, uint32_t current) {
    if (!bar) return;
    lv_obj_set_hidden(bar, false);
    lv_bar_set_value(bar, transfer_percent(total, current), LV_ANIM_ON);
}

}  // extern "C"

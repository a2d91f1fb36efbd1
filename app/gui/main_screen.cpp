// The GUI set-up, the main screen and the language switch.
#include "main_screen.h"

#include "adapter_poll.h"
#include "app_commands.h"
#include "app_screens.h"
#include "i18n.h"
#include "ui_build.h"
#include "ui_styles.h"
#include "ui_texts.h"

extern "C" {
uint8_t ui_language;
main_screen_objs_t main_screen;
}

namespace {

lv_signal_cb_t g_base_signal;

// The main screen object's signals: its deletion forgets what the poll
// would otherwise act on.
lv_res_t screen_signal(lv_obj_t *obj, lv_signal_t sign, void *param) {
    if (sign == LV_SIGNAL_CLEANUP && obj == main_screen.screen) main_screen = main_screen_objs_t{};
    return g_base_signal(obj, sign, param);
}

lv_obj_t *job_button(lv_obj_t *scr, const char *key, const lv_obj_t *base, lv_coord_t x, lv_coord_t y, lv_event_cb_t cb,
    uint8_t enabled) {
    lv_obj_t *btn = ui_button(scr, i18n_get_text(key), 140, 35, base, LV_ALIGN_OUT_BOTTOM_MID, x, y, cb);
    if (btn && !enabled) lv_btn_set_state(btn, LV_BTN_STATE_DISABLED);
    return btn;
}

lv_obj_t *language_button(lv_obj_t *scr, const char *text, const lv_obj_t *base, lv_coord_t x) {
    lv_obj_t *btn = ui_button(scr, text, 84, 35, base, LV_ALIGN_OUT_BOTTOM_MID, x, 315, language_btn_event_cb);
    if (btn) lv_btn_set_checkable(btn, true);
    return btn;
}

}  // namespace

extern "C" {

uint8_t ui_language_load(void) {
    uint8_t language = 0;
    file_read(UI_LANGUAGE_FILE, &language, 1);
    return language;
}

void ui_language_save(uint8_t language) { file_write(UI_LANGUAGE_FILE, &language, 1); }

void ui_language_apply(uint8_t language) { i18n_set_locale(language ? "zh-CN" : "en-US"); }

void app_ui_init(uint8_t) {
    host_dialog_threads_init();
    transfer_job_guard_close();
    i18n_init(i18n_app_packs());
    i18n_set_locale("en-US");
    ui_language = ui_language_load();
    ui_language_apply(ui_language);
    ui_styles_init();
    main_screen_create();
}

void main_screen_create(void) {
    lv_obj_t *scr = ui_screen_create();
    if (!scr) {
        ui_screen_failed("the main screen");
        return;
    }
    g_base_signal = scr->signal_cb;
    lv_obj_set_signal_cb(scr, screen_signal);

    main_screen_objs_t built = {};
    built.screen = scr;
    built.status = ui_label(scr, &style_text, i18n_get_text("发现适配器"), scr, LV_ALIGN_IN_TOP_MID, 0, 35);
    lv_obj_t *hint = built.status
                         ? ui_label(scr, &style_text,
                               i18n_get_text("将适配器升级键按住不放松，插入PC USB口在松开配对按钮，既可配置和升级"),
                               built.status, LV_ALIGN_OUT_BOTTOM_MID, 0, 35)
                         : nullptr;
    if (hint) {
        built.config_btn = job_button(scr, "配置", hint, -112, 70, config_screen_create, cfg_files_ok);
        built.upgrade_btn = job_button(scr, "升级", hint, 112, 70, upgrade_screen_create, version_file_ok);
        built.script_btn = job_button(scr, "脚本", hint, 0, 140, script_screen_create, script_file_ok);
        built.chinese_btn = language_button(scr, UI_TEXT_LANG_CHINESE, hint, -42);
        built.english_btn = language_button(scr, UI_TEXT_LANG_ENGLISH, hint, 42);
    }
    if (!built.config_btn || !built.upgrade_btn || !built.script_btn || !built.chinese_btn || !built.english_btn) {
        lv_obj_del(scr);
        ui_screen_failed("the main screen");
        return;
    }
    main_screen = built;

    lv_btn_set_state(ui_language == 0 ? main_screen.english_btn : main_screen.chinese_btn, LV_BTN_STATE_DISABLED);
    if (!adapter_poll_start()) {
        lv_obj_del(scr);  // forgets main_screen
        ui_screen_failed("the main screen");
    }
}

void language_btn_event_cb(lv_obj_t *obj, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    ui_language = obj == main_screen.chinese_btn ? 1 : 0;
    ui_language_apply(ui_language);
    ui_language_save(ui_language);
    lv_obj_del(lv_obj_get_parent(obj));
    main_screen_create();
}

}  // extern "C"

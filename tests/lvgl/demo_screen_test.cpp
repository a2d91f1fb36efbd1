// Renders a screen with every widget the application uses, styled as the application
// styles them, and writes it to lvgl_demo_screen.ppm (and with a message box over it to
// lvgl_demo_msgbox.ppm) in the build folder for a person to look at.
#include <string>

#include "app_fonts.h"
#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

lv_color_t rgb565(uint16_t v) {
    lv_color_t c;
    c.full = v;
    return c;
}

struct DemoStyles {
    lv_style_t frame, note, text, btn, padded, msgbox, backdrop;

    DemoStyles() {
        lv_style_init(&frame);
        _lv_style_set_ptr(&frame, LV_STYLE_TEXT_FONT, &app_font_19);
        _lv_style_set_int(&frame, LV_STYLE_RADIUS, 2);
        _lv_style_set_color(&frame, LV_STYLE_BORDER_COLOR, rgb565(0x6CF2));
        _lv_style_set_int(&frame, LV_STYLE_BORDER_WIDTH, 2);
        _lv_style_set_opa(&frame, LV_STYLE_BORDER_OPA, 127);
        _lv_style_set_int(&frame, LV_STYLE_BORDER_SIDE, LV_BORDER_SIDE_FULL);
        lv_style_init(&note);
        _lv_style_set_ptr(&note, LV_STYLE_TEXT_FONT, &app_font_15);
        _lv_style_set_opa(&note, LV_STYLE_BG_OPA, 127);
        lv_style_init(&text);
        _lv_style_set_ptr(&text, LV_STYLE_TEXT_FONT, &app_font_19);
        _lv_style_set_opa(&text, LV_STYLE_BG_OPA, 127);
        lv_style_init(&btn);
        _lv_style_set_ptr(&btn, LV_STYLE_TEXT_FONT, &app_font_19);
        for (lv_state_t s : {LV_STATE_DISABLED, LV_STATE_PRESSED, LV_STATE_DEFAULT, LV_STATE_CHECKED}) {
            _lv_style_set_color(
                &btn, (lv_style_property_t)(LV_STYLE_BG_COLOR | (s << LV_STYLE_STATE_POS)), rgb565(0x44FF));
        }
        for (lv_state_t s : {LV_STATE_DISABLED, LV_STATE_PRESSED, LV_STATE_CHECKED}) {
            _lv_style_set_opa(&btn, (lv_style_property_t)(LV_STYLE_BG_OPA | (s << LV_STYLE_STATE_POS)), 127);
        }
        _lv_style_set_opa(&btn, LV_STYLE_BG_OPA, 255);
        _lv_style_set_int(&btn, LV_STYLE_RADIUS, 7);
        _lv_style_set_int(&btn, LV_STYLE_BORDER_WIDTH, 0);
        lv_style_init(&padded);
        _lv_style_set_ptr(&padded, LV_STYLE_TEXT_FONT, &app_font_19);
        _lv_style_set_int(&padded, LV_STYLE_PAD_TOP, 10);
        _lv_style_set_int(&padded, LV_STYLE_PAD_BOTTOM, 10);
        lv_style_init(&msgbox);
        _lv_style_set_ptr(&msgbox, LV_STYLE_TEXT_FONT, &app_font_19);
        lv_style_init(&backdrop);
        for (lv_state_t s : {LV_STATE_DISABLED, LV_STATE_PRESSED, LV_STATE_CHECKED, LV_STATE_DEFAULT}) {
            _lv_style_set_opa(&backdrop, (lv_style_property_t)(LV_STYLE_BG_OPA | (s << LV_STYLE_STATE_POS)), 127);
        }
    }

    ~DemoStyles() {
        for (lv_style_t *s : {&frame, &note, &text, &btn, &padded, &msgbox, &backdrop}) lv_style_reset(s);
    }
};

lv_obj_t *text_label(lv_obj_t *par, lv_style_t *style, const char *txt) {
    lv_obj_t *l = lv_label_create(par, nullptr);
    lv_obj_add_style(l, LV_LABEL_PART_MAIN, style);
    lv_label_set_recolor(l, true);
    lv_label_set_text(l, txt);
    lv_obj_set_width(l, 815);
    lv_label_set_long_mode(l, LV_LABEL_LONG_EXPAND);
    lv_label_set_align(l, LV_LABEL_ALIGN_LEFT);
    lv_obj_set_auto_realign(l, true);
    return l;
}

lv_obj_t *button(lv_obj_t *par, lv_style_t *style, const char *txt, lv_coord_t w, lv_coord_t h) {
    lv_obj_t *b = lv_btn_create(par, nullptr);
    lv_obj_add_style(b, LV_BTN_PART_MAIN, style);
    lv_obj_t *l = lv_label_create(b, nullptr);
    lv_obj_align(l, nullptr, LV_ALIGN_CENTER, 0, 0);
    lv_label_set_long_mode(l, LV_LABEL_LONG_EXPAND);
    lv_label_set_text(l, txt);
    lv_label_set_align(l, LV_LABEL_ALIGN_CENTER);
    lv_obj_set_size(b, w, h);
    return b;
}

class DemoScreen : public LvglTest {};

TEST_F(DemoScreen, RendersEveryWidgetToAFile) {
    DemoStyles st;
    lv_obj_t *screen = lv_obj_create(lv_scr_act(), nullptr);
    lv_obj_set_size(screen, 900, 560);

    lv_obj_t *status = text_label(screen, &st.text, "发现适配器");
    lv_obj_align(status, nullptr, LV_ALIGN_IN_TOP_MID, 0, 35);
    lv_obj_t *info =
        text_label(screen, &st.text, "将适配器升级键按住不放松，插入PC USB口在松开配对按钮，既可配置和升级");
    lv_obj_align(info, status, LV_ALIGN_OUT_BOTTOM_MID, 0, 35);

    lv_obj_t *cfg = button(screen, &st.btn, "配置", 140, 35);
    lv_obj_align(cfg, info, LV_ALIGN_OUT_BOTTOM_MID, -112, 70);
    lv_obj_t *upg = button(screen, &st.btn, "升级", 140, 35);
    lv_obj_align(upg, info, LV_ALIGN_OUT_BOTTOM_MID, 112, 70);
    lv_btn_set_state(upg, LV_BTN_STATE_DISABLED);
    lv_obj_t *zh = button(screen, &st.btn, "中文", 84, 35);
    lv_obj_align(zh, info, LV_ALIGN_OUT_BOTTOM_MID, -42, 315);
    lv_btn_set_checkable(zh, true);
    lv_obj_t *en = button(screen, &st.btn, "English", 84, 35);
    lv_obj_align(en, info, LV_ALIGN_OUT_BOTTOM_MID, 42, 315);
    lv_btn_set_state(en, LV_BTN_STATE_DISABLED);

    lv_obj_t *box = lv_obj_create(screen, nullptr);
    lv_obj_add_style(box, LV_OBJ_PART_MAIN, &st.frame);
    lv_obj_set_size(box, 42, 35);
    lv_obj_align(box, nullptr, LV_ALIGN_IN_TOP_LEFT, 84, 250);
    lv_obj_t *step = lv_label_create(box, nullptr);
    lv_label_set_long_mode(step, LV_LABEL_LONG_DOT);
    lv_label_set_static_text(step, "1");
    lv_label_set_align(step, LV_LABEL_ALIGN_CENTER);
    lv_obj_align(step, nullptr, LV_ALIGN_CENTER, 0, 0);

    lv_obj_t *ta = lv_textarea_create(screen, nullptr);
    lv_textarea_set_cursor_hidden(ta, false);
    lv_textarea_set_text_align(ta, LV_LABEL_ALIGN_LEFT);
    lv_obj_add_style(ta, LV_TEXTAREA_PART_BG, &st.padded);
    lv_textarea_set_accepted_chars(ta, "0123456789");
    lv_textarea_set_max_length(ta, 8);
    lv_textarea_set_text(ta, "1234");
    lv_obj_set_size(ta, 300, 35);
    lv_obj_align(ta, box, LV_ALIGN_OUT_RIGHT_TOP, 14, 0);
    lv_group_add_obj(group, ta);

    lv_obj_t *bar = lv_bar_create(screen, nullptr);
    lv_obj_set_size(bar, 590, 17);
    lv_bar_set_anim_time(bar, 100);
    lv_bar_set_value(bar, 60, LV_ANIM_OFF);
    lv_obj_align(bar, box, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 20);

    lv_obj_t *note = text_label(
        screen, &st.note, "请将PS5游戏机通过WIFI或者有线连接网络\n我们强烈建议PS5游戏机通过#ff0000 有线方式#连接网络");
    lv_obj_align(note, bar, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 14);
    lv_obj_t *red = text_label(screen, &st.note, "校验码为空或者太短，\n请检查步骤6!");
    lv_label_set_long_mode(red, LV_LABEL_LONG_BREAK);
    lv_obj_set_size(red, 225, 140);
    lv_obj_set_style_local_text_color(red, LV_LABEL_PART_MAIN, LV_STATE_DEFAULT, rgb565(0xF800));
    lv_obj_align(red, note, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 10);

    refresh();
    write_ppm(std::string(LVGL_TEST_OUTPUT_DIR) + "/lvgl_demo_screen.ppm");
    lv_point_t in_bar = {(lv_coord_t)(bar->coords.x1 + 10), centre_of(bar).y};
    EXPECT_EQ(pixel(in_bar.x, in_bar.y).full, lv_theme_get_color_primary().full);

    // A message box over a backdrop, as the application shows it.
    lv_obj_t *backdrop = lv_obj_create(lv_scr_act(), nullptr);
    lv_obj_set_size(backdrop, 900, 560);
    lv_obj_add_style(backdrop, LV_OBJ_PART_MAIN, &st.backdrop);
    lv_obj_t *mbox = lv_msgbox_create(backdrop, nullptr);
    lv_msgbox_set_text(mbox, "配置保存成功");
    static const char *btns[] = {"确认", ""};
    lv_msgbox_add_btns(mbox, btns);
    lv_obj_add_style(mbox, LV_MSGBOX_PART_BG, &st.msgbox);
    lv_obj_set_width(mbox, 200);
    lv_obj_align(mbox, nullptr, LV_ALIGN_CENTER, 0, 0);
    refresh();
    write_ppm(std::string(LVGL_TEST_OUTPUT_DIR) + "/lvgl_demo_msgbox.ppm");
    // The backdrop pales the screen under it.
    lv_color_t paled = pixel(in_bar.x, in_bar.y);
    EXPECT_GT(LV_COLOR_GET_R(paled), LV_COLOR_GET_R(lv_theme_get_color_primary()));
}

}  // namespace
}  // namespace lvgl_test

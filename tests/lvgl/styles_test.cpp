// Style resolution: the most specific state wins, later styles and local values come
// first, text properties are inherited, and the theme fills in the rest.
#include "app_fonts.h"
#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

class Styles : public LvglTest {
protected:
    void TearDown() override {
        lv_style_reset(&a);
        lv_style_reset(&b);
        LvglTest::TearDown();
    }

    static lv_color_t color(uint16_t v) {
        lv_color_t c;
        c.full = v;
        return c;
    }

    lv_style_t a{}, b{};
};

TEST_F(Styles, TheMostSpecificStateWins) {
    lv_style_init(&a);
    lv_style_set_bg_color(&a, LV_STATE_DEFAULT, color(1));
    lv_style_set_bg_color(&a, LV_STATE_CHECKED, color(2));
    lv_style_set_bg_color(&a, LV_STATE_PRESSED, color(3));
    lv_style_set_bg_color(&a, LV_STATE_PRESSED | LV_STATE_CHECKED, color(4));
    lv_style_set_bg_color(&a, LV_STATE_DISABLED, color(5));
    lv_obj_t *o = lv_obj_create(scr, nullptr);
    lv_obj_add_style(o, LV_OBJ_PART_MAIN, &a);

    struct Case {
        lv_state_t state;
        uint16_t expect;
    };
    for (Case c : {Case{LV_STATE_DEFAULT, 1}, Case{LV_STATE_CHECKED, 2}, Case{LV_STATE_PRESSED, 3},
             Case{LV_STATE_PRESSED | LV_STATE_CHECKED, 4}, Case{LV_STATE_DISABLED, 5}, Case{LV_STATE_FOCUSED, 1},
             Case{LV_STATE_FOCUSED | LV_STATE_CHECKED, 2}, Case{LV_STATE_DISABLED | LV_STATE_CHECKED, 5}}) {
        lv_obj_set_state(o, c.state);
        EXPECT_EQ(lv_obj_get_style_bg_color(o, LV_OBJ_PART_MAIN).full, c.expect) << "state " << int(c.state);
    }
}

TEST_F(Styles, LocalValuesThenLaterStylesComeFirst) {
    lv_style_init(&a);
    lv_style_init(&b);
    lv_style_set_text_color(&a, LV_STATE_DEFAULT, color(10));
    lv_style_set_text_color(&b, LV_STATE_DEFAULT, color(20));
    lv_obj_t *l = lv_label_create(scr, nullptr);
    lv_obj_add_style(l, LV_LABEL_PART_MAIN, &a);
    lv_obj_add_style(l, LV_LABEL_PART_MAIN, &b);
    EXPECT_EQ(lv_obj_get_style_text_color(l, LV_LABEL_PART_MAIN).full, 20);
    lv_obj_add_style(l, LV_LABEL_PART_MAIN, &a);  // added again: latest again
    EXPECT_EQ(lv_obj_get_style_text_color(l, LV_LABEL_PART_MAIN).full, 10);
    lv_obj_set_style_local_text_color(l, LV_LABEL_PART_MAIN, LV_STATE_DEFAULT, color(0xF800));
    EXPECT_EQ(lv_obj_get_style_text_color(l, LV_LABEL_PART_MAIN).full, 0xF800);
    // A more specific state in a style beats a local default value.
    lv_style_set_text_color(&a, LV_STATE_PRESSED, color(30));
    lv_obj_add_state(l, LV_STATE_PRESSED);
    EXPECT_EQ(lv_obj_get_style_text_color(l, LV_LABEL_PART_MAIN).full, 30);
}

TEST_F(Styles, TextPropertiesComeFromTheParentInItsState) {
    lv_style_init(&a);
    lv_style_set_text_font(&a, LV_STATE_DEFAULT, &app_font_19);
    lv_obj_t *btn = lv_btn_create(scr, nullptr);
    lv_obj_add_style(btn, LV_BTN_PART_MAIN, &a);
    lv_obj_t *l = lv_label_create(btn, nullptr);
    lv_label_set_text(l, "Back");
    EXPECT_EQ(lv_obj_get_style_text_font(l, LV_LABEL_PART_MAIN), &app_font_19);
    EXPECT_EQ(lv_obj_get_height(l), 19);
    // The theme greys the text of a disabled button.
    lv_color_t normal = lv_obj_get_style_text_color(l, LV_LABEL_PART_MAIN);
    lv_btn_set_state(btn, LV_BTN_STATE_DISABLED);
    EXPECT_EQ(lv_obj_get_style_text_color(l, LV_LABEL_PART_MAIN).full, lv_color_hex(0x888888).full);
    EXPECT_NE(normal.full, lv_color_hex(0x888888).full);
    // Non-text properties are not inherited; without any style the defaults apply.
    EXPECT_EQ(lv_obj_get_style_bg_opa(l, LV_LABEL_PART_MAIN), LV_OPA_TRANSP);
    EXPECT_EQ(lv_obj_get_style_text_font(lv_label_create(scr, nullptr), LV_LABEL_PART_MAIN), &lv_font_dejavu_16);
}

TEST_F(Styles, TheLightMaterialThemeLooksAsLvglSeven) {
    lv_obj_t *o = lv_obj_create(scr, nullptr);
    lv_obj_t *btn = lv_btn_create(scr, nullptr);
    EXPECT_EQ(lv_obj_get_style_bg_color(scr, LV_OBJ_PART_MAIN).full, lv_color_hex(0xeaeff3).full);
    EXPECT_EQ(lv_obj_get_style_bg_color(o, LV_OBJ_PART_MAIN).full, LV_COLOR_WHITE.full);
    EXPECT_EQ(lv_obj_get_style_radius(o, LV_OBJ_PART_MAIN), LV_DPX(8));
    EXPECT_EQ(lv_obj_get_style_border_width(btn, LV_BTN_PART_MAIN), LV_DPX(2));
    EXPECT_EQ(lv_theme_get_color_primary().full, lv_color_hex(0x01a2b1).full);
    EXPECT_EQ(lv_font_get_line_height(lv_theme_get_font_normal()), 16);
}

TEST(FreeType, InitCreatesTheCachesOnce) {
    EXPECT_EQ(lv_freetype_init(4), 0);
    EXPECT_EQ(lv_freetype_init(4), 0);
    lv_freetype_destroy();
    EXPECT_EQ(lv_freetype_init(4), 0);
    lv_freetype_destroy();
}

}  // namespace
}  // namespace lvgl_test

// Labels: sizes in each long mode, line breaking of Latin and CJK text, recolouring.
#include <cstring>
#include <string>
#include <vector>

#include "app_fonts.h"
#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

class Label : public LvglTest {
protected:
    void SetUp() override {
        LvglTest::SetUp();
        lv_style_init(&font19);
        lv_style_set_text_font(&font19, LV_STATE_DEFAULT, &app_font_19);
    }
    void TearDown() override {
        lv_style_reset(&font19);
        LvglTest::TearDown();
    }

    lv_obj_t *label(const char *text, lv_label_long_mode_t mode, lv_coord_t w = 0) {
        lv_obj_t *l = lv_label_create(scr, nullptr);
        lv_obj_add_style(l, LV_LABEL_PART_MAIN, &font19);
        if (w > 0) lv_obj_set_width(l, w);
        lv_label_set_long_mode(l, mode);
        lv_label_set_text(l, text);
        return l;
    }

    lv_coord_t width_of(const char *text, lv_txt_flag_t flag = LV_TXT_FLAG_NONE) {
        return _lv_txt_get_width(text, (uint32_t)std::strlen(text), &app_font_19, 0, flag);
    }

    // The lines of a label as the toolkit breaks them.
    std::vector<std::string> lines(const lv_obj_t *l) {
        std::vector<std::string> out;
        const char *t = lv_label_get_text(l);
        uint32_t at = 0;
        while (t[at] != '\0') {
            uint32_t n = _lv_txt_get_next_line(&t[at], &app_font_19, 0, lv_obj_get_width(l), LV_TXT_FLAG_NONE);
            out.emplace_back(&t[at], n);
            at += n;
        }
        return out;
    }

    lv_style_t font19;
};

TEST_F(Label, ExpandSizesTheLabelToItsText) {
    lv_obj_t *l = label("Found adapter\nsecond line", LV_LABEL_LONG_EXPAND, 815);
    EXPECT_EQ(lv_obj_get_width(l), width_of("Found adapter"));
    EXPECT_EQ(lv_obj_get_height(l), 2 * 19);
    // An empty text is one line high; a final line break adds a line.
    lv_label_set_text(l, "");
    EXPECT_EQ(lv_obj_get_width(l), 0);
    EXPECT_EQ(lv_obj_get_height(l), 19);
    lv_label_set_text(l, "x\n");
    EXPECT_EQ(lv_obj_get_height(l), 2 * 19);
}

TEST_F(Label, BreakKeepsTheWidthAndGrowsInHeight) {
    lv_obj_t *l = label("The driver is being installed, you may need to wait a few minutes", LV_LABEL_LONG_BREAK, 200);
    EXPECT_EQ(lv_obj_get_width(l), 200);
    std::vector<std::string> ls = lines(l);
    ASSERT_GT(ls.size(), 2u);
    EXPECT_EQ(lv_obj_get_height(l), (lv_coord_t)(19 * ls.size()));
    for (const std::string &s : ls) {
        EXPECT_LE(width_of(s.c_str()), 200 + width_of(" ")) << s;
        // Latin text breaks between words.
        EXPECT_TRUE(s.back() == ' ' || &s == &ls.back()) << s;
    }
}

TEST_F(Label, CjkTextBreaksBetweenAnyTwoCharacters) {
    const char *text = "PS5主机八位数配对码，在主机系统中选择（设定->系统->远程游玩->开启远程游玩->关联设备）";
    lv_obj_t *l = label(text, LV_LABEL_LONG_BREAK, 225);
    std::vector<std::string> ls = lines(l);
    ASSERT_GT(ls.size(), 2u);
    std::string joined;
    for (size_t i = 0; i < ls.size(); i++) {
        joined += ls[i];
        EXPECT_LE(width_of(ls[i].c_str()), 225) << ls[i];
        if (i + 1 < ls.size()) {
            // A line ends only when the next character would not have fitted.
            std::string longer = ls[i];
            uint32_t k = 0;
            uint32_t c = _lv_txt_encoded_next(ls[i + 1].c_str(), &k);
            char utf8[5];
            _lv_txt_unicode_to_utf8(c, utf8);
            longer += utf8;
            EXPECT_GT(width_of(longer.c_str()), 225) << ls[i];
        }
    }
    EXPECT_EQ(joined, text);
}

TEST_F(Label, DotShortensTheTextToTheBoxWithThreeDots) {
    lv_obj_t *l = label("Click here after copy successfully, and wait", LV_LABEL_LONG_DOT, 150);
    lv_obj_set_height(l, 19);
    const char *shown = static_cast<lv_label_ext_t *>(lv_obj_get_ext_attr(l))->dot_text;
    ASSERT_NE(shown, nullptr);
    std::string s(shown);
    EXPECT_EQ(s.substr(s.size() - 3), "...");
    EXPECT_LE(width_of(shown), 150);
    // The text itself is kept; a text that fits shows as it is.
    EXPECT_STREQ(lv_label_get_text(l), "Click here after copy successfully, and wait");
    lv_label_set_text(l, "1");
    EXPECT_EQ(static_cast<lv_label_ext_t *>(lv_obj_get_ext_attr(l))->dot_text, nullptr);
    EXPECT_EQ(lv_obj_get_width(l), 150);
}

TEST_F(Label, StaticTextIsShownWithoutACopy) {
    static const char text[] = "3";
    lv_obj_t *l = label("", LV_LABEL_LONG_EXPAND);
    lv_label_set_static_text(l, text);
    EXPECT_EQ(lv_label_get_text(l), text);
    lv_label_set_text(l, "copied");
    EXPECT_NE(lv_label_get_text(l), text);
    EXPECT_STREQ(lv_label_get_text(l), "copied");
}

TEST_F(Label, RecolourCommandsTakeNoRoomAndPaintTheirText) {
    lv_obj_t *l = label("via #ff0000 Ethernet#", LV_LABEL_LONG_EXPAND);
    lv_label_set_recolor(l, true);
    EXPECT_EQ(lv_obj_get_width(l), width_of("via Ethernet"));
    lv_obj_set_pos(l, 10, 10);
    refresh();
    // The red word's pixels are red; the others are the theme's text colour.
    int red = 0, other = 0;
    lv_coord_t red_from = (lv_coord_t)(l->coords.x1 + width_of("via "));
    for (lv_coord_t y = l->coords.y1; y <= l->coords.y2; y++) {
        for (lv_coord_t x = l->coords.x1; x <= l->coords.x2; x++) {
            lv_color_t c = pixel(x, y);
            bool reddish = LV_COLOR_GET_R(c) > 25 && LV_COLOR_GET_G(c) < 20 && LV_COLOR_GET_B(c) < 10;
            if (reddish) {
                red++;
                EXPECT_GE(x, red_from);
            } else if (LV_COLOR_GET_G(c) < 40)
                other++;
        }
    }
    EXPECT_GT(red, 20);
    EXPECT_GT(other, 10);
    // Without recolouring the command is shown as text.
    lv_label_set_recolor(l, false);
    EXPECT_EQ(lv_obj_get_width(l), width_of("via #ff0000 Ethernet#"));
}

TEST_F(Label, KerningPullsPairsTogether) {
    lv_font_glyph_dsc_t alone, kerned;
    ASSERT_TRUE(lv_font_get_glyph_dsc(&app_font_19, &alone, 'A', 0));
    ASSERT_TRUE(lv_font_get_glyph_dsc(&app_font_19, &kerned, 'A', 'V'));
    EXPECT_LT(kerned.adv_w, alone.adv_w);
}

}  // namespace
}  // namespace lvgl_test

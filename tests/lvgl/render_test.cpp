// Pixels and refresh: rounded rectangles, borders with opacity, the focus outline,
// glyphs of the 19-pixel font, and the refresh flushing only what changed, band by band.
#include <vector>

#include "app_fonts.h"
#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

class Render : public LvglTest {
protected:
    void TearDown() override {
        lv_style_reset(&style);
        LvglTest::TearDown();
    }

    lv_obj_t *plain_obj(lv_coord_t x, lv_coord_t y, lv_coord_t w, lv_coord_t h) {
        lv_obj_t *o = lv_obj_create(scr, nullptr);
        lv_obj_set_pos(o, x, y);
        lv_obj_set_size(o, w, h);
        lv_style_init(&style);
        lv_style_set_border_width(&style, LV_STATE_DEFAULT, 0);
        lv_obj_add_style(o, LV_OBJ_PART_MAIN, &style);
        return o;
    }

    lv_color_t bg() const { return pixel(5, 5); }

    lv_style_t style{};
};

bool same(lv_color_t a, lv_color_t b) { return a.full == b.full; }

TEST_F(Render, AFilledRoundedRectangle) {
    lv_obj_t *o = plain_obj(100, 100, 60, 40);
    lv_style_set_bg_color(&style, LV_STATE_DEFAULT, LV_COLOR_RED);
    lv_style_set_radius(&style, LV_STATE_DEFAULT, 10);
    lv_obj_refresh_style(o, LV_OBJ_PART_MAIN, LV_STYLE_PROP_ALL);
    refresh();

    const lv_color_t red = LV_COLOR_RED;
    EXPECT_TRUE(same(pixel(130, 120), red));   // inside
    EXPECT_TRUE(same(pixel(100, 120), red));   // left edge, between the corners
    EXPECT_TRUE(same(pixel(130, 100), red));   // top edge
    EXPECT_TRUE(same(pixel(100, 100), bg()));  // the corner is cut away
    EXPECT_TRUE(same(pixel(99, 120), bg()));   // just outside
    EXPECT_TRUE(same(pixel(160, 120), bg()));
    // The arc is smoothed: some corner pixels are between the two colours ...
    int blended = 0;
    for (lv_coord_t y = 100; y < 110; y++) {
        for (lv_coord_t x = 100; x < 110; x++) {
            lv_color_t c = pixel(x, y);
            if (!same(c, red) && !same(c, bg())) blended++;
        }
    }
    EXPECT_GT(blended, 5);
    // ... and the four corners are mirror images.
    for (lv_coord_t j = 0; j < 10; j++) {
        for (lv_coord_t i = 0; i < 10; i++) {
            lv_color_t tl = pixel((lv_coord_t)(100 + i), (lv_coord_t)(100 + j));
            EXPECT_TRUE(same(tl, pixel((lv_coord_t)(159 - i), (lv_coord_t)(100 + j))));
            EXPECT_TRUE(same(tl, pixel((lv_coord_t)(100 + i), (lv_coord_t)(139 - j))));
            EXPECT_TRUE(same(tl, pixel((lv_coord_t)(159 - i), (lv_coord_t)(139 - j))));
        }
    }
}

TEST_F(Render, ABorderWithOpacityBlendsWithWhatIsBelow) {
    lv_obj_t *o = plain_obj(200, 200, 50, 30);
    lv_style_set_bg_opa(&style, LV_STATE_DEFAULT, LV_OPA_TRANSP);
    lv_style_set_border_width(&style, LV_STATE_DEFAULT, 2);
    lv_style_set_border_color(&style, LV_STATE_DEFAULT, LV_COLOR_BLUE);
    lv_style_set_border_opa(&style, LV_STATE_DEFAULT, LV_OPA_50);
    lv_style_set_radius(&style, LV_STATE_DEFAULT, 0);
    lv_obj_refresh_style(o, LV_OBJ_PART_MAIN, LV_STYLE_PROP_ALL);
    refresh();

    lv_color_t under = bg();
    lv_color_t expect = lv_color_mix(LV_COLOR_BLUE, under, LV_OPA_50);
    for (lv_point_t p : {lv_point_t{200, 200}, lv_point_t{201, 215}, lv_point_t{249, 229}, lv_point_t{225, 228}}) {
        lv_color_t c = pixel(p.x, p.y);
        EXPECT_TRUE(same(c, expect)) << p.x << "," << p.y;
        // Half of each: blue up from the screen's, red and green down from it.
        EXPECT_GT(LV_COLOR_GET_B(c), LV_COLOR_GET_B(under) - 1);
        EXPECT_LT(LV_COLOR_GET_R(c), LV_COLOR_GET_R(under));
    }
    EXPECT_TRUE(same(pixel(202, 202), under));  // inside the border
    EXPECT_TRUE(same(pixel(199, 200), under));  // outside

    // Only the bottom side.
    lv_style_set_border_side(&style, LV_STATE_DEFAULT, LV_BORDER_SIDE_BOTTOM);
    lv_obj_refresh_style(o, LV_OBJ_PART_MAIN, LV_STYLE_PROP_ALL);
    refresh();
    EXPECT_TRUE(same(pixel(225, 200), under));
    EXPECT_TRUE(same(pixel(200, 215), under));
    EXPECT_TRUE(same(pixel(225, 229), expect));
}

TEST_F(Render, AGlyphOfTheNineteenPixelFont) {
    lv_obj_t *l = lv_label_create(scr, nullptr);
    lv_style_init(&style);
    lv_style_set_text_font(&style, LV_STATE_DEFAULT, &app_font_19);
    lv_style_set_text_color(&style, LV_STATE_DEFAULT, LV_COLOR_BLACK);
    lv_obj_add_style(l, LV_LABEL_PART_MAIN, &style);
    lv_label_set_text(l, "配");
    lv_obj_set_pos(l, 300, 300);
    EXPECT_EQ(lv_obj_get_height(l), 19);
    refresh();

    const uint32_t letter = 0x914D;  // 配
    lv_font_glyph_dsc_t g;
    ASSERT_TRUE(lv_font_get_glyph_dsc(&app_font_19, &g, letter, 0));
    std::vector<uint8_t> alpha(lv_font_get_glyph_bitmap(&app_font_19, letter),
        lv_font_get_glyph_bitmap(&app_font_19, letter) + g.box_w * g.box_h);
    lv_coord_t x0 = (lv_coord_t)(300 + g.ofs_x);
    lv_coord_t y0 = (lv_coord_t)(300 + (19 - 4) - g.box_h - g.ofs_y);
    int solid = 0;
    for (int y = 0; y < g.box_h; y++) {
        for (int x = 0; x < g.box_w; x++) {
            uint8_t a = alpha[(size_t)y * g.box_w + x];
            lv_color_t c = pixel((lv_coord_t)(x0 + x), (lv_coord_t)(y0 + y));
            if (a == 255) {
                EXPECT_TRUE(same(c, LV_COLOR_BLACK)) << x << "," << y;
                solid++;
            } else if (a == 0)
                EXPECT_TRUE(same(c, bg())) << x << "," << y;
            else
                EXPECT_TRUE(same(c, lv_color_mix(LV_COLOR_BLACK, bg(), a))) << x << "," << y;
        }
    }
    EXPECT_GT(solid, 10);
    // Nothing outside the glyph's box.
    EXPECT_TRUE(same(pixel((lv_coord_t)(x0 - 1), (lv_coord_t)(y0 + 5)), bg()));
    EXPECT_TRUE(same(pixel((lv_coord_t)(x0 + 5), (lv_coord_t)(y0 - 1)), bg()));
}

TEST_F(Render, AClickedButtonShowsTheFocusOutline) {
    lv_obj_t *btn = lv_btn_create(scr, nullptr);
    lv_obj_set_pos(btn, 300, 300);
    lv_obj_set_size(btn, 140, 35);
    refresh();
    lv_coord_t mid = centre_of(btn).y;
    lv_color_t before = pixel(298, mid);
    EXPECT_TRUE(same(before, bg()));
    click_obj(btn);
    refresh();
    // Half of the theme's primary colour over the screen, just outside the button.
    EXPECT_TRUE(same(pixel(298, mid), lv_color_mix(lv_theme_get_color_primary(), bg(), LV_OPA_50)));
    EXPECT_TRUE(same(pixel(297, mid), bg()));
}

TEST_F(Render, OnlyWhatChangedIsFlushedInBandsOfTheDrawBuffer) {
    lv_obj_t *l = lv_label_create(scr, nullptr);
    lv_obj_set_pos(l, 400, 300);
    lv_label_set_text(l, "before");
    refresh();
    flushed.clear();

    refresh();
    EXPECT_TRUE(flushed.empty()) << "nothing changed, nothing to flush";

    lv_area_t old_area = l->coords;
    lv_label_set_text(l, "after, longer");
    refresh();
    ASSERT_FALSE(flushed.empty());
    lv_area_t both;
    _lv_area_join(&both, &old_area, &l->coords);
    for (const lv_area_t &a : flushed) EXPECT_TRUE(_lv_area_is_in(&a, &both));

    // A full redraw comes in bands that fit the 900 x 56 buffer.
    flushed.clear();
    lv_obj_invalidate(scr);
    refresh();
    ASSERT_EQ(flushed.size(), 10u);
    for (const lv_area_t &a : flushed) {
        EXPECT_EQ(lv_area_get_width(&a), 900);
        EXPECT_LE(lv_area_get_size(&a), 900u * kBufLines);
    }
}

TEST_F(Render, TheBufferIsNotDrawnIntoBeforeItsFlushIsDone) {
    defer_flush_ready = true;
    lv_obj_invalidate(scr);
    refresh();
    // Ten bands, one buffer: each band after the first waited for the one before.
    EXPECT_EQ(flushed.size(), 10u);
    EXPECT_EQ(wait_calls, 9);
}

TEST_F(Render, ChangesMadeWhileTheRefreshWaitsAreDrawnNextTime) {
    lv_obj_t *l = lv_label_create(scr, nullptr);
    lv_obj_set_pos(l, 10, 500);
    lv_label_set_text(l, "first");
    refresh();
    defer_flush_ready = true;
    lv_obj_invalidate(scr);
    // Another thread changes the label while the GUI thread waits for the display.
    on_wait = [&] {
        if (wait_calls == 1) lv_label_set_text(l, "changed meanwhile");
    };
    refresh();
    flushed.clear();
    on_wait = nullptr;
    refresh();
    ASSERT_FALSE(flushed.empty());
    bool covers = false;
    for (const lv_area_t &a : flushed) covers = covers || _lv_area_is_in(&l->coords, &a);
    EXPECT_TRUE(covers);
}

}  // namespace
}  // namespace lvgl_test

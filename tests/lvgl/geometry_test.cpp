// Object geometry: positions relative to the parent, alignment codes, auto-realign and
// the children moving with their parent.
#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

class Geometry : public LvglTest {
protected:
    lv_obj_t *box(lv_obj_t *par, lv_coord_t x, lv_coord_t y, lv_coord_t w, lv_coord_t h) {
        lv_obj_t *o = lv_obj_create(par, nullptr);
        lv_obj_set_size(o, w, h);
        lv_obj_set_pos(o, x, y);
        return o;
    }
};

TEST_F(Geometry, AlignmentCodesPlaceAgainstTheBase) {
    lv_obj_t *page = box(scr, 0, 0, 900, 560);
    lv_obj_t *base = box(page, 100, 100, 200, 50);
    lv_obj_t *o = box(page, 0, 0, 40, 20);
    struct Case {
        lv_align_t align;
        lv_coord_t x, y;
    };
    const Case cases[] = {
        {LV_ALIGN_CENTER, 180, 115},
        {LV_ALIGN_IN_TOP_LEFT, 100, 100},
        {LV_ALIGN_IN_TOP_MID, 180, 100},
        {LV_ALIGN_OUT_BOTTOM_LEFT, 100, 150},
        {LV_ALIGN_OUT_BOTTOM_MID, 180, 150},
        {LV_ALIGN_OUT_BOTTOM_RIGHT, 260, 150},
        {LV_ALIGN_OUT_RIGHT_TOP, 300, 100},
        {LV_ALIGN_OUT_RIGHT_MID, 300, 115},
        {LV_ALIGN_OUT_RIGHT_BOTTOM, 300, 130},
        {LV_ALIGN_OUT_TOP_MID, 180, 80},
        {LV_ALIGN_OUT_LEFT_MID, 60, 115},
        {LV_ALIGN_IN_BOTTOM_RIGHT, 260, 130},
    };
    for (const Case &c : cases) {
        lv_obj_align(o, base, c.align, 0, 0);
        EXPECT_EQ(lv_obj_get_x(o), c.x) << "align " << int(c.align);
        EXPECT_EQ(lv_obj_get_y(o), c.y) << "align " << int(c.align);
    }
    // Offsets add; the parent is the base when none is given.
    lv_obj_align(o, nullptr, LV_ALIGN_IN_TOP_MID, 0, 35);
    EXPECT_EQ(lv_obj_get_x(o), 430);
    EXPECT_EQ(lv_obj_get_y(o), 35);
    lv_obj_align(o, base, LV_ALIGN_OUT_BOTTOM_MID, -112, 70);
    EXPECT_EQ(lv_obj_get_x(o), 68);
    EXPECT_EQ(lv_obj_get_y(o), 220);
}

TEST_F(Geometry, AutoRealignRepeatsTheAlignmentWhenTheSizeChanges) {
    lv_obj_t *page = box(scr, 0, 0, 900, 560);
    lv_obj_t *o = box(page, 0, 0, 100, 20);
    lv_obj_set_auto_realign(o, true);
    lv_obj_align(o, nullptr, LV_ALIGN_IN_TOP_MID, 0, 35);
    EXPECT_EQ(lv_obj_get_x(o), 400);
    lv_obj_set_width(o, 300);
    EXPECT_EQ(lv_obj_get_x(o), 300);
    EXPECT_EQ(lv_obj_get_y(o), 35);

    // Without auto-realign the position stays.
    lv_obj_set_auto_realign(o, false);
    lv_obj_set_width(o, 100);
    EXPECT_EQ(lv_obj_get_x(o), 300);
}

TEST_F(Geometry, ALabelWithAutoRealignStaysCentredWhenItsTextChanges) {
    lv_obj_t *page = box(scr, 0, 0, 900, 560);
    lv_obj_t *l = lv_label_create(page, nullptr);
    lv_label_set_text(l, "short");
    lv_obj_set_auto_realign(l, true);
    lv_obj_align(l, nullptr, LV_ALIGN_IN_TOP_MID, 0, 35);
    lv_label_set_text(l, "a much longer text than before");
    lv_coord_t left = (lv_coord_t)(l->coords.x1 - page->coords.x1);
    lv_coord_t right = (lv_coord_t)(page->coords.x2 - l->coords.x2);
    EXPECT_LE(LV_MATH_ABS(left - right), 1);
}

TEST_F(Geometry, ObjectsAlignedToADeletedObjectFallBackToTheirParent) {
    lv_obj_t *page = box(scr, 0, 0, 900, 560);
    lv_obj_t *base = box(page, 100, 100, 200, 50);
    lv_obj_t *o = box(page, 0, 0, 40, 20);
    lv_obj_set_auto_realign(o, true);
    lv_obj_align(o, base, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 0);
    lv_obj_del(base);
    lv_obj_set_width(o, 60);  // realigns: must not read the deleted base
    EXPECT_EQ(lv_obj_get_x(o), 0);
    EXPECT_EQ(lv_obj_get_y(o), 560);
}

TEST_F(Geometry, ChildrenMoveWithTheirParentAndButtonsCentreTheirLabel) {
    lv_obj_t *btn = lv_btn_create(scr, nullptr);
    lv_obj_t *l = lv_label_create(btn, nullptr);
    lv_label_set_text(l, "OK");
    lv_obj_set_size(btn, 140, 35);
    lv_obj_set_pos(btn, 300, 200);
    lv_point_t bc = centre_of(btn), lc = centre_of(l);
    EXPECT_LE(LV_MATH_ABS(bc.x - lc.x), 1);
    EXPECT_LE(LV_MATH_ABS(bc.y - lc.y), 1);
    lv_label_set_text(l, "a longer caption");
    bc = centre_of(btn);
    lc = centre_of(l);
    EXPECT_LE(LV_MATH_ABS(bc.x - lc.x), 1);
}

}  // namespace
}  // namespace lvgl_test

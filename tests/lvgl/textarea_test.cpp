// Text areas: filtering by accepted characters and maximum length, editing keys and
// the cursor.
#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

class TextArea : public LvglTest {
protected:
    void SetUp() override {
        LvglTest::SetUp();
        ta = lv_textarea_create(scr, nullptr);
        lv_obj_set_size(ta, 300, 35);
        lv_obj_set_event_cb(ta, [](lv_obj_t *, lv_event_t e) {
            if (e == LV_EVENT_VALUE_CHANGED) changes++;
        });
        changes = 0;
    }

    void keys(const char *s) {
        for (const char *p = s; *p != '\0'; p++) lv_group_send_data(group, (uint32_t)(unsigned char)*p);
    }

    lv_obj_t *ta = nullptr;
    static inline int changes = 0;
};

TEST_F(TextArea, AcceptsOnlyTheListedCharactersUpToTheMaximumLength) {
    lv_textarea_set_accepted_chars(ta, "0123456789");
    lv_textarea_set_max_length(ta, 8);
    lv_textarea_set_text(ta, "12ab34-56789");
    EXPECT_STREQ(lv_textarea_get_text(ta), "12345678");
    EXPECT_EQ(changes, 1);
    lv_textarea_add_char(ta, '9');
    EXPECT_STREQ(lv_textarea_get_text(ta), "12345678");
    EXPECT_EQ(changes, 1);

    lv_textarea_set_accepted_chars(ta, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789=+/");
    lv_textarea_set_max_length(ta, 127);
    lv_textarea_set_text(ta, "AbC+/=\n x");
    EXPECT_STREQ(lv_textarea_get_text(ta), "AbC+/=x");
}

TEST_F(TextArea, KeysEditAtTheCursor) {
    lv_group_add_obj(group, ta);
    keys("abcd");
    EXPECT_STREQ(lv_textarea_get_text(ta), "abcd");
    EXPECT_EQ(lv_textarea_get_cursor_pos(ta), 4u);
    lv_group_send_data(group, LV_KEY_LEFT);
    lv_group_send_data(group, LV_KEY_LEFT);
    lv_group_send_data(group, LV_KEY_BACKSPACE);
    EXPECT_STREQ(lv_textarea_get_text(ta), "acd");
    lv_group_send_data(group, LV_KEY_DEL);
    EXPECT_STREQ(lv_textarea_get_text(ta), "ad");
    lv_group_send_data(group, LV_KEY_HOME);
    keys("X");
    lv_group_send_data(group, LV_KEY_END);
    keys("Y");
    EXPECT_STREQ(lv_textarea_get_text(ta), "XadY");
    // Nothing to delete before the start or after the end.
    lv_group_send_data(group, LV_KEY_DEL);
    lv_group_send_data(group, LV_KEY_HOME);
    lv_group_send_data(group, LV_KEY_BACKSPACE);
    EXPECT_STREQ(lv_textarea_get_text(ta), "XadY");
    EXPECT_EQ(lv_textarea_get_cursor_pos(ta), 0u);
}

TEST_F(TextArea, ControlKeysAreNotText) {
    lv_group_add_obj(group, ta);
    lv_group_send_data(group, 0);
    lv_group_send_data(group, LV_KEY_ESC);
    lv_group_send_data(group, LV_KEY_NEXT);
    lv_group_send_data(group, 0x7F - 1);  // '~' is text
    EXPECT_STREQ(lv_textarea_get_text(ta), "~");
}

TEST_F(TextArea, ClickingPutsTheCursorUnderThePointer) {
    lv_textarea_set_text(ta, "0123456789");
    lv_obj_t *label = lv_textarea_get_label(ta);
    lv_point_t p;
    lv_label_get_letter_pos(label, 5, &p);
    click_at((lv_coord_t)(label->coords.x1 + p.x + 1), (lv_coord_t)(label->coords.y1 + p.y + 5));
    EXPECT_EQ(lv_textarea_get_cursor_pos(ta), 5u);
}

TEST_F(TextArea, TheCursorLineStaysInView) {
    lv_obj_set_height(ta, 60);
    lv_textarea_set_text(ta, "one two three four five six seven eight nine ten eleven twelve thirteen fourteen "
                             "fifteen sixteen seventeen eighteen nineteen twenty");
    lv_obj_t *label = lv_textarea_get_label(ta);
    ASSERT_GT(lv_obj_get_height(label), lv_obj_get_height(ta));
    // The cursor is at the end, on the last line: that line shows inside the box.
    lv_point_t p;
    lv_label_get_letter_pos(label, lv_textarea_get_cursor_pos(ta), &p);
    lv_coord_t line_top = (lv_coord_t)(label->coords.y1 + p.y);
    EXPECT_GE(line_top, ta->coords.y1);
    EXPECT_LE(line_top + lv_font_get_line_height(lv_obj_get_style_text_font(label, 0)) - 1, ta->coords.y2);
    lv_textarea_set_cursor_pos(ta, 0);
    EXPECT_GE(label->coords.y1, ta->coords.y1);
}

}  // namespace
}  // namespace lvgl_test

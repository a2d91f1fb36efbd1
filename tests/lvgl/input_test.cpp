// Input: pointer presses, clicks and focus, disabled objects, keypad delivery through
// the focus group, the key transition print, long press and repeat.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

struct Seen {
    const lv_obj_t *obj;
    lv_event_t event;
    bool operator==(const Seen &o) const { return obj == o.obj && event == o.event; }
};
std::vector<Seen> seen;

void record(lv_obj_t *obj, lv_event_t event) {
    if (event == LV_EVENT_PRESSING) return;
    seen.push_back({obj, event});
}

std::vector<lv_event_t> events_of(const lv_obj_t *obj) {
    std::vector<lv_event_t> out;
    for (const Seen &s : seen) {
        if (s.obj == obj) out.push_back(s.event);
    }
    return out;
}

class Input : public LvglTest {
protected:
    void SetUp() override {
        LvglTest::SetUp();
        seen.clear();
        a = button(100, 100);
        b = button(300, 100);
    }

    lv_obj_t *button(lv_coord_t x, lv_coord_t y) {
        lv_obj_t *btn = lv_btn_create(scr, nullptr);
        lv_obj_set_pos(btn, x, y);
        lv_obj_set_size(btn, 140, 35);
        lv_obj_set_event_cb(btn, record);
        return btn;
    }

    lv_obj_t *a = nullptr;
    lv_obj_t *b = nullptr;
};

TEST_F(Input, AClickSendsPressedShortClickedClickedReleased) {
    click_obj(a);
    EXPECT_EQ(events_of(a), (std::vector<lv_event_t>{LV_EVENT_PRESSED, LV_EVENT_FOCUSED, LV_EVENT_SHORT_CLICKED,
                                LV_EVENT_CLICKED, LV_EVENT_RELEASED}));
    EXPECT_TRUE(events_of(b).empty());
    EXPECT_FALSE(lv_obj_get_state(a, 0) & LV_STATE_PRESSED);
}

TEST_F(Input, PressedStateShowsWhileHeld) {
    lv_point_t c = centre_of(a);
    press_at(c.x, c.y);
    EXPECT_TRUE(lv_obj_get_state(a, 0) & LV_STATE_PRESSED);
    release();
    EXPECT_FALSE(lv_obj_get_state(a, 0) & LV_STATE_PRESSED);
}

TEST_F(Input, SlidingOntoAnotherObjectLosesTheFirstAndClicksTheSecond) {
    lv_point_t ca = centre_of(a), cb = centre_of(b);
    press_at(ca.x, ca.y);
    press_at(cb.x, cb.y);
    release();
    std::vector<lv_event_t> ea = events_of(a);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_PRESS_LOST), 1);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_CLICKED), 0);
    EXPECT_FALSE(lv_obj_get_state(a, 0) & LV_STATE_PRESSED);
    std::vector<lv_event_t> eb = events_of(b);
    EXPECT_EQ(std::count(eb.begin(), eb.end(), LV_EVENT_PRESSED), 1);
    EXPECT_EQ(std::count(eb.begin(), eb.end(), LV_EVENT_CLICKED), 1);
}

TEST_F(Input, ALongPressSkipsTheShortClickAndRepeats) {
    lv_point_t c = centre_of(a);
    press_at(c.x, c.y);
    run_for(600);
    release();
    std::vector<lv_event_t> ea = events_of(a);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_LONG_PRESSED), 1);
    // 200 ms until the long press, then a repeat every 100 ms (read every 30 ms).
    EXPECT_GE(std::count(ea.begin(), ea.end(), LV_EVENT_LONG_PRESSED_REPEAT), 2);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_SHORT_CLICKED), 0);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_CLICKED), 1);
}

TEST_F(Input, DisabledObjectsTakeNoClicks) {
    lv_btn_set_state(a, LV_BTN_STATE_DISABLED);
    lv_obj_set_event_cb(scr, record);
    click_obj(a);
    EXPECT_TRUE(events_of(a).empty());
    // The click does not fall through to what lies behind.
    EXPECT_TRUE(events_of(scr).empty());
    EXPECT_FALSE(lv_obj_get_state(a, 0) & LV_STATE_PRESSED);
    lv_btn_set_state(a, LV_BTN_STATE_RELEASED);
    click_obj(a);
    std::vector<lv_event_t> ea = events_of(a);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_CLICKED), 1);
}

TEST_F(Input, HiddenObjectsAreClickedThrough) {
    lv_obj_t *cover = lv_obj_create(scr, nullptr);
    lv_obj_set_pos(cover, 90, 90);
    lv_obj_set_size(cover, 200, 60);
    lv_obj_set_event_cb(cover, record);
    click_obj(a);
    EXPECT_TRUE(events_of(a).empty());
    lv_obj_set_hidden(cover, true);
    click_obj(a);
    EXPECT_FALSE(events_of(a).empty());
}

TEST_F(Input, CheckableButtonsToggleAndReportBeforeTheClick) {
    lv_btn_set_checkable(a, true);
    click_obj(a);
    EXPECT_EQ(lv_btn_get_state(a), LV_BTN_STATE_CHECKED_RELEASED);
    std::vector<lv_event_t> ea = events_of(a);
    auto changed = std::find(ea.begin(), ea.end(), LV_EVENT_VALUE_CHANGED);
    auto clicked = std::find(ea.begin(), ea.end(), LV_EVENT_CLICKED);
    ASSERT_NE(changed, ea.end());
    EXPECT_LT(changed, clicked);
    click_obj(a);
    EXPECT_EQ(lv_btn_get_state(a), LV_BTN_STATE_RELEASED);
}

// The text areas join the group when focused and leave it when left, as the account
// screen does.
void join_group_on_focus(lv_obj_t *obj, lv_event_t event) {
    record(obj, event);
    lv_group_t *g = static_cast<lv_group_t *>(obj->user_data);
    if (event == LV_EVENT_FOCUSED) {
        lv_group_add_obj(g, obj);
        lv_textarea_set_cursor_hidden(obj, false);
    } else if (event == LV_EVENT_LEAVE) {
        lv_group_remove_obj(obj);
        lv_textarea_set_cursor_hidden(obj, true);
    }
}

TEST_F(Input, ClickedTextAreasTakeTheKeypadThroughTheGroup) {
    lv_obj_t *id = lv_textarea_create(scr, nullptr);
    lv_obj_t *pin = lv_textarea_create(scr, nullptr);
    for (lv_obj_t *ta : {id, pin}) {
        lv_obj_set_size(ta, 168, 35);
        ta->user_data = group;
        lv_obj_set_event_cb(ta, join_group_on_focus);
    }
    lv_obj_set_pos(id, 100, 300);
    lv_obj_set_pos(pin, 400, 300);

    click_obj(id);
    EXPECT_EQ(lv_group_get_focused(group), id);
    EXPECT_TRUE(lv_obj_get_state(id, 0) & LV_STATE_FOCUSED);
    tap_key('a');
    tap_key('b');
    EXPECT_STREQ(lv_textarea_get_text(id), "ab");

    click_obj(pin);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Seen{id, LV_EVENT_LEAVE}), 1);
    EXPECT_EQ(lv_obj_get_group(id), nullptr);
    EXPECT_FALSE(lv_obj_get_state(id, 0) & LV_STATE_FOCUSED);
    EXPECT_EQ(lv_group_get_focused(group), pin);
    tap_key('7');
    EXPECT_STREQ(lv_textarea_get_text(pin), "7");
    EXPECT_STREQ(lv_textarea_get_text(id), "ab");

    // A button outside the group takes the focus from the group's text area.
    click_obj(a);
    EXPECT_EQ(lv_group_get_focused(group), nullptr);
    tap_key('x');
    EXPECT_STREQ(lv_textarea_get_text(pin), "7");
}

TEST_F(Input, DeletingTheFocusedObjectPassesTheFocusOn) {
    lv_obj_t *t1 = lv_textarea_create(scr, nullptr);
    lv_obj_t *t2 = lv_textarea_create(scr, nullptr);
    lv_group_add_obj(group, t1);
    lv_group_add_obj(group, t2);
    EXPECT_EQ(lv_group_get_focused(group), t1);
    lv_obj_del(t1);
    EXPECT_EQ(lv_group_get_focused(group), t2);
    tap_key('q');
    EXPECT_STREQ(lv_textarea_get_text(t2), "q");
}

TEST_F(Input, EnterPressesAndClicksTheFocusedObject) {
    lv_group_add_obj(group, a);
    tap_key(LV_KEY_ENTER);
    std::vector<lv_event_t> ea = events_of(a);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_PRESSED), 1);
    EXPECT_EQ(std::count(ea.begin(), ea.end(), LV_EVENT_CLICKED), 1);
}

TEST_F(Input, HeldKeysRepeatAfterTheLongPressTime) {
    lv_obj_t *ta = lv_textarea_create(scr, nullptr);
    lv_group_add_obj(group, ta);
    key_down('k');  // 40 ms
    EXPECT_STREQ(lv_textarea_get_text(ta), "k");
    run_for(150);  // 190 ms: no repeat before 200 ms
    EXPECT_STREQ(lv_textarea_get_text(ta), "k");
    run_for(410);  // 600 ms: long press near 210 ms, repeats every 100 ms after
    key_up();
    size_t n = std::strlen(lv_textarea_get_text(ta));
    EXPECT_GE(n, 4u);
    EXPECT_LE(n, 5u);
}

TEST_F(Input, TheKeypadPrintsEachKeyTransition) {
    lv_obj_t *ta = lv_textarea_create(scr, nullptr);
    lv_group_add_obj(group, ta);
    testing::internal::CaptureStdout();
    key_down('a');
    run_for(30);
    key_up();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("data->key: 61 press\n"), 0u) << out;
    EXPECT_NE(out.find("data->key: 61 pressing\n"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - std::strlen("data->key: 61 release\n")), "data->key: 61 release\n") << out;
    // Released and staying so prints nothing more.
    testing::internal::CaptureStdout();
    run_for(100);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A read that says more data waits is followed by another read in the same pass, as
// the product's keypad reports a forced release and then the next key.
TEST_F(Input, MoreDataIsReadInTheSamePass) {
    static int reads;
    reads = 0;
    lv_indev_drv_t drv;
    lv_indev_drv_init(&drv);
    drv.type = LV_INDEV_TYPE_KEYPAD;
    drv.read_cb = [](lv_indev_drv_t *, lv_indev_data_t *data) {
        static const lv_indev_data_t script[] = {{{0, 0}, 'a', 0, 0, LV_INDEV_STATE_PR},
            {{0, 0}, 'a', 0, 0, LV_INDEV_STATE_REL}, {{0, 0}, 'b', 0, 0, LV_INDEV_STATE_PR},
            {{0, 0}, 'b', 0, 0, LV_INDEV_STATE_REL}};
        *data = script[LV_MATH_MIN(reads, 3)];
        reads++;
        return reads == 2;  // the release of 'a' comes with "more data"
    };
    lv_indev_t *second = lv_indev_drv_register(&drv);
    lv_obj_t *ta = lv_textarea_create(scr, nullptr);
    lv_group_t *g = lv_group_create();
    lv_group_add_obj(g, ta);
    lv_indev_set_group(second, g);

    testing::internal::CaptureStdout();
    run_for(30);  // first read: 'a' pressed
    run_for(30);  // second read: 'a' released, more data, so at once: 'b' pressed
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(out, "data->key: 61 press\ndata->key: 61 release\ndata->key: 62 press\n");
    EXPECT_STREQ(lv_textarea_get_text(ta), "ab");
}

}  // namespace
}  // namespace lvgl_test

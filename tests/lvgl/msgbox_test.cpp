// Message boxes as the application shows them, and screens deleted from their own
// callbacks (run under AddressSanitizer, a use of a deleted object fails the test).
#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

// The application's message box: a backdrop, the box, and a close task of 3000 ms that
// its button makes ready.
struct AppMsgbox {
    static inline lv_task_t *close_task = nullptr;
    static inline int closed = 0;
    static inline const char *map[] = {"OK", ""};

    static void event_cb(lv_obj_t *, lv_event_t event) {
        if (event == LV_EVENT_VALUE_CHANGED && close_task != nullptr) lv_task_ready(close_task);
    }

    static void close_cb(lv_task_t *task) {
        lv_msgbox_start_auto_close(static_cast<lv_obj_t *>(task->user_data), 0);
        closed++;
        close_task = nullptr;
    }

    static lv_obj_t *show(const char *text) {
        lv_obj_t *backdrop = lv_obj_create(lv_scr_act(), nullptr);
        lv_obj_set_size(backdrop, 900, 560);
        lv_obj_t *mbox = lv_msgbox_create(backdrop, nullptr);
        lv_msgbox_set_text(mbox, text);
        lv_msgbox_add_btns(mbox, map);
        lv_obj_set_width(mbox, 200);
        lv_obj_set_event_cb(mbox, event_cb);
        lv_obj_align(mbox, nullptr, LV_ALIGN_CENTER, 0, 0);
        closed = 0;
        close_task = lv_task_create(close_cb, 3000, LV_TASK_PRIO_MID, mbox);
        lv_task_set_repeat_count(close_task, 1);
        return mbox;
    }
};

class Msgbox : public LvglTest {};

lv_obj_t *button_matrix_of(lv_obj_t *mbox) { return static_cast<lv_msgbox_ext_t *>(lv_obj_get_ext_attr(mbox))->btnm; }

TEST_F(Msgbox, ItsHeightFollowsTheTextAndItIsCentred) {
    lv_obj_t *mbox = AppMsgbox::show("one");
    lv_coord_t one_line = lv_obj_get_height(mbox);
    lv_msgbox_set_text(mbox, "a text long enough to need several lines in a box this narrow");
    lv_obj_align(mbox, nullptr, LV_ALIGN_CENTER, 0, 0);
    EXPECT_GT(lv_obj_get_height(mbox), one_line);
    lv_obj_t *text = static_cast<lv_msgbox_ext_t *>(lv_obj_get_ext_attr(mbox))->text;
    lv_obj_t *btnm = button_matrix_of(mbox);
    EXPECT_EQ(lv_obj_get_width(text), lv_obj_get_width_fit(mbox));
    EXPECT_GT(btnm->coords.y1, text->coords.y2);
    EXPECT_EQ(mbox->coords.y2 - btnm->coords.y2, lv_obj_get_style_pad_bottom(mbox, LV_MSGBOX_PART_BG));
    lv_point_t c = centre_of(mbox);
    EXPECT_LE(LV_MATH_ABS(c.x - 450), 1);
    EXPECT_LE(LV_MATH_ABS(c.y - 280), 1);
}

TEST_F(Msgbox, ItsButtonClosesItExactlyOnce) {
    lv_obj_t *mbox = AppMsgbox::show("Upgrade success");
    lv_obj_t *backdrop = lv_obj_get_parent(mbox);
    static int changes;
    changes = 0;
    lv_obj_set_event_cb(mbox, [](lv_obj_t *obj, lv_event_t e) {
        if (e == LV_EVENT_VALUE_CHANGED) {
            changes++;
            EXPECT_EQ(*static_cast<const uint32_t *>(lv_event_get_data()), 0u);
        }
        AppMsgbox::event_cb(obj, e);
    });
    refresh();
    lv_point_t at = centre_of(button_matrix_of(mbox));
    click_at(at.x, at.y);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(AppMsgbox::closed, 1);
    EXPECT_EQ(lv_obj_get_child(backdrop, nullptr), nullptr);
    // A second click meets the backdrop; the 3000 ms pass by without a second close.
    click_at(at.x, at.y);
    run_for(4000);
    EXPECT_EQ(AppMsgbox::closed, 1);
}

TEST_F(Msgbox, ItClosesByItselfAfterThreeSeconds) {
    lv_obj_t *mbox = AppMsgbox::show("Configuration saved successfully");
    lv_obj_t *backdrop = lv_obj_get_parent(mbox);
    run_for(2900);
    EXPECT_EQ(AppMsgbox::closed, 0);
    run_for(200);
    EXPECT_EQ(AppMsgbox::closed, 1);
    EXPECT_EQ(lv_obj_get_child(backdrop, nullptr), nullptr);
    run_for(4000);
    EXPECT_EQ(AppMsgbox::closed, 1);
}

TEST_F(Msgbox, DelayedAutoCloseIsCancelledWithTheBox) {
    lv_obj_t *mbox = lv_msgbox_create(scr, nullptr);
    lv_msgbox_start_auto_close(mbox, 500);
    lv_obj_del(mbox);
    run_for(1000);  // the pending close must not touch the deleted box
    SUCCEED();
}

// A screen object whose button deletes it and builds the next screen, as every way
// between the application's screens does.
struct Screens {
    static inline int built = 0;
    static inline lv_event_t delete_on = LV_EVENT_CLICKED;
    static inline lv_obj_t *current = nullptr;
    static inline lv_obj_t *button = nullptr;

    static void on_event(lv_obj_t *btn, lv_event_t event) {
        if (event != delete_on) return;
        lv_obj_del(lv_obj_get_parent(btn));
        build();
    }

    static void build() {
        current = lv_obj_create(lv_scr_act(), nullptr);
        lv_obj_set_size(current, 900, 560);
        button = lv_btn_create(current, nullptr);
        lv_obj_set_pos(button, 380, 260);
        lv_obj_set_size(button, 140, 35);
        lv_obj_set_event_cb(button, on_event);
        lv_obj_t *label = lv_label_create(button, nullptr);
        lv_label_set_text(label, "Back");
        built++;
    }
};

class ScreenDeletion : public LvglTest, public ::testing::WithParamInterface<lv_event_t> {};

TEST_P(ScreenDeletion, FromTheButtonsOwnCallback) {
    Screens::built = 0;
    Screens::delete_on = GetParam();
    Screens::build();
    lv_obj_t *first = Screens::current;
    click_obj(Screens::button);
    EXPECT_EQ(Screens::built, 2);
    EXPECT_NE(Screens::current, first);
    // The new screen works as the old one did.
    click_obj(Screens::button);
    EXPECT_EQ(Screens::built, 3);
    refresh();
}

INSTANTIATE_TEST_SUITE_P(Events, ScreenDeletion,
    ::testing::Values(LV_EVENT_PRESSED, LV_EVENT_SHORT_CLICKED, LV_EVENT_CLICKED, LV_EVENT_RELEASED, LV_EVENT_FOCUSED),
    [](const ::testing::TestParamInfo<lv_event_t> &info) {
        switch (info.param) {
        case LV_EVENT_PRESSED: return "OnPressed";
        case LV_EVENT_SHORT_CLICKED: return "OnShortClicked";
        case LV_EVENT_CLICKED: return "OnClicked";
        case LV_EVENT_RELEASED: return "OnReleased";
        default: return "OnFocused";
        }
    });

TEST_F(Msgbox, AScreenDeletedByAKeyOnItsTextArea) {
    static lv_group_t *g;
    g = group;
    Screens::build();
    lv_obj_t *ta = lv_textarea_create(Screens::current, nullptr);
    lv_obj_set_event_cb(ta, [](lv_obj_t *obj, lv_event_t e) {
        if (e == LV_EVENT_VALUE_CHANGED) lv_obj_del(lv_obj_get_parent(obj));
    });
    lv_group_add_obj(group, ta);
    tap_key('z');
    EXPECT_EQ(lv_group_get_focused(g), nullptr);
    tap_key('z');
}

}  // namespace
}  // namespace lvgl_test

// The message box on the toolkit alone, with a clock the test moves.
#include <gtest/gtest.h>

#include "gui_lvgl_test.h"
#include "msgbox.h"

namespace {

int g_closed;
void count_close() { g_closed++; }

class GuiMsgbox : public GuiLvglTest {
protected:
    void SetUp() override {
        GuiLvglTest::SetUp();
        g_closed = 0;
    }
    static uint32_t children(const lv_obj_t *obj) {
        uint32_t n = 0;
        for (lv_obj_t *c = lv_obj_get_child(obj, nullptr); c; c = lv_obj_get_child(obj, c)) n++;
        return n;
    }
    static lv_obj_t *button_row(lv_obj_t *box) {
        return static_cast<lv_msgbox_ext_t *>(lv_obj_get_ext_attr(box))->btnm;
    }
};

TEST_F(GuiMsgbox, ClosesByItselfAfterThreeSecondsOnce) {
    msgbox_show("Configuration saved successfully", count_close);
    lv_obj_t *box = msgbox_current();
    ASSERT_NE(nullptr, box);
    EXPECT_STREQ("Configuration saved successfully", lv_msgbox_get_text(box));
    EXPECT_EQ(1u, children(scr)) << "one backdrop";
    EXPECT_EQ(MSGBOX_WIDTH, lv_obj_get_width(box));
    EXPECT_EQ(900, lv_obj_get_width(lv_obj_get_parent(box)));

    run_for(2990);
    EXPECT_EQ(box, msgbox_current());
    EXPECT_EQ(0, g_closed);
    run_for(20);
    EXPECT_EQ(nullptr, msgbox_current());
    EXPECT_EQ(1, g_closed);
    EXPECT_EQ(0u, children(scr)) << "the backdrop goes with the box";
    run_for(6000);
    EXPECT_EQ(1, g_closed);
}

TEST_F(GuiMsgbox, ItsButtonClosesItAtTheNextPassOnce) {
    msgbox_show("Upgrade success", count_close);
    lv_obj_t *box = msgbox_current();
    ASSERT_NE(nullptr, box);
    refresh();
    click_obj(button_row(box));
    EXPECT_EQ(nullptr, msgbox_current());
    EXPECT_EQ(1, g_closed);
    run_for(4000);
    EXPECT_EQ(1, g_closed) << "the close task is gone with the box";
    EXPECT_EQ(0u, children(scr));
}

TEST_F(GuiMsgbox, ButtonReadsConfirmInTheCurrentLanguageAndNoCallbackIsFine) {
    i18n_set_locale("zh-CN");
    msgbox_show("升级成功", nullptr);
    lv_obj_t *box = msgbox_current();
    ASSERT_NE(nullptr, box);
    EXPECT_STREQ("确认", lv_btnmatrix_get_map_array(button_row(box))[0]);
    run_for(3010);
    EXPECT_EQ(nullptr, msgbox_current());

    i18n_set_locale("en-US");
    msgbox_show("Upgrade success", nullptr);
    EXPECT_STREQ("Confirmed", lv_btnmatrix_get_map_array(button_row(msgbox_current()))[0]);
    run_for(3010);
    EXPECT_EQ(0u, children(scr));
}

TEST_F(GuiMsgbox, ASecondBoxClosesTheFirstWithItsOwnCallback) {
    static int first, second;
    first = second = 0;
    msgbox_show("one", [] { first++; });
    run_for(1000);
    msgbox_show("two", [] { second++; });
    EXPECT_EQ(1, first);
    EXPECT_EQ(0, second);
    EXPECT_EQ(1u, children(scr));
    run_for(2990);
    EXPECT_EQ(0, second) << "the second box has its own three seconds";
    run_for(20);
    EXPECT_EQ(1, first);
    EXPECT_EQ(1, second);
    EXPECT_EQ(0u, children(scr));
}

}  // namespace

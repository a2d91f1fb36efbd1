// The toolkit with the GUI's shared styles and language packs, set up once
// per process (before the fixture counts the toolkit's blocks: the styles
// live for the whole program); every test starts in English.
#ifndef GUI_LVGL_TEST_H
#define GUI_LVGL_TEST_H

#include "i18n.h"
#include "lvgl_test_env.h"
#include "ui_styles.h"

class GuiLvglTest : public lvgl_test::LvglTest {
protected:
    static void SetUpTestSuite() {
        ui_styles_init();
        i18n_init(i18n_app_packs());
    }
    void SetUp() override {
        LvglTest::SetUp();
        i18n_set_locale("en-US");
    }
};

#endif

// The display port's flush token between the GUI thread's flush and wait
// and the display's completion report, over a display the test completes.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "lvgl_port.h"
#include "lvgl_test_env.h"
#include "zel_test.h"

namespace {

struct FakeDisplay {
    std::vector<zel_disp_area_t> refreshed;
    int inits = 0;
};
FakeDisplay g_fake;

int fake_init(zel_disp_t *) {
    g_fake.inits++;
    return 0;  // ready is reported later, as the window's first paint does
}
int fake_refresh(zel_disp_t *, const zel_disp_area_t *area, const void *) {
    g_fake.refreshed.push_back(*area);
    return 0;
}
const zel_disp_op_t g_fake_op = {
    .init = fake_init,
    .refresh = fake_refresh,
};

int g_ready_calls;
lv_disp_drv_t *g_ready_drv;
void app_ready(lv_disp_drv_t *drv) {
    g_ready_calls++;
    g_ready_drv = drv;
}

class GuiDispPort : public lvgl_test::LvglTest {
protected:
    void SetUp() override {
        LvglTest::SetUp();
        g_fake = FakeDisplay{};
        g_ready_calls = 0;
        g_ready_drv = nullptr;
        zdisp = zel_disp_t{&g_fake_op, 900, 560, ZEL_DISP_FMT_RGB565, nullptr, nullptr};
        zel_test::boot();
    }
    // Binds and reports the display ready (its first paint).
    void bind_ready() {
        ASSERT_EQ(0, zel_lvgl_disp_bind(&zdisp, disp, app_ready));
        zel_test::run_as_irq([&] { zdisp.ready(&zdisp); });
    }
    void *token() {
        void *t = nullptr;
        zel_test::run_as_irq([&] { t = disp->driver.user_data; });
        return t;
    }
    static lv_area_t area(lv_coord_t x1, lv_coord_t y1, lv_coord_t x2, lv_coord_t y2) { return {x1, y1, x2, y2}; }

    zel_disp_t zdisp{};
    lv_color_t pixels[16]{};
};

TEST_F(GuiDispPort, BindStartsTheDisplayAndItsFirstReportMakesItReady) {
    ASSERT_EQ(0, zel_lvgl_disp_bind(&zdisp, disp, app_ready));
    EXPECT_EQ(1, g_fake.inits);
    EXPECT_EQ(disp, zdisp.ui_data);
    EXPECT_EQ(0, g_ready_calls) << "not before the display says so";
    zel_test::run_as_irq([&] { zdisp.ready(&zdisp); });
    EXPECT_EQ(1, g_ready_calls);
    EXPECT_EQ(&disp->driver, g_ready_drv);
    EXPECT_EQ(&zdisp, token());
    EXPECT_EQ(zel_lvgl_disp_on_refreshed, zdisp.ready);
}

TEST_F(GuiDispPort, AFlushThatCompletesBeforeTheWaitNeedsNoWake) {
    bind_ready();
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        disp->driver.buffer->flushing = 1;
        lv_area_t a = area(10, 20, 13, 23);
        zel_lvgl_disp_flush(&disp->driver, &a, pixels);
        EXPECT_EQ(nullptr, disp->driver.user_data) << "pending";
        ASSERT_EQ(1u, g_fake.refreshed.size());
        EXPECT_EQ(10, g_fake.refreshed[0].x);
        EXPECT_EQ(20, g_fake.refreshed[0].y);
        EXPECT_EQ(4, g_fake.refreshed[0].w);
        EXPECT_EQ(4, g_fake.refreshed[0].h);
        zel_lvgl_disp_on_refreshed(&zdisp);
        EXPECT_EQ(0, disp->driver.buffer->flushing);
        zel_lvgl_disp_wait(&disp->driver);  // returns at once
        EXPECT_EQ(&zdisp, disp->driver.user_data);
        // No wake was posted: a short delay runs out by itself.
        EXPECT_EQ(ZEL_EVT_TIMER, zel_thread_delay(zel_systimer_ms_to_tick(1)));
    }));
}

TEST_F(GuiDispPort, AWaitingThreadIsWokenByTheCompletion) {
    bind_ready();
    zel_test::Signal woke;
    zel_test::Signal done;
    std::thread completer([&] {
        // The completion comes from the window's host thread once the GUI
        // thread waits.
        ASSERT_TRUE(zel_test::wait_until([&] { return disp->driver.user_data == LVGL_DISP_WAITING; }));
        zel_test::run_as_irq([&] { zdisp.ready(&zdisp); });
        done.set();
    });
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        disp->driver.buffer->flushing = 1;
        lv_area_t a = area(0, 0, 899, 55);
        zel_lvgl_disp_flush(&disp->driver, &a, pixels);
        while (disp->driver.buffer->flushing) zel_lvgl_disp_wait(&disp->driver);
        woke.set();
        EXPECT_EQ(&zdisp, disp->driver.user_data);
    }));
    completer.join();
    EXPECT_TRUE(woke.is_set());
    ASSERT_EQ(1u, g_fake.refreshed.size());
    EXPECT_EQ(900, g_fake.refreshed[0].w);
    EXPECT_EQ(56, g_fake.refreshed[0].h);
}

TEST_F(GuiDispPort, AreasOffTheScreenAreDoneWithoutARefresh) {
    bind_ready();
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        for (lv_area_t a : {area(900, 0, 910, 10), area(0, 560, 10, 570), area(-20, 0, -1, 10), area(0, -9, 10, -1)}) {
            disp->driver.buffer->flushing = 1;
            zel_lvgl_disp_flush(&disp->driver, &a, pixels);
            EXPECT_EQ(0, disp->driver.buffer->flushing);
            EXPECT_EQ(&zdisp, disp->driver.user_data);
        }
    }));
    EXPECT_TRUE(g_fake.refreshed.empty());
}

TEST_F(GuiDispPort, AReportWithoutAFlushWakesNobody) {
    bind_ready();
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        lv_area_t a = area(0, 0, 3, 3);
        disp->driver.buffer->flushing = 1;
        zel_lvgl_disp_flush(&disp->driver, &a, pixels);
        zel_lvgl_disp_on_refreshed(&zdisp);
        // A second report (a paint nobody asked for) finds the token ready.
        zel_lvgl_disp_on_refreshed(&zdisp);
        EXPECT_EQ(&zdisp, disp->driver.user_data);
        EXPECT_EQ(ZEL_EVT_TIMER, zel_thread_delay(zel_systimer_ms_to_tick(1)));
    }));
}

}  // namespace

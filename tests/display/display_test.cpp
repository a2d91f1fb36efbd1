// The display on the in-memory window: readiness, pixel formats, clipping,
// minimise and restore.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "display_fixture.h"
#include "zel_disp_memory.h"
#include "zel_test.h"

namespace {

using disp_test::ready_stats;
using disp_test::refresh_and_wait;

const bool kMemoryWindow = setenv("ZEL_DISPLAY", "memory", 1) == 0;

std::vector<uint32_t> shown_image() {
    std::vector<uint32_t> img;
    for (uint16_t y = 0; y < 560; ++y) {
        for (uint16_t x = 0; x < 900; ++x) img.push_back(zel_disp_memory_pixel(x, y));
    }
    return img;
}

class Display : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kMemoryWindow);
        ASSERT_TRUE(disp_test::start_display());
    }
};

TEST_F(Display, ReportsReadyOncePerRefreshFromTheWindowThread) {
    disp_test::ReadyStats first = ready_stats();
    EXPECT_GE(first.count, 1);
    EXPECT_EQ("disp_windgi", first.last_thread);

    uint16_t px[4] = {0x001F, 0x001F, 0x001F, 0x001F};
    zel_disp_area_t area = {0, 0, 2, 2};
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(refresh_and_wait(area, px));
        EXPECT_EQ(first.count + i, ready_stats().count);
    }
    // Uncovering the window repaints it but completes no refresh.
    uint32_t presents = zel_disp_memory_presents();
    ASSERT_TRUE(zel_disp_memory_uncover());
    EXPECT_GT(zel_disp_memory_presents(), presents);

    disp_test::ReadyStats after = ready_stats();
    EXPECT_EQ(first.count + 3, after.count);
    EXPECT_EQ(0, after.inside_refresh);
    EXPECT_EQ("disp_windgi", after.last_thread);
}

TEST_F(Display, RepeatedInitReportsReadyAtOnce) {
    int before = ready_stats().count;
    int seen_inside = -1;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        EXPECT_EQ(0, zel_disp_init(zel_disp_get()));
        seen_inside = ready_stats().count;
    }));
    EXPECT_EQ(before + 1, seen_inside);
}

TEST_F(Display, ConvertsEachFormatToRgb) {
    const uint16_t rgb565[3] = {0xF800, 0x07E0, 0xFFFF};
    ASSERT_TRUE(refresh_and_wait({10, 0, 3, 1}, rgb565));
    EXPECT_EQ(0x00F80000u, zel_disp_memory_pixel(10, 0));
    EXPECT_EQ(0x0000FC00u, zel_disp_memory_pixel(11, 0));
    EXPECT_EQ(0x00F8FCF8u, zel_disp_memory_pixel(12, 0));

    const uint8_t rgb332[3] = {0xE0, 0x1C, 0x03};
    ASSERT_TRUE(refresh_and_wait({10, 1, 3, 1}, rgb332, ZEL_DISP_FMT_RGB332));
    EXPECT_EQ(0x00E00000u, zel_disp_memory_pixel(10, 1));
    EXPECT_EQ(0x0000E000u, zel_disp_memory_pixel(11, 1));
    EXPECT_EQ(0x000000C0u, zel_disp_memory_pixel(12, 1));

    const uint32_t rgb32[2] = {0x00123456, 0x00ABCDEF};
    ASSERT_TRUE(refresh_and_wait({10, 2, 1, 1}, &rgb32[0], ZEL_DISP_FMT_XRGB8888));
    ASSERT_TRUE(refresh_and_wait({11, 2, 1, 1}, &rgb32[1], ZEL_DISP_FMT_ARGB8888));
    EXPECT_EQ(0x00123456u, zel_disp_memory_pixel(10, 2));
    EXPECT_EQ(0x00ABCDEFu, zel_disp_memory_pixel(11, 2));

    // An unknown format copies nothing but still completes.
    const uint32_t junk = 0x00FFFFFF;
    ASSERT_TRUE(refresh_and_wait({10, 2, 1, 1}, &junk, 0x1234));
    EXPECT_EQ(0x00123456u, zel_disp_memory_pixel(10, 2));
}

TEST_F(Display, RowsKeepTheirSourceStride) {
    // 3 x 2 area: the second row starts three pixels into the source.
    const uint16_t px[6] = {0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006};
    ASSERT_TRUE(refresh_and_wait({100, 200, 3, 2}, px));
    EXPECT_EQ(0x08u, zel_disp_memory_pixel(100, 200));
    EXPECT_EQ(0x18u, zel_disp_memory_pixel(102, 200));
    EXPECT_EQ(0x20u, zel_disp_memory_pixel(100, 201));
    EXPECT_EQ(0x30u, zel_disp_memory_pixel(102, 201));
}

TEST_F(Display, ClipsAreasToTheDisplay) {
    // 20 x 20 at (890, 550): only 10 x 10 of it lies on the 900 x 560 display.
    std::vector<uint16_t> px(20 * 20);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint16_t>(i);
    ASSERT_TRUE(refresh_and_wait({890, 550, 20, 20}, px.data()));
    auto rgb = [](uint16_t p) { return ((p << 8) & 0xF80000u) | ((p << 5) & 0xFC00u) | ((p & 0x1Fu) << 3); };
    EXPECT_EQ(rgb(px[0]), zel_disp_memory_pixel(890, 550));
    EXPECT_EQ(rgb(px[9]), zel_disp_memory_pixel(899, 550));
    EXPECT_EQ(rgb(px[9 * 20 + 9]), zel_disp_memory_pixel(899, 559));

    // Wholly off the display: nothing is written anywhere, the refresh still
    // completes.
    std::vector<uint32_t> before = shown_image();
    const uint16_t red[4] = {0xF800, 0xF800, 0xF800, 0xF800};
    const zel_disp_area_t off[] = {
        {900, 0, 2, 2}, {0, 560, 2, 2}, {0xFFFF, 0, 2, 2}, {0, 0xFFFF, 2, 2}, {0xFFFF, 0xFFFF, 2, 2}};
    for (const zel_disp_area_t &a : off) ASSERT_TRUE(refresh_and_wait(a, red));
    ASSERT_TRUE(zel_disp_memory_uncover());  // show the whole framebuffer again
    EXPECT_TRUE(before == shown_image());
}

TEST_F(Display, MinimisedWindowStillCompletesAndRestoreRedrawsAll) {
    const uint16_t blue = 0x001F, green = 0x07E0;
    ASSERT_TRUE(refresh_and_wait({50, 50, 1, 1}, &blue));
    ASSERT_TRUE(zel_disp_memory_minimise());

    ASSERT_TRUE(refresh_and_wait({50, 50, 1, 1}, &green));
    ASSERT_TRUE(refresh_and_wait({60, 60, 1, 1}, &green));
    EXPECT_EQ(0x0000F8u, zel_disp_memory_pixel(50, 50));  // not shown while minimised

    int before = ready_stats().count;
    ASSERT_TRUE(zel_disp_memory_restore());
    EXPECT_EQ(0x00FC00u, zel_disp_memory_pixel(50, 50));
    EXPECT_EQ(0x00FC00u, zel_disp_memory_pixel(60, 60));
    EXPECT_EQ(before, ready_stats().count);  // the restore completes no refresh
}

}  // namespace

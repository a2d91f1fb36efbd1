// Paints a test pattern on the system's display through zel_disp_refresh,
// in strips of 56 lines as the GUI does, and keeps the window open for the
// given number of seconds (default 10). Prints "pattern shown" once the last
// strip is reported ready. Used by xvfb_check.sh.
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "display_fixture.h"
#include "zel_test.h"

namespace {

constexpr int kW = 900, kH = 560, kStrip = 56;

uint16_t rgb565(int r, int g, int b) { return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); }

// Eight colour bars on top, a grey ramp below them, a red/green/blue block
// row, and a white frame with a 100-pixel grid over everything.
uint16_t pattern(int x, int y) {
    static const int bars[8][3] = {
        {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}, {0, 0, 255}, {0, 0, 0}};
    if (x == 0 || y == 0 || x == kW - 1 || y == kH - 1) return rgb565(255, 255, 255);
    if (x % 100 == 0 || y % 100 == 0) return rgb565(128, 128, 128);
    if (y < 200) {
        const int *c = bars[x * 8 / kW];
        return rgb565(c[0], c[1], c[2]);
    }
    if (y < 350) {
        int v = x * 255 / (kW - 1);
        return rgb565(v, v, v);
    }
    static const int blocks[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    const int *c = blocks[x * 3 / kW];
    return rgb565(c[0], c[1], c[2]);
}

}  // namespace

int main(int argc, char **argv) {
    int seconds = argc > 1 ? atoi(argv[1]) : 10;
    if (!disp_test::start_display()) {
        fprintf(stderr, "the display did not report ready\n");
        return 1;
    }
    std::vector<uint16_t> strip(static_cast<size_t>(kW) * kStrip);
    for (int y0 = 0; y0 < kH; y0 += kStrip) {
        for (int y = 0; y < kStrip; ++y) {
            for (int x = 0; x < kW; ++x) strip[static_cast<size_t>(y) * kW + x] = pattern(x, y0 + y);
        }
        zel_disp_area_t area = {0, static_cast<uint16_t>(y0), kW, kStrip};
        if (!disp_test::refresh_and_wait(area, strip.data())) {
            fprintf(stderr, "strip at line %d was not reported ready\n", y0);
            return 1;
        }
    }
    printf("pattern shown\n");
    fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}

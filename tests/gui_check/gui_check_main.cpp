// Shows the toolkit's demo screen of every widget in the system's display
// window, frame by frame as the demo draws it, then keeps the window open.
//
//   gui_check [--await-shots] [SECONDS]
//
// Each frame is announced as "shown PATH" (PATH: the frame as the window
// should show it, a PPM). With --await-shots the demo goes on only once
// PATH.taken exists, so a screenshot can be taken of every frame. After the
// demo it prints "demo passed" or "demo failed" and keeps the window open
// for SECONDS (default 10) when it passed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "gui_check.h"
#include "gui_port.h"
#include "zel_test.h"

namespace {
bool g_await_shots = false;
constexpr uint32_t kShotWaitMs = 15000;
}  // namespace

namespace gui_check {

void frame_shown(const std::string &path) {
    std::printf("shown %s\n", path.c_str());
    std::fflush(stdout);
    if (!g_await_shots) return;
    std::string taken = path + ".taken";
    for (uint32_t waited = 0; access(taken.c_str(), F_OK) != 0; waited += 20) {
        if (waited >= kShotWaitMs) {
            ADD_FAILURE() << "no screenshot of " << path;
            return;
        }
        gui_port::sleep_ms(20);
    }
}

}  // namespace gui_check

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(filter, "DemoScreen.*");
    int seconds = 10;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--await-shots") == 0)
            g_await_shots = true;
        else
            seconds = std::atoi(argv[i]);
    }
    if (!gui_port::start()) {
        std::fprintf(stderr, "the display did not report ready\n");
        return 1;
    }
    int rc = 1;
    // The toolkit and the demo run on one framework thread, as the GUI thread would.
    if (!zel_test::run_in_thread([&] { rc = RUN_ALL_TESTS(); }, std::chrono::milliseconds(60000), 1u << 20)) {
        std::fprintf(stderr, "the demo did not finish\n");
        return 1;
    }
    std::printf("demo %s\n", rc == 0 ? "passed" : "failed");
    std::fflush(stdout);
    if (rc != 0) return rc;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}

// Shared helpers of the display suites: start the system's display, refresh
// it from a framework thread and follow its ready reports, record input
// events through a notifier.
#ifndef DISPLAY_FIXTURE_H
#define DISPLAY_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zel_disp.h"
#include "zel_input_notifier.h"

namespace disp_test {

// Ready reports of the system's display since the process started.
struct ReadyStats {
    int count;
    int inside_refresh;       // reports made while a refresh was running
    std::string last_thread;  // host thread record of the context that reported
};
ReadyStats ready_stats();
// Waits until `count` reports have been made; false after five seconds.
bool wait_ready(int count);

// Installs the test ready callback and, once per process, starts the display
// (zel_disp_init from a framework thread) and waits for its first report.
// Refuses, saying why, once a case of this process has closed the window.
::testing::AssertionResult start_display();

// Closing the window ends its thread for the rest of the process (a test's
// exit hook returns where the program would end). A case that closes it
// claims the close first; the claim, and every later start_display, fail
// with a message when an earlier case of the same process closed it: such
// cases run one per process, as ctest runs them (by hand: --gtest_filter).
::testing::AssertionResult claim_window_close();

// zel_disp_refresh from a framework thread, with the display's format set to
// `format` for the call; returns the driver's answer.
int refresh(const zel_disp_area_t *area, const void *pixels, uint32_t format = ZEL_DISP_FMT_RGB565);
// The same, then waits for the report that completes it.
bool refresh_and_wait(const zel_disp_area_t &area, const void *pixels, uint32_t format = ZEL_DISP_FMT_RGB565);

// One recorded input event.
struct Input {
    std::string notifier;
    uint32_t type;
    zel_input_evt_t evt;
};

// A notifier that records what it receives under its name. Lives for the
// rest of the process once registered.
class Recorder {
public:
    Recorder(const char *name, uint8_t mask);
    void register_now();  // as an emulated interrupt, from the test's thread
    zel_input_notifier_t *notifier() { return &box_.n; }

private:
    struct Box {
        zel_input_notifier_t n;
        Recorder *self;
    };
    static void on_evt(zel_input_notifier_t *n, uint32_t type, const zel_input_evt_t *evt);
    Box box_{};
    std::string name_;
};

// Every event recorded so far, in order, and forget them.
std::vector<Input> take_inputs();
// Waits until at least `count` events are recorded; false after five seconds.
bool wait_inputs(size_t count);

// The keyboard and touch recorder ("kb+touch", mask 0x30), registered once.
void listen_to_input();

}  // namespace disp_test

#endif

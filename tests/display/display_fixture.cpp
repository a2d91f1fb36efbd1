#include "display_fixture.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "zel_host_test_hooks.h"
#include "zel_test.h"

namespace disp_test {
namespace {

std::mutex g_m;
std::condition_variable g_c;
ReadyStats g_ready{0, 0, ""};
std::vector<Input> g_inputs;
std::atomic<bool> g_in_refresh{false};
std::string g_closed_by;  // the case that closed the window, if one did

::testing::AssertionResult closed_already() {
    return ::testing::AssertionFailure()
           << g_closed_by << " closed the window earlier in this process, which ended its thread: "
           << "run the cases that close the window one per process (ctest does; by hand: --gtest_filter=<case>)";
}

// The display's ready callback: an emulated interrupt of the window thread,
// or the caller's context on a repeated init.
void on_ready(zel_disp_t *) {
    const zel_host_thread_t *running = zel_host_irq_running();
    std::lock_guard<std::mutex> lock(g_m);
    g_ready.count++;
    if (g_in_refresh.load()) g_ready.inside_refresh++;
    g_ready.last_thread = running ? running->name : "";
    g_c.notify_all();
}

}  // namespace

ReadyStats ready_stats() {
    std::lock_guard<std::mutex> lock(g_m);
    return g_ready;
}

bool wait_ready(int count) {
    std::unique_lock<std::mutex> lock(g_m);
    return g_c.wait_for(lock, std::chrono::seconds(5), [&] { return g_ready.count >= count; });
}

::testing::AssertionResult claim_window_close() {
    if (!g_closed_by.empty()) return closed_already();
    const ::testing::TestInfo *now = ::testing::UnitTest::GetInstance()->current_test_info();
    g_closed_by = now ? std::string(now->test_suite_name()) + "." + now->name() : "a case";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult start_display() {
    static bool started = false;
    if (!g_closed_by.empty()) return closed_already();
    if (started) return ::testing::AssertionSuccess();
    zel_test::boot();
    int rc = -1;
    if (!zel_test::run_in_thread([&] {
            zel_disp_t *d = zel_disp_get();
            d->ready = on_ready;
            rc = zel_disp_init(d);
        })) {
        return ::testing::AssertionFailure() << "no framework thread ran zel_disp_init";
    }
    started = rc == 0 && wait_ready(1);
    if (!started) return ::testing::AssertionFailure() << "zel_disp_init answered " << rc << " or no ready report came";
    return ::testing::AssertionSuccess();
}

int refresh(const zel_disp_area_t *area, const void *pixels, uint32_t format) {
    int rc = -1;
    zel_test::run_in_thread([&] {
        zel_disp_t *d = zel_disp_get();
        uint32_t saved = d->format;
        d->format = format;
        g_in_refresh.store(true);
        rc = zel_disp_refresh(d, area, pixels);
        g_in_refresh.store(false);
        d->format = saved;
    });
    return rc;
}

bool refresh_and_wait(const zel_disp_area_t &area, const void *pixels, uint32_t format) {
    int before = ready_stats().count;
    return refresh(&area, pixels, format) == 0 && wait_ready(before + 1);
}

Recorder::Recorder(const char *name, uint8_t mask) : name_(name) {
    box_.n.handler = on_evt;
    box_.n.mask = mask;
    box_.self = this;
}

void Recorder::register_now() {
    zel_test::boot();
    zel_test::run_as_irq([this] { zel_input_notifier_register(&box_.n); });
}

void Recorder::on_evt(zel_input_notifier_t *n, uint32_t type, const zel_input_evt_t *evt) {
    Recorder *self = reinterpret_cast<Box *>(n)->self;
    std::lock_guard<std::mutex> lock(g_m);
    g_inputs.push_back({self->name_, type, *evt});
    g_c.notify_all();
}

bool wait_inputs(size_t count) {
    std::unique_lock<std::mutex> lock(g_m);
    return g_c.wait_for(lock, std::chrono::seconds(5), [&] { return g_inputs.size() >= count; });
}

std::vector<Input> take_inputs() {
    std::lock_guard<std::mutex> lock(g_m);
    std::vector<Input> out;
    out.swap(g_inputs);
    return out;
}

void listen_to_input() {
    static Recorder *all = [] {
        Recorder *r = new Recorder("kb+touch", 0x30);
        r->register_now();
        return r;
    }();
    (void)all;
}

}  // namespace disp_test

// Kernel benchmarks: agent-to-agent event round trips, and the framework
// thread hand-over round trip against a raw condition-variable ping-pong
// between two host threads measured in the same run; and the process CPU
// that a hand-over costs at a low rate (an emulated interrupt waking a
// framework thread once a millisecond, a thread sleeping 1 ms at a time)
// against the same with the hand-over spin switched off. Each figure is the
// median of several runs with their range, so a noisy machine shows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "zel_host_test_hooks.h"
#include "zel_kernel.h"

namespace {

constexpr int kRoundTrips = 2000;

// A kernel call that fails leaves a round trip that never ends: the run
// stops at once and says which call it was.
void check(int32_t result, const char *call) {
    if (result == 0) return;
    std::fprintf(stderr, "zel_kernel_bench: %s failed (%d)\n", call, static_cast<int>(result));
    std::fflush(stderr);
    std::_Exit(1);
}

// ---- a completion flag set in the kernel, awaited by the benchmark thread ----
std::mutex g_m;
std::condition_variable g_c;
bool g_done = false;

void signal_done() {
    std::lock_guard<std::mutex> lock(g_m);
    g_done = true;
    g_c.notify_all();
}

void wait_done() {
    std::unique_lock<std::mutex> lock(g_m);
    g_c.wait(lock, [] { return g_done; });
    g_done = false;
}

zel_host_thread_t g_irq{};

template <class F>
void as_irq(F f) {
    zel_host_irq_enter(&g_irq);
    f();
    zel_host_irq_leave(&g_irq, 0);
}

void boot() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] { zel_kernel_main(); }).detach();
        wait_done();  // app_main reports
    });
}

// ---- agent ping-pong ----
zel_eda_t g_ping{}, g_pong{};
int g_left = 0;

void ping_handler(zel_eda_t *, zel_evt_t evt) {
    if (evt != ZEL_EVT_WAKE) return;
    if (g_left-- > 0)
        check(zel_eda_post_evt(&g_pong, ZEL_EVT_WAKE), "zel_eda_post_evt");
    else
        signal_done();
}

void pong_handler(zel_eda_t *, zel_evt_t evt) {
    if (evt == ZEL_EVT_WAKE) check(zel_eda_post_evt(&g_ping, ZEL_EVT_WAKE), "zel_eda_post_evt");
}

std::vector<double> g_agent_ns, g_thread_ns, g_cv_ns;

void BM_AgentRoundTrip(benchmark::State &state) {
    boot();
    as_irq([] {
        g_ping.handler.plain = ping_handler;
        g_pong.handler.plain = pong_handler;
        check(zel_eda_start(&g_ping, 0, 0), "zel_eda_start");
        check(zel_eda_start(&g_pong, 0, 0), "zel_eda_start");
    });
    for (auto _ : state) {
        as_irq([] {
            g_left = kRoundTrips;
            check(zel_eda_post_evt(&g_ping, ZEL_EVT_WAKE), "zel_eda_post_evt");
        });
        wait_done();
    }
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
    as_irq([] {
        check(zel_eda_fini(&g_ping), "zel_eda_fini");
        check(zel_eda_fini(&g_pong), "zel_eda_fini");
    });
}

// ---- framework thread <-> agent ping-pong ----
zel_thread_t g_thread{};
zel_eda_t g_echo{};

void echo_handler(zel_eda_t *, zel_evt_t evt) {
    if (evt == ZEL_EVT_WAKE) check(zel_eda_post_evt(&g_thread.eda, ZEL_EVT_WAKE), "zel_eda_post_evt");
}

int bounce_entry(zel_thread_rec_t *) {
    for (;;) {
        zel_thread_wait_for_evt(ZEL_EVT_MSG);  // a batch is asked for
        for (int i = 0; i < kRoundTrips; ++i) {
            check(zel_eda_post_evt(&g_echo, ZEL_EVT_WAKE), "zel_eda_post_evt");
            zel_thread_wait_for_evt(ZEL_EVT_WAKE);
        }
        signal_done();
    }
    return 0;
}

void BM_ThreadHandOverRoundTrip(benchmark::State &state) {
    boot();
    static bool started = false;
    if (!started) {
        started = true;
        as_irq([] {
            g_echo.handler.plain = echo_handler;
            check(zel_eda_start(&g_echo, 0, 0), "zel_eda_start");
            g_thread.rec.entry = bounce_entry;
            g_thread.rec.stack_size = 16384;
            check(zel_thread_start(&g_thread.eda, &g_thread.rec, 0), "zel_thread_start");
        });
    }
    for (auto _ : state) {
        as_irq([] { check(zel_eda_post_msg(&g_thread.eda, nullptr), "zel_eda_post_msg"); });
        wait_done();
    }
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

// ---- raw condition-variable ping-pong between two host threads ----
void BM_RawCondvarRoundTrip(benchmark::State &state) {
    std::mutex m;
    std::condition_variable c;
    int turn = 0;  // 0: main's turn, 1: peer's turn, 2: stop
    std::thread peer([&] {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            c.wait(lock, [&] { return turn != 0; });
            if (turn == 2) return;
            turn = 0;
            c.notify_one();
        }
    });
    for (auto _ : state) {
        std::unique_lock<std::mutex> lock(m);
        for (int i = 0; i < kRoundTrips; ++i) {
            turn = 1;
            c.notify_one();
            c.wait(lock, [&] { return turn == 0; });
        }
    }
    {
        std::lock_guard<std::mutex> lock(m);
        turn = 2;
        c.notify_one();
    }
    peer.join();
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

// ---- process CPU per hand-over at a low rate ----
zel_thread_t g_waiter{}, g_sleeper{};
std::atomic<int> g_woken{0}, g_slept{0};

int waiter_entry(zel_thread_rec_t *) {
    for (;;) {
        zel_thread_wait_for_evt(ZEL_EVT_WAKE);
        g_woken++;
    }
    return 0;
}

int sleeper_entry(zel_thread_rec_t *) {
    for (;;) {
        zel_thread_wait_for_evt(ZEL_EVT_MSG);  // a batch is asked for
        const int batch = g_slept.load();
        for (int i = 0; i < batch; ++i) zel_thread_delay(zel_systimer_ms_to_tick(1));
        g_slept = 0;
        signal_done();
    }
    return 0;
}

void wait_for(const std::atomic<int> &counter, int value) {
    while (counter.load() != value) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Microseconds of process CPU per event while an emulated interrupt posts
// to a waiting framework thread once a millisecond.
double cpu_per_interrupt_at_1khz(int events) {
    static bool started = false;
    if (!started) {
        started = true;
        as_irq([] {
            g_waiter.rec.entry = waiter_entry;
            g_waiter.rec.stack_size = 16384;
            check(zel_thread_start(&g_waiter.eda, &g_waiter.rec, 0), "zel_thread_start");
        });
    }
    const int base = g_woken.load();
    as_irq([] { check(zel_eda_post_evt(&g_waiter.eda, ZEL_EVT_WAKE), "zel_eda_post_evt"); });
    wait_for(g_woken, base + 1);
    const uint64_t cpu0 = zel_host_process_cpu_ticks();
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < events; ++i) {
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
        as_irq([] { check(zel_eda_post_evt(&g_waiter.eda, ZEL_EVT_WAKE), "zel_eda_post_evt"); });
    }
    wait_for(g_woken, base + 1 + events);
    return static_cast<double>(zel_host_process_cpu_ticks() - cpu0) / 10.0 / events;
}

// Microseconds of process CPU per zel_thread_delay of 1 ms.
double cpu_per_1ms_delay(int delays) {
    static bool started = false;
    if (!started) {
        started = true;
        as_irq([] {
            g_sleeper.rec.entry = sleeper_entry;
            g_sleeper.rec.stack_size = 16384;
            check(zel_thread_start(&g_sleeper.eda, &g_sleeper.rec, 0), "zel_thread_start");
        });
    }
    g_slept = delays;
    const uint64_t cpu0 = zel_host_process_cpu_ticks();
    as_irq([] { check(zel_eda_post_msg(&g_sleeper.eda, nullptr), "zel_eda_post_msg"); });
    wait_done();
    return static_cast<double>(zel_host_process_cpu_ticks() - cpu0) / 10.0 / delays;
}

// The median of a run's figures and their range, as "M (range A-B)".
struct Spread {
    double median = 0, low = 0, high = 0;
};

Spread spread_of(std::vector<double> v) {
    Spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.low = v.front();
    s.high = v.back();
    return s;
}

// `rounds` of each, with and without the spin, alternating; the median and
// the range of each, so a noisy machine shows as a wide range.
void low_rate_figures(int rounds) {
    std::vector<double> irq_spin, irq_plain, delay_spin, delay_plain;
    for (int r = 0; r < rounds; ++r) {
        for (bool spin : {false, true}) {
            zel_host_handover_spin(spin);
            (spin ? irq_spin : irq_plain).push_back(cpu_per_interrupt_at_1khz(500));
            (spin ? delay_spin : delay_plain).push_back(cpu_per_1ms_delay(500));
        }
    }
    zel_host_handover_spin(true);
    const Spread is = spread_of(irq_spin), ip = spread_of(irq_plain);
    const Spread ds = spread_of(delay_spin), dp = spread_of(delay_plain);
    std::printf(
        "hand-over CPU at 1 kHz: %.1f us per interrupt (range %.1f-%.1f), without the spin: %.1f us (range %.1f-%.1f)\n",
        is.median, is.low, is.high, ip.median, ip.low, ip.high);
    std::printf(
        "thread 1 ms delay CPU: %.1f us per delay (range %.1f-%.1f), without the spin: %.1f us (range %.1f-%.1f)\n",
        ds.median, ds.low, ds.high, dp.median, dp.low, dp.high);
}

constexpr int kRepetitions = 5;
BENCHMARK(BM_AgentRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_ThreadHandOverRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_RawCondvarRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);

// Keeps the real time per round trip of every repetition of each benchmark
// for the medians and their ranges.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
            double ns = r.real_accumulated_time * 1e9 / static_cast<double>(r.iterations) / kRoundTrips;
            std::string name = r.benchmark_name();
            if (name.find("AgentRoundTrip") != std::string::npos) g_agent_ns.push_back(ns);
            if (name.find("ThreadHandOver") != std::string::npos) g_thread_ns.push_back(ns);
            if (name.find("RawCondvar") != std::string::npos) g_cv_ns.push_back(ns);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

extern "C" int app_main(void) {
    signal_done();
    return 0;
}

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const Spread agent = spread_of(g_agent_ns), thread = spread_of(g_thread_ns), cv = spread_of(g_cv_ns);
    if (agent.median > 0)
        std::printf("agent-to-agent round trips per second: %.0f (range %.0f-%.0f)\n", 1e9 / agent.median,
            1e9 / agent.high, 1e9 / agent.low);
    if (thread.median > 0 && cv.median > 0) {
        std::printf(
            "thread hand-over round trip: %.0f ns (range %.0f-%.0f), raw condition-variable round trip: %.0f ns "
            "(range %.0f-%.0f)\n",
            thread.median, thread.low, thread.high, cv.median, cv.low, cv.high);
        std::printf("ratio hand-over / raw condition variable: %.2f\n", thread.median / cv.median);
    }
    low_rate_figures(5);
    std::fflush(stdout);
    std::_Exit(0);  // the kernel's host threads never end
}

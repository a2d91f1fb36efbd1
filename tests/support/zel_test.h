// Test support for every suite that runs code on the zel kernel.
//
// The kernel is booted once per test binary, on a background host thread
// (zel_kernel_main never returns); every helper below boots it on first use.
// The library also provides the app_main that the kernel's first thread runs
// in test binaries: it reports the boot and returns.
//
// Framework state may be touched only from a framework context: a handler or
// a framework thread (run_in_agent, run_in_thread, Agent) or an emulated
// interrupt (run_as_irq, wait_until). The gtest thread itself is none of them.
//
//   TEST(Fs, ReadsBack) {
//       ASSERT_TRUE(zel_test::run_in_thread([] {
//           // blocking framework calls: sub-calls come back with their result
//           ASSERT_EQ(0, zel_eda_call_param(my_op, 0, sizeof(args), sizeof(args), &args));
//           EXPECT_EQ(7, zel_eda_get_return_code());
//       }));
//   }
#ifndef ZEL_TEST_H
#define ZEL_TEST_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "zel_kernel.h"

namespace zel_test {

using std::chrono::milliseconds;
inline constexpr milliseconds kTimeout{20000};

// Boots the kernel (once; later calls return at once). True once the
// kernel's first thread has run; the first call waits up to `timeout` for it.
bool boot(milliseconds timeout = milliseconds(60000));
// Before the first boot only: number of priority levels (default 1, as in the
// product). Returns false once the kernel runs.
bool set_priority_count(uint16_t count);

// A flag that a framework context sets and a host thread waits for.
class Signal {
public:
    void set();
    void reset();
    bool is_set();
    // True once set; false after `timeout`.
    bool wait(milliseconds timeout = kTimeout);

private:
    std::mutex m_;
    std::condition_variable c_;
    bool set_ = false;
};

// Runs `fn` on a new framework thread (priority 0) and blocks the calling
// thread until `fn` has returned and the thread's agent has finished. Inside,
// every kernel call is allowed, including the blocking ones (zel_thread_*,
// sub-calls through zel_eda_call_param, zel_sync_wait). gtest assertions work;
// a fatal one returns from `fn`. False (and a leaked thread) on timeout or
// when the thread could not be started; either fails the running test, since
// the assertions in `fn` may not have run.
bool run_in_thread(std::function<void()> fn, milliseconds timeout = kTimeout, uint32_t stack_size = 65536);

// Runs `fn` in kernel context, as the handler of a one-shot agent (priority 0)
// receiving its 257, and blocks until it has returned. Inside, zel_eda_get_cur
// is that agent. False on timeout or when the agent could not be started;
// either fails the running test.
bool run_in_agent(std::function<void()> fn, milliseconds timeout = kTimeout);

// Runs `fn` as an emulated interrupt on the calling host thread, between
// zel_host_irq_enter and zel_host_irq_leave: it may post events and use the
// interrupt-side calls (zel_callback_timer_add_isr, zel_eda_sync_increase_from_irq).
// Blocks while the kernel is busy.
void run_as_irq(const std::function<void()> &fn);

// Evaluates `pred` as an emulated interrupt every millisecond until it holds;
// false after `timeout`.
bool wait_until(const std::function<bool()> &pred, milliseconds timeout = kTimeout);

// Lets the kernel run everything that is ready now and all that it posts:
// returns once a one-shot agent posted behind the current work has been
// served and nothing is ready any more (or after kTimeout).
void settle();

// A plain agent whose handler is a lambda. Keep it alive until it has
// finished (finished() is set once its on-terminate callback ran).
class Agent {
public:
    using Handler = std::function<void(Agent &self, zel_evt_t evt)>;
    explicit Agent(Handler handler = {});
    // An agent started and not finished is finished here (it gives its
    // reserve event nodes back and leaves every kernel list); destroy it
    // outside framework contexts then.
    ~Agent();
    Agent(const Agent &) = delete;
    Agent &operator=(const Agent &) = delete;

    zel_eda_t *eda() { return &box_.eda; }
    static Agent &of(zel_eda_t *eda);
    // Kernel context (handler, thread or irq): zel_eda_start with a plain handler.
    int32_t start(int32_t prio = 0);
    void set_handler(Handler handler) { handler_ = std::move(handler); }
    // Any thread but a framework one: ends the agent unless it has ended
    // (zel_eda_fini in kernel context) and waits for its on-terminate callback.
    bool finish(milliseconds timeout = kTimeout);
    Signal &finished() { return finished_; }
    int terminate_count() const { return terminate_count_; }

private:
    struct Box {
        zel_eda_t eda;
        Agent *self;
    };
    static void dispatch(zel_eda_t *eda, zel_evt_t evt);
    static void terminated(zel_eda_t *eda);
    Box box_{};
    Handler handler_;
    bool started_ = false;
    Signal finished_;
    int terminate_count_ = 0;
};

// Collects every trace message while it lives (and keeps stderr quiet).
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    std::string text();
    bool contains(const std::string &needle) { return text().find(needle) != std::string::npos; }
};

// In a framework context: while it lives, no event node can be had (the free
// nodes of the kernel's pool are taken and the heap refuses to grow it), so
// every post answers -6. Frames and other heap blocks fail as well; the
// heap's failure traces are kept off stderr.
class EventNodeDrought {
public:
    EventNodeDrought();
    ~EventNodeDrought();
    EventNodeDrought(const EventNodeDrought &) = delete;
    EventNodeDrought &operator=(const EventNodeDrought &) = delete;

private:
    TraceCapture quiet_;
    std::vector<void *> taken_;
};

// In a framework context: while it lives, the kernel's pool holds no more
// than `left` free event nodes (the others are taken); a node beyond them
// comes from the heap, which is left alone, so that a test can fail the
// heap's n-th allocation where the pool runs dry.
class EventNodesLeft {
public:
    explicit EventNodesLeft(uint16_t left);
    ~EventNodesLeft();
    EventNodesLeft(const EventNodesLeft &) = delete;
    EventNodesLeft &operator=(const EventNodesLeft &) = delete;

private:
    std::vector<void *> taken_;
};

// Calls `handler` as a sub-call of the running agent (8 bytes of locals, no
// parameters) with one event node left and the heap refusing its allocation
// after `skip` more, its traces kept off the output: what the call answered,
// with *through telling whether it got through all its allocations (the
// refusal never came).
int32_t CallShortOfMemory(zel_eda_frame_handler_t handler, int64_t skip, bool *through);

}  // namespace zel_test

#endif

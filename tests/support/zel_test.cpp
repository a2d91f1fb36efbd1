// Test support: kernel boot, framework contexts for test code, trace capture.
#include "zel_test.h"
#include "zel_host_test_hooks.h"
#include "zel_kernel_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace zel_test {
namespace {

std::atomic<uint16_t> g_prio_count{1};
std::atomic<bool> g_booting{false};
std::once_flag g_boot_once;
Signal g_booted;

thread_local zel_host_thread_t t_irq_record{};

std::mutex g_trace_m;
std::string g_trace_text;
int g_trace_users = 0;

void trace_tap(int, const char *text) {
    std::lock_guard<std::mutex> lock(g_trace_m);
    g_trace_text += text;
}

// A framework thread that runs one job.
struct JobThread {
    zel_thread_t th;
    std::function<void()> *fn;
    Signal *done;
};

int job_entry(zel_thread_rec_t *rec) {
    JobThread *jt = reinterpret_cast<JobThread *>(zel_thread_of(rec));
    (*jt->fn)();
    return 0;
}

void job_terminated(zel_eda_t *eda) {
    JobThread *jt = reinterpret_cast<JobThread *>(eda);
    jt->done->set();  // last touch: the waiting thread frees the job
}

}  // namespace

}  // namespace zel_test

// The first thread of a test binary: report the boot, then end.
extern "C" int app_main(void) {
    zel_test::g_booted.set();
    return 0;
}

namespace zel_test {

bool set_priority_count(uint16_t count) {
    if (g_booting.load()) return false;
    g_prio_count.store(count);
    return true;
}

bool boot(milliseconds timeout) {
    std::call_once(g_boot_once, [timeout] {
        g_booting.store(true);
        std::thread([] { zel_kernel_main_prio(g_prio_count.load()); }).detach();
        g_booted.wait(timeout);
    });
    return g_booted.is_set();
}

void Signal::set() {
    std::lock_guard<std::mutex> lock(m_);
    set_ = true;
    c_.notify_all();
}

void Signal::reset() {
    std::lock_guard<std::mutex> lock(m_);
    set_ = false;
}

bool Signal::is_set() {
    std::lock_guard<std::mutex> lock(m_);
    return set_;
}

bool Signal::wait(milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_);
    return c_.wait_for(lock, timeout, [this] { return set_; });
}

void run_as_irq(const std::function<void()> &fn) {
    boot();
    if (!t_irq_record.name[0]) snprintf(t_irq_record.name, sizeof t_irq_record.name, "test_irq");
    zel_host_irq_enter(&t_irq_record);
    fn();
    zel_host_irq_leave(&t_irq_record, 0);
}

bool wait_until(const std::function<bool()> &pred, milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool ok = false;
        run_as_irq([&] { ok = pred(); });
        if (ok) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool run_in_thread(std::function<void()> fn, milliseconds timeout, uint32_t stack_size) {
    boot();
    Signal *done = new Signal;
    JobThread *jt = new JobThread{};
    jt->fn = new std::function<void()>(std::move(fn));
    jt->done = done;
    jt->th.eda.on_terminate = job_terminated;
    jt->th.rec.entry = job_entry;
    jt->th.rec.stack_size = stack_size;
    int32_t r = 0;
    run_as_irq([&] { r = zel_thread_start(&jt->th.eda, &jt->th.rec, 0); });
    if (r != 0) {
        delete jt->fn;
        delete jt;
        delete done;
        ADD_FAILURE() << "run_in_thread: the thread did not start (" << r << ")";
        return false;
    }
    if (!done->wait(timeout)) {
        ADD_FAILURE() << "run_in_thread: the thread did not end in time";
        return false;  // leaked on purpose: it may still run
    }
    delete jt->fn;
    delete jt;
    delete done;
    return true;
}

Agent::Agent(Handler handler) : handler_(std::move(handler)) {
    box_.self = this;
    box_.eda.on_terminate = terminated;
}

Agent::~Agent() {
    if (!started_ || finished_.is_set()) return;
    run_as_irq([this] {
        if (!finished_.is_set()) (void)zel_eda_fini(&box_.eda);  // cannot fail
    });
}

Agent &Agent::of(zel_eda_t *eda) { return *reinterpret_cast<Box *>(eda)->self; }

int32_t Agent::start(int32_t prio) {
    finished_.reset();
    box_.eda.handler.plain = dispatch;
    box_.eda.on_terminate = terminated;
    const int32_t r = zel_eda_start(&box_.eda, prio, 0);
    if (r == 0) started_ = true;  // a start that failed holds nothing
    return r;
}

bool Agent::finish(milliseconds timeout) {
    if (!run_in_agent(
            [this] {
                if (!finished_.is_set()) {
                    EXPECT_EQ(0, zel_eda_fini(&box_.eda));
                }
            },
            timeout))
        return false;
    return finished_.wait(timeout);
}

void Agent::dispatch(zel_eda_t *eda, zel_evt_t evt) {
    Agent &a = of(eda);
    if (a.handler_) a.handler_(a, evt);
}

void Agent::terminated(zel_eda_t *eda) {
    Agent &a = of(eda);
    a.terminate_count_++;
    a.finished_.set();
}

bool run_in_agent(std::function<void()> fn, milliseconds timeout) {
    boot();
    auto *agent = new Agent([fn = std::move(fn)](Agent &, zel_evt_t evt) {
        if (evt != ZEL_EVT_INIT) return;
        fn();
        EXPECT_EQ(0, zel_eda_fini(nullptr));
    });
    int32_t r = 0;
    run_as_irq([&] { r = agent->start(0); });
    if (r != 0) {
        delete agent;
        ADD_FAILURE() << "run_in_agent: the agent did not start (" << r << ")";
        return false;
    }
    if (!agent->finished().wait(timeout)) {
        ADD_FAILURE() << "run_in_agent: the agent did not end in time";
        return false;  // leaked on purpose
    }
    // The kernel's last touch of the agent is the on-terminate call; wait it out.
    run_as_irq([] {});
    delete agent;
    return true;
}

void settle() {
    // Interrupt contexts get in between two dispatches too, so one agent
    // posted now may be served before work that is still coming (events
    // that the current work posts later): served, and then nothing ready.
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    for (;;) {
        run_in_agent([] {});
        bool idle = true;
        run_as_irq([&] {
            const zel_kernel_cfg_t *cfg = zel_kernel_get_cfg();
            for (uint16_t p = 0; p < cfg->prio_count; ++p)
                if (!zel_evtq_is_empty(&cfg->entries[p].ready)) idle = false;
        });
        if (idle || std::chrono::steady_clock::now() >= deadline) return;
    }
}

EventNodeDrought::EventNodeDrought() {
    zel_pool_t *pool = zel_kernel_evt_node_pool();
    while (zel_pool_get_free_count(pool)) taken_.push_back(zel_pool_alloc(pool));
    zel_host_fail_heap_allocations(UINT32_MAX);
}

EventNodeDrought::~EventNodeDrought() {
    zel_host_fail_heap_allocations(0);
    zel_pool_t *pool = zel_kernel_evt_node_pool();
    for (void *n : taken_) zel_pool_free(pool, n);
}

EventNodesLeft::EventNodesLeft(uint16_t left) {
    zel_pool_t *pool = zel_kernel_evt_node_pool();
    while (zel_pool_get_free_count(pool) > left) taken_.push_back(zel_pool_alloc(pool));
}

EventNodesLeft::~EventNodesLeft() {
    zel_pool_t *pool = zel_kernel_evt_node_pool();
    for (void *n : taken_) zel_pool_free(pool, n);
}

int32_t CallShortOfMemory(zel_eda_frame_handler_t handler, int64_t skip, bool *through) {
    TraceCapture quiet;
    EventNodesLeft one(1);
    zel_host_fail_heap_allocation_after(skip);
    const int32_t r = zel_eda_call_param(handler, 0, 8, 0, nullptr);
    *through = zel_host_heap_failure_armed();
    zel_host_fail_heap_allocation_after(-1);
    return r;
}

TraceCapture::TraceCapture() {
    std::lock_guard<std::mutex> lock(g_trace_m);
    if (g_trace_users++ == 0) {
        g_trace_text.clear();
        zel_trace_set_tap(trace_tap);
        zel_trace_set_quiet(1);
    }
}

TraceCapture::~TraceCapture() {
    std::lock_guard<std::mutex> lock(g_trace_m);
    if (--g_trace_users == 0) {
        zel_trace_set_tap(nullptr);
        zel_trace_set_quiet(0);
    }
}

std::string TraceCapture::text() {
    std::lock_guard<std::mutex> lock(g_trace_m);
    return g_trace_text;
}

}  // namespace zel_test

// Kernel start-up and main loop.
#include <stdlib.h>
#include <string.h>

#include "zel_heap.h"
#include "zel_host_app.h"
#include "zel_host_err.h"
#include "zel_kernel_internal.h"
#include "zel_thread.h"
#include "zel_timer.h"
#include "zel_trace.h"

zel_evtq_t *g_zel_running = nullptr;

// The host calls that stand in for framework drivers answer the kernel's codes.
static_assert(int(ZEL_HOST_ERR_NO_MEMORY) == int(ZEL_ERR_NO_MEMORY) && int(ZEL_HOST_ERR_STATE) == int(ZEL_ERR_STATE),
    "the host port's framework codes are the kernel's");

namespace {

zel_evtq_t g_entries[ZEL_KERNEL_MAX_PRIO];

zel_pool_t g_frame_pool;
zel_pool_t g_evt_pool;

// The first thread: its agent and record, and its 8192-byte stack with the
// guard word just before it.
zel_thread_t g_main_thread;
struct main_stack {
    uint32_t pad[3];
    uint32_t guard;
    unsigned char stack[8192];
};
main_stack g_main_stack __attribute__((aligned(16)));

bool g_main_thread_ran;

int main_thread_entry(zel_thread_rec_t *) {
    g_main_thread_ran = true;
    return app_main();
}

// The first thread has ended: without having run, its host thread was
// refused, and nothing of the program would ever start.
void main_thread_ended(zel_eda_t *) {
    if (!g_main_thread_ran) zel_host_fail_start("no host thread for the first framework thread (\"zel_thread\")");
}

// What the host port's platform side calls up into.
constexpr zel_host_kernel_calls_t kHostCalls = {
    .timer_tick = zel_timer_on_tick,
};

}  // namespace

zel_kernel_cfg_t g_zel_cfg = {0, g_entries, nullptr, 0, 1, nullptr, 0};

void zel_kernel_preempt(zel_evtq_t *entry) {
    int idx = static_cast<int>(entry - g_zel_cfg.entries);
    for (int p = g_zel_cfg.prio_count - 1; p > idx; --p) {
        if (!zel_evtq_is_empty(&g_zel_cfg.entries[p].ready)) {
            zel_kernel_run_prio(static_cast<uint8_t>(p));
            p = g_zel_cfg.prio_count;  // a run may have readied another higher one
        }
    }
}

void zel_kernel_dispatch_boundary(zel_evtq_t *entry) {
    // Interrupt contexts waiting for the lock get in between two events,
    // finding the kernel as they find it idle (no running entry); events
    // they post to higher priorities run next.
    zel_evtq_t *prev = zel_evtq_set_cur(nullptr);
    zel_host_irq_let_in();
    zel_evtq_set_cur(prev);
    if (g_zel_cfg.prio_count > 1) zel_kernel_preempt(entry);
}

extern "C" {

const zel_kernel_cfg_t *zel_kernel_get_cfg(void) { return &g_zel_cfg; }

void zel_empty_hook(void) {}
bool zel_return_true(void) { return true; }
void zel_driver_init(void) {}

void zel_assert(uint32_t code) {
    if (code == 0) return;
    zel_host_irq_disable();
    zel_trace(1, "zel: kernel panic %u\r\n", code);
    abort();
}

zel_evt_node_t *zel_evt_node_alloc(void) { return static_cast<zel_evt_node_t *>(zel_pool_alloc(&g_evt_pool)); }
void zel_evt_node_free(zel_evt_node_t *node) { zel_pool_free(&g_evt_pool, node); }
zel_pool_t *zel_kernel_evt_node_pool(void) { return &g_evt_pool; }
zel_pool_t *zel_kernel_frame_pool(void) { return &g_frame_pool; }
void *zel_eda_frame_pool_alloc(zel_pool_t *pool) { return zel_pool_alloc(pool); }
void zel_eda_frame_pool_free(zel_pool_t *pool, void *item) { zel_pool_free(pool, item); }

bool zel_kernel_is_main_thread(const zel_thread_rec_t *rec) { return rec == &g_main_thread.rec; }

int32_t zel_kernel_start_main_thread(void) {
    g_main_thread.eda.on_terminate = main_thread_ended;
    g_main_thread_ran = false;
    g_main_thread.rec.entry = main_thread_entry;
    g_main_thread.rec.stack = g_main_stack.stack;
    g_main_thread.rec.stack_size = sizeof g_main_stack.stack;
    g_main_stack.guard = ZEL_EDA_FRAME_GUARD;
    return zel_thread_start(&g_main_thread.eda, &g_main_thread.rec, 0);
}

int32_t zel_kernel_init(void) {
    zel_host_set_kernel_calls(&kHostCalls);
    zel_host_init();
    zel_host_irq_disable();
    zel_empty_hook();
    zel_driver_init();
    memset(&g_frame_pool, 0, sizeof g_frame_pool);
    memset(&g_evt_pool, 0, sizeof g_evt_pool);
    const zel_kernel_cfg_t *cfg = zel_kernel_get_cfg();
    zel_pool_cfg_t frame_cfg = {"zel_eda_frame_pool", 0, &zel_protect_none, nullptr};
    zel_pool_init(&g_frame_pool, sizeof(zel_eda_frame_t), 8, &frame_cfg);
    if (cfg->frame_buf && cfg->frame_count)
        zel_pool_add_buffer(
            &g_frame_pool, cfg->frame_buf, cfg->frame_count * sizeof(zel_eda_frame_t), sizeof(zel_eda_frame_t));
    zel_kernel_lists_init(cfg->timer_task_prio);
    zel_pool_cfg_t node_cfg = {
        "zel_evt_node_pool", reinterpret_cast<uintptr_t>(&g_evt_pool), &zel_protect_irq, nullptr};
    zel_pool_init(&g_evt_pool, sizeof(zel_evt_node_t), 8, &node_cfg);
    if (cfg->evt_node_buf && cfg->evt_node_count)
        zel_pool_add_buffer(
            &g_evt_pool, cfg->evt_node_buf, cfg->evt_node_count * sizeof(zel_evt_node_t), sizeof(zel_evt_node_t));
    zel_host_irq_enable();
    for (uint16_t p = 0; p < cfg->prio_count; ++p) zel_evtq_init(&cfg->entries[p]);
    g_zel_running = nullptr;
    // The timer task's priority comes from the configuration: a bad one is
    // reported and the start goes on without timers, as it always has. A
    // timer the host refused its thread (or the task its start) ends the
    // program: nothing would wake a wait.
    if (int32_t r = zel_timer_init(); r == ZEL_ERR_NO_MEMORY)
        zel_host_fail_start("no host thread for \"timer\" (the system timer), or no memory for its task");
    else if (r != 0)
        zel_trace(1, "kernel: timer task not started (%d)\r\n", (int)r);
    zel_return_true();

    return zel_kernel_start_main_thread();
}

void zel_kernel_run_prio(uint8_t prio) {
    zel_evtq_t *e = zel_evtq_get(prio);
    if (!e) return;
    zel_evtq_t *prev = zel_evtq_set_cur(e);
    bool measure = prev && prev->measuring;
    uint64_t start = measure ? zel_systimer_get_tick() : 0;
    zel_evtq_poll(e);
    if (measure) prev->preempt += zel_timer_get_elapsed(start);
    zel_evtq_set_cur(prev);
}

static bool all_empty() {
    for (uint16_t p = 0; p < g_zel_cfg.prio_count; ++p)
        if (!zel_evtq_is_empty(&g_zel_cfg.entries[p].ready)) return false;
    return true;
}

void zel_kernel_idle(void) {
    zel_host_irq_disable();
    if (all_empty()) zel_host_idle_wait(0);
    zel_host_irq_enable();
}

void zel_kernel_main(void) {
    // Without its first thread nothing of the program would ever run.
    if (int32_t r = zel_kernel_init(); r == ZEL_ERR_NO_MEMORY)
        zel_host_fail_start("no memory for the first framework thread (\"zel_thread\")");
    else if (r != 0)
        zel_host_fail_start("the first framework thread (\"zel_thread\") was refused");
    for (;;) {
        for (int p = g_zel_cfg.prio_count - 1; p >= 0; --p) zel_kernel_run_prio(static_cast<uint8_t>(p));
        zel_empty_hook();
        zel_kernel_idle();
    }
}

void zel_kernel_main_prio(uint16_t prio_count) {
    if (prio_count < 1) prio_count = 1;
    if (prio_count > ZEL_KERNEL_MAX_PRIO) prio_count = ZEL_KERNEL_MAX_PRIO;
    g_zel_cfg.prio_count = prio_count;
    zel_kernel_main();
}

}  // extern "C"

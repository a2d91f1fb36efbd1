#include "lv_task.h"

#include "lv_mem.h"
#include "lv_tick.h"

namespace {

constexpr uint32_t kDefaultPeriod = 500;

struct TaskCore {
    lv_task_t *head;
    bool list_changed;      /* a task was created, deleted or moved during a pass */
    bool running;           /* lv_task_handler is on the stack */
    lv_task_t *executing;   /* task whose callback runs now */
    bool executing_deleted; /* ...and it was deleted by that callback */
    uint32_t pass;
};

TaskCore core;

void unlink(lv_task_t *task) {
    if (task->prev != nullptr)
        task->prev->next = task->next;
    else
        core.head = task->next;
    if (task->next != nullptr) task->next->prev = task->prev;
    task->next = nullptr;
    task->prev = nullptr;
}

/* Keeps the list ordered from the highest priority down; a new task goes before the
 * older tasks of its own priority. */
void insert(lv_task_t *task) {
    lv_task_t *after = nullptr;
    lv_task_t *at = core.head;
    while (at != nullptr && at->prio > task->prio) {
        after = at;
        at = at->next;
    }
    task->prev = after;
    task->next = at;
    if (at != nullptr) at->prev = task;
    if (after != nullptr)
        after->next = task;
    else
        core.head = task;
    core.list_changed = true;
}

/* Runs the task when it is due; returns true when it ran. */
bool exec(lv_task_t *task) {
    if (lv_tick_elaps(task->last_run) < task->period) return false;
    task->last_run = lv_tick_get();
    task->pass_id = core.pass;

    core.executing = task;
    core.executing_deleted = false;
    if (task->task_cb != nullptr) task->task_cb(task);
    core.executing = nullptr;
    if (core.executing_deleted) return true;

    if (task->repeat_count > 0) task->repeat_count--;
    if (task->repeat_count == 0) lv_task_del(task);
    return true;
}

uint32_t time_till_next(void) {
    uint32_t best = UINT32_MAX;
    for (lv_task_t *t = core.head; t != nullptr && t->prio != LV_TASK_PRIO_OFF; t = t->next) {
        uint32_t elapsed = lv_tick_elaps(t->last_run);
        uint32_t left = elapsed >= t->period ? 0 : t->period - elapsed;
        if (left < best) best = left;
    }
    return best;
}

}  // namespace

void _lv_task_core_init(void) { core = TaskCore{}; }

void _lv_task_core_deinit(void) {
    while (core.head != nullptr) lv_task_del(core.head);
    core = TaskCore{};
}

uint32_t lv_task_handler(void) {
    /* A task that calls the handler again gets nothing run. */
    if (core.running) return 1;
    core.running = true;
    core.pass++;

    bool again;
    do {
        again = false;
        core.list_changed = false;
        for (lv_task_t *t = core.head; t != nullptr; t = t->next) {
            if (t->prio == LV_TASK_PRIO_OFF) break;
            if (t->pass_id == core.pass) continue;
            exec(t);
            /* The list may have lost the next entry: walk it again from the top. Tasks
             * that already ran in this pass are skipped. */
            if (core.list_changed) {
                again = true;
                break;
            }
        }
    } while (again);

    core.running = false;
    return time_till_next();
}

lv_task_t *lv_task_create_basic(void) {
    auto *task = static_cast<lv_task_t *>(_lv_mem_alloc_zeroed(sizeof(lv_task_t)));
    if (task == nullptr) return nullptr;
    task->period = kDefaultPeriod;
    task->prio = LV_TASK_PRIO_MID;
    task->repeat_count = -1;
    task->last_run = lv_tick_get();
    insert(task);
    return task;
}

lv_task_t *lv_task_create(lv_task_cb_t task_xcb, uint32_t period, lv_task_prio_t prio, void *user_data) {
    lv_task_t *task = lv_task_create_basic();
    if (task == nullptr) return nullptr;
    task->task_cb = task_xcb;
    task->period = period;
    task->user_data = user_data;
    lv_task_set_prio(task, prio);
    return task;
}

void lv_task_del(lv_task_t *task) {
    if (task == nullptr) return;
    unlink(task);
    if (task == core.executing) core.executing_deleted = true;
    lv_mem_free(task);
    core.list_changed = true;
}

void lv_task_set_prio(lv_task_t *task, lv_task_prio_t prio) {
    if (task->prio == prio) return;
    unlink(task);
    task->prio = prio;
    insert(task);
}

void lv_task_ready(lv_task_t *task) { task->last_run = lv_tick_get() - task->period - 1; }

void lv_task_set_repeat_count(lv_task_t *task, int32_t repeat_count) { task->repeat_count = repeat_count; }

lv_task_t *lv_task_get_next(lv_task_t *task) { return task == nullptr ? core.head : task->next; }

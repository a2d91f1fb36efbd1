#include "lv_anim.h"

#include "lv_mem.h"
#include "lv_task.h"
#include "lv_tick.h"

namespace {

struct AnimCore {
    lv_anim_t *head;
    lv_task_t *task;
    uint32_t last_tick;
    bool list_changed;
};

AnimCore core;

lv_anim_value_t value_at(const lv_anim_t *a) {
    if (a->time == 0 || a->act_time >= a->time) return (lv_anim_value_t)a->end;
    int64_t span = (int64_t)a->end - a->start;
    return (lv_anim_value_t)(a->start + span * a->act_time / a->time);
}

void remove(lv_anim_t *a) {
    lv_anim_t **link = &core.head;
    while (*link != nullptr && *link != a) link = &(*link)->next;
    if (*link == nullptr) return;
    *link = a->next;
    core.list_changed = true;
    if (core.head == nullptr) lv_task_set_prio(core.task, LV_TASK_PRIO_OFF);
}

void anim_task(lv_task_t *task) {
    LV_UNUSED(task);
    uint32_t elapsed = lv_tick_elaps(core.last_tick);
    core.last_tick = lv_tick_get();

    for (lv_anim_t *a = core.head; a != nullptr; a = a->next) a->act_time += elapsed;

    /* Callbacks may start or delete animations: walk again from the top after each one
     * that finishes, until a walk changes nothing. */
    bool again;
    do {
        again = false;
        core.list_changed = false;
        for (lv_anim_t *a = core.head; a != nullptr; a = a->next) {
            bool done = a->act_time >= a->time;
            if (a->exec_cb != nullptr) a->exec_cb(a->var, value_at(a));
            if (core.list_changed) {
                again = true;
                break;
            }
            if (done) {
                lv_anim_t finished = *a;
                remove(a);
                lv_mem_free(a);
                if (finished.ready_cb != nullptr) finished.ready_cb(&finished);
                again = true;
                break;
            }
        }
    } while (again);
}

}  // namespace

void _lv_anim_core_init(void) {
    core = AnimCore{};
    core.task = lv_task_create(anim_task, LV_DISP_DEF_REFR_PERIOD, LV_TASK_PRIO_OFF, nullptr);
}

void _lv_anim_core_deinit(void) {
    while (core.head != nullptr) {
        lv_anim_t *a = core.head;
        core.head = a->next;
        lv_mem_free(a);
    }
    core = AnimCore{};
}

void lv_anim_init(lv_anim_t *a) {
    *a = lv_anim_t{};
    a->time = 500;
}

void lv_anim_start(const lv_anim_t *a) {
    lv_anim_del(a->var, a->exec_cb);
    auto *copy = static_cast<lv_anim_t *>(lv_mem_alloc(sizeof(lv_anim_t)));
    if (copy == nullptr) return;
    *copy = *a;
    copy->act_time = 0;
    if (core.head == nullptr) {
        core.last_tick = lv_tick_get();
        lv_task_set_prio(core.task, LV_TASK_PRIO_HIGH);
    }
    copy->next = core.head;
    core.head = copy;
    core.list_changed = true;
    /* The start value shows at once. */
    if (copy->exec_cb != nullptr) copy->exec_cb(copy->var, (lv_anim_value_t)copy->start);
}

bool lv_anim_del(void *var, lv_anim_exec_xcb_t exec_cb) {
    bool deleted = false;
    lv_anim_t *a = core.head;
    while (a != nullptr) {
        lv_anim_t *next = a->next;
        if (a->var == var && (exec_cb == nullptr || a->exec_cb == exec_cb)) {
            remove(a);
            lv_mem_free(a);
            deleted = true;
        }
        a = next;
    }
    return deleted;
}

/*
 * Tasks: callbacks run by lv_task_handler when their period has elapsed, higher
 * priority first. A task with a repeat count runs that many times and is deleted
 * after its last run; a task that sets its count to 0 during its run is deleted
 * after that run. Tasks may create and delete tasks (themselves included) from
 * their callbacks.
 */
#ifndef LV_TASK_H
#define LV_TASK_H

#include "lv_types.h"

enum {
    LV_TASK_PRIO_OFF = 0,
    LV_TASK_PRIO_LOWEST,
    LV_TASK_PRIO_LOW,
    LV_TASK_PRIO_MID,
    LV_TASK_PRIO_HIGH,
    LV_TASK_PRIO_HIGHEST,
    _LV_TASK_PRIO_NUM,
};
typedef uint8_t lv_task_prio_t;

struct _lv_task_t;
typedef void (*lv_task_cb_t)(struct _lv_task_t *);

typedef struct _lv_task_t {
    uint32_t period;   /* ms */
    uint32_t last_run; /* tick of the last run */
    lv_task_cb_t task_cb;
    void *user_data;
    int32_t repeat_count; /* -1: forever */
    uint8_t prio;
    /* private */
    uint32_t pass_id; /* handler pass in which it last ran */
    struct _lv_task_t *next;
    struct _lv_task_t *prev;
} lv_task_t;

void _lv_task_core_init(void);
/* Deletes every task (used when the toolkit is shut down). */
void _lv_task_core_deinit(void);

/* Runs the tasks that are due; returns the ms until the next one is due. */
LV_ATTRIBUTE_TASK_HANDLER uint32_t lv_task_handler(void);

lv_task_t *lv_task_create_basic(void);
lv_task_t *lv_task_create(lv_task_cb_t task_xcb, uint32_t period, lv_task_prio_t prio, void *user_data);
void lv_task_del(lv_task_t *task);
void lv_task_set_prio(lv_task_t *task, lv_task_prio_t prio);
/* Makes the task run at the next handler pass. */
void lv_task_ready(lv_task_t *task);
/* -1 repeats forever; n runs n more times. */
void lv_task_set_repeat_count(lv_task_t *task, int32_t repeat_count);
/* The task after `task` in the handler's order; the first one for null. */
lv_task_t *lv_task_get_next(lv_task_t *task);

#endif

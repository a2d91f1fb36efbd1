/*
 * Animations: a value moved linearly from `start` to `end` over `time` ms, handed to
 * `exec_cb` at each refresh period. One animation per (var, exec_cb) pair: starting
 * another replaces it.
 */
#ifndef LV_ANIM_H
#define LV_ANIM_H

#include "lv_types.h"

typedef int16_t lv_anim_value_t;

enum {
    LV_ANIM_OFF,
    LV_ANIM_ON,
};
typedef uint8_t lv_anim_enable_t;

struct _lv_anim_t;
typedef void (*lv_anim_exec_xcb_t)(void *, lv_anim_value_t);
typedef void (*lv_anim_ready_cb_t)(struct _lv_anim_t *);

typedef struct _lv_anim_t {
    void *var;
    lv_anim_exec_xcb_t exec_cb;
    lv_anim_ready_cb_t ready_cb;
    int32_t start;
    int32_t end;
    uint32_t time;
    uint32_t act_time;
    struct _lv_anim_t *next; /* private */
} lv_anim_t;

void _lv_anim_core_init(void);
void _lv_anim_core_deinit(void);

void lv_anim_init(lv_anim_t *a);

static inline void lv_anim_set_var(lv_anim_t *a, void *var) { a->var = var; }

static inline void lv_anim_set_exec_cb(lv_anim_t *a, lv_anim_exec_xcb_t exec_cb) { a->exec_cb = exec_cb; }

static inline void lv_anim_set_values(lv_anim_t *a, int32_t start, int32_t end) {
    a->start = start;
    a->end = end;
}

static inline void lv_anim_set_time(lv_anim_t *a, uint32_t duration) { a->time = duration; }

static inline void lv_anim_set_ready_cb(lv_anim_t *a, lv_anim_ready_cb_t ready_cb) { a->ready_cb = ready_cb; }

/* Starts a copy of `a`, replacing a running animation of the same var and exec_cb. */
void lv_anim_start(const lv_anim_t *a);

/* Deletes the animations of `var` (all of them when exec_cb is NULL); true when any was
 * running. */
bool lv_anim_del(void *var, lv_anim_exec_xcb_t exec_cb);

#endif

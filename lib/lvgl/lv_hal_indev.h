/*
 * Input device drivers: read_cb fills the device's state and returns true while more
 * data waits; the toolkit reads each device every read period and handles each record.
 */
#ifndef LV_HAL_INDEV_H
#define LV_HAL_INDEV_H

#include "lv_area.h"
#include "lv_hal_disp.h"
#include "lv_task.h"

struct _lv_obj_t;
struct _lv_group_t;

enum {
    LV_INDEV_TYPE_NONE,
    LV_INDEV_TYPE_POINTER,
    LV_INDEV_TYPE_KEYPAD,
    LV_INDEV_TYPE_BUTTON,  /* not supported */
    LV_INDEV_TYPE_ENCODER, /* not supported */
};
typedef uint8_t lv_indev_type_t;

enum {
    LV_INDEV_STATE_REL = 0,
    LV_INDEV_STATE_PR,
};
typedef uint8_t lv_indev_state_t;

typedef struct {
    lv_point_t point; /* pointer */
    uint32_t key;     /* keypad */
    uint32_t btn_id;
    int16_t enc_diff;
    lv_indev_state_t state;
} lv_indev_data_t;

typedef struct _lv_indev_drv_t {
    lv_indev_type_t type;
    bool (*read_cb)(struct _lv_indev_drv_t *indev_drv, lv_indev_data_t *data);
    void *user_data;
    lv_disp_t *disp;
    lv_task_t *read_task;
    uint8_t drag_limit; /* pixels a pointer moves before a drag starts */
    uint8_t drag_throw; /* percent of speed lost per period after a throw */
    uint16_t long_press_time;
    uint16_t long_press_rep_time;
} lv_indev_drv_t;

/* Processing state of a device. */
typedef struct {
    lv_indev_state_t state;
    struct {
        lv_point_t act_point;
        lv_point_t last_point;
        struct _lv_obj_t *act_obj; /* pressed object */
        struct _lv_obj_t *last_obj;
        struct _lv_obj_t *last_pressed; /* for click focus */
    } pointer;
    struct {
        lv_indev_state_t last_state;
        uint32_t last_key;
    } keypad;
    uint32_t pr_timestamp;
    uint32_t longpr_rep_timestamp;
    uint8_t long_pr_sent : 1;
    uint8_t reset_query : 1; /* an object in use went away: stop and start over */
    uint8_t disabled : 1;
    uint8_t wait_until_release : 1;
} lv_indev_proc_t;

typedef struct _lv_indev_t {
    lv_indev_drv_t driver;
    lv_indev_proc_t proc;
    struct _lv_group_t *group; /* keypad */
    struct _lv_indev_t *next;
} lv_indev_t;

void lv_indev_drv_init(lv_indev_drv_t *driver);
/* Registers a copy of the driver on its display (NULL: the default one). */
lv_indev_t *lv_indev_drv_register(lv_indev_drv_t *driver);

#endif

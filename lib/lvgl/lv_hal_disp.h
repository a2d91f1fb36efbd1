/*
 * Display drivers. The application gives a draw buffer and a flush callback; the
 * toolkit renders the changed areas into the buffer in bands of at most its size and
 * hands each band to flush_cb, which must call lv_disp_flush_ready when the pixels have
 * been taken. Before the buffer is drawn into again the toolkit waits for that,
 * calling wait_cb while it waits.
 */
#ifndef LV_HAL_DISP_H
#define LV_HAL_DISP_H

#include "lv_area.h"
#include "lv_color.h"
#include "lv_task.h"

struct _lv_obj_t;
struct _disp_t;
struct _disp_drv_t;

typedef struct {
    void *buf1;
    void *buf2; /* not supported: must be NULL */
    void *buf_act;
    uint32_t size;  /* in pixels */
    lv_area_t area; /* the screen area the buffer holds now */
    volatile int flushing;
    volatile int flushing_last;
    volatile uint32_t last_area : 1;
    volatile uint32_t last_part : 1;
} lv_disp_buf_t;

typedef struct _disp_drv_t {
    lv_coord_t hor_res;
    lv_coord_t ver_res;
    lv_disp_buf_t *buffer;
    uint32_t antialiasing : 1;
    uint32_t rotated : 2; /* rotation is not supported: must be 0 */
    uint32_t dpi : 10;
    /* Hands over the pixels of `area` (rows back to back, area-wide). */
    void (*flush_cb)(struct _disp_drv_t *disp_drv, const lv_area_t *area, lv_color_t *color_p);
    /* Called repeatedly while the toolkit waits for a flush to complete. */
    void (*wait_cb)(struct _disp_drv_t *disp_drv);
    void *user_data;
} lv_disp_drv_t;

typedef struct _disp_t {
    lv_disp_drv_t driver;
    lv_task_t *refr_task;
    struct _lv_obj_t *act_scr;
    struct _lv_obj_t *screens; /* newest first, linked through their `older` fields */
    lv_area_t inv_areas[LV_INV_BUF_SIZE];
    uint8_t inv_area_joined[LV_INV_BUF_SIZE];
    uint16_t inv_p;
    uint32_t last_activity_time;
    struct _disp_t *next;
} lv_disp_t;

void lv_disp_buf_init(lv_disp_buf_t *disp_buf, void *buf1, void *buf2, uint32_t size_in_px_cnt);
void lv_disp_drv_init(lv_disp_drv_t *driver);
/* Registers a copy of the driver; the first display becomes the default one, gets the
 * theme and its first screen. */
lv_disp_t *lv_disp_drv_register(lv_disp_drv_t *driver);
/* The pixels of the last flush have been taken: the buffer is free again. */
LV_ATTRIBUTE_FLUSH_READY void lv_disp_flush_ready(lv_disp_drv_t *disp_drv);

lv_disp_t *lv_disp_get_default(void);
lv_coord_t lv_disp_get_hor_res(lv_disp_t *disp);
lv_coord_t lv_disp_get_ver_res(lv_disp_t *disp);

struct _lv_obj_t *lv_disp_get_scr_act(lv_disp_t *disp);
/* The default display's active screen. */
struct _lv_obj_t *lv_scr_act(void);

void _lv_disp_core_deinit(void);

#endif

/*
 * Objects: a tree of rectangles on a screen. Each object has its coordinates (absolute,
 * inclusive), a state, style lists per part, an event callback for the application and
 * a signal and a design function for the widget kind it belongs to.
 *
 * Children are kept newest first; newer children are drawn above older ones and get the
 * input first. An object may be deleted from any callback, its own event callback and
 * its parent's included: lv_event_send then reports LV_RES_INV and nobody touches the
 * object again.
 */
#ifndef LV_OBJ_H
#define LV_OBJ_H

#include "lv_area.h"
#include "lv_color.h"
#include "lv_draw_label.h"
#include "lv_draw_rect.h"
#include "lv_style.h"

struct _lv_obj_t;
struct _disp_t;

enum {
    LV_DESIGN_DRAW_MAIN, /* draw the object itself */
    LV_DESIGN_DRAW_POST, /* draw over the children */
    LV_DESIGN_COVER_CHK, /* does the object fully cover the clip area? */
};
typedef uint8_t lv_design_mode_t;

enum {
    LV_DESIGN_RES_OK,
    LV_DESIGN_RES_COVER,
    LV_DESIGN_RES_NOT_COVER,
};
typedef uint8_t lv_design_res_t;

enum {
    LV_EVENT_PRESSED,
    LV_EVENT_PRESSING,
    LV_EVENT_PRESS_LOST,
    LV_EVENT_SHORT_CLICKED,
    LV_EVENT_LONG_PRESSED,
    LV_EVENT_LONG_PRESSED_REPEAT,
    LV_EVENT_CLICKED,
    LV_EVENT_RELEASED,
    LV_EVENT_DRAG_BEGIN,
    LV_EVENT_DRAG_END,
    LV_EVENT_DRAG_THROW_BEGIN,
    LV_EVENT_GESTURE,
    LV_EVENT_KEY,
    LV_EVENT_FOCUSED,
    LV_EVENT_DEFOCUSED,
    LV_EVENT_LEAVE,
    LV_EVENT_VALUE_CHANGED,
    LV_EVENT_INSERT,
    LV_EVENT_REFRESH,
    LV_EVENT_APPLY,
    LV_EVENT_CANCEL,
    LV_EVENT_DELETE,
    _LV_EVENT_LAST,
};
typedef uint8_t lv_event_t;

/* Signals: the widget-internal counterpart of events. */
enum {
    LV_SIGNAL_CLEANUP,   /* free the widget's own resources */
    LV_SIGNAL_CHILD_CHG, /* a child was added, moved, resized, hidden or deleted */
    LV_SIGNAL_COORD_CHG, /* param: the former coordinates */
    LV_SIGNAL_STYLE_CHG,
    LV_SIGNAL_REFR_EXT_DRAW_PAD,
    LV_SIGNAL_GET_STYLE, /* param: lv_get_style_info_t */
    LV_SIGNAL_PRESSED = 11,
    LV_SIGNAL_PRESSING,
    LV_SIGNAL_PRESS_LOST,
    LV_SIGNAL_RELEASED,
    LV_SIGNAL_LONG_PRESS,
    LV_SIGNAL_LONG_PRESS_REP,
    LV_SIGNAL_LEAVE = 21,
    LV_SIGNAL_FOCUS,
    LV_SIGNAL_DEFOCUS,
    LV_SIGNAL_CONTROL, /* param: the key (uint32_t) */
};
typedef uint8_t lv_signal_t;

typedef void (*lv_event_cb_t)(struct _lv_obj_t *obj, lv_event_t event);
typedef lv_res_t (*lv_signal_cb_t)(struct _lv_obj_t *obj, lv_signal_t sign, void *param);
typedef lv_design_res_t (*lv_design_cb_t)(struct _lv_obj_t *obj, const lv_area_t *clip_area, lv_design_mode_t mode);

enum {
    LV_ALIGN_CENTER = 0,
    LV_ALIGN_IN_TOP_LEFT,
    LV_ALIGN_IN_TOP_MID,
    LV_ALIGN_IN_TOP_RIGHT,
    LV_ALIGN_IN_BOTTOM_LEFT,
    LV_ALIGN_IN_BOTTOM_MID,
    LV_ALIGN_IN_BOTTOM_RIGHT,
    LV_ALIGN_IN_LEFT_MID,
    LV_ALIGN_IN_RIGHT_MID,
    LV_ALIGN_OUT_TOP_LEFT,
    LV_ALIGN_OUT_TOP_MID,
    LV_ALIGN_OUT_TOP_RIGHT,
    LV_ALIGN_OUT_BOTTOM_LEFT,
    LV_ALIGN_OUT_BOTTOM_MID,
    LV_ALIGN_OUT_BOTTOM_RIGHT,
    LV_ALIGN_OUT_LEFT_TOP,
    LV_ALIGN_OUT_LEFT_MID,
    LV_ALIGN_OUT_LEFT_BOTTOM,
    LV_ALIGN_OUT_RIGHT_TOP,
    LV_ALIGN_OUT_RIGHT_MID,
    LV_ALIGN_OUT_RIGHT_BOTTOM,
};
typedef uint8_t lv_align_t;

enum {
    LV_STATE_DEFAULT = 0x00,
    LV_STATE_CHECKED = 0x01,
    LV_STATE_FOCUSED = 0x02,
    LV_STATE_EDITED = 0x04,
    LV_STATE_HOVERED = 0x08,
    LV_STATE_PRESSED = 0x10,
    LV_STATE_DISABLED = 0x20,
};
typedef uint8_t lv_state_t;

enum {
    LV_OBJ_PART_MAIN,
    _LV_OBJ_PART_VIRTUAL_LAST,
    _LV_OBJ_PART_REAL_LAST = 0x40,
    LV_OBJ_PART_ALL = 0xFF,
};
typedef uint8_t lv_obj_part_t;

typedef struct {
    const struct _lv_obj_t *base;
    lv_coord_t xofs;
    lv_coord_t yofs;
    lv_align_t align;
    uint8_t auto_realign : 1;
    uint8_t aligned : 1; /* lv_obj_align was called */
} lv_realign_t;

typedef struct _lv_obj_t {
    struct _lv_obj_t *parent;
    struct _lv_obj_t *child_newest;
    struct _lv_obj_t *child_oldest;
    struct _lv_obj_t *newer; /* next sibling created after this one */
    struct _lv_obj_t *older; /* previous sibling */
    struct _disp_t *disp;    /* the display of a screen (NULL below the screen) */

    lv_area_t coords;
    lv_event_cb_t event_cb;
    lv_signal_cb_t signal_cb;
    lv_design_cb_t design_cb;
    void *ext_attr;             /* the widget's own data */
    lv_style_list_t style_list; /* main part */
    void *group_p;
    lv_realign_t realign;
    lv_coord_t ext_draw_pad; /* drawing reaches this far outside the coordinates */

    uint8_t click : 1;
    uint8_t hidden : 1;
    lv_state_t state;
    lv_obj_user_data_t user_data;
} lv_obj_t;

/* GET_STYLE signal parameter: the style list of `part`, left NULL for unknown parts. */
typedef struct {
    uint8_t part;
    lv_style_list_t *result;
} lv_get_style_info_t;

/* Creation and deletion */

/* A child of `parent`, or a new screen when parent is NULL. `copy` is not supported and
 * must be NULL. */
lv_obj_t *lv_obj_create(lv_obj_t *parent, const lv_obj_t *copy);
/* Deletes the object with its children; always returns LV_RES_INV. */
lv_res_t lv_obj_del(lv_obj_t *obj);

/* Tree */

lv_obj_t *lv_obj_get_parent(const lv_obj_t *obj);
lv_obj_t *lv_obj_get_screen(const lv_obj_t *obj);
struct _disp_t *lv_obj_get_disp(const lv_obj_t *obj);
/* Children newest first: child after `child` (NULL: the newest). */
lv_obj_t *lv_obj_get_child(const lv_obj_t *obj, const lv_obj_t *child);
/* Children oldest first: child after `child` (NULL: the oldest). */
lv_obj_t *lv_obj_get_child_back(const lv_obj_t *obj, const lv_obj_t *child);

/* Geometry: positions are relative to the parent's top-left corner */

void lv_obj_set_pos(lv_obj_t *obj, lv_coord_t x, lv_coord_t y);
void lv_obj_set_size(lv_obj_t *obj, lv_coord_t w, lv_coord_t h);
void lv_obj_set_width(lv_obj_t *obj, lv_coord_t w);
void lv_obj_set_height(lv_obj_t *obj, lv_coord_t h);
/* Places the object against `base` (NULL: the parent) and remembers the request for
 * lv_obj_realign. */
void lv_obj_align(lv_obj_t *obj, const lv_obj_t *base, lv_align_t align, lv_coord_t x_ofs, lv_coord_t y_ofs);
void lv_obj_realign(lv_obj_t *obj);
/* With auto-realign on, every size change repeats the last lv_obj_align. */
void lv_obj_set_auto_realign(lv_obj_t *obj, bool en);

void lv_obj_get_coords(const lv_obj_t *obj, lv_area_t *cords_p);
lv_coord_t lv_obj_get_x(const lv_obj_t *obj);
lv_coord_t lv_obj_get_y(const lv_obj_t *obj);
lv_coord_t lv_obj_get_width(const lv_obj_t *obj);
lv_coord_t lv_obj_get_height(const lv_obj_t *obj);
/* Width and height inside the padding of the main part. */
lv_coord_t lv_obj_get_width_fit(const lv_obj_t *obj);
lv_coord_t lv_obj_get_height_fit(const lv_obj_t *obj);

/* Attributes */

void lv_obj_set_hidden(lv_obj_t *obj, bool en);
bool lv_obj_get_hidden(const lv_obj_t *obj);
void lv_obj_set_click(lv_obj_t *obj, bool en);
bool lv_obj_get_click(const lv_obj_t *obj);
void lv_obj_set_event_cb(lv_obj_t *obj, lv_event_cb_t event_cb);
void lv_obj_set_signal_cb(lv_obj_t *obj, lv_signal_cb_t signal_cb);
void lv_obj_set_design_cb(lv_obj_t *obj, lv_design_cb_t design_cb);
/* Allocates the widget's data block (zeroed); the object frees it when deleted. */
void *lv_obj_allocate_ext_attr(lv_obj_t *obj, uint16_t ext_size);
void *lv_obj_get_ext_attr(const lv_obj_t *obj);
void *lv_obj_get_group(const lv_obj_t *obj);
bool lv_obj_is_focused(const lv_obj_t *obj);

/* States */

void lv_obj_set_state(lv_obj_t *obj, lv_state_t state);
void lv_obj_add_state(lv_obj_t *obj, lv_state_t state);
void lv_obj_clear_state(lv_obj_t *obj, lv_state_t state);
lv_state_t lv_obj_get_state(const lv_obj_t *obj, uint8_t part);

/* Drawing */

/* Marks the object's area for the next refresh. */
void lv_obj_invalidate(const lv_obj_t *obj);
void lv_obj_invalidate_area(const lv_obj_t *obj, const lv_area_t *area);
/* The object's coordinates grown by how far it draws outside them. */
void _lv_obj_get_ext_area(const lv_obj_t *obj, lv_area_t *area);
/* Asks the widget how far it draws outside its coordinates. */
void lv_obj_refresh_ext_draw_pad(lv_obj_t *obj);
/* True when the object and its ancestors are shown on the active screen. */
bool lv_obj_is_visible(const lv_obj_t *obj);

/* Events and signals */

lv_res_t lv_event_send(lv_obj_t *obj, lv_event_t event, const void *data);
/* The data of the event being handled. */
const void *lv_event_get_data(void);
lv_res_t lv_signal_send(lv_obj_t *obj, lv_signal_t signal, void *param);

/* The base object's signal and design functions, which the widgets extend. */
lv_res_t lv_obj_signal(lv_obj_t *obj, lv_signal_t sign, void *param);
lv_design_res_t lv_obj_design(lv_obj_t *obj, const lv_area_t *clip_area, lv_design_mode_t mode);

/* True when the area lies inside the object's rounded background. */
bool _lv_obj_covers(const lv_obj_t *obj, uint8_t part, const lv_area_t *area);

/* Styles (lv_obj_style.cpp) */

void lv_obj_add_style(lv_obj_t *obj, uint8_t part, lv_style_t *style);
lv_style_list_t *lv_obj_get_style_list(const lv_obj_t *obj, uint8_t part);
/* Re-reads the styles of the object and its children and redraws them. */
void lv_obj_refresh_style(lv_obj_t *obj, uint8_t part, lv_style_property_t prop);

lv_style_int_t _lv_obj_get_style_int(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop);
lv_color_t _lv_obj_get_style_color(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop);
lv_opa_t _lv_obj_get_style_opa(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop);
const void *_lv_obj_get_style_ptr(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop);

/* The same for a part drawn in another state than the object's (a button matrix's
 * buttons). */
void _lv_obj_init_draw_rect_dsc_state(const lv_obj_t *obj, uint8_t part, lv_state_t state, lv_draw_rect_dsc_t *dsc);
void _lv_obj_init_draw_label_dsc_state(const lv_obj_t *obj, uint8_t part, lv_state_t state, lv_draw_label_dsc_t *dsc);

void _lv_obj_set_style_local_color(lv_obj_t *obj, uint8_t part, lv_style_property_t prop, lv_color_t color);

void lv_obj_init_draw_rect_dsc(const lv_obj_t *obj, uint8_t part, lv_draw_rect_dsc_t *dsc);
void lv_obj_init_draw_label_dsc(const lv_obj_t *obj, uint8_t part, lv_draw_label_dsc_t *dsc);

#define _LV_OBJ_STYLE_GETTER(name, prop, type, getter)                              \
    static inline type lv_obj_get_style_##name(const lv_obj_t *obj, uint8_t part) { \
        return (type)getter(obj, part, prop);                                       \
    }

_LV_OBJ_STYLE_GETTER(radius, LV_STYLE_RADIUS, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(pad_top, LV_STYLE_PAD_TOP, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(pad_bottom, LV_STYLE_PAD_BOTTOM, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(pad_left, LV_STYLE_PAD_LEFT, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(pad_right, LV_STYLE_PAD_RIGHT, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(pad_inner, LV_STYLE_PAD_INNER, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(bg_color, LV_STYLE_BG_COLOR, lv_color_t, _lv_obj_get_style_color)
_LV_OBJ_STYLE_GETTER(bg_opa, LV_STYLE_BG_OPA, lv_opa_t, _lv_obj_get_style_opa)
_LV_OBJ_STYLE_GETTER(border_width, LV_STYLE_BORDER_WIDTH, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(border_post, LV_STYLE_BORDER_POST, bool, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(shadow_width, LV_STYLE_SHADOW_WIDTH, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(shadow_spread, LV_STYLE_SHADOW_SPREAD, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(shadow_ofs_x, LV_STYLE_SHADOW_OFS_X, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(shadow_ofs_y, LV_STYLE_SHADOW_OFS_Y, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(text_color, LV_STYLE_TEXT_COLOR, lv_color_t, _lv_obj_get_style_color)
_LV_OBJ_STYLE_GETTER(text_letter_space, LV_STYLE_TEXT_LETTER_SPACE, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(text_line_space, LV_STYLE_TEXT_LINE_SPACE, lv_style_int_t, _lv_obj_get_style_int)
_LV_OBJ_STYLE_GETTER(text_font, LV_STYLE_TEXT_FONT, const lv_font_t *, _lv_obj_get_style_ptr)

#define _LV_OBJ_STYLE_LOCAL_SETTER(name, prop, type, setter)                                                      \
    static inline void lv_obj_set_style_local_##name(lv_obj_t *obj, uint8_t part, lv_state_t state, type value) { \
        setter(obj, part, (lv_style_property_t)(prop | (state << LV_STYLE_STATE_POS)), value);                    \
    }

_LV_OBJ_STYLE_LOCAL_SETTER(text_color, LV_STYLE_TEXT_COLOR, lv_color_t, _lv_obj_set_style_local_color)

#endif

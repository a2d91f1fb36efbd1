/*
 * Styles: property values keyed by property and state. A property id carries its type
 * in the low nibble (value, colour, opacity, pointer) and the inherit flag in bit 15;
 * the state a value applies to is OR-ed in at LV_STYLE_STATE_POS.
 *
 * Look-up for an object's state: within a style the value set for exactly that state
 * wins; otherwise the value whose state is a subset of it and numerically largest. A
 * style list asks its local style first, then its styles from the latest added, and
 * keeps the first best match.
 */
#ifndef LV_STYLE_H
#define LV_STYLE_H

#include "lv_color.h"
#include "lv_draw_rect.h"
#include "lv_font.h"

#define LV_STYLE_PROP_INIT(name, group, id, attr) name = (((group << 4) + id) | ((attr) << 8))
#define LV_STYLE_ID_MASK 0x00FF
#define LV_STYLE_ATTR_NONE 0
#define LV_STYLE_ATTR_INHERIT (1 << 7)
#define LV_STYLE_ID_VALUE 0x0
#define LV_STYLE_ID_COLOR 0x9
#define LV_STYLE_ID_OPA 0xC
#define LV_STYLE_ID_PTR 0xE

#define LV_STYLE_STATE_POS 8
#define LV_STYLE_STATE_MASK 0x7F00
#define LV_STYLE_INHERIT_MASK 0x8000
#define LV_STYLE_PROP_ALL 0xFF

enum {
    LV_STYLE_PROP_INIT(LV_STYLE_RADIUS, 0x0, LV_STYLE_ID_VALUE + 1, LV_STYLE_ATTR_NONE),

    LV_STYLE_PROP_INIT(LV_STYLE_PAD_TOP, 0x1, LV_STYLE_ID_VALUE + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_PAD_BOTTOM, 0x1, LV_STYLE_ID_VALUE + 1, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_PAD_LEFT, 0x1, LV_STYLE_ID_VALUE + 2, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_PAD_RIGHT, 0x1, LV_STYLE_ID_VALUE + 3, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_PAD_INNER, 0x1, LV_STYLE_ID_VALUE + 4, LV_STYLE_ATTR_NONE),

    LV_STYLE_PROP_INIT(LV_STYLE_BG_COLOR, 0x2, LV_STYLE_ID_COLOR + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_BG_OPA, 0x2, LV_STYLE_ID_OPA + 0, LV_STYLE_ATTR_NONE),

    LV_STYLE_PROP_INIT(LV_STYLE_BORDER_WIDTH, 0x3, LV_STYLE_ID_VALUE + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_BORDER_SIDE, 0x3, LV_STYLE_ID_VALUE + 1, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_BORDER_POST, 0x3, LV_STYLE_ID_VALUE + 3, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_BORDER_COLOR, 0x3, LV_STYLE_ID_COLOR + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_BORDER_OPA, 0x3, LV_STYLE_ID_OPA + 0, LV_STYLE_ATTR_NONE),

    LV_STYLE_PROP_INIT(LV_STYLE_OUTLINE_WIDTH, 0x4, LV_STYLE_ID_VALUE + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_OUTLINE_PAD, 0x4, LV_STYLE_ID_VALUE + 1, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_OUTLINE_COLOR, 0x4, LV_STYLE_ID_COLOR + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_OUTLINE_OPA, 0x4, LV_STYLE_ID_OPA + 0, LV_STYLE_ATTR_NONE),

    LV_STYLE_PROP_INIT(LV_STYLE_SHADOW_WIDTH, 0x5, LV_STYLE_ID_VALUE + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_SHADOW_OFS_X, 0x5, LV_STYLE_ID_VALUE + 1, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_SHADOW_OFS_Y, 0x5, LV_STYLE_ID_VALUE + 2, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_SHADOW_SPREAD, 0x5, LV_STYLE_ID_VALUE + 3, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_SHADOW_COLOR, 0x5, LV_STYLE_ID_COLOR + 0, LV_STYLE_ATTR_NONE),
    LV_STYLE_PROP_INIT(LV_STYLE_SHADOW_OPA, 0x5, LV_STYLE_ID_OPA + 0, LV_STYLE_ATTR_NONE),

    LV_STYLE_PROP_INIT(LV_STYLE_TEXT_LETTER_SPACE, 0x8, LV_STYLE_ID_VALUE + 0, LV_STYLE_ATTR_INHERIT),
    LV_STYLE_PROP_INIT(LV_STYLE_TEXT_LINE_SPACE, 0x8, LV_STYLE_ID_VALUE + 1, LV_STYLE_ATTR_INHERIT),
    LV_STYLE_PROP_INIT(LV_STYLE_TEXT_COLOR, 0x8, LV_STYLE_ID_COLOR + 0, LV_STYLE_ATTR_INHERIT),
    LV_STYLE_PROP_INIT(LV_STYLE_TEXT_OPA, 0x8, LV_STYLE_ID_OPA + 0, LV_STYLE_ATTR_INHERIT),
    LV_STYLE_PROP_INIT(LV_STYLE_TEXT_FONT, 0x8, LV_STYLE_ID_PTR + 0, LV_STYLE_ATTR_INHERIT),
};
typedef uint16_t lv_style_property_t;

typedef int16_t lv_style_int_t;

typedef struct {
    lv_style_property_t prop; /* property | state << LV_STYLE_STATE_POS */
    union {
        lv_style_int_t num;
        lv_color_t color;
        lv_opa_t opa;
        const void *ptr;
    } value;
} lv_style_entry_t;

typedef struct {
    lv_style_entry_t *entries;
    uint16_t count;
} lv_style_t;

/* An object part's styles: an owned local style and the added styles, latest first. */
typedef struct {
    lv_style_t *local;
    lv_style_t **styles;
    uint8_t style_cnt;
} lv_style_list_t;

void lv_style_init(lv_style_t *style);
/* Frees the style's properties. */
void lv_style_reset(lv_style_t *style);

void _lv_style_set_int(lv_style_t *style, lv_style_property_t prop, lv_style_int_t value);
void _lv_style_set_color(lv_style_t *style, lv_style_property_t prop, lv_color_t color);
void _lv_style_set_opa(lv_style_t *style, lv_style_property_t prop, lv_opa_t opa);
void _lv_style_set_ptr(lv_style_t *style, lv_style_property_t prop, const void *p);

/* Return the weight of the match (the state it was set for), or -1 when not set. */
int16_t _lv_style_get_int(const lv_style_t *style, lv_style_property_t prop, lv_style_int_t *res);
int16_t _lv_style_get_color(const lv_style_t *style, lv_style_property_t prop, lv_color_t *res);
int16_t _lv_style_get_opa(const lv_style_t *style, lv_style_property_t prop, lv_opa_t *res);
int16_t _lv_style_get_ptr(const lv_style_t *style, lv_style_property_t prop, const void **res);

void lv_style_list_init(lv_style_list_t *list);
/* Adds a style (not copied: it must outlive the list) as the list's latest; a style
 * already in the list moves up to latest. */
void _lv_style_list_add_style(lv_style_list_t *list, lv_style_t *style);
void _lv_style_list_remove_style(lv_style_list_t *list, lv_style_t *style);
/* Removes every style and frees the local one. */
void _lv_style_list_reset(lv_style_list_t *list);
/* The local style, created on first use (NULL when memory ran out). */
lv_style_t *_lv_style_list_get_local_style(lv_style_list_t *list);

/* LV_RES_OK with the best value for `prop` (state included), LV_RES_INV when unset. */
lv_res_t _lv_style_list_get_int(const lv_style_list_t *list, lv_style_property_t prop, lv_style_int_t *res);
lv_res_t _lv_style_list_get_color(const lv_style_list_t *list, lv_style_property_t prop, lv_color_t *res);
lv_res_t _lv_style_list_get_opa(const lv_style_list_t *list, lv_style_property_t prop, lv_opa_t *res);
lv_res_t _lv_style_list_get_ptr(const lv_style_list_t *list, lv_style_property_t prop, const void **res);

#define _LV_STYLE_SETTER(func_name, prop_name, setter, value_type)                                 \
    static inline void lv_style_set_##func_name(lv_style_t *style, uint16_t state, value_type v) { \
        setter(style, (lv_style_property_t)(prop_name | (state << LV_STYLE_STATE_POS)), v);        \
    }

_LV_STYLE_SETTER(radius, LV_STYLE_RADIUS, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(pad_top, LV_STYLE_PAD_TOP, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(pad_bottom, LV_STYLE_PAD_BOTTOM, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(pad_left, LV_STYLE_PAD_LEFT, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(pad_right, LV_STYLE_PAD_RIGHT, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(pad_inner, LV_STYLE_PAD_INNER, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(bg_color, LV_STYLE_BG_COLOR, _lv_style_set_color, lv_color_t)
_LV_STYLE_SETTER(bg_opa, LV_STYLE_BG_OPA, _lv_style_set_opa, lv_opa_t)
_LV_STYLE_SETTER(border_width, LV_STYLE_BORDER_WIDTH, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(border_side, LV_STYLE_BORDER_SIDE, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(border_post, LV_STYLE_BORDER_POST, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(border_color, LV_STYLE_BORDER_COLOR, _lv_style_set_color, lv_color_t)
_LV_STYLE_SETTER(border_opa, LV_STYLE_BORDER_OPA, _lv_style_set_opa, lv_opa_t)
_LV_STYLE_SETTER(outline_width, LV_STYLE_OUTLINE_WIDTH, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(outline_color, LV_STYLE_OUTLINE_COLOR, _lv_style_set_color, lv_color_t)
_LV_STYLE_SETTER(outline_opa, LV_STYLE_OUTLINE_OPA, _lv_style_set_opa, lv_opa_t)
_LV_STYLE_SETTER(shadow_width, LV_STYLE_SHADOW_WIDTH, _lv_style_set_int, lv_style_int_t)
_LV_STYLE_SETTER(shadow_color, LV_STYLE_SHADOW_COLOR, _lv_style_set_color, lv_color_t)
_LV_STYLE_SETTER(text_color, LV_STYLE_TEXT_COLOR, _lv_style_set_color, lv_color_t)
_LV_STYLE_SETTER(text_font, LV_STYLE_TEXT_FONT, _lv_style_set_ptr, const lv_font_t *)

#endif

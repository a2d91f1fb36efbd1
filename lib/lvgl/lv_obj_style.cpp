#include "lv_obj.h"

#include "lv_theme.h"

namespace {

/* Values of properties that no style of the object or its ancestors sets. */
lv_style_int_t default_int(lv_style_property_t prop) {
    return (prop & LV_STYLE_ID_MASK) == (LV_STYLE_BORDER_SIDE & LV_STYLE_ID_MASK) ? LV_BORDER_SIDE_FULL : 0;
}

lv_color_t default_color(lv_style_property_t prop) {
    return (prop & LV_STYLE_ID_MASK) == (LV_STYLE_BG_COLOR & LV_STYLE_ID_MASK) ? LV_COLOR_WHITE : LV_COLOR_BLACK;
}

lv_opa_t default_opa(lv_style_property_t prop) {
    return (prop & LV_STYLE_ID_MASK) == (LV_STYLE_BG_OPA & LV_STYLE_ID_MASK) ? LV_OPA_TRANSP : LV_OPA_COVER;
}

const void *default_ptr(lv_style_property_t prop) {
    LV_UNUSED(prop);
    return lv_theme_get_font_normal();
}

/*
 * Looks the property up in the part's list for the object's state (or `state` when it
 * is not negative). Inherited properties not found continue in the object's main part
 * and then in its ancestors, each in its own state.
 */
template <typename T, typename ListGet, typename Default>
T resolve(
    const lv_obj_t *obj, uint8_t part, int16_t state, lv_style_property_t prop, ListGet list_get, Default fallback) {
    prop = (lv_style_property_t)(prop & ~LV_STYLE_STATE_MASK);
    const lv_obj_t *o = obj;
    while (o != nullptr) {
        const lv_style_list_t *list = lv_obj_get_style_list(o, part);
        uint16_t st = (o == obj && state >= 0) ? (uint16_t)state : o->state;
        T value;
        if (list != nullptr &&
            list_get(list, (lv_style_property_t)(prop | (st << LV_STYLE_STATE_POS)), &value) == LV_RES_OK) {
            return value;
        }
        if ((prop & LV_STYLE_INHERIT_MASK) == 0) break;
        if (part != LV_OBJ_PART_MAIN) {
            part = LV_OBJ_PART_MAIN;
            continue;
        }
        o = o->parent;
    }
    return fallback(prop);
}

lv_style_int_t get_int(const lv_obj_t *obj, uint8_t part, int16_t state, lv_style_property_t prop) {
    return resolve<lv_style_int_t>(obj, part, state, prop, _lv_style_list_get_int, default_int);
}

lv_color_t get_color(const lv_obj_t *obj, uint8_t part, int16_t state, lv_style_property_t prop) {
    return resolve<lv_color_t>(obj, part, state, prop, _lv_style_list_get_color, default_color);
}

lv_opa_t get_opa(const lv_obj_t *obj, uint8_t part, int16_t state, lv_style_property_t prop) {
    return resolve<lv_opa_t>(obj, part, state, prop, _lv_style_list_get_opa, default_opa);
}

const void *get_ptr(const lv_obj_t *obj, uint8_t part, int16_t state, lv_style_property_t prop) {
    return resolve<const void *>(obj, part, state, prop, _lv_style_list_get_ptr, default_ptr);
}

void fill_rect_dsc(const lv_obj_t *obj, uint8_t part, int16_t st, lv_draw_rect_dsc_t *dsc) {
    lv_draw_rect_dsc_init(dsc);
    dsc->radius = get_int(obj, part, st, LV_STYLE_RADIUS);
    dsc->bg_color = get_color(obj, part, st, LV_STYLE_BG_COLOR);
    dsc->bg_opa = get_opa(obj, part, st, LV_STYLE_BG_OPA);
    dsc->border_width = get_int(obj, part, st, LV_STYLE_BORDER_WIDTH);
    dsc->border_side = (uint8_t)get_int(obj, part, st, LV_STYLE_BORDER_SIDE);
    dsc->border_color = get_color(obj, part, st, LV_STYLE_BORDER_COLOR);
    dsc->border_opa = get_opa(obj, part, st, LV_STYLE_BORDER_OPA);
    dsc->border_post = get_int(obj, part, st, LV_STYLE_BORDER_POST) != 0;
    dsc->outline_width = get_int(obj, part, st, LV_STYLE_OUTLINE_WIDTH);
    dsc->outline_pad = get_int(obj, part, st, LV_STYLE_OUTLINE_PAD);
    dsc->outline_color = get_color(obj, part, st, LV_STYLE_OUTLINE_COLOR);
    dsc->outline_opa = get_opa(obj, part, st, LV_STYLE_OUTLINE_OPA);
    dsc->shadow_width = get_int(obj, part, st, LV_STYLE_SHADOW_WIDTH);
    dsc->shadow_ofs_x = get_int(obj, part, st, LV_STYLE_SHADOW_OFS_X);
    dsc->shadow_ofs_y = get_int(obj, part, st, LV_STYLE_SHADOW_OFS_Y);
    dsc->shadow_spread = get_int(obj, part, st, LV_STYLE_SHADOW_SPREAD);
    dsc->shadow_color = get_color(obj, part, st, LV_STYLE_SHADOW_COLOR);
    dsc->shadow_opa = get_opa(obj, part, st, LV_STYLE_SHADOW_OPA);
}

void fill_label_dsc(const lv_obj_t *obj, uint8_t part, int16_t st, lv_draw_label_dsc_t *dsc) {
    lv_draw_label_dsc_init(dsc);
    dsc->color = get_color(obj, part, st, LV_STYLE_TEXT_COLOR);
    dsc->opa = get_opa(obj, part, st, LV_STYLE_TEXT_OPA);
    dsc->font = static_cast<const lv_font_t *>(get_ptr(obj, part, st, LV_STYLE_TEXT_FONT));
    dsc->letter_space = get_int(obj, part, st, LV_STYLE_TEXT_LETTER_SPACE);
    dsc->line_space = get_int(obj, part, st, LV_STYLE_TEXT_LINE_SPACE);
}

void refresh_tree(lv_obj_t *obj) {
    lv_obj_invalidate(obj);
    obj->signal_cb(obj, LV_SIGNAL_STYLE_CHG, nullptr);
    lv_obj_invalidate(obj);
    /* Children inherit text properties. */
    for (lv_obj_t *c = obj->child_newest; c != nullptr; c = c->older) refresh_tree(c);
}

}  // namespace

lv_style_list_t *lv_obj_get_style_list(const lv_obj_t *obj, uint8_t part) {
    if (part == LV_OBJ_PART_MAIN) return const_cast<lv_style_list_t *>(&obj->style_list);
    lv_get_style_info_t info = {part, nullptr};
    obj->signal_cb(const_cast<lv_obj_t *>(obj), LV_SIGNAL_GET_STYLE, &info);
    return info.result;
}

void lv_obj_add_style(lv_obj_t *obj, uint8_t part, lv_style_t *style) {
    lv_style_list_t *list = lv_obj_get_style_list(obj, part);
    if (list == nullptr) return;
    _lv_style_list_add_style(list, style);
    lv_obj_refresh_style(obj, part, LV_STYLE_PROP_ALL);
}

void lv_obj_refresh_style(lv_obj_t *obj, uint8_t part, lv_style_property_t prop) {
    LV_UNUSED(part);
    LV_UNUSED(prop);
    refresh_tree(obj);
}

lv_style_int_t _lv_obj_get_style_int(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop) {
    return get_int(obj, part, -1, prop);
}

lv_color_t _lv_obj_get_style_color(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop) {
    return get_color(obj, part, -1, prop);
}

lv_opa_t _lv_obj_get_style_opa(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop) {
    return get_opa(obj, part, -1, prop);
}

const void *_lv_obj_get_style_ptr(const lv_obj_t *obj, uint8_t part, lv_style_property_t prop) {
    return get_ptr(obj, part, -1, prop);
}

void _lv_obj_set_style_local_color(lv_obj_t *obj, uint8_t part, lv_style_property_t prop, lv_color_t color) {
    lv_style_list_t *list = lv_obj_get_style_list(obj, part);
    if (list == nullptr) return;
    lv_style_t *local = _lv_style_list_get_local_style(list);
    if (local == nullptr) return;
    _lv_style_set_color(local, prop, color);
    lv_obj_refresh_style(obj, part, prop);
}

void lv_obj_init_draw_rect_dsc(const lv_obj_t *obj, uint8_t part, lv_draw_rect_dsc_t *dsc) {
    fill_rect_dsc(obj, part, -1, dsc);
}

void lv_obj_init_draw_label_dsc(const lv_obj_t *obj, uint8_t part, lv_draw_label_dsc_t *dsc) {
    fill_label_dsc(obj, part, -1, dsc);
}

void _lv_obj_init_draw_rect_dsc_state(const lv_obj_t *obj, uint8_t part, lv_state_t state, lv_draw_rect_dsc_t *dsc) {
    fill_rect_dsc(obj, part, state, dsc);
}

void _lv_obj_init_draw_label_dsc_state(const lv_obj_t *obj, uint8_t part, lv_state_t state, lv_draw_label_dsc_t *dsc) {
    fill_label_dsc(obj, part, state, dsc);
}

#include "lv_obj.h"

#include "lv_anim.h"
#include "lv_group.h"
#include "lv_hal_disp.h"
#include "lv_indev.h"
#include "lv_mem.h"
#include "lv_refr.h"
#include "lv_theme.h"

namespace {

constexpr lv_coord_t kDefaultWidth = LV_DPX(100);
constexpr lv_coord_t kDefaultHeight = LV_DPX(50);

/* One frame per event being delivered; a deletion marks the frames of its objects so
 * the senders learn that their object is gone. */
struct EventFrame {
    lv_obj_t *obj;
    bool deleted;
    EventFrame *prev;
};

EventFrame *event_top;
const void *event_data;

void link_child(lv_obj_t *parent, lv_obj_t *obj) {
    obj->parent = parent;
    obj->older = parent->child_newest;
    obj->newer = nullptr;
    if (parent->child_newest != nullptr)
        parent->child_newest->newer = obj;
    else
        parent->child_oldest = obj;
    parent->child_newest = obj;
}

void unlink(lv_obj_t *obj) {
    if (obj->parent != nullptr) {
        lv_obj_t *par = obj->parent;
        if (obj->newer != nullptr)
            obj->newer->older = obj->older;
        else
            par->child_newest = obj->older;
        if (obj->older != nullptr)
            obj->older->newer = obj->newer;
        else
            par->child_oldest = obj->newer;
    } else if (obj->disp != nullptr) {
        lv_disp_t *disp = obj->disp;
        lv_obj_t **link = &disp->screens;
        while (*link != nullptr && *link != obj) link = &(*link)->older;
        if (*link != nullptr) *link = obj->older;
    }
    obj->newer = nullptr;
    obj->older = nullptr;
}

void move_children(lv_obj_t *obj, lv_coord_t dx, lv_coord_t dy) {
    for (lv_obj_t *c = obj->child_newest; c != nullptr; c = c->older) {
        c->coords.x1 = (lv_coord_t)(c->coords.x1 + dx);
        c->coords.x2 = (lv_coord_t)(c->coords.x2 + dx);
        c->coords.y1 = (lv_coord_t)(c->coords.y1 + dy);
        c->coords.y2 = (lv_coord_t)(c->coords.y2 + dy);
        move_children(c, dx, dy);
    }
}

void notify_parent(lv_obj_t *obj, lv_obj_t *child) {
    if (obj != nullptr && obj->signal_cb != nullptr) obj->signal_cb(obj, LV_SIGNAL_CHILD_CHG, child);
}

/* Objects aligned to a deleted one fall back to their parent. */
void forget_base(lv_obj_t *root, const lv_obj_t *gone) {
    if (root->realign.base == gone) root->realign.base = nullptr;
    for (lv_obj_t *c = root->child_newest; c != nullptr; c = c->older) forget_base(c, gone);
}

void delete_core(lv_obj_t *obj, lv_obj_t *screen) {
    while (obj->child_newest != nullptr) delete_core(obj->child_newest, screen);

    lv_anim_del(obj, nullptr);
    if (obj->group_p != nullptr) _lv_group_obj_deleted(obj);
    _lv_indev_obj_deleted(obj);
    for (EventFrame *f = event_top; f != nullptr; f = f->prev) {
        if (f->obj == obj) f->deleted = true;
    }
    if (screen != nullptr && screen != obj) forget_base(screen, obj);

    if (obj->signal_cb != nullptr) obj->signal_cb(obj, LV_SIGNAL_CLEANUP, nullptr);
    _lv_style_list_reset(&obj->style_list);
    lv_mem_free(obj->ext_attr);
    unlink(obj);
    lv_mem_free(obj);
}

/* Position of `obj` aligned to `base`, in absolute coordinates. */
lv_point_t aligned_pos(const lv_obj_t *obj, const lv_obj_t *base, lv_align_t align) {
    lv_coord_t bw = lv_obj_get_width(base), bh = lv_obj_get_height(base);
    lv_coord_t w = lv_obj_get_width(obj), h = lv_obj_get_height(obj);
    lv_coord_t mid_x = (lv_coord_t)(bw / 2 - w / 2), mid_y = (lv_coord_t)(bh / 2 - h / 2);
    lv_coord_t x = 0, y = 0;
    switch (align) {
    case LV_ALIGN_CENTER:
        x = mid_x;
        y = mid_y;
        break;
    case LV_ALIGN_IN_TOP_LEFT: break;
    case LV_ALIGN_IN_TOP_MID: x = mid_x; break;
    case LV_ALIGN_IN_TOP_RIGHT: x = (lv_coord_t)(bw - w); break;
    case LV_ALIGN_IN_BOTTOM_LEFT: y = (lv_coord_t)(bh - h); break;
    case LV_ALIGN_IN_BOTTOM_MID:
        x = mid_x;
        y = (lv_coord_t)(bh - h);
        break;
    case LV_ALIGN_IN_BOTTOM_RIGHT:
        x = (lv_coord_t)(bw - w);
        y = (lv_coord_t)(bh - h);
        break;
    case LV_ALIGN_IN_LEFT_MID: y = mid_y; break;
    case LV_ALIGN_IN_RIGHT_MID:
        x = (lv_coord_t)(bw - w);
        y = mid_y;
        break;
    case LV_ALIGN_OUT_TOP_LEFT: y = (lv_coord_t)-h; break;
    case LV_ALIGN_OUT_TOP_MID:
        x = mid_x;
        y = (lv_coord_t)-h;
        break;
    case LV_ALIGN_OUT_TOP_RIGHT:
        x = (lv_coord_t)(bw - w);
        y = (lv_coord_t)-h;
        break;
    case LV_ALIGN_OUT_BOTTOM_LEFT: y = bh; break;
    case LV_ALIGN_OUT_BOTTOM_MID:
        x = mid_x;
        y = bh;
        break;
    case LV_ALIGN_OUT_BOTTOM_RIGHT:
        x = (lv_coord_t)(bw - w);
        y = bh;
        break;
    case LV_ALIGN_OUT_LEFT_TOP: x = (lv_coord_t)-w; break;
    case LV_ALIGN_OUT_LEFT_MID:
        x = (lv_coord_t)-w;
        y = mid_y;
        break;
    case LV_ALIGN_OUT_LEFT_BOTTOM:
        x = (lv_coord_t)-w;
        y = (lv_coord_t)(bh - h);
        break;
    case LV_ALIGN_OUT_RIGHT_TOP: x = bw; break;
    case LV_ALIGN_OUT_RIGHT_MID:
        x = bw;
        y = mid_y;
        break;
    case LV_ALIGN_OUT_RIGHT_BOTTOM:
        x = bw;
        y = (lv_coord_t)(bh - h);
        break;
    default: break;
    }
    return lv_point_t{(lv_coord_t)(base->coords.x1 + x), (lv_coord_t)(base->coords.y1 + y)};
}

}  // namespace

/* Creation and deletion */

lv_obj_t *lv_obj_create(lv_obj_t *parent, const lv_obj_t *copy) {
    LV_UNUSED(copy);
    lv_disp_t *disp = parent != nullptr ? lv_obj_get_disp(parent) : lv_disp_get_default();
    if (parent == nullptr && disp == nullptr) return nullptr;

    auto *obj = static_cast<lv_obj_t *>(_lv_mem_alloc_zeroed(sizeof(lv_obj_t)));
    if (obj == nullptr) return nullptr;
    lv_style_list_init(&obj->style_list);
    obj->click = 1;
    obj->signal_cb = lv_obj_signal;
    obj->design_cb = lv_obj_design;

    if (parent == nullptr) {
        obj->disp = disp;
        obj->older = disp->screens;
        disp->screens = obj;
        lv_area_set(&obj->coords, 0, 0, (lv_coord_t)(lv_disp_get_hor_res(disp) - 1),
            (lv_coord_t)(lv_disp_get_ver_res(disp) - 1));
        lv_theme_apply(obj, LV_THEME_SCR);
    } else {
        link_child(parent, obj);
        lv_area_set(&obj->coords, parent->coords.x1, parent->coords.y1,
            (lv_coord_t)(parent->coords.x1 + kDefaultWidth - 1), (lv_coord_t)(parent->coords.y1 + kDefaultHeight - 1));
        lv_theme_apply(obj, LV_THEME_OBJ);
        notify_parent(parent, obj);
    }
    lv_obj_invalidate(obj);
    return obj;
}

lv_res_t lv_obj_del(lv_obj_t *obj) {
    if (obj == nullptr) return LV_RES_INV;
    lv_obj_invalidate(obj);
    lv_obj_t *par = obj->parent;
    lv_obj_t *screen = lv_obj_get_screen(obj);
    lv_disp_t *disp = lv_obj_get_disp(obj);
    delete_core(obj, screen);
    if (par != nullptr)
        notify_parent(par, nullptr);
    else if (disp != nullptr && disp->act_scr == obj)
        disp->act_scr = nullptr;
    return LV_RES_INV;
}

/* Tree */

lv_obj_t *lv_obj_get_parent(const lv_obj_t *obj) { return obj->parent; }

lv_obj_t *lv_obj_get_screen(const lv_obj_t *obj) {
    const lv_obj_t *o = obj;
    while (o->parent != nullptr) o = o->parent;
    return const_cast<lv_obj_t *>(o);
}

lv_disp_t *lv_obj_get_disp(const lv_obj_t *obj) { return lv_obj_get_screen(obj)->disp; }

lv_obj_t *lv_obj_get_child(const lv_obj_t *obj, const lv_obj_t *child) {
    return child == nullptr ? obj->child_newest : child->older;
}

lv_obj_t *lv_obj_get_child_back(const lv_obj_t *obj, const lv_obj_t *child) {
    return child == nullptr ? obj->child_oldest : child->newer;
}

/* Geometry */

void lv_obj_set_pos(lv_obj_t *obj, lv_coord_t x, lv_coord_t y) {
    if (obj->parent != nullptr) {
        x = (lv_coord_t)(x + obj->parent->coords.x1);
        y = (lv_coord_t)(y + obj->parent->coords.y1);
    }
    lv_coord_t dx = (lv_coord_t)(x - obj->coords.x1);
    lv_coord_t dy = (lv_coord_t)(y - obj->coords.y1);
    if (dx == 0 && dy == 0) return;

    lv_obj_invalidate(obj);
    lv_area_t ori = obj->coords;
    obj->coords.x1 = (lv_coord_t)(obj->coords.x1 + dx);
    obj->coords.x2 = (lv_coord_t)(obj->coords.x2 + dx);
    obj->coords.y1 = (lv_coord_t)(obj->coords.y1 + dy);
    obj->coords.y2 = (lv_coord_t)(obj->coords.y2 + dy);
    move_children(obj, dx, dy);
    obj->signal_cb(obj, LV_SIGNAL_COORD_CHG, &ori);
    notify_parent(obj->parent, obj);
    lv_obj_invalidate(obj);
}

void lv_obj_set_size(lv_obj_t *obj, lv_coord_t w, lv_coord_t h) {
    if (lv_obj_get_width(obj) == w && lv_obj_get_height(obj) == h) return;

    lv_obj_invalidate(obj);
    lv_area_t ori = obj->coords;
    obj->coords.x2 = (lv_coord_t)(obj->coords.x1 + w - 1);
    obj->coords.y2 = (lv_coord_t)(obj->coords.y1 + h - 1);
    obj->signal_cb(obj, LV_SIGNAL_COORD_CHG, &ori);
    notify_parent(obj->parent, obj);
    lv_obj_invalidate(obj);
    if (obj->realign.auto_realign) lv_obj_realign(obj);
}

void lv_obj_set_width(lv_obj_t *obj, lv_coord_t w) { lv_obj_set_size(obj, w, lv_obj_get_height(obj)); }

void lv_obj_set_height(lv_obj_t *obj, lv_coord_t h) { lv_obj_set_size(obj, lv_obj_get_width(obj), h); }

void lv_obj_align(lv_obj_t *obj, const lv_obj_t *base, lv_align_t align, lv_coord_t x_ofs, lv_coord_t y_ofs) {
    const lv_obj_t *par = obj->parent;
    if (par == nullptr) return;
    const lv_obj_t *ref = base != nullptr ? base : par;
    lv_point_t p = aligned_pos(obj, ref, align);
    lv_obj_set_pos(obj, (lv_coord_t)(p.x + x_ofs - par->coords.x1), (lv_coord_t)(p.y + y_ofs - par->coords.y1));

    obj->realign.base = base;
    obj->realign.align = align;
    obj->realign.xofs = x_ofs;
    obj->realign.yofs = y_ofs;
    obj->realign.aligned = 1;
}

void lv_obj_realign(lv_obj_t *obj) {
    if (!obj->realign.aligned) return;
    lv_obj_align(obj, obj->realign.base, obj->realign.align, obj->realign.xofs, obj->realign.yofs);
}

void lv_obj_set_auto_realign(lv_obj_t *obj, bool en) { obj->realign.auto_realign = en ? 1 : 0; }

void lv_obj_get_coords(const lv_obj_t *obj, lv_area_t *cords_p) { *cords_p = obj->coords; }

lv_coord_t lv_obj_get_x(const lv_obj_t *obj) {
    return obj->parent != nullptr ? (lv_coord_t)(obj->coords.x1 - obj->parent->coords.x1) : obj->coords.x1;
}

lv_coord_t lv_obj_get_y(const lv_obj_t *obj) {
    return obj->parent != nullptr ? (lv_coord_t)(obj->coords.y1 - obj->parent->coords.y1) : obj->coords.y1;
}

lv_coord_t lv_obj_get_width(const lv_obj_t *obj) { return lv_area_get_width(&obj->coords); }

lv_coord_t lv_obj_get_height(const lv_obj_t *obj) { return lv_area_get_height(&obj->coords); }

lv_coord_t lv_obj_get_width_fit(const lv_obj_t *obj) {
    return (lv_coord_t)(lv_obj_get_width(obj) - lv_obj_get_style_pad_left(obj, LV_OBJ_PART_MAIN) -
                        lv_obj_get_style_pad_right(obj, LV_OBJ_PART_MAIN));
}

lv_coord_t lv_obj_get_height_fit(const lv_obj_t *obj) {
    return (lv_coord_t)(lv_obj_get_height(obj) - lv_obj_get_style_pad_top(obj, LV_OBJ_PART_MAIN) -
                        lv_obj_get_style_pad_bottom(obj, LV_OBJ_PART_MAIN));
}

/* Attributes */

void lv_obj_set_hidden(lv_obj_t *obj, bool en) {
    if ((obj->hidden != 0) == en) return;
    if (en) lv_obj_invalidate(obj);
    obj->hidden = en ? 1 : 0;
    if (!en) lv_obj_invalidate(obj);
    notify_parent(obj->parent, obj);
}

bool lv_obj_get_hidden(const lv_obj_t *obj) { return obj->hidden != 0; }

void lv_obj_set_click(lv_obj_t *obj, bool en) { obj->click = en ? 1 : 0; }

bool lv_obj_get_click(const lv_obj_t *obj) { return obj->click != 0; }

void lv_obj_set_event_cb(lv_obj_t *obj, lv_event_cb_t event_cb) { obj->event_cb = event_cb; }

void lv_obj_set_signal_cb(lv_obj_t *obj, lv_signal_cb_t signal_cb) { obj->signal_cb = signal_cb; }

void lv_obj_set_design_cb(lv_obj_t *obj, lv_design_cb_t design_cb) { obj->design_cb = design_cb; }

void *lv_obj_allocate_ext_attr(lv_obj_t *obj, uint16_t ext_size) {
    void *ext = _lv_mem_alloc_zeroed(ext_size);
    if (ext == nullptr) return nullptr;
    lv_mem_free(obj->ext_attr);
    obj->ext_attr = ext;
    return ext;
}

void *lv_obj_get_ext_attr(const lv_obj_t *obj) { return obj->ext_attr; }

void *lv_obj_get_group(const lv_obj_t *obj) { return obj->group_p; }

bool lv_obj_is_focused(const lv_obj_t *obj) {
    return obj->group_p != nullptr && lv_group_get_focused(static_cast<lv_group_t *>(obj->group_p)) == obj;
}

/* States */

void lv_obj_set_state(lv_obj_t *obj, lv_state_t state) {
    if (obj->state == state) return;
    obj->state = state;
    lv_obj_refresh_style(obj, LV_OBJ_PART_ALL, LV_STYLE_PROP_ALL);
}

void lv_obj_add_state(lv_obj_t *obj, lv_state_t state) { lv_obj_set_state(obj, (lv_state_t)(obj->state | state)); }

void lv_obj_clear_state(lv_obj_t *obj, lv_state_t state) { lv_obj_set_state(obj, (lv_state_t)(obj->state & ~state)); }

lv_state_t lv_obj_get_state(const lv_obj_t *obj, uint8_t part) {
    LV_UNUSED(part);
    return obj->state;
}

/* Drawing */

bool lv_obj_is_visible(const lv_obj_t *obj) {
    for (const lv_obj_t *o = obj; o != nullptr; o = o->parent) {
        if (o->hidden) return false;
    }
    lv_obj_t *screen = lv_obj_get_screen(obj);
    return screen->disp != nullptr && screen->disp->act_scr == screen;
}

void _lv_obj_get_ext_area(const lv_obj_t *obj, lv_area_t *area) {
    *area = obj->coords;
    area->x1 = (lv_coord_t)(area->x1 - obj->ext_draw_pad);
    area->y1 = (lv_coord_t)(area->y1 - obj->ext_draw_pad);
    area->x2 = (lv_coord_t)(area->x2 + obj->ext_draw_pad);
    area->y2 = (lv_coord_t)(area->y2 + obj->ext_draw_pad);
}

void lv_obj_invalidate_area(const lv_obj_t *obj, const lv_area_t *area) {
    if (!lv_obj_is_visible(obj)) return;
    lv_area_t a = *area;
    lv_area_t own;
    _lv_obj_get_ext_area(obj, &own);
    if (!_lv_area_intersect(&a, &a, &own)) return;
    /* Children show only inside their parents. */
    for (const lv_obj_t *p = obj->parent; p != nullptr; p = p->parent) {
        if (!_lv_area_intersect(&a, &a, &p->coords)) return;
    }
    _lv_inv_area(lv_obj_get_disp(obj), &a);
}

void lv_obj_invalidate(const lv_obj_t *obj) {
    lv_area_t a;
    _lv_obj_get_ext_area(obj, &a);
    lv_obj_invalidate_area(obj, &a);
}

void lv_obj_refresh_ext_draw_pad(lv_obj_t *obj) {
    lv_coord_t pad = 0;
    obj->signal_cb(obj, LV_SIGNAL_REFR_EXT_DRAW_PAD, &pad);
    if (pad == obj->ext_draw_pad) return;
    lv_obj_invalidate(obj);
    obj->ext_draw_pad = pad;
    lv_obj_invalidate(obj);
}

/* Events and signals */

lv_res_t lv_event_send(lv_obj_t *obj, lv_event_t event, const void *data) {
    if (obj == nullptr) return LV_RES_OK;
    EventFrame frame{obj, false, event_top};
    event_top = &frame;
    const void *outer_data = event_data;
    event_data = data;
    if (obj->event_cb != nullptr) obj->event_cb(obj, event);
    event_data = outer_data;
    event_top = frame.prev;
    return frame.deleted ? LV_RES_INV : LV_RES_OK;
}

const void *lv_event_get_data(void) { return event_data; }

lv_res_t lv_signal_send(lv_obj_t *obj, lv_signal_t signal, void *param) {
    if (obj == nullptr || obj->signal_cb == nullptr) return LV_RES_OK;
    return obj->signal_cb(obj, signal, param);
}

bool _lv_obj_covers(const lv_obj_t *obj, uint8_t part, const lv_area_t *area) {
    if (lv_obj_get_style_bg_opa(obj, part) < LV_OPA_MAX) return false;
    lv_coord_t w = lv_obj_get_width(obj), h = lv_obj_get_height(obj);
    lv_coord_t r = LV_MATH_MIN(lv_obj_get_style_radius(obj, part), (lv_coord_t)(LV_MATH_MIN(w, h) / 2));
    /* Inside the rectangle without the corner squares' rows or columns. */
    lv_area_t tall = {
        (lv_coord_t)(obj->coords.x1 + r), obj->coords.y1, (lv_coord_t)(obj->coords.x2 - r), obj->coords.y2};
    lv_area_t wide = {
        obj->coords.x1, (lv_coord_t)(obj->coords.y1 + r), obj->coords.x2, (lv_coord_t)(obj->coords.y2 - r)};
    return _lv_area_is_in(area, &tall) || _lv_area_is_in(area, &wide);
}

lv_res_t lv_obj_signal(lv_obj_t *obj, lv_signal_t sign, void *param) {
    switch (sign) {
    case LV_SIGNAL_STYLE_CHG: lv_obj_refresh_ext_draw_pad(obj); break;
    case LV_SIGNAL_REFR_EXT_DRAW_PAD: {
        lv_draw_rect_dsc_t dsc;
        lv_obj_init_draw_rect_dsc(obj, LV_OBJ_PART_MAIN, &dsc);
        auto *pad = static_cast<lv_coord_t *>(param);
        *pad = LV_MATH_MAX(*pad, _lv_draw_rect_ext_reach(&dsc));
        break;
    }
    case LV_SIGNAL_GET_STYLE: {
        auto *info = static_cast<lv_get_style_info_t *>(param);
        info->result = info->part == LV_OBJ_PART_MAIN ? &obj->style_list : nullptr;
        break;
    }
    case LV_SIGNAL_PRESSED: lv_obj_add_state(obj, LV_STATE_PRESSED); break;
    case LV_SIGNAL_RELEASED:
    case LV_SIGNAL_PRESS_LOST: lv_obj_clear_state(obj, LV_STATE_PRESSED); break;
    case LV_SIGNAL_FOCUS: lv_obj_add_state(obj, LV_STATE_FOCUSED); break;
    case LV_SIGNAL_DEFOCUS: lv_obj_clear_state(obj, (lv_state_t)(LV_STATE_FOCUSED | LV_STATE_EDITED)); break;
    default: break;
    }
    return LV_RES_OK;
}

lv_design_res_t lv_obj_design(lv_obj_t *obj, const lv_area_t *clip_area, lv_design_mode_t mode) {
    if (mode == LV_DESIGN_COVER_CHK) {
        return _lv_obj_covers(obj, LV_OBJ_PART_MAIN, clip_area) ? LV_DESIGN_RES_COVER : LV_DESIGN_RES_NOT_COVER;
    }
    lv_draw_rect_dsc_t dsc;
    lv_obj_init_draw_rect_dsc(obj, LV_OBJ_PART_MAIN, &dsc);
    if (mode == LV_DESIGN_DRAW_MAIN)
        lv_draw_rect(&obj->coords, clip_area, &dsc);
    else if (dsc.border_post)
        lv_draw_rect_border(&obj->coords, clip_area, &dsc);
    return LV_DESIGN_RES_OK;
}

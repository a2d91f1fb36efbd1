#include "lv_refr.h"

#include <cstring>

#include "lv_draw_blend.h"
#include "lv_obj.h"

namespace {

lv_area_t screen_area(const lv_disp_t *disp) {
    return lv_area_t{0, 0, (lv_coord_t)(disp->driver.hor_res - 1), (lv_coord_t)(disp->driver.ver_res - 1)};
}

/* Merges overlapping or touching areas when the merged one is smaller than the two. */
void join_areas(lv_disp_t *disp) {
    std::memset(disp->inv_area_joined, 0, sizeof(disp->inv_area_joined));
    for (uint16_t in = 0; in < disp->inv_p; in++) {
        if (disp->inv_area_joined[in]) continue;
        for (uint16_t from = 0; from < disp->inv_p; from++) {
            if (from == in || disp->inv_area_joined[from]) continue;
            if (!_lv_area_is_on(&disp->inv_areas[in], &disp->inv_areas[from])) continue;
            lv_area_t joined;
            _lv_area_join(&joined, &disp->inv_areas[in], &disp->inv_areas[from]);
            if (lv_area_get_size(&joined) <
                lv_area_get_size(&disp->inv_areas[in]) + lv_area_get_size(&disp->inv_areas[from])) {
                disp->inv_areas[in] = joined;
                disp->inv_area_joined[from] = 1;
            }
        }
    }
}

/* The part of `area` where children of `obj`'s ancestors show: inside every ancestor. */
bool ancestors_clip(const lv_obj_t *obj, const lv_area_t *area, lv_area_t *res) {
    *res = *area;
    for (const lv_obj_t *p = obj->parent; p != nullptr; p = p->parent) {
        if (!_lv_area_intersect(res, res, &p->coords)) return false;
    }
    return true;
}

lv_area_t with_ext(const lv_obj_t *obj) {
    lv_area_t a;
    _lv_obj_get_ext_area(obj, &a);
    return a;
}

/* The newest object that fully covers the area: drawing can start from it. */
lv_obj_t *top_obj(lv_obj_t *obj, const lv_area_t *area) {
    if (obj->hidden || !_lv_area_is_in(area, &obj->coords)) return nullptr;
    for (lv_obj_t *c = obj->child_newest; c != nullptr; c = c->older) {
        lv_obj_t *found = top_obj(c, area);
        if (found != nullptr) return found;
    }
    if (obj->design_cb != nullptr && obj->design_cb(obj, area, LV_DESIGN_COVER_CHK) == LV_DESIGN_RES_COVER) return obj;
    return nullptr;
}

/* Draws the object and its children inside `clip` (which already excludes what the
 * ancestors hide). */
void draw_obj(lv_obj_t *obj, const lv_area_t *clip) {
    if (obj->hidden) return;
    lv_area_t ext_area = with_ext(obj);
    lv_area_t own_clip;
    if (!_lv_area_intersect(&own_clip, clip, &ext_area)) return;
    if (obj->design_cb != nullptr) obj->design_cb(obj, &own_clip, LV_DESIGN_DRAW_MAIN);
    lv_area_t child_clip;
    if (_lv_area_intersect(&child_clip, clip, &obj->coords)) {
        for (lv_obj_t *c = obj->child_oldest; c != nullptr; c = c->newer) draw_obj(c, &child_clip);
    }
    if (obj->design_cb != nullptr) obj->design_cb(obj, &own_clip, LV_DESIGN_DRAW_POST);
}

/* Draws `top` and everything above it: its newer siblings and those of its ancestors,
 * finishing each ancestor with its post-draw. */
void draw_from(lv_obj_t *top, const lv_area_t *area) {
    lv_area_t clip;
    if (ancestors_clip(top, area, &clip)) draw_obj(top, &clip);
    lv_obj_t *border = top;
    for (lv_obj_t *par = top->parent; par != nullptr; border = par, par = par->parent) {
        lv_area_t par_clip;
        if (!ancestors_clip(par, area, &par_clip)) continue;
        lv_area_t children_clip;
        if (_lv_area_intersect(&children_clip, &par_clip, &par->coords)) {
            for (lv_obj_t *c = border->newer; c != nullptr; c = c->newer) draw_obj(c, &children_clip);
        }
        lv_area_t par_ext = with_ext(par);
        lv_area_t post_clip;
        if (par->design_cb != nullptr && _lv_area_intersect(&post_clip, &par_clip, &par_ext)) {
            par->design_cb(par, &post_clip, LV_DESIGN_DRAW_POST);
        }
    }
}

/* Renders one band into the buffer and flushes it. */
void refresh_band(lv_disp_t *disp, const lv_area_t *band) {
    lv_disp_buf_t *buf = disp->driver.buffer;
    /* One buffer: it must be free before it is drawn into again. */
    while (buf->flushing) {
        if (disp->driver.wait_cb != nullptr) disp->driver.wait_cb(&disp->driver);
    }
    /* Waiting may have let others change the screen: look everything up afresh. */
    lv_obj_t *scr = disp->act_scr;
    if (scr == nullptr) return;

    buf->area = *band;
    _lv_draw_set_target(static_cast<lv_color_t *>(buf->buf_act), band);
    lv_obj_t *top = top_obj(scr, band);
    draw_from(top != nullptr ? top : scr, band);
    _lv_draw_set_target(nullptr, nullptr);

    buf->flushing = 1;
    if (disp->driver.flush_cb != nullptr)
        disp->driver.flush_cb(&disp->driver, band, static_cast<lv_color_t *>(buf->buf_act));
    else
        buf->flushing = 0;
}

void refresh_area(lv_disp_t *disp, const lv_area_t *area) {
    lv_coord_t w = lv_area_get_width(area);
    uint32_t rows = disp->driver.buffer->size / (uint32_t)w;
    if (rows == 0) return; /* the buffer cannot hold one line of the area */
    for (int32_t y = area->y1; y <= area->y2; y += (int32_t)rows) {
        lv_area_t band = {
            area->x1, (lv_coord_t)y, area->x2, (lv_coord_t)LV_MATH_MIN((int32_t)area->y2, y + (int32_t)rows - 1)};
        refresh_band(disp, &band);
    }
}

void refresh_display(lv_disp_t *disp) {
    if (disp->driver.buffer == nullptr || disp->inv_p == 0) return;
    join_areas(disp);
    /* Take the areas out first: what is invalidated while this refresh waits for the
     * display stays for the next one. */
    lv_area_t areas[LV_INV_BUF_SIZE];
    uint16_t n = 0;
    for (uint16_t i = 0; i < disp->inv_p; i++) {
        if (!disp->inv_area_joined[i]) areas[n++] = disp->inv_areas[i];
    }
    disp->inv_p = 0;
    for (uint16_t i = 0; i < n; i++) refresh_area(disp, &areas[i]);
}

}  // namespace

void _lv_inv_area(lv_disp_t *disp, const lv_area_t *area) {
    if (disp == nullptr) disp = lv_disp_get_default();
    if (disp == nullptr) return;
    if (area == nullptr) {
        disp->inv_p = 0;
        return;
    }
    lv_area_t scr = screen_area(disp);
    lv_area_t com;
    if (!_lv_area_intersect(&com, area, &scr)) return;
    for (uint16_t i = 0; i < disp->inv_p; i++) {
        if (_lv_area_is_in(&com, &disp->inv_areas[i])) return;
    }
    if (disp->inv_p < LV_INV_BUF_SIZE) {
        disp->inv_areas[disp->inv_p++] = com;
    } else {
        /* Too many areas: redraw the whole screen. */
        disp->inv_areas[0] = scr;
        disp->inv_p = 1;
    }
}

void _lv_disp_refr_task(lv_task_t *task) { refresh_display(static_cast<lv_disp_t *>(task->user_data)); }

void lv_refr_now(lv_disp_t *disp) {
    if (disp == nullptr) disp = lv_disp_get_default();
    if (disp != nullptr) refresh_display(disp);
}

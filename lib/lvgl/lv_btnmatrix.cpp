#include "lv_btnmatrix.h"

#include <cstring>

#include "lv_indev.h"
#include "lv_mem.h"

namespace {

lv_btnmatrix_ext_t *ext_of(const lv_obj_t *btnm) {
    return static_cast<lv_btnmatrix_ext_t *>(lv_obj_get_ext_attr(btnm));
}

bool is_row_break(const char *s) { return std::strcmp(s, "\n") == 0; }

/* Lays the buttons out: rows of equal height, equally wide buttons in each row. */
void layout(lv_obj_t *btnm) {
    lv_btnmatrix_ext_t *ext = ext_of(btnm);
    const char **map = ext->map_p;
    if (map == nullptr || ext->btn_cnt == 0) return;
    lv_coord_t left = lv_obj_get_style_pad_left(btnm, LV_BTNMATRIX_PART_BG);
    lv_coord_t right = lv_obj_get_style_pad_right(btnm, LV_BTNMATRIX_PART_BG);
    lv_coord_t top = lv_obj_get_style_pad_top(btnm, LV_BTNMATRIX_PART_BG);
    lv_coord_t bottom = lv_obj_get_style_pad_bottom(btnm, LV_BTNMATRIX_PART_BG);
    lv_coord_t inner = lv_obj_get_style_pad_inner(btnm, LV_BTNMATRIX_PART_BG);

    int32_t rows = 1;
    for (uint32_t i = 0; map[i][0] != '\0'; i++) {
        if (is_row_break(map[i])) rows++;
    }
    int32_t w = lv_obj_get_width(btnm) - left - right;
    int32_t h = lv_obj_get_height(btnm) - top - bottom;
    int32_t row_h = (h - inner * (rows - 1)) / rows;

    uint32_t m = 0;
    uint16_t btn = 0;
    for (int32_t r = 0; r < rows; r++) {
        int32_t in_row = 0;
        while (map[m][0] != '\0' && !is_row_break(map[m])) {
            in_row++;
            m++;
        }
        int32_t btn_w = in_row > 0 ? (w - inner * (in_row - 1)) / in_row : 0;
        int32_t y = top + r * (row_h + inner);
        for (int32_t k = 0; k < in_row; k++) {
            int32_t x = left + k * (btn_w + inner);
            lv_area_set(&ext->button_areas[btn++], (lv_coord_t)x, (lv_coord_t)y, (lv_coord_t)(x + btn_w - 1),
                (lv_coord_t)(y + row_h - 1));
        }
        if (map[m][0] != '\0') m++; /* the row break */
    }
}

const char *btn_text(const lv_btnmatrix_ext_t *ext, uint16_t btn) {
    uint16_t n = 0;
    for (uint32_t i = 0; ext->map_p[i][0] != '\0'; i++) {
        if (is_row_break(ext->map_p[i])) continue;
        if (n++ == btn) return ext->map_p[i];
    }
    return "";
}

uint16_t btn_at(const lv_obj_t *btnm, const lv_point_t *p) {
    const lv_btnmatrix_ext_t *ext = ext_of(btnm);
    lv_point_t rel = {(lv_coord_t)(p->x - btnm->coords.x1), (lv_coord_t)(p->y - btnm->coords.y1)};
    for (uint16_t i = 0; i < ext->btn_cnt; i++) {
        if (_lv_area_is_point_on(&ext->button_areas[i], &rel)) return i;
    }
    return LV_BTNMATRIX_BTN_NONE;
}

lv_area_t abs_area(const lv_obj_t *btnm, uint16_t btn) {
    lv_area_t a = ext_of(btnm)->button_areas[btn];
    a.x1 = (lv_coord_t)(a.x1 + btnm->coords.x1);
    a.x2 = (lv_coord_t)(a.x2 + btnm->coords.x1);
    a.y1 = (lv_coord_t)(a.y1 + btnm->coords.y1);
    a.y2 = (lv_coord_t)(a.y2 + btnm->coords.y1);
    return a;
}

void set_pressed(lv_obj_t *btnm, uint16_t btn) {
    lv_btnmatrix_ext_t *ext = ext_of(btnm);
    if (ext->btn_id_pr == btn) return;
    if (ext->btn_id_pr != LV_BTNMATRIX_BTN_NONE) {
        lv_area_t a = abs_area(btnm, ext->btn_id_pr);
        lv_obj_invalidate_area(btnm, &a);
    }
    ext->btn_id_pr = btn;
    if (btn != LV_BTNMATRIX_BTN_NONE) {
        lv_area_t a = abs_area(btnm, btn);
        lv_obj_invalidate_area(btnm, &a);
    }
}

lv_design_res_t btnm_design(lv_obj_t *btnm, const lv_area_t *clip_area, lv_design_mode_t mode) {
    if (mode != LV_DESIGN_DRAW_MAIN) return lv_obj_design(btnm, clip_area, mode);
    lv_obj_design(btnm, clip_area, mode);

    lv_btnmatrix_ext_t *ext = ext_of(btnm);
    lv_state_t base = lv_obj_get_state(btnm, LV_BTNMATRIX_PART_BG) & LV_STATE_DISABLED;
    for (uint16_t i = 0; i < ext->btn_cnt; i++) {
        lv_area_t a = abs_area(btnm, i);
        lv_area_t btn_clip;
        if (!_lv_area_intersect(&btn_clip, clip_area, &a)) continue;
        lv_state_t st = (lv_state_t)(base | (i == ext->btn_id_pr ? LV_STATE_PRESSED : 0));
        lv_draw_rect_dsc_t rect;
        _lv_obj_init_draw_rect_dsc_state(btnm, LV_BTNMATRIX_PART_BTN, st, &rect);
        lv_draw_rect(&a, clip_area, &rect);

        lv_draw_label_dsc_t label;
        _lv_obj_init_draw_label_dsc_state(btnm, LV_BTNMATRIX_PART_BTN, st, &label);
        label.flag = LV_TXT_FLAG_CENTER;
        const char *txt = btn_text(ext, i);
        lv_point_t size;
        _lv_txt_get_size(
            &size, txt, label.font, label.letter_space, label.line_space, lv_area_get_width(&a), label.flag);
        lv_area_t txt_area = a;
        txt_area.y1 = (lv_coord_t)(a.y1 + (lv_area_get_height(&a) - size.y) / 2);
        txt_area.y2 = (lv_coord_t)(txt_area.y1 + size.y - 1);
        lv_draw_label(&txt_area, &btn_clip, &label, txt);
    }
    return LV_DESIGN_RES_OK;
}

lv_res_t btnm_signal(lv_obj_t *btnm, lv_signal_t sign, void *param) {
    lv_btnmatrix_ext_t *ext = ext_of(btnm);
    if (sign == LV_SIGNAL_GET_STYLE) {
        auto *info = static_cast<lv_get_style_info_t *>(param);
        if (info->part == LV_BTNMATRIX_PART_BTN) {
            info->result = &ext->style_btn;
            return LV_RES_OK;
        }
    }
    lv_res_t res = lv_obj_signal(btnm, sign, param);
    if (res != LV_RES_OK) return res;

    switch (sign) {
    case LV_SIGNAL_CLEANUP:
        _lv_style_list_reset(&ext->style_btn);
        lv_mem_free(ext->button_areas);
        ext->button_areas = nullptr;
        break;
    case LV_SIGNAL_COORD_CHG:
    case LV_SIGNAL_STYLE_CHG: layout(btnm); break;
    case LV_SIGNAL_PRESSED:
    case LV_SIGNAL_PRESSING: {
        auto *indev = static_cast<lv_indev_t *>(param);
        if (indev == nullptr || lv_indev_get_type(indev) != LV_INDEV_TYPE_POINTER) break;
        lv_point_t p;
        lv_indev_get_point(indev, &p);
        set_pressed(btnm, btn_at(btnm, &p));
        break;
    }
    case LV_SIGNAL_PRESS_LOST: set_pressed(btnm, LV_BTNMATRIX_BTN_NONE); break;
    case LV_SIGNAL_RELEASED: {
        uint16_t btn = ext->btn_id_pr;
        set_pressed(btnm, LV_BTNMATRIX_BTN_NONE);
        if (btn == LV_BTNMATRIX_BTN_NONE) break;
        ext->btn_id_act = btn;
        uint32_t id = btn;
        return lv_event_send(btnm, LV_EVENT_VALUE_CHANGED, &id);
    }
    default: break;
    }
    return LV_RES_OK;
}

}  // namespace

lv_obj_t *_lv_btnmatrix_create_themed(lv_obj_t *par, lv_theme_style_t theme) {
    lv_obj_t *btnm = lv_obj_create(par, nullptr);
    if (btnm == nullptr) return nullptr;
    if (lv_obj_allocate_ext_attr(btnm, sizeof(lv_btnmatrix_ext_t)) == nullptr) {
        lv_obj_del(btnm);
        return nullptr;
    }
    lv_btnmatrix_ext_t *ext = ext_of(btnm);
    ext->btn_id_pr = LV_BTNMATRIX_BTN_NONE;
    ext->btn_id_act = LV_BTNMATRIX_BTN_NONE;
    lv_style_list_init(&ext->style_btn);
    lv_obj_set_signal_cb(btnm, btnm_signal);
    lv_obj_set_design_cb(btnm, btnm_design);
    lv_obj_set_size(btnm, (lv_coord_t)(LV_DPI * 3), (lv_coord_t)(LV_DPI * 2));
    lv_theme_apply(btnm, theme);
    return btnm;
}

lv_obj_t *lv_btnmatrix_create(lv_obj_t *par, const lv_obj_t *copy) {
    LV_UNUSED(copy);
    return _lv_btnmatrix_create_themed(par, LV_THEME_BTNMATRIX);
}

void lv_btnmatrix_set_map(lv_obj_t *btnm, const char *map[]) {
    lv_btnmatrix_ext_t *ext = ext_of(btnm);
    uint16_t cnt = 0;
    for (uint32_t i = 0; map[i][0] != '\0'; i++) {
        if (!is_row_break(map[i])) cnt++;
    }
    auto *areas = static_cast<lv_area_t *>(lv_mem_realloc(ext->button_areas, sizeof(lv_area_t) * (cnt > 0 ? cnt : 1)));
    if (areas == nullptr) return;
    ext->button_areas = areas;
    ext->map_p = map;
    ext->btn_cnt = cnt;
    ext->btn_id_pr = LV_BTNMATRIX_BTN_NONE;
    ext->btn_id_act = LV_BTNMATRIX_BTN_NONE;
    layout(btnm);
    lv_obj_invalidate(btnm);
}

const char **lv_btnmatrix_get_map_array(const lv_obj_t *btnm) { return ext_of(btnm)->map_p; }

uint16_t lv_btnmatrix_get_active_btn(const lv_obj_t *btnm) { return ext_of(btnm)->btn_id_act; }

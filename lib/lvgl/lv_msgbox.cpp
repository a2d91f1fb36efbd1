#include "lv_msgbox.h"

#include "lv_btnmatrix.h"
#include "lv_label.h"
#include "lv_theme.h"

namespace {

lv_msgbox_ext_t *ext_of(const lv_obj_t *mbox) { return static_cast<lv_msgbox_ext_t *>(lv_obj_get_ext_attr(mbox)); }

/* A column: the text on top, the buttons below it, the box as high as both. */
void layout(lv_obj_t *mbox) {
    lv_msgbox_ext_t *ext = ext_of(mbox);
    if (ext == nullptr || ext->in_layout || ext->text == nullptr) return;
    ext->in_layout = 1;

    lv_coord_t w = lv_obj_get_width_fit(mbox);
    lv_coord_t top = lv_obj_get_style_pad_top(mbox, LV_MSGBOX_PART_BG);
    lv_coord_t bottom = lv_obj_get_style_pad_bottom(mbox, LV_MSGBOX_PART_BG);
    lv_coord_t left = lv_obj_get_style_pad_left(mbox, LV_MSGBOX_PART_BG);
    lv_coord_t inner = lv_obj_get_style_pad_inner(mbox, LV_MSGBOX_PART_BG);

    lv_obj_set_width(ext->text, w);
    lv_obj_set_pos(ext->text, left, top);
    lv_coord_t h = (lv_coord_t)(top + lv_obj_get_height(ext->text) + bottom);
    if (ext->btnm != nullptr) {
        const lv_obj_t *b = ext->btnm;
        lv_coord_t btn_h = (lv_coord_t)(lv_font_get_line_height(lv_obj_get_style_text_font(b, LV_BTNMATRIX_PART_BTN)) +
                                        lv_obj_get_style_pad_top(b, LV_BTNMATRIX_PART_BTN) +
                                        lv_obj_get_style_pad_bottom(b, LV_BTNMATRIX_PART_BTN));
        int32_t rows = 1;
        const char **map = lv_btnmatrix_get_map_array(b);
        for (uint32_t i = 0; map != nullptr && map[i][0] != '\0'; i++) {
            if (map[i][0] == '\n') rows++;
        }
        lv_coord_t bg_ver = (lv_coord_t)(lv_obj_get_style_pad_top(b, LV_BTNMATRIX_PART_BG) +
                                         lv_obj_get_style_pad_bottom(b, LV_BTNMATRIX_PART_BG));
        lv_coord_t bg_inner = lv_obj_get_style_pad_inner(b, LV_BTNMATRIX_PART_BG);
        lv_coord_t btnm_h = (lv_coord_t)(btn_h * rows + bg_inner * (rows - 1) + bg_ver);
        lv_obj_set_size(ext->btnm, w, btnm_h);
        lv_obj_set_pos(ext->btnm, left, (lv_coord_t)(top + lv_obj_get_height(ext->text) + inner));
        h = (lv_coord_t)(h + inner + btnm_h);
    }
    lv_obj_set_height(mbox, h);
    ext->in_layout = 0;
}

void btnm_event(lv_obj_t *btnm, lv_event_t event) {
    if (event != LV_EVENT_VALUE_CHANGED) return;
    lv_obj_t *mbox = lv_obj_get_parent(btnm);
    uint32_t id = *static_cast<const uint32_t *>(lv_event_get_data());
    lv_event_send(mbox, LV_EVENT_VALUE_CHANGED, &id);
}

void close_task_cb(lv_task_t *task) {
    auto *mbox = static_cast<lv_obj_t *>(task->user_data);
    ext_of(mbox)->close_task = nullptr;
    lv_obj_del(mbox);
}

lv_res_t mbox_signal(lv_obj_t *mbox, lv_signal_t sign, void *param) {
    lv_msgbox_ext_t *ext = ext_of(mbox);
    if (sign == LV_SIGNAL_GET_STYLE) {
        auto *info = static_cast<lv_get_style_info_t *>(param);
        if (info->part == LV_MSGBOX_PART_BTN_BG || info->part == LV_MSGBOX_PART_BTN) {
            info->result = ext->btnm == nullptr
                               ? nullptr
                               : lv_obj_get_style_list(ext->btnm,
                                     info->part == LV_MSGBOX_PART_BTN ? LV_BTNMATRIX_PART_BTN : LV_BTNMATRIX_PART_BG);
            return LV_RES_OK;
        }
    }
    lv_res_t res = lv_obj_signal(mbox, sign, param);
    if (res != LV_RES_OK) return res;
    switch (sign) {
    case LV_SIGNAL_CLEANUP:
        if (ext->close_task != nullptr) lv_task_del(ext->close_task);
        ext->close_task = nullptr;
        break;
    case LV_SIGNAL_CHILD_CHG:
    case LV_SIGNAL_STYLE_CHG: layout(mbox); break;
    case LV_SIGNAL_COORD_CHG: {
        auto *ori = static_cast<const lv_area_t *>(param);
        if (lv_area_get_width(ori) != lv_obj_get_width(mbox)) layout(mbox);
        break;
    }
    default: break;
    }
    return LV_RES_OK;
}

}  // namespace

lv_obj_t *lv_msgbox_create(lv_obj_t *par, const lv_obj_t *copy) {
    LV_UNUSED(copy);
    lv_obj_t *mbox = lv_obj_create(par, nullptr);
    if (mbox == nullptr) return nullptr;
    if (lv_obj_allocate_ext_attr(mbox, sizeof(lv_msgbox_ext_t)) == nullptr) {
        lv_obj_del(mbox);
        return nullptr;
    }
    lv_obj_set_signal_cb(mbox, mbox_signal);
    lv_obj_set_size(mbox, (lv_coord_t)(LV_DPI * 2), (lv_coord_t)(LV_DPI / 2));
    lv_theme_apply(mbox, LV_THEME_MSGBOX);

    lv_obj_t *text = lv_label_create(mbox, nullptr);
    if (text == nullptr) {
        lv_obj_del(mbox);
        return nullptr;
    }
    lv_label_set_align(text, LV_LABEL_ALIGN_CENTER);
    lv_label_set_long_mode(text, LV_LABEL_LONG_BREAK);
    lv_label_set_text(text, "Message");
    ext_of(mbox)->text = text;
    layout(mbox);
    return mbox;
}

void lv_msgbox_set_text(lv_obj_t *mbox, const char *txt) {
    lv_label_set_text(ext_of(mbox)->text, txt);
    layout(mbox);
}

void lv_msgbox_add_btns(lv_obj_t *mbox, const char *btn_mapaction[]) {
    lv_msgbox_ext_t *ext = ext_of(mbox);
    if (ext->btnm == nullptr) {
        ext->btnm = _lv_btnmatrix_create_themed(mbox, LV_THEME_MSGBOX_BTNS);
        if (ext->btnm == nullptr) return;
        lv_obj_set_event_cb(ext->btnm, btnm_event);
    }
    lv_btnmatrix_set_map(ext->btnm, btn_mapaction);
    layout(mbox);
}

void lv_msgbox_start_auto_close(lv_obj_t *mbox, uint16_t delay) {
    lv_msgbox_ext_t *ext = ext_of(mbox);
    if (delay == 0) {
        lv_obj_del(mbox);
        return;
    }
    if (ext->close_task != nullptr) lv_task_del(ext->close_task);
    ext->close_task = lv_task_create(close_task_cb, delay, LV_TASK_PRIO_MID, mbox);
    if (ext->close_task != nullptr) lv_task_set_repeat_count(ext->close_task, 1);
}

const char *lv_msgbox_get_text(const lv_obj_t *mbox) { return lv_label_get_text(ext_of(mbox)->text); }

uint16_t lv_msgbox_get_active_btn(const lv_obj_t *mbox) {
    const lv_msgbox_ext_t *ext = ext_of(mbox);
    return ext->btnm != nullptr ? lv_btnmatrix_get_active_btn(ext->btnm) : LV_BTNMATRIX_BTN_NONE;
}

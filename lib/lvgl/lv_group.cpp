#include "lv_group.h"

#include <cstring>

#include "lv_indev.h"
#include "lv_mem.h"

namespace {

lv_group_t *groups;

int32_t index_of(const lv_group_t *g, const lv_obj_t *obj) {
    for (uint16_t i = 0; i < g->obj_cnt; i++) {
        if (g->objs[i] == obj) return i;
    }
    return -1;
}

lv_res_t tell(lv_obj_t *obj, lv_signal_t sign, lv_event_t event) {
    if (lv_signal_send(obj, sign, nullptr) != LV_RES_OK) return LV_RES_INV;
    return lv_event_send(obj, event, nullptr);
}

void focus_index(lv_group_t *g, int32_t idx) {
    if (idx == g->focus) return;
    lv_obj_t *old = lv_group_get_focused(g);
    g->focus = idx;
    if (old != nullptr) tell(old, LV_SIGNAL_DEFOCUS, LV_EVENT_DEFOCUSED);
    /* The callbacks may have changed the group. */
    lv_obj_t *now = lv_group_get_focused(g);
    if (now != nullptr) tell(now, LV_SIGNAL_FOCUS, LV_EVENT_FOCUSED);
}

/* Takes the object out; returns true when it had the focus. */
bool take_out(lv_group_t *g, lv_obj_t *obj) {
    int32_t idx = index_of(g, obj);
    if (idx < 0) return false;
    std::memmove(&g->objs[idx], &g->objs[idx + 1], sizeof(lv_obj_t *) * (size_t)(g->obj_cnt - idx - 1));
    g->obj_cnt--;
    obj->group_p = nullptr;
    bool had_focus = g->focus == idx;
    if (had_focus)
        g->focus = -1;
    else if (g->focus > idx)
        g->focus--;
    return had_focus;
}

/* After the focused object left: the one that took its place gets the focus. */
void refocus_after(lv_group_t *g, int32_t idx) {
    if (g->obj_cnt > 0 && g->focus < 0) focus_index(g, idx % g->obj_cnt);
}

}  // namespace

lv_group_t *lv_group_create(void) {
    auto *g = static_cast<lv_group_t *>(_lv_mem_alloc_zeroed(sizeof(lv_group_t)));
    if (g == nullptr) return nullptr;
    g->focus = -1;
    g->next = groups;
    groups = g;
    return g;
}

void lv_group_del(lv_group_t *group) {
    lv_obj_t *focused = lv_group_get_focused(group);
    if (focused != nullptr) lv_signal_send(focused, LV_SIGNAL_DEFOCUS, nullptr);
    for (uint16_t i = 0; i < group->obj_cnt; i++) group->objs[i]->group_p = nullptr;
    _lv_indev_group_deleted(group);
    lv_group_t **link = &groups;
    while (*link != nullptr && *link != group) link = &(*link)->next;
    if (*link != nullptr) *link = group->next;
    lv_mem_free(group->objs);
    lv_mem_free(group);
}

void lv_group_add_obj(lv_group_t *group, lv_obj_t *obj) {
    if (group == nullptr || obj == nullptr || obj->group_p == group) return;
    if (obj->group_p != nullptr) lv_group_remove_obj(obj);
    auto *grown = static_cast<lv_obj_t **>(lv_mem_realloc(group->objs, sizeof(lv_obj_t *) * (group->obj_cnt + 1U)));
    if (grown == nullptr) return;
    group->objs = grown;
    group->objs[group->obj_cnt++] = obj;
    obj->group_p = group;
    if (group->obj_cnt == 1) focus_index(group, 0);
}

void lv_group_remove_obj(lv_obj_t *obj) {
    auto *g = static_cast<lv_group_t *>(obj->group_p);
    if (g == nullptr) return;
    int32_t idx = index_of(g, obj);
    if (!take_out(g, obj)) return;
    if (tell(obj, LV_SIGNAL_DEFOCUS, LV_EVENT_DEFOCUSED) != LV_RES_OK) return;
    refocus_after(g, idx);
}

void _lv_group_obj_deleted(lv_obj_t *obj) {
    auto *g = static_cast<lv_group_t *>(obj->group_p);
    if (g == nullptr) return;
    int32_t idx = index_of(g, obj);
    if (take_out(g, obj)) refocus_after(g, idx);
}

void lv_group_focus_obj(lv_obj_t *obj) {
    auto *g = static_cast<lv_group_t *>(obj->group_p);
    if (g == nullptr) return;
    int32_t idx = index_of(g, obj);
    if (idx >= 0) focus_index(g, idx);
}

void lv_group_focus_next(lv_group_t *group) {
    if (group->obj_cnt == 0) return;
    focus_index(group, (group->focus + 1) % group->obj_cnt);
}

void lv_group_focus_prev(lv_group_t *group) {
    if (group->obj_cnt == 0) return;
    focus_index(group, group->focus <= 0 ? group->obj_cnt - 1 : group->focus - 1);
}

lv_res_t lv_group_send_data(lv_group_t *group, uint32_t c) {
    lv_obj_t *obj = lv_group_get_focused(group);
    if (obj == nullptr) return LV_RES_OK;
    if (lv_signal_send(obj, LV_SIGNAL_CONTROL, &c) != LV_RES_OK) return LV_RES_INV;
    return lv_event_send(obj, LV_EVENT_KEY, &c);
}

lv_obj_t *lv_group_get_focused(const lv_group_t *group) {
    if (group == nullptr || group->focus < 0 || group->focus >= group->obj_cnt) return nullptr;
    return group->objs[group->focus];
}

void _lv_group_core_deinit(void) {
    while (groups != nullptr) lv_group_del(groups);
}

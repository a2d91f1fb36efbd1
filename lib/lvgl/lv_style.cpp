#include "lv_style.h"

#include <cstring>

#include "lv_mem.h"

namespace {

constexpr uint16_t state_of(lv_style_property_t prop) {
    return (uint16_t)((prop & LV_STYLE_STATE_MASK) >> LV_STYLE_STATE_POS);
}

constexpr uint8_t id_of(lv_style_property_t prop) { return (uint8_t)(prop & LV_STYLE_ID_MASK); }

/* Key of an entry: id and state, without the inherit flag. */
constexpr uint16_t key_of(lv_style_property_t prop) {
    return (uint16_t)(prop & (LV_STYLE_ID_MASK | LV_STYLE_STATE_MASK));
}

lv_style_entry_t *find_or_add(lv_style_t *style, lv_style_property_t prop) {
    for (uint16_t i = 0; i < style->count; i++) {
        if (key_of(style->entries[i].prop) == key_of(prop)) return &style->entries[i];
    }
    auto *grown =
        static_cast<lv_style_entry_t *>(lv_mem_realloc(style->entries, sizeof(lv_style_entry_t) * (style->count + 1U)));
    if (grown == nullptr) return nullptr;
    style->entries = grown;
    lv_style_entry_t *e = &style->entries[style->count++];
    std::memset(e, 0, sizeof(*e));
    e->prop = prop;
    return e;
}

/* Index of the entry that best matches the requested state, -1 when none applies. */
int32_t best_entry(const lv_style_t *style, lv_style_property_t prop, int16_t *weight) {
    uint16_t goal = state_of(prop);
    int32_t best = -1;
    int16_t best_weight = -1;
    for (uint16_t i = 0; i < style->count; i++) {
        const lv_style_entry_t *e = &style->entries[i];
        if (id_of(e->prop) != id_of(prop)) continue;
        uint16_t st = state_of(e->prop);
        if (st == goal) {
            *weight = (int16_t)st;
            return i;
        }
        /* A value for a state the object is not in does not apply. */
        if ((st & ~goal) != 0) continue;
        if ((int16_t)st > best_weight) {
            best_weight = (int16_t)st;
            best = i;
        }
    }
    *weight = best_weight;
    return best;
}

template <typename T, typename Get>
int16_t get_value(const lv_style_t *style, lv_style_property_t prop, T *res, Get get) {
    if (style == nullptr) return -1;
    int16_t weight;
    int32_t i = best_entry(style, prop, &weight);
    if (i >= 0) *res = get(style->entries[i]);
    return weight;
}

/* Walks the list: local style first, then the styles from the latest added; a perfect
 * state match ends the walk, otherwise the heaviest match wins, earlier ones on ties. */
template <typename T, typename StyleGet>
lv_res_t list_get(const lv_style_list_t *list, lv_style_property_t prop, T *res, StyleGet style_get) {
    int16_t goal = (int16_t)state_of(prop);
    int16_t best = -1;
    T value{};
    auto consider = [&](const lv_style_t *style) {
        T v{};
        int16_t w = style_get(style, prop, &v);
        if (w > best) {
            best = w;
            value = v;
        }
        return w == goal;
    };
    bool exact = list->local != nullptr && consider(list->local);
    for (uint8_t i = 0; i < list->style_cnt && !exact; i++) exact = consider(list->styles[i]);
    if (best < 0) return LV_RES_INV;
    *res = value;
    return LV_RES_OK;
}

}  // namespace

void lv_style_init(lv_style_t *style) {
    style->entries = nullptr;
    style->count = 0;
}

void lv_style_reset(lv_style_t *style) {
    lv_mem_free(style->entries);
    lv_style_init(style);
}

void _lv_style_set_int(lv_style_t *style, lv_style_property_t prop, lv_style_int_t value) {
    if (lv_style_entry_t *e = find_or_add(style, prop)) e->value.num = value;
}

void _lv_style_set_color(lv_style_t *style, lv_style_property_t prop, lv_color_t color) {
    if (lv_style_entry_t *e = find_or_add(style, prop)) e->value.color = color;
}

void _lv_style_set_opa(lv_style_t *style, lv_style_property_t prop, lv_opa_t opa) {
    if (lv_style_entry_t *e = find_or_add(style, prop)) e->value.opa = opa;
}

void _lv_style_set_ptr(lv_style_t *style, lv_style_property_t prop, const void *p) {
    if (lv_style_entry_t *e = find_or_add(style, prop)) e->value.ptr = p;
}

int16_t _lv_style_get_int(const lv_style_t *style, lv_style_property_t prop, lv_style_int_t *res) {
    return get_value(style, prop, res, [](const lv_style_entry_t &e) { return e.value.num; });
}

int16_t _lv_style_get_color(const lv_style_t *style, lv_style_property_t prop, lv_color_t *res) {
    return get_value(style, prop, res, [](const lv_style_entry_t &e) { return e.value.color; });
}

int16_t _lv_style_get_opa(const lv_style_t *style, lv_style_property_t prop, lv_opa_t *res) {
    return get_value(style, prop, res, [](const lv_style_entry_t &e) { return e.value.opa; });
}

int16_t _lv_style_get_ptr(const lv_style_t *style, lv_style_property_t prop, const void **res) {
    return get_value(style, prop, res, [](const lv_style_entry_t &e) { return e.value.ptr; });
}

void lv_style_list_init(lv_style_list_t *list) {
    list->local = nullptr;
    list->styles = nullptr;
    list->style_cnt = 0;
}

void _lv_style_list_remove_style(lv_style_list_t *list, lv_style_t *style) {
    for (uint8_t i = 0; i < list->style_cnt; i++) {
        if (list->styles[i] != style) continue;
        std::memmove(&list->styles[i], &list->styles[i + 1], sizeof(lv_style_t *) * (list->style_cnt - i - 1U));
        list->style_cnt--;
        return;
    }
}

void _lv_style_list_add_style(lv_style_list_t *list, lv_style_t *style) {
    _lv_style_list_remove_style(list, style);
    auto *grown =
        static_cast<lv_style_t **>(lv_mem_realloc(list->styles, sizeof(lv_style_t *) * (list->style_cnt + 1U)));
    if (grown == nullptr) return;
    list->styles = grown;
    std::memmove(&list->styles[1], &list->styles[0], sizeof(lv_style_t *) * list->style_cnt);
    list->styles[0] = style;
    list->style_cnt++;
}

void _lv_style_list_reset(lv_style_list_t *list) {
    if (list->local != nullptr) {
        lv_style_reset(list->local);
        lv_mem_free(list->local);
    }
    lv_mem_free(list->styles);
    lv_style_list_init(list);
}

lv_style_t *_lv_style_list_get_local_style(lv_style_list_t *list) {
    if (list->local == nullptr) {
        list->local = static_cast<lv_style_t *>(lv_mem_alloc(sizeof(lv_style_t)));
        if (list->local != nullptr) lv_style_init(list->local);
    }
    return list->local;
}

lv_res_t _lv_style_list_get_int(const lv_style_list_t *list, lv_style_property_t prop, lv_style_int_t *res) {
    return list_get(list, prop, res, _lv_style_get_int);
}

lv_res_t _lv_style_list_get_color(const lv_style_list_t *list, lv_style_property_t prop, lv_color_t *res) {
    return list_get(list, prop, res, _lv_style_get_color);
}

lv_res_t _lv_style_list_get_opa(const lv_style_list_t *list, lv_style_property_t prop, lv_opa_t *res) {
    return list_get(list, prop, res, _lv_style_get_opa);
}

lv_res_t _lv_style_list_get_ptr(const lv_style_list_t *list, lv_style_property_t prop, const void **res) {
    return list_get(list, prop, res, _lv_style_get_ptr);
}

#include "lv_indev.h"

#include "lv_mem.h"
#include "lv_tick.h"

namespace {

lv_indev_t *indevs;
lv_indev_t *indev_act;   /* the device being read */
lv_obj_t *indev_obj_act; /* the object it works on */

/* Where a key or a button is between two reads. */
enum class Transition {
    Idle,     /* released, and it was */
    Press,    /* pressed now, released before */
    Pressing, /* pressed now and before */
    Release,  /* released now, pressed before */
};

Transition classify(lv_indev_state_t before, lv_indev_state_t now) {
    if (now == LV_INDEV_STATE_PR) return before == LV_INDEV_STATE_PR ? Transition::Pressing : Transition::Press;
    return before == LV_INDEV_STATE_PR ? Transition::Release : Transition::Idle;
}

bool takes_input(const lv_obj_t *obj) { return (obj->state & LV_STATE_DISABLED) == 0; }

/* Sends a signal and then an event; false when processing must stop (the object, or one
 * the device uses, was deleted). */
bool deliver(lv_indev_t *i, lv_obj_t *obj, lv_signal_t sign, lv_event_t event) {
    lv_signal_send(obj, sign, i);
    if (i->proc.reset_query) return false;
    lv_event_send(obj, event, nullptr);
    return !i->proc.reset_query;
}

bool send_event(lv_indev_t *i, lv_obj_t *obj, lv_event_t event) {
    lv_event_send(obj, event, nullptr);
    return !i->proc.reset_query;
}

void handle_reset_query(lv_indev_t *i) {
    if (!i->proc.reset_query) return;
    i->proc.pointer.act_obj = nullptr;
    i->proc.pointer.last_obj = nullptr;
    i->proc.long_pr_sent = 0;
    i->proc.pr_timestamp = 0;
    i->proc.longpr_rep_timestamp = 0;
    i->proc.reset_query = 0;
    indev_obj_act = nullptr;
}

/* Long press and its repeats of a held pointer or key; `on_repeat` acts at each repeat. */
template <typename OnLong, typename OnRepeat>
bool track_long_press(lv_indev_t *i, OnLong on_long, OnRepeat on_repeat) {
    lv_indev_proc_t *p = &i->proc;
    if (!p->long_pr_sent) {
        if (lv_tick_elaps(p->pr_timestamp) > i->driver.long_press_time) {
            p->long_pr_sent = 1;
            p->longpr_rep_timestamp = lv_tick_get();
            return on_long();
        }
    } else if (lv_tick_elaps(p->longpr_rep_timestamp) > i->driver.long_press_rep_time) {
        p->longpr_rep_timestamp = lv_tick_get();
        return on_repeat();
    }
    return true;
}

/* Focus follows the pointer: objects outside a group get FOCUSED/DEFOCUSED, a group's
 * object left for one outside its group gets LEAVE. */
void click_focus(lv_indev_t *i, lv_obj_t *obj) {
    lv_indev_proc_t *p = &i->proc;
    lv_obj_t *last = p->pointer.last_pressed;
    if (obj == last) return;
    auto *g_act = static_cast<lv_group_t *>(obj->group_p);
    auto *g_prev = last != nullptr ? static_cast<lv_group_t *>(last->group_p) : nullptr;

    if (last != nullptr && g_act != g_prev && g_prev != nullptr) {
        if (!deliver(i, last, LV_SIGNAL_LEAVE, LV_EVENT_LEAVE)) return;
    } else if (last != nullptr && g_prev == nullptr) {
        if (!deliver(i, last, LV_SIGNAL_DEFOCUS, LV_EVENT_DEFOCUSED)) return;
    }

    if (g_act != nullptr)
        lv_group_focus_obj(obj);
    else if (!deliver(i, obj, LV_SIGNAL_FOCUS, LV_EVENT_FOCUSED))
        return;
    if (p->reset_query) return;
    p->pointer.last_pressed = obj;
}

void pointer_press(lv_indev_t *i) {
    lv_indev_proc_t *p = &i->proc;
    if (p->wait_until_release) return;

    lv_obj_t *scr = lv_disp_get_scr_act(i->driver.disp);
    lv_obj_t *found = scr != nullptr ? lv_indev_search_obj(scr, &p->pointer.act_point) : nullptr;
    if (found != p->pointer.act_obj) {
        lv_obj_t *lost = p->pointer.act_obj;
        if (lost != nullptr && takes_input(lost)) {
            indev_obj_act = lost;
            if (!deliver(i, lost, LV_SIGNAL_PRESS_LOST, LV_EVENT_PRESS_LOST)) return;
        }
        p->pointer.act_obj = found;
        p->pointer.last_obj = found;
        if (found == nullptr) return;
        p->pr_timestamp = lv_tick_get();
        p->long_pr_sent = 0;
        if (!takes_input(found)) return;
        indev_obj_act = found;
        if (!deliver(i, found, LV_SIGNAL_PRESSED, LV_EVENT_PRESSED)) return;
        click_focus(i, found);
        if (p->reset_query) return;
    }

    lv_obj_t *obj = p->pointer.act_obj;
    if (obj == nullptr || !takes_input(obj)) return;
    indev_obj_act = obj;
    if (!deliver(i, obj, LV_SIGNAL_PRESSING, LV_EVENT_PRESSING)) return;
    track_long_press(
        i, [&] { return deliver(i, obj, LV_SIGNAL_LONG_PRESS, LV_EVENT_LONG_PRESSED); },
        [&] { return deliver(i, obj, LV_SIGNAL_LONG_PRESS_REP, LV_EVENT_LONG_PRESSED_REPEAT); });
}

void pointer_release(lv_indev_t *i) {
    lv_indev_proc_t *p = &i->proc;
    if (p->wait_until_release) {
        p->wait_until_release = 0;
        p->pointer.act_obj = nullptr;
        p->pointer.last_obj = nullptr;
        return;
    }
    lv_obj_t *obj = p->pointer.act_obj;
    if (obj == nullptr) return;
    if (takes_input(obj)) {
        indev_obj_act = obj;
        lv_signal_send(obj, LV_SIGNAL_RELEASED, i);
        if (p->reset_query) return;
        if (!p->long_pr_sent && !send_event(i, obj, LV_EVENT_SHORT_CLICKED)) return;
        if (!send_event(i, obj, LV_EVENT_CLICKED)) return;
        if (!send_event(i, obj, LV_EVENT_RELEASED)) return;
    }
    p->pointer.act_obj = nullptr;
    p->pr_timestamp = 0;
    p->longpr_rep_timestamp = 0;
}

void pointer_proc(lv_indev_t *i, const lv_indev_data_t *data) {
    i->proc.pointer.act_point = data->point;
    if (data->state == LV_INDEV_STATE_PR)
        pointer_press(i);
    else
        pointer_release(i);
    i->proc.pointer.last_point = data->point;
}

void keypad_press(lv_indev_t *i, lv_group_t *g, lv_obj_t *focused, uint32_t key) {
    switch (key) {
    case LV_KEY_ENTER:
        if (lv_group_send_data(g, key) != LV_RES_OK || i->proc.reset_query) return;
        deliver(i, focused, LV_SIGNAL_PRESSED, LV_EVENT_PRESSED);
        break;
    case LV_KEY_ESC:
        if (lv_group_send_data(g, key) != LV_RES_OK || i->proc.reset_query) return;
        send_event(i, focused, LV_EVENT_CANCEL);
        break;
    case LV_KEY_NEXT: lv_group_focus_next(g); break;
    case LV_KEY_PREV: lv_group_focus_prev(g); break;
    default: lv_group_send_data(g, key); break;
    }
}

void keypad_pressing(lv_indev_t *i, lv_group_t *g, lv_obj_t *focused, uint32_t key) {
    if (key == LV_KEY_ENTER && !deliver(i, focused, LV_SIGNAL_PRESSING, LV_EVENT_PRESSING)) return;
    track_long_press(
        i, [&] { return key != LV_KEY_ENTER || deliver(i, focused, LV_SIGNAL_LONG_PRESS, LV_EVENT_LONG_PRESSED); },
        [&] {
            switch (key) {
            case LV_KEY_ENTER: return deliver(i, focused, LV_SIGNAL_LONG_PRESS_REP, LV_EVENT_LONG_PRESSED_REPEAT);
            case LV_KEY_NEXT: lv_group_focus_next(g); break;
            case LV_KEY_PREV: lv_group_focus_prev(g); break;
            default: lv_group_send_data(g, key); break; /* the key repeats */
            }
            return !i->proc.reset_query;
        });
}

void keypad_release(lv_indev_t *i, lv_obj_t *focused, uint32_t key) {
    if (key != LV_KEY_ENTER) return;
    lv_signal_send(focused, LV_SIGNAL_RELEASED, i);
    if (i->proc.reset_query) return;
    if (!i->proc.long_pr_sent && !send_event(i, focused, LV_EVENT_SHORT_CLICKED)) return;
    if (!send_event(i, focused, LV_EVENT_CLICKED)) return;
    send_event(i, focused, LV_EVENT_RELEASED);
}

void keypad_proc(lv_indev_t *i, const lv_indev_data_t *data) {
    lv_indev_proc_t *p = &i->proc;
    uint32_t prev_key = p->keypad.last_key;
    Transition t = classify(p->keypad.last_state, data->state);
    p->keypad.last_key = data->key;
    p->keypad.last_state = data->state;

    /* A release is reported with the key that was pressed. */
    uint32_t key = t == Transition::Release ? prev_key : data->key;
    switch (t) {
    case Transition::Press: LV_INDEV_KEY_PRINTF("data->key: %02x press\n", (unsigned)key); break;
    case Transition::Pressing: LV_INDEV_KEY_PRINTF("data->key: %02x pressing\n", (unsigned)key); break;
    case Transition::Release: LV_INDEV_KEY_PRINTF("data->key: %02x release\n", (unsigned)key); break;
    case Transition::Idle: return;
    }
    if (p->wait_until_release) {
        if (t == Transition::Release) p->wait_until_release = 0;
        return;
    }

    if (t == Transition::Press) {
        p->pr_timestamp = lv_tick_get();
        p->long_pr_sent = 0;
    }
    lv_group_t *g = i->group;
    lv_obj_t *focused = g != nullptr ? lv_group_get_focused(g) : nullptr;
    if (focused != nullptr) {
        indev_obj_act = focused;
        switch (t) {
        case Transition::Press: keypad_press(i, g, focused, key); break;
        case Transition::Pressing: keypad_pressing(i, g, focused, key); break;
        case Transition::Release: keypad_release(i, focused, key); break;
        case Transition::Idle: break;
        }
    }
    if (t == Transition::Release) {
        p->pr_timestamp = 0;
        p->long_pr_sent = 0;
    }
}

}  // namespace

void lv_indev_drv_init(lv_indev_drv_t *driver) {
    *driver = lv_indev_drv_t{};
    driver->type = LV_INDEV_TYPE_NONE;
    driver->drag_limit = LV_INDEV_DEF_DRAG_LIMIT;
    driver->drag_throw = LV_INDEV_DEF_DRAG_THROW;
    driver->long_press_time = LV_INDEV_DEF_LONG_PRESS_TIME;
    driver->long_press_rep_time = LV_INDEV_DEF_LONG_PRESS_REP_TIME;
}

lv_indev_t *lv_indev_drv_register(lv_indev_drv_t *driver) {
    if (driver->disp == nullptr) driver->disp = lv_disp_get_default();
    if (driver->disp == nullptr) return nullptr;
    auto *indev = static_cast<lv_indev_t *>(_lv_mem_alloc_zeroed(sizeof(lv_indev_t)));
    if (indev == nullptr) return nullptr;
    indev->driver = *driver;
    indev->driver.read_task = lv_task_create(_lv_indev_read_task, LV_INDEV_DEF_READ_PERIOD, LV_TASK_PRIO_HIGH, indev);
    if (indev->driver.read_task == nullptr) {
        lv_mem_free(indev);
        return nullptr;
    }
    lv_indev_t **tail = &indevs;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = indev;
    return indev;
}

void lv_indev_set_group(lv_indev_t *indev, lv_group_t *group) {
    if (indev->driver.type == LV_INDEV_TYPE_KEYPAD) indev->group = group;
}

lv_indev_type_t lv_indev_get_type(const lv_indev_t *indev) { return indev->driver.type; }

void lv_indev_get_point(const lv_indev_t *indev, lv_point_t *point) { *point = indev->proc.pointer.act_point; }

lv_obj_t *lv_indev_search_obj(lv_obj_t *obj, const lv_point_t *point) {
    if (obj->hidden || !_lv_area_is_point_on(&obj->coords, point)) return nullptr;
    for (lv_obj_t *c = obj->child_newest; c != nullptr; c = c->older) {
        lv_obj_t *found = lv_indev_search_obj(c, point);
        if (found != nullptr) return found;
    }
    return obj->click ? obj : nullptr;
}

void _lv_indev_read_task(lv_task_t *task) {
    auto *i = static_cast<lv_indev_t *>(task->user_data);
    if (i->proc.disabled || i->driver.read_cb == nullptr) return;
    indev_act = i;
    bool more;
    do {
        lv_indev_data_t data{};
        data.point = i->proc.pointer.act_point;
        data.key = i->proc.keypad.last_key;
        more = i->driver.read_cb(&i->driver, &data);
        handle_reset_query(i);
        i->proc.state = data.state;
        if (i->driver.type == LV_INDEV_TYPE_POINTER)
            pointer_proc(i, &data);
        else if (i->driver.type == LV_INDEV_TYPE_KEYPAD)
            keypad_proc(i, &data);
        handle_reset_query(i);
    } while (more);
    indev_act = nullptr;
    indev_obj_act = nullptr;
}

void _lv_indev_obj_deleted(lv_obj_t *obj) {
    for (lv_indev_t *i = indevs; i != nullptr; i = i->next) {
        lv_indev_proc_t *p = &i->proc;
        bool in_use = p->pointer.act_obj == obj || (i == indev_act && indev_obj_act == obj);
        if (in_use || p->pointer.last_obj == obj) {
            p->reset_query = 1;
            p->pointer.act_obj = nullptr;
            p->pointer.last_obj = nullptr;
        }
        /* A press (or key) whose object went away does not go on to whatever is there
         * now: it ends with the release. */
        if (in_use && p->state == LV_INDEV_STATE_PR) p->wait_until_release = 1;
        if (p->pointer.last_pressed == obj) p->pointer.last_pressed = nullptr;
    }
    if (indev_obj_act == obj) indev_obj_act = nullptr;
}

void _lv_indev_group_deleted(lv_group_t *group) {
    for (lv_indev_t *i = indevs; i != nullptr; i = i->next) {
        if (i->group == group) i->group = nullptr;
    }
}

void _lv_indev_core_deinit(void) {
    while (indevs != nullptr) {
        lv_indev_t *i = indevs;
        indevs = i->next;
        lv_task_del(i->driver.read_task);
        lv_mem_free(i);
    }
    indev_act = nullptr;
    indev_obj_act = nullptr;
}

// The list of input notifiers, changed and walked under the kernel's protect.
#include "zel_input_notifier.h"

#include "zel_irq_guard.h"

namespace {

zel_input_notifier_t *g_head;

bool listed(const zel_input_notifier_t *notifier) {
    for (const zel_input_notifier_t *n = g_head; n; n = n->next) {
        if (n == notifier) return true;
    }
    return false;
}

}  // namespace

extern "C" {

void zel_input_notifier_register(zel_input_notifier_t *notifier) {
    notifier->mask |= 0x02;
    zel_irq_guard guard;
    // Pushing a listed notifier again would link it to itself and make
    // every later notify walk the list for ever.
    if (!listed(notifier)) {
        notifier->next = g_head;
        g_head = notifier;
    }
}

void zel_input_notify(uint32_t type, const zel_input_evt_t *evt) {
    zel_irq_guard guard;
    for (zel_input_notifier_t *n = g_head; n; n = n->next) {
        if (type < 8 && (n->mask & (1u << type)) && n->handler) n->handler(n, type, evt);
    }
}

void zel_input_notify_keyboard(const zel_input_evt_t *evt) { zel_input_notify(ZEL_INPUT_TYPE_KEYBOARD, evt); }

void zel_input_notify_touch(const zel_input_evt_t *evt) { zel_input_notify(ZEL_INPUT_TYPE_TOUCH, evt); }

}  // extern "C"

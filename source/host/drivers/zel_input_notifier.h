/* Input notifiers: handlers that subscribe to input event types.
 *
 * The display window reports the keyboard as type 5 and the left mouse
 * button as type 4, from its host thread inside an emulated interrupt:
 * handlers must only copy, signal and post.
 */
#ifndef ZEL_INPUT_NOTIFIER_H
#define ZEL_INPUT_NOTIFIER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { ZEL_INPUT_TYPE_TOUCH = 4, ZEL_INPUT_TYPE_KEYBOARD = 5 };

/* Keyboard event id: bits 0-9 the USB HID usage (plus 0x200 for a printable
 * key typed shifted), 0x400 on a press, then the modifier and lock bits. */
enum {
    ZEL_INPUT_KEY_USAGE_MASK = 0x3FF,
    ZEL_INPUT_KEY_SHIFTED = 0x200,
    ZEL_INPUT_KEY_PRESS = 0x400,
    ZEL_INPUT_KEY_SHIFT = 1u << 11,
    ZEL_INPUT_KEY_CTRL = 1u << 12,
    ZEL_INPUT_KEY_ALT = 1u << 13,
    ZEL_INPUT_KEY_LWIN = 1u << 14,
    ZEL_INPUT_KEY_RWIN = 1u << 18,
    ZEL_INPUT_KEY_NUM_LOCK = 1u << 19,
    ZEL_INPUT_KEY_CAPS_LOCK = 1u << 20,
    ZEL_INPUT_KEY_SCROLL_LOCK = 1u << 21,
    /* A typed character, not a key: `value` holds its Unicode code point
     * (the usage bits are 0; reported with ZEL_INPUT_KEY_PRESS). */
    ZEL_INPUT_KEY_TEXT = 1u << 22,
    /* A key whose character, when it types one, comes in a text report of
     * its own (the window reports typed text). */
    ZEL_INPUT_KEY_TYPED = 1u << 23
};

/* Touch event id: bits 0-7 the touch point (the mouse is point 0), 0x100
 * while pressed. */
enum { ZEL_INPUT_TOUCH_POINT_MASK = 0xFF, ZEL_INPUT_TOUCH_PRESSED = 0x100 };

typedef struct zel_input_evt {
    void *device;      /* the display whose window produced the event */
    uint64_t id;       /* high half 0 */
    uint64_t data;     /* not set by the window */
    uint64_t value;    /* touch: x (u16) then y (u16), client coordinates; text: the code point */
    uint16_t screen_w; /* touch: the display's size */
    uint16_t screen_h;
} zel_input_evt_t;

static inline uint16_t zel_input_touch_x(const zel_input_evt_t *evt) { return (uint16_t)evt->value; }
static inline uint16_t zel_input_touch_y(const zel_input_evt_t *evt) { return (uint16_t)(evt->value >> 16); }

typedef struct zel_input_notifier zel_input_notifier_t;
typedef void (*zel_input_handler_t)(zel_input_notifier_t *notifier, uint32_t type, const zel_input_evt_t *evt);

struct zel_input_notifier {
    zel_input_notifier_t *next;
    zel_input_handler_t handler;
    uint8_t mask; /* 1 << type subscribes to that type */
};

/* Adds the notifier at the head of the list (newest first) and sets bit 0x02
 * of its mask. The notifier must live for the rest of the process. A
 * notifier already in the list stays where it is. */
void zel_input_notifier_register(zel_input_notifier_t *notifier);

/* Calls, newest first, every notifier subscribed to `type`. */
void zel_input_notify(uint32_t type, const zel_input_evt_t *evt);
void zel_input_notify_keyboard(const zel_input_evt_t *evt);
void zel_input_notify_touch(const zel_input_evt_t *evt);

#ifdef __cplusplus
}
#endif

#endif

/* The window behind the display driver "disp_windgi", as the driver sees it.
 *
 * The driver owns the framebuffer, the readiness report and the translation
 * of input into events; a window back end only shows rectangles of the
 * framebuffer and turns what its window system says into the messages below.
 * The back end is chosen once, when the display starts: ZEL_DISPLAY=memory
 * picks the in-memory window, anything else the SDL window.
 */
#ifndef ZEL_DISP_WINDOW_H
#define ZEL_DISP_WINDOW_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "zel_disp_area.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Virtual-key codes: the key vocabulary of the window messages. */
enum {
    ZEL_VK_BACK = 8,
    ZEL_VK_TAB = 9,
    ZEL_VK_CLEAR = 12,
    ZEL_VK_RETURN = 13,
    ZEL_VK_SHIFT = 16,
    ZEL_VK_CONTROL = 17,
    ZEL_VK_MENU = 18, /* Alt */
    ZEL_VK_PAUSE = 19,
    ZEL_VK_CAPITAL = 20,
    ZEL_VK_ESCAPE = 27,
    ZEL_VK_SPACE = 32,
    ZEL_VK_PRIOR = 33, /* Page Up */
    ZEL_VK_NEXT = 34,  /* Page Down */
    ZEL_VK_END = 35,
    ZEL_VK_HOME = 36,
    ZEL_VK_LEFT = 37,
    ZEL_VK_UP = 38,
    ZEL_VK_RIGHT = 39,
    ZEL_VK_DOWN = 40,
    ZEL_VK_SNAPSHOT = 44, /* Print Screen */
    ZEL_VK_INSERT = 45,
    ZEL_VK_DELETE = 46,
    /* '0'-'9' and 'A'-'Z' are their ASCII codes */
    ZEL_VK_LWIN = 91,
    ZEL_VK_RWIN = 92,
    ZEL_VK_APPS = 93,
    ZEL_VK_NUMPAD0 = 96, /* to ZEL_VK_NUMPAD0 + 9 */
    ZEL_VK_MULTIPLY = 106,
    ZEL_VK_ADD = 107,
    ZEL_VK_SUBTRACT = 109,
    ZEL_VK_DECIMAL = 110,
    ZEL_VK_DIVIDE = 111,
    ZEL_VK_F1 = 112, /* to ZEL_VK_F1 + 23 (F24) */
    ZEL_VK_NUMLOCK = 144,
    ZEL_VK_SCROLL = 145,
    ZEL_VK_OEM_1 = 186,      /* ;: */
    ZEL_VK_OEM_PLUS = 187,   /* =+ */
    ZEL_VK_OEM_COMMA = 188,  /* ,< */
    ZEL_VK_OEM_MINUS = 189,  /* -_ */
    ZEL_VK_OEM_PERIOD = 190, /* .> */
    ZEL_VK_OEM_2 = 191,      /* /? */
    ZEL_VK_OEM_3 = 192,      /* `~ */
    ZEL_VK_OEM_4 = 219,      /* [{ */
    ZEL_VK_OEM_5 = 220,      /* \| */
    ZEL_VK_OEM_6 = 221,      /* ]} */
    ZEL_VK_OEM_7 = 222,      /* '" */
    ZEL_VK_OEM_102 = 226     /* the extra key beside left Shift */
};

/* The USB HID usage reported for a virtual key; `shift` adds 0x200 to the
 * printable keys (to letters when it differs from `caps`). 0: no usage. */
uint16_t zel_disp_vk_to_usage(uint8_t vk, bool shift, bool caps);

/* Lock states carried by key messages. */
enum { ZEL_DISP_LOCK_NUM = 0x01, ZEL_DISP_LOCK_CAPS = 0x02, ZEL_DISP_LOCK_SCROLL = 0x04 };

typedef enum zel_disp_msg_kind {
    ZEL_DISP_MSG_NONE,        /* nothing to do */
    ZEL_DISP_MSG_KEY_DOWN,    /* vk, locks; repeats included */
    ZEL_DISP_MSG_KEY_UP,      /* vk, locks */
    ZEL_DISP_MSG_BUTTON_DOWN, /* left button; x, y in client coordinates */
    ZEL_DISP_MSG_BUTTON_UP,   /* x, y, possibly outside the client area */
    ZEL_DISP_MSG_MOUSE_MOVE,
    ZEL_DISP_MSG_PAINT,      /* the window system wants the whole window drawn */
    ZEL_DISP_MSG_INVALIDATE, /* a refresh asked for a paint */
    ZEL_DISP_MSG_MINIMISE,
    ZEL_DISP_MSG_RESTORE,
    ZEL_DISP_MSG_CLOSE, /* the user closed the window */
    ZEL_DISP_MSG_TEXT   /* a typed character: its Unicode code point in x */
} zel_disp_msg_kind_t;

typedef struct zel_disp_msg {
    zel_disp_msg_kind_t kind;
    uint8_t vk;
    uint8_t locks; /* ZEL_DISP_LOCK_* */
    int32_t x;
    int32_t y;
} zel_disp_msg_t;

typedef struct zel_disp_window_cfg {
    const char *title;
    uint16_t width; /* client area */
    uint16_t height;
} zel_disp_window_cfg_t;

/* A window back end. Everything but post_invalidate runs on the window
 * thread; present runs with the framebuffer lock held. */
typedef struct zel_disp_window_op {
    const char *name;
    /* false when no window can be shown, with the reason in `why` */
    bool (*open)(const zel_disp_window_cfg_t *cfg, char *why, size_t why_size);
    void (*next_msg)(zel_disp_msg_t *msg); /* blocks until there is one */
    void (*post_invalidate)(void);         /* any thread */
    void (*present)(const uint32_t *frame, uint16_t frame_w, const zel_disp_area_t *area);
    void (*capture_mouse)(bool on);
    void (*close)(void);
    /* Whether the window reports typed text (ZEL_DISP_MSG_TEXT): the
     * characters of printable keys then come that way, not from the keys. */
    bool (*types_text)(void);
} zel_disp_window_op_t;

extern const zel_disp_window_op_t zel_disp_window_sdl;
extern const zel_disp_window_op_t zel_disp_window_memory;

/* The framebuffer lock: the driver writes the framebuffer under it, and back
 * ends that read what they showed from other threads (test hooks) take it. */
void zel_disp_window_lock_frame(void);
void zel_disp_window_unlock_frame(void);

#ifdef __cplusplus
}
#endif

#endif

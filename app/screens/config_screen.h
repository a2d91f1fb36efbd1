/* The account configuration screen: the four steps of the PSN set-up.
 *   1  sign in to the account provider in the desktop's browser (or open
 *      the outside page that shows an account id); when no browser can
 *      be started, or its helper ends with a failure within 30 seconds,
 *      the message label says "无法打开网址";
 *   2  paste: the clipboard holds either the redirect address the sign-in
 *      ended on, whose authorization code a worker turns into the account
 *      id with `usrid`, or a ready account id in base64;
 *   3  type the console's eight-digit pairing code;
 *   4  save both into "PSN Config.txt" on the adapter with `write`, rewriting
 *      it in place, then check both configuration files with `access`.
 * On opening, both fields are filled from the adapter's configuration when
 * "PSN Config.txt" and "Wifi Config.txt" both parse.
 *
 * Pasting, as a state machine over the clipboard's text:
 *   PASTE_NO_TEXT     the clipboard could not be read
 *   PASTE_ADDRESS     the redirect prefix (48 characters compared, at least
 *                     49 in all) with an authorization code between "code="
 *                     and "&cid=": a worker runs usrid unless one runs
 *   PASTE_BAD_ADDRESS the prefix, but no usable code: the marks are missing
 *                     or out of order, or the code is empty, longer than 64
 *                     characters or holds characters an authorization code
 *                     never has (it goes into a command line)
 *   PASTE_ACCOUNT_ID  valid, non-empty base64: it becomes the id
 *   PASTE_UNUSABLE    anything else
 * Every outcome but the worker's start shows its message in the red
 * message label. GUI thread only, except the worker. */
#ifndef CONFIG_SCREEN_H
#define CONFIG_SCREEN_H

#include <stdbool.h>
#include <stdint.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CONFIG_CLIPBOARD_SIZE 222
#define CONFIG_AUTH_CODE_MAX 64
#define CONFIG_ID_MAX 127
#define CONFIG_PIN_LEN 8

typedef enum config_paste_state {
    PASTE_NO_TEXT,
    PASTE_ADDRESS,
    PASTE_BAD_ADDRESS,
    PASTE_ACCOUNT_ID,
    PASTE_UNUSABLE
} config_paste_state_t;

/* The open screen's objects; all null while it is closed. */
typedef struct config_screen_objs {
    lv_obj_t *screen;
    lv_obj_t *paste_btn;
    lv_obj_t *id_area;
    lv_obj_t *pin_area;
    lv_obj_t *message;
} config_screen_objs_t;

extern config_screen_objs_t config_screen;
extern char auth_code[CONFIG_AUTH_CODE_MAX + 1];
/* Set while a usrid worker runs. */
extern volatile uint8_t usrid_busy;

void config_screen_create(lv_obj_t *obj, lv_event_t event);
void signin_btn_event_cb(lv_obj_t *obj, lv_event_t event);
void manual_id_btn_event_cb(lv_obj_t *obj, lv_event_t event);
void paste_btn_event_cb(lv_obj_t *obj, lv_event_t event);
void config_back_event_cb(lv_obj_t *obj, lv_event_t event);
void config_save_event_cb(lv_obj_t *obj, lv_event_t event);
void textarea_focus_event_cb(lv_obj_t *obj, lv_event_t event);
void config_prefill_task(lv_task_t *task);
void *usrid_worker_thread(void *arg);
void config_saved_close_cb(void);

/* What a pasted text is (and, for an address, the code it gives). */
config_paste_state_t config_classify_paste(const char *text, char *code, uint32_t code_size);
/* Valid, non-empty base64. */
bool config_account_id_valid(const char *text);
/* Exactly eight decimal digits. */
bool config_pin_valid(const char *text);

/* The addresses the sign-in buttons open. */
extern const char config_signin_address[];
extern const char config_id_lookup_address[];

#ifdef __cplusplus
}
#endif

#endif

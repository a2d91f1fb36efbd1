// The account configuration screen (see config_screen.h).
#include "config_screen.h"

#include <stdio.h>
#include <string.h>

#include "account_config.h"
#include "adapter_poll.h"
#include "app_commands.h"
#include "host_dialogs.h"
#include "i18n.h"
#include "lvgl_port.h"
#include "main_screen.h"
#include "mbedtls/base64.h"
#include "msgbox.h"
#include "run_cmd.h"
#include "screen_common.h"
#include "ui_build.h"
#include "ui_styles.h"
#include "ui_texts.h"
#include "usrid.h"
#include "zel_host_dialog.h"
#include "zel_trace.h"

extern "C" {
config_screen_objs_t config_screen;
char auth_code[CONFIG_AUTH_CODE_MAX + 1];
volatile uint8_t usrid_busy;

const char config_signin_address[] =
    ACCOUNT_SIGNIN_PAGE "?service_entity=urn:service-entity:psn&response_type=code&client_id=" ACCOUNT_CLIENT_ID
                        "&redirect_uri=" ACCOUNT_REDIRECT_URI
                        "&scope=psn:clientapp&request_locale=en_US&ui=pr&service_logo=ps&layout_type=popup"
                        "&smcid=remoteplay&PlatformPrivacyWs1=minimal&error=login_required&error_code=4165"
                        "&error_description=User+is+not+authenticated&no_captcha=false#/signin?entry=%2Fsignin";
const char config_id_lookup_address[] =
    ACCOUNT_ID_LOOKUP_PAGE "?outputOnly=true&runOption=run&start=result&showInstructions=true";
}

namespace {

constexpr const char *kName = "the configuration screen";
const char kPsnConfig[] = "PSN Config.txt";
const char kWifiConfig[] = "Wifi Config.txt";
constexpr lv_coord_t kScreenMargin = 14;
const char kIdChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789=+/";

// The new "PSN Config.txt", written over the old one in place: four lines
// of blanks cover what is left of a longer, older text.
#define CONFIG_BLANK_LINE "                                                       \n"
#define CONFIG_WRITE_FORMAT                                                                                          \
    "write \"/scsi/${VOLUMEID}/PSN Config.txt\" \"PSNID\t: %s\r\nPIN \t: %s\r\n" CONFIG_BLANK_LINE CONFIG_BLANK_LINE \
        CONFIG_BLANK_LINE CONFIG_BLANK_LINE "\""
static_assert(sizeof CONFIG_WRITE_FORMAT - 1 == 290, "the configuration's command line format");
static_assert(sizeof CONFIG_BLANK_LINE - 1 == 56, "55 blanks and a line feed");

char g_clipboard[CONFIG_CLIPBOARD_SIZE];

void forget() { config_screen = config_screen_objs_t{}; }
const screen_forget_t g_forget = {forget};

// Characters an authorization code is made of (URL-safe, nothing the
// shell would take for syntax).
bool code_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("-._~%", c);
}

// An empty text area taking `accepted` only; null, leaving nothing behind,
// when the toolkit has no memory for it, its style or its character list.
lv_obj_t *text_area(lv_obj_t *scr, const char *accepted, uint32_t max_length, lv_coord_t w, const lv_obj_t *base,
    lv_align_t align, lv_coord_t x) {
    lv_obj_t *ta = lv_textarea_create(scr, nullptr);
    if (!ta) return nullptr;
    lv_textarea_set_cursor_hidden(ta, true);
    lv_textarea_set_text_align(ta, LV_LABEL_ALIGN_LEFT);
    lv_textarea_set_text(ta, "");
    const bool styled = ui_add_style(ta, LV_TEXTAREA_PART_BG, &style_padded);
    lv_textarea_set_accepted_chars(ta, accepted);
    if (!styled || lv_textarea_get_text(ta)[0] || !lv_textarea_get_accepted_chars(ta)) {
        lv_obj_del(ta);
        return nullptr;
    }
    lv_textarea_set_max_length(ta, max_length);
    lv_obj_set_size(ta, w, 35);
    lv_obj_align(ta, base, align, x, 0);
    lv_obj_set_event_cb(ta, textarea_focus_event_cb);
    return ta;
}

void show(const char *key) { screen_message(config_screen.message, key); }

// How long a started browser helper is watched for a failure, in checks
// 100 ms apart: xdg-open says at once when it finds no browser, and may
// live on as long as a browser it found.
constexpr uint32_t kBrowserCheckMs = 100;
constexpr int32_t kBrowserChecks = 300;

// Watches one started helper: its launch rides in the task's user data.
void browser_watch_task(lv_task_t *task) {
    const auto launch = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(task->user_data));
    if (!zel_host_browser_failed(launch)) return;
    zel_trace(1, "no browser could be opened\r\n");
    show("无法打开网址");
    lv_task_set_repeat_count(task, 0);
}

void open_page(const char *address) {
    const uint32_t launch = zel_host_open_browser(address);
    if (launch == 0) {
        zel_trace(1, "fail to open %s\r\n", address);
        show("无法打开网址");
        return;
    }
    lv_task_t *watch = lv_task_create(
        browser_watch_task, kBrowserCheckMs, LV_TASK_PRIO_LOW, reinterpret_cast<void *>(uintptr_t{launch}));
    if (watch) lv_task_set_repeat_count(watch, kBrowserChecks);
}

// A file of the adapter volume parsed with `pattern` into two words.
bool read_pair(const char *file, const char *pattern, char (&first)[128], char (&second)[128]) {
    char path[127];
    if (snprintf(path, sizeof path, "/scsi/%s/%s", volume_id, file) >= static_cast<int>(sizeof path)) return false;
    char text[128] = {};
    if (file_read(path, text, sizeof text - 1) == 0) return false;
    return sscanf(text, pattern, first, second) == 2;
}

}  // namespace

extern "C" {

bool config_account_id_valid(const char *text) {
    size_t length = 0;
    return text && text[0] &&
           mbedtls_base64_decode(nullptr, 0, &length, reinterpret_cast<const unsigned char *>(text), strlen(text)) ==
               MBEDTLS_ERR_BASE64_BUFFER_TOO_SMALL;
}

bool config_pin_valid(const char *text) {
    if (!text || strlen(text) != CONFIG_PIN_LEN) return false;
    for (const char *p = text; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

config_paste_state_t config_classify_paste(const char *text, char *code, uint32_t code_size) {
    if (strlen(text) >= ACCOUNT_REDIRECT_PREFIX_LEN + 1 &&
        strncmp(text, ACCOUNT_REDIRECT_PREFIX, ACCOUNT_REDIRECT_PREFIX_LEN) == 0) {
        const char *start = strstr(text, "code=");
        const char *end = strstr(text, "&cid=");
        if (!start || !end || start > end) return PASTE_BAD_ADDRESS;
        start += 5;
        size_t length = static_cast<size_t>(end - start);
        if (length == 0 || length > CONFIG_AUTH_CODE_MAX || length + 1 > code_size) return PASTE_BAD_ADDRESS;
        for (const char *p = start; p < end; ++p)
            if (!code_char(*p)) return PASTE_BAD_ADDRESS;
        memcpy(code, start, length);
        code[length] = 0;
        return PASTE_ADDRESS;
    }
    // An id longer than its field would be cut: it is no id.
    return strlen(text) <= CONFIG_ID_MAX && config_account_id_valid(text) ? PASTE_ACCOUNT_ID : PASTE_UNUSABLE;
}

void config_screen_create(lv_obj_t *obj, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    lv_obj_t *scr = screen_open(obj, &g_forget, kName);
    if (!scr) return;
    lv_obj_t *notice = ui_label(scr, &style_text,
        i18n_get_text("请将PS5游戏机通过WIFI或者有线连接网络\n为避免PS5游戏机网络不稳定\n"
                      "我们强烈建议PS5游戏机通过#ff0000 有线方式#连接网络"),
        scr, LV_ALIGN_IN_TOP_LEFT, 14, 17);

    lv_obj_t *box1 = ui_step_box(scr, UI_TEXT_STEPS[0], notice, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 35);
    lv_obj_t *signin = ui_button(scr, i18n_get_text("点击此处进行PSN账号设置"), 590, 35, box1, LV_ALIGN_OUT_RIGHT_TOP,
        14, 0, signin_btn_event_cb);
    lv_obj_t *manual = ui_button(
        scr, i18n_get_text("手动获取 PSN ID"), 140, 35, signin, LV_ALIGN_OUT_RIGHT_TOP, 14, 0, manual_id_btn_event_cb);
    lv_obj_t *signin_hint = ui_label(scr, &style_note,
        i18n_get_text("输入与PS5游戏机登录的同一PSN账号密码，登录成功后，复制整个网址并点击下方2"), signin,
        LV_ALIGN_OUT_BOTTOM_LEFT, 0, 8);

    lv_obj_t *box2 = ui_step_box(scr, UI_TEXT_STEPS[1], box1, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 70);
    lv_obj_t *paste = ui_button(scr, i18n_get_text("复制成功之后请点击此处，等待 PSN ID 显示"), 590, 35, box2,
        LV_ALIGN_OUT_RIGHT_TOP, 14, 0, paste_btn_event_cb);
    lv_obj_t *id_label =
        ui_label(scr, &style_note, i18n_get_text(UI_TEXT_ID_LABEL), paste, LV_ALIGN_OUT_RIGHT_MID, 14, 0);
    lv_obj_t *id_area = text_area(scr, kIdChars, CONFIG_ID_MAX, 168, id_label, LV_ALIGN_OUT_RIGHT_MID, 14);

    lv_obj_t *box3 = ui_step_box(scr, UI_TEXT_STEPS[2], box2, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 52);
    lv_obj_t *pairing = ui_label(scr, &style_text,
        i18n_get_text("PS5主机八位数配对码，在主机系统中选择（设定->系统->远程游玩->开启远程游玩->关联设备）"), box3,
        LV_ALIGN_OUT_RIGHT_TOP, 14, 0);
    lv_obj_t *pin_area = text_area(scr, "0123456789", CONFIG_PIN_LEN, 590, pairing, LV_ALIGN_OUT_BOTTOM_LEFT, 0);
    lv_obj_t *pin_format = ui_label(scr, &style_note,
        i18n_get_text("请将游戏机显示的八位数填写到上方，样式为：12345678"), pin_area, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 0);

    lv_obj_t *box4 = ui_step_box(scr, UI_TEXT_STEPS[3], box3, LV_ALIGN_OUT_BOTTOM_LEFT, 0, 96);
    lv_obj_t *back =
        ui_button(scr, i18n_get_text("不保存返回"), 225, 35, box4, LV_ALIGN_OUT_RIGHT_TOP, 14, 0, config_back_event_cb);
    lv_obj_t *save =
        ui_button(scr, i18n_get_text("点击保存"), 337, 35, back, LV_ALIGN_OUT_RIGHT_TOP, 28, 0, config_save_event_cb);
    lv_obj_t *message = screen_message_label(scr, save, LV_ALIGN_OUT_BOTTOM_RIGHT, 8, 0);
    lv_obj_t *const made[] = {notice, box1, signin, manual, signin_hint, box2, paste, id_label, id_area, box3, pairing,
        pin_area, pin_format, box4, back, save, message};
    if (!screen_complete(scr, kName, made, sizeof made / sizeof made[0])) return;

    // Wrapped within the screen, as long as the text is in any language.
    lv_label_set_long_mode(signin_hint, LV_LABEL_LONG_BREAK);
    lv_obj_set_width(signin_hint, lv_obj_get_width(scr) - lv_obj_get_x(signin_hint) - kScreenMargin);
    lv_obj_set_size(pin_format, 590, 35);
    lv_label_set_long_mode(message, LV_LABEL_LONG_BREAK);
    lv_obj_set_size(message, 225, 140);

    lv_task_t *prefill = lv_task_create(config_prefill_task, 0, LV_TASK_PRIO_MID, nullptr);
    if (!prefill) {
        screen_failed(scr, kName);
        return;
    }
    lv_task_set_repeat_count(prefill, 1);
    config_screen = {scr, paste, id_area, pin_area, message};
}

void config_prefill_task(lv_task_t *) {
    char id[128], pin[128], ssid[128], password[128];
    if (!read_pair(kPsnConfig, "PSNID : %127s PIN  : %127s", id, pin)) return;
    if (!read_pair(kWifiConfig, "SSID : %127s PASSWD : %127s", ssid, password)) return;
    if (config_screen.id_area) lv_textarea_set_text(config_screen.id_area, id);
    if (config_screen.pin_area) lv_textarea_set_text(config_screen.pin_area, pin);
}

void signin_btn_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) open_page(config_signin_address);
}

void manual_id_btn_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) open_page(config_id_lookup_address);
}

void paste_btn_event_cb(lv_obj_t *, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    lv_textarea_set_text(config_screen.id_area, "");
    lv_label_set_text(config_screen.message, "");
    auth_code[0] = 0;

    config_paste_state_t state = PASTE_NO_TEXT;
    if (request_clipboard_text(g_clipboard, sizeof g_clipboard))
        state = config_classify_paste(g_clipboard, auth_code, sizeof auth_code);
    switch (state) {
    case PASTE_NO_TEXT: show("读取粘贴板失败，请检查复制的内容!"); break;
    case PASTE_BAD_ADDRESS: show("解析粘贴板的链接出错，请重新复制!"); break;
    case PASTE_UNUSABLE: show("粘贴板的内容不是链接也不是PSN ID，请重新复制!"); break;
    case PASTE_ACCOUNT_ID:
        lv_textarea_set_text(config_screen.id_area, g_clipboard);
        show("手动获取PSN ID成功!");
        break;
    case PASTE_ADDRESS:
        if (usrid_busy) break;
        usrid_busy = 1;
        if (!screen_worker_start(usrid_worker_thread)) {
            usrid_busy = 0;
            show("联网获取PSN ID失败，\n请检查网络或者使用步骤2手动获取!");
        }
        break;
    }
}

void *usrid_worker_thread(void *) {
    if (config_screen.paste_btn) lv_obj_add_state(config_screen.paste_btn, LV_STATE_CHECKED);
    const char *id = run_cmd("usrid %s", auth_code) ? usrid_get() : nullptr;
    // The screen may have been closed (and opened again) meanwhile.
    if (id && config_screen.id_area)
        lv_textarea_set_text(config_screen.id_area, id);
    else if (!id)
        show("联网获取PSN ID失败，\n请检查网络或者使用步骤2手动获取!");
    usrid_busy = 0;
    if (config_screen.paste_btn) lv_obj_clear_state(config_screen.paste_btn, LV_STATE_CHECKED);
    lvgl_gui_wake();
    return nullptr;
}

void textarea_focus_event_cb(lv_obj_t *obj, lv_event_t event) {
    if (event == LV_EVENT_FOCUSED) {
        lv_group_add_obj(lvgl_focus_group(), obj);
        lv_textarea_set_cursor_hidden(obj, false);
    } else if (event == LV_EVENT_LEAVE) {
        lv_group_remove_obj(obj);
        lv_textarea_set_cursor_hidden(obj, true);
    }
}

void config_save_event_cb(lv_obj_t *, lv_event_t event) {
    if (event != LV_EVENT_CLICKED) return;
    lv_label_set_text(config_screen.message, "");
    const char *id = lv_textarea_get_text(config_screen.id_area);
    const char *pin = lv_textarea_get_text(config_screen.pin_area);
    if (!config_account_id_valid(id)) {
        show(UI_TEXT_BAD_PSN_ID);
        return;
    }
    if (!config_pin_valid(pin)) {
        show("校验码为空或者太短，\n请检查步骤6!");
        return;
    }
    if (!run_cmd(CONFIG_WRITE_FORMAT, id, pin) || !run_cmd("access \"/scsi/${VOLUMEID}/%s\"", kWifiConfig) ||
        !run_cmd("access \"/scsi/${VOLUMEID}/%s\"", kPsnConfig))
        return;
    msgbox_show(i18n_get_text("配置保存成功"), config_saved_close_cb);
}

void config_back_event_cb(lv_obj_t *, lv_event_t event) {
    if (event == LV_EVENT_CLICKED) config_saved_close_cb();
}

void config_saved_close_cb(void) { screen_close(config_screen.screen); }

}  // extern "C"

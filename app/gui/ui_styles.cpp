// The shared styles; properties are set in a fixed order, state by state.
#include "ui_styles.h"

#include "app_fonts.h"

extern "C" {

lv_style_t style_frame;
lv_style_t style_note;
lv_style_t style_text;
lv_style_t style_btn;
lv_style_t style_padded;
lv_style_t style_msgbox;
lv_style_t style_backdrop;

}  // extern "C"

namespace {

bool g_built;

constexpr lv_style_property_t in(lv_style_property_t prop, lv_state_t state) {
    return (lv_style_property_t)(prop | (state << LV_STYLE_STATE_POS));
}

lv_color_t rgb565(uint16_t raw) {
    lv_color_t c;
    c.full = raw;
    return c;
}

void font_only(lv_style_t *s, const lv_font_t *font) {
    lv_style_init(s);
    _lv_style_set_ptr(s, LV_STYLE_TEXT_FONT, font);
}

}  // namespace

extern "C" void ui_styles_init(void) {
    if (g_built) return;
    g_built = true;

    font_only(&style_frame, &app_font_19);
    _lv_style_set_int(&style_frame, LV_STYLE_RADIUS, 2);
    _lv_style_set_color(&style_frame, LV_STYLE_BORDER_COLOR, rgb565(0x6CF2));
    _lv_style_set_int(&style_frame, LV_STYLE_BORDER_WIDTH, 2);
    _lv_style_set_opa(&style_frame, LV_STYLE_BORDER_OPA, 127);
    _lv_style_set_int(&style_frame, LV_STYLE_BORDER_SIDE, 0x0F);

    font_only(&style_note, &app_font_15);
    _lv_style_set_opa(&style_note, LV_STYLE_BG_OPA, 127);

    font_only(&style_text, &app_font_19);
    _lv_style_set_opa(&style_text, LV_STYLE_BG_OPA, 127);

    font_only(&style_btn, &app_font_19);
    const lv_color_t blue = rgb565(0x44FF);
    const lv_state_t btn_states[] = {LV_STATE_DISABLED, LV_STATE_PRESSED, LV_STATE_DEFAULT, LV_STATE_CHECKED};
    for (lv_state_t st : btn_states) _lv_style_set_color(&style_btn, in(LV_STYLE_BG_COLOR, st), blue);
    _lv_style_set_opa(&style_btn, in(LV_STYLE_BG_OPA, LV_STATE_DISABLED), 127);
    _lv_style_set_opa(&style_btn, in(LV_STYLE_BG_OPA, LV_STATE_PRESSED), 127);
    _lv_style_set_opa(&style_btn, in(LV_STYLE_BG_OPA, LV_STATE_CHECKED), 127);
    _lv_style_set_opa(&style_btn, LV_STYLE_BG_OPA, 255);
    _lv_style_set_int(&style_btn, LV_STYLE_RADIUS, 7);
    _lv_style_set_int(&style_btn, LV_STYLE_BORDER_WIDTH, 0);

    font_only(&style_padded, &app_font_19);
    _lv_style_set_int(&style_padded, LV_STYLE_PAD_TOP, 10);
    _lv_style_set_int(&style_padded, LV_STYLE_PAD_BOTTOM, 10);

    font_only(&style_msgbox, &app_font_19);

    lv_style_init(&style_backdrop);
    const lv_state_t backdrop_states[] = {LV_STATE_DISABLED, LV_STATE_PRESSED, LV_STATE_CHECKED, LV_STATE_DEFAULT};
    for (lv_state_t st : backdrop_states) _lv_style_set_opa(&style_backdrop, in(LV_STYLE_BG_OPA, st), 127);
}

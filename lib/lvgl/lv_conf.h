/* Build settings of the GUI toolkit, and the hooks the product's port supplies. */
#ifndef LV_CONF_H
#define LV_CONF_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* Display */
#define LV_HOR_RES_MAX 900
#define LV_VER_RES_MAX 560
#define LV_COLOR_DEPTH 16  /* RGB565 */
#define LV_COLOR_16_SWAP 0 /* no byte swap */
#define LV_DPI 130
#define LV_DISP_DEF_REFR_PERIOD 30 /* ms between two refresh passes */
#define LV_INV_BUF_SIZE 32         /* invalidated areas kept before the whole screen is redrawn */

/* Input devices */
#define LV_INDEV_DEF_READ_PERIOD 30
#define LV_INDEV_DEF_DRAG_LIMIT 10
#define LV_INDEV_DEF_DRAG_THROW 10
#define LV_INDEV_DEF_LONG_PRESS_TIME 200
#define LV_INDEV_DEF_LONG_PRESS_REP_TIME 100

/* The keypad path prints each key transition with this printf-like macro. */
#define LV_INDEV_KEY_PRINTF(...) printf(__VA_ARGS__)

/* Logging: warnings and errors are kept, and with no print callback they go nowhere. */
#define LV_LOG_LEVEL LV_LOG_LEVEL_WARN

/* Images are not drawn; the cache size is kept for the record. */
#define LV_IMG_CACHE_DEF_SIZE 1

/* Text */
#define LV_TXT_BREAK_CHARS " ,.;:-_"
#define LV_LABEL_DOT_NUM 3

/* Theme: light material with its default colours */
#define LV_THEME_DEFAULT_COLOR_PRIMARY lv_color_hex(0x01a2b1)
#define LV_THEME_DEFAULT_COLOR_SECONDARY lv_color_hex(0x44d1b6)
#define LV_THEME_DEFAULT_FLAG LV_THEME_MATERIAL_FLAG_LIGHT
#define LV_THEME_DEFAULT_FONT_SMALL (&lv_font_dejavu_16)
#define LV_THEME_DEFAULT_FONT_NORMAL (&lv_font_dejavu_16)
#define LV_THEME_DEFAULT_FONT_SUBTITLE (&lv_font_dejavu_16)
#define LV_THEME_DEFAULT_FONT_TITLE (&lv_font_dejavu_16)

/* FreeType cache limits */
#define LV_FREETYPE_MAX_SIZES 0 /* FreeType's default */
#define LV_FREETYPE_MAX_BYTES 0 /* FreeType's default */

/*
 * Port hooks: the product's GUI port implements them (tick from the system timer in
 * milliseconds, memory from the framework heap); the tests implement them over a fake
 * clock and the host allocator.
 */
uint32_t lv_port_tick_get(void);
void *lv_port_alloc(size_t size);
void *lv_port_realloc(void *ptr, size_t size);
void lv_port_free(void *ptr);

#define LV_TICK_CUSTOM_SYS_TIME_EXPR (lv_port_tick_get())
#define LV_MEM_CUSTOM_ALLOC lv_port_alloc
#define LV_MEM_CUSTOM_REALLOC lv_port_realloc
#define LV_MEM_CUSTOM_FREE lv_port_free

#endif

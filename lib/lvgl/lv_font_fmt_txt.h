/*
 * Bitmap fonts in the "fmt_txt" format written by the font converter: glyph
 * descriptors, character maps, kerning by classes, and glyph bitmaps that may be
 * compressed (run-length coded, optionally after XOR-ing each row with the one above).
 */
#ifndef LV_FONT_FMT_TXT_H
#define LV_FONT_FMT_TXT_H

#include "lv_font.h"

typedef struct {
    uint32_t bitmap_index : 20; /* start of the bitmap in `glyph_bitmap` */
    uint32_t adv_w : 12;        /* advance in 1/16 pixels */
    uint8_t box_w;
    uint8_t box_h;
    int8_t ofs_x;
    int8_t ofs_y;
} lv_font_fmt_txt_glyph_dsc_t;

typedef enum {
    LV_FONT_FMT_TXT_CMAP_FORMAT0_FULL, /* glyph id = start + ofs_list[code - range_start] (u8) */
    LV_FONT_FMT_TXT_CMAP_SPARSE_FULL,  /* code found in unicode_list; id = start + ofs_list[i] (u16) */
    LV_FONT_FMT_TXT_CMAP_FORMAT0_TINY, /* glyph id = start + (code - range_start) */
    LV_FONT_FMT_TXT_CMAP_SPARSE_TINY,  /* code found in unicode_list; id = start + i */
} lv_font_fmt_txt_cmap_type_t;

typedef struct {
    uint32_t range_start;
    uint16_t range_length;
    uint16_t glyph_id_start;
    const uint16_t *unicode_list; /* offsets from range_start, ascending */
    const void *glyph_id_ofs_list;
    uint16_t list_length;
    lv_font_fmt_txt_cmap_type_t type;
} lv_font_fmt_txt_cmap_t;

/* Kerning by classes: each glyph maps to a left and a right class (0: none), and the
 * table holds one value per (left, right) pair. */
typedef struct {
    const int8_t *class_pair_values; /* left_class_cnt x right_class_cnt, 4.4 fixed point */
    const uint8_t *left_class_mapping;
    const uint8_t *right_class_mapping;
    uint8_t left_class_cnt;
    uint8_t right_class_cnt;
} lv_font_fmt_txt_kern_classes_t;

enum {
    LV_FONT_FMT_TXT_PLAIN = 0,
    LV_FONT_FMT_TXT_COMPRESSED = 1,
    LV_FONT_FMT_TXT_COMPRESSED_NO_PREFILTER = 2,
};
typedef uint8_t lv_font_fmt_txt_bitmap_format_t;

typedef struct {
    const uint8_t *glyph_bitmap;
    const lv_font_fmt_txt_glyph_dsc_t *glyph_dsc;
    const lv_font_fmt_txt_cmap_t *cmaps;
    const void *kern_dsc; /* lv_font_fmt_txt_kern_classes_t when kern_classes is 1 */
    uint16_t kern_scale;  /* kerning values are scaled by kern_scale / 16 */
    uint16_t cmap_num : 9;
    uint16_t bpp : 4;
    uint16_t kern_classes : 1;
    uint16_t bitmap_format : 2;
    uint32_t last_letter; /* cache of the last look-up */
    uint32_t last_glyph_id;
} lv_font_fmt_txt_dsc_t;

bool lv_font_get_glyph_dsc_fmt_txt(
    const lv_font_t *font, lv_font_glyph_dsc_t *dsc_out, uint32_t unicode_letter, uint32_t unicode_letter_next);
const uint8_t *lv_font_get_bitmap_fmt_txt(const lv_font_t *font, uint32_t unicode_letter);

/* Decodes a compressed bitmap of w x h pixels of `bpp` bits into `out`, packed as the
 * plain format packs it (rows back to back, MSB first). */
void _lv_font_fmt_txt_decompress(
    const uint8_t *in, uint8_t *out, lv_coord_t w, lv_coord_t h, uint8_t bpp, bool prefilter);

/* Frees the decompression buffer. */
void _lv_font_fmt_txt_deinit(void);

#endif

#include "lv_font_fmt_txt.h"

#include <cstring>

#include "lv_mem.h"

namespace {

/* Buffer of the last decompressed glyph. */
uint8_t *decompr_buf;
size_t decompr_size;

const lv_font_fmt_txt_dsc_t *dsc_of(const lv_font_t *font) {
    return static_cast<const lv_font_fmt_txt_dsc_t *>(font->dsc);
}

int32_t sparse_index(const uint16_t *list, uint16_t len, uint32_t ofs) {
    int32_t lo = 0, hi = (int32_t)len - 1;
    while (lo <= hi) {
        int32_t mid = (lo + hi) / 2;
        if (list[mid] == ofs) return mid;
        if (list[mid] < ofs)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

uint32_t glyph_id_in_cmap(const lv_font_fmt_txt_cmap_t *cmap, uint32_t letter) {
    if (letter < cmap->range_start) return 0;
    uint32_t ofs = letter - cmap->range_start;
    if (ofs >= cmap->range_length) return 0;

    switch (cmap->type) {
    case LV_FONT_FMT_TXT_CMAP_FORMAT0_TINY: return cmap->glyph_id_start + ofs;
    case LV_FONT_FMT_TXT_CMAP_FORMAT0_FULL: {
        auto *ofs_list = static_cast<const uint8_t *>(cmap->glyph_id_ofs_list);
        return cmap->glyph_id_start + ofs_list[ofs];
    }
    case LV_FONT_FMT_TXT_CMAP_SPARSE_TINY: {
        int32_t i = sparse_index(cmap->unicode_list, cmap->list_length, ofs);
        return i < 0 ? 0 : cmap->glyph_id_start + (uint32_t)i;
    }
    case LV_FONT_FMT_TXT_CMAP_SPARSE_FULL: {
        int32_t i = sparse_index(cmap->unicode_list, cmap->list_length, ofs);
        auto *ofs_list = static_cast<const uint16_t *>(cmap->glyph_id_ofs_list);
        return i < 0 ? 0 : cmap->glyph_id_start + ofs_list[i];
    }
    }
    return 0;
}

/* Glyph id of a letter, 0 when the font has none. */
uint32_t glyph_id(const lv_font_t *font, uint32_t letter) {
    if (letter == 0) return 0;
    auto *fdsc = const_cast<lv_font_fmt_txt_dsc_t *>(dsc_of(font));
    if (letter == fdsc->last_letter && fdsc->last_glyph_id != 0) return fdsc->last_glyph_id;

    uint32_t id = 0;
    for (uint16_t i = 0; i < fdsc->cmap_num && id == 0; i++) id = glyph_id_in_cmap(&fdsc->cmaps[i], letter);
    fdsc->last_letter = letter;
    fdsc->last_glyph_id = id;
    return id;
}

/* Kerning between two glyphs in 4.4 fixed point, before kern_scale. */
int8_t kern_value(const lv_font_fmt_txt_dsc_t *fdsc, uint32_t left, uint32_t right) {
    if (fdsc->kern_dsc == nullptr || fdsc->kern_classes == 0) return 0;
    auto *k = static_cast<const lv_font_fmt_txt_kern_classes_t *>(fdsc->kern_dsc);
    uint8_t lc = k->left_class_mapping[left];
    uint8_t rc = k->right_class_mapping[right];
    if (lc == 0 || rc == 0) return 0;
    return k->class_pair_values[(lc - 1) * k->right_class_cnt + (rc - 1)];
}

/* Reads big-endian bit fields, MSB first. */
struct BitReader {
    const uint8_t *in;
    uint32_t pos;

    uint8_t read(uint8_t bits) {
        uint32_t v = 0;
        for (uint8_t i = 0; i < bits; i++, pos++) v = (v << 1) | ((in[pos >> 3] >> (7 - (pos & 7))) & 1U);
        return (uint8_t)v;
    }
};

/*
 * Run-length decoder of the converter's glyph streams. A value written twice in a row
 * opens a run: each following 1 bit repeats it, a 0 bit ends the run; the eleventh
 * 1 bit is followed by a 6-bit counter of the values left in the run. The first value
 * after a run never opens a new one (long runs are cut in pieces of the same value).
 */
class RleDecoder {
public:
    RleDecoder(const uint8_t *in, uint8_t bpp) : bits_{in, 0}, bpp_(bpp) {}

    uint8_t next() {
        switch (state_) {
        case State::Single: return literal(true);
        case State::Repeat:
            if (bits_.read(1) == 0) {
                state_ = State::Single;
                return literal(false);
            }
            if (++ones_ < kBitRepeatLimit) return prev_;
            /* The eleventh 1 bit is followed by the counter: together they stand
                 * for `counter` more values. */
            count_ = bits_.read(kCounterBits);
            if (count_ == 0) {
                state_ = State::Single;
                return literal(false);
            }
            state_ = --count_ > 0 ? State::Counter : State::AfterRun;
            return prev_;
        case State::Counter:
            if (--count_ == 0) state_ = State::AfterRun;
            return prev_;
        case State::AfterRun: state_ = State::Single; return literal(false);
        }
        return 0;
    }

private:
    enum class State { Single, Repeat, Counter, AfterRun };
    static constexpr uint8_t kBitRepeatLimit = 11;
    static constexpr uint8_t kCounterBits = 6;

    uint8_t literal(bool may_open_run) {
        uint8_t v = bits_.read(bpp_);
        if (may_open_run && have_prev_ && v == prev_) {
            state_ = State::Repeat;
            ones_ = 0;
        }
        have_prev_ = true;
        prev_ = v;
        return v;
    }

    BitReader bits_;
    uint8_t bpp_;
    State state_ = State::Single;
    uint8_t prev_ = 0;
    bool have_prev_ = false;
    uint8_t ones_ = 0;
    uint8_t count_ = 0;
};

void put_bits(uint8_t *out, uint32_t index, uint8_t bpp, uint8_t v) {
    if (bpp == 8) {
        out[index] = v;
        return;
    }
    uint32_t bit = index * bpp;
    uint8_t shift = (uint8_t)(8 - bpp - (bit & 7));
    out[bit >> 3] = (uint8_t)(out[bit >> 3] | (v << shift));
}

}  // namespace

void _lv_font_fmt_txt_decompress(
    const uint8_t *in, uint8_t *out, lv_coord_t w, lv_coord_t h, uint8_t bpp, bool prefilter) {
    if (w <= 0 || h <= 0) return;
    std::memset(out, 0, ((size_t)w * (size_t)h * bpp + 7) / 8);

    /* One row of decoded values is needed to undo the XOR with the row above. */
    uint8_t row_buf[2][256];
    uint8_t *prev = row_buf[0];
    uint8_t *cur = row_buf[1];
    RleDecoder rle(in, bpp);
    for (lv_coord_t y = 0; y < h; y++) {
        for (lv_coord_t x = 0; x < w; x++) {
            uint8_t v = rle.next();
            if (prefilter && y > 0) v ^= prev[x];
            cur[x] = v;
            put_bits(out, (uint32_t)y * (uint32_t)w + (uint32_t)x, bpp, v);
        }
        uint8_t *t = prev;
        prev = cur;
        cur = t;
    }
}

void _lv_font_fmt_txt_deinit(void) {
    lv_mem_free(decompr_buf);
    decompr_buf = nullptr;
    decompr_size = 0;
}

const uint8_t *lv_font_get_bitmap_fmt_txt(const lv_font_t *font, uint32_t unicode_letter) {
    const lv_font_fmt_txt_dsc_t *fdsc = dsc_of(font);
    uint32_t gid = glyph_id(font, unicode_letter);
    if (gid == 0) return nullptr;

    const lv_font_fmt_txt_glyph_dsc_t *g = &fdsc->glyph_dsc[gid];
    const uint8_t *src = &fdsc->glyph_bitmap[g->bitmap_index];
    if (fdsc->bitmap_format == LV_FONT_FMT_TXT_PLAIN) return src;

    size_t size = ((size_t)g->box_w * g->box_h * fdsc->bpp + 7) / 8;
    if (size > decompr_size) {
        auto *grown = static_cast<uint8_t *>(lv_mem_realloc(decompr_buf, size));
        if (grown == nullptr) return nullptr;
        decompr_buf = grown;
        decompr_size = size;
    }
    _lv_font_fmt_txt_decompress(
        src, decompr_buf, g->box_w, g->box_h, (uint8_t)fdsc->bpp, fdsc->bitmap_format == LV_FONT_FMT_TXT_COMPRESSED);
    return decompr_buf;
}

bool lv_font_get_glyph_dsc_fmt_txt(
    const lv_font_t *font, lv_font_glyph_dsc_t *dsc_out, uint32_t unicode_letter, uint32_t unicode_letter_next) {
    const lv_font_fmt_txt_dsc_t *fdsc = dsc_of(font);
    uint32_t gid = glyph_id(font, unicode_letter);
    if (gid == 0) return false;

    int32_t kv = 0;
    if (fdsc->kern_dsc != nullptr) {
        uint32_t gid_next = glyph_id(font, unicode_letter_next);
        if (gid_next != 0) kv = ((int32_t)kern_value(fdsc, gid, gid_next) * fdsc->kern_scale) >> 4;
    }

    const lv_font_fmt_txt_glyph_dsc_t *g = &fdsc->glyph_dsc[gid];
    int32_t adv_w = (int32_t)g->adv_w;
    adv_w += kv;
    adv_w = (adv_w + (1 << 3)) >> 4;
    if (adv_w < 0) adv_w = 0;

    dsc_out->adv_w = (uint16_t)adv_w;
    dsc_out->box_w = g->box_w;
    dsc_out->box_h = g->box_h;
    dsc_out->ofs_x = g->ofs_x;
    dsc_out->ofs_y = g->ofs_y;
    dsc_out->bpp = (uint8_t)fdsc->bpp;
    return true;
}

// The application's fonts: every interface text can be drawn, and the compressed glyphs
// decode to the converter's uncompressed ones.
#include <set>

#include "app_fonts.h"
#include "i18n_packs.h"
#include "lvgl.h"
#include "ui_texts.h"
#include <gtest/gtest.h>

LV_FONT_DECLARE(ref_font_15_plain)

namespace {

std::set<uint32_t> letters_of(const char *text) {
    std::set<uint32_t> out;
    uint32_t i = 0;
    while (text[i] != '\0') {
        uint32_t c = _lv_txt_encoded_next(text, &i);
        if (c != '\n') out.insert(c);
    }
    return out;
}

std::set<uint32_t> interface_letters() {
    std::set<uint32_t> all;
    for (const i18n_lang *const *pack = i18n_packs; *pack != nullptr; pack++) {
        for (const i18n_phrase *p = (*pack)->singular; p != nullptr && p->key != nullptr; p++) {
            all.merge(letters_of(p->key));
            if (p->text != nullptr) all.merge(letters_of(p->text));
        }
    }
    for (const char *t : UI_TEXTS_UNTRANSLATED) all.merge(letters_of(t));
    return all;
}

TEST(AppFonts, HoldEveryLetterOfTheInterfaceTexts) {
    std::set<uint32_t> letters = interface_letters();
    size_t non_ascii = 0;
    for (uint32_t c : letters) {
        if (c > 0x7E) non_ascii++;
        lv_font_glyph_dsc_t g;
        EXPECT_TRUE(lv_font_get_glyph_dsc(&app_font_19, &g, c, 0)) << "19 px font lacks U+" << std::hex << c;
        EXPECT_TRUE(lv_font_get_glyph_dsc(&app_font_15, &g, c, 0)) << "15 px font lacks U+" << std::hex << c;
    }
    EXPECT_EQ(non_ascii, 178u);
    // A code just past the ASCII range is not taken for the first glyph after it.
    lv_font_glyph_dsc_t g;
    EXPECT_FALSE(lv_font_get_glyph_dsc(&app_font_19, &g, 0x7F, 0));
    EXPECT_FALSE(lv_font_get_glyph_dsc(&lv_font_dejavu_16, &g, 0x7F, 0));
}

TEST(AppFonts, CompressedGlyphsDecodeToThePlainOnes) {
    // The reference holds ASCII and the first CJK letters, uncompressed.
    std::set<uint32_t> letters;
    for (uint32_t c = 0x20; c <= 0x7E; c++) letters.insert(c);
    for (uint32_t c : interface_letters()) {
        lv_font_glyph_dsc_t g;
        if (c > 0x7E && lv_font_get_glyph_dsc(&ref_font_15_plain, &g, c, 0)) letters.insert(c);
    }
    ASSERT_GT(letters.size(), 100u);
    for (uint32_t c : letters) {
        lv_font_glyph_dsc_t packed, plain;
        ASSERT_TRUE(lv_font_get_glyph_dsc(&app_font_15, &packed, c, 0));
        ASSERT_TRUE(lv_font_get_glyph_dsc(&ref_font_15_plain, &plain, c, 0));
        ASSERT_EQ(packed.box_w, plain.box_w);
        ASSERT_EQ(packed.box_h, plain.box_h);
        size_t n = (size_t)packed.box_w * packed.box_h;
        std::vector<uint8_t> a(
            lv_font_get_glyph_bitmap(&app_font_15, c), lv_font_get_glyph_bitmap(&app_font_15, c) + n);
        const uint8_t *b = lv_font_get_glyph_bitmap(&ref_font_15_plain, c);
        for (size_t k = 0; k < n; k++) {
            ASSERT_EQ(a[k], b[k]) << "U+" << std::hex << c << " pixel " << std::dec << k;
        }
    }
    _lv_font_fmt_txt_deinit();
}

}  // namespace

/*
 * The interface's language packs. Every interface text is written in Chinese; the
 * "en-US" pack translates them. A phrase table ends with an entry whose key is null.
 */
#ifndef I18N_PACKS_H
#define I18N_PACKS_H

#include <cstdint>

struct i18n_phrase {
    const char *key;
    const char *text; /* null: no translation */
};

enum { I18N_PLURAL_CATEGORY_COUNT = 6 }; /* zero, one, two, few, many, other */

struct i18n_lang {
    const char *locale;
    const i18n_phrase *singular;                           /* may be null */
    const i18n_phrase *plural[I18N_PLURAL_CATEGORY_COUNT]; /* may be null */
    uint8_t (*plural_category)(int32_t n);
};

/* The packs, "zh-CN" then "en-US", ending with a null entry. */
extern const i18n_lang *const i18n_packs[];

/* Plural categories: 1 one, 5 other. */
uint8_t i18n_plural_zh_cn(int32_t n);
uint8_t i18n_plural_en_us(int32_t n);

#endif

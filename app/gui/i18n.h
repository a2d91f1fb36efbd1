/* Translation of the interface texts. Every text is written in Chinese in
 * the screens and looked up with i18n_get_text when its screen is built:
 * "zh-CN" gives the key itself, "en-US" its English text, or the key when
 * the pack has no entry for it. A language switch takes effect when the
 * screens are rebuilt. GUI thread only. */
#ifndef I18N_H
#define I18N_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct i18n_lang;

/* Keeps the null-terminated pack list and makes its first pack current: 0,
 * or -1 when the list or its first pack is null. */
int i18n_init(const struct i18n_lang *const *packs);
/* 0 when a pack of that exact name exists (it becomes current); else -1 and
 * the current pack stays (also before i18n_init). */
int i18n_set_locale(const char *locale);
/* The current pack's text for `key`, else the first pack's, else the key
 * itself; never null for a non-null key. */
const char *i18n_get_text(const char *key);

/* The application's packs, {"zh-CN", "en-US", null}. */
const struct i18n_lang *const *i18n_app_packs(void);

#ifdef __cplusplus
}
#endif

#endif

// Looking texts up in the language packs.
#include "i18n.h"

#include <cstring>

#include "i18n_packs.h"

namespace {

const i18n_lang *const *g_packs;
const i18n_lang *g_current;

const char *find(const i18n_lang *pack, const char *key) {
    if (!pack->singular) return nullptr;
    for (const i18n_phrase *p = pack->singular; p->key; ++p)
        if (p->text && std::strcmp(p->key, key) == 0) return p->text;
    return nullptr;
}

}  // namespace

extern "C" {

int i18n_init(const i18n_lang *const *packs) {
    if (!packs || !packs[0]) return -1;
    g_packs = packs;
    g_current = packs[0];
    return 0;
}

int i18n_set_locale(const char *locale) {
    if (!g_packs || !locale) return -1;
    for (const i18n_lang *const *p = g_packs; *p; ++p) {
        if (std::strcmp((*p)->locale, locale) == 0) {
            g_current = *p;
            return 0;
        }
    }
    return -1;
}

const char *i18n_get_text(const char *key) {
    if (!g_current || !key) return key;
    if (const char *text = find(g_current, key)) return text;
    if (g_current == g_packs[0]) return key;
    const char *text = find(g_packs[0], key);
    return text ? text : key;
}

const i18n_lang *const *i18n_app_packs(void) { return i18n_packs; }

}  // extern "C"

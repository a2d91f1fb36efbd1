// The environment vector of a process.
#include <string.h>

#include "zel_linux_process.h"
#include "zel_trace.h"

namespace {

// True when `entry` is "name=...".
bool names(const char *entry, const char *name, size_t n) {
    return entry && strncmp(entry, name, n) == 0 && entry[n] == '=';
}

size_t env_count(char **env) {
    size_t n = 0;
    while (env && env[n]) ++n;
    return n;
}

}  // namespace

extern "C" {

int zel_linux_putenv_p(zel_linux_process_t *process, char *entry) {
    zel_linux_process_t *p = process ? process : zel_linux_get_cur_process();
    if (!entry) return -1;
    const char *eq = strchr(entry, '=');
    size_t count = env_count(p->environ);
    if (!eq) {
        // A bare name removes every entry of that name; the last entry fills the gap.
        size_t n = strlen(entry);
        size_t i = 0;
        while (i < count) {
            if (names(p->environ[i], entry, n)) {
                zel_linux_free_p(p, p->environ[i]);
                p->environ[i] = p->environ[count - 1];
                p->environ[--count] = nullptr;
            } else {
                ++i;
            }
        }
        return 0;
    }
    size_t n = static_cast<size_t>(eq - entry);
    for (size_t i = 0; i < count; ++i) {
        if (names(p->environ[i], entry, n)) {
            if (p->environ[i] != entry) zel_linux_free_p(p, p->environ[i]);
            p->environ[i] = entry;
            return 0;
        }
    }
    char **grown = static_cast<char **>(zel_linux_realloc_p(p, p->environ, (count + 2) * sizeof(char *)));
    if (!grown) return -1;
    grown[count] = entry;
    grown[count + 1] = nullptr;
    p->environ = grown;
    return 0;
}

int zel_linux_setenv_p(zel_linux_process_t *process, const char *name, const char *value, int overwrite) {
    zel_linux_process_t *p = process ? process : zel_linux_get_cur_process();
    if (!name || !*name || strchr(name, '=')) return -1;
    if (!value) value = "";
    if (!overwrite && zel_linux_getenv_p(p, name)) return 0;
    size_t n = strlen(name);
    size_t v = strlen(value);
    char *entry = static_cast<char *>(zel_linux_malloc_p(p, n + v + 2));
    if (!entry) return -1;
    memcpy(entry, name, n);
    entry[n] = '=';
    memcpy(entry + n + 1, value, v + 1);
    if (zel_linux_putenv_p(p, entry) != 0) {
        zel_linux_free_p(p, entry);
        return -1;
    }
    return 0;
}

char *zel_linux_getenv_p(zel_linux_process_t *process, const char *name) {
    zel_linux_process_t *p = process ? process : zel_linux_get_cur_process();
    if (!name || !p->environ) return nullptr;
    size_t n = strlen(name);
    for (char **e = p->environ; *e; ++e)
        if (names(*e, name, n)) return *e + n + 1;
    return nullptr;
}

int zel_linux_child_putenv(zel_linux_process_t *process, char *const *strings) {
    for (size_t i = 0; strings && strings[i]; ++i) {
        char *copy = zel_linux_strdup_p(process, strings[i]);
        if (!copy) return -1;
        if (zel_linux_putenv_p(process, copy) != 0) {
            zel_linux_free_p(process, copy);
            return -1;
        }
    }
    return 0;
}

}  // extern "C"

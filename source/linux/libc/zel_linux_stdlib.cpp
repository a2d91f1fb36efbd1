// Environment calls, conversions, strtok, strerror and basename.
#include "zel_linux_stdlib.h"

#include <stdlib.h>
#include <string.h>

#include "zel_host.h"
#include "zel_linux_process.h"

namespace {

struct strtok_data {
    char *next;
};
static_assert(sizeof(strtok_data) <= ZEL_LINUX_LIBC_AREA / 2);

const zel_linux_dynlib_desc_t g_strtok_module = {
    &zel_linux_libc_slot, 1, ZEL_LINUX_LIBC_MODULES, ZEL_LINUX_LIBC_AREA, sizeof(strtok_data), nullptr};

// Runs a host conversion and hands its errno (Linux numbering, like the
// layer's) to the calling thread.
template <typename F>
auto convert(F f) {
    int saved = zel_host_errno();
    zel_host_set_errno(0);
    auto r = f();
    if (int e = zel_host_errno(); e != 0) zel_linux_set_errno(e);
    zel_host_set_errno(saved);
    return r;
}

}  // namespace

extern "C" {

int32_t zel_linux_libc_slot = -1;

char *zel_linux_getenv(const char *name) { return name ? zel_linux_getenv_p(nullptr, name) : nullptr; }

int zel_linux_setenv(const char *name, const char *value, int overwrite) {
    if (!name || !*name || strchr(name, '=')) return -1;
    return zel_linux_setenv_p(nullptr, name, value ? value : "", overwrite);
}

int zel_linux_putenv_copy(zel_linux_process_t *process, const char *entry) {
    zel_linux_process_t *p = process ? process : zel_linux_get_cur_process();
    char *copy = zel_linux_strdup_p(p, entry);
    if (!copy) return -2;
    int r = zel_linux_putenv_p(p, copy);
    // A removal, or a failure, leaves the copy unused.
    if (r != 0 || !strchr(copy, '=')) zel_linux_free_p(p, copy);
    return r;
}

int zel_linux_putenv(char *entry) { return entry && zel_linux_putenv_copy(nullptr, entry) == 0 ? 0 : -1; }

long zel_linux_strtol(const char *text, char **end, int base) {
    return convert([&] { return strtol(text, end, base); });
}
unsigned long zel_linux_strtoul(const char *text, char **end, int base) {
    return convert([&] { return strtoul(text, end, base); });
}
long long zel_linux_strtoll(const char *text, char **end, int base) {
    return convert([&] { return strtoll(text, end, base); });
}
unsigned long long zel_linux_strtoull(const char *text, char **end, int base) {
    return convert([&] { return strtoull(text, end, base); });
}
double zel_linux_strtod(const char *text, char **end) {
    return convert([&] { return strtod(text, end); });
}
int zel_linux_atoi(const char *text) { return static_cast<int>(zel_linux_strtol(text, nullptr, 10)); }
long zel_linux_atol(const char *text) { return zel_linux_strtol(text, nullptr, 10); }

char *zel_linux_strtok(char *text, const char *separators) {
    auto *data = static_cast<strtok_data *>(zel_linux_dynlib_get(&g_strtok_module));
    if (!data || !separators || (!text && !data->next)) return nullptr;
    return strtok_r(text, separators, &data->next);
}

char *zel_linux_strerror(int) { return const_cast<char *>("unknown"); }

void zel_linux_assert_fail(const char *condition, const char *file, int line, const char *function) {
    zel_linux_fprintf(zel_linux_stderr(), "%s:%d: %s: assertion \"%s\" failed\r\n", file, line, function, condition);
    zel_linux_exit(-1);
}

char *zel_linux_path_base(char *path) {
    if (!path || !*path) return const_cast<char *>(".");
    size_t n = strlen(path);
    if (n >= 2 && path[n - 1] == '/') path[n - 1] = '\0';
    char *slash = strrchr(path, '/');
    return (slash && slash[1]) ? slash + 1 : path;
}

}  // extern "C"

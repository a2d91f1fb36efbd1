// Path generation and the working directory.
#include <string.h>

#include "zel_linux_process.h"

namespace {

bool is_sep(char c) { return c == '/' || c == '\\'; }

// Normalises an absolute path in place, one component at a time: empty
// components and "." are dropped, ".." removes the component before it. A
// separator at the end is kept. Answers 0, or -2 when ".." climbs above the
// root. The result is never longer than the text.
int normalise(char *s) {
    size_t r = 0;
    size_t w = 1;  // s[0] stays the root separator
    size_t len = strlen(s);
    bool trailing = len > 1 && is_sep(s[len - 1]);
    s[0] = '/';
    while (r < len) {
        while (r < len && is_sep(s[r])) ++r;
        if (r >= len) break;
        size_t start = r;
        while (r < len && !is_sep(s[r])) ++r;
        size_t n = r - start;
        if (n == 1 && s[start] == '.') continue;
        if (n == 2 && s[start] == '.' && s[start + 1] == '.') {
            if (w == 1) return -2;
            while (w > 1 && s[w - 1] != '/') --w;
            if (w > 1) --w;  // the separator before the removed component
            continue;
        }
        if (w > 1) s[w++] = '/';
        memmove(s + w, s + start, n);
        w += n;
    }
    if (trailing && w > 1) s[w++] = '/';
    s[w] = '\0';
    return 0;
}

}  // namespace

extern "C" {

int zel_linux_generate_path(char *out, size_t size, const char *dir, const char *name) {
    if (!out || !name || size == 0) return -12;
    if (!dir) {
        dir = zel_linux_get_cur_process()->cwd;
        if (!dir) dir = "/";
        if (strlen(dir) >= ZEL_LINUX_PATH_MAX) {
            zel_linux_set_errno(ZEL_LINUX_ERANGE);
            return -12;
        }
    }
    size_t nlen = strlen(name);
    if (is_sep(name[0])) {
        if (nlen >= size) return -12;
        memcpy(out, name, nlen + 1);
    } else {
        size_t dlen = strlen(dir);
        bool dir_rooted = dlen && is_sep(dir[0]);
        // A relative directory (never the case for a process) counts from the root.
        size_t need = (dir_rooted ? 0 : 1) + dlen + 1 + nlen;
        if (need >= size) return -12;
        size_t w = 0;
        if (!dir_rooted) out[w++] = '/';
        memcpy(out + w, dir, dlen);
        w += dlen;
        if (w == 0 || !is_sep(out[w - 1])) out[w++] = '/';
        memcpy(out + w, name, nlen + 1);
    }
    return normalise(out);
}

char *zel_linux_getcwd(char *buffer, size_t size) {
    const char *cwd = zel_linux_get_cur_process()->cwd;
    if (!cwd) cwd = "/";
    size_t n = strlen(cwd);
    if (!buffer || n >= size) {
        zel_linux_set_errno(ZEL_LINUX_ERANGE);
        return nullptr;
    }
    memcpy(buffer, cwd, n + 1);
    return buffer;
}

}  // extern "C"

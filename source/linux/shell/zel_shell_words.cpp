// Words of a command line: splitting, quote removal and variable expansion.
#include <string.h>

#include "zel_linux_process.h"
#include "zel_shell.h"
#include "zel_shell_internal.h"

namespace {

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The value of the variable whose name is the `n` bytes at `name`, in the
// current process's environment; null when it is not set.
const char *value_of(const char *name, size_t n) {
    char **env = zel_linux_get_cur_process()->environ;
    for (size_t i = 0; env && env[i]; ++i)
        if (strncmp(env[i], name, n) == 0 && env[i][n] == '=') return env[i] + n + 1;
    return nullptr;
}

// Copies `n` bytes into buf at `at` as far as size allows.
void put(char *buf, size_t size, size_t at, const char *text, size_t n) {
    if (!buf || at + 1 >= size) return;
    size_t room = size - 1 - at;
    memcpy(buf + at, text, n < room ? n : room);
}

// Where the text of a quote that opens at `open` ends: its closing quote, or
// the end of the text when it is unmatched.
char *quote_end(char *open) {
    char *close = strchr(open + 1, *open);
    return close ? close : open + strlen(open);
}

}  // namespace

extern "C" {

bool zel_shell_is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

char *zel_shell_skip_quote(char *at) {
    char *end = quote_end(at);
    return *end ? end + 1 : end;
}

char *zel_shell_find_unquoted(char *text, const char *token) {
    size_t n = strlen(token);
    for (char *p = text; *p;) {
        if (*p == '\'' || *p == '"') {
            p = zel_shell_skip_quote(p);
        } else if (strncmp(p, token, n) == 0) {
            return p;
        } else {
            ++p;
        }
    }
    return nullptr;
}

char *zel_shell_next_word(char **cursor) {
    char *p = *cursor;
    while (*p && zel_shell_is_space(*p)) ++p;
    if (!*p) {
        *cursor = p;
        return nullptr;
    }
    char *word = p;
    while (*p && !zel_shell_is_space(*p)) p = (*p == '\'' || *p == '"') ? zel_shell_skip_quote(p) : p + 1;
    while (*p && zel_shell_is_space(*p)) *p++ = '\0';
    *cursor = p;
    return word;
}

int zel_shell_expand_vars(const char *text, char *buf, size_t size) {
    size_t length = 0;
    for (const char *p = text; *p;) {
        if (*p != '$') {
            put(buf, size, length++, p++, 1);
            continue;
        }
        const char *name = p + 1;
        bool braced = *name == '{';
        if (braced) ++name;
        const char *end = name;
        while (is_name_char(*end)) ++end;
        if (end == name || (braced && *end != '}')) return -1;
        const char *value = value_of(name, static_cast<size_t>(end - name));
        if (value) {
            size_t n = strlen(value);
            put(buf, size, length, value, n);
            length += n;
        }
        p = braced ? end + 1 : end;
    }
    if (buf && size) buf[length < size ? length : size - 1] = '\0';
    return length > INT32_MAX ? -1 : static_cast<int>(length);
}

int zel_shell_expand_arg(zel_linux_process_t *process, const char *text, char **out) {
    int n = zel_shell_expand_vars(text, nullptr, 0);
    if (n < 0) {
        zel_linux_printf("fail to parse argument %s\r\n", text);
        return -1;
    }
    size_t have = *out ? strlen(*out) : 0;
    char *grown = static_cast<char *>(zel_linux_realloc_p(process, *out, have + static_cast<size_t>(n) + 1));
    if (!grown) {
        zel_linux_printf("fail to allocate buffer to parse argument %s\r\n", text);
        return -1;
    }
    *out = grown;
    zel_shell_expand_vars(text, grown + have, static_cast<size_t>(n) + 1);
    return 0;
}

char *zel_shell_expand_word(zel_linux_process_t *process, char *word) {
    if (!strchr(word, '$')) {
        // Quote removal in place.
        char *to = word;
        for (char *p = word; *p;) {
            if (*p == '\'' || *p == '"') {
                char *end = quote_end(p);
                size_t n = static_cast<size_t>(end - p - 1);
                memmove(to, p + 1, n);
                to += n;
                p = *end ? end + 1 : end;
            } else {
                *to++ = *p++;
            }
        }
        *to = '\0';
        return word;
    }
    char *out = zel_linux_strdup_p(process, "");
    if (!out) {
        zel_linux_printf("fail to allocate buffer to parse argument %s\r\n", word);
        return nullptr;
    }
    for (char *p = word; *p;) {
        char *end;
        char *text = p;
        bool literal = false;
        if (*p == '\'' || *p == '"') {
            literal = *p == '\'';
            text = p + 1;
            end = quote_end(p);
        } else {
            end = p;
            while (*end && *end != '\'' && *end != '"') ++end;
        }
        char saved = *end;
        *end = '\0';
        int r;
        if (literal) {
            size_t have = strlen(out);
            size_t n = strlen(text);
            char *grown = static_cast<char *>(zel_linux_realloc_p(process, out, have + n + 1));
            r = grown ? 0 : -1;
            if (grown) {
                memcpy(grown + have, text, n + 1);
                out = grown;
            } else {
                zel_linux_printf("fail to allocate buffer to parse argument %s\r\n", text);
            }
        } else {
            r = zel_shell_expand_arg(process, text, &out);
        }
        *end = saved;
        if (r != 0) {
            zel_linux_free_p(process, out);
            return nullptr;
        }
        p = (text != p && *end) ? end + 1 : end;
    }
    return out;
}

}  // extern "C"

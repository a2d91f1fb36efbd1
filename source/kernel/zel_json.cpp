// In-place JSON reader: path walk over objects and arrays, string copy.
#include "zel_json.h"

#include <limits.h>

namespace {

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_sep(char c) { return c == '/' || c == '\\'; }
bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_close(char c) { return c == '}' || c == ']'; }

const char *skip_ws(const char *p) {
    while (is_ws(*p)) ++p;
    return p;
}

// Walks the elements of one object or array. `pos` is the current element;
// every step scans it to its end, so nested containers and strings are
// stepped over whole. The end of the text ends the walk.
struct element_iter {
    const char *pos;
    bool first;

    // Start of the element that follows `p` (just past a separating comma),
    // or null when the container ends there.
    const char *land(const char *p) {
        p = skip_ws(p);
        if (*p == 0 || is_close(*p)) return nullptr;
        pos = p;
        return p;
    }

    const char *next() {
        if (first) {
            first = false;
            if (*pos == 0 || *pos == ',' || is_close(*pos)) return nullptr;
            return pos;
        }
        bool in_string = false;
        unsigned braces = 0, brackets = 0;
        for (const char *p = pos; *p; ++p) {
            char c = *p;
            if (in_string) {
                if (c == '\\') {
                    if (p[1] == 0) return nullptr;
                    ++p;
                } else if (c == '"') {
                    in_string = false;
                }
                continue;
            }
            switch (c) {
            case '"': in_string = true; break;
            case '\\': return nullptr;  // a backslash outside a string: invalid text
            case '{': ++braces; break;
            case '[': ++brackets; break;
            case '}':
            case ']': {
                if (braces == 0 && brackets == 0) return nullptr;  // the container ends
                unsigned &depth = c == '}' ? braces : brackets;
                if (depth == 0) return nullptr;  // mismatched bracket
                --depth;
                if (braces == 0 && brackets == 0) {
                    // A nested element ended: a comma must follow.
                    const char *q = skip_ws(p + 1);
                    if (*q != ',') return nullptr;
                    return land(q + 1);
                }
                break;
            }
            case ',':
                if (braces == 0 && brackets == 0) return land(p + 1);
                break;
            default: break;
            }
        }
        return nullptr;  // the text ended inside the element
    }
};

// An array index over the component [s, e): decimal, 0x hexadecimal or
// leading-0 octal; reading stops at the first character that is not a digit
// of the base; too large a value saturates.
uint64_t parse_index(const char *s, const char *e) {
    unsigned base = 10;
    if (e - s >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    } else if (s < e && s[0] == '0') {
        base = 8;
    }
    uint64_t v = 0;
    for (; s < e; ++s) {
        char c = *s;
        unsigned d;
        if (c >= '0' && c <= '9')
            d = unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = unsigned(c - 'A' + 10);
        else
            break;
        if (d >= base) break;
        if (v > (UINT64_MAX - d) / base) return UINT64_MAX;
        v = v * base + d;
    }
    return v;
}

const char *find_index(element_iter &it, uint64_t index) {
    for (uint64_t i = 0;; ++i) {
        const char *el = it.next();
        if (!el || i == index) return el;
    }
}

const char *find_key(element_iter &it, const char *key, size_t klen) {
    while (const char *el = it.next()) {
        if (*el != '"') return nullptr;
        size_t i = 0;
        while (i < klen && el[1 + i] == key[i]) ++i;  // stops at the terminator too
        if (i != klen || el[1 + klen] != '"') continue;
        const char *p = skip_ws(el + klen + 2);
        if (*p != ':') return nullptr;
        p = skip_ws(p + 1);
        return *p ? p : nullptr;
    }
    return nullptr;
}

}  // namespace

extern "C" {

int zel_json_get_type(const char *v) {
    if (!v) return ZEL_JSON_OTHER;
    switch (*v) {
    case '{': return ZEL_JSON_OBJECT;
    case '[': return ZEL_JSON_ARRAY;
    case '"': return ZEL_JSON_STRING;
    default: break;
    }
    if (*v >= '0' && *v <= '9') return ZEL_JSON_NUMBER;
    struct word {
        const char *text;
        size_t len;
        int type;
    };
    static const word words[] = {
        {"true", 4, ZEL_JSON_BOOLEAN}, {"false", 5, ZEL_JSON_BOOLEAN}, {"null", 4, ZEL_JSON_NULL}};
    for (const word &w : words) {
        size_t i = 0;
        while (i < w.len && v[i] == w.text[i]) ++i;  // stops at the terminator
        if (i == w.len && !is_alnum(v[i])) return w.type;
    }
    return ZEL_JSON_OTHER;
}

const char *zel_json_get(const char *json, const char *path) {
    if (!json || !path) return nullptr;
    const char *p = path;
    if (is_sep(*p)) ++p;
    if (*p == 0) return json;
    const char *cur = json;
    for (;;) {
        int type = zel_json_get_type(cur);
        if (type != ZEL_JSON_OBJECT && type != ZEL_JSON_ARRAY) return nullptr;
        const char *inner = skip_ws(cur + 1);
        if (*inner == 0) return nullptr;
        const char *end = p;
        while (*end && !is_sep(*end)) ++end;
        element_iter it{inner, true};
        const char *value =
            type == ZEL_JSON_ARRAY ? find_index(it, parse_index(p, end)) : find_key(it, p, size_t(end - p));
        if (!value) return nullptr;
        p = end;
        if (is_sep(*p)) ++p;
        if (*p == 0) return value;
        cur = value;
    }
}

int32_t zel_json_get_string(const char *value, char *buffer, size_t size) {
    if (!value || *value != '"') return ZEL_JSON_ERR_NOT_STRING;
    size_t count = 0;
    const char *p = value + 1;
    for (;;) {
        char c = *p;
        if (c == 0) return ZEL_JSON_ERR_NOT_STRING;  // the string never closes
        if (c == '"') break;
        if (c == '\\') {
            switch (p[1]) {
            case '"': c = '"'; break;
            case '/': c = '/'; break;
            case '\\': c = '\\'; break;
            case 'b': c = 8; break;
            case 'f': c = 12; break;
            case 'n': c = 10; break;
            case 'r': c = 13; break;
            case 't': c = 9; break;
            case 'u':
                // The backslash and the u are dropped; the four hex digits
                // that follow are copied as ordinary characters.
                p += 2;
                continue;
            default: return ZEL_JSON_ERR_NOT_STRING;  // also a backslash at the very end
            }
            p += 2;
        } else {
            ++p;
        }
        if (buffer) {
            if (count >= size) return ZEL_JSON_ERR_SMALL;
            buffer[count] = c;
        }
        ++count;
    }
    if (buffer) {
        if (count >= size) return ZEL_JSON_ERR_SMALL;
        buffer[count] = 0;
    }
    return count + 1 > size_t(INT32_MAX) ? ZEL_JSON_ERR_SMALL : int32_t(count + 1);
}

}  // extern "C"

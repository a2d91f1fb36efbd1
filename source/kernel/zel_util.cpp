// Small utilities.
#include "zel_util.h"

#include <stdio.h>
#include <stdlib.h>

extern "C" {

int zel_msb32(uint32_t v) { return v ? 31 - __builtin_clz(v) : -1; }
int zel_fls32(uint32_t v) { return zel_msb32(v); }
int zel_ffs32(uint32_t v) { return zel_msb32(v & (0u - v)); }
int zel_ffs32_i8(uint32_t v) { return zel_ffs32(v); }
int zel_ffz32(uint32_t v) { return zel_ffs32(~v); }
int zel_ffz32_i8(uint32_t v) { return zel_ffz32(v); }

void zel_bitmap_reset(zel_bitmap_t *bitmap, int n) {
    if (n > 0) memset(bitmap, 0, static_cast<size_t>((n + 7) / 8));
}

static int bitmap_search(const zel_bitmap_t *bitmap, int n, bool zero) {
    if (n < 1) return -1;
    int words = (n + 31) / 32;
    for (int w = 0; w < words; ++w) {
        int bit = zero ? zel_ffz32(bitmap[w]) : zel_ffs32(bitmap[w]);
        if (bit >= 0) {
            int index = 32 * w + bit;
            return index < n ? index : -1;
        }
    }
    return -1;
}

int zel_bitmap_ffz(const zel_bitmap_t *bitmap, int n) { return bitmap_search(bitmap, n, true); }
int zel_bitmap_ffs(const zel_bitmap_t *bitmap, int n) { return bitmap_search(bitmap, n, false); }

void zel_slist_append(void **head, void *node, size_t link_offset) {
    auto link = [link_offset](void *rec) { return reinterpret_cast<void **>(static_cast<char *>(rec) + link_offset); };
    *link(node) = nullptr;
    if (!*head) {
        *head = node;
        return;
    }
    void *cur = *head;
    while (*link(cur)) cur = *link(cur);
    *link(cur) = node;
}

int zel_sprintf(char *buffer, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsprintf(buffer, format, ap);
    va_end(ap);
    return n;
}

int zel_sscanf(const char *text, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = zel_vsscanf(text, strlen(text), format, ap);
    va_end(ap);
    return n;
}

static bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Characters that strtol, strtoul or strtof may take: white space, signs,
// digits, letters (hexadecimal digits, exponents, "inf", "nan(...)") and the
// point.
static bool may_be_numeric(char c) {
    return is_ws(c) || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' ||
           c == '-' || c == '.' || c == '(' || c == ')' || c == '_';
}

// Converts one number at `t` (at most `avail` characters, and at most
// `width` when it is not 0) with the C library and stores it in the next
// argument; answers the characters it took, 0 when none. The number is
// converted in place when a character that cannot belong to it ends it
// within the limit; otherwise the limited text is copied and terminated (to
// the C library's heap when it does not fit the scratch buffer, so that the
// scanner needs no framework state).
static size_t convert_number(const char *t, size_t avail, unsigned long long width, char letter, va_list &ap) {
    const size_t limit = width && width < avail ? static_cast<size_t>(width) : avail;
    size_t run = 0;
    while (run < limit && t[run] && may_be_numeric(t[run])) run++;
    char scratch[32];
    char *copy = nullptr;
    const char *text = t;
    if (run == limit) {
        copy = limit < sizeof scratch ? scratch : static_cast<char *>(malloc(limit + 1));
        if (!copy) return 0;
        memcpy(copy, t, limit);
        copy[limit] = 0;
        text = copy;
    }
    char *e = const_cast<char *>(text);
    if (letter == 'd' || letter == 'i') {
        long v = strtol(text, &e, 10);
        if (e != text) *va_arg(ap, int32_t *) = static_cast<int32_t>(v);
    } else if (letter == 'f') {
        float v = strtof(text, &e);
        if (e != text) *va_arg(ap, float *) = v;
    } else {
        int base = letter == 'u' ? 10 : letter == 'o' ? 8 : 16;
        unsigned long v = strtoul(text, &e, base);
        if (e != text) *va_arg(ap, uint32_t *) = static_cast<uint32_t>(v);
    }
    const size_t taken = static_cast<size_t>(e - text);
    if (copy && copy != scratch) free(copy);
    return taken;
}

int zel_vsscanf(const char *text, size_t length, const char *format, va_list args) {
    va_list ap;
    va_copy(ap, args);
    const char *t = text;
    const char *end = text + length;
    const char *f = format;
    int count = 0;
    auto at_end = [&]() { return t >= end || *t == 0; };

    while (*f && !at_end()) {
        // 1. white space in the text
        while (!at_end() && is_ws(*t)) t++;
        // 2. walk the format
        bool mismatch = false;
        while (*f) {
            if (*f == ' ') {
                f++;
                break;  // back to step 1
            }
            if (*f != '%') {
                if (at_end() || *t != *f) {
                    mismatch = true;
                    break;
                }
                t++;
                f++;
                continue;
            }
            f++;  // past '%'
            if (*f == '*') {
                f++;  // what follows is matched as literal text
                continue;
            }
            unsigned long long width = 0;
            if (*f >= '0' && *f <= '9') {
                char *e;
                width = strtoull(f, &e, 0);
                f = e;
            }
            char letter = *f;
            if (letter == 0) break;
            f++;
            if (letter == 'd' || letter == 'i' || letter == 'u' || letter == 'o' || letter == 'x' || letter == 'X' ||
                letter == 'f') {
                const size_t consumed = convert_number(t, static_cast<size_t>(end - t), width, letter, ap);
                if (!consumed) {
                    mismatch = true;
                    break;
                }
                t += consumed;
                count++;
                break;  // next round starts at step 1
            }
            if (letter == 'c') {
                if (at_end()) {
                    mismatch = true;
                    break;
                }
                *va_arg(ap, char *) = *t++;
                count++;
                break;
            }
            if (letter == 's') {
                char *out = va_arg(ap, char *);
                size_t limit = width ? static_cast<size_t>(width) - 1 : SIZE_MAX;
                size_t k = 0;
                while (!at_end() && !is_ws(*t) && k < limit) out[k++] = *t++;
                out[k] = 0;
                count++;
                break;
            }
            if (letter == '[') {
                const char *close = strchr(f, ']');
                if (!close) {
                    va_end(ap);
                    return -1;
                }
                const char *set = f;
                size_t setlen = static_cast<size_t>(close - f);
                f = close + 1;
                char *out = va_arg(ap, char *);
                size_t limit = width ? static_cast<size_t>(width) : SIZE_MAX;
                size_t k = 0;
                while (!at_end() && k < limit && setlen && memchr(set, *t, setlen)) out[k++] = *t++;
                count++;
                break;
            }
            // any other letter (h, l, L, '%', ...): consumed, converts nothing
        }
        if (mismatch) break;
    }
    va_end(ap);
    return count;
}

void zel_idx_ring_init(zel_idx_ring_t *ring, uint16_t size) {
    memset(ring, 0, sizeof *ring);
    ring->size = size;
}

static uint16_t min3(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t m = a < b ? a : b;
    return static_cast<uint16_t>(m < c ? m : c);
}

int zel_idx_ring_write(zel_idx_ring_t *ring, uint16_t *n) {
    if (ring->length >= ring->size) return -1;
    int pos = ring->head;
    *n = min3(*n, ring->size - ring->head, ring->size - ring->length);
    ring->head = static_cast<uint16_t>(ring->head + *n);
    if (ring->head >= ring->size) ring->head = 0;
    ring->length = static_cast<uint16_t>(ring->length + *n);
    return pos;
}

int zel_idx_ring_read(zel_idx_ring_t *ring, uint16_t *n) {
    if (ring->length == 0) return -1;
    int pos = ring->tail;
    *n = min3(*n, ring->size - ring->tail, ring->length);
    ring->tail = static_cast<uint16_t>(ring->tail + *n);
    if (ring->tail >= ring->size) ring->tail = 0;
    ring->length = static_cast<uint16_t>(ring->length - *n);
    ring->peek = ring->tail;
    ring->peeked = 0;
    return pos;
}

int zel_idx_ring_peek(zel_idx_ring_t *ring, uint16_t *n) {
    uint16_t unpeeked = static_cast<uint16_t>(ring->length - ring->peeked);
    if (unpeeked == 0) return -1;
    int pos = ring->peek;
    *n = min3(*n, ring->size - ring->peek, unpeeked);
    ring->peek = static_cast<uint16_t>(ring->peek + *n);
    if (ring->peek >= ring->size) ring->peek = 0;
    ring->peeked = static_cast<uint16_t>(ring->peeked + *n);
    return pos;
}

int zel_idx_ring_peek_one(zel_idx_ring_t *ring) {
    uint16_t one = 1;
    return zel_idx_ring_peek(ring, &one);
}

void zel_idx_ring_peek_commit(zel_idx_ring_t *ring) {
    ring->tail = ring->peek;
    ring->length = static_cast<uint16_t>(ring->length - ring->peeked);
    ring->peeked = 0;
}

void zel_idx_ring_peek_reset(zel_idx_ring_t *ring) {
    ring->peek = ring->tail;
    ring->peeked = 0;
}

uint16_t zel_idx_ring_length(const zel_idx_ring_t *ring) { return ring->length; }
uint16_t zel_idx_ring_unpeeked_length(const zel_idx_ring_t *ring) {
    return static_cast<uint16_t>(ring->length - ring->peeked);
}

}  // extern "C"

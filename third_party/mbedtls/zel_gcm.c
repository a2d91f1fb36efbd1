/* GCM for the layer's mbedTLS build, in place of the library's own (see
 * overlay/gcm_alt.h).
 *
 * The library's GCM encrypts one counter block and multiplies one block
 * into the hash at a time. Here, on a processor with the AES and
 * carry-less multiply instructions, eight counter blocks go through the AES
 * rounds side by side and eight ciphertext blocks enter the hash with one
 * reduction: ((X ^ C0) H^8) ^ (C1 H^7) ^ ... ^ (C7 H). Without those
 * instructions (or when asked, for the tests) the cipher context encrypts
 * and a portable multiply hashes, block by block; it takes the same time
 * whatever the key and the data (no branch, no table).
 *
 * The calls keep the library's contract: mbedtls_gcm_update takes whole
 * blocks except in its last call before mbedtls_gcm_finish, the output may
 * start at or before the input but not inside it, and the same length and
 * tag limits answer MBEDTLS_ERR_GCM_BAD_INPUT. */
#include "mbedtls/gcm.h"

#include <stdlib.h>
#include <string.h>

#include "mbedtls/aes.h"
#include "mbedtls/aesni.h"
#include "mbedtls/platform_util.h"

#if defined(MBEDTLS_AESNI_HAVE_CODE) && defined(__GNUC__) && defined(__x86_64__)
#define ZEL_GCM_CLMUL 1
#include <emmintrin.h>
#include <tmmintrin.h>
#include <wmmintrin.h>
#define ZEL_GCM_TARGET __attribute__((target("aes,pclmul,ssse3")))
#else
#define ZEL_GCM_CLMUL 0
#endif

static int g_force_portable;

void zel_gcm_force_portable(int on) { g_force_portable = on; }

/* The portable path is asked for: by the call above, or by the environment
 * variable ZEL_GCM_PORTABLE set to anything but "" or "0" when the key is
 * set (so that a whole TLS download can be run on it). */
static int portable_asked(void) {
    if (g_force_portable) return 1;
    const char *v = getenv("ZEL_GCM_PORTABLE");
    return v != NULL && v[0] != 0 && strcmp(v, "0") != 0;
}

static uint32_t get_be32(const unsigned char *p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

static void put_be32(uint32_t v, unsigned char *p) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

static uint64_t get_be64(const unsigned char *p) { return ((uint64_t)get_be32(p) << 32) | get_be32(p + 4); }

static void put_be64(uint64_t v, unsigned char *p) {
    put_be32((uint32_t)(v >> 32), p);
    put_be32((uint32_t)v, p + 4);
}

/* ---- the portable path --------------------------------------------------- */

/* Nothing here branches on, or indexes memory with, the hash key or the
 * data: the products come from integer multiplies of operands masked so
 * that carries cannot reach the bits that are kept.
 *
 * A 64-bit operand is cut into five parts, part c holding the bits whose
 * position is c modulo 5 (at most 13 bits each). In the integer product of
 * two such parts every column of the carry-less product lies five bits from
 * the next and sums at most 13 ones, which fits in the four bits between
 * them: bit p of the integer product is bit p of the carry-less product for
 * every p of the class (a + b) mod 5, and the classes are kept by masks. */

__extension__ typedef unsigned __int128 u128_t;

/* Bits 0, 5, 10, ... 60 of a 64-bit word; class c is this shifted by c. */
#define CLASS0 0x1084210842108421ull

static inline uint64_t class_mask(int c) { return CLASS0 << c; }

/* The 128-bit mask of class c: above bit 64 the classes move on by one,
 * since 64 is 4 modulo 5. */
static inline u128_t wide_mask(int c) {
    return ((u128_t)class_mask((c + 1) % 5) << 64) | class_mask(c);
}

/* Carry-less 64 x 64 -> 128-bit product, written out: no loop, no index. */
static inline u128_t clmul64(uint64_t x, uint64_t y) {
    const uint64_t x0 = x & class_mask(0), x1 = x & class_mask(1), x2 = x & class_mask(2), x3 = x & class_mask(3),
                   x4 = x & class_mask(4);
    const uint64_t y0 = y & class_mask(0), y1 = y & class_mask(1), y2 = y & class_mask(2), y3 = y & class_mask(3),
                   y4 = y & class_mask(4);
#define MUL(a, b) ((u128_t)(a) * (b))
    const u128_t z0 = MUL(x0, y0) ^ MUL(x1, y4) ^ MUL(x2, y3) ^ MUL(x3, y2) ^ MUL(x4, y1);
    const u128_t z1 = MUL(x0, y1) ^ MUL(x1, y0) ^ MUL(x2, y4) ^ MUL(x3, y3) ^ MUL(x4, y2);
    const u128_t z2 = MUL(x0, y2) ^ MUL(x1, y1) ^ MUL(x2, y0) ^ MUL(x3, y4) ^ MUL(x4, y3);
    const u128_t z3 = MUL(x0, y3) ^ MUL(x1, y2) ^ MUL(x2, y1) ^ MUL(x3, y0) ^ MUL(x4, y4);
    const u128_t z4 = MUL(x0, y4) ^ MUL(x1, y3) ^ MUL(x2, y2) ^ MUL(x3, y1) ^ MUL(x4, y0);
#undef MUL
    return (z0 & wide_mask(0)) | (z1 & wide_mask(1)) | (z2 & wide_mask(2)) | (z3 & wide_mask(3)) |
           (z4 & wide_mask(4));
}

/* x = x * h in GF(2^128) with GCM's bit order: the first bit of the first
 * byte is the lowest power, so the block read as a big-endian 128-bit
 * number holds the polynomial bit-reversed. The product of two reversed
 * polynomials is the reversed product one bit too low; after the shift,
 * the low 128 bits (the powers from 128 up) fold into the high ones by
 * x^128 = x^7 + x^2 + x + 1. */
__attribute__((noinline)) static void portable_mult(unsigned char x[16], const unsigned char h[16]) {
    const uint64_t a1 = get_be64(x), a0 = get_be64(x + 8);
    const uint64_t b1 = get_be64(h), b0 = get_be64(h + 8);
    /* Karatsuba: three 64-bit products. */
    const u128_t lo = clmul64(a0, b0);
    const u128_t hi = clmul64(a1, b1);
    const u128_t mid = clmul64(a0 ^ a1, b0 ^ b1) ^ lo ^ hi;
    uint64_t w0 = (uint64_t)lo;
    uint64_t w1 = (uint64_t)(lo >> 64) ^ (uint64_t)mid;
    uint64_t w2 = (uint64_t)hi ^ (uint64_t)(mid >> 64);
    uint64_t w3 = (uint64_t)(hi >> 64);
    /* w3:w2:w1:w0 <<= 1 */
    w3 = (w3 << 1) | (w2 >> 63);
    w2 = (w2 << 1) | (w1 >> 63);
    w1 = (w1 << 1) | (w0 >> 63);
    w0 <<= 1;
    /* Bit p of w0 stands for x^(255 - p) = x^(127 - p) * x^128: it lands on
     * bits p + 128, p + 127, p + 126 and p + 121. The bits it adds to w1 are
     * folded with w1's own. */
    w2 ^= w0 ^ (w0 >> 1) ^ (w0 >> 2) ^ (w0 >> 7);
    w1 ^= (w0 << 63) ^ (w0 << 62) ^ (w0 << 57);
    w3 ^= w1 ^ (w1 >> 1) ^ (w1 >> 2) ^ (w1 >> 7);
    w2 ^= (w1 << 63) ^ (w1 << 62) ^ (w1 << 57);
    put_be64(w3, x);
    put_be64(w2, x + 8);
}

/* ---- the instruction path ------------------------------------------------ */

#if ZEL_GCM_CLMUL

/* Blocks are byte-reversed for the carry-less multiply, so that the
 * polynomial's bits lie in the register in one order. */
ZEL_GCM_TARGET static inline __m128i reverse(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}

/* A 256-bit product before its reduction: lo, hi and the middle term. */
typedef struct {
    __m128i lo, mid, hi;
} wide_t;

ZEL_GCM_TARGET static inline void mul_add(wide_t *acc, __m128i a, __m128i b) {
    acc->lo = _mm_xor_si128(acc->lo, _mm_clmulepi64_si128(a, b, 0x00));
    acc->hi = _mm_xor_si128(acc->hi, _mm_clmulepi64_si128(a, b, 0x11));
    acc->mid = _mm_xor_si128(acc->mid, _mm_clmulepi64_si128(a, b, 0x01));
    acc->mid = _mm_xor_si128(acc->mid, _mm_clmulepi64_si128(a, b, 0x10));
}

/* The 256-bit product modulo x^128 + x^7 + x^2 + x + 1. With reversed bit
 * order the product sits one bit too low: it is shifted left by one first. */
ZEL_GCM_TARGET static inline __m128i reduce(wide_t w) {
    __m128i lo = _mm_xor_si128(w.lo, _mm_slli_si128(w.mid, 8));
    __m128i hi = _mm_xor_si128(w.hi, _mm_srli_si128(w.mid, 8));

    /* hi:lo <<= 1 */
    __m128i lo_top = _mm_srli_epi32(lo, 31);
    __m128i hi_top = _mm_srli_epi32(hi, 31);
    lo = _mm_slli_epi32(lo, 1);
    hi = _mm_slli_epi32(hi, 1);
    __m128i across = _mm_srli_si128(lo_top, 12);
    lo = _mm_or_si128(lo, _mm_slli_si128(lo_top, 4));
    hi = _mm_or_si128(hi, _mm_slli_si128(hi_top, 4));
    hi = _mm_or_si128(hi, across);

    /* fold the low half in: first the words that spill over the top ... */
    __m128i t = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi32(lo, 31), _mm_slli_epi32(lo, 30)), _mm_slli_epi32(lo, 25));
    __m128i spill = _mm_srli_si128(t, 4);
    lo = _mm_xor_si128(lo, _mm_slli_si128(t, 12));
    /* ... then the rest */
    __m128i u = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi32(lo, 1), _mm_srli_epi32(lo, 2)), _mm_srli_epi32(lo, 7));
    u = _mm_xor_si128(u, spill);
    lo = _mm_xor_si128(lo, u);
    return _mm_xor_si128(hi, lo);
}

ZEL_GCM_TARGET static inline __m128i mult(__m128i a, __m128i b) {
    wide_t w = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    mul_add(&w, a, b);
    return reduce(w);
}

ZEL_GCM_TARGET static void clmul_powers(mbedtls_gcm_context *ctx) {
    const __m128i h = reverse(_mm_loadu_si128((const __m128i *)ctx->h));
    __m128i p = h;
    for (int i = 0; i < ZEL_GCM_WIDE; ++i) {
        _mm_storeu_si128((__m128i *)ctx->h_pow[i], p);
        p = mult(p, h);
    }
}

ZEL_GCM_TARGET static void clmul_mult(mbedtls_gcm_context *ctx, unsigned char x[16]) {
    const __m128i h = _mm_loadu_si128((const __m128i *)ctx->h_pow[0]);
    __m128i v = reverse(_mm_loadu_si128((const __m128i *)x));
    _mm_storeu_si128((__m128i *)x, reverse(mult(v, h)));
}

/* Counter blocks are kept byte-reversed in a register: the big-endian
 * 32-bit counter of the last four bytes is then the low lane, which
 * _mm_add_epi32 steps modulo 2^32 as GCM's increment does, and no block
 * goes through memory. */
ZEL_GCM_TARGET static inline __m128i next_counter(__m128i *ctr) {
    *ctr = _mm_add_epi32(*ctr, _mm_set_epi32(0, 0, 0, 1));
    return reverse(*ctr);
}

/* Encrypts or decrypts the whole blocks of `length` (a multiple of 16),
 * counting on from ctx->y and hashing into ctx->buf: eight blocks side by
 * side through the AES rounds and into the hash with one reduction while
 * eight remain, then one at a time. */
ZEL_GCM_TARGET static void clmul_blocks(mbedtls_gcm_context *ctx, size_t length, const unsigned char *input,
                                        unsigned char *output) {
    const mbedtls_aes_context *aes = (const mbedtls_aes_context *)ctx->cipher_ctx.cipher_ctx;
    const int rounds = aes->nr;
    __m128i rk[15];
    for (int r = 0; r <= rounds; ++r) rk[r] = _mm_loadu_si128((const __m128i *)aes->rk + r);
    __m128i h[ZEL_GCM_WIDE];
    for (int k = 0; k < ZEL_GCM_WIDE; ++k) h[k] = _mm_loadu_si128((const __m128i *)ctx->h_pow[k]);
    const int decrypt = ctx->mode == MBEDTLS_GCM_DECRYPT;
    __m128i acc = reverse(_mm_loadu_si128((const __m128i *)ctx->buf));
    __m128i ctr = reverse(_mm_loadu_si128((const __m128i *)ctx->y));

    while (length >= 16) {
        const int n = length >= 16 * ZEL_GCM_WIDE ? ZEL_GCM_WIDE : 1;
        __m128i x[ZEL_GCM_WIDE];
        for (int k = 0; k < n; ++k) x[k] = _mm_xor_si128(next_counter(&ctr), rk[0]);
        for (int r = 1; r < rounds; ++r)
            for (int k = 0; k < n; ++k) x[k] = _mm_aesenc_si128(x[k], rk[r]);
        wide_t w = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
        for (int k = 0; k < n; ++k) {
            const __m128i in = _mm_loadu_si128((const __m128i *)(input + 16 * k));
            const __m128i out = _mm_xor_si128(_mm_aesenclast_si128(x[k], rk[rounds]), in);
            _mm_storeu_si128((__m128i *)(output + 16 * k), out);
            __m128i c = reverse(decrypt ? in : out);
            if (k == 0) c = _mm_xor_si128(acc, c);
            /* (X ^ C0) H^n ^ C1 H^(n-1) ^ ... ^ C(n-1) H */
            mul_add(&w, c, h[n - 1 - k]);
        }
        acc = reduce(w);
        input += 16 * n;
        output += 16 * n;
        length -= 16 * (size_t)n;
    }
    _mm_storeu_si128((__m128i *)ctx->y, reverse(ctr));
    _mm_storeu_si128((__m128i *)ctx->buf, reverse(acc));
    mbedtls_platform_zeroize(rk, sizeof rk);
}

#endif

/* ---- shared steps --------------------------------------------------------- */

static void hash_mult(mbedtls_gcm_context *ctx, unsigned char x[16]) {
#if ZEL_GCM_CLMUL
    if (ctx->clmul) {
        clmul_mult(ctx, x);
        return;
    }
#endif
    portable_mult(x, ctx->h);
}

static int encrypt_block(mbedtls_gcm_context *ctx, const unsigned char in[16], unsigned char out[16]) {
    size_t olen = 0;
    return mbedtls_cipher_update(&ctx->cipher_ctx, in, 16, out, &olen);
}

/* Hashes `length` bytes of `data` into x, zero-padding the last block. */
static void hash_bytes(mbedtls_gcm_context *ctx, unsigned char x[16], const unsigned char *data, size_t length) {
    while (length > 0) {
        const size_t use = length < 16 ? length : 16;
        for (size_t i = 0; i < use; ++i) x[i] ^= data[i];
        hash_mult(ctx, x);
        data += use;
        length -= use;
    }
}

/* One block, whole or the last part of one, block by block. */
static int crypt_one(mbedtls_gcm_context *ctx, size_t use, const unsigned char *in, unsigned char *out) {
    for (int i = 16; i > 12; --i)
        if (++ctx->y[i - 1] != 0) break;
    unsigned char ectr[16];
    const int ret = encrypt_block(ctx, ctx->y, ectr);
    if (ret != 0) return ret;
    for (size_t i = 0; i < use; ++i) {
        if (ctx->mode == MBEDTLS_GCM_DECRYPT) ctx->buf[i] ^= in[i];
        out[i] = ectr[i] ^ in[i];
        if (ctx->mode == MBEDTLS_GCM_ENCRYPT) ctx->buf[i] ^= out[i];
    }
    hash_mult(ctx, ctx->buf);
    mbedtls_platform_zeroize(ectr, sizeof ectr);
    return 0;
}

/* ---- the calls ------------------------------------------------------------- */

void mbedtls_gcm_init(mbedtls_gcm_context *ctx) { memset(ctx, 0, sizeof *ctx); }

int mbedtls_gcm_setkey(mbedtls_gcm_context *ctx, mbedtls_cipher_id_t cipher, const unsigned char *key,
                       unsigned int keybits) {
    const mbedtls_cipher_info_t *info = mbedtls_cipher_info_from_values(cipher, (int)keybits, MBEDTLS_MODE_ECB);
    if (info == NULL || info->block_size != 16) return MBEDTLS_ERR_GCM_BAD_INPUT;
    mbedtls_cipher_free(&ctx->cipher_ctx);
    int ret = mbedtls_cipher_setup(&ctx->cipher_ctx, info);
    if (ret != 0) return ret;
    ret = mbedtls_cipher_setkey(&ctx->cipher_ctx, key, (int)keybits, MBEDTLS_ENCRYPT);
    if (ret != 0) return ret;
    const unsigned char zero[16] = {0};
    ret = encrypt_block(ctx, zero, ctx->h);
    if (ret != 0) return ret;
    ctx->clmul = 0;
#if ZEL_GCM_CLMUL
    if (!portable_asked() && cipher == MBEDTLS_CIPHER_ID_AES && mbedtls_aesni_has_support(MBEDTLS_AESNI_AES) &&
        mbedtls_aesni_has_support(MBEDTLS_AESNI_CLMUL)) {
        clmul_powers(ctx);
        ctx->clmul = 1;
    }
#endif
    return 0;
}

int mbedtls_gcm_starts(mbedtls_gcm_context *ctx, int mode, const unsigned char *iv, size_t iv_len,
                       const unsigned char *add, size_t add_len) {
    /* IV and additional data are limited to 2^64 bits; the IV is not empty. */
    if (iv_len == 0 || ((uint64_t)iv_len) >> 61 != 0 || ((uint64_t)add_len) >> 61 != 0)
        return MBEDTLS_ERR_GCM_BAD_INPUT;
    memset(ctx->y, 0, sizeof ctx->y);
    memset(ctx->buf, 0, sizeof ctx->buf);
    ctx->mode = mode;
    ctx->len = 0;
    ctx->add_len = 0;
    if (iv_len == 12) {
        memcpy(ctx->y, iv, iv_len);
        ctx->y[15] = 1;
    } else {
        hash_bytes(ctx, ctx->y, iv, iv_len);
        unsigned char lengths[16] = {0};
        put_be64((uint64_t)iv_len * 8, lengths + 8);
        hash_bytes(ctx, ctx->y, lengths, 16);
    }
    const int ret = encrypt_block(ctx, ctx->y, ctx->base_ectr);
    if (ret != 0) return ret;
    ctx->add_len = add_len;
    hash_bytes(ctx, ctx->buf, add, add_len);
    return 0;
}

int mbedtls_gcm_update(mbedtls_gcm_context *ctx, size_t length, const unsigned char *input,
                       unsigned char *output) {
    if (output > input && (size_t)(output - input) < length) return MBEDTLS_ERR_GCM_BAD_INPUT;
    /* At most 2^36 - 32 bytes in all, and no overflow of the count. */
    if (ctx->len + length < ctx->len || (uint64_t)ctx->len + length > 0xFFFFFFFE0ull) return MBEDTLS_ERR_GCM_BAD_INPUT;
    ctx->len += length;
#if ZEL_GCM_CLMUL
    if (ctx->clmul && length >= 16) {
        const size_t whole = length & ~(size_t)15;
        clmul_blocks(ctx, whole, input, output);
        input += whole;
        output += whole;
        length -= whole;
    }
#endif
    while (length > 0) {
        const size_t use = length < 16 ? length : 16;
        const int ret = crypt_one(ctx, use, input, output);
        if (ret != 0) return ret;
        input += use;
        output += use;
        length -= use;
    }
    return 0;
}

int mbedtls_gcm_finish(mbedtls_gcm_context *ctx, unsigned char *tag, size_t tag_len) {
    if (tag_len > 16 || tag_len < 4) return MBEDTLS_ERR_GCM_BAD_INPUT;
    memcpy(tag, ctx->base_ectr, tag_len);
    if (ctx->len == 0 && ctx->add_len == 0) return 0;
    unsigned char lengths[16];
    put_be64(ctx->add_len * 8, lengths);
    put_be64(ctx->len * 8, lengths + 8);
    hash_bytes(ctx, ctx->buf, lengths, 16);
    for (size_t i = 0; i < tag_len; ++i) tag[i] ^= ctx->buf[i];
    return 0;
}

int mbedtls_gcm_crypt_and_tag(mbedtls_gcm_context *ctx, int mode, size_t length, const unsigned char *iv,
                              size_t iv_len, const unsigned char *add, size_t add_len, const unsigned char *input,
                              unsigned char *output, size_t tag_len, unsigned char *tag) {
    int ret = mbedtls_gcm_starts(ctx, mode, iv, iv_len, add, add_len);
    if (ret == 0) ret = mbedtls_gcm_update(ctx, length, input, output);
    if (ret == 0) ret = mbedtls_gcm_finish(ctx, tag, tag_len);
    return ret;
}

int mbedtls_gcm_auth_decrypt(mbedtls_gcm_context *ctx, size_t length, const unsigned char *iv, size_t iv_len,
                             const unsigned char *add, size_t add_len, const unsigned char *tag, size_t tag_len,
                             const unsigned char *input, unsigned char *output) {
    unsigned char check[16];
    const int ret = mbedtls_gcm_crypt_and_tag(ctx, MBEDTLS_GCM_DECRYPT, length, iv, iv_len, add, add_len, input,
                                              output, tag_len, check);
    if (ret != 0) return ret;
    /* Compared in constant time. */
    int diff = 0;
    for (size_t i = 0; i < tag_len; ++i) diff |= tag[i] ^ check[i];
    if (diff != 0) {
        mbedtls_platform_zeroize(output, length);
        return MBEDTLS_ERR_GCM_AUTH_FAILED;
    }
    return 0;
}

void mbedtls_gcm_free(mbedtls_gcm_context *ctx) {
    if (ctx == NULL) return;
    mbedtls_cipher_free(&ctx->cipher_ctx);
    mbedtls_platform_zeroize(ctx, sizeof *ctx);
}

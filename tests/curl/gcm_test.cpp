// The GCM of the layer's TLS library: known answers, both paths against
// OpenSSL's libcrypto and against each other on random inputs cut into
// random pieces (IVs of every length, counters that wrap), the environment
// switch to the portable path, and the refusals of the library's contract.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mbedtls/aesni.h"
#include "mbedtls/gcm.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string &text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

// A keyed context on one path; the path is fixed when the key is set.
struct Gcm {
    mbedtls_gcm_context ctx;
    Gcm(const Bytes &key, bool portable) {
        mbedtls_gcm_init(&ctx);
        zel_gcm_force_portable(portable ? 1 : 0);
        ok = mbedtls_gcm_setkey(&ctx, MBEDTLS_CIPHER_ID_AES, key.data(), static_cast<unsigned>(key.size() * 8)) == 0;
        zel_gcm_force_portable(0);
    }
    ~Gcm() { mbedtls_gcm_free(&ctx); }
    bool ok = false;
};

bool has_instructions() {
    return mbedtls_aesni_has_support(MBEDTLS_AESNI_AES) && mbedtls_aesni_has_support(MBEDTLS_AESNI_CLMUL);
}

struct Vector {
    const char *key, *iv, *aad, *plain, *cipher, *tag;
};

// The published AES-GCM test cases 1 to 5 (128-bit key; case 5 with a
// 64-bit IV, which goes through the hash).
const Vector kVectors[] = {
    {"00000000000000000000000000000000", "000000000000000000000000", "", "", "", "58e2fccefa7e3061367f1d57a4e7455a"},
    {"00000000000000000000000000000000", "000000000000000000000000", "", "00000000000000000000000000000000",
        "0388dace60b6a392f328c2b971b2fe78", "ab6e47d42cec13bdf53a67b21257bddf"},
    {"feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", "",
        "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255",
        "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091473f5985",
        "4d5c2af327cd64a62cf35abd2ba6fab4"},
    {"feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", "feedfacedeadbeeffeedfacedeadbeefabaddad2",
        "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39",
        "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091",
        "5bc94fbc3221a5db94fae95ae7121a47"},
    {"feffe9928665731c6d6a8f9467308308", "cafebabefacedbad", "feedfacedeadbeeffeedfacedeadbeefabaddad2",
        "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39",
        "61353b4c2806934a777ff51fa22a4755699b2a714fcdc6f83766e5f97b6c742373806900e49f24b22b097544d4896b424989b5e1ebac0f07c23f4598",
        "3612d2e79e3b0785561be14aaca2fccb"},
};

TEST(Gcm, KnownAnswersOnBothPaths) {
    for (bool portable : {false, true}) {
        for (const Vector &v : kVectors) {
            SCOPED_TRACE(std::string(portable ? "portable " : "instructions ") + v.tag);
            const Bytes key = hex(v.key), iv = hex(v.iv), aad = hex(v.aad), plain = hex(v.plain);
            Gcm g(key, portable);
            ASSERT_TRUE(g.ok);
            Bytes out(plain.size() + 1), tag(16);
            ASSERT_EQ(0, mbedtls_gcm_crypt_and_tag(&g.ctx, MBEDTLS_GCM_ENCRYPT, plain.size(), iv.data(), iv.size(),
                             aad.data(), aad.size(), plain.data(), out.data(), 16, tag.data()));
            out.resize(plain.size());
            EXPECT_EQ(hex(v.cipher), out);
            EXPECT_EQ(hex(v.tag), tag);
            Bytes back(out.size() + 1);
            EXPECT_EQ(0, mbedtls_gcm_auth_decrypt(&g.ctx, out.size(), iv.data(), iv.size(), aad.data(), aad.size(),
                             tag.data(), 16, out.data(), back.data()));
            back.resize(out.size());
            EXPECT_EQ(plain, back);
        }
    }
}

// Encrypts or decrypts `in` with updates of random whole-block sizes and a
// last one with the rest; answers the output and the tag.
void crypt_in_pieces(mbedtls_gcm_context *ctx, int mode, const Bytes &iv, const Bytes &aad, const Bytes &in,
    std::mt19937 &rng, Bytes &out, Bytes &tag) {
    out.assign(in.size(), 0);
    tag.assign(16, 0);
    ASSERT_EQ(0, mbedtls_gcm_starts(ctx, mode, iv.data(), iv.size(), aad.data(), aad.size()));
    size_t at = 0;
    while (in.size() - at >= 16 && rng() % 4 != 0) {
        size_t piece = 16 * (1 + rng() % 9);
        if (piece > in.size() - at) piece = (in.size() - at) / 16 * 16;
        ASSERT_EQ(0, mbedtls_gcm_update(ctx, piece, in.data() + at, out.data() + at));
        at += piece;
    }
    ASSERT_EQ(0, mbedtls_gcm_update(ctx, in.size() - at, in.data() + at, out.data() + at));
    ASSERT_EQ(0, mbedtls_gcm_finish(ctx, tag.data(), tag.size()));
}

TEST(Gcm, InstructionsAndPortablePathAgreeOnRandomInputs) {
    if (!has_instructions()) GTEST_SKIP() << "this processor has no AES and carry-less multiply instructions";
    std::mt19937 rng(20261207);
    int compared = 0;
    for (int round = 0; round < 1500; ++round) {
        const size_t key_bytes = 16 + 8 * (round % 3);
        Bytes key(key_bytes), iv(round % 4 == 0 ? 1 + rng() % 64 : 12), aad(round % 2 ? rng() % 80 : 0);
        Bytes plain(round % 5 == 0 ? 16 * (rng() % 70) : rng() % 1200);
        for (Bytes *b : {&key, &iv, &aad, &plain})
            for (auto &c : *b) c = static_cast<unsigned char>(rng());
        SCOPED_TRACE("round " + std::to_string(round));
        Gcm fast(key, false), slow(key, true);
        ASSERT_TRUE(fast.ok && slow.ok);
        ASSERT_TRUE(fast.ctx.clmul && !slow.ctx.clmul);
        Bytes c1, t1, c2, t2, p1, u1, p2, u2;
        crypt_in_pieces(&fast.ctx, MBEDTLS_GCM_ENCRYPT, iv, aad, plain, rng, c1, t1);
        crypt_in_pieces(&slow.ctx, MBEDTLS_GCM_ENCRYPT, iv, aad, plain, rng, c2, t2);
        ASSERT_EQ(c2, c1);
        ASSERT_EQ(t2, t1);
        crypt_in_pieces(&fast.ctx, MBEDTLS_GCM_DECRYPT, iv, aad, c1, rng, p1, u1);
        crypt_in_pieces(&slow.ctx, MBEDTLS_GCM_DECRYPT, iv, aad, c1, rng, p2, u2);
        ASSERT_EQ(plain, p1);
        ASSERT_EQ(plain, p2);
        ASSERT_EQ(t1, u1);
        ASSERT_EQ(t1, u2);
        ++compared;
    }
    EXPECT_EQ(1500, compared);
}

// ---- OpenSSL's AES-GCM, the outside answer ----

const EVP_CIPHER *openssl_gcm(size_t key_bytes) {
    return key_bytes == 16 ? EVP_aes_128_gcm() : key_bytes == 24 ? EVP_aes_192_gcm() : EVP_aes_256_gcm();
}

// Encrypts with OpenSSL; any IV length.
bool openssl_encrypt(
    const Bytes &key, const Bytes &iv, const Bytes &aad, const Bytes &plain, Bytes &cipher, Bytes &tag) {
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    int n = 0;
    cipher.assign(plain.size() + 16, 0);
    tag.assign(16, 0);
    bool ok = c && EVP_EncryptInit_ex(c, openssl_gcm(key.size()), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.size()), nullptr) == 1 &&
              EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), iv.data()) == 1 &&
              (aad.empty() || EVP_EncryptUpdate(c, nullptr, &n, aad.data(), static_cast<int>(aad.size())) == 1);
    int out = 0;
    if (ok && !plain.empty())
        ok = EVP_EncryptUpdate(c, cipher.data(), &out, plain.data(), static_cast<int>(plain.size())) == 1;
    ok = ok && EVP_EncryptFinal_ex(c, cipher.data() + out, &n) == 1 &&
         EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_GET_TAG, 16, tag.data()) == 1;
    cipher.resize(plain.size());
    EVP_CIPHER_CTX_free(c);
    return ok;
}

// AES-ECB of one block with OpenSSL (the hash key, and counter blocks).
Bytes openssl_block(const Bytes &key, const Bytes &in) {
    const EVP_CIPHER *ecb = key.size() == 16   ? EVP_aes_128_ecb()
                            : key.size() == 24 ? EVP_aes_192_ecb()
                                               : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    Bytes out(32);
    int n = 0;
    EVP_EncryptInit_ex(c, ecb, nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(c, 0);
    EVP_EncryptUpdate(c, out.data(), &n, in.data(), 16);
    EVP_CIPHER_CTX_free(c);
    out.resize(16);
    return out;
}

// GF(2^128) in GCM's bit order, bit by bit: the test's own reference.
Bytes gf_mult(const Bytes &x, const Bytes &y) {
    Bytes z(16, 0), v = y;
    for (int i = 0; i < 128; ++i) {
        if ((x[i / 8] >> (7 - i % 8)) & 1)
            for (int k = 0; k < 16; ++k) z[k] ^= v[k];
        const bool carry = v[15] & 1;
        for (int k = 15; k > 0; --k) v[k] = static_cast<unsigned char>((v[k] >> 1) | (v[k - 1] << 7));
        v[0] >>= 1;
        if (carry) v[0] ^= 0xE1;
    }
    return z;
}

Bytes gf_inverse(const Bytes &h) {  // h^(2^128 - 2)
    Bytes r = h, sq = h;
    for (int i = 1; i < 127; ++i) {  // r = h^(2^(i+1) - 1)
        sq = gf_mult(r, r);
        r = gf_mult(sq, h);
    }
    return gf_mult(r, r);
}

// A 16-byte IV whose first counter block (its hash) is `j0`:
// j0 = ((iv H) ^ L) H with L the length block of a 128-bit IV.
Bytes iv_for_counter(const Bytes &key, const Bytes &j0) {
    const Bytes h = openssl_block(key, Bytes(16, 0));
    const Bytes h_inv = gf_inverse(h);
    Bytes t = gf_mult(j0, h_inv);
    t[15] ^= 0x80;  // 128 bits of IV
    return gf_mult(t, h_inv);
}

TEST(Gcm, BothPathsAgreeWithOpenSslOnRandomInputs) {
    std::mt19937 rng(4242);
    int compared = 0;
    for (int round = 0; round < 600; ++round) {
        const size_t key_bytes = 16 + 8 * (round % 3);
        // IVs of 1 to 80 bytes, 12 in one round of three.
        Bytes key(key_bytes), iv(round % 3 == 0 ? 12 : 1 + rng() % 80), aad(rng() % 3 ? rng() % 100 : 0);
        Bytes plain(round % 4 == 0 ? 16 * (rng() % 80) : rng() % 1500);
        for (Bytes *b : {&key, &iv, &aad, &plain})
            for (auto &c : *b) c = static_cast<unsigned char>(rng());
        SCOPED_TRACE("round " + std::to_string(round) + ", IV of " + std::to_string(iv.size()));
        Bytes want, want_tag;
        ASSERT_TRUE(openssl_encrypt(key, iv, aad, plain, want, want_tag));
        for (bool portable : {false, true}) {
            SCOPED_TRACE(portable ? "portable" : "instructions");
            Gcm g(key, portable);
            ASSERT_TRUE(g.ok);
            Bytes got, tag, back, back_tag;
            crypt_in_pieces(&g.ctx, MBEDTLS_GCM_ENCRYPT, iv, aad, plain, rng, got, tag);
            ASSERT_EQ(want, got);
            ASSERT_EQ(want_tag, tag);
            crypt_in_pieces(&g.ctx, MBEDTLS_GCM_DECRYPT, iv, aad, want, rng, back, back_tag);
            ASSERT_EQ(plain, back);
            ASSERT_EQ(want_tag, back_tag);
            ++compared;
        }
    }
    EXPECT_EQ(1200, compared);
}

// The block counter is the last 32 bits of the counter block and wraps to
// 0 without carrying into the rest; with an IV chosen so that the first
// counter lies just below the wrap, every path must still agree with
// OpenSSL, whether the wrap falls inside a batch of blocks or between
// pieces.
TEST(Gcm, CounterWrapsInItsLastThirtyTwoBits) {
    std::mt19937 rng(99);
    int compared = 0;
    for (uint32_t start : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFDu, 0xFFFFFFFCu, 0xFFFFFFFBu, 0xFFFFFFF0u}) {
        for (size_t key_bytes : {size_t{16}, size_t{32}}) {
            Bytes key(key_bytes), j0(16), aad(20), plain(16 * 37 + 5);
            for (Bytes *b : {&key, &j0, &aad, &plain})
                for (auto &c : *b) c = static_cast<unsigned char>(rng());
            j0[12] = static_cast<unsigned char>(start >> 24);
            j0[13] = static_cast<unsigned char>(start >> 16);
            j0[14] = static_cast<unsigned char>(start >> 8);
            j0[15] = static_cast<unsigned char>(start);
            const Bytes iv = iv_for_counter(key, j0);
            SCOPED_TRACE("first counter " + std::to_string(start) + ", key of " + std::to_string(key_bytes));
            Bytes want, want_tag;
            ASSERT_TRUE(openssl_encrypt(key, iv, aad, plain, want, want_tag));
            for (bool portable : {false, true}) {
                Gcm g(key, portable);
                ASSERT_TRUE(g.ok);
                ASSERT_EQ(
                    0, mbedtls_gcm_starts(&g.ctx, MBEDTLS_GCM_ENCRYPT, iv.data(), iv.size(), aad.data(), aad.size()));
                ASSERT_EQ(j0, Bytes(g.ctx.y, g.ctx.y + 16)) << "the IV does not give the counter asked for";
                for (int pieces = 0; pieces < 3; ++pieces) {
                    Bytes got, tag;
                    crypt_in_pieces(&g.ctx, MBEDTLS_GCM_ENCRYPT, iv, aad, plain, rng, got, tag);
                    ASSERT_EQ(want, got) << (portable ? "portable" : "instructions");
                    ASSERT_EQ(want_tag, tag) << (portable ? "portable" : "instructions");
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(6 * 2 * 2 * 3, compared);
}

// ZEL_GCM_PORTABLE puts every key set while it is on the portable path,
// with the same answers.
TEST(Gcm, EnvironmentSwitchSelectsThePortablePath) {
    const Bytes key(16, 7), iv(12, 3), plain(333, 'x');
    Bytes c1(plain.size()), t1(16), c2(plain.size()), t2(16);
    {
        Gcm g(key, false);
        ASSERT_EQ(0, mbedtls_gcm_crypt_and_tag(&g.ctx, MBEDTLS_GCM_ENCRYPT, plain.size(), iv.data(), 12, nullptr, 0,
                         plain.data(), c1.data(), 16, t1.data()));
        EXPECT_EQ(has_instructions() ? 1 : 0, g.ctx.clmul);
    }
    ASSERT_EQ(0, setenv("ZEL_GCM_PORTABLE", "1", 1));
    {
        Gcm g(key, false);
        EXPECT_EQ(0, g.ctx.clmul);
        ASSERT_EQ(0, mbedtls_gcm_crypt_and_tag(&g.ctx, MBEDTLS_GCM_ENCRYPT, plain.size(), iv.data(), 12, nullptr, 0,
                         plain.data(), c2.data(), 16, t2.data()));
    }
    ASSERT_EQ(0, setenv("ZEL_GCM_PORTABLE", "0", 1));
    {
        Gcm g(key, false);
        EXPECT_EQ(has_instructions() ? 1 : 0, g.ctx.clmul) << "\"0\" turns it off";
    }
    ASSERT_EQ(0, unsetenv("ZEL_GCM_PORTABLE"));
    EXPECT_EQ(c1, c2);
    EXPECT_EQ(t1, t2);
}

// In place, and with the output a little before the input (as TLS records
// are decrypted), the result is the same as into a separate buffer.
TEST(Gcm, OutputAtOrBeforeTheInputOnBothPaths) {
    std::mt19937 rng(7);
    for (bool portable : {false, true}) {
        for (size_t back : {size_t{0}, size_t{5}, size_t{16}, size_t{40}}) {
            SCOPED_TRACE(std::to_string(portable) + " " + std::to_string(back));
            Bytes key(16), iv(12), plain(1000);
            for (Bytes *b : {&key, &iv, &plain})
                for (auto &c : *b) c = static_cast<unsigned char>(rng());
            Gcm g(key, portable);
            Bytes apart(plain.size()), tag(16), tag2(16);
            ASSERT_EQ(0, mbedtls_gcm_crypt_and_tag(&g.ctx, MBEDTLS_GCM_ENCRYPT, plain.size(), iv.data(), 12, nullptr, 0,
                             plain.data(), apart.data(), 16, tag.data()));
            Bytes shared(back + plain.size());
            std::memcpy(shared.data() + back, plain.data(), plain.size());
            ASSERT_EQ(0, mbedtls_gcm_crypt_and_tag(&g.ctx, MBEDTLS_GCM_ENCRYPT, plain.size(), iv.data(), 12, nullptr, 0,
                             shared.data() + back, shared.data(), 16, tag2.data()));
            EXPECT_EQ(apart, Bytes(shared.begin(), shared.begin() + static_cast<long>(plain.size())));
            EXPECT_EQ(tag, tag2);
        }
    }
}

TEST(Gcm, RefusalsOnBothPaths) {
    for (bool portable : {false, true}) {
        SCOPED_TRACE(portable ? "portable" : "instructions");
        Bytes key(32, 0x42), iv(12, 1), plain(100, 'p'), cipher(100), tag(16), out(100, 'x');
        Gcm g(key, portable);
        ASSERT_TRUE(g.ok);
        ASSERT_EQ(0, mbedtls_gcm_crypt_and_tag(&g.ctx, MBEDTLS_GCM_ENCRYPT, 100, iv.data(), 12, nullptr, 0,
                         plain.data(), cipher.data(), 16, tag.data()));
        // A changed byte of the text or of the tag fails, and nothing decrypted is left behind.
        Bytes bad = cipher;
        bad[77] ^= 0x10;
        EXPECT_EQ(MBEDTLS_ERR_GCM_AUTH_FAILED,
            mbedtls_gcm_auth_decrypt(&g.ctx, 100, iv.data(), 12, nullptr, 0, tag.data(), 16, bad.data(), out.data()));
        EXPECT_EQ(Bytes(100, 0), out);
        Bytes bad_tag = tag;
        bad_tag[15] ^= 1;
        EXPECT_EQ(MBEDTLS_ERR_GCM_AUTH_FAILED, mbedtls_gcm_auth_decrypt(&g.ctx, 100, iv.data(), 12, nullptr, 0,
                                                   bad_tag.data(), 16, cipher.data(), out.data()));
        // A shortened tag is checked on its bytes only.
        EXPECT_EQ(0,
            mbedtls_gcm_auth_decrypt(&g.ctx, 100, iv.data(), 12, nullptr, 0, tag.data(), 8, cipher.data(), out.data()));
        EXPECT_EQ(plain, out);

        Bytes t(16);
        EXPECT_EQ(MBEDTLS_ERR_GCM_BAD_INPUT, mbedtls_gcm_starts(&g.ctx, MBEDTLS_GCM_ENCRYPT, iv.data(), 0, nullptr, 0));
        ASSERT_EQ(0, mbedtls_gcm_starts(&g.ctx, MBEDTLS_GCM_ENCRYPT, iv.data(), 12, nullptr, 0));
        EXPECT_EQ(MBEDTLS_ERR_GCM_BAD_INPUT, mbedtls_gcm_update(&g.ctx, 64, plain.data(), plain.data() + 16))
            << "output inside the input";
        EXPECT_EQ(MBEDTLS_ERR_GCM_BAD_INPUT, mbedtls_gcm_finish(&g.ctx, t.data(), 3));
        EXPECT_EQ(MBEDTLS_ERR_GCM_BAD_INPUT, mbedtls_gcm_finish(&g.ctx, t.data(), 17));
        Gcm wrong(Bytes(20, 1), portable);
        EXPECT_FALSE(wrong.ok) << "a 160-bit key";
    }
}

}  // namespace

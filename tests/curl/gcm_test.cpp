// The GCM of the layer's TLS library: known answers, the instruction path
// against the portable one on random inputs cut into random pieces, and the
// refusals of the library's contract.
#include <gtest/gtest.h>

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

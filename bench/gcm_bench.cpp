// GCM benchmark: our portable path (the GHASH without carry-less multiply
// instructions) against the TLS library's own table-driven GCM, in the same
// run, over the same AES; and our instruction path for scale. Two figures
// each: whole AES-GCM on 16 KiB records (a TLS record's size), and the
// GHASH alone (16 KiB of additional data, nothing to encrypt). Run by hand:
//   cmake -DZEL_BENCH=ON ..., then build/zel_gcm_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "gcm_bench_peer.h"
#include "mbedtls/gcm.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRecord = 16384;
constexpr size_t kPerRound = 64u << 20;  // bytes per timed round

std::vector<unsigned char> g_key(16, 0x5a), g_iv(12, 0x11), g_data(kRecord), g_out(kRecord);
unsigned char g_tag[16];

// Best MiB/s of `rounds` rounds of kPerRound bytes through `record`.
double best_rate(int rounds, const std::function<int()> &record) {
    double best = 0;
    for (int r = 0; r < rounds; ++r) {
        const Clock::time_point start = Clock::now();
        for (size_t done = 0; done < kPerRound; done += kRecord) {
            if (record() != 0) {
                std::fprintf(stderr, "GCM failed\n");
                std::exit(1);
            }
            ++g_iv[11];
        }
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::max(best, static_cast<double>(kPerRound) / (1 << 20) / s);
    }
    return best;
}

struct Ours {
    mbedtls_gcm_context ctx;
    explicit Ours(bool portable) {
        mbedtls_gcm_init(&ctx);
        zel_gcm_force_portable(portable ? 1 : 0);
        if (mbedtls_gcm_setkey(&ctx, MBEDTLS_CIPHER_ID_AES, g_key.data(), 128) != 0) std::exit(1);
        zel_gcm_force_portable(0);
    }
    ~Ours() { mbedtls_gcm_free(&ctx); }
    int seal() {
        return mbedtls_gcm_crypt_and_tag(
            &ctx, MBEDTLS_GCM_ENCRYPT, kRecord, g_iv.data(), 12, nullptr, 0, g_data.data(), g_out.data(), 16, g_tag);
    }
    int hash() {
        return mbedtls_gcm_crypt_and_tag(
            &ctx, MBEDTLS_GCM_ENCRYPT, 0, g_iv.data(), 12, g_data.data(), kRecord, nullptr, nullptr, 16, g_tag);
    }
};

int peer_seal() {
    return gcm_peer_encrypt(
        g_key.data(), 128, g_iv.data(), 12, nullptr, 0, g_data.data(), kRecord, g_out.data(), g_tag);
}
int peer_hash() {
    return gcm_peer_encrypt(g_key.data(), 128, g_iv.data(), 12, g_data.data(), kRecord, nullptr, 0, nullptr, g_tag);
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    for (size_t i = 0; i < kRecord; ++i) g_data[i] = static_cast<unsigned char>(i * 131 + 7);
    Ours portable(true), instructions(false);
    if (portable.ctx.clmul) return 1;

    // Both answer the same tag first.
    unsigned char ours_tag[16];
    if (portable.seal() != 0) return 1;
    std::copy(g_tag, g_tag + 16, ours_tag);
    if (peer_seal() != 0 || !std::equal(g_tag, g_tag + 16, ours_tag)) {
        std::fprintf(stderr, "the peer's tag differs from ours\n");
        return 1;
    }

    const double seal_portable = best_rate(rounds, [&] { return portable.seal(); });
    const double seal_peer = best_rate(rounds, peer_seal);
    const double hash_portable = best_rate(rounds, [&] { return portable.hash(); });
    const double hash_peer = best_rate(rounds, peer_hash);
    const double seal_instr = instructions.ctx.clmul ? best_rate(rounds, [&] { return instructions.seal(); }) : 0;

    std::printf("AES-128-GCM, 16 KiB records, best of %d rounds of %zu MiB\n", rounds, kPerRound >> 20);
    std::printf("  seal portable: %8.1f MiB/s, library tables: %8.1f MiB/s\n", seal_portable, seal_peer);
    std::printf("  ghash portable: %8.1f MiB/s, library tables: %8.1f MiB/s\n", hash_portable, hash_peer);
    if (seal_instr > 0) std::printf("  seal with AES-NI and PCLMUL: %8.1f MiB/s\n", seal_instr);
    std::printf(
        "  ratio portable/tables: seal %.2f, ghash %.2f\n", seal_portable / seal_peer, hash_portable / hash_peer);
    return 0;
}

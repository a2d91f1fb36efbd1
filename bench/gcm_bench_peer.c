/* The peer of the GCM benchmark: the TLS library's own GCM with its 4-bit
 * tables (no carry-less multiply instructions), built beside ours under
 * other names (gcm_bench_peer_config.h). */
#include "mbedtls/gcm.h"

#include "gcm_bench_peer.h"

int gcm_peer_encrypt(const unsigned char *key, unsigned key_bits, const unsigned char *iv, size_t iv_len,
                     const unsigned char *add, size_t add_len, const unsigned char *in, size_t len,
                     unsigned char *out, unsigned char tag[16]) {
    static mbedtls_gcm_context ctx;
    static int keyed;
    if (!keyed) {
        mbedtls_gcm_init(&ctx);
        if (mbedtls_gcm_setkey(&ctx, MBEDTLS_CIPHER_ID_AES, key, key_bits) != 0) return -1;
        keyed = 1;
    }
    return mbedtls_gcm_crypt_and_tag(&ctx, MBEDTLS_GCM_ENCRYPT, len, iv, iv_len, add, add_len, in, out, 16, tag);
}

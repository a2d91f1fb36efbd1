/* The library's own table-driven GCM, for the GCM benchmark. The first
 * call keys it; later calls keep that key. Answers the library's code. */
#ifndef GCM_BENCH_PEER_H
#define GCM_BENCH_PEER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

int gcm_peer_encrypt(const unsigned char *key, unsigned key_bits, const unsigned char *iv, size_t iv_len,
    const unsigned char *add, size_t add_len, const unsigned char *in, size_t len, unsigned char *out,
    unsigned char tag[16]);

#ifdef __cplusplus
}
#endif

#endif

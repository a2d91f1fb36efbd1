/* The GCM context of the layer's mbedTLS build (MBEDTLS_GCM_ALT): the
 * functions of mbedtls/gcm.h are those of zel_gcm.c, which run on the
 * processor's AES and carry-less multiply instructions several blocks at a
 * time when it has them, and on the cipher context and a portable GHASH
 * when it has not; the portable GHASH takes no branch and reads no table
 * that depends on the key or the data. Same calls, same answers, same
 * limits as the library's own GCM. */
#ifndef MBEDTLS_GCM_ALT_H
#define MBEDTLS_GCM_ALT_H

#include <stdint.h>

#include "mbedtls/cipher.h"

/* Blocks that the carry-less path takes side by side. */
#define ZEL_GCM_WIDE 8

typedef struct mbedtls_gcm_context {
    mbedtls_cipher_context_t cipher_ctx; /* the block cipher, keyed for encryption */
    unsigned char h[16];                 /* the hash key E(K, 0) */
    unsigned char h_pow[ZEL_GCM_WIDE][16]; /* H^1..H^8 in the carry-less path's form */
    uint64_t len;                        /* bytes encrypted or decrypted so far */
    uint64_t add_len;                    /* bytes of additional data */
    unsigned char base_ectr[16];         /* E(K, Y0), for the tag */
    unsigned char y[16];                 /* the counter block */
    unsigned char buf[16];               /* the running GHASH value */
    int mode;                            /* MBEDTLS_GCM_ENCRYPT or MBEDTLS_GCM_DECRYPT */
    int clmul;                           /* the instruction path is in use for this key */
} mbedtls_gcm_context;

/* Makes the portable path serve every context keyed after this call (a
 * non-zero `on`), so that both paths can be checked on one machine. The
 * environment variable ZEL_GCM_PORTABLE, set to anything but "" or "0"
 * when a key is set, does the same for that key (a whole TLS run). */
void zel_gcm_force_portable(int on);

#endif

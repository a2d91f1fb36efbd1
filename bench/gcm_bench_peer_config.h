/* The TLS library's own GCM (its 4-bit tables: no AES-NI code in gcm.c)
 * over the same AES and cipher layer as ours, under other names so that
 * both live in one benchmark. */
#ifndef GCM_BENCH_PEER_CONFIG_H
#define GCM_BENCH_PEER_CONFIG_H

#define MBEDTLS_HAVE_ASM
#define MBEDTLS_AES_C
#define MBEDTLS_CIPHER_C
#define MBEDTLS_GCM_C

#define mbedtls_gcm_init gcm_peer_init
#define mbedtls_gcm_setkey gcm_peer_setkey
#define mbedtls_gcm_starts gcm_peer_starts
#define mbedtls_gcm_update gcm_peer_update
#define mbedtls_gcm_finish gcm_peer_finish
#define mbedtls_gcm_crypt_and_tag gcm_peer_crypt_and_tag
#define mbedtls_gcm_auth_decrypt gcm_peer_auth_decrypt
#define mbedtls_gcm_free gcm_peer_free
#define mbedtls_gcm_self_test gcm_peer_self_test

#include "mbedtls/check_config.h"

#endif

/* The GCM of the layer's mbedTLS build and what it stands on, compiled for
 * the host so that its test can run without the layer. */
#ifndef GCM_TEST_CONFIG_H
#define GCM_TEST_CONFIG_H

#define MBEDTLS_HAVE_ASM
#define MBEDTLS_AESNI_C
#define MBEDTLS_AES_C
#define MBEDTLS_CIPHER_C
#define MBEDTLS_GCM_C
#define MBEDTLS_GCM_ALT

#include "mbedtls/check_config.h"

#endif

/* The host's random source. */
#ifndef ZEL_HOST_RANDOM_H
#define ZEL_HOST_RANDOM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A word from the host's random source: getentropy, or the C++ library's
 * default source when getentropy is not offered. Any host thread. */
uint32_t zel_host_random_word(void);

#ifdef __cplusplus
}
#endif

#endif

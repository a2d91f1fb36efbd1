/* Exact-width integer types: the compiler's own definitions.  (The
 * compiler's stdint.h would look for a hosted C library's header first.) */
#ifndef _STDINT_H
#define _STDINT_H 1
#include <stdint-gcc.h>
#endif

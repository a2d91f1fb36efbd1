/* Internet address helpers: the byte-order functions of netinet/in.h. */
#ifndef _ARPA_INET_H
#define _ARPA_INET_H 1

#include <netinet/in.h>

#endif

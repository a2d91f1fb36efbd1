/* TCP options (level IPPROTO_TCP). */
#ifndef _NETINET_TCP_H
#define _NETINET_TCP_H 1

#define TCP_NODELAY 1

#endif

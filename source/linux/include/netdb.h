/* Host name lookup of the layer: IPv4 through the host's resolver. */
#ifndef _NETDB_H
#define _NETDB_H 1

#include <sys/cdefs.h>
#include <netinet/in.h>

/* Layout of the x86-64 C library. */
struct hostent {
    char *h_name;
    char **h_aliases;   /* an empty list */
    int h_addrtype;     /* AF_INET */
    int h_length;       /* 4 */
    char **h_addr_list; /* one address, then null */
};
#define h_addr h_addr_list[0]

__BEGIN_DECLS
/* A record shared by every caller, overwritten by the next lookup; null
 * when the name does not resolve. */
struct hostent *gethostbyname(const char *name) __ZEL_LINUX(gethostbyname);
__END_DECLS

#endif

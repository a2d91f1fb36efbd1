/* UNIX-domain socket addresses: a path in the layer's file tree. */
#ifndef _SYS_UN_H
#define _SYS_UN_H 1

#include <sys/types.h>

/* Layout of the x86-64 C library. */
struct sockaddr_un {
    sa_family_t sun_family;
    char sun_path[108];
};

#endif

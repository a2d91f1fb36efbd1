/* Socket calls of the layer.  INET sockets are host sockets; UNIX-domain
 * sockets live inside the layer.  Address records have the layout of the
 * x86-64 C library; the socket level is the layer's own (0xFFFF) and the
 * option numbers are Linux's. */
#ifndef _SYS_SOCKET_H
#define _SYS_SOCKET_H 1

#include <sys/cdefs.h>
#include <sys/types.h>

#define AF_UNSPEC 0
#define AF_UNIX 1
#define AF_LOCAL AF_UNIX
#define AF_INET 2
#define PF_UNSPEC AF_UNSPEC
#define PF_UNIX AF_UNIX
#define PF_INET AF_INET

#define SOCK_STREAM 1
#define SOCK_DGRAM 2

#define SOL_SOCKET 0xFFFF
#define SO_DEBUG 1
#define SO_REUSEADDR 2
#define SO_TYPE 3
#define SO_ERROR 4
#define SO_BROADCAST 6
#define SO_SNDBUF 7
#define SO_RCVBUF 8
#define SO_KEEPALIVE 9
#define SO_LINGER 13
#define SO_RCVTIMEO 20
#define SO_SNDTIMEO 21
/* The layer's own: an int, non-zero makes every call on the socket
 * non-blocking (as O_NONBLOCK through fcntl does). */
#define SO_NONBLOCK 100

/* send()/recv() flag: do not wait, whatever the socket's mode. */
#define MSG_DONTWAIT 0x10

#define SHUT_RD 0
#define SHUT_WR 1
#define SHUT_RDWR 2

#define SOMAXCONN 128

struct sockaddr {
    sa_family_t sa_family;
    char sa_data[14];
};

struct sockaddr_storage {
    sa_family_t ss_family;
    char __ss_padding[118];
    unsigned long __ss_align;
};

struct linger {
    int l_onoff;
    int l_linger;
};

__BEGIN_DECLS
int socket(int domain, int type, int protocol) __ZEL_LINUX(socket);
/* AF_UNIX, SOCK_STREAM: two connected descriptors. */
int socketpair(int domain, int type, int protocol, int fds[2]) __ZEL_LINUX(socketpair);
int connect(int fd, const struct sockaddr *address, socklen_t length) __ZEL_LINUX(connect);
int bind(int fd, const struct sockaddr *address, socklen_t length) __ZEL_LINUX(bind);
int listen(int fd, int backlog) __ZEL_LINUX(listen);
int accept(int fd, struct sockaddr *address, socklen_t *length) __ZEL_LINUX(accept);
int shutdown(int fd, int how) __ZEL_LINUX(shutdown);
int getsockopt(int fd, int level, int option, void *value, socklen_t *length) __ZEL_LINUX(getsockopt);
int setsockopt(int fd, int level, int option, const void *value, socklen_t length) __ZEL_LINUX(setsockopt);
int getsockname(int fd, struct sockaddr *address, socklen_t *length) __ZEL_LINUX(getsockname);
ssize_t send(int fd, const void *buffer, size_t length, int flags) __ZEL_LINUX(send);
ssize_t recv(int fd, void *buffer, size_t length, int flags) __ZEL_LINUX(recv);
ssize_t sendto(int fd, const void *buffer, size_t length, int flags, const struct sockaddr *address,
    socklen_t address_length) __ZEL_LINUX(sendto);
ssize_t recvfrom(int fd, void *buffer, size_t length, int flags, struct sockaddr *address, socklen_t *address_length)
    __ZEL_LINUX(recvfrom);
__END_DECLS

#endif

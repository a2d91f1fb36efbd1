/* Sockets of the Linux-emulation layer: the socket class table, the head
 * that the private parts of both socket classes share, and what the two
 * classes have in common.
 *
 * A socket is a descriptor whose class is a zel_linux_sock_op_t: the seven
 * descriptor entries followed by the socket entries. Two classes exist:
 * INET sockets are host sockets (zel_linux_hostsock.h), UNIX-domain sockets
 * live inside the layer (zel_linux_unix_sock.h). The socket calls
 * (socket, connect, bind, listen, accept, shutdown, getsockopt, setsockopt,
 * getsockname, send, recv, sendto, recvfrom, socketpair, gethostbyname) and
 * select are declared in zel_linux_libc.h.
 *
 * Blocking calls wait on the descriptor's events like every other class, so
 * poll works on sockets. A call that waits holds a reference on the private
 * part: a close from another thread meanwhile removes the descriptor, and
 * the socket itself goes when the waiting call returns. */
#ifndef ZEL_LINUX_SOCK_H
#define ZEL_LINUX_SOCK_H

#include <stdint.h>

#include "zel_linux_fd.h"
#include "zel_linux_libc.h"

/* errno values that the socket calls set besides the shared ones (Linux
 * numbering, as the layer's errno.h). */
enum : int {
    ZEL_LINUX_SOCK_EFAULT = 14,
    ZEL_LINUX_SOCK_EINVAL = 22,
    ZEL_LINUX_SOCK_EAFNOSUPPORT = 97,
    ZEL_LINUX_SOCK_EADDRINUSE = 98,
    ZEL_LINUX_SOCK_ECONNREFUSED = 111
};

extern "C" {

typedef struct zel_linux_sock_op zel_linux_sock_op_t;

/* The head of a socket's private part, after the common head. */
typedef struct zel_linux_sock_priv {
    zel_linux_fd_priv_t head;
    int32_t domain; /* the socket() arguments */
    int32_t type;
    int32_t protocol;
    const zel_linux_sock_op_t *op;
} zel_linux_sock_priv_t;

/* A socket class: the descriptor class, then the socket entries. init takes
 * the descriptor record, the others the private part. Empty entries answer
 * as the calls say. */
struct zel_linux_sock_op {
    zel_linux_fd_op_t fd;
    int (*init)(zel_linux_fd_t *fd);
    int (*shutdown)(zel_linux_sock_priv_t *priv, int how);
    int (*connect)(zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length);
    int (*listen)(zel_linux_sock_priv_t *priv, int backlog);
    /* The new descriptor's number, the peer's address written when asked for. */
    int (*accept)(zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
    int (*bind)(zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length);
    int (*getsockopt)(zel_linux_sock_priv_t *priv, int level, int option, void *value, zel_linux_socklen_t *length);
    int (*setsockopt)(
        zel_linux_sock_priv_t *priv, int level, int option, const void *value, zel_linux_socklen_t length);
    int (*getpeername)(zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
    int (*getsockname)(zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
};

/* The two classes. */
extern const zel_linux_sock_op_t zel_linux_hostsock_op;
extern const zel_linux_sock_op_t zel_linux_unsock_op;

/* The socket class of a descriptor, or null when it is no socket. */
const zel_linux_sock_op_t *zel_linux_sock_class(const zel_linux_fd_t *fd);

/* A descriptor of the class in the current process (lowest free number)
 * whose private part carries the socket() arguments; the class's init does
 * not run. The number, or -1. */
[[nodiscard]] int zel_linux_sock_create(
    const zel_linux_sock_op_t *op, int domain, int type, int protocol, zel_linux_fd_t **out);
/* Removes a descriptor made by zel_linux_sock_create together with its
 * private part, without the class's close. */
void zel_linux_sock_discard(zel_linux_fd_t *fd);

/* A blocking call's reference on its socket (see above), as
 * zel_linux_fd_hold and zel_linux_fd_release with the socket's class. */
void zel_linux_sock_hold(zel_linux_sock_priv_t *priv);
void zel_linux_sock_release(zel_linux_sock_priv_t *priv);

/* Waits until one of the events is pending on the socket and consumes it;
 * false when the wait was interrupted. */
bool zel_linux_sock_wait(zel_linux_sock_priv_t *priv, uint16_t events);

/* Copies `size` bytes of a socket address into the caller's record (at most
 * the room `*length` gives) and stores the full size in `*length`. -1 when
 * either pointer is null. */
[[nodiscard]] int zel_linux_sock_put_address(
    zel_linux_sockaddr *address, zel_linux_socklen_t *length, const void *from, zel_linux_socklen_t size);

}  // extern "C"

#ifdef __cplusplus
/* Holds a socket for the length of a scope, as a call's hold listed on the
 * calling thread (zel_linux_fd_call_begin): its end is a restart point.
 * Declare it first, so that it is the last thing released. */
class zel_linux_sock_holder {
public:
    explicit zel_linux_sock_holder(zel_linux_sock_priv_t *priv) {
        zel_linux_fd_call_begin(&hold_, &priv->head, &priv->op->fd);
    }
    ~zel_linux_sock_holder() { zel_linux_fd_call_end(&hold_); }
    zel_linux_sock_holder(const zel_linux_sock_holder &) = delete;
    zel_linux_sock_holder &operator=(const zel_linux_sock_holder &) = delete;

private:
    zel_linux_fd_hold_rec_t hold_;
};
#endif

#endif

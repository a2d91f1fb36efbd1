/* UNIX-domain sockets of the layer (socket class zel_linux_unsock_op).
 *
 * They never touch the host. A listening socket is named by a node of the
 * file tree whose target is the socket's private part (the node carries the
 * socket attribute and stays in the tree after the socket is closed). A
 * connection is two pipes, one per direction: each socket owns the read end
 * of the pipe it reads and the write end of the pipe its peer reads. The
 * pipe ends are private to the socket (no descriptor numbers of their own);
 * a read end relays its stream's events to its socket, so readers and poll
 * wait on the socket itself.
 *
 * connect queues the socket on the listener, raises readable there and
 * sleeps until an accept has joined the two sockets (or the listener has
 * gone: -1). accept makes the new socket and both pipes, wakes the
 * connecting thread and answers the new number. A listener's backlog counts
 * the accepted connections that may be alive at once: each accept takes one,
 * each accepted socket that is shut down in both directions gives it back.
 *
 * Reading answers the buffered bytes, 0 once they are all read and the
 * peer has stopped writing (or this side stopped reading), -1 with errno
 * EAGAIN (11) when a non-blocking read finds nothing yet. Writing waits
 * for room in the pipe toward the peer; a non-blocking socket, or a send
 * with MSG_DONTWAIT, takes what fits and answers that count, or -1 with
 * errno EAGAIN when the pipe is full. Writable holds while the pipe has
 * room: it ends when a write fills it and comes back with the peer's next
 * read. Writing after the peer has stopped reading answers -1 with errno
 * EPIPE (32), or the count that went before it stopped. Closing a
 * listener unbinds its node, fails the sockets queued on it and lets go of
 * the sockets it accepted. getsockopt and setsockopt change nothing and
 * answer 0; getsockname and getpeername are absent. */
#ifndef ZEL_LINUX_UNIX_SOCK_H
#define ZEL_LINUX_UNIX_SOCK_H

#include <stdint.h>

#include "zel_linux_sock.h"
#include "zel_list.h"

extern "C" {

typedef enum zel_linux_unsock_state {
    ZEL_LINUX_UNSOCK_IDLE = 0, /* made, perhaps bound, or refused */
    ZEL_LINUX_UNSOCK_LISTENING,
    ZEL_LINUX_UNSOCK_CONNECTING, /* queued on a listener, its thread asleep */
    ZEL_LINUX_UNSOCK_CONNECTED,  /* at least one direction open */
    ZEL_LINUX_UNSOCK_SHUT        /* both directions shut, the peer told */
} zel_linux_unsock_state_t;

typedef struct zel_linux_unsock_priv zel_linux_unsock_priv_t;

/* The UNIX form of the socket private part. */
struct zel_linux_unsock_priv {
    zel_linux_sock_priv_t sock;
    uint32_t state;                /* zel_linux_unsock_state_t */
    zel_linux_trig_t *waiting;     /* the thread in connect */
    zel_dlist_node_t node;         /* in a listener's pending queue or accepted list */
    zel_linux_unsock_priv_t *peer; /* the other end; while connecting, the listener */
    /* a listener */
    zel_dlist_t pending;  /* connecting sockets, oldest first */
    zel_dlist_t accepted; /* accepted sockets still alive */
    int32_t backlog;      /* accepted connections that may still be alive */
    /* a connected socket */
    zel_linux_unsock_priv_t *listener; /* the listener that accepted it (accepted side) */
    zel_linux_fd_t rx;                 /* pipe read end (no number; priv null when none) */
    zel_linux_fd_t tx;                 /* pipe write end (likewise) */
    /* a bound socket */
    char *path;                  /* the bound name, kernel process memory */
    zel_dlist_node_t bound_node; /* in the list of bound sockets */
};

/* The class entries. */
[[nodiscard]] int zel_linux_unsock_fcntl(zel_linux_fd_t *fd, int command, uintptr_t changed);
zel_linux_ssize_t zel_linux_unsock_read(zel_linux_fd_t *fd, void *buffer, size_t count);
zel_linux_ssize_t zel_linux_unsock_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
[[nodiscard]] int zel_linux_unsock_close(zel_linux_fd_t *fd);
[[nodiscard]] int zel_linux_unsock_shutdown(zel_linux_sock_priv_t *priv, int how);
[[nodiscard]] int zel_linux_unsock_connect(
    zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length);
[[nodiscard]] int zel_linux_unsock_listen(zel_linux_sock_priv_t *priv, int backlog);
[[nodiscard]] int zel_linux_unsock_accept(
    zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
[[nodiscard]] int zel_linux_unsock_bind(
    zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length);

/* The relay hook of a socket's pipe read end: raises (set) or clears the
 * events on the socket kept in the read end's link word. */
void zel_linux_unsock_evthandler(zel_linux_fd_priv_t *rx_priv, uintptr_t zero, uint16_t events, int set);

/* socketpair(AF_UNIX, SOCK_STREAM): two connected sockets; 0 or -1. */
[[nodiscard]] int zel_linux_unsock_pair(int protocol, int fds[2]);
/* The address of an unnamed peer: the family alone. */
void zel_linux_unsock_peer_address(zel_linux_sockaddr *address, zel_linux_socklen_t *length);

}  // extern "C"

#endif

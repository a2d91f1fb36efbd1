/* INET sockets of the layer: host sockets (zel_host_sock.h) behind the
 * socket class zel_linux_hostsock_op.
 *
 * The host socket is always non-blocking; the layer does the blocking. A
 * call that must wait registers on the descriptor's readable or writable
 * event and sleeps; the host poller raises those events. Readable and
 * writable then hold as long as the host keeps taking and giving: only a
 * receive or accept that the host answers EAGAIN clears readable, and only
 * a send answered EAGAIN clears writable, and each puts the socket back into
 * that one set of the host poller, which reports the event anew. So a busy
 * socket is read without a round through the poller for every call, and a
 * poll may report readable once more after a receive that took the last
 * byte; the receive that follows answers EAGAIN (or waits). A wait that ends
 * without the host being ready (a stale report) re-arms and waits again.
 * A call that had to wait leaves its event pending as well (it holds until
 * EAGAIN), so a poll after it sees what the call left. An error or a
 * hang-up of the host socket (a refused connect, a reset) also raises
 * POLLERR / POLLHUP, which hold until the socket connects anew; reading
 * the error (SO_ERROR, or the blocking connect that reports it) clears
 * POLLERR, as it clears the host's.
 *
 * Failures answer -1 with errno the host's error number (Linux numbering,
 * as the layer's): EAGAIN (11) when a non-blocking call would block,
 * EINPROGRESS (115) when a non-blocking connect is under way, the
 * connection's error (ECONNREFUSED, ...) when a blocking connect fails.
 *
 * Options at level SOL_SOCKET (0xFFFF) use Linux's numbers, which the host
 * shares: SO_RCVTIMEO and SO_SNDTIMEO take a timeval (kept in milliseconds),
 * SO_LINGER {int, int}; option SO_NONBLOCK (100) is the layer's own and
 * switches the socket's non-blocking word. Level IPPROTO_TCP and every other
 * level pass to the host unchanged. */
#ifndef ZEL_LINUX_HOSTSOCK_H
#define ZEL_LINUX_HOSTSOCK_H

#include <stdint.h>

#include "zel_host_sock.h"
#include "zel_linux_sock.h"

extern "C" {

/* The INET form of the socket private part. */
typedef struct zel_linux_hostsock_priv {
    zel_linux_sock_priv_t sock;
    zel_host_sock_t host; /* the host socket and its place in the watched list */
    int32_t family;       /* what the host socket was made with */
    int32_t type;
    int32_t protocol;
    int32_t nonblocking; /* non-zero: calls never wait (SO_NONBLOCK, O_NONBLOCK) */
    int32_t rcv_timeout; /* milliseconds from SO_RCVTIMEO; -1 for a new socket */
    int32_t snd_timeout; /* milliseconds from SO_SNDTIMEO */
} zel_linux_hostsock_priv_t;

/* Starts the host side (the poller and its readiness hook) when needed:
 * 0, or -1 when it cannot be started now. */
[[nodiscard]] int zel_hostsock_start(void);
/* Clears readable, writable, error and hang-up and puts the socket back
 * into the host poller's sets. */
void zel_hostsock_watch(zel_linux_hostsock_priv_t *priv);
/* Clears one event (ZEL_LINUX_EV_READ or ZEL_LINUX_EV_WRITE) and puts the
 * socket back into the poller's set for it. */
void zel_hostsock_rearm(zel_linux_hostsock_priv_t *priv, uint16_t event);

/* The class entries. */
[[nodiscard]] int zel_hostsock_fcntl(zel_linux_fd_t *fd, int command, uintptr_t changed);
zel_linux_ssize_t zel_hostsock_read(zel_linux_fd_t *fd, void *buffer, size_t count);
zel_linux_ssize_t zel_hostsock_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
[[nodiscard]] int zel_hostsock_close(zel_linux_fd_t *fd);
[[nodiscard]] int zel_hostsock_init(zel_linux_fd_t *fd);
[[nodiscard]] int zel_hostsock_shutdown(zel_linux_sock_priv_t *priv, int how);
[[nodiscard]] int zel_hostsock_connect(
    zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length);
[[nodiscard]] int zel_hostsock_listen(zel_linux_sock_priv_t *priv, int backlog);
[[nodiscard]] int zel_hostsock_accept(
    zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
[[nodiscard]] int zel_hostsock_bind(
    zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length);
[[nodiscard]] int zel_hostsock_getsockopt(
    zel_linux_sock_priv_t *priv, int level, int option, void *value, zel_linux_socklen_t *length);
[[nodiscard]] int zel_hostsock_setsockopt(
    zel_linux_sock_priv_t *priv, int level, int option, const void *value, zel_linux_socklen_t length);
[[nodiscard]] int zel_hostsock_getpeername(
    zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
[[nodiscard]] int zel_hostsock_getsockname(
    zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length);

/* Send and receive with flags (MSG_DONTWAIT 0x10: do not wait) and an
 * optional peer address. A blocking send returns once everything is sent;
 * a datagram socket never waits to send. The peer's address of a receive is
 * written when asked for, with its length. */
zel_linux_ssize_t zel_hostsock_sendto(zel_linux_sock_priv_t *priv, const void *buffer, size_t length, int flags,
    const zel_linux_sockaddr *address, zel_linux_socklen_t address_length);
zel_linux_ssize_t zel_hostsock_recvfrom(zel_linux_sock_priv_t *priv, void *buffer, size_t length, int flags,
    zel_linux_sockaddr *address, zel_linux_socklen_t *address_length);

/* gethostbyname: the first IPv4 address of the name in one record shared by
 * every caller (h_name is the caller's pointer, h_aliases an empty list),
 * or null. */
zel_linux_hostent *zel_hostsock_gethostbyname(const char *name);

}  // extern "C"

#endif

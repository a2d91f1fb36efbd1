/* Host sockets: IPv4 TCP and UDP sockets of the host, always non-blocking,
 * and the host thread "hostsock_irqthread" that reports their readiness.
 *
 * A socket is a zel_host_sock_t that its owner embeds and keeps in place
 * from zel_host_sock_open until zel_host_sock_close. Every call runs in a
 * framework context (it holds the kernel's single context) and never blocks:
 * the owner waits on the readiness reports itself.
 *
 * Readiness is one-shot. zel_host_sock_watch puts a socket into the read
 * set and the write set of the poller (zel_host_sock_watch_sets into one of
 * them); when the poller finds a set's condition it takes the socket out of
 * that set and calls the ready hook, inside an emulated interrupt, with
 * ZEL_HOST_SOCK_READABLE and/or ZEL_HOST_SOCK_WRITABLE. An error or a
 * hang-up is reported in both sets, with ZEL_HOST_SOCK_ERROR and/or
 * ZEL_HOST_SOCK_HANGUP besides. A stream socket takes part only once it
 * is connecting, connected or listening (a fresh one would poll as hung
 * up); a datagram socket at once.
 *
 * A closed socket's host descriptor is released by the poller when it next
 * comes round, so a descriptor number it still polls is never reused under
 * it.
 *
 * Calls answer 0 (or a count) on success and the negated host error number
 * on failure (ZEL_HOST_E*, zel_host_err.h); the host numbers errors as Linux
 * does, like the layer's errno, which passes them on unchanged.
 */
#ifndef ZEL_HOST_SOCK_H
#define ZEL_HOST_SOCK_H

#include <stdint.h>

#include "zel_host_err.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Readiness bits handed to the ready hook (the layer's event bits). */
#define ZEL_HOST_SOCK_READABLE 0x1u
#define ZEL_HOST_SOCK_WRITABLE 0x2u
#define ZEL_HOST_SOCK_ERROR 0x8u
#define ZEL_HOST_SOCK_HANGUP 0x10u

/* Socket types and protocols. */
#define ZEL_HOST_SOCK_STREAM 1
#define ZEL_HOST_SOCK_DGRAM 2
#define ZEL_HOST_IPPROTO_TCP 6
#define ZEL_HOST_IPPROTO_UDP 17

/* Option levels and the options with a value other than an int; every
 * other number is the host's own (Linux numbering) and passes unchanged. */
#define ZEL_HOST_SOL_SOCKET 1
#define ZEL_HOST_SO_ERROR 4
#define ZEL_HOST_SO_LINGER 13   /* value: {int on, int seconds} */
#define ZEL_HOST_SO_RCVTIMEO 20 /* value: uint32_t milliseconds */
#define ZEL_HOST_SO_SNDTIMEO 21 /* value: uint32_t milliseconds */

/* shutdown directions */
#define ZEL_HOST_SHUT_RD 0
#define ZEL_HOST_SHUT_WR 1
#define ZEL_HOST_SHUT_RDWR 2

/* Phases of a socket: only the last three take part in polling. */
typedef enum zel_host_sock_phase {
    ZEL_HOST_SOCK_FRESH = 0,      /* made, perhaps bound */
    ZEL_HOST_SOCK_CONNECTING = 1, /* connect under way */
    ZEL_HOST_SOCK_CONNECTED = 2,  /* connected, accepted, or a datagram socket */
    ZEL_HOST_SOCK_LISTENING = 3
} zel_host_sock_phase_t;

/* The sets a socket is in (one-shot readiness). */
#define ZEL_HOST_SOCK_IN_READ_SET 0x1u
#define ZEL_HOST_SOCK_IN_WRITE_SET 0x2u

typedef struct zel_host_sock {
    struct zel_host_sock *next; /* the watched list */
    struct zel_host_sock *prev;
    int32_t handle; /* host descriptor, -1 when none */
    uint8_t type;   /* ZEL_HOST_SOCK_STREAM or _DGRAM */
    uint8_t phase;  /* zel_host_sock_phase_t */
    uint8_t sets;   /* ZEL_HOST_SOCK_IN_*_SET */
    uint8_t listed; /* in the watched list */
} zel_host_sock_t;

/* An IPv4 address; port and address in network byte order. */
typedef struct zel_host_sockaddr_in {
    uint16_t family; /* 2 */
    uint16_t port;
    uint32_t addr;
} zel_host_sockaddr_in_t;

/* Called by the poller inside an emulated interrupt. */
typedef void (*zel_host_sock_ready_t)(zel_host_sock_t *sock, uint32_t events);

/* Sets the hook that receives the readiness reports; answers the old one. */
zel_host_sock_ready_t zel_host_sock_set_ready_hook(zel_host_sock_ready_t hook);

/* Starts the poller when it does not run yet: 0, or a negative number when
 * it could not be started (the next call tries again). */
[[nodiscard]] int zel_host_sock_start(void);

/* Makes the host socket (type ZEL_HOST_SOCK_*, protocol 0, 6 or 17),
 * starting the poller when needed. */
[[nodiscard]] int zel_host_sock_open(zel_host_sock_t *sock, int type, int protocol);
/* Releases the host socket (through the poller once it has been watched). */
void zel_host_sock_close(zel_host_sock_t *sock);
/* Lists the socket when it is not yet and puts it into both sets again;
 * the poller rebuilds its list when a set was added. */
void zel_host_sock_watch(zel_host_sock_t *sock);
/* The same for the given sets only (ZEL_HOST_SOCK_IN_*_SET): the other set
 * is left as it is, so a report still owed from it stays owed. */
void zel_host_sock_watch_sets(zel_host_sock_t *sock, uint32_t sets);

/* 0 when connected at once, ZEL_HOST_EINPROGRESS while under way (the socket
 * turns writable when it ends; ZEL_HOST_SO_ERROR tells how). */
[[nodiscard]] int zel_host_sock_connect(zel_host_sock_t *sock, const zel_host_sockaddr_in_t *address);
[[nodiscard]] int zel_host_sock_bind(zel_host_sock_t *sock, const zel_host_sockaddr_in_t *address);
[[nodiscard]] int zel_host_sock_listen(zel_host_sock_t *sock, int backlog);
/* Opens `out` on the next pending connection (connected, not yet watched);
 * the peer's address goes to `peer` when given. */
[[nodiscard]] int zel_host_sock_accept(zel_host_sock_t *sock, zel_host_sockaddr_in_t *peer, zel_host_sock_t *out);
[[nodiscard]] int zel_host_sock_shutdown(zel_host_sock_t *sock, int how);

/* Counts moved; `to`/`from` null: the connected peer. A send never raises
 * a signal. ZEL_HOST_EAGAIN when it would block. */

[[nodiscard]] long zel_host_sock_send(
    zel_host_sock_t *sock, const void *buffer, uint32_t length, const zel_host_sockaddr_in_t *to);
[[nodiscard]] long zel_host_sock_recv(
    zel_host_sock_t *sock, void *buffer, uint32_t length, zel_host_sockaddr_in_t *from);

[[nodiscard]] int zel_host_sock_setopt(
    zel_host_sock_t *sock, int level, int option, const void *value, uint32_t length);
/* `*length` holds the room on entry and the size written on return. */
[[nodiscard]] int zel_host_sock_getopt(zel_host_sock_t *sock, int level, int option, void *value, uint32_t *length);
[[nodiscard]] int zel_host_sock_name(zel_host_sock_t *sock, zel_host_sockaddr_in_t *out);
[[nodiscard]] int zel_host_sock_peer(zel_host_sock_t *sock, zel_host_sockaddr_in_t *out);

/* The first IPv4 address of a host name (network byte order), through the
 * host's reentrant resolver: 0, or -1 when the name does not resolve. */
[[nodiscard]] int zel_host_sock_gethostbyname(const char *name, uint32_t *address);

/* How many sockets are listed, and how many closed descriptors wait for the
 * poller (tests). */
uint32_t zel_host_sock_listed_count(void);
uint32_t zel_host_sock_closing_count(void);

#ifdef __cplusplus
}
#endif

#endif

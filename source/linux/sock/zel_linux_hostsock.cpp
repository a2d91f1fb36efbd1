// INET sockets: the socket class over host sockets.
#include "zel_linux_hostsock.h"

#include <string.h>

namespace {

zel_linux_hostsock_priv_t *hs(zel_linux_sock_priv_t *priv) {
    return reinterpret_cast<zel_linux_hostsock_priv_t *>(priv);
}

zel_linux_hostsock_priv_t *hs(zel_linux_fd_t *fd) { return reinterpret_cast<zel_linux_hostsock_priv_t *>(fd->priv); }

// A failed host call: its error number becomes errno.
int fail(long rc) {
    zel_linux_set_errno(static_cast<int>(-rc));
    return -1;
}

int fail_with(int error) {
    zel_linux_set_errno(error);
    return -1;
}

uint32_t clamp(size_t n) { return n > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(n); }

// The readiness hook of the host poller (inside an emulated interrupt).
void on_ready(zel_host_sock_t *host, uint32_t events) {
    zel_linux_hostsock_priv_t *p = ZEL_CONTAINER_OF(host, zel_linux_hostsock_priv_t, host);
    static_assert(ZEL_HOST_SOCK_ERROR == ZEL_LINUX_EV_ERR && ZEL_HOST_SOCK_HANGUP == ZEL_LINUX_EV_HUP);
    // An error holds until it is read (SO_ERROR) or the socket connects
    // anew; a hang-up until the socket connects anew.
    p->sock.head.sticky |= static_cast<uint16_t>(events & (ZEL_LINUX_EV_ERR | ZEL_LINUX_EV_HUP));
    zel_linux_fd_set_events_isr(&p->sock.head, static_cast<uint16_t>(events));
}

// The layer's address (family 0 or AF_INET) in the host's form. Only the
// bytes the caller gave are read.
bool to_host(const zel_linux_sockaddr *address, zel_linux_socklen_t length, zel_host_sockaddr_in_t *out) {
    zel_linux_sockaddr_in in{};
    memcpy(&in, address, length < sizeof in ? length : sizeof in);
    if (in.sin_family != ZEL_LINUX_AF_UNSPEC && in.sin_family != ZEL_LINUX_AF_INET) return false;
    out->family = ZEL_LINUX_AF_INET;
    out->port = in.sin_port;
    out->addr = in.sin_addr.s_addr;
    return true;
}

zel_linux_sockaddr_in from_host(const zel_host_sockaddr_in_t &in) {
    zel_linux_sockaddr_in out{};
    out.sin_family = in.family;
    out.sin_port = in.port;
    out.sin_addr.s_addr = in.addr;
    return out;
}

int put(zel_linux_sockaddr *address, zel_linux_socklen_t *length, const zel_host_sockaddr_in_t &in) {
    zel_linux_sockaddr_in out = from_host(in);
    return zel_linux_sock_put_address(address, length, &out, sizeof out);
}

// The host's pending error was read, which clears it there: the socket
// stops reporting it, as the host's poll does.
void error_taken(zel_linux_hostsock_priv_t *p) {
    p->sock.head.sticky &= static_cast<uint16_t>(~ZEL_LINUX_EV_ERR);
    zel_linux_fd_clear_events(&p->sock.head, ZEL_LINUX_EV_ERR);
}

bool may_wait(zel_linux_hostsock_priv_t *p, int flags) { return !(flags & ZEL_LINUX_MSG_DONTWAIT) && !p->nonblocking; }

bool is_timeout(int option) { return option == ZEL_LINUX_SO_RCVTIMEO || option == ZEL_LINUX_SO_SNDTIMEO; }

uint32_t timeval_to_ms(const zel_linux_timeval &tv) {
    if (tv.tv_sec < 0 || tv.tv_usec < 0) return 0;
    uint64_t ms = static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u;
    return ms > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(ms);
}

int host_level(int level) { return level == ZEL_LINUX_SOL_SOCKET ? ZEL_HOST_SOL_SOCKET : level; }

zel_linux_hostent g_hostent;
uint32_t g_host_address;
char *g_host_addresses[2];
char *g_no_aliases[1];

}  // namespace

extern "C" {

const zel_linux_sock_op_t zel_linux_hostsock_op = {
    .fd =
        {
            .priv_size = sizeof(zel_linux_hostsock_priv_t),
            .init = nullptr,
            .fcntl = zel_hostsock_fcntl,
            .read = zel_hostsock_read,
            .write = zel_hostsock_write,
            .close = zel_hostsock_close,
            .eof = nullptr,
        },
    .init = zel_hostsock_init,
    .shutdown = zel_hostsock_shutdown,
    .connect = zel_hostsock_connect,
    .listen = zel_hostsock_listen,
    .accept = zel_hostsock_accept,
    .bind = zel_hostsock_bind,
    .getsockopt = zel_hostsock_getsockopt,
    .setsockopt = zel_hostsock_setsockopt,
    .getpeername = zel_hostsock_getpeername,
    .getsockname = zel_hostsock_getsockname,
};

int zel_hostsock_start(void) {
    zel_host_sock_set_ready_hook(on_ready);
    return zel_host_sock_start() == 0 ? 0 : -1;
}

void zel_hostsock_watch(zel_linux_hostsock_priv_t *priv) {
    constexpr uint16_t all = ZEL_LINUX_EV_READ | ZEL_LINUX_EV_WRITE | ZEL_LINUX_EV_ERR | ZEL_LINUX_EV_HUP;
    priv->sock.head.sticky &= static_cast<uint16_t>(~(ZEL_LINUX_EV_ERR | ZEL_LINUX_EV_HUP));
    zel_linux_fd_clear_events(&priv->sock.head, all);
    zel_host_sock_watch(&priv->host);
}

void zel_hostsock_rearm(zel_linux_hostsock_priv_t *priv, uint16_t event) {
    zel_linux_fd_clear_events(&priv->sock.head, event);
    zel_host_sock_watch_sets(
        &priv->host, event == ZEL_LINUX_EV_READ ? ZEL_HOST_SOCK_IN_READ_SET : ZEL_HOST_SOCK_IN_WRITE_SET);
}

int zel_hostsock_init(zel_linux_fd_t *fd) {
    zel_linux_hostsock_priv_t *p = hs(fd);
    const zel_linux_sock_priv_t &s = p->sock;
    if (s.domain != ZEL_LINUX_AF_INET) return -1;
    if (s.type != ZEL_LINUX_SOCK_STREAM && s.type != ZEL_LINUX_SOCK_DGRAM) return -1;
    if (s.protocol != 0 && s.protocol != ZEL_LINUX_IPPROTO_TCP && s.protocol != ZEL_LINUX_IPPROTO_UDP) return -1;
    if (zel_hostsock_start() != 0) return -1;
    int rc = zel_host_sock_open(
        &p->host, s.type == ZEL_LINUX_SOCK_STREAM ? ZEL_HOST_SOCK_STREAM : ZEL_HOST_SOCK_DGRAM, s.protocol);
    if (rc < 0) return fail(rc);
    p->family = ZEL_LINUX_AF_INET;
    p->type = s.type;
    p->protocol = s.protocol;
    p->rcv_timeout = -1;
    zel_hostsock_watch(p);
    return 0;
}

int zel_hostsock_close(zel_linux_fd_t *fd) {
    zel_host_sock_close(&hs(fd)->host);
    return 0;
}

int zel_hostsock_fcntl(zel_linux_fd_t *fd, int command, uintptr_t changed) {
    if (command != ZEL_LINUX_F_SETFL || !(changed & ZEL_LINUX_O_NONBLOCK)) return 0;
    int on = (fd->priv->status & ZEL_LINUX_O_NONBLOCK) ? 1 : 0;
    // A refusal of the host socket leaves its mode as it was; the flag changes all the same.
    (void)zel_hostsock_setsockopt(&hs(fd)->sock, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_NONBLOCK, &on, sizeof on);
    return 0;
}

zel_linux_ssize_t zel_hostsock_recvfrom(zel_linux_sock_priv_t *priv, void *buffer, size_t length, int flags,
    zel_linux_sockaddr *address, zel_linux_socklen_t *address_length) {
    zel_linux_sock_holder hold(priv);
    zel_linux_hostsock_priv_t *p = hs(priv);
    for (;;) {
        zel_host_sockaddr_in_t from{};
        long n = zel_host_sock_recv(&p->host, buffer, clamp(length), address ? &from : nullptr);
        if (n >= 0) {
            if (address && address_length) put(address, address_length, from);
            return n;
        }
        // Readable holds until the host has nothing left to give.
        if (n == -ZEL_LINUX_EAGAIN) zel_hostsock_rearm(p, ZEL_LINUX_EV_READ);
        if (n != -ZEL_LINUX_EAGAIN || !may_wait(p, flags)) return fail(n);
        // Nothing there (or a stale report): wait for the host's next one.
        if (!zel_linux_sock_wait(priv, ZEL_LINUX_EV_READ)) return -1;
    }
}

zel_linux_ssize_t zel_hostsock_sendto(zel_linux_sock_priv_t *priv, const void *buffer, size_t length, int flags,
    const zel_linux_sockaddr *address, zel_linux_socklen_t address_length) {
    zel_linux_sock_holder hold(priv);
    zel_linux_hostsock_priv_t *p = hs(priv);
    zel_host_sockaddr_in_t to{};
    if (address && !to_host(address, address_length, &to)) return fail_with(ZEL_LINUX_SOCK_EAFNOSUPPORT);
    bool wait = may_wait(p, flags) && p->type != ZEL_LINUX_SOCK_DGRAM && p->protocol != ZEL_LINUX_IPPROTO_UDP;
    const char *bytes = static_cast<const char *>(buffer);
    size_t sent = 0;
    for (;;) {
        long n = zel_host_sock_send(&p->host, bytes + sent, clamp(length - sent), address ? &to : nullptr);
        // Writable holds until the host takes nothing more.
        if (n == -ZEL_LINUX_EAGAIN) zel_hostsock_rearm(p, ZEL_LINUX_EV_WRITE);
        if (n >= 0) {
            sent += static_cast<size_t>(n);
            if (sent >= length || !wait) return static_cast<zel_linux_ssize_t>(sent);
            continue;
        }
        if (n != -ZEL_LINUX_EAGAIN || !wait) return sent ? static_cast<zel_linux_ssize_t>(sent) : fail(n);
        if (!zel_linux_sock_wait(priv, ZEL_LINUX_EV_WRITE)) return sent ? static_cast<zel_linux_ssize_t>(sent) : -1;
    }
}

zel_linux_ssize_t zel_hostsock_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    return zel_hostsock_recvfrom(&hs(fd)->sock, buffer, count, static_cast<int>(fd->call_flags), nullptr, nullptr);
}

zel_linux_ssize_t zel_hostsock_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    return zel_hostsock_sendto(&hs(fd)->sock, buffer, count, static_cast<int>(fd->call_flags), nullptr, 0);
}

int zel_hostsock_connect(zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length) {
    zel_linux_sock_holder hold(priv);
    zel_linux_hostsock_priv_t *p = hs(priv);
    zel_host_sockaddr_in_t to{};
    if (!to_host(address, length, &to)) return fail_with(ZEL_LINUX_SOCK_EAFNOSUPPORT);
    zel_hostsock_watch(p);
    int rc = zel_host_sock_connect(&p->host, &to);
    if (rc == 0) return 0;
    if (rc != -ZEL_LINUX_EINPROGRESS) return fail(rc);
    // Under way: a non-blocking socket learns the end through writable and
    // SO_ERROR, as on the host.
    if (p->nonblocking) return fail(rc);
    if (!zel_linux_sock_wait(priv, ZEL_LINUX_EV_WRITE)) return -1;
    // The host reports a failed attempt as writable too.
    int error = 0;
    uint32_t size = sizeof error;
    rc = zel_host_sock_getopt(&p->host, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_ERROR, &error, &size);
    if (rc < 0) return fail(rc);
    error_taken(p);
    if (error != 0) return fail_with(error);
    // Writable stays visible to a following poll.
    zel_linux_fd_set_events(&priv->head, ZEL_LINUX_EV_WRITE);
    return 0;
}

int zel_hostsock_accept(zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length) {
    zel_linux_sock_holder hold(priv);
    zel_linux_hostsock_priv_t *p = hs(priv);
    for (;;) {
        zel_host_sock_t conn;
        zel_host_sockaddr_in_t peer{};
        int rc = zel_host_sock_accept(&p->host, &peer, &conn);
        if (rc == -ZEL_LINUX_EAGAIN) zel_hostsock_rearm(p, ZEL_LINUX_EV_READ);
        if (rc == -ZEL_LINUX_EAGAIN && may_wait(p, 0)) {
            if (!zel_linux_sock_wait(priv, ZEL_LINUX_EV_READ)) return -1;
            continue;
        }
        if (rc < 0) return fail(rc);
        zel_linux_fd_t *fd = nullptr;
        int number = zel_linux_sock_create(priv->op, priv->domain, priv->type, priv->protocol, &fd);
        if (number < 0) {
            zel_host_sock_close(&conn);
            return -1;
        }
        zel_linux_hostsock_priv_t *np = hs(fd);
        np->host = conn;
        np->family = p->family;
        np->type = p->type;
        np->protocol = p->protocol;
        zel_hostsock_watch(np);
        if (address) put(address, length, peer);
        return number;
    }
}

int zel_hostsock_bind(zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length) {
    zel_host_sockaddr_in_t at{};
    if (!to_host(address, length, &at)) return fail_with(ZEL_LINUX_SOCK_EAFNOSUPPORT);
    int rc = zel_host_sock_bind(&hs(priv)->host, &at);
    return rc < 0 ? fail(rc) : 0;
}

int zel_hostsock_listen(zel_linux_sock_priv_t *priv, int backlog) {
    int rc = zel_host_sock_listen(&hs(priv)->host, backlog);
    return rc < 0 ? fail(rc) : 0;
}

int zel_hostsock_shutdown(zel_linux_sock_priv_t *priv, int how) {
    // The directions are numbered alike on both sides; the host checks them.
    static_assert(ZEL_LINUX_SHUT_RD == ZEL_HOST_SHUT_RD && ZEL_LINUX_SHUT_WR == ZEL_HOST_SHUT_WR &&
                  ZEL_LINUX_SHUT_RDWR == ZEL_HOST_SHUT_RDWR);
    int rc = zel_host_sock_shutdown(&hs(priv)->host, how);
    return rc < 0 ? fail(rc) : 0;
}

int zel_hostsock_getsockname(zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length) {
    zel_host_sockaddr_in_t name{};
    int rc = zel_host_sock_name(&hs(priv)->host, &name);
    if (rc < 0) return fail(rc);
    return put(address, length, name);
}

int zel_hostsock_getpeername(zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length) {
    zel_host_sockaddr_in_t name{};
    int rc = zel_host_sock_peer(&hs(priv)->host, &name);
    if (rc < 0) return fail(rc);
    return put(address, length, name);
}

int zel_hostsock_setsockopt(
    zel_linux_sock_priv_t *priv, int level, int option, const void *value, zel_linux_socklen_t length) {
    zel_linux_hostsock_priv_t *p = hs(priv);
    if (!value) return fail_with(ZEL_LINUX_SOCK_EFAULT);
    if (level == ZEL_LINUX_SOL_SOCKET && option == ZEL_LINUX_SO_NONBLOCK) {
        if (length < sizeof(int)) return fail_with(ZEL_LINUX_SOCK_EINVAL);
        memcpy(&p->nonblocking, value, sizeof p->nonblocking);
        return 0;
    }
    if (level == ZEL_LINUX_SOL_SOCKET && is_timeout(option)) {
        if (length < sizeof(zel_linux_timeval)) return fail_with(ZEL_LINUX_SOCK_EINVAL);
        zel_linux_timeval tv;
        memcpy(&tv, value, sizeof tv);
        uint32_t ms = timeval_to_ms(tv);
        int rc = zel_host_sock_setopt(&p->host, ZEL_HOST_SOL_SOCKET, option, &ms, sizeof ms);
        if (rc < 0) return fail(rc);
        (option == ZEL_LINUX_SO_RCVTIMEO ? p->rcv_timeout : p->snd_timeout) = static_cast<int32_t>(ms);
        return 0;
    }
    int rc = zel_host_sock_setopt(&p->host, host_level(level), option, value, length);
    return rc < 0 ? fail(rc) : 0;
}

int zel_hostsock_getsockopt(
    zel_linux_sock_priv_t *priv, int level, int option, void *value, zel_linux_socklen_t *length) {
    zel_linux_hostsock_priv_t *p = hs(priv);
    if (!value || !length) return fail_with(ZEL_LINUX_SOCK_EFAULT);
    if (level == ZEL_LINUX_SOL_SOCKET && option == ZEL_LINUX_SO_NONBLOCK) {
        if (*length < sizeof(int)) return fail_with(ZEL_LINUX_SOCK_EINVAL);
        memcpy(value, &p->nonblocking, sizeof p->nonblocking);
        *length = sizeof p->nonblocking;
        return 0;
    }
    if (level == ZEL_LINUX_SOL_SOCKET && is_timeout(option)) {
        if (*length < sizeof(zel_linux_timeval)) return fail_with(ZEL_LINUX_SOCK_EINVAL);
        uint32_t ms = 0, size = sizeof ms;
        int rc = zel_host_sock_getopt(&p->host, ZEL_HOST_SOL_SOCKET, option, &ms, &size);
        if (rc < 0) return fail(rc);
        zel_linux_timeval tv{};
        tv.tv_sec = ms / 1000u;
        tv.tv_usec = static_cast<long>(ms % 1000u) * 1000;
        memcpy(value, &tv, sizeof tv);
        *length = sizeof tv;
        return 0;
    }
    uint32_t size = *length;
    int rc = zel_host_sock_getopt(&p->host, host_level(level), option, value, &size);
    if (rc < 0) return fail(rc);
    if (level == ZEL_LINUX_SOL_SOCKET && option == ZEL_LINUX_SO_ERROR) error_taken(p);
    *length = size;
    return 0;
}

zel_linux_hostent *zel_hostsock_gethostbyname(const char *name) {
    uint32_t address = 0;
    if (zel_host_sock_gethostbyname(name, &address) != 0) return nullptr;
    g_host_address = address;
    g_host_addresses[0] = reinterpret_cast<char *>(&g_host_address);
    g_host_addresses[1] = nullptr;
    g_no_aliases[0] = nullptr;
    g_hostent.h_name = const_cast<char *>(name);
    g_hostent.h_aliases = g_no_aliases;
    g_hostent.h_addrtype = ZEL_LINUX_AF_INET;
    g_hostent.h_length = sizeof g_host_address;
    g_hostent.h_addr_list = g_host_addresses;
    return &g_hostent;
}

zel_linux_hostent *zel_linux_gethostbyname(const char *name) { return zel_hostsock_gethostbyname(name); }

}  // extern "C"

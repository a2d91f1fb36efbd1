// Host sockets on BSD sockets, and their poller "hostsock_irqthread".
//
// The watched list, the per-socket set bits, the descriptor index and the
// list of descriptors to release are shared between framework contexts and
// the poller; both touch them only while they hold the interrupt lock (the
// framework by running, the poller between zel_host_irq_enter and
// zel_host_irq_leave). The poller leaves the emulated interrupt before it
// blocks in poll; every change that matters to it is followed by a wake on
// an eventfd, so it comes round and rebuilds its poll list.
#include "zel_host_sock.h"

#include "zel_host.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <vector>

namespace {

struct hostsock_state {
    bool started = false;
    int wake = -1;                    // eventfd that brings the poller round
    zel_host_sock_t *head = nullptr;  // watched list
    zel_host_sock_t *tail = nullptr;
    uint32_t listed = 0;
    std::vector<zel_host_sock_t *> by_handle;  // listed socket of each host descriptor
    std::vector<int> closing;                  // descriptors the poller releases next round
    zel_host_sock_ready_t hook = nullptr;
    zel_host_thread_t thread{};
};

// Never destroyed: the poller runs until the process is gone.
hostsock_state &g_sock = *new hostsock_state;

void wake_poller() {
    if (g_sock.wake < 0) return;
    uint64_t one = 1;
    // A full counter cannot happen; a failed write leaves the poller asleep
    // only if it never comes round, which the counter rules out.
    ssize_t n = write(g_sock.wake, &one, sizeof one);
    (void)n;
}

void list_add(zel_host_sock_t *sock) {
    sock->next = nullptr;
    sock->prev = g_sock.tail;
    if (g_sock.tail)
        g_sock.tail->next = sock;
    else
        g_sock.head = sock;
    g_sock.tail = sock;
    sock->listed = 1;
    g_sock.listed++;
    size_t h = static_cast<size_t>(sock->handle);
    if (g_sock.by_handle.size() <= h) g_sock.by_handle.resize(h + 1, nullptr);
    g_sock.by_handle[h] = sock;
}

void list_remove(zel_host_sock_t *sock) {
    if (!sock->listed) return;
    if (sock->prev)
        sock->prev->next = sock->next;
    else
        g_sock.head = sock->next;
    if (sock->next)
        sock->next->prev = sock->prev;
    else
        g_sock.tail = sock->prev;
    sock->next = sock->prev = nullptr;
    sock->listed = 0;
    g_sock.listed--;
    size_t h = static_cast<size_t>(sock->handle);
    if (h < g_sock.by_handle.size() && g_sock.by_handle[h] == sock) g_sock.by_handle[h] = nullptr;
}

bool takes_part(const zel_host_sock_t *sock) {
    return sock->phase != ZEL_HOST_SOCK_FRESH &&
           (sock->sets & (ZEL_HOST_SOCK_IN_READ_SET | ZEL_HOST_SOCK_IN_WRITE_SET));
}

// ---- the poller --------------------------------------------------------------

// Hands the results of the last poll to the owners (inside the interrupt).
void deliver(const std::vector<struct pollfd> &fds) {
    for (size_t i = 1; i < fds.size(); ++i) {
        short got = fds[i].revents;
        if (!got) continue;
        size_t h = static_cast<size_t>(fds[i].fd);
        // A socket closed since is no longer indexed; its descriptor is
        // still ours (released below), so no other socket can hold it.
        zel_host_sock_t *sock = h < g_sock.by_handle.size() ? g_sock.by_handle[h] : nullptr;
        if (!sock) continue;
        uint32_t events = 0;
        const short failed = POLLERR | POLLHUP;
        if ((got & (POLLIN | POLLRDHUP | failed)) && (sock->sets & ZEL_HOST_SOCK_IN_READ_SET)) {
            sock->sets &= static_cast<uint8_t>(~ZEL_HOST_SOCK_IN_READ_SET);
            events |= ZEL_HOST_SOCK_READABLE;
        }
        if ((got & (POLLOUT | failed)) && (sock->sets & ZEL_HOST_SOCK_IN_WRITE_SET)) {
            sock->sets &= static_cast<uint8_t>(~ZEL_HOST_SOCK_IN_WRITE_SET);
            events |= ZEL_HOST_SOCK_WRITABLE;
        }
        if (events && (got & POLLERR)) events |= ZEL_HOST_SOCK_ERROR;
        if (events && (got & POLLHUP)) events |= ZEL_HOST_SOCK_HANGUP;
        if (events && g_sock.hook) g_sock.hook(sock, events);
    }
}

// Builds the next poll list: the wake first, then every socket in a set.
void rebuild(std::vector<struct pollfd> &fds) {
    fds.clear();
    fds.push_back({g_sock.wake, POLLIN, 0});
    for (zel_host_sock_t *sock = g_sock.head; sock; sock = sock->next) {
        if (!takes_part(sock)) continue;
        short want = 0;
        if (sock->sets & ZEL_HOST_SOCK_IN_READ_SET) want |= POLLIN | POLLRDHUP;
        if (sock->sets & ZEL_HOST_SOCK_IN_WRITE_SET) want |= POLLOUT;
        fds.push_back({sock->handle, want, 0});
    }
}

void poller(zel_host_thread_t *record) {
    std::vector<struct pollfd> fds;
    std::vector<int> releasing;
    for (;;) {
        zel_host_irq_enter(record);
        deliver(fds);
        releasing.swap(g_sock.closing);
        rebuild(fds);
        zel_host_irq_leave(record, 0);

        // Nothing of this round's list refers to these any more.
        for (int handle : releasing) close(handle);
        releasing.clear();

        int n = poll(fds.data(), fds.size(), -1);
        if (n <= 0) {
            for (auto &p : fds) p.revents = 0;
            continue;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            ssize_t got = read(g_sock.wake, &count, sizeof count);
            (void)got;
        }
    }
}

// ---- conversions ---------------------------------------------------------------

int to_host(const zel_host_sockaddr_in_t *in, struct sockaddr_in *out) {
    if (!in || in->family != AF_INET) return -EAFNOSUPPORT;
    memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = in->port;
    out->sin_addr.s_addr = in->addr;
    return 0;
}

void from_host(const struct sockaddr_in &in, zel_host_sockaddr_in_t *out) {
    if (!out) return;
    out->family = in.sin_family == AF_INET ? 2 : 0;
    out->port = in.sin_port;
    out->addr = in.sin_addr.s_addr;
}

int host_level(int level) {
    switch (level) {
    case ZEL_HOST_SOL_SOCKET: return SOL_SOCKET;
    case ZEL_HOST_IPPROTO_TCP: return IPPROTO_TCP;
    default: return level;
    }
}

bool is_timeout(int level, int option) {
    return level == ZEL_HOST_SOL_SOCKET && (option == ZEL_HOST_SO_RCVTIMEO || option == ZEL_HOST_SO_SNDTIMEO);
}

int host_option(int level, int option) {
    if (level != ZEL_HOST_SOL_SOCKET) return option;
    switch (option) {
    case ZEL_HOST_SO_ERROR: return SO_ERROR;
    case ZEL_HOST_SO_LINGER: return SO_LINGER;
    case ZEL_HOST_SO_RCVTIMEO: return SO_RCVTIMEO;
    case ZEL_HOST_SO_SNDTIMEO: return SO_SNDTIMEO;
    default: return option;
    }
}

int failed() { return -errno; }

// The socket's own address or its peer's.
int address_of(zel_host_sock_t *sock, zel_host_sockaddr_in_t *out, int (*ask)(int, struct sockaddr *, socklen_t *)) {
    struct sockaddr_in sa;
    socklen_t len = sizeof sa;
    memset(&sa, 0, sizeof sa);
    if (ask(sock->handle, reinterpret_cast<struct sockaddr *>(&sa), &len) != 0) return failed();
    from_host(sa, out);
    return 0;
}

}  // namespace

extern "C" {

zel_host_sock_ready_t zel_host_sock_set_ready_hook(zel_host_sock_ready_t hook) {
    zel_host_sock_ready_t old = g_sock.hook;
    g_sock.hook = hook;
    return old;
}

int zel_host_sock_start(void) {
    if (g_sock.started) return 0;
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) return failed();
    g_sock.wake = wake;
    // The poller waits in zel_host_irq_enter until this context lets go.
    if (zel_host_thread_start(&g_sock.thread, "hostsock_irqthread", poller, 0) == 0) {
        g_sock.wake = -1;
        close(wake);
        return -EAGAIN;
    }
    g_sock.started = true;
    return 0;
}

int zel_host_sock_open(zel_host_sock_t *sock, int type, int protocol) {
    memset(sock, 0, sizeof *sock);
    sock->handle = -1;
    int host_type;
    if (type == ZEL_HOST_SOCK_STREAM)
        host_type = SOCK_STREAM;
    else if (type == ZEL_HOST_SOCK_DGRAM)
        host_type = SOCK_DGRAM;
    else
        return -EPROTOTYPE;
    int rc = zel_host_sock_start();
    if (rc < 0) return rc;
    int h = socket(AF_INET, host_type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (h < 0) return failed();
    sock->handle = h;
    sock->type = static_cast<uint8_t>(type);
    sock->phase = type == ZEL_HOST_SOCK_DGRAM ? ZEL_HOST_SOCK_CONNECTED : ZEL_HOST_SOCK_FRESH;
    return 0;
}

void zel_host_sock_close(zel_host_sock_t *sock) {
    if (sock->handle < 0) return;
    list_remove(sock);
    if (g_sock.started) {
        g_sock.closing.push_back(sock->handle);
        wake_poller();
    } else {
        close(sock->handle);
    }
    sock->handle = -1;
    sock->sets = 0;
    sock->phase = ZEL_HOST_SOCK_FRESH;
}

void zel_host_sock_watch(zel_host_sock_t *sock) {
    zel_host_sock_watch_sets(sock, ZEL_HOST_SOCK_IN_READ_SET | ZEL_HOST_SOCK_IN_WRITE_SET);
}

void zel_host_sock_watch_sets(zel_host_sock_t *sock, uint32_t sets) {
    if (sock->handle < 0) return;
    if (!sock->listed) list_add(sock);
    const uint8_t added = static_cast<uint8_t>(
        sets & ~static_cast<uint32_t>(sock->sets) & (ZEL_HOST_SOCK_IN_READ_SET | ZEL_HOST_SOCK_IN_WRITE_SET));
    sock->sets = static_cast<uint8_t>(sock->sets | added);
    // A set the socket is still in is in the poller's current list already.
    if (added && sock->phase != ZEL_HOST_SOCK_FRESH) wake_poller();
}

int zel_host_sock_connect(zel_host_sock_t *sock, const zel_host_sockaddr_in_t *address) {
    struct sockaddr_in sa;
    int rc = to_host(address, &sa);
    if (rc < 0) return rc;
    if (connect(sock->handle, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) == 0) {
        sock->phase = ZEL_HOST_SOCK_CONNECTED;
        wake_poller();
        return 0;
    }
    rc = failed();
    if (rc == -EINPROGRESS || rc == -EALREADY) {
        sock->phase = ZEL_HOST_SOCK_CONNECTING;
        wake_poller();
    }
    return rc;
}

int zel_host_sock_bind(zel_host_sock_t *sock, const zel_host_sockaddr_in_t *address) {
    struct sockaddr_in sa;
    int rc = to_host(address, &sa);
    if (rc < 0) return rc;
    return bind(sock->handle, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) == 0 ? 0 : failed();
}

int zel_host_sock_listen(zel_host_sock_t *sock, int backlog) {
    if (listen(sock->handle, backlog) != 0) return failed();
    sock->phase = ZEL_HOST_SOCK_LISTENING;
    wake_poller();
    return 0;
}

int zel_host_sock_accept(zel_host_sock_t *sock, zel_host_sockaddr_in_t *peer, zel_host_sock_t *out) {
    memset(out, 0, sizeof *out);
    out->handle = -1;
    struct sockaddr_in sa;
    socklen_t len = sizeof sa;
    memset(&sa, 0, sizeof sa);
    int h = accept4(sock->handle, reinterpret_cast<struct sockaddr *>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (h < 0) return failed();
    from_host(sa, peer);
    out->handle = h;
    out->type = sock->type;
    out->phase = ZEL_HOST_SOCK_CONNECTED;
    return 0;
}

int zel_host_sock_shutdown(zel_host_sock_t *sock, int how) {
    int host_how;
    switch (how) {
    case ZEL_HOST_SHUT_RD: host_how = SHUT_RD; break;
    case ZEL_HOST_SHUT_WR: host_how = SHUT_WR; break;
    case ZEL_HOST_SHUT_RDWR: host_how = SHUT_RDWR; break;
    default: return -EINVAL;
    }
    return shutdown(sock->handle, host_how) == 0 ? 0 : failed();
}

long zel_host_sock_send(zel_host_sock_t *sock, const void *buffer, uint32_t length, const zel_host_sockaddr_in_t *to) {
    ssize_t n;
    if (to) {
        struct sockaddr_in sa;
        int rc = to_host(to, &sa);
        if (rc < 0) return rc;
        n = sendto(sock->handle, buffer, length, MSG_NOSIGNAL, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa);
    } else {
        n = send(sock->handle, buffer, length, MSG_NOSIGNAL);
    }
    return n < 0 ? failed() : n;
}

long zel_host_sock_recv(zel_host_sock_t *sock, void *buffer, uint32_t length, zel_host_sockaddr_in_t *from) {
    ssize_t n;
    if (from) {
        struct sockaddr_in sa;
        socklen_t len = sizeof sa;
        memset(&sa, 0, sizeof sa);
        n = recvfrom(sock->handle, buffer, length, 0, reinterpret_cast<struct sockaddr *>(&sa), &len);
        if (n >= 0) from_host(sa, from);
    } else {
        n = recv(sock->handle, buffer, length, 0);
    }
    return n < 0 ? failed() : n;
}

int zel_host_sock_setopt(zel_host_sock_t *sock, int level, int option, const void *value, uint32_t length) {
    int hl = host_level(level);
    int ho = host_option(level, option);
    if (is_timeout(level, option)) {
        if (!value || length < sizeof(uint32_t)) return -EINVAL;
        uint32_t ms;
        memcpy(&ms, value, sizeof ms);
        struct timeval tv;
        tv.tv_sec = ms / 1000;
        tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
        return setsockopt(sock->handle, hl, ho, &tv, sizeof tv) == 0 ? 0 : failed();
    }
    if (level == ZEL_HOST_SOL_SOCKET && option == ZEL_HOST_SO_LINGER) {
        if (!value || length < 2 * sizeof(int)) return -EINVAL;
        int words[2];
        memcpy(words, value, sizeof words);
        struct linger lg;
        lg.l_onoff = words[0];
        lg.l_linger = words[1];
        return setsockopt(sock->handle, hl, ho, &lg, sizeof lg) == 0 ? 0 : failed();
    }
    return setsockopt(sock->handle, hl, ho, value, length) == 0 ? 0 : failed();
}

int zel_host_sock_getopt(zel_host_sock_t *sock, int level, int option, void *value, uint32_t *length) {
    if (!value || !length) return -EFAULT;
    int hl = host_level(level);
    int ho = host_option(level, option);
    if (is_timeout(level, option)) {
        if (*length < sizeof(uint32_t)) return -EINVAL;
        struct timeval tv;
        socklen_t len = sizeof tv;
        if (getsockopt(sock->handle, hl, ho, &tv, &len) != 0) return failed();
        uint32_t ms = static_cast<uint32_t>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
        memcpy(value, &ms, sizeof ms);
        *length = sizeof ms;
        return 0;
    }
    if (level == ZEL_HOST_SOL_SOCKET && option == ZEL_HOST_SO_LINGER) {
        if (*length < 2 * sizeof(int)) return -EINVAL;
        struct linger lg;
        socklen_t len = sizeof lg;
        if (getsockopt(sock->handle, hl, ho, &lg, &len) != 0) return failed();
        int words[2] = {lg.l_onoff, lg.l_linger};
        memcpy(value, words, sizeof words);
        *length = sizeof words;
        return 0;
    }
    socklen_t len = *length;
    if (getsockopt(sock->handle, hl, ho, value, &len) != 0) return failed();
    *length = len;
    return 0;
}

int zel_host_sock_name(zel_host_sock_t *sock, zel_host_sockaddr_in_t *out) {
    return address_of(sock, out, getsockname);
}

int zel_host_sock_peer(zel_host_sock_t *sock, zel_host_sockaddr_in_t *out) {
    return address_of(sock, out, getpeername);
}

int zel_host_sock_gethostbyname(const char *name, uint32_t *address) {
    if (!name || !address) return -1;
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return -1;
    int rc = -1;
    for (struct addrinfo *ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr) continue;
        *address = reinterpret_cast<const struct sockaddr_in *>(ai->ai_addr)->sin_addr.s_addr;
        rc = 0;
        break;
    }
    freeaddrinfo(found);
    return rc;
}

uint32_t zel_host_sock_listed_count(void) { return g_sock.listed; }

uint32_t zel_host_sock_closing_count(void) { return static_cast<uint32_t>(g_sock.closing.size()); }

}  // extern "C"

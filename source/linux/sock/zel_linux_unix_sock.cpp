// UNIX-domain sockets: a name in the file tree, a pending queue on the
// listener, and two private pipes per connection.
#include "zel_linux_unix_sock.h"

#include <string.h>

#include <initializer_list>

#include "zel_fs.h"
#include "zel_linux_bind.h"
#include "zel_linux_file.h"
#include "zel_linux_process.h"
#include "zel_linux_stream_fd.h"

namespace {

constexpr int kEpipe = 32;
constexpr int kPathMax = sizeof(zel_linux_sockaddr_un{}.sun_path);

// Every bound socket, so that a name's target is believed only while the
// socket behind it lives.
zel_dlist_t g_bound;

zel_linux_unsock_priv_t *us(zel_linux_sock_priv_t *priv) { return reinterpret_cast<zel_linux_unsock_priv_t *>(priv); }

zel_linux_unsock_priv_t *us(zel_linux_fd_t *fd) { return reinterpret_cast<zel_linux_unsock_priv_t *>(fd->priv); }

zel_linux_unsock_priv_t *of_node(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_linux_unsock_priv_t, node); }

zel_linux_fd_priv_t *head(zel_linux_unsock_priv_t *u) { return &u->sock.head; }

int fail_with(int error) {
    zel_linux_set_errno(error);
    return -1;
}

uint32_t clamp(size_t n) { return n > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(n); }

// An event whose condition holds until it is cleared: poll keeps seeing it.
void raise_level(zel_linux_unsock_priv_t *u, uint16_t events) {
    head(u)->level = static_cast<uint16_t>(head(u)->level | events);
    zel_linux_fd_set_events(head(u), events);
}

bool is_bound_socket(const void *target) {
    for (zel_dlist_node_t *n = g_bound.head; n; n = n->next)
        if (ZEL_CONTAINER_OF(n, zel_linux_unsock_priv_t, bound_node) == target) return true;
    return false;
}

// The path of an address: at most the bytes the caller gave, NUL-ended.
bool path_of(const zel_linux_sockaddr *address, zel_linux_socklen_t length, char (&out)[kPathMax + 1]) {
    const zel_linux_sockaddr_un *un = reinterpret_cast<const zel_linux_sockaddr_un *>(address);
    size_t limit = kPathMax;
    if (length >= sizeof un->sun_family && length - sizeof un->sun_family < limit)
        limit = length - sizeof un->sun_family;
    size_t n = strnlen(un->sun_path, limit);
    memcpy(out, un->sun_path, n);
    out[n] = 0;
    return n > 0;
}

// The socket bound to a path, when one lives there; else null.
zel_linux_unsock_priv_t *bound_at(const char *path) {
    int fd = zel_linux_open(path, 0);
    if (fd < 0) return nullptr;
    uint32_t attributes = 0;
    void *target = nullptr;
    bool named = zel_linux_fd_get_attr(fd, &attributes) == 0 && (attributes & ZEL_FILE_SOCKET) &&
                 zel_linux_fs_get_target(fd, &target) == 0;
    zel_linux_close(fd);
    return named && is_bound_socket(target) ? static_cast<zel_linux_unsock_priv_t *>(target) : nullptr;
}

// ---- pipe ends private to a socket ------------------------------------------------

// Keeps the descriptor's record in the socket and gives its number back: the
// end belongs to the socket, not to the process that made it.
void adopt(zel_linux_fd_t *made, zel_linux_fd_t *end, zel_linux_unsock_priv_t *owner) {
    *end = *made;
    end->number = -1;
    end->node = zel_dlist_node_t{};
    zel_linux_fd_delete(made->number);
    end->priv->status = head(owner)->status & ZEL_LINUX_O_NONBLOCK;
}

void close_end(zel_linux_fd_t *end) {
    if (!end->priv) return;
    zel_linux_pipe_close(end);
    zel_linux_fd_priv_free(end->priv);
    end->priv = nullptr;
}

// The read end of the pipe that `reader` reads; its events reach `reader`.
bool make_rx(zel_linux_unsock_priv_t *reader) {
    zel_linux_fd_t *made = zel_linux_pipe_rx_create(nullptr);
    if (!made) return false;
    adopt(made, &reader->rx, reader);
    zel_linux_pipe_rx_priv_t *rx = reinterpret_cast<zel_linux_pipe_rx_priv_t *>(reader->rx.priv);
    rx->stream.head.link = reader;
    rx->stream.relay = zel_linux_unsock_evthandler;
    return true;
}

// The write end with which `writer` writes into what `reader` reads; its
// events (room, the reader gone) reach `writer`.
bool make_tx(zel_linux_unsock_priv_t *writer, zel_linux_unsock_priv_t *reader) {
    zel_linux_fd_t *made = zel_linux_pipe_tx_create(reinterpret_cast<zel_linux_pipe_rx_priv_t *>(reader->rx.priv));
    if (!made) return false;
    adopt(made, &writer->tx, writer);
    zel_linux_pipe_tx_priv_t *tx = reinterpret_cast<zel_linux_pipe_tx_priv_t *>(writer->tx.priv);
    tx->stream.head.link = writer;
    tx->stream.relay = zel_linux_unsock_evthandler;
    return true;
}

// Connects two fresh sockets with a pipe each way; nothing is left behind
// when it fails.
bool join(zel_linux_unsock_priv_t *a, zel_linux_unsock_priv_t *b) {
    if (make_rx(a) && make_rx(b) && make_tx(a, b) && make_tx(b, a)) {
        a->peer = b;
        b->peer = a;
        a->state = b->state = ZEL_LINUX_UNSOCK_CONNECTED;
        raise_level(a, ZEL_LINUX_EV_WRITE);
        raise_level(b, ZEL_LINUX_EV_WRITE);
        return true;
    }
    for (zel_linux_unsock_priv_t *u : {a, b}) {
        close_end(&u->tx);
        close_end(&u->rx);
    }
    return false;
}

// A connecting socket learns that it will not be accepted.
void refuse(zel_linux_unsock_priv_t *c) {
    c->state = ZEL_LINUX_UNSOCK_IDLE;
    c->peer = nullptr;
    if (c->waiting) zel_linux_trig_signal(c->waiting, 0);
}

// After a direction closed: once both are, the connection is over.
void settle_shutdown(zel_linux_unsock_priv_t *u) {
    if (u->state != ZEL_LINUX_UNSOCK_CONNECTED || u->rx.priv || u->tx.priv) return;
    u->state = ZEL_LINUX_UNSOCK_SHUT;
    if (zel_linux_unsock_priv_t *l = u->listener) {
        l->backlog++;
        zel_dlist_remove(&l->accepted, &u->node);
        u->listener = nullptr;
    }
    if (zel_linux_unsock_priv_t *p = u->peer) {
        p->peer = nullptr;
        raise_level(p, ZEL_LINUX_EV_READ);
        u->peer = nullptr;
    }
}

void unbind(zel_linux_unsock_priv_t *u) {
    if (!u->path) return;
    int fd = zel_linux_open(u->path, 0);
    if (fd >= 0) {
        void *target = nullptr;
        if (zel_linux_fs_get_target(fd, &target) == 0 && target == u)
            (void)zel_linux_fs_set_target(fd, nullptr, nullptr, nullptr);  // the node was just found: cannot fail
        zel_linux_close(fd);
    }
    zel_dlist_remove(&g_bound, &u->bound_node);
    zel_linux_free_p(zel_linux_kernel_process_get(), u->path);
    u->path = nullptr;
}

// Refreshes readable after a read: it holds while bytes are left or the
// writer has gone (the end of the data stays visible to poll).
void refresh_readable(zel_linux_unsock_priv_t *u, zel_stream_t *s) {
    if (zel_stream_get_rbuf(s, nullptr) > 0 || !zel_stream_is_tx_connected(s))
        raise_level(u, ZEL_LINUX_EV_READ);
    else
        zel_linux_fd_clear_events(head(u), ZEL_LINUX_EV_READ);
}

// Refreshes writable after a write: it holds while the pipe has room; once
// it is full, the reader's next read raises it again.
void refresh_writable(zel_linux_unsock_priv_t *u, zel_stream_t *s) {
    if (zel_stream_get_free_size(s) > 0)
        raise_level(u, ZEL_LINUX_EV_WRITE);
    else
        zel_linux_fd_clear_events(head(u), ZEL_LINUX_EV_WRITE);
}

// The stream this socket writes into while its peer reads it; else null.
zel_stream_t *writable_stream(zel_linux_unsock_priv_t *u) {
    zel_linux_pipe_tx_priv_t *tx = reinterpret_cast<zel_linux_pipe_tx_priv_t *>(u->tx.priv);
    if (!tx || !tx->stream.tx || !zel_stream_is_rx_connected(tx->stream.tx)) return nullptr;
    return tx->stream.tx;
}

}  // namespace

extern "C" {

const zel_linux_sock_op_t zel_linux_unsock_op = {
    .fd =
        {
            .priv_size = sizeof(zel_linux_unsock_priv_t),
            .init = nullptr,
            .fcntl = zel_linux_unsock_fcntl,
            .read = zel_linux_unsock_read,
            .write = zel_linux_unsock_write,
            .close = zel_linux_unsock_close,
            .eof = nullptr,
        },
    .init = nullptr,
    .shutdown = zel_linux_unsock_shutdown,
    .connect = zel_linux_unsock_connect,
    .listen = zel_linux_unsock_listen,
    .accept = zel_linux_unsock_accept,
    .bind = zel_linux_unsock_bind,
    .getsockopt = nullptr,
    .setsockopt = nullptr,
    .getpeername = nullptr,
    .getsockname = nullptr,
};

void zel_linux_unsock_evthandler(zel_linux_fd_priv_t *rx_priv, uintptr_t, uint16_t events, int set) {
    zel_linux_unsock_priv_t *u = static_cast<zel_linux_unsock_priv_t *>(rx_priv->link);
    if (!u) return;
    if (set)
        zel_linux_fd_set_events_isr(head(u), events);
    else
        zel_linux_fd_clear_events(head(u), events);
}

int zel_linux_unsock_fcntl(zel_linux_fd_t *fd, int command, uintptr_t changed) {
    if (command == ZEL_LINUX_F_SETFD) return 0;
    if (command != ZEL_LINUX_F_SETFL) return -1;
    if (changed & ZEL_LINUX_O_NONBLOCK) {
        // The pipe ends follow the socket's mode.
        zel_linux_unsock_priv_t *u = us(fd);
        uint32_t mode = fd->priv->status & ZEL_LINUX_O_NONBLOCK;
        for (zel_linux_fd_t *end : {&u->rx, &u->tx})
            if (end->priv) end->priv->status = (end->priv->status & ~ZEL_LINUX_O_NONBLOCK) | mode;
    }
    return 0;
}

zel_linux_ssize_t zel_linux_unsock_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    zel_linux_unsock_priv_t *u = us(fd);
    zel_linux_sock_holder hold(&u->sock);
    bool wait = !(fd->call_flags & ZEL_LINUX_MSG_DONTWAIT) && !(head(u)->status & ZEL_LINUX_O_NONBLOCK);
    for (;;) {
        // Not connected, or this side stopped reading: the end of the data.
        if (!u->rx.priv) return 0;
        zel_stream_t *s = reinterpret_cast<zel_linux_pipe_rx_priv_t *>(u->rx.priv)->stream.rx;
        if (!s) return 0;
        if (count == 0) return 0;
        if (zel_stream_get_rbuf(s, nullptr) > 0) {
            uint32_t n = zel_stream_read(s, buffer, clamp(count));
            refresh_readable(u, s);
            return n;
        }
        // Everything read and nobody writes any more.
        if (!zel_stream_is_tx_connected(s)) return 0;
        if (!wait) return fail_with(ZEL_LINUX_EAGAIN);
        if (head(u)->pending & ZEL_LINUX_EV_READ) {
            zel_linux_fd_consume_events(head(u), ZEL_LINUX_EV_READ);
            continue;  // stale: look again
        }
        // The read end relays arrivals to this socket: wait here.
        zel_linux_fd_clear_events(head(u), ZEL_LINUX_EV_READ);
        if (!zel_linux_sock_wait(&u->sock, ZEL_LINUX_EV_READ)) return -1;
    }
}

zel_linux_ssize_t zel_linux_unsock_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    zel_linux_unsock_priv_t *u = us(fd);
    zel_linux_sock_holder hold(&u->sock);
    bool wait = !(fd->call_flags & ZEL_LINUX_MSG_DONTWAIT) && !(head(u)->status & ZEL_LINUX_O_NONBLOCK);
    const char *bytes = static_cast<const char *>(buffer);
    size_t sent = 0;
    for (;;) {
        // Not connected, this side stopped writing, or the peer stopped
        // reading (before the call or while it waited): what went is
        // answered, the next write learns the end.
        zel_stream_t *s = writable_stream(u);
        if (!s) return sent ? static_cast<zel_linux_ssize_t>(sent) : fail_with(kEpipe);
        if (sent == count) {
            refresh_writable(u, s);
            return static_cast<zel_linux_ssize_t>(sent);
        }
        if (zel_stream_get_free_size(s) > 0) {
            uint32_t taken = zel_stream_write(s, bytes + sent, clamp(count - sent));
            sent += taken;
            if (taken > 0) continue;
            // Room, yet nothing taken: the stream cannot store (no memory).
            refresh_writable(u, s);
            return sent ? static_cast<zel_linux_ssize_t>(sent) : fail_with(ZEL_LINUX_ENOMEM);
        }
        // Full: the condition ends until the reader makes room.
        zel_linux_fd_clear_events(head(u), ZEL_LINUX_EV_WRITE);
        if (!wait) return sent ? static_cast<zel_linux_ssize_t>(sent) : fail_with(ZEL_LINUX_EAGAIN);
        if (!zel_linux_sock_wait(&u->sock, ZEL_LINUX_EV_WRITE)) return sent ? static_cast<zel_linux_ssize_t>(sent) : -1;
    }
}

int zel_linux_unsock_shutdown(zel_linux_sock_priv_t *priv, int how) {
    zel_linux_unsock_priv_t *u = us(priv);
    if (how != ZEL_LINUX_SHUT_RD && how != ZEL_LINUX_SHUT_WR && how != ZEL_LINUX_SHUT_RDWR)
        return fail_with(ZEL_LINUX_SOCK_EINVAL);
    if (how != ZEL_LINUX_SHUT_WR && u->rx.priv) {
        close_end(&u->rx);
        raise_level(u, ZEL_LINUX_EV_READ);  // reads answer 0 from now on
    }
    if (how != ZEL_LINUX_SHUT_RD) close_end(&u->tx);
    settle_shutdown(u);
    return 0;
}

int zel_linux_unsock_close(zel_linux_fd_t *fd) {
    zel_linux_unsock_priv_t *u = us(fd);
    switch (static_cast<zel_linux_unsock_state_t>(u->state)) {
    case ZEL_LINUX_UNSOCK_LISTENING:
        while (zel_dlist_node_t *n = zel_dlist_dequeue(&u->pending)) refuse(of_node(n));
        while (zel_dlist_node_t *n = zel_dlist_dequeue(&u->accepted)) of_node(n)->listener = nullptr;
        break;
    case ZEL_LINUX_UNSOCK_CONNECTING:
        zel_dlist_remove(&u->peer->pending, &u->node);
        refuse(u);
        break;
    case ZEL_LINUX_UNSOCK_CONNECTED:
        (void)zel_linux_unsock_shutdown(&u->sock, ZEL_LINUX_SHUT_RDWR);  // connected: cannot fail
        break;
    case ZEL_LINUX_UNSOCK_IDLE:
    case ZEL_LINUX_UNSOCK_SHUT: break;
    }
    u->state = ZEL_LINUX_UNSOCK_SHUT;
    unbind(u);
    return 0;
}

int zel_linux_unsock_bind(zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length) {
    zel_linux_unsock_priv_t *u = us(priv);
    char path[kPathMax + 1];
    if (u->path || u->state != ZEL_LINUX_UNSOCK_IDLE || !path_of(address, length, path))
        return fail_with(ZEL_LINUX_SOCK_EINVAL);
    // An existing name is reused only when it is a socket's that has gone.
    int fd = zel_linux_open(path, 0);
    if (fd >= 0) {
        uint32_t attributes = 0;
        void *target = nullptr;
        bool stale = zel_linux_fd_get_attr(fd, &attributes) == 0 && (attributes & ZEL_FILE_SOCKET) &&
                     zel_linux_fs_get_target(fd, &target) == 0 && !is_bound_socket(target);
        if (!stale) {
            zel_linux_close(fd);
            return fail_with(ZEL_LINUX_SOCK_EADDRINUSE);
        }
    } else {
        fd = zel_linux_open(path, ZEL_LINUX_O_CREAT, 0777);
        if (fd < 0) return -1;
    }
    char *kept = zel_linux_strdup_p(zel_linux_kernel_process_get(), path);
    bool bound = kept && zel_linux_fs_set_target(fd, u, nullptr, nullptr) == 0 &&
                 zel_linux_fd_set_attr(fd, ZEL_FILE_SOCKET) == 0;
    zel_linux_close(fd);
    if (!bound) {
        zel_linux_free_p(zel_linux_kernel_process_get(), kept);
        return -1;
    }
    u->path = kept;
    zel_dlist_append(&g_bound, &u->bound_node);
    return 0;
}

int zel_linux_unsock_listen(zel_linux_sock_priv_t *priv, int backlog) {
    zel_linux_unsock_priv_t *u = us(priv);
    if (u->state != ZEL_LINUX_UNSOCK_IDLE && u->state != ZEL_LINUX_UNSOCK_LISTENING)
        return fail_with(ZEL_LINUX_SOCK_EINVAL);
    u->state = ZEL_LINUX_UNSOCK_LISTENING;
    u->backlog = backlog < 1 ? 1 : backlog;
    return 0;
}

int zel_linux_unsock_connect(
    zel_linux_sock_priv_t *priv, const zel_linux_sockaddr *address, zel_linux_socklen_t length) {
    zel_linux_unsock_priv_t *u = us(priv);
    char path[kPathMax + 1];
    if (u->state != ZEL_LINUX_UNSOCK_IDLE || !path_of(address, length, path)) return fail_with(ZEL_LINUX_SOCK_EINVAL);
    zel_linux_unsock_priv_t *l = bound_at(path);
    if (!l || l->state != ZEL_LINUX_UNSOCK_LISTENING) return fail_with(ZEL_LINUX_SOCK_ECONNREFUSED);

    zel_linux_sock_holder hold(priv);
    zel_linux_trig_t trig;
    zel_linux_trig_init(&trig);
    u->waiting = &trig;
    u->peer = l;
    u->state = ZEL_LINUX_UNSOCK_CONNECTING;
    zel_dlist_append(&l->pending, &u->node);
    raise_level(l, ZEL_LINUX_EV_READ);
    // An accept joins the two sockets, a closing listener refuses.
    while (u->state == ZEL_LINUX_UNSOCK_CONNECTING) {
        if (zel_linux_trig_wait(&trig, -1) == ZEL_LINUX_TRIG_ENDED && u->state == ZEL_LINUX_UNSOCK_CONNECTING) {
            // The process ends: the attempt is withdrawn (errno 9).
            zel_dlist_remove(&l->pending, &u->node);
            u->state = ZEL_LINUX_UNSOCK_IDLE;
            u->peer = nullptr;
            u->waiting = nullptr;
            return -1;
        }
    }
    u->waiting = nullptr;
    return u->state == ZEL_LINUX_UNSOCK_CONNECTED ? 0 : fail_with(ZEL_LINUX_SOCK_ECONNREFUSED);
}

int zel_linux_unsock_accept(zel_linux_sock_priv_t *priv, zel_linux_sockaddr *address, zel_linux_socklen_t *length) {
    zel_linux_unsock_priv_t *l = us(priv);
    if (l->state != ZEL_LINUX_UNSOCK_LISTENING) return fail_with(ZEL_LINUX_SOCK_EINVAL);
    if (l->backlog < 1) return -1;
    zel_linux_sock_holder hold(priv);
    zel_dlist_node_t *n;
    while (!(n = zel_dlist_dequeue(&l->pending))) {
        if (head(l)->status & ZEL_LINUX_O_NONBLOCK) return fail_with(ZEL_LINUX_EAGAIN);
        zel_linux_fd_clear_events(head(l), ZEL_LINUX_EV_READ);
        if (!zel_linux_sock_wait(priv, ZEL_LINUX_EV_READ)) return -1;
        if (l->state != ZEL_LINUX_UNSOCK_LISTENING) return -1;
    }
    // Readable while connections are queued. A wait above consumed the
    // event of the first, which may have been raised again by the next
    // (one bit for both): raise it anew, or poll would miss the rest.
    if (zel_dlist_is_empty(&l->pending))
        zel_linux_fd_clear_events(head(l), ZEL_LINUX_EV_READ);
    else
        raise_level(l, ZEL_LINUX_EV_READ);
    zel_linux_unsock_priv_t *c = of_node(n);

    zel_linux_fd_t *fd = nullptr;
    int number = zel_linux_sock_create(priv->op, priv->domain, priv->type, priv->protocol, &fd);
    if (number < 0) {
        refuse(c);
        return -1;
    }
    zel_linux_unsock_priv_t *a = us(fd);
    if (!join(a, c)) {
        zel_linux_sock_discard(fd);
        refuse(c);
        return -1;
    }
    a->listener = l;
    l->backlog--;
    zel_dlist_append(&l->accepted, &a->node);
    zel_linux_trig_signal(c->waiting, 0);
    if (address) zel_linux_unsock_peer_address(address, length);
    return number;
}

int zel_linux_unsock_pair(int protocol, int fds[2]) {
    zel_linux_fd_t *first = nullptr, *second = nullptr;
    if (zel_linux_sock_create(&zel_linux_unsock_op, ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, protocol, &first) < 0)
        return -1;
    if (zel_linux_sock_create(&zel_linux_unsock_op, ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, protocol, &second) < 0) {
        zel_linux_sock_discard(first);
        return -1;
    }
    if (!join(us(first), us(second))) {
        zel_linux_sock_discard(second);
        zel_linux_sock_discard(first);
        return -1;
    }
    fds[0] = first->number;
    fds[1] = second->number;
    return 0;
}

void zel_linux_unsock_peer_address(zel_linux_sockaddr *address, zel_linux_socklen_t *length) {
    zel_linux_sockaddr_un unnamed{};
    unnamed.sun_family = ZEL_LINUX_AF_UNIX;
    // -1 only for a null length: there is then nothing to fill in.
    (void)zel_linux_sock_put_address(address, length, &unnamed, sizeof unnamed.sun_family);
}

}  // extern "C"

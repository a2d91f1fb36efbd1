// The socket calls: descriptor lookup and dispatch to the socket classes,
// and the pieces both classes share.
#include "zel_linux_sock.h"

#include <string.h>

#include "zel_linux_file.h"
#include "zel_linux_hostsock.h"
#include "zel_linux_unix_sock.h"

namespace {

// The socket behind a descriptor number of the current process.
zel_linux_sock_priv_t *sock_of(int number) {
    zel_linux_fd_t *fd = zel_linux_fd_get(number);
    if (!zel_linux_sock_class(fd)) return nullptr;
    return reinterpret_cast<zel_linux_sock_priv_t *>(fd->priv);
}

// fstat reports both socket classes as sockets without permission bits.
void register_stat_classes() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    // -1 only when the class table is full: the sockets then show as plain files.
    (void)zel_linux_stat_register_class(&zel_linux_hostsock_op.fd, ZEL_LINUX_S_IFSOCK);
    (void)zel_linux_stat_register_class(&zel_linux_unsock_op.fd, ZEL_LINUX_S_IFSOCK);
}

}  // namespace

extern "C" {

const zel_linux_sock_op_t *zel_linux_sock_class(const zel_linux_fd_t *fd) {
    if (!fd) return nullptr;
    if (fd->op == &zel_linux_hostsock_op.fd) return &zel_linux_hostsock_op;
    if (fd->op == &zel_linux_unsock_op.fd) return &zel_linux_unsock_op;
    return nullptr;
}

int zel_linux_sock_create(const zel_linux_sock_op_t *op, int domain, int type, int protocol, zel_linux_fd_t **out) {
    register_stat_classes();
    zel_linux_fd_t *fd = nullptr;
    int number = zel_linux_fd_create(&fd, &op->fd);
    if (number < 0) return -1;
    zel_linux_sock_priv_t *s = reinterpret_cast<zel_linux_sock_priv_t *>(fd->priv);
    s->domain = domain;
    s->type = type;
    s->protocol = protocol;
    s->op = op;
    if (out) *out = fd;
    return number;
}

void zel_linux_sock_discard(zel_linux_fd_t *fd) {
    zel_linux_fd_priv_free(fd->priv);
    fd->priv = nullptr;
    zel_linux_fd_delete(fd->number);
}

void zel_linux_sock_hold(zel_linux_sock_priv_t *priv) { zel_linux_fd_hold(&priv->head); }

void zel_linux_sock_release(zel_linux_sock_priv_t *priv) { zel_linux_fd_release(&priv->head, &priv->op->fd); }

bool zel_linux_sock_wait(zel_linux_sock_priv_t *priv, uint16_t events) {
    zel_linux_trig_t trig;
    zel_linux_trig_init(&trig);
    return zel_linux_fd_pend_events(&priv->head, events, &trig) != 0;
}

int zel_linux_sock_put_address(
    zel_linux_sockaddr *address, zel_linux_socklen_t *length, const void *from, zel_linux_socklen_t size) {
    if (!address || !length) return -1;
    memcpy(address, from, *length < size ? *length : size);
    *length = size;
    return 0;
}

// ---- the calls ----------------------------------------------------------------

int zel_linux_socket(int domain, int type, int protocol) {
    const zel_linux_sock_op_t *op;
    if (domain == ZEL_LINUX_AF_UNIX)
        op = &zel_linux_unsock_op;
    else if (domain == ZEL_LINUX_AF_INET)
        op = &zel_linux_hostsock_op;
    else
        return -1;
    zel_linux_fd_t *fd = nullptr;
    int number = zel_linux_sock_create(op, domain, type, protocol, &fd);
    if (number < 0) return -1;
    if (op->init && op->init(fd) != 0) {
        zel_linux_sock_discard(fd);
        return -1;
    }
    return number;
}

int zel_linux_socketpair(int domain, int type, int protocol, int fds[2]) {
    if (domain != ZEL_LINUX_AF_UNIX || type != ZEL_LINUX_SOCK_STREAM || !fds) return -1;
    return zel_linux_unsock_pair(protocol, fds);
}

int zel_linux_connect(int fd, const zel_linux_sockaddr *address, zel_linux_socklen_t length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s || !s->op->connect || !address) return -1;
    return s->op->connect(s, address, length);
}

int zel_linux_bind(int fd, const zel_linux_sockaddr *address, zel_linux_socklen_t length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s || !s->op->bind || !address) return -1;
    return s->op->bind(s, address, length);
}

int zel_linux_listen(int fd, int backlog) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s || !s->op->listen) return -1;
    return s->op->listen(s, backlog);
}

int zel_linux_accept(int fd, zel_linux_sockaddr *address, zel_linux_socklen_t *length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s || !s->op->accept) return -1;
    return s->op->accept(s, address, length);
}

int zel_linux_shutdown(int fd, int how) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s || !s->op->shutdown) return -1;
    return s->op->shutdown(s, how);
}

int zel_linux_getsockopt(int fd, int level, int option, void *value, zel_linux_socklen_t *length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s) return -1;
    return s->op->getsockopt ? s->op->getsockopt(s, level, option, value, length) : 0;
}

int zel_linux_setsockopt(int fd, int level, int option, const void *value, zel_linux_socklen_t length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s) return -1;
    int r = s->op->setsockopt ? s->op->setsockopt(s, level, option, value, length) : 0;
    if (r == 0 && level == ZEL_LINUX_SOL_SOCKET && option == ZEL_LINUX_SO_NONBLOCK && value && length >= sizeof(int)) {
        int on;
        memcpy(&on, value, sizeof on);
        if (on)
            s->head.status |= ZEL_LINUX_O_NONBLOCK;
        else
            s->head.status &= ~static_cast<uint32_t>(ZEL_LINUX_O_NONBLOCK);
    }
    return r;
}

int zel_linux_getsockname(int fd, zel_linux_sockaddr *address, zel_linux_socklen_t *length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s || !s->op->getsockname) return -1;
    return s->op->getsockname(s, address, length);
}

zel_linux_ssize_t zel_linux_send(int fd, const void *buffer, size_t length, int flags) {
    zel_linux_fd_t *rec = zel_linux_fd_get(fd);
    if (!rec || !rec->op || !rec->op->write) return -1;
    rec->call_flags = static_cast<uint32_t>(flags);
    zel_linux_fd_call call(rec);
    return call.rec()->op->write(call.rec(), buffer, length);
}

zel_linux_ssize_t zel_linux_recv(int fd, void *buffer, size_t length, int flags) {
    zel_linux_fd_t *rec = zel_linux_fd_get(fd);
    if (!rec || (rec->priv->status & ZEL_LINUX_O_WRONLY) || !rec->op || !rec->op->read) return -1;
    rec->call_flags = static_cast<uint32_t>(flags);
    zel_linux_fd_call call(rec);
    return call.rec()->op->read(call.rec(), buffer, length);
}

zel_linux_ssize_t zel_linux_sendto(int fd, const void *buffer, size_t length, int flags,
    const zel_linux_sockaddr *address, zel_linux_socklen_t address_length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s) return -1;
    if (s->op == &zel_linux_hostsock_op) return zel_hostsock_sendto(s, buffer, length, flags, address, address_length);
    // A connected UNIX stream socket has one peer: the address changes nothing.
    return zel_linux_send(fd, buffer, length, flags);
}

zel_linux_ssize_t zel_linux_recvfrom(
    int fd, void *buffer, size_t length, int flags, zel_linux_sockaddr *address, zel_linux_socklen_t *address_length) {
    zel_linux_sock_priv_t *s = sock_of(fd);
    if (!s) return -1;
    if (s->op == &zel_linux_hostsock_op)
        return zel_hostsock_recvfrom(s, buffer, length, flags, address, address_length);
    zel_linux_ssize_t n = zel_linux_recv(fd, buffer, length, flags);
    if (n >= 0 && address && address_length) zel_linux_unsock_peer_address(address, address_length);
    return n;
}

}  // extern "C"

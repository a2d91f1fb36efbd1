// Event counter descriptors.
#include "zel_linux_eventfd.h"

#include "zel_util.h"

namespace {

zel_linux_eventfd_priv_t *ep(zel_linux_fd_t *fd) { return reinterpret_cast<zel_linux_eventfd_priv_t *>(fd->priv); }

// The largest count the counter holds; it never wraps.
constexpr uint64_t kLargest = 0xFFFFFFFFFFFFFFFEu;

// Writable while there is room for at least one more. Raised whatever the
// level said: a write that waited consumed the event the room raised.
void refresh_writable(zel_linux_eventfd_priv_t *e) {
    if (e->counter < kLargest) {
        e->head.level = static_cast<uint16_t>(e->head.level | ZEL_LINUX_EV_WRITE);
        zel_linux_fd_set_events(&e->head, ZEL_LINUX_EV_WRITE);
    } else
        zel_linux_fd_clear_events(&e->head, ZEL_LINUX_EV_WRITE);
}

}  // namespace

extern "C" {

const zel_linux_fd_op_t zel_linux_eventfd_op = {
    .priv_size = sizeof(zel_linux_eventfd_priv_t),
    .init = nullptr,
    .fcntl = zel_linux_fd_fcntl_zero,
    .read = zel_linux_eventfd_read,
    .write = zel_linux_eventfd_write,
    .close = zel_linux_fd_close_zero,
    .eof = zel_linux_eventfd_eof,
};

zel_linux_ssize_t zel_linux_eventfd_read(zel_linux_fd_t *fd, void *buffer, size_t count) {
    if (count != 8) return -1;
    zel_linux_eventfd_priv_t *e = ep(fd);
    while (e->counter == 0) {
        if (e->head.status & ZEL_LINUX_O_NONBLOCK) {
            zel_linux_set_errno(ZEL_LINUX_EAGAIN);
            return -1;
        }
        if (e->head.pending & ZEL_LINUX_EV_READ) {
            zel_linux_fd_consume_events(&e->head, ZEL_LINUX_EV_READ);
            continue;
        }
        // The counter is 0: the condition does not hold.
        e->head.level = static_cast<uint16_t>(e->head.level & ~ZEL_LINUX_EV_READ);
        if (!zel_linux_fd_wait(fd, ZEL_LINUX_EV_READ)) return -1;
    }
    zel_put_unaligned_le64(e->counter, buffer);
    e->counter = e->semaphore ? e->counter - 1 : 0;
    // Readable while something is left. A wait above consumed the writer's
    // event, and the level still holds, so no write raises another one:
    // raise it here, or poll would wait for a counter that holds a value.
    if (e->counter == 0)
        zel_linux_fd_clear_events(&e->head, ZEL_LINUX_EV_READ);
    else
        zel_linux_fd_set_events(&e->head, ZEL_LINUX_EV_READ);
    // The room made wakes a writer that waits for it.
    refresh_writable(e);
    return 8;
}

zel_linux_ssize_t zel_linux_eventfd_write(zel_linux_fd_t *fd, const void *buffer, size_t count) {
    if (count != 8) return -1;
    zel_linux_eventfd_priv_t *e = ep(fd);
    uint64_t add = zel_get_unaligned_le64(buffer);
    if (add > kLargest) {
        zel_linux_set_errno(ZEL_LINUX_EINVAL);
        return -1;
    }
    while (e->counter > kLargest - add) {
        if (e->head.status & ZEL_LINUX_O_NONBLOCK) {
            zel_linux_set_errno(ZEL_LINUX_EAGAIN);
            return -1;
        }
        if (e->head.pending & ZEL_LINUX_EV_WRITE) {
            zel_linux_fd_consume_events(&e->head, ZEL_LINUX_EV_WRITE);
            continue;  // a stale event: look again
        }
        // No room: the condition does not hold, so a read raises a fresh event.
        e->head.level = static_cast<uint16_t>(e->head.level & ~ZEL_LINUX_EV_WRITE);
        if (!zel_linux_fd_wait(fd, ZEL_LINUX_EV_WRITE)) return -1;
    }
    e->counter += add;
    zel_linux_fd_set_events_isr(&e->head, ZEL_LINUX_EV_READ);
    refresh_writable(e);
    return 8;
}

int zel_linux_eventfd_eof(zel_linux_fd_t *fd) { return ep(fd)->counter == 0; }

int zel_linux_eventfd_create(uint64_t initial, int semaphore) {
    zel_linux_fd_t *fd = nullptr;
    int n = zel_linux_fd_create(&fd, &zel_linux_eventfd_op);
    if (n < 0) return -1;
    zel_linux_eventfd_priv_t *e = ep(fd);
    e->counter = initial;
    e->semaphore = semaphore ? 1 : 0;
    if (initial) zel_linux_fd_set_events_isr(&e->head, ZEL_LINUX_EV_READ);
    refresh_writable(e);
    return n;
}

}  // extern "C"

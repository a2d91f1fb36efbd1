// select over the poll loop: the sets become poll entries and the entries'
// answers become the sets again.
#include "zel_linux_fd.h"
#include "zel_linux_sock.h"

namespace {

constexpr int kSetBits = 8 * static_cast<int>(sizeof(long));
constexpr int kEbadf = 9;

bool is_set(const zel_linux_fd_set *set, int fd) {
    return set && (set->fds_bits[fd / kSetBits] & (1L << (fd % kSetBits))) != 0;
}

void put(zel_linux_fd_set *set, int fd) {
    if (set) set->fds_bits[fd / kSetBits] |= 1L << (fd % kSetBits);
}

void clear(zel_linux_fd_set *set, int count) {
    if (!set) return;
    for (int fd = 0; fd < count; ++fd) set->fds_bits[fd / kSetBits] &= ~(1L << (fd % kSetBits));
}

int fail_with(int error) {
    zel_linux_set_errno(error);
    return -1;
}

}  // namespace

extern "C" {

int zel_linux_select(int count, zel_linux_fd_set *readable, zel_linux_fd_set *writable, zel_linux_fd_set *failed,
    zel_linux_timeval *timeout) {
    constexpr int kSetSize = 8 * static_cast<int>(sizeof(zel_linux_fd_set));
    if (count < 0 || count > kSetSize) return fail_with(ZEL_LINUX_SOCK_EINVAL);
    int64_t ticks = -1;
    if (timeout) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return fail_with(ZEL_LINUX_SOCK_EINVAL);
        // 100 ns ticks, microseconds beyond a second carried into the
        // seconds; a timeout too long to count is no timeout.
        const uint64_t sec = static_cast<uint64_t>(timeout->tv_sec) + static_cast<uint64_t>(timeout->tv_usec) / 1000000;
        const uint64_t usec = static_cast<uint64_t>(timeout->tv_usec) % 1000000;
        if (sec < INT64_MAX / 20000000) ticks = static_cast<int64_t>(sec * 10000000 + usec * 10);
    }
    zel_linux_pollfd entries[ZEL_LINUX_FD_MAX];
    zel_linux_nfds_t used = 0;
    for (int fd = 0; fd < count; ++fd) {
        short events = 0;
        if (is_set(readable, fd)) events |= ZEL_LINUX_POLLIN;
        if (is_set(writable, fd)) events |= ZEL_LINUX_POLLOUT;
        // Nothing raises exceptional conditions: the failed set asks for none.
        if (!events && !is_set(failed, fd)) continue;
        if (!zel_linux_fd_get(fd)) return fail_with(kEbadf);
        if (events) entries[used++] = zel_linux_pollfd{fd, events, 0};
    }
    zel_linux_poll_core(entries, used, ticks);
    clear(readable, count);
    clear(writable, count);
    clear(failed, count);
    int answered = 0;
    for (zel_linux_nfds_t i = 0; i < used; ++i) {
        const zel_linux_pollfd &e = entries[i];
        const short hangup = ZEL_LINUX_POLLHUP | ZEL_LINUX_POLLERR;
        if ((e.events & ZEL_LINUX_POLLIN) && (e.revents & (ZEL_LINUX_POLLIN | hangup))) {
            put(readable, e.fd);
            answered++;
        }
        if ((e.events & ZEL_LINUX_POLLOUT) && (e.revents & (ZEL_LINUX_POLLOUT | hangup))) {
            put(writable, e.fd);
            answered++;
        }
    }
    return answered;
}

}  // extern "C"

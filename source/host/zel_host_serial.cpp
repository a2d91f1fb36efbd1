// Serial ports on the host: termios devices, exclusive opens, timed reads,
// cancel through an event descriptor per direction.
#include "zel_host_serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <new>

namespace {

constexpr unsigned kPathMax = 256;

std::mutex g_map_lock;
char g_paths[ZEL_HOST_SERIAL_MAX_COM + 1][kPathMax];

struct port_state {
    std::mutex m;
    std::condition_variable cv;
    int fd = -1;
    int cancel[2] = {-1, -1};  // 0 receive, 1 send
    int users = 0;             // transfers inside read or write
    bool closing = false;
    uint32_t interval = 0, multiplier = 0, constant = 0;
};
static_assert(sizeof(port_state) <= ZEL_HOST_SERIAL_STORAGE, "enlarge ZEL_HOST_SERIAL_STORAGE");
static_assert(alignof(port_state) <= 16, "port storage alignment");

// The port's state, made on first use (before any thread shares the port).
port_state *state_of(zel_host_serial_t *port) {
    auto *s = reinterpret_cast<port_state *>(port->opaque);
    if (!port->initialised) {
        new (port->opaque) port_state;
        s->cancel[0] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        s->cancel[1] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        port->initialised = 1;
    }
    return s;
}

void drain(int efd) {
    uint64_t v;
    while (efd >= 0 && read(efd, &v, sizeof v) > 0) {}
}

void signal(int efd) {
    uint64_t one = 1;
    if (efd >= 0 && write(efd, &one, sizeof one) < 0) {
        // The counter is saturated: a cancel is already pending.
    }
}

uint64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

int open_device(unsigned com, int *fd_out) {
    char path[kPathMax];
    if (!zel_host_serial_path(com, path, sizeof path)) return ZEL_HOST_SERIAL_ABSENT;
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY || errno == EACCES || errno == EPERM ? ZEL_HOST_SERIAL_BUSY : ZEL_HOST_SERIAL_ABSENT;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return ZEL_HOST_SERIAL_BUSY;
    }
    *fd_out = fd;
    return ZEL_HOST_SERIAL_OK;
}

bool speed_of(uint32_t baud, speed_t *out) {
    static const struct {
        uint32_t baud;
        speed_t speed;
    } table[] = {{50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300}, {600, B600},
        {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000}, {576000, B576000},
        {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {3000000, B3000000}, {4000000, B4000000}};
    for (const auto &e : table) {
        if (e.baud == baud) {
            *out = e.speed;
            return true;
        }
    }
    return false;
}

// A transfer enters: the descriptors it may use while the port stays open.
bool enter(port_state *s, int dir, int *fd, int *efd) {
    std::lock_guard<std::mutex> lock(s->m);
    if (s->fd < 0 || s->closing) return false;
    s->users++;
    *fd = s->fd;
    *efd = s->cancel[dir];
    return true;
}

int leave(port_state *s, int result) {
    std::lock_guard<std::mutex> lock(s->m);
    if (s->closing && result == ZEL_HOST_SERIAL_CANCELLED) result = ZEL_HOST_SERIAL_ERROR;
    s->users--;
    s->cv.notify_all();
    return result;
}

enum class ready { io, cancelled, failed, timeout };

// Waits until `fd` is ready for `events`, the cancel descriptor fires, or
// `timeout_ms` passes (-1: no limit).
ready wait_ready(int fd, short events, int efd, int timeout_ms) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {efd, POLLIN, 0}};
        int r = poll(p, 2, timeout_ms);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return ready::failed;
        if (r == 0) return ready::timeout;
        if (p[1].revents & POLLIN) {
            drain(efd);
            return ready::cancelled;
        }
        if (p[0].revents & events) return ready::io;
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return ready::failed;
    }
}

int result_of(ready r) { return r == ready::cancelled ? ZEL_HOST_SERIAL_CANCELLED : ZEL_HOST_SERIAL_ERROR; }

// One read or write step: false when the descriptor failed (0 bytes from a
// read means the other end hung up).
bool step(ssize_t n, uint32_t *done) {
    if (n > 0) {
        *done += uint32_t(n);
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

int read_timed(port_state *s, int fd, int efd, uint8_t *buf, uint32_t size, uint32_t *done) {
    uint32_t interval, multiplier, constant;
    {
        std::lock_guard<std::mutex> lock(s->m);
        interval = s->interval;
        multiplier = s->multiplier;
        constant = s->constant;
    }
    const bool total = multiplier || constant;
    const uint64_t start = now_ms();
    const uint64_t deadline = start + uint64_t(multiplier) * size + constant;
    uint64_t last_byte = start;
    while (*done < size) {
        const uint64_t now = now_ms();
        int64_t wait = -1;
        if (total) {
            if (now >= deadline) break;
            wait = int64_t(deadline - now);
        }
        if (interval && *done) {
            uint64_t gap_end = last_byte + interval;
            if (now >= gap_end) break;
            if (wait < 0 || int64_t(gap_end - now) < wait) wait = int64_t(gap_end - now);
        }
        ready r = wait_ready(fd, POLLIN, efd, wait < 0 ? -1 : int(wait > 60000 ? 60000 : wait));
        if (r == ready::timeout) continue;  // the deadlines above decide
        if (r != ready::io) return result_of(r);
        uint32_t before = *done;
        if (!step(read(fd, buf + *done, size - *done), done)) return ZEL_HOST_SERIAL_ERROR;
        if (*done != before) last_byte = now_ms();
    }
    return ZEL_HOST_SERIAL_OK;
}

int write_all(int fd, int efd, const uint8_t *buf, uint32_t size, uint32_t *done) {
    while (*done < size) {
        ready r = wait_ready(fd, POLLOUT, efd, -1);
        if (r != ready::io) return result_of(r);
        if (!step(write(fd, buf + *done, size - *done), done)) return ZEL_HOST_SERIAL_ERROR;
    }
    return ZEL_HOST_SERIAL_OK;
}

}  // namespace

extern "C" {

int zel_host_serial_map(unsigned com, const char *path) {
    if (com < 1 || com > ZEL_HOST_SERIAL_MAX_COM) return -1;
    if (path && strlen(path) >= kPathMax) return -1;
    std::lock_guard<std::mutex> lock(g_map_lock);
    if (path)
        strcpy(g_paths[com], path);
    else
        g_paths[com][0] = 0;
    return 0;
}

bool zel_host_serial_path(unsigned com, char *out, unsigned size) {
    if (com < 1 || com > ZEL_HOST_SERIAL_MAX_COM || size == 0) return false;
    std::lock_guard<std::mutex> lock(g_map_lock);
    if (!g_paths[com][0] || strlen(g_paths[com]) >= size) return false;
    strcpy(out, g_paths[com]);
    return true;
}

int zel_host_serial_probe(unsigned com) {
    int fd;
    int r = open_device(com, &fd);
    if (r == ZEL_HOST_SERIAL_OK) close(fd);
    return r;
}

int zel_host_serial_open(zel_host_serial_t *port, unsigned com) {
    port_state *s = state_of(port);
    zel_host_serial_close(port);
    int fd;
    int r = open_device(com, &fd);
    if (r != ZEL_HOST_SERIAL_OK) return r;
    std::lock_guard<std::mutex> lock(s->m);
    s->fd = fd;
    drain(s->cancel[0]);
    drain(s->cancel[1]);
    return ZEL_HOST_SERIAL_OK;
}

void zel_host_serial_close(zel_host_serial_t *port) {
    port_state *s = state_of(port);
    std::unique_lock<std::mutex> lock(s->m);
    if (s->fd < 0 || s->closing) return;
    s->closing = true;
    signal(s->cancel[0]);
    signal(s->cancel[1]);
    s->cv.wait(lock, [s] { return s->users == 0; });
    close(s->fd);
    s->fd = -1;
    drain(s->cancel[0]);
    drain(s->cancel[1]);
    s->closing = false;
}

bool zel_host_serial_is_open(zel_host_serial_t *port) {
    port_state *s = state_of(port);
    std::lock_guard<std::mutex> lock(s->m);
    return s->fd >= 0;
}

int zel_host_serial_configure(zel_host_serial_t *port, const zel_host_serial_cfg_t *cfg) {
    port_state *s = state_of(port);
    std::lock_guard<std::mutex> lock(s->m);
    termios t;
    if (s->fd < 0 || tcgetattr(s->fd, &t) != 0) return ZEL_HOST_SERIAL_NO_STATE;
    speed_t speed;
    if (!speed_of(cfg->baud, &speed) || cfg->data_bits != 8) return ZEL_HOST_SERIAL_ERROR;
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (cfg->stop_bits == 2) t.c_cflag |= CSTOPB;
    if (cfg->odd_parity) t.c_cflag |= PARENB | PARODD;
    // The terminal driver has one switch for both hardware handshakes.
    if (cfg->cts_flow || cfg->rts_flow) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(s->fd, TCSANOW, &t) == 0 ? ZEL_HOST_SERIAL_OK : ZEL_HOST_SERIAL_ERROR;
}

int zel_host_serial_set_timeouts(
    zel_host_serial_t *port, uint32_t interval_ms, uint32_t total_multiplier_ms, uint32_t total_constant_ms) {
    port_state *s = state_of(port);
    std::lock_guard<std::mutex> lock(s->m);
    if (s->fd < 0) return ZEL_HOST_SERIAL_ERROR;
    s->interval = interval_ms;
    s->multiplier = total_multiplier_ms;
    s->constant = total_constant_ms;
    return ZEL_HOST_SERIAL_OK;
}

int zel_host_serial_purge(zel_host_serial_t *port) {
    port_state *s = state_of(port);
    std::lock_guard<std::mutex> lock(s->m);
    if (s->fd < 0 || tcflush(s->fd, TCIOFLUSH) != 0) return ZEL_HOST_SERIAL_ERROR;
    return ZEL_HOST_SERIAL_OK;
}

int zel_host_serial_read(zel_host_serial_t *port, void *buffer, uint32_t size, uint32_t *done) {
    port_state *s = state_of(port);
    *done = 0;
    int fd, efd;
    if (!enter(s, 0, &fd, &efd)) return ZEL_HOST_SERIAL_ERROR;
    return leave(s, read_timed(s, fd, efd, static_cast<uint8_t *>(buffer), size, done));
}

int zel_host_serial_write(zel_host_serial_t *port, const void *buffer, uint32_t size, uint32_t *done) {
    port_state *s = state_of(port);
    *done = 0;
    int fd, efd;
    if (!enter(s, 1, &fd, &efd)) return ZEL_HOST_SERIAL_ERROR;
    return leave(s, write_all(fd, efd, static_cast<const uint8_t *>(buffer), size, done));
}

void zel_host_serial_cancel(zel_host_serial_t *port, bool rx) { signal(state_of(port)->cancel[rx ? 0 : 1]); }

void zel_host_serial_clear_cancel(zel_host_serial_t *port, bool rx) { drain(state_of(port)->cancel[rx ? 0 : 1]); }

}  // extern "C"

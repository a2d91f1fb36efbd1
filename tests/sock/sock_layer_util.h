// Helpers of the layer's socket tests: addresses and a ticking agent.
#ifndef SOCK_LAYER_UTIL_H
#define SOCK_LAYER_UTIL_H

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cstring>

#include "zel_linux_libc.h"
#include "zel_test.h"
#include "zel_timer.h"

namespace sock_test {

inline zel_linux_sockaddr_in inet_loopback(uint16_t port_be) {
    zel_linux_sockaddr_in sa{};
    sa.sin_family = ZEL_LINUX_AF_INET;
    sa.sin_port = port_be;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

inline const zel_linux_sockaddr *as_addr(const void *record) { return static_cast<const zel_linux_sockaddr *>(record); }

inline zel_linux_sockaddr_un unix_path(const char *path) {
    zel_linux_sockaddr_un sa{};
    sa.sun_family = ZEL_LINUX_AF_UNIX;
    std::strncpy(sa.sun_path, path, sizeof sa.sun_path - 1);
    return sa;
}

// An agent whose 1 ms timer keeps firing for the rest of the run: while it
// counts on, no host thread of the kernel is blocked.
class Ticker {
public:
    static Ticker &get() {
        static Ticker *ticker = new Ticker;  // lives as long as the kernel
        return *ticker;
    }
    int ticks() const { return ticks_.load(); }

private:
    Ticker()
        : agent_([this](zel_test::Agent &, zel_evt_t evt) {
              if (evt == 261) ticks_++;
              EXPECT_EQ(0, zel_eda_set_timer(zel_systimer_ms_to_tick(1)));
          }) {
        zel_test::run_as_irq([this] { agent_.start(); });
    }
    zel_test::Agent agent_;
    std::atomic<int> ticks_{0};
};

}  // namespace sock_test

#endif

// Readiness of the layer's INET sockets: readable and writable hold while
// the host still gives and takes, and a call the host answers EAGAIN hands
// the socket back to the host poller, whose next report wakes the waiter.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "sock_echo_server.h"
#include "sock_layer_util.h"
#include "zel_linux_test.h"

namespace {

using sock_test::as_addr;
using sock_test::inet_loopback;
using zel_linux_test::run_process;

constexpr int kBound = 20000;  // ms: a poll that waits longer has hung

int errno_now() { return *zel_linux_errno_ptr(); }

int connect_to(uint16_t port_be) {
    int fd = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
    if (fd < 0) return -1;
    zel_linux_sockaddr_in to = inet_loopback(port_be);
    if (zel_linux_connect(fd, as_addr(&to), sizeof to) != 0) {
        zel_linux_close(fd);
        return -1;
    }
    return fd;
}

int poll_one(int fd, int16_t events, int timeout_ms) {
    zel_linux_pollfd p{fd, events, 0};
    return zel_linux_poll(&p, 1, timeout_ms);
}

// Waits (bounded) until `value` reaches `wanted`; false when it did not.
bool await(const std::atomic<int> &value, int wanted) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBound);
    while (value.load() < wanted) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

// A host listener on a free loopback port, with the connection it accepts.
struct HostPeer {
    uint16_t port_be = 0;
    int listener = sock_test::loopback_socket(&port_be, 4);
    int conn = -1;
    ~HostPeer() {
        if (conn >= 0) close(conn);
        close(listener);
    }
    bool accept_one() {
        conn = accept(listener, nullptr, nullptr);
        return conn >= 0;
    }
};

TEST(InetReady, ReadableAndWritableHoldUntilTheHostAnswersEagain) {
    HostPeer host;
    std::atomic<int> step{0};
    std::atomic<bool> peer_ok{false};
    std::thread peer([&] {
        if (!host.accept_one()) return;
        // One send of four bytes reaches the loopback peer as one segment.
        if (send(host.conn, "abcd", 4, MSG_NOSIGNAL) != 4) return;
        if (!await(step, 1)) return;
        peer_ok = send(host.conn, "e", 1, MSG_NOSIGNAL) == 1;
    });
    std::atomic<int> checked{0};
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(host.port_be);
        EXPECT_GE(fd, 0);
        if (fd < 0) return 1;
        EXPECT_EQ(1, poll_one(fd, ZEL_LINUX_POLLOUT, kBound));
        EXPECT_EQ(1, zel_linux_send(fd, "x", 1, 0));
        EXPECT_EQ(1, poll_one(fd, ZEL_LINUX_POLLOUT, 0)) << "a send that was taken leaves the socket writable";

        EXPECT_EQ(1, poll_one(fd, ZEL_LINUX_POLLIN, kBound));
        char c = 0;
        for (char want : {'a', 'b', 'c'}) {
            EXPECT_EQ(1, zel_linux_recv(fd, &c, 1, 0));
            EXPECT_EQ(want, c);
            EXPECT_EQ(1, poll_one(fd, ZEL_LINUX_POLLIN, 0)) << "bytes remain after '" << want << "'";
        }
        EXPECT_EQ(1, zel_linux_recv(fd, &c, 1, 0));
        EXPECT_EQ('d', c);
        // The last byte is gone: the host says so, and only then is the
        // socket no longer readable.
        EXPECT_EQ(-1, zel_linux_recv(fd, &c, 1, ZEL_LINUX_MSG_DONTWAIT));
        EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());
        EXPECT_EQ(0, poll_one(fd, ZEL_LINUX_POLLIN, 0));
        EXPECT_EQ(-1, zel_linux_recv(fd, &c, 1, ZEL_LINUX_MSG_DONTWAIT)) << "still nothing";
        EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());

        step = 1;  // the peer's next byte comes after the EAGAIN
        EXPECT_EQ(1, zel_linux_recv(fd, &c, 1, 0));
        EXPECT_EQ('e', c);
        zel_linux_close(fd);
        checked = 1;
        return 0;
    }));
    peer.join();
    EXPECT_TRUE(peer_ok.load());
    EXPECT_EQ(1, checked.load());
}

// Every round the reader empties the socket down to EAGAIN, tells the peer,
// and then blocks (in recv or in poll) while the peer's byte is on its way:
// however the byte and the re-arming meet, the reader must wake.
TEST(InetReady, APeerSendingAfterEagainWakesTheBlockedReaderEveryRound) {
    constexpr int kRounds = 400;
    HostPeer host;
    std::atomic<int> drained{0};
    std::atomic<int> sent{0};
    std::thread peer([&] {
        if (!host.accept_one()) return;
        for (int r = 1; r <= kRounds; ++r) {
            if (!await(drained, r)) return;
            if (r % 3 == 0) std::this_thread::yield();
            char b = static_cast<char>(r);
            if (send(host.conn, &b, 1, MSG_NOSIGNAL) != 1) return;
            sent = r;
        }
    });
    std::atomic<int> rounds{0};
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(host.port_be);
        EXPECT_GE(fd, 0);
        if (fd < 0) return 1;
        for (int r = 1; r <= kRounds; ++r) {
            char b = 0;
            EXPECT_EQ(-1, zel_linux_recv(fd, &b, 1, ZEL_LINUX_MSG_DONTWAIT)) << "round " << r;
            EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());
            drained = r;
            if (r % 2 == 0) {
                EXPECT_EQ(1, poll_one(fd, ZEL_LINUX_POLLIN, kBound)) << "round " << r;
            }
            long n = zel_linux_recv(fd, &b, 1, 0);
            EXPECT_EQ(1, n) << "round " << r;
            if (n != 1) break;
            EXPECT_EQ(static_cast<char>(r), b);
            rounds = r;
        }
        zel_linux_close(fd);
        return 0;
    }));
    peer.join();
    EXPECT_EQ(kRounds, rounds.load());
    EXPECT_EQ(kRounds, sent.load());
}

// The writer fills the host's buffers until a send answers EAGAIN, then
// blocks on a large send while the peer starts draining: the host's report
// of room must wake it, round after round.
TEST(InetReady, APeerDrainingAfterEagainWakesTheBlockedWriter) {
    constexpr int kRounds = 20;
    constexpr size_t kBlock = 256 * 1024;
    HostPeer host;
    std::atomic<int> full{0};
    std::atomic<long long> target{0};  // what the writer will have sent once its blocked send ends
    std::atomic<long long> received{0};
    std::thread peer([&] {
        if (!host.accept_one()) return;
        std::vector<char> sink(64 * 1024);
        for (int r = 1; r <= kRounds; ++r) {
            if (!await(full, r)) return;
            // Drain until the writer's block of this round has come.
            while (received.load() < target.load()) {
                long n = recv(host.conn, sink.data(), sink.size(), 0);
                if (n <= 0) return;
                received += n;
            }
        }
        long n;
        while ((n = recv(host.conn, sink.data(), sink.size(), 0)) > 0) received += n;
    });
    long long total = 0;
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(host.port_be);
        EXPECT_GE(fd, 0);
        if (fd < 0) return 1;
        std::vector<char> block(kBlock, 'w');
        for (int r = 1; r <= kRounds; ++r) {
            long n;
            while ((n = zel_linux_send(fd, block.data(), 4096, ZEL_LINUX_MSG_DONTWAIT)) > 0) total += n;
            EXPECT_EQ(-1, n) << "round " << r;
            EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());
            target = total + static_cast<long long>(kBlock);
            full = r;
            EXPECT_EQ(static_cast<long>(kBlock), zel_linux_send(fd, block.data(), kBlock, 0)) << "round " << r;
            total += static_cast<long long>(kBlock);
        }
        zel_linux_close(fd);
        return 0;
    }));
    peer.join();
    EXPECT_EQ(total, received.load());
    EXPECT_GE(total, static_cast<long long>(kRounds) * static_cast<long long>(kBlock));
}

// Until a thread of the layer waits on the part (from a host thread).
bool until_waited_on(const std::atomic<const zel_linux_fd_priv_t *> &part) {
    return zel_test::wait_until([&] {
        const zel_linux_fd_priv_t *p = part.load();
        return p && zel_linux_fd_waiter_count(p) != 0;
    });
}

// A receive, an accept and a send that had to wait leave their event
// pending while it holds, so a poll after them sees what they left: the
// rest of the data, the next queued connection, room to write.
TEST(InetReady, ACallThatHadToWaitLeavesWhatItFoundForPoll) {
    HostPeer host;
    std::atomic<const zel_linux_fd_priv_t *> part{nullptr};
    std::atomic<uint16_t> listen_port_be{0};
    std::atomic<int> step{0};
    std::atomic<long long> received{0};
    std::thread peer([&] {
        if (!host.accept_one()) return;
        // The receive: 100 bytes once it waits.
        if (!until_waited_on(part)) return;
        std::vector<char> hundred(100, 'r');
        if (send(host.conn, hundred.data(), hundred.size(), MSG_NOSIGNAL) != 100) return;
        // The accept: two connections once it waits.
        if (!await(step, 1) || !until_waited_on(part)) return;
        int c[2];
        for (int &fd : c) {
            fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = listen_port_be.load();
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) return;
        }
        // The send: drain everything once it waits, to the end.
        if (!await(step, 2) || !until_waited_on(part)) {
            for (int fd : c) close(fd);
            return;
        }
        std::vector<char> sink(64 * 1024);
        long n;
        while ((n = recv(host.conn, sink.data(), sink.size(), 0)) > 0) received += n;
        for (int fd : c) close(fd);
    });
    long long sent = 0;
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(host.port_be);
        IN_LAYER_CHECK(fd >= 0);
        part = zel_linux_fd_get(fd)->priv;
        char buf[100];
        EXPECT_EQ(10, zel_linux_recv(fd, buf, 10, 0));
        EXPECT_EQ(1, poll_one(fd, ZEL_LINUX_POLLIN, 0)) << "90 bytes are left";
        long rest = 0;
        while (rest < 90) {
            long n = zel_linux_recv(fd, buf, sizeof buf, 0);
            IN_LAYER_CHECK(n > 0);
            rest += n;
        }

        int l = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
        zel_linux_sockaddr_in at = inet_loopback(0);
        IN_LAYER_CHECK(zel_linux_bind(l, as_addr(&at), sizeof at) == 0);
        IN_LAYER_CHECK(zel_linux_listen(l, 4) == 0);
        zel_linux_sockaddr_in name{};
        zel_linux_socklen_t len = sizeof name;
        IN_LAYER_CHECK(zel_linux_getsockname(l, reinterpret_cast<zel_linux_sockaddr *>(&name), &len) == 0);
        listen_port_be = name.sin_port;
        part = zel_linux_fd_get(l)->priv;
        step = 1;
        int a = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(a, 0);
        EXPECT_EQ(1, poll_one(l, ZEL_LINUX_POLLIN, kBound)) << "a second connection is queued";
        int b = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(b, 0);
        zel_linux_close(a);
        zel_linux_close(b);
        zel_linux_close(l);

        std::vector<char> block(256 * 1024, 'w');
        long n;
        while ((n = zel_linux_send(fd, block.data(), 4096, ZEL_LINUX_MSG_DONTWAIT)) > 0) sent += n;
        EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());
        part = zel_linux_fd_get(fd)->priv;
        step = 2;
        EXPECT_EQ(static_cast<long>(block.size()), zel_linux_send(fd, block.data(), block.size(), 0));
        sent += static_cast<long long>(block.size());
        EXPECT_EQ(1, poll_one(fd, ZEL_LINUX_POLLOUT, 0)) << "the peer drains all";
        zel_linux_close(fd);
        return 0;
    }));
    peer.join();
    EXPECT_EQ(sent, received.load());
}

}  // namespace

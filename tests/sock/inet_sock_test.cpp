// INET sockets of the layer over loopback, against host peers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "sock_echo_server.h"
#include "sock_layer_util.h"
#include "zel_host.h"
#include "zel_host_test_hooks.h"
#include "zel_linux_fd.h"
#include "zel_linux_test.h"

namespace {

using sock_test::as_addr;
using sock_test::inet_loopback;
using zel_linux_test::run_process;

int errno_now() { return *zel_linux_errno_ptr(); }

// A blocking layer socket connected to 127.0.0.1:port (network order).
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

// Receives exactly `n` bytes with reads of `step`; false on an early end.
bool recv_all(int fd, char *out, size_t n, size_t step) {
    for (size_t got = 0; got < n;) {
        size_t want = std::min(step, n - got);
        long r = zel_linux_recv(fd, out + got, want, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// A host listener on a free loopback port.
struct HostListener {
    uint16_t port_be;
    int fd = sock_test::loopback_socket(&port_be, 64);
    ~HostListener() { close(fd); }
};

TEST(InetSock, EchoesOddChunksWhileTheKernelKeepsTicking) {
    sock_test::EchoServer server;
    sock_test::Ticker &ticker = sock_test::Ticker::get();
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(server.port_be());
        EXPECT_GE(fd, 0);
        if (fd < 0) return 1;
        constexpr size_t kTotal = 256 * 1024;
        std::vector<char> out(kTotal), back(kTotal);
        for (size_t i = 0; i < kTotal; ++i) out[i] = static_cast<char>(i * 7 + i / 251);
        const size_t steps[] = {1, 1021, 4093, 17, 8191, 333};
        size_t sent = 0;
        for (int k = 0; sent < kTotal; ++k) {
            size_t chunk = std::min(steps[k % 6], kTotal - sent);
            EXPECT_EQ(static_cast<long>(chunk), zel_linux_send(fd, out.data() + sent, chunk, 0));
            EXPECT_TRUE(recv_all(fd, back.data() + sent, chunk, 777));
            sent += chunk;
        }
        EXPECT_TRUE(out == back);
        zel_linux_close(fd);
        return 0;
    }));
    EXPECT_EQ(256u * 1024u, server.echoed());

    // A blocking receive leaves the kernel free: the peer holds its answer
    // back until it has seen the ticker go on.
    HostListener gate;
    std::thread peer([&] {
        int c = accept(gate.fd, nullptr, nullptr);
        char ping[4];
        recv(c, ping, sizeof ping, MSG_WAITALL);
        int start = ticker.ticks();
        while (ticker.ticks() < start + 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        send(c, "pong", 4, MSG_NOSIGNAL);
        close(c);
    });
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(gate.port_be);
        char buf[8] = {};
        EXPECT_EQ(4, zel_linux_send(fd, "ping", 4, 0));
        EXPECT_EQ(4, zel_linux_recv(fd, buf, sizeof buf, 0));
        EXPECT_STREQ("pong", buf);
        EXPECT_EQ(0, zel_linux_recv(fd, buf, sizeof buf, 0)) << "the peer closed";
        zel_linux_close(fd);
        return 0;
    }));
    peer.join();
}

TEST(InetSock, NonBlockingConnectPollsWritableAndHalfCloseStillReads) {
    sock_test::EchoServer server;
    EXPECT_EQ(0, run_process([&] {
        int fd = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, ZEL_LINUX_IPPROTO_TCP);
        EXPECT_EQ(0, zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK));
        zel_linux_sockaddr_in to = inet_loopback(server.port_be());
        int rc = zel_linux_connect(fd, as_addr(&to), sizeof to);
        if (rc != 0) {
            EXPECT_EQ(ZEL_LINUX_EINPROGRESS, errno_now());
        }
        zel_linux_pollfd p{fd, ZEL_LINUX_POLLOUT, 0};
        EXPECT_EQ(1, zel_linux_poll(&p, 1, -1));
        EXPECT_EQ(ZEL_LINUX_POLLOUT, p.revents);
        int error = -1;
        zel_linux_socklen_t len = sizeof error;
        EXPECT_EQ(0, zel_linux_getsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_ERROR, &error, &len));
        EXPECT_EQ(0, error);

        char buf[16] = {};
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_recv(fd, buf, sizeof buf, 0));
        EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now()) << "nothing to read yet";

        EXPECT_EQ(3, zel_linux_send(fd, "abc", 3, 0));
        // Stop sending only: the echo still comes back, then the end.
        EXPECT_EQ(0, zel_linux_shutdown(fd, ZEL_LINUX_SHUT_WR));
        EXPECT_EQ(0, zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, 0));
        EXPECT_TRUE(recv_all(fd, buf, 3, 16));
        EXPECT_STREQ("abc", buf);
        EXPECT_EQ(0, zel_linux_recv(fd, buf, sizeof buf, 0));
        EXPECT_EQ(-1, zel_linux_shutdown(fd, 7));
        zel_linux_close(fd);
        return 0;
    }));
}

TEST(InetSock, ConnectToAClosedPortFailsWithTheRefusal) {
    uint16_t port_be = htons(sock_test::closed_port());
    EXPECT_EQ(0, run_process([&] {
        int fd = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
        zel_linux_sockaddr_in to = inet_loopback(port_be);
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_connect(fd, as_addr(&to), sizeof to));
        EXPECT_EQ(ECONNREFUSED, errno_now());
        // The connect took the error: no error is left to report.
        zel_linux_pollfd after{fd, ZEL_LINUX_POLLIN | ZEL_LINUX_POLLOUT, 0};
        zel_linux_poll(&after, 1, 0);
        EXPECT_EQ(0, after.revents & ZEL_LINUX_POLLERR);
        zel_linux_close(fd);

        fd = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
        int on = 1;
        EXPECT_EQ(0, zel_linux_setsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_NONBLOCK, &on, sizeof on));
        if (zel_linux_connect(fd, as_addr(&to), sizeof to) == -1 && errno_now() == ZEL_LINUX_EINPROGRESS) {
            // As on Linux: writable with an error and a hang-up, and
            // readable as well for a poll that asks for it.
            zel_linux_pollfd p{fd, ZEL_LINUX_POLLOUT, 0};
            EXPECT_EQ(1, zel_linux_poll(&p, 1, -1));
            EXPECT_EQ(ZEL_LINUX_POLLOUT | ZEL_LINUX_POLLERR | ZEL_LINUX_POLLHUP, p.revents);
            p = {fd, ZEL_LINUX_POLLIN | ZEL_LINUX_POLLOUT, 0};
            EXPECT_EQ(1, zel_linux_poll(&p, 1, 0));
            EXPECT_EQ(ZEL_LINUX_POLLIN | ZEL_LINUX_POLLOUT | ZEL_LINUX_POLLERR | ZEL_LINUX_POLLHUP, p.revents);
            int error = 0;
            zel_linux_socklen_t len = sizeof error;
            EXPECT_EQ(0, zel_linux_getsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_ERROR, &error, &len));
            EXPECT_EQ(ECONNREFUSED, error);
            // Reading the error clears it; the hang-up stays.
            p = {fd, ZEL_LINUX_POLLIN | ZEL_LINUX_POLLOUT, 0};
            EXPECT_EQ(1, zel_linux_poll(&p, 1, 0));
            EXPECT_EQ(ZEL_LINUX_POLLIN | ZEL_LINUX_POLLOUT | ZEL_LINUX_POLLHUP, p.revents);
            EXPECT_EQ(0, zel_linux_getsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_ERROR, &error, &len));
            EXPECT_EQ(0, error);
        } else {
            EXPECT_EQ(ECONNREFUSED, errno_now());
        }
        zel_linux_close(fd);

        zel_linux_sockaddr_in bad = to;
        bad.sin_family = 10;
        fd = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
        EXPECT_EQ(-1, zel_linux_connect(fd, as_addr(&bad), sizeof bad));
        EXPECT_EQ(EAFNOSUPPORT, errno_now());
        zel_linux_close(fd);
        return 0;
    }));
}

TEST(InetSock, ResetByThePeerReportsTheHostError) {
    HostListener host;
    std::thread peer([&] {
        int c = accept(host.fd, nullptr, nullptr);
        char b;
        recv(c, &b, 1, 0);  // connected on both sides
        linger lg{1, 0};
        setsockopt(c, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(c);  // a reset
    });
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(host.port_be);
        EXPECT_EQ(1, zel_linux_send(fd, "x", 1, 0));
        char buf[8];
        *zel_linux_errno_ptr() = 0;
        long r = zel_linux_recv(fd, buf, sizeof buf, 0);
        EXPECT_EQ(-1, r);
        EXPECT_EQ(ECONNRESET, errno_now()) << "a reset must not read as would-block";
        zel_linux_close(fd);
        return 0;
    }));
    peer.join();
}

TEST(InetSock, BlockingReceiveWaitsAgainAfterAStaleReport) {
    HostListener host;
    std::thread peer([&] {
        int c = accept(host.fd, nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send(c, "late", 4, MSG_NOSIGNAL);
        char b;
        recv(c, &b, 1, 0);
        close(c);
    });
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(host.port_be);
        // A readable report without data behind it.
        zel_linux_fd_set_events(zel_linux_fd_get(fd)->priv, ZEL_LINUX_EV_READ);
        char buf[8] = {};
        EXPECT_EQ(4, zel_linux_recv(fd, buf, sizeof buf, 0));
        EXPECT_STREQ("late", buf);
        zel_linux_close(fd);
        return 0;
    }));
    peer.join();
}

TEST(InetSock, AcceptsFiftyClientsWithTheirAddresses) {
    constexpr int kClients = 50;
    std::atomic<uint16_t> port_be{0};
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    std::thread starter([&] {
        while (!port_be.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int i = 0; i < kClients; ++i)
            clients.emplace_back([&, i] {
                int c = sock_test::host_connect(port_be.load());
                if (c >= 0) {
                    unsigned char id = static_cast<unsigned char>(i);
                    send(c, &id, 1, MSG_NOSIGNAL);
                    unsigned char reply = 0;
                    if (recv(c, &reply, 1, MSG_WAITALL) == 1 && reply == static_cast<unsigned char>(id + 1)) answered++;
                }
                close(c);
            });
    });
    EXPECT_EQ(0, run_process([&] {
        int l = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
        int one = 1;
        EXPECT_EQ(0, zel_linux_setsockopt(l, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_REUSEADDR, &one, sizeof one));
        zel_linux_sockaddr_in at = inet_loopback(0);
        EXPECT_EQ(0, zel_linux_bind(l, as_addr(&at), sizeof at));
        EXPECT_EQ(0, zel_linux_listen(l, 16));
        zel_linux_sockaddr_in name{};
        zel_linux_socklen_t len = sizeof name;
        EXPECT_EQ(0, zel_linux_getsockname(l, reinterpret_cast<zel_linux_sockaddr *>(&name), &len));
        EXPECT_EQ(sizeof name, len);
        port_be = name.sin_port;
        for (int i = 0; i < kClients; ++i) {
            zel_linux_sockaddr_in peer{};
            zel_linux_socklen_t plen = sizeof peer;
            int c = zel_linux_accept(l, reinterpret_cast<zel_linux_sockaddr *>(&peer), &plen);
            EXPECT_GE(c, 0);
            if (c < 0) break;
            EXPECT_EQ(sizeof peer, plen);
            EXPECT_EQ(ZEL_LINUX_AF_INET, peer.sin_family);
            EXPECT_EQ(htonl(INADDR_LOOPBACK), peer.sin_addr.s_addr);
            unsigned char id = 0;
            EXPECT_EQ(1, zel_linux_recv(c, &id, 1, 0));
            id++;
            EXPECT_EQ(1, zel_linux_send(c, &id, 1, 0));
            zel_linux_close(c);
        }
        zel_linux_close(l);
        return 0;
    }));
    starter.join();
    for (auto &t : clients) t.join();
    EXPECT_EQ(kClients, answered.load());
}

TEST(InetSock, AcceptWithoutMemoryDropsTheConnection) {
    std::atomic<uint16_t> port_be{0};
    std::atomic<int> dropped{0}, served{0};
    std::thread clients([&] {
        while (!port_be.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int i = 0; i < 2; ++i) {
            int c = sock_test::host_connect(port_be.load());
            char b = 0;
            long n = recv(c, &b, 1, 0);
            if (n == 0 && i == 0) dropped++;
            if (n == 1 && b == 'k' && i == 1) served++;
            close(c);
        }
    });
    EXPECT_EQ(0, run_process([&] {
        zel_test::TraceCapture quiet;  // the failed allocation is traced
        uint32_t base = zel_linux_test::kernel_blocks();
        int l = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
        zel_linux_sockaddr_in at = inet_loopback(0);
        zel_linux_bind(l, as_addr(&at), sizeof at);
        zel_linux_listen(l, 4);
        zel_linux_sockaddr_in name{};
        zel_linux_socklen_t len = sizeof name;
        zel_linux_getsockname(l, reinterpret_cast<zel_linux_sockaddr *>(&name), &len);
        port_be = name.sin_port;
        zel_linux_pollfd p{l, ZEL_LINUX_POLLIN, 0};
        EXPECT_EQ(1, zel_linux_poll(&p, 1, -1));
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(-1, zel_linux_accept(l, nullptr, nullptr));
        int c = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(c, 0);
        EXPECT_EQ(1, zel_linux_send(c, "k", 1, 0));
        zel_linux_close(c);
        zel_linux_close(l);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
    clients.join();
    EXPECT_EQ(1, dropped.load());
    EXPECT_EQ(1, served.load());
}

TEST(InetSock, ManySocketsComeAndGoWhileAnotherThreadWaitsInReceive) {
    sock_test::EchoServer server;
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(server.port_be());
        static int s_fd;
        static char s_buf[8];
        static long s_got;
        s_fd = fd;
        s_got = 0;
        zel_linux_pthread_t waiter;
        EXPECT_EQ(0, zel_linux_pthread_create(
                         &waiter, nullptr,
                         [](void *) -> void * {
                             s_got = zel_linux_recv(s_fd, s_buf, sizeof s_buf, 0);
                             return nullptr;
                         },
                         nullptr));
        zel_linux_pollfd none{};
        zel_linux_poll(&none, 0, 5);  // let the waiter block
        for (int i = 0; i < 300; ++i) {
            int s = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
            EXPECT_GE(s, 0);
            if (i % 3 == 0) {
                zel_linux_sockaddr_in to = inet_loopback(server.port_be());
                EXPECT_EQ(0, zel_linux_connect(s, as_addr(&to), sizeof to));
            }
            EXPECT_EQ(0, zel_linux_close(s));
        }
        EXPECT_EQ(0, s_got) << "nothing was sent to the waiting socket yet";
        EXPECT_EQ(4, zel_linux_send(fd, "done", 4, 0));
        EXPECT_EQ(0, zel_linux_pthread_join(waiter, nullptr));
        EXPECT_EQ(4, s_got);
        EXPECT_EQ(0, std::memcmp(s_buf, "done", 4));
        zel_linux_close(fd);
        return 0;
    }));
}

TEST(InetSock, ClosingASocketUnderAWaitingReceiveKeepsItUntilTheReceiveEnds) {
    HostListener host;
    std::atomic<bool> closed{false};
    std::thread peer([&] {
        int c = accept(host.fd, nullptr, nullptr);
        while (!closed.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        send(c, "y", 1, MSG_NOSIGNAL);
        char b;
        recv(c, &b, 1, 0);  // the layer's close reaches the host at last
        close(c);
    });
    EXPECT_EQ(0, run_process([&] {
        uint32_t base = zel_linux_test::kernel_blocks();
        static int s_fd;
        static long s_got;
        s_fd = connect_to(host.port_be);
        zel_linux_pthread_t waiter;
        zel_linux_pthread_create(
            &waiter, nullptr,
            [](void *) -> void * {
                char b;
                s_got = zel_linux_recv(s_fd, &b, 1, 0);
                return nullptr;
            },
            nullptr);
        zel_linux_poll(nullptr, 0, 5);  // let the waiter block
        EXPECT_EQ(0, zel_linux_close(s_fd));
        closed = true;
        zel_linux_pthread_join(waiter, nullptr);
        EXPECT_EQ(1, s_got);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
    peer.join();
}

TEST(InetSock, OptionsModesAndCreation) {
    EXPECT_EQ(0, run_process([&] {
        EXPECT_EQ(-1, zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 1));
        EXPECT_EQ(-1, zel_linux_socket(10, ZEL_LINUX_SOCK_STREAM, 0));
        EXPECT_EQ(-1, zel_linux_socket(ZEL_LINUX_AF_INET, 5, 0));
        int fd = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0);
        EXPECT_GE(fd, 0);
        struct zel_linux_stat st {};
        EXPECT_EQ(0, zel_linux_fstat(fd, &st));
        EXPECT_EQ(ZEL_LINUX_S_IFSOCK, st.st_mode);

        zel_linux_timeval tv{1, 500000};
        EXPECT_EQ(0, zel_linux_setsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_RCVTIMEO, &tv, sizeof tv));
        zel_linux_timeval back{};
        zel_linux_socklen_t len = sizeof back;
        EXPECT_EQ(0, zel_linux_getsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_RCVTIMEO, &back, &len));
        EXPECT_EQ(1, back.tv_sec);
        EXPECT_EQ(500000, back.tv_usec);
        zel_linux_linger lg{1, 3};
        EXPECT_EQ(0, zel_linux_setsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_LINGER, &lg, sizeof lg));
        zel_linux_linger lgback{};
        len = sizeof lgback;
        EXPECT_EQ(0, zel_linux_getsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_LINGER, &lgback, &len));
        EXPECT_EQ(8u, len);
        EXPECT_EQ(3, lgback.l_linger);
        int type = 0;
        len = sizeof type;
        EXPECT_EQ(0, zel_linux_getsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_TYPE, &type, &len));
        EXPECT_EQ(ZEL_LINUX_SOCK_STREAM, type);
        int one = 1;
        EXPECT_EQ(0, zel_linux_setsockopt(fd, ZEL_LINUX_IPPROTO_TCP, ZEL_LINUX_TCP_NODELAY, &one, sizeof one));

        // The layer's non-blocking option follows fcntl and the status flags.
        EXPECT_EQ(0, zel_linux_setsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_NONBLOCK, &one, sizeof one));
        EXPECT_TRUE(zel_linux_fcntl(fd, ZEL_LINUX_F_GETFL, 0) & ZEL_LINUX_O_NONBLOCK);
        EXPECT_EQ(0, zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, 0));
        int word = -1;
        len = sizeof word;
        EXPECT_EQ(0, zel_linux_getsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_NONBLOCK, &word, &len));
        EXPECT_EQ(0, word);
        EXPECT_EQ(-1, zel_linux_setsockopt(fd, ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_RCVTIMEO, &tv, 4));
        zel_linux_close(fd);

        EXPECT_EQ(-1, zel_linux_connect(fd, nullptr, 0)) << "closed";
        int dgram = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_DGRAM, ZEL_LINUX_IPPROTO_UDP);
        EXPECT_GE(dgram, 0);
        zel_linux_close(dgram);
        return 0;
    }));
}

TEST(InetSock, DatagramsCarryTheSendersAddress) {
    EXPECT_EQ(0, run_process([&] {
        int a = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_DGRAM, 0);
        int b = zel_linux_socket(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_DGRAM, 0);
        zel_linux_sockaddr_in any = inet_loopback(0);
        EXPECT_EQ(0, zel_linux_bind(a, as_addr(&any), sizeof any));
        EXPECT_EQ(0, zel_linux_bind(b, as_addr(&any), sizeof any));
        zel_linux_sockaddr_in an{}, bn{};
        zel_linux_socklen_t len = sizeof an;
        zel_linux_getsockname(a, reinterpret_cast<zel_linux_sockaddr *>(&an), &len);
        len = sizeof bn;
        zel_linux_getsockname(b, reinterpret_cast<zel_linux_sockaddr *>(&bn), &len);
        EXPECT_EQ(5, zel_linux_sendto(a, "hello", 5, 0, as_addr(&bn), sizeof bn));
        char buf[8] = {};
        zel_linux_sockaddr_in from{};
        zel_linux_socklen_t flen = sizeof from;
        EXPECT_EQ(5, zel_linux_recvfrom(b, buf, sizeof buf, 0, reinterpret_cast<zel_linux_sockaddr *>(&from), &flen));
        EXPECT_STREQ("hello", buf);
        EXPECT_EQ(sizeof from, flen);
        EXPECT_EQ(an.sin_port, from.sin_port);
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_recvfrom(b, buf, sizeof buf, ZEL_LINUX_MSG_DONTWAIT, nullptr, nullptr));
        EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());

        // A datagram that comes only once the receive waits wakes it.
        const zel_linux_fd_priv_t *part = zel_linux_fd_get(b)->priv;
        uint16_t host_port = 0;
        int h = sock_test::loopback_socket(&host_port, 0, SOCK_DGRAM);
        std::thread peer([&] {
            if (zel_test::wait_until([&] { return zel_linux_fd_waiter_count(part) != 0; })) {
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = bn.sin_port;
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                sendto(h, "late", 4, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
            }
        });
        std::memset(buf, 0, sizeof buf);
        flen = sizeof from;
        EXPECT_EQ(4, zel_linux_recvfrom(b, buf, sizeof buf, 0, reinterpret_cast<zel_linux_sockaddr *>(&from), &flen));
        peer.join();
        close(h);
        EXPECT_STREQ("late", buf);
        EXPECT_EQ(host_port, from.sin_port);
        zel_linux_close(a);
        zel_linux_close(b);
        return 0;
    }));
}

TEST(InetSock, HostNamesResolveIntoOneSharedRecord) {
    EXPECT_EQ(0, run_process([&] {
        zel_linux_hostent *h = zel_linux_gethostbyname("localhost");
        EXPECT_NE(nullptr, h);
        if (!h) return 1;
        EXPECT_STREQ("localhost", h->h_name);
        EXPECT_EQ(ZEL_LINUX_AF_INET, h->h_addrtype);
        EXPECT_EQ(4, h->h_length);
        EXPECT_EQ(nullptr, h->h_aliases[0]);
        uint32_t addr;
        std::memcpy(&addr, h->h_addr_list[0], 4);
        EXPECT_EQ(htonl(INADDR_LOOPBACK), addr);
        EXPECT_EQ(nullptr, h->h_addr_list[1]);
        // A resolver thread looks names up the same way.
        static zel_linux_hostent *s_seen;
        zel_linux_pthread_t t;
        zel_linux_pthread_create(
            &t, nullptr,
            [](void *) -> void * {
                s_seen = zel_linux_gethostbyname("localhost");
                return nullptr;
            },
            nullptr);
        zel_linux_pthread_join(t, nullptr);
        EXPECT_EQ(h, s_seen);
        EXPECT_EQ(nullptr, zel_linux_gethostbyname(nullptr));
        return 0;
    }));
}

TEST(InetSock, SelectReportsReadyDescriptorsAndSleeps) {
    sock_test::EchoServer server;
    EXPECT_EQ(0, run_process([&] {
        int fd = connect_to(server.port_be());
        zel_linux_fd_set r{}, w{};
        r.fds_bits[0] = 1L << fd;
        zel_linux_timeval tv{0, 0};
        EXPECT_EQ(0, zel_linux_select(fd + 1, &r, nullptr, nullptr, &tv));
        EXPECT_EQ(0, r.fds_bits[0]);
        EXPECT_EQ(1, zel_linux_send(fd, "x", 1, 0));
        r.fds_bits[0] = 1L << fd;
        w.fds_bits[0] = 1L << fd;
        EXPECT_GE(zel_linux_select(fd + 1, &r, &w, nullptr, nullptr), 1);
        zel_linux_fd_set only_r{};
        only_r.fds_bits[0] = 1L << fd;
        EXPECT_EQ(1, zel_linux_select(fd + 1, &only_r, nullptr, nullptr, nullptr));
        EXPECT_EQ(1L << fd, only_r.fds_bits[0]);
        zel_linux_timeval nap{0, 2000};
        EXPECT_EQ(0, zel_linux_select(0, nullptr, nullptr, nullptr, &nap));
        zel_linux_close(fd);
        zel_linux_fd_set gone{};
        gone.fds_bits[0] = 1L << fd;
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_select(fd + 1, &gone, nullptr, nullptr, &tv));
        EXPECT_EQ(EBADF, errno_now());
        return 0;
    }));
}

}  // namespace

// Host sockets and their poller, driven from framework contexts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "sock_echo_server.h"
#include "zel_host_sock.h"
#include "zel_test.h"

namespace {

using zel_test::run_in_agent;
using zel_test::wait_until;

// A host socket with the readiness reports it received.
struct Probe {
    zel_host_sock_t sock;  // first: the hook finds the probe from it
    std::atomic<int> readable{0};
    std::atomic<int> writable{0};
};

void record_ready(zel_host_sock_t *sock, uint32_t events) {
    Probe *p = reinterpret_cast<Probe *>(sock);
    if (events & ZEL_HOST_SOCK_READABLE) p->readable++;
    if (events & ZEL_HOST_SOCK_WRITABLE) p->writable++;
}

zel_host_sockaddr_in_t loopback(uint16_t port_be) { return zel_host_sockaddr_in_t{2, port_be, htonl(INADDR_LOOPBACK)}; }

class HostSock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(run_in_agent([] { zel_host_sock_set_ready_hook(record_ready); }));
    }
    // Opens and connects a probe in framework context; the connect result.
    int open_connected(Probe &p, uint16_t port_be) {
        int rc = 0;
        EXPECT_TRUE(run_in_agent([&] {
            EXPECT_EQ(0, zel_host_sock_open(&p.sock, ZEL_HOST_SOCK_STREAM, 0));
            zel_host_sock_watch(&p.sock);
            zel_host_sockaddr_in_t to = loopback(port_be);
            rc = zel_host_sock_connect(&p.sock, &to);
        }));
        return rc;
    }
    // Lets the poller come round once: a fresh datagram socket is writable at
    // once, so its report means a whole round ran after this call began.
    void one_poller_round() {
        Probe marker;
        ASSERT_TRUE(run_in_agent([&] {
            ASSERT_EQ(0, zel_host_sock_open(&marker.sock, ZEL_HOST_SOCK_DGRAM, 0));
            zel_host_sock_watch(&marker.sock);
        }));
        ASSERT_TRUE(wait_until([&] { return marker.writable.load() > 0; }));
        ASSERT_TRUE(run_in_agent([&] { zel_host_sock_close(&marker.sock); }));
    }
    void close_probe(Probe &p) {
        ASSERT_TRUE(run_in_agent([&] { zel_host_sock_close(&p.sock); }));
    }
};

TEST_F(HostSock, ConnectSendReceiveWithOneShotReports) {
    sock_test::EchoServer server;
    Probe p;
    int rc = open_connected(p, server.port_be());
    ASSERT_TRUE(rc == 0 || rc == -EINPROGRESS) << rc;
    ASSERT_TRUE(wait_until([&] { return p.writable.load() > 0; }));

    long sent = 0;
    ASSERT_TRUE(run_in_agent([&] {
        int err = -1;
        uint32_t len = sizeof err;
        EXPECT_EQ(0, zel_host_sock_getopt(&p.sock, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_ERROR, &err, &len));
        EXPECT_EQ(0, err);
        sent = zel_host_sock_send(&p.sock, "hello", 5, nullptr);
        zel_host_sock_watch(&p.sock);
    }));
    EXPECT_EQ(5, sent);
    ASSERT_TRUE(wait_until([&] { return p.readable.load() > 0; }));

    // The data stays unread: without a new watch no second report comes,
    // however often the poller goes round.
    one_poller_round();
    one_poller_round();
    EXPECT_EQ(1, p.readable.load());

    char buf[16] = {};
    long got = 0;
    ASSERT_TRUE(run_in_agent([&] {
        got = zel_host_sock_recv(&p.sock, buf, sizeof buf, nullptr);
        EXPECT_EQ(-EAGAIN, zel_host_sock_recv(&p.sock, buf + 5, sizeof buf - 5, nullptr));
        zel_host_sockaddr_in_t me{}, peer{};
        EXPECT_EQ(0, zel_host_sock_name(&p.sock, &me));
        EXPECT_EQ(0, zel_host_sock_peer(&p.sock, &peer));
        EXPECT_EQ(2, me.family);
        EXPECT_EQ(htonl(INADDR_LOOPBACK), me.addr);
        EXPECT_EQ(server.port_be(), peer.port);
    }));
    EXPECT_EQ(5, got);
    EXPECT_STREQ("hello", buf);
    close_probe(p);
}

TEST_F(HostSock, FreshStreamSocketIsLeftOutUntilItConnectsOrListens) {
    Probe fresh;
    ASSERT_TRUE(run_in_agent([&] {
        ASSERT_EQ(0, zel_host_sock_open(&fresh.sock, ZEL_HOST_SOCK_STREAM, 6));
        zel_host_sock_watch(&fresh.sock);
    }));
    one_poller_round();
    // On the host a fresh stream socket polls as hung up and writable.
    EXPECT_EQ(0, fresh.readable.load());
    EXPECT_EQ(0, fresh.writable.load());

    sock_test::EchoServer server;
    int accepted_before = server.accepted();
    ASSERT_TRUE(run_in_agent([&] {
        zel_host_sockaddr_in_t any = loopback(0);
        EXPECT_EQ(0, zel_host_sock_bind(&fresh.sock, &any));
        EXPECT_EQ(0, zel_host_sock_listen(&fresh.sock, 4));
    }));
    one_poller_round();
    EXPECT_EQ(0, fresh.readable.load()) << "a listener is readable only with a pending connection";

    // A host client connects: the listener reports readable and accepts.
    zel_host_sockaddr_in_t name{};
    ASSERT_TRUE(run_in_agent([&] { EXPECT_EQ(0, zel_host_sock_name(&fresh.sock, &name)); }));
    int client = sock_test::host_connect(name.port);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(wait_until([&] { return fresh.readable.load() > 0; }));
    Probe conn;
    ASSERT_TRUE(run_in_agent([&] {
        zel_host_sockaddr_in_t peer{};
        ASSERT_EQ(0, zel_host_sock_accept(&fresh.sock, &peer, &conn.sock));
        EXPECT_EQ(2, peer.family);
        EXPECT_EQ(htonl(INADDR_LOOPBACK), peer.addr);
        zel_host_sock_watch(&conn.sock);
        zel_host_sock_t none;
        EXPECT_EQ(-EAGAIN, zel_host_sock_accept(&fresh.sock, nullptr, &none));
    }));
    ASSERT_TRUE(wait_until([&] { return conn.writable.load() > 0; }));
    EXPECT_EQ(accepted_before, server.accepted());
    close(client);
    ASSERT_TRUE(wait_until([&] { return conn.readable.load() > 0; })) << "the peer's close reads as readable";
    close_probe(conn);
    close_probe(fresh);
}

TEST_F(HostSock, ClosedDescriptorIsReleasedOnlyAfterThePollerCameRound) {
    sock_test::EchoServer server;
    Probe a;
    int rc = open_connected(a, server.port_be());
    ASSERT_TRUE(rc == 0 || rc == -EINPROGRESS);
    ASSERT_TRUE(wait_until([&] { return a.writable.load() > 0; }));
    int old_handle = a.sock.handle;
    Probe b;
    uint32_t closing = 0;
    ASSERT_TRUE(run_in_agent([&] {
        zel_host_sock_close(&a.sock);
        closing = zel_host_sock_closing_count();
        // The poller may still poll the old number: it must not be handed out.
        ASSERT_EQ(0, zel_host_sock_open(&b.sock, ZEL_HOST_SOCK_STREAM, 0));
    }));
    EXPECT_GE(closing, 1u);
    EXPECT_NE(old_handle, b.sock.handle);
    ASSERT_TRUE(wait_until([] { return zel_host_sock_closing_count() == 0; }));
    close_probe(b);
}

TEST_F(HostSock, RefusedConnectEndsWritableWithTheError) {
    Probe p;
    int rc = open_connected(p, htons(sock_test::closed_port()));
    if (rc == -EINPROGRESS) {
        ASSERT_TRUE(wait_until([&] { return p.writable.load() > 0; }));
        ASSERT_TRUE(run_in_agent([&] {
            int err = 0;
            uint32_t len = sizeof err;
            EXPECT_EQ(0, zel_host_sock_getopt(&p.sock, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_ERROR, &err, &len));
            EXPECT_EQ(ECONNREFUSED, err);
        }));
    } else {
        EXPECT_EQ(-ECONNREFUSED, rc);
    }
    close_probe(p);
}

TEST_F(HostSock, SendToAResetPeerFailsWithoutASignal) {
    uint16_t port_be;
    int listener = sock_test::loopback_socket(&port_be, 1);
    Probe p;
    int rc = open_connected(p, port_be);
    ASSERT_TRUE(rc == 0 || rc == -EINPROGRESS);
    int peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(wait_until([&] { return p.writable.load() > 0; }));
    linger lg{1, 0};  // close with a reset
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(peer);
    close(listener);
    long last = 0;
    ASSERT_TRUE(run_in_agent([&] {
        char chunk[1024] = {};
        // A SIGPIPE here would end the test binary.
        for (int i = 0; i < 64 && (last = zel_host_sock_send(&p.sock, chunk, sizeof chunk, nullptr)) > 0; ++i) {}
    }));
    EXPECT_TRUE(last == -EPIPE || last == -ECONNRESET) << last;
    close_probe(p);
}

TEST_F(HostSock, OptionsConvertTimeoutsAndLinger) {
    Probe p;
    ASSERT_TRUE(run_in_agent([&] {
        ASSERT_EQ(0, zel_host_sock_open(&p.sock, ZEL_HOST_SOCK_STREAM, 0));
        uint32_t ms = 1500;
        EXPECT_EQ(0, zel_host_sock_setopt(&p.sock, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_RCVTIMEO, &ms, sizeof ms));
        uint32_t back = 0, len = sizeof back;
        EXPECT_EQ(0, zel_host_sock_getopt(&p.sock, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_RCVTIMEO, &back, &len));
        EXPECT_EQ(1500u, back);
        EXPECT_EQ(4u, len);
        int lg[2] = {1, 7}, lgback[2] = {0, 0};
        EXPECT_EQ(0, zel_host_sock_setopt(&p.sock, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_LINGER, lg, sizeof lg));
        len = sizeof lgback;
        EXPECT_EQ(0, zel_host_sock_getopt(&p.sock, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_LINGER, lgback, &len));
        EXPECT_EQ(8u, len);
        EXPECT_EQ(1, lgback[0]);
        EXPECT_EQ(7, lgback[1]);
        int one = 1;
        EXPECT_EQ(0, zel_host_sock_setopt(&p.sock, ZEL_HOST_IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one));
        EXPECT_EQ(-EINVAL, zel_host_sock_setopt(&p.sock, ZEL_HOST_SOL_SOCKET, ZEL_HOST_SO_SNDTIMEO, &one, 2));
        zel_host_sockaddr_in_t bad{10, 0, 0};
        EXPECT_EQ(-EAFNOSUPPORT, zel_host_sock_connect(&p.sock, &bad));
        zel_host_sock_close(&p.sock);
        EXPECT_EQ(-EPROTOTYPE, zel_host_sock_open(&p.sock, 3, 0));
    }));
}

TEST_F(HostSock, LooksUpLocalNamesOnly) {
    uint32_t addr = 0;
    ASSERT_TRUE(run_in_agent([&] {
        EXPECT_EQ(0, zel_host_sock_gethostbyname("localhost", &addr));
        EXPECT_EQ(-1, zel_host_sock_gethostbyname(nullptr, &addr));
    }));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), addr);
}

}  // namespace

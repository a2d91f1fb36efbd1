// UNIX-domain sockets of the layer, between processes of the layer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "sock_layer_util.h"
#include "zel_host.h"
#include "zel_host_test_hooks.h"
#include "zel_linux_eventfd.h"
#include "zel_linux_pthread.h"
#include "zel_linux_test.h"
#include "zel_linux_unix_sock.h"

namespace {

using sock_test::as_addr;
using sock_test::unix_path;
using zel_linux_test::run_process;
using zel_linux_test::spawn;

int errno_now() { return *zel_linux_errno_ptr(); }

int listener_at(const char *path, int backlog) {
    int l = zel_linux_socket(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0);
    zel_linux_sockaddr_un at = unix_path(path);
    if (l < 0 || zel_linux_bind(l, as_addr(&at), sizeof at) != 0 || zel_linux_listen(l, backlog) != 0) return -1;
    return l;
}

int connect_at(const char *path) {
    int c = zel_linux_socket(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0);
    zel_linux_sockaddr_un to = unix_path(path);
    if (zel_linux_connect(c, as_addr(&to), sizeof to) != 0) {
        zel_linux_close(c);
        return -1;
    }
    return c;
}

void nap(int ms) { zel_linux_poll(nullptr, 0, ms); }

std::string read_to_end(int fd) {
    std::string text;
    char buf[7];
    long n;
    while ((n = zel_linux_read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return n == 0 ? text : "<error>";
}

TEST(UnixSock, EchoBetweenTwoProcesses) {
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        int l = listener_at("/run/echo.sock", 4);
        EXPECT_GE(l, 0);
        struct zel_linux_stat st {};
        EXPECT_EQ(0, zel_linux_stat("/run/echo.sock", &st));
        EXPECT_EQ(0xC1FFu, st.st_mode);
        int client = spawn([](int, char **) {
            int c = connect_at("/run/echo.sock");
            if (c < 0) return 1;
            const char text[] = "over the socket";
            zel_linux_write(c, text, sizeof text - 1);
            zel_linux_shutdown(c, ZEL_LINUX_SHUT_WR);  // still reads the echo
            std::string back = read_to_end(c);
            zel_linux_close(c);
            return back == text ? 0 : 2;
        });
        zel_linux_sockaddr_un peer{};
        zel_linux_socklen_t len = sizeof peer;
        int a = zel_linux_accept(l, reinterpret_cast<zel_linux_sockaddr *>(&peer), &len);
        EXPECT_GE(a, 0);
        EXPECT_EQ(ZEL_LINUX_AF_UNIX, peer.sun_family);
        EXPECT_EQ(sizeof peer.sun_family, len);
        struct zel_linux_stat sst {};
        EXPECT_EQ(0, zel_linux_fstat(a, &sst));
        EXPECT_EQ(ZEL_LINUX_S_IFSOCK, sst.st_mode);
        char buf[5];
        long n;
        while ((n = zel_linux_read(a, buf, sizeof buf)) > 0)
            EXPECT_EQ(n, zel_linux_write(a, buf, static_cast<size_t>(n)));
        EXPECT_EQ(0, n);
        zel_linux_close(a);
        int status = -1;
        EXPECT_EQ(client, zel_linux_waitpid(client, &status, 0));
        EXPECT_EQ(0, status);
        zel_linux_close(l);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
}

TEST(UnixSock, BlockingReadWakesWhenDataArrives) {
    EXPECT_EQ(0, run_process([] {
        int l = listener_at("/run/wake.sock", 1);
        int client = spawn([](int, char **) {
            int c = connect_at("/run/wake.sock");
            nap(20);  // the reader is asleep by now
            zel_linux_write(c, "wake", 4);
            char ack;
            zel_linux_read(c, &ack, 1);
            zel_linux_close(c);
            return 0;
        });
        int a = zel_linux_accept(l, nullptr, nullptr);
        char buf[8] = {};
        EXPECT_EQ(4, zel_linux_read(a, buf, sizeof buf));
        EXPECT_STREQ("wake", buf);
        // poll sees the socket readable when the peer's next bytes arrive.
        EXPECT_EQ(1, zel_linux_write(a, "k", 1));
        zel_linux_pollfd p{a, ZEL_LINUX_POLLIN, 0};
        EXPECT_EQ(1, zel_linux_poll(&p, 1, -1)) << "the peer's close";
        EXPECT_EQ(0, zel_linux_read(a, buf, sizeof buf));
        zel_linux_close(a);
        EXPECT_EQ(client, zel_linux_waitpid(client, nullptr, 0));
        zel_linux_close(l);
        return 0;
    }));
}

TEST(UnixSock, DataWrittenBeforeACloseIsStillRead) {
    EXPECT_EQ(0, run_process([] {
        int l = listener_at("/run/close.sock", 1);
        int client = spawn([](int, char **) {
            int c = connect_at("/run/close.sock");
            zel_linux_write(c, "last words", 10);
            zel_linux_close(c);
            return 0;
        });
        int a = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_EQ(client, zel_linux_waitpid(client, nullptr, 0));  // the writer has gone for good
        EXPECT_EQ("last words", read_to_end(a));
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_write(a, "x", 1));
        EXPECT_EQ(32, errno_now());
        zel_linux_close(a);
        zel_linux_close(l);
        return 0;
    }));
}

TEST(UnixSock, BacklogLimitsLiveAcceptedConnections) {
    EXPECT_EQ(0, run_process([] {
        int l = listener_at("/run/backlog.sock", 1);
        auto client = [](int, char **) {
            int c = connect_at("/run/backlog.sock");
            if (c < 0) return 1;
            read_to_end(c);
            zel_linux_close(c);
            return 0;
        };
        int first = spawn(client);
        int second = spawn(client);
        int a = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(a, 0);
        nap(5);  // the second client queues meanwhile
        EXPECT_EQ(-1, zel_linux_accept(l, nullptr, nullptr)) << "the one slot is taken";
        zel_linux_close(a);
        int b = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(b, 0) << "closing the first gave the slot back";
        zel_linux_close(b);
        int s1 = -1, s2 = -1;
        EXPECT_EQ(first, zel_linux_waitpid(first, &s1, 0));
        EXPECT_EQ(second, zel_linux_waitpid(second, &s2, 0));
        EXPECT_EQ(0, s1);
        EXPECT_EQ(0, s2);
        zel_linux_close(l);
        return 0;
    }));
}

TEST(UnixSock, AnAcceptThatWaitedLeavesTheRestOfTheQueueReadable) {
    EXPECT_EQ(0, run_process([] {
        static int l, stop;
        static zel_linux_trig_t gates[2];
        l = listener_at("/run/queue.sock", 4);
        stop = zel_linux_eventfd_create(0, 0);
        auto *lp = reinterpret_cast<zel_linux_unsock_priv_t *>(zel_linux_fd_get(l)->priv);
        // Another thread polls the listener for writable all along; two
        // clients connect while the accept below waits.
        zel_linux_pthread_t watcher, clients[2];
        zel_linux_pthread_create(
            &watcher, nullptr,
            [](void *) -> void * {
                zel_linux_pollfd p[2] = {{l, ZEL_LINUX_POLLOUT, 0}, {stop, ZEL_LINUX_POLLIN, 0}};
                zel_linux_poll(p, 2, -1);
                return nullptr;
            },
            nullptr);
        while (zel_linux_fd_waiter_count(&lp->sock.head) == 0) zel_thread_delay(zel_systimer_ms_to_tick(1));
        for (zel_linux_trig_t &gate : gates) {
            zel_linux_trig_init(&gate);
            zel_linux_pthread_create(
                &clients[&gate - gates], nullptr,
                [](void *arg) -> void * {
                    zel_linux_trig_wait(static_cast<zel_linux_trig_t *>(arg), -1);
                    int c = connect_at("/run/queue.sock");
                    read_to_end(c);
                    zel_linux_close(c);
                    return nullptr;
                },
                &gate);
        }
        while (!gates[0].process || !gates[1].process) zel_thread_delay(zel_systimer_ms_to_tick(1));
        for (zel_linux_trig_t &gate : gates) zel_linux_trig_signal(&gate, 0);
        int a = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(a, 0);
        // The second client queues before the accept's wake runs or after
        // it: either way the listener stays readable for it.
        for (int i = 0; i < 20000 && !lp->pending.head; ++i) zel_thread_delay(zel_systimer_ms_to_tick(1));
        EXPECT_NE(nullptr, lp->pending.head);
        zel_linux_pollfd p{l, ZEL_LINUX_POLLIN, 0};
        EXPECT_EQ(1, zel_linux_poll(&p, 1, 0)) << "a connection is still queued";
        uint64_t one = 1;
        zel_linux_write(stop, &one, 8);
        zel_linux_pthread_join(watcher, nullptr);
        int b = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(b, 0);
        zel_linux_close(a);
        zel_linux_close(b);
        for (zel_linux_pthread_t c : clients) zel_linux_pthread_join(c, nullptr);
        zel_linux_close(l);
        zel_linux_close(stop);
        return 0;
    }));
}

TEST(UnixSock, ClosingAListenerRefusesItsQueueAndFreesItsName) {
    EXPECT_EQ(0, run_process([] {
        int l = listener_at("/run/gone.sock", 2);
        // An accepted connection outlives its listener.
        int keeper = spawn([](int, char **) {
            int c = connect_at("/run/gone.sock");
            std::string rest = read_to_end(c);
            zel_linux_close(c);
            return rest == "bye" ? 0 : 1;
        });
        int a = zel_linux_accept(l, nullptr, nullptr);
        EXPECT_GE(a, 0);
        int queued = spawn([](int, char **) { return connect_at("/run/gone.sock") < 0 ? 0 : 1; });
        nap(5);  // the second client waits in the queue
        zel_linux_close(l);
        int status = -1;
        EXPECT_EQ(queued, zel_linux_waitpid(queued, &status, 0));
        EXPECT_EQ(0, status) << "a queued connect fails once its listener has gone";

        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, connect_at("/run/gone.sock"));
        EXPECT_EQ(ECONNREFUSED, errno_now());
        EXPECT_EQ(3, zel_linux_write(a, "bye", 3));
        zel_linux_close(a);
        EXPECT_EQ(keeper, zel_linux_waitpid(keeper, &status, 0));
        EXPECT_EQ(0, status);

        // The stale name can be bound again; a file that is no socket cannot.
        int again = listener_at("/run/gone.sock", 1);
        EXPECT_GE(again, 0);
        zel_linux_close(again);
        int f = zel_linux_open("/run/plain", ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY);
        zel_linux_close(f);
        EXPECT_EQ(-1, listener_at("/run/plain", 1));
        EXPECT_EQ(-1, connect_at("/run/plain"));
        EXPECT_EQ(-1, connect_at("/run/missing.sock"));
        return 0;
    }));
}

TEST(UnixSock, AConnectWaitingWhenItsProcessEndsIsWithdrawn) {
    static std::atomic<int> answer;
    static std::atomic<int> error;
    answer = 0;
    error = 0;
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        int l = listener_at("/run/late.sock", 2);
        EXPECT_GE(l, 0);
        // A worker of the child waits in a connect that nobody accepts when
        // the child's main returns.
        int child = spawn([](int, char **) {
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   *zel_linux_errno_ptr() = 0;
                                   answer = connect_at("/run/late.sock");
                                   error = errno_now();
                                   return nullptr;
                               },
                               nullptr) == 0);
            while (zel_dlist_is_empty(&zel_linux_get_cur_process()->wait_queue))
                zel_thread_delay(zel_systimer_ms_to_tick(1));
            return 6;
        });
        int status = -1;
        EXPECT_EQ(child, zel_linux_waitpid(child, &status, 0));
        EXPECT_EQ(0x600, status);
        EXPECT_EQ(-1, answer.load());
        EXPECT_EQ(9, error.load());
        // Nothing of the attempt is left in the listener's queue.
        EXPECT_EQ(0, zel_linux_fcntl(l, ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK));
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_accept(l, nullptr, nullptr));
        EXPECT_EQ(EAGAIN, errno_now());
        zel_linux_close(l);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
}

TEST(UnixSock, AConnectWaitingWhenExecRestartsItsThreadIsWithdrawn) {
    static int socket_fd;
    static std::atomic<int> exec_answer;
    exec_answer = -5;
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        int l = listener_at("/run/exec.sock", 2);
        EXPECT_GE(l, 0);
        // The restarted main finds its socket held by nobody else, and idle.
        IN_LAYER_CHECK(zel_linux_test::install("/bin/after_connect", [](int, char **) {
            zel_linux_fd_t *s = zel_linux_fd_get(socket_fd);
            IN_LAYER_CHECK(s != nullptr);
            EXPECT_EQ(1u, s->priv->refs) << "the old connect still holds the socket";
            EXPECT_TRUE(zel_dlist_is_empty(&zel_linux_get_cur_process()->wait_queue));
            return zel_linux_close(socket_fd) == 0 ? 0 : 1;
        }) == 0);
        // The child's main waits in a connect that nobody accepts when a
        // worker of the child calls exec.
        int child = spawn([](int, char **) -> int {
            zel_linux_pthread_t tid;
            IN_LAYER_CHECK(zel_linux_pthread_create(
                               &tid, nullptr,
                               [](void *) -> void * {
                                   while (zel_dlist_is_empty(&zel_linux_get_cur_process()->wait_queue))
                                       zel_thread_delay(zel_systimer_ms_to_tick(1));
                                   exec_answer = zel_linux_execl(
                                       "/bin/after_connect", "after_connect", static_cast<char *>(nullptr));
                                   return nullptr;
                               },
                               nullptr) == 0);
            socket_fd = zel_linux_socket(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0);
            zel_linux_sockaddr_un to = unix_path("/run/exec.sock");
            zel_linux_connect(socket_fd, as_addr(&to), sizeof to);
            ADD_FAILURE() << "the old main thread went on";
            return 1;
        });
        int status = -1;
        EXPECT_EQ(child, zel_linux_waitpid(child, &status, 0));
        EXPECT_EQ(0, status);
        EXPECT_EQ(0, exec_answer.load());
        // Nothing of the attempt is left in the listener's queue.
        EXPECT_EQ(0, zel_linux_fcntl(l, ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK));
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_accept(l, nullptr, nullptr));
        EXPECT_EQ(EAGAIN, errno_now());
        zel_linux_close(l);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
}

TEST(UnixSock, WithoutMemoryPairAndAcceptFailAndLeaveNothing) {
    EXPECT_EQ(0, run_process([] {
        zel_test::TraceCapture quiet;  // the failed allocation is traced
        uint32_t base = zel_linux_test::kernel_blocks();
        int fds[2];
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(-1, zel_linux_socketpair(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0, fds));
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());

        int l = listener_at("/run/nomem.sock", 2);
        int refused = spawn([](int, char **) { return connect_at("/run/nomem.sock") < 0 ? 0 : 1; });
        nap(5);  // queued
        uint32_t before = zel_linux_test::kernel_blocks();
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(-1, zel_linux_accept(l, nullptr, nullptr));
        EXPECT_EQ(before, zel_linux_test::kernel_blocks());
        int status = -1;
        EXPECT_EQ(refused, zel_linux_waitpid(refused, &status, 0));
        EXPECT_EQ(0, status) << "the connector learns that it was dropped";
        zel_linux_close(l);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());

        // A send whose bytes cannot be stored says why, and the next one goes.
        IN_LAYER_CHECK(zel_linux_socketpair(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0, fds) == 0);
        *zel_linux_errno_ptr() = 0;
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(-1, zel_linux_send(fds[0], "lost", 4, 0));
        EXPECT_EQ(ZEL_LINUX_ENOMEM, errno_now());
        EXPECT_EQ(4, zel_linux_send(fds[0], "sent", 4, 0));
        char buf[8] = {};
        EXPECT_EQ(4, zel_linux_read(fds[1], buf, sizeof buf));
        EXPECT_STREQ("sent", buf);
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks());
        return 0;
    }));
}

TEST(UnixSock, SocketPairCarriesBothWaysAndEndsCleanly) {
    EXPECT_EQ(0, run_process([] {
        uint32_t base = zel_linux_test::kernel_blocks();
        int fds[2] = {-1, -1};
        EXPECT_EQ(-1, zel_linux_socketpair(ZEL_LINUX_AF_INET, ZEL_LINUX_SOCK_STREAM, 0, fds));
        EXPECT_EQ(0, zel_linux_socketpair(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0, fds));
        char buf[8] = {};
        EXPECT_EQ(0, zel_linux_fcntl(fds[1], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK));
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_read(fds[1], buf, sizeof buf)) << "empty is not the end";
        EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());
        zel_linux_pollfd p[2] = {{fds[0], ZEL_LINUX_POLLIN | ZEL_LINUX_POLLOUT, 0}, {fds[1], ZEL_LINUX_POLLIN, 0}};
        EXPECT_EQ(1, zel_linux_poll(p, 2, 0));
        EXPECT_EQ(ZEL_LINUX_POLLOUT, p[0].revents);
        EXPECT_EQ(2, zel_linux_write(fds[0], "hi", 2));
        EXPECT_EQ(1, zel_linux_poll(&p[1], 1, 0));
        EXPECT_EQ(2, zel_linux_recv(fds[1], buf, sizeof buf, 0));
        EXPECT_EQ(2, zel_linux_send(fds[1], "yo", 2, 0));
        zel_linux_sockaddr_un from{};
        zel_linux_socklen_t len = sizeof from;
        EXPECT_EQ(
            2, zel_linux_recvfrom(fds[0], buf, sizeof buf, 0, reinterpret_cast<zel_linux_sockaddr *>(&from), &len));
        EXPECT_EQ(ZEL_LINUX_AF_UNIX, from.sun_family);
        int zero = 0;
        zel_linux_socklen_t zlen = sizeof zero;
        EXPECT_EQ(0, zel_linux_getsockopt(fds[0], ZEL_LINUX_SOL_SOCKET, ZEL_LINUX_SO_ERROR, &zero, &zlen));
        // Stopping to read on one side makes the other side's writes fail.
        EXPECT_EQ(0, zel_linux_shutdown(fds[1], ZEL_LINUX_SHUT_RD));
        EXPECT_EQ(0, zel_linux_read(fds[1], buf, sizeof buf));
        EXPECT_EQ(-1, zel_linux_write(fds[0], "x", 1));
        EXPECT_EQ(1, zel_linux_write(fds[1], "z", 1));
        zel_linux_close(fds[1]);
        EXPECT_EQ(1, zel_linux_read(fds[0], buf, sizeof buf));
        EXPECT_EQ(0, zel_linux_read(fds[0], buf, sizeof buf));
        zel_linux_close(fds[0]);
        EXPECT_EQ(base, zel_linux_test::kernel_blocks()) << "pipes, streams and parts all given back";
        return 0;
    }));
}

constexpr int kBound = 20000;                          // ms: a wait that lasts longer has hung
constexpr zel_test::milliseconds kLonger{3 * kBound};  // the process outlives any bounded wait

// The byte at `offset` of the streams the tests below send.
char pattern_at(size_t offset) { return static_cast<char>('a' + offset % 23); }

TEST(UnixSock, DontWaitSendTakesWhatFitsAndWritableFollowsTheRoom) {
    static int fds[2], done;
    static std::atomic<bool> hung;
    hung = false;
    EXPECT_EQ(0,
        run_process(
            [] {
                uint32_t base = zel_linux_test::kernel_blocks();
                IN_LAYER_CHECK(zel_linux_socketpair(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0, fds) == 0);
                done = zel_linux_eventfd_create(0, 0);
                // Should a send wait after all, the guard reads the peer after the
                // bound: the test then fails instead of hanging.
                zel_linux_pthread_t guard;
                zel_linux_pthread_create(
                    &guard, nullptr,
                    [](void *) -> void * {
                        zel_linux_pollfd p{done, ZEL_LINUX_POLLIN, 0};
                        if (zel_linux_poll(&p, 1, kBound) == 1) return nullptr;
                        hung = true;
                        static char sink[1 << 17];
                        zel_linux_read(fds[1], sink, sizeof sink);
                        return nullptr;
                    },
                    nullptr);
                static char out[70000];
                for (size_t i = 0; i < sizeof out; ++i) out[i] = pattern_at(i);
                char in[4096];
                *zel_linux_errno_ptr() = 0;
                EXPECT_EQ(-1, zel_linux_recv(fds[1], in, sizeof in, ZEL_LINUX_MSG_DONTWAIT)) << "empty is not the end";
                EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());

                // A blocking socket: the flag alone keeps the send from waiting.
                long first = zel_linux_send(fds[0], out, sizeof out, ZEL_LINUX_MSG_DONTWAIT);
                EXPECT_GT(first, 0);
                EXPECT_LT(first, static_cast<long>(sizeof out)) << "the peer reads nothing: not all of it fits";
                *zel_linux_errno_ptr() = 0;
                EXPECT_EQ(-1, zel_linux_send(fds[0], out, 1, ZEL_LINUX_MSG_DONTWAIT));
                EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());
                zel_linux_pollfd w{fds[0], ZEL_LINUX_POLLOUT, 0};
                EXPECT_EQ(0, zel_linux_poll(&w, 1, 0)) << "full: not writable";
                EXPECT_EQ(0, zel_linux_fcntl(fds[0], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK));
                *zel_linux_errno_ptr() = 0;
                EXPECT_EQ(-1, zel_linux_write(fds[0], out, 1));
                EXPECT_EQ(ZEL_LINUX_EAGAIN, errno_now());
                EXPECT_EQ(0, zel_linux_fcntl(fds[0], ZEL_LINUX_F_SETFL, 0));

                // Reading makes room: writable rises, and falls again once the room is taken.
                std::string got;
                long n = zel_linux_read(fds[1], in, 1000);
                EXPECT_EQ(1000, n);
                if (n > 0) got.append(in, static_cast<size_t>(n));
                EXPECT_EQ(1, zel_linux_poll(&w, 1, 0));
                EXPECT_EQ(ZEL_LINUX_POLLOUT, w.revents);
                long second = zel_linux_send(fds[0], out + first, sizeof out - first, ZEL_LINUX_MSG_DONTWAIT);
                EXPECT_EQ(1000, second);
                EXPECT_EQ(0, zel_linux_poll(&w, 1, 0)) << "full again";

                uint64_t one = 1;
                zel_linux_write(done, &one, sizeof one);
                zel_linux_pthread_join(guard, nullptr);
                zel_linux_close(fds[0]);
                while ((n = zel_linux_read(fds[1], in, sizeof in)) > 0) got.append(in, static_cast<size_t>(n));
                EXPECT_EQ(0, n);
                EXPECT_TRUE(got == std::string(out, static_cast<size_t>(first + (second > 0 ? second : 0))))
                    << got.size() << " bytes arrived, not those sent in order";
                zel_linux_close(fds[1]);
                zel_linux_close(done);
                EXPECT_EQ(base, zel_linux_test::kernel_blocks());
                return 0;
            },
            kLonger));
    EXPECT_FALSE(hung.load()) << "a send with MSG_DONTWAIT waited for the reader";
}

// A non-blocking writer that polls for writable and then writes: every
// poll that answers finds room, so the writer sleeps while the socket is
// full instead of spinning on EAGAIN, and every byte arrives in order.
TEST(UnixSock, AWriterThatPollsThenWritesFindsRoomEveryTime) {
    static int fds[2];
    static std::atomic<long> eagain, received, mismatch;
    static constexpr size_t kTotal = 3u << 20;
    eagain = received = mismatch = 0;
    EXPECT_EQ(0, run_process(
                     [] {
                         IN_LAYER_CHECK(zel_linux_socketpair(ZEL_LINUX_AF_UNIX, ZEL_LINUX_SOCK_STREAM, 0, fds) == 0);
                         zel_linux_pthread_t reader;
                         zel_linux_pthread_create(
                             &reader, nullptr,
                             [](void *) -> void * {
                                 char in[1500];
                                 size_t at = 0;
                                 long n;
                                 while ((n = zel_linux_read(fds[1], in, sizeof in)) > 0) {
                                     for (long i = 0; i < n; ++i)
                                         if (in[i] != pattern_at(at + static_cast<size_t>(i))) mismatch++;
                                     at += static_cast<size_t>(n);
                                 }
                                 received = static_cast<long>(at);
                                 return nullptr;
                             },
                             nullptr);
                         EXPECT_EQ(0, zel_linux_fcntl(fds[0], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK));
                         static char out[10000];
                         size_t sent = 0;
                         while (sent < kTotal && eagain < 1000) {
                             zel_linux_pollfd w{fds[0], ZEL_LINUX_POLLOUT, 0};
                             if (zel_linux_poll(&w, 1, kBound) != 1) {
                                 ADD_FAILURE() << "no room came back after " << sent << " bytes";
                                 break;
                             }
                             size_t chunk = kTotal - sent < sizeof out ? kTotal - sent : sizeof out;
                             for (size_t i = 0; i < chunk; ++i) out[i] = pattern_at(sent + i);
                             long n = zel_linux_write(fds[0], out, chunk);
                             if (n > 0)
                                 sent += static_cast<size_t>(n);
                             else if (n < 0 && errno_now() == ZEL_LINUX_EAGAIN)
                                 eagain++;
                             else
                                 break;
                         }
                         EXPECT_EQ(kTotal, sent);
                         zel_linux_close(fds[0]);
                         zel_linux_pthread_join(reader, nullptr);
                         zel_linux_close(fds[1]);
                         return 0;
                     },
                     kLonger));
    EXPECT_EQ(0, eagain.load()) << "poll answered writable on a full socket";
    EXPECT_EQ(static_cast<long>(kTotal), received.load());
    EXPECT_EQ(0, mismatch.load());
}

}  // namespace

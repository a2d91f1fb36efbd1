// A host echo server on 127.0.0.1 for the socket tests: every accepted
// connection gets its own host thread that sends back what it receives and
// closes once the client has finished sending.
#ifndef SOCK_ECHO_SERVER_H
#define SOCK_ECHO_SERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace sock_test {

// A host socket bound to a free loopback port, listening when `backlog` is
// above 0; the port (network order) goes to `port_be`.
inline int loopback_socket(uint16_t *port_be, int backlog, int type = SOCK_STREAM) {
    int s = socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
    *port_be = sa.sin_port;
    if (backlog > 0) listen(s, backlog);
    return s;
}

// A loopback port that nothing listens on (bound once, then released).
inline uint16_t closed_port() {
    uint16_t port_be;
    close(loopback_socket(&port_be, 0));
    return ntohs(port_be);
}

// A blocking host client connected to 127.0.0.1 (-1 when refused).
inline int host_connect(uint16_t port_be) {
    int c = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = port_be;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(c, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(c);
        return -1;
    }
    return c;
}

class EchoServer {
public:
    EchoServer() {
        uint16_t port_be;
        listener_ = loopback_socket(&port_be, 128);
        port_ = ntohs(port_be);
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~EchoServer() {
        shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        close(listener_);
        std::lock_guard<std::mutex> lock(m_);
        for (auto &t : workers_) t.join();
    }
    uint16_t port() const { return port_; }            // host byte order
    uint16_t port_be() const { return htons(port_); }  // network byte order
    int accepted() const { return accepted_.load(); }
    uint64_t echoed() const { return echoed_.load(); }

private:
    void accept_loop() {
        for (;;) {
            int c = accept(listener_, nullptr, nullptr);
            if (c < 0) return;
            accepted_++;
            std::lock_guard<std::mutex> lock(m_);
            workers_.emplace_back([this, c] { echo(c); });
        }
    }
    void echo(int c) {
        char buf[4096];
        for (;;) {
            ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            // Counted before it goes out: the client may have it (and the
            // test may look at the count) before send returns.
            echoed_ += static_cast<uint64_t>(n);
            for (ssize_t off = 0; off < n;) {
                ssize_t m = send(c, buf + off, static_cast<size_t>(n - off), MSG_NOSIGNAL);
                if (m <= 0) {
                    echoed_ -= static_cast<uint64_t>(n - off);
                    close(c);
                    return;
                }
                off += m;
            }
        }
        close(c);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<uint64_t> echoed_{0};
    std::thread acceptor_;
    std::mutex m_;
    std::vector<std::thread> workers_;
};

}  // namespace sock_test

#endif

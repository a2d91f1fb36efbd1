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

// A loopback port that nothing listens on (bound once, then released).
inline uint16_t closed_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
    close(s);
    return ntohs(sa.sin_port);
}

class EchoServer {
public:
    EchoServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        listen(listener_, 128);
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
            for (ssize_t off = 0; off < n;) {
                ssize_t m = send(c, buf + off, static_cast<size_t>(n - off), MSG_NOSIGNAL);
                if (m <= 0) {
                    close(c);
                    return;
                }
                off += m;
            }
            echoed_ += static_cast<uint64_t>(n);
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

// Host peers of the curl tests: a Python http.server on 127.0.0.1 (plain,
// or wrapped in TLS with a self-signed certificate made by openssl), each
// in a temporary folder of its own that holds the served files, the
// certificate and the request log (curl_test_server.py). A server ends with
// its Server object, or with the test process, however that ends.
#ifndef CURL_SERVER_H
#define CURL_SERVER_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace curl_test {

class Server {
public:
    enum class Scheme { http, https };

    explicit Server(Scheme scheme);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
    std::string base() const;
    // The server's temporary folder (the served files are in its "www").
    const std::string &dir() const { return dir_; }
    // Writes a file the server answers as /name.
    void put(const std::string &name, const std::string &bytes) const;
    // The request log: one JSON line per event ({"event": ..., "path": ...}).
    std::string log() const;
    // Waits until the log holds `text`; false after 20 seconds.
    bool wait_for_log(const std::string &text) const;
    // Lets a held /hold request answer (asked for from the host side).
    bool release() const;

private:
    std::string dir_;
    pid_t pid_ = -1;
    int lifeline_ = -1;  // the server's standard input
    int port_ = -1;
    bool scheme_https_ = false;
};

// Runs a host program to its end with its output discarded (or kept in
// *output) and its input from the file `input` (none: /dev/null); its exit
// code, or -1 when it could not run.
int run_host(const std::vector<std::string> &argv, std::string *output = nullptr, const std::string &input = "");

// A loopback port on which nothing listens (bound once, then closed).
int closed_port();

// `n` bytes in which every byte value occurs.
std::string binary_bytes(size_t n);

}  // namespace curl_test

#endif

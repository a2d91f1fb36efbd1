// Host peers of the curl tests.
#include "curl_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace curl_test {
namespace {

std::vector<char *> c_argv(const std::vector<std::string> &argv) {
    std::vector<char *> v;
    for (const std::string &a : argv) v.push_back(const_cast<char *>(a.c_str()));
    v.push_back(nullptr);
    return v;
}

// Starts argv with its standard output on `out_fd` (-1: /dev/null) and its
// input from `in_fd`, or else from the file `input` (empty: /dev/null); the
// pid or -1.
pid_t spawn(const std::vector<std::string> &argv, int out_fd, const std::string &input = "", int in_fd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, in_fd, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(
            &actions, STDIN_FILENO, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY, 0);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    std::vector<char *> v = c_argv(argv);
    if (posix_spawnp(&pid, v[0], &actions, nullptr, v.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string make_temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zel-curl-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return "";
    return pattern;
}

}  // namespace

int run_host(const std::vector<std::string> &argv, std::string *output, const std::string &input) {
    int fds[2] = {-1, -1};
    if (output && pipe2(fds, O_CLOEXEC) != 0) return -1;
    pid_t pid = spawn(argv, fds[1], input);
    if (output) {
        close(fds[1]);
        char buf[4096];
        ssize_t n;
        output->clear();
        while (pid > 0 && (n = read(fds[0], buf, sizeof buf)) > 0) output->append(buf, static_cast<size_t>(n));
        close(fds[0]);
    }
    if (pid < 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Server::Server(Scheme scheme) {
    dir_ = make_temp_dir();
    if (dir_.empty()) return;
    std::filesystem::create_directory(dir_ + "/www");
    std::vector<std::string> argv = {"python3", CURL_TEST_SERVER, dir_};
    if (scheme == Scheme::https) {
        if (run_host({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-batch", "-days", "2", "-subj",
                "/CN=127.0.0.1", "-keyout", dir_ + "/key.pem", "-out", dir_ + "/cert.pem"}) != 0)
            return;
        argv.push_back("tls");
    }
    // The server reads `lifeline` until its end: when this process goes,
    // however it goes, the server removes its folder and ends.
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(in, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    pid_ = spawn(argv, out[1], "", in[0]);
    close(out[1]);
    close(in[0]);
    lifeline_ = in[1];
    std::string line;
    char c;
    while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    port_ = line.empty() ? -1 : std::atoi(line.c_str());
    scheme_https_ = scheme == Scheme::https;
}

Server::~Server() {
    if (lifeline_ >= 0) close(lifeline_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string Server::base() const {
    return std::string(scheme_https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void Server::put(const std::string &name, const std::string &bytes) const {
    std::ofstream(dir_ + "/www/" + name, std::ios::binary) << bytes;
}

std::string Server::log() const {
    std::ifstream in(dir_ + "/log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Server::wait_for_log(const std::string &text) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool Server::release() const {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port_));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    static const char request[] = "GET /release HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ok = ok && send(s, request, sizeof request - 1, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof request - 1);
    char buf[256];
    while (ok && recv(s, buf, sizeof buf, 0) > 0) {}
    close(s);
    return ok;
}

int closed_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    int port = -1;
    if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    close(s);
    return port;
}

std::string binary_bytes(size_t n) {
    std::string bytes(n, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(i < 256 ? i : x >> 16);
    }
    return bytes;
}

}  // namespace curl_test

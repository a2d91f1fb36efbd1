// Running zel-console from a test: in a folder of the host that becomes its
// "/mnt/hostfs", with a script or a terminal on its standard input, its
// console text in the folder's ".out" and its trace in ".trace".
#ifndef CONSOLE_RUN_H
#define CONSOLE_RUN_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk_image.h"

namespace console_run {

// A test with a fresh host folder of its own, removed after it.
class ConsoleFolder : public testing::Test {
protected:
    void SetUp() override {
        dir = disk_image::temp_dir();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { disk_image::clean(dir); }
    std::string dir;
};

inline std::string pattern(size_t n, char first) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>(first + i % 23);
    return s;
}

inline void write_host(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_host(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How many times `needle` occurs in `text`, without overlaps.
inline size_t count_of(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) n++;
    return n;
}

// zel-console started in `dir` with `input` on its standard input and its
// text in dir/.out; with a mark file, the copy's test hook is armed; with a
// file size limit (bytes), the console runs under it; `extra_env` holds
// more "NAME=value" entries of its environment.
inline pid_t start_console(const std::string &dir, const std::string &input, const std::string &mark, rlim_t fsize = 0,
    const std::vector<std::string> &extra_env = {}) {
    std::ofstream(dir + "/.input", std::ios::binary) << input;
    // Everything the child needs is made before fork.
    const std::string mark_var = "ZEL_TEST_END_MARK=" + mark;
    std::vector<char *> env;
    for (char **e = environ; *e; ++e) env.push_back(*e);
    if (!mark.empty()) env.push_back(const_cast<char *>(mark_var.c_str()));
    for (const std::string &e : extra_env) env.push_back(const_cast<char *>(e.c_str()));
    env.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int in = open(".input", O_RDONLY), out = open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644),
              err = open(".trace", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (fsize) {
        const rlimit limit = {fsize, fsize};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    char *const argv[] = {const_cast<char *>(ZEL_CONSOLE), nullptr};
    execve(ZEL_CONSOLE, argv, env.data());
    _exit(127);
}

// zel-console started in `dir` with `script` in a pipe on its standard input
// (all of it there before the console starts) and its text in dir/.out. The
// pipe's writer is closed, or, with `writer`, handed over for more lines
// (the caller closes it).
inline pid_t start_console_piped(const std::string &dir, const std::string &script, int *writer = nullptr) {
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return -1;
    // A script larger than the pipe holds would need a writer of its own.
    const bool written = script.size() < 4096 && write(in[1], script.data(), script.size()) == (ssize_t)script.size();
    if (!written || !writer) close(in[1]);
    if (!written) {
        close(in[0]);
        return -1;
    }
    const pid_t pid = fork();
    if (pid != 0) {
        close(in[0]);
        if (writer) *writer = pid > 0 ? in[1] : (close(in[1]), -1);
        return pid;
    }
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int out = open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644),
              err = open(".trace", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(in[0], 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    close(in[0]);
    execl(ZEL_CONSOLE, ZEL_CONSOLE, static_cast<char *>(nullptr));
    _exit(127);
}

// zel-console started in `dir` on a terminal of its own: a pseudo-terminal
// whose master end the caller gets in `*master` (and closes); what a person
// types is written there, and closing it ends the console's input. As the
// leader of a new session whose controlling terminal it is (`session`), a
// Ctrl-C typed there reaches it as SIGINT and its text comes back on the
// terminal; otherwise the terminal is its standard input only and its text
// goes to dir/.out. Its trace goes to dir/.trace.
inline pid_t start_console_on_pty(const std::string &dir, int *master, bool session = true) {
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char *name = m >= 0 && grantpt(m) == 0 && unlockpt(m) == 0 ? ptsname(m) : nullptr;
    if (!name) {
        if (m >= 0) close(m);
        return -1;
    }
    const std::string terminal = name;
    const pid_t pid = fork();
    if (pid != 0) {
        if (pid > 0)
            *master = m;
        else
            close(m);
        return pid;
    }
    if ((session && setsid() < 0) || chdir(dir.c_str()) != 0) _exit(126);
    const int tty = open(terminal.c_str(), session ? O_RDWR : O_RDWR | O_NOCTTY),
              out = session ? dup(tty) : open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644),
              err = open(".trace", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (tty < 0 || out < 0 || err < 0 || dup2(tty, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    close(tty);
    close(out);
    close(err);
    execl(ZEL_CONSOLE, ZEL_CONSOLE, static_cast<char *>(nullptr));
    _exit(127);
}

// Polls for `done` a bounded number of times (a hang becomes a failure).
template <typename F>
inline bool eventually(F done) {
    for (int i = 0; i < 60000; ++i) {
        if (done()) return true;
        usleep(1000);
    }
    return done();
}

// The console's wait status once it has ended; -1 when it did not end (it
// is killed then).
inline int wait_end(pid_t pid) {
    int status = -1;
    if (eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; })) return status;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// Runs a script to its end: the wait status and the console text.
inline int run(
    const std::string &dir, const std::string &input, std::string *out, const std::vector<std::string> &env = {}) {
    const int status = wait_end(start_console(dir, input, "", 0, env));
    *out = read_host(dir + "/.out");
    return status;
}

}  // namespace console_run

#endif

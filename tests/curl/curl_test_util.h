// Shared pieces of the curl tests: the servers of a suite, the commands
// that take curl's output, and runs of curl in a process of the test.
#ifndef CURL_TEST_UTIL_H
#define CURL_TEST_UTIL_H

#include <memory>
#include <string>
#include <vector>

#include "curl_server.h"
#include "shell_harness.h"

namespace curl_test {

// One plain and one TLS server for the whole suite.
struct Servers {
    Server http{Server::Scheme::http};
    Server https{Server::Scheme::https};
};
Servers &servers();

// What the commands "sink" and "sink2" read from their standard input
// until its end (installed on first use).
std::string &sunk(int which = 0);
void install_sinks();

// The shell's status word for a command line run by `system` in a process
// of the test (curl's code shifted left by 8).
int system_status(const std::string &line);

// curl_main called in a process of the test with these argument strings
// (pass literals: they live in read-only memory); its status and the blocks it left in that process's tracker.
struct DirectRun {
    int status = -1;
    long blocks_left = 0;
    long bytes_left = 0;
};
DirectRun run_direct(const std::vector<const char *> &args);

}  // namespace curl_test

#endif

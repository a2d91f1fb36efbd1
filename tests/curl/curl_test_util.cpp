// Shared pieces of the curl tests.
#include "curl_test_util.h"

#include <gtest/gtest.h>

#include "zel_linux_curl.h"

namespace curl_test {

Servers &servers() {
    static Servers *s = new Servers;  // ends with the test binary
    return *s;
}

std::string &sunk(int which) {
    static std::string text[2];
    return text[which];
}

namespace {

int read_all(std::string &into) {
    into.clear();
    char buf[4096];
    zel_linux_ssize_t n;
    while ((n = zel_linux_read(0, buf, sizeof buf)) > 0) into.append(buf, static_cast<size_t>(n));
    return n < 0 ? 1 : 0;
}

}  // namespace

void install_sinks() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    shell::install("sink", [](int, char **) { return read_all(sunk(0)); });
    shell::install("sink2", [](int, char **) { return read_all(sunk(1)); });
}

int system_status(const std::string &line) {
    return shell::in_process([&] { return zel_linux_system(line.c_str()); });
}

DirectRun run_direct(const std::vector<const char *> &args) {
    DirectRun run;
    int status = shell::in_process([&] {
        zel_linux_process_t *p = zel_linux_get_cur_process();
        std::vector<char *> argv;
        for (const char *a : args) argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        const long blocks = p->tracker.count;
        const long bytes = static_cast<long>(p->tracker.total);
        run.status = curl_main(static_cast<int>(args.size()), argv.data());
        run.blocks_left = static_cast<long>(p->tracker.count) - blocks;
        run.bytes_left = static_cast<long>(p->tracker.total) - bytes;
        return 0;
    });
    EXPECT_EQ(0, status) << "the process running curl did not end";
    return run;
}

}  // namespace curl_test

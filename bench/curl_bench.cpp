// curl benchmark: a 50 MiB download over HTTPS from a Python server on
// 127.0.0.1, by curl inside the layer (typed at the console shell of the
// booted system) and by the host's own curl, in the same run. Prints the
// throughput of each and the ratio layer / host. Run by hand:
//   cmake -DZEL_BENCH=ON ..., then build/zel_curl_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "curl_server.h"
#include "curl_test_util.h"

namespace {

constexpr size_t kFileSize = 50u << 20;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The byte count curl reports (-w "%{size_download}") must be the file's.
bool complete(const std::string &reported) { return std::strtoull(reported.c_str(), nullptr, 10) == kFileSize; }

// Best times of `rounds` downloads of `url`, inside the layer and by the
// host's curl, alternating; false when a download is incomplete.
bool measure(const std::string &url, int rounds, double &layer_best, double &host_best) {
    shell::Console &console = shell::console();
    for (int round = 0; round < rounds; ++round) {
        Clock::time_point start = Clock::now();
        console.run("curl -s -k -o /dev/null -w %{size_download} " + url + " | sink");
        const double layer = seconds_since(start);
        if (!complete(curl_test::sunk())) {
            std::fprintf(stderr, "curl in the layer reported \"%s\"\n", curl_test::sunk().c_str());
            return false;
        }
        std::string reported;
        start = Clock::now();
        const int host_status =
            curl_test::run_host({"curl", "-s", "-k", "-o", "/dev/null", "-w", "%{size_download}", url}, &reported);
        const double host = seconds_since(start);
        if (host_status != 0 || !complete(reported)) {
            std::fprintf(stderr, "the host's curl ended with %d and reported \"%s\"\n", host_status, reported.c_str());
            return false;
        }
        layer_best = std::min(layer_best, layer);
        host_best = std::min(host_best, host);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    double layer_best = 1e9, host_best = 1e9;
    bool measured = false;
    {
        curl_test::Server server(curl_test::Server::Scheme::https);
        if (!server.ok()) {
            std::fprintf(stderr, "the HTTPS server did not start (python3, openssl)\n");
            return 1;
        }
        server.put("big", curl_test::binary_bytes(kFileSize));
        curl_test::install_sinks();
        measured = measure(server.base() + "/big", rounds, layer_best, host_best);
    }
    if (measured) {
        const double mib = static_cast<double>(kFileSize) / (1u << 20);
        std::printf("curl over HTTPS, %.0f MiB, best of %d rounds\n", mib, rounds);
        std::printf("  in the layer: %8.1f MiB/s\n", mib / layer_best);
        std::printf("  host curl:    %8.1f MiB/s\n", mib / host_best);
        std::printf("  ratio layer/host: %.3f\n", host_best / layer_best);
        std::fflush(stdout);
    }
    std::_Exit(measured ? 0 : 1);  // the kernel's threads run on
}

// curl end to end: typed at the console shell of the booted system, against
// Python servers on 127.0.0.1, plain and over TLS.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "curl_test_util.h"
#include "zel_linux_curl.h"

namespace {

using curl_test::servers;
using curl_test::sunk;

class CurlShell : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servers().http.ok()) << "python3 http.server did not start";
        ASSERT_TRUE(servers().https.ok()) << "the TLS server did not start (python3, openssl)";
        shell::console();
        curl_test::install_sinks();
        shell::console().take();
    }
    shell::Console &c = shell::console();
};

std::string first_line(const std::string &text) { return text.substr(0, text.find('\n')); }

TEST_F(CurlShell, ReportsItsVersionLine) {
    EXPECT_EQ("curl 7.81.0-DEV (zel) libcurl/7.81.0-DEV mbedTLS/2.28.3", first_line(c.run("curl -V")));
}

TEST_F(CurlShell, GetsFilesByteForByte) {
    const std::string bytes = curl_test::binary_bytes(300000);
    servers().http.put("f", bytes);
    servers().https.put("f", bytes);
    const uint32_t kernel_blocks = shell::kernel_blocks();

    c.run("curl -s " + servers().http.base() + "/f | sink");
    EXPECT_TRUE(sunk() == bytes) << "plain: " << sunk().size() << " bytes of " << bytes.size();
    c.run("curl -s -k " + servers().https.base() + "/f | sink");
    EXPECT_TRUE(sunk() == bytes) << "TLS: " << sunk().size() << " bytes of " << bytes.size();

    // Straight to the console, without a pipe.
    servers().http.put("hello.txt", "hello from the host");
    EXPECT_EQ(
        "hello from the host", c.run("curl http://127.0.0.1:" + std::to_string(servers().http.port()) + "/hello.txt"));
    EXPECT_EQ(kernel_blocks, shell::kernel_blocks()) << "descriptors or process records left behind";
}

// A whole download over TLS on the portable GHASH (the path of processors
// without carry-less multiply instructions), switched on for curl's run.
TEST_F(CurlShell, GetsFilesOverTlsOnThePortableGhash) {
    const std::string bytes = curl_test::binary_bytes(2 << 20);
    servers().https.put("p", bytes);
    c.run("export ZEL_GCM_PORTABLE=1");
    const std::string verbose = c.run("curl -s -v -k " + servers().https.base() + "/p | sink");
    c.run("export ZEL_GCM_PORTABLE=0");
    EXPECT_NE(std::string::npos, verbose.find("GCM")) << "not an AES-GCM suite: " << verbose;
    EXPECT_TRUE(sunk() == bytes) << sunk().size() << " bytes of " << bytes.size();
}

// The account command's request. Its answer goes to a filter command that
// reads standard input, as in the application ("cat" of the shell copies
// only a named file).
TEST_F(CurlShell, PostsTheAccountTokenRequestOverTls) {
    const std::string line = "curl -k -X POST -H \"Content-Type:application/x-www-form-urlencoded\" -d "
                             "\"grant_type=authorization_code&code=C&redirect_uri=R&\" -u ID:SECRET " +
                             servers().https.base() + "/2.0/oauth/token | sink";
    c.run(line);
    const std::string &out = sunk();
    EXPECT_EQ("{\"access_token\": \"0123456789abcdef0123456789abcdef0123\", "
              "\"token_type\": \"bearer\"}",
        out);
    const std::string log = servers().https.log();
    EXPECT_NE(std::string::npos, log.find("\"method\": \"POST\", "
                                          "\"body\": \"grant_type=authorization_code&code=C&redirect_uri=R&\", "
                                          "\"content_type\": \"application/x-www-form-urlencoded\", "
                                          "\"authorization\": \"Basic SUQ6U0VDUkVU\"}"))
        << log;
}

TEST_F(CurlShell, FailuresGiveCurlsOwnErrorAndStatus) {
    const int port = curl_test::closed_port();
    ASSERT_GT(port, 0);
    EXPECT_EQ(7 << 8, curl_test::system_status("curl -s -S http://127.0.0.1:" + std::to_string(port) + "/"));
    EXPECT_NE(
        std::string::npos, c.take().find("curl: (7) Failed to connect to 127.0.0.1 port " + std::to_string(port)));

    EXPECT_EQ(18 << 8, curl_test::system_status("curl -s -S -o /dev/null " + servers().http.base() + "/cut"));
    EXPECT_NE(std::string::npos, c.take().find("curl: (18) transfer closed with 99000 bytes remaining to read"));

    // Over TLS, curl's mbedTLS back end reports a stream that ends without
    // the peer's close_notify as a receive failure.
    EXPECT_EQ(56 << 8, curl_test::system_status("curl -s -S -k -o /dev/null " + servers().https.base() + "/cut"));
    EXPECT_NE(std::string::npos, c.take().find("curl: (56) Failure when receiving data from the peer"));
    // Without -k the self-signed certificate is refused.
    EXPECT_EQ(60 << 8, curl_test::system_status("curl -s -o /dev/null " + servers().https.base() + "/f"));
}

TEST_F(CurlShell, RunsGiveBackEverythingTheyAllocate) {
    servers().http.put("f", curl_test::binary_bytes(70000));
    const std::string get = servers().http.base() + "/f";
    const std::string post = servers().https.base() + "/2.0/oauth/token";
    const std::string refused = "http://127.0.0.1:" + std::to_string(curl_test::closed_port()) + "/";
    const std::string cut = servers().http.base() + "/cut";
    struct Case {
        std::vector<const char *> args;
        int status;
    } cases[] = {
        {{"curl", "-s", "-o", "/dev/null", get.c_str()}, 0},
        {{"curl", "-s", "-k", "-X", "POST", "-H", "Content-Type:application/x-www-form-urlencoded", "-d",
             "grant_type=authorization_code&code=C&redirect_uri=R&", "-u", "ID:SECRET", "-o", "/dev/null",
             post.c_str()},
            0},
        {{"curl", "-s", refused.c_str()}, 7},
        {{"curl", "-s", "-o", "/dev/null", cut.c_str()}, 18},
    };
    for (const Case &k : cases) {
        curl_test::DirectRun run = curl_test::run_direct(k.args);
        EXPECT_EQ(k.status, run.status) << k.args.back();
        EXPECT_EQ(0, run.blocks_left) << k.args.back();
        EXPECT_EQ(0, run.bytes_left) << k.args.back();
    }
    // The password was given as a constant: the tool blanked a copy of it.
    EXPECT_NE(std::string::npos, servers().https.log().find("\"authorization\": \"Basic SUQ6U0VDUkVU\""));
}

// A name that /etc/hosts gives 127.0.0.1 (not "localhost", which curl
// answers itself without asking the resolver), or "".
std::string loopback_name_from_hosts() {
    std::ifstream hosts("/etc/hosts");
    for (std::string line; std::getline(hosts, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string address, name;
        if (!(words >> address) || address != "127.0.0.1") continue;
        while (words >> name)
            if (name != "localhost" && name.find('.') == std::string::npos) return name;
    }
    return "";
}

TEST_F(CurlShell, ResolvesANameOfEtcHostsOnItsResolverThread) {
    const std::string name = loopback_name_from_hosts();
    if (name.empty()) GTEST_SKIP() << "/etc/hosts names no other host for 127.0.0.1";
    servers().http.put("named", "reached by name\n");
    c.run("curl -s http://" + name + ":" + std::to_string(servers().http.port()) + "/named | sink");
    EXPECT_EQ("reached by name\n", sunk());
}

// A run waiting on its socket does not hold the image: a second run starts,
// gets its answer and ends while the first still waits for its own.
TEST_F(CurlShell, ARunWaitingForItsAnswerLetsAnotherRun) {
    servers().http.put("second", "second run\n");
    c.run("curl -s " + servers().http.base() + "/hold | sink &");
    ASSERT_TRUE(servers().http.wait_for_log("{\"event\": \"received\", \"path\": \"/hold\"}"));
    c.run("curl -s " + servers().http.base() + "/second | sink2 &");
    EXPECT_TRUE(zel_test::wait_until([] { return sunk(1) == "second run\n"; })) << sunk(1);
    EXPECT_EQ(std::string::npos, servers().http.log().find("{\"event\": \"answered\", \"path\": \"/hold\"}"));
    ASSERT_TRUE(servers().http.release());
    EXPECT_TRUE(zel_test::wait_until([] { return sunk(0) == "held\n"; })) << sunk(0);
    EXPECT_TRUE(zel_test::wait_until([] { return zel_linux_curl_waiting() == 0; }));

    // Two runs in one pipeline: the second sends what the first got.
    c.run("curl -s " + servers().http.base() + "/second | curl -s -k -d @- " + servers().https.base() +
          "/2.0/oauth/token | sink");
    EXPECT_NE(std::string::npos, sunk().find("\"access_token\"")) << sunk();
    EXPECT_NE(std::string::npos, servers().https.log().find("\"body\": \"second run\""));
}

}  // namespace

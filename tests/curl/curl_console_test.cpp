// curl typed at zel-console, the system as a person runs it, with its
// console on standard input and output.
#include <gtest/gtest.h>

#include <fstream>

#include "console_run.h"
#include "curl_server.h"

namespace {

using console_run::ConsoleFolder;
using console_run::read_host;
using console_run::write_host;

TEST(CurlConsole, RunsTheAccountCommandsCurlLines) {
    curl_test::Server http(curl_test::Server::Scheme::http);
    curl_test::Server https(curl_test::Server::Scheme::https);
    ASSERT_TRUE(http.ok() && https.ok()) << "python3 or openssl missing";
    http.put("hello.txt", "hello from the host");
    const std::string refused = "http://127.0.0.1:" + std::to_string(curl_test::closed_port()) + "/";
    const std::string script = http.dir() + "/script";
    std::ofstream(script) << "curl -V\n"
                          << "curl -s " << http.base() << "/hello.txt\n"
                          << "curl -s -k -X POST -H \"Content-Type:application/x-www-form-urlencoded\" -d "
                             "\"grant_type=authorization_code&code=C&redirect_uri=R&\" -u ID:SECRET "
                          << https.base() << "/2.0/oauth/token\n"
                          << "curl -s -S " << refused << " || echo refused\n";

    std::string out;
    ASSERT_EQ(0, curl_test::run_host({CURL_CONSOLE}, &out, script));
    EXPECT_NE(std::string::npos, out.find("\ncurl 7.81.0-DEV (zel) libcurl/7.81.0-DEV mbedTLS/2.28.3")) << out;
    EXPECT_NE(std::string::npos, out.find("hello from the host")) << out;
    EXPECT_NE(std::string::npos, out.find("{\"access_token\": \"0123456789abcdef0123456789abcdef0123\"")) << out;
    EXPECT_NE(std::string::npos, out.find("curl: (7) Failed to connect to 127.0.0.1")) << out;
    EXPECT_NE(std::string::npos, out.find("refused\r\n")) << out;
    EXPECT_NE(std::string::npos, https.log().find("\"authorization\": \"Basic SUQ6U0VDUkVU\"")) << https.log();
}

// curl piped into curl: the second uploads what the first downloads, with
// bodies past what the pipe holds, so the first waits on the full pipe
// while the second has to run. Both end, the server stores every byte, and
// the console comes back for the next line (a hang fails the bounded wait).
TEST_F(ConsoleFolder, CurlPipedIntoCurlUploadsEveryByte) {
    curl_test::Server http(curl_test::Server::Scheme::http);
    ASSERT_TRUE(http.ok()) << "python3 missing";
    const size_t sizes[] = {65537, 100000, 300000};
    std::string script;
    for (size_t n : sizes) {
        http.put("f" + std::to_string(n), curl_test::binary_bytes(n));
        script += "curl -s -S " + http.base() + "/f" + std::to_string(n) + " | curl -s -S -T - " + http.base() +
                  "/up/u" + std::to_string(n) + "\n";
    }
    script += "echo AFTER\n";
    std::string out;
    EXPECT_EQ(0, console_run::run(dir, script, &out)) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nAFTER\r\n")) << out;
    for (size_t n : sizes) {
        SCOPED_TRACE(n);
        const std::string got = read_host(http.dir() + "/up/u" + std::to_string(n));
        EXPECT_EQ(n, got.size());
        EXPECT_TRUE(got == curl_test::binary_bytes(n));
    }

    // Several such pipelines at once, in the background, while a curl in
    // the foreground waits for its answer (held until they are all stored).
    constexpr int kAtOnce = 4;
    const size_t n = 300000;
    script.clear();
    for (int i = 0; i < kAtOnce; ++i)
        script += "curl -s -S " + http.base() + "/f" + std::to_string(n) + " | curl -s -S -T - " + http.base() +
                  "/up/bg" + std::to_string(i) + " &\n";
    script += "curl -s " + http.base() + "/hold\necho AFTER\n";
    const pid_t console = console_run::start_console(dir, script, "");
    const auto stored = [&] {
        for (int i = 0; i < kAtOnce; ++i)
            if (read_host(http.dir() + "/up/bg" + std::to_string(i)).size() != n) return false;
        return true;
    };
    EXPECT_TRUE(console_run::eventually(stored));
    EXPECT_TRUE(http.release());
    EXPECT_EQ(0, console_run::wait_end(console));
    out = read_host(dir + "/.out");
    EXPECT_NE(std::string::npos, out.find("held\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nAFTER\r\n")) << out;
    for (int i = 0; i < kAtOnce; ++i)
        EXPECT_TRUE(read_host(http.dir() + "/up/bg" + std::to_string(i)) == curl_test::binary_bytes(n)) << i;
}

// An upload that reads a pipe whose writer has already gone, with data
// left in it: every byte is sent, not the first block only. A download in
// the background keeps the uploading curl waiting for its turn while `cat`
// writes all (the file and its closing line end) and ends.
TEST_F(ConsoleFolder, AnUploadFromAPipeSendsAllItsInputBesideABackgroundDownload) {
    curl_test::Server http(curl_test::Server::Scheme::http);
    ASSERT_TRUE(http.ok()) << "python3 missing";
    http.put("f300k", curl_test::binary_bytes(300000));
    const size_t sizes[] = {5002, 16387};
    constexpr int kRounds = 10;
    std::string script;
    for (size_t n : sizes) write_host(dir + "/in" + std::to_string(n), curl_test::binary_bytes(n));
    for (int i = 0; i < kRounds; ++i) {
        script += "curl -s -o bg" + std::to_string(i) + " " + http.base() + "/f300k &\n";
        for (size_t n : sizes)
            script += "cat /mnt/hostfs/in" + std::to_string(n) + " | curl -s -S --data-binary @- " + http.base() +
                      "/up/p" + std::to_string(n) + "_" + std::to_string(i) + "\n";
    }
    script += "echo AFTER\n";
    std::string out;
    EXPECT_EQ(0, console_run::run(dir, script, &out)) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nAFTER\r\n")) << out;
    int whole = 0;
    for (int i = 0; i < kRounds; ++i) {
        for (size_t n : sizes) {
            const std::string got = read_host(http.dir() + "/up/p" + std::to_string(n) + "_" + std::to_string(i));
            EXPECT_EQ(n + 2, got.size()) << "round " << i;
            whole += got == curl_test::binary_bytes(n) + "\r\n";
        }
    }
    EXPECT_EQ(kRounds * 2, whole);
}

}  // namespace

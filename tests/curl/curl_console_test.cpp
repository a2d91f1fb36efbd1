// curl typed at zel-console, the system as a person runs it, with its
// console on standard input and output.
#include <gtest/gtest.h>

#include <fstream>

#include "curl_server.h"

namespace {

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

}  // namespace

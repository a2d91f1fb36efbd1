// curl inside the layer checks certificates against the host's system trust
// store by default: here a copy of that store with the TLS test server's
// certificate added, handed to the start-up in place of the host's folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "curl_test_util.h"
#include "trust_store.h"
#include "zel_linux_libc.h"

namespace {

namespace stdfs = std::filesystem;
using curl_test::servers;
using curl_test::sunk;

std::string host_read(const stdfs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CurlTrust : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!store_.empty()) return;
        // The copy: the system bundle plus the server's certificate, and
        // beside it the system bundle alone.
        char pattern[] = "/tmp/trust_store_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        store_ = pattern;
        const std::string system = host_read("/etc/ssl/certs/ca-certificates.crt");
        const std::string ours = host_read(servers().https.dir() + "/cert.pem");
        ASSERT_FALSE(ours.empty()) << "the TLS server did not start (python3, openssl)";
        std::ofstream(store_ + "/ca-certificates.crt", std::ios::binary) << system << ours;
        std::ofstream(store_ + "/system-only.crt", std::ios::binary) << system;
        app_trust_store_dir = store_.c_str();
        shell::console();  // boots with the copy
        curl_test::install_sinks();
    }
    void SetUp() override {
        ASSERT_FALSE(store_.empty());
        ASSERT_TRUE(servers().https.ok()) << "the TLS server did not start (python3, openssl)";
        c.take();
    }
    static std::string store_;
    shell::Console &c = shell::console();
};
std::string CurlTrust::store_;

TEST_F(CurlTrust, CertificatesAreCheckedAgainstTheSystemStoreUnlessTheEnvironmentNamesAnother) {
    servers().https.put("t", "trusted answer");
    const std::string get = servers().https.base() + "/t";

    // No -k and no variable: the default bundle, which holds the server's
    // certificate, lets the answer through.
    c.run("curl -s -S " + get + " | sink");
    EXPECT_EQ("trusted answer", sunk());

    // A bundle named in the environment replaces the default: one without
    // the server's certificate refuses it, with curl's own message.
    c.run("export CURL_CA_BUNDLE=" APP_TRUST_STORE_MOUNT "/system-only.crt");
    sunk().clear();
    const std::string said = c.run("curl -s -S " + get + " | sink");
    EXPECT_NE(std::string::npos, said.find("curl: (60) ")) << "curl says why: " << said;
    EXPECT_EQ("", sunk());
    // ... and -k still skips the check.
    c.run("curl -s -S -k " + get + " | sink");
    EXPECT_EQ("trusted answer", sunk());
    c.run("export CURL_CA_BUNDLE=" APP_TRUST_STORE_MOUNT "/ca-certificates.crt");
    c.run("curl -s -S " + get + " | sink");
    EXPECT_EQ("trusted answer", sunk());
}

TEST_F(CurlTrust, TheStoreIsReadOnlyInTheTree) {
    const std::string before = host_read(store_ + "/ca-certificates.crt");
    shell::expect_ok([] {
        const char *bundle = APP_TRUST_STORE_MOUNT "/ca-certificates.crt";
        if (zel_linux_access(bundle, ZEL_LINUX_R_OK) != 0) return 1;
        if (zel_linux_access(bundle, ZEL_LINUX_W_OK) == 0) return 2;
        const int fd = zel_linux_open(bundle, ZEL_LINUX_O_WRONLY);
        if (fd >= 0) {
            const bool wrote = zel_linux_write(fd, "x", 1) >= 0;
            zel_linux_close(fd);
            if (wrote) return 5;
        }
        if (zel_linux_open(APP_TRUST_STORE_MOUNT "/new.crt", ZEL_LINUX_O_WRONLY | ZEL_LINUX_O_CREAT, 0644) >= 0)
            return 3;
        if (zel_linux_unlink(bundle) == 0) return 4;
        return 0;
    });
    EXPECT_EQ(before, host_read(store_ + "/ca-certificates.crt"));
    EXPECT_FALSE(stdfs::exists(store_ + "/new.crt"));
}

}  // namespace

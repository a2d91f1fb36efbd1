// usrid and its filters inside the booted system, against a local token
// endpoint over TLS: the requests it makes, the account id it keeps, and
// every answer it must refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "account_config.h"
#include "curl_server.h"
#include "shell_harness.h"
#include "usrid.h"
#include "zel_linux_libc.h"
#include "zel_thread.h"
#include "zel_timer.h"

namespace {

using curl_test::Server;

const std::string kToken = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";  // 36 characters
const std::string kBasicAuth = "Basic N2YzYTljMTItNGI2ZS00ZDgxLTllMmYtYTVjMGQ3YjNlNjE4OkhxM25XZDhzVHA1Y0x4Mk0=";

std::string token_answer(const std::string &token) {
    return "{\"token_type\": \"bearer\", \"access_token\": \"" + token + "\", \"expires_in\": 3600}";
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// Where the endpoint's folder (its certificate) is mounted in the tree.
const std::string kServerDir = "/mnt/token_endpoint";

class Usrid : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (server) return;
        server = new Server(Server::Scheme::https);  // ends with the test binary
        base = server->base();
        usrid_token_base = base.c_str();
        // curl trusts the endpoint's self-signed certificate only as the
        // bundle the environment names.
        shell::Console &c = shell::console();
        c.run("mkdir -p " + kServerDir);
        c.run("mount -t winfs " + server->dir() + " " + kServerDir);
        trust_endpoint(true);
    }
    // Whether the shell's commands trust the endpoint (its certificate as
    // CURL_CA_BUNDLE) or only the system store.
    static void trust_endpoint(bool yes) {
        shell::console().run(yes ? "export CURL_CA_BUNDLE=" + kServerDir + "/cert.pem"
                                 : std::string("export CURL_CA_BUNDLE=/etc/ssl/certs/ca-certificates.crt"));
    }
    void SetUp() override {
        ASSERT_TRUE(server->ok()) << "the TLS token endpoint did not start (python3, openssl)";
        shell::console();
        std::ofstream(server->dir() + "/log", std::ios::trunc);
        answer("token", token_answer(kToken));
        answer("info", "{\"scopes\": \"psn:clientapp\", \"user_id\": \"123\"}");
        c.take();
    }
    // The endpoint's answer to the token request ("token") or the token
    // information request ("info"); none: an error answer.
    static void answer(const std::string &which, const std::string *body) {
        std::error_code ignored;
        std::filesystem::remove(server->dir() + "/www/" + which, ignored);
        if (body) server->put(which, *body);
    }
    static void answer(const std::string &which, const std::string &body) { answer(which, &body); }

    static Server *server;
    static std::string base;
    shell::Console &c = shell::console();
};
Server *Usrid::server;
std::string Usrid::base;

TEST_F(Usrid, FetchesTheAccountIdWithTheTwoRequests) {
    const std::string out = c.run("usrid AbC-123_x.y");
    EXPECT_TRUE(contains(out, "access_token: " + kToken + "\r\n\r\n")) << out;
    EXPECT_TRUE(contains(out, "usrid: 123\r\n\r\nusrid: ewAAAAAAAAA=\r\n\r\n")) << out;
    EXPECT_FALSE(contains(out, "fail to execute")) << out;
    ASSERT_NE(nullptr, usrid_get());
    EXPECT_STREQ("ewAAAAAAAAA=", usrid_get());

    const std::string log = server->log();
    EXPECT_TRUE(contains(log, "{\"method\": \"POST\", \"path\": \"/2.0/oauth/token\", \"body\": "
                              "\"grant_type=authorization_code&code=AbC-123_x.y&redirect_uri=" ACCOUNT_REDIRECT_URI
                              "&\", \"content_type\": \"application/x-www-form-urlencoded\", \"authorization\": \"" +
                                  kBasicAuth +
                                  "\"}\n"
                                  "{\"method\": \"GET\", \"path\": \"/2.0/oauth/token/" +
                                  kToken + "\", \"body\": \"\", \"content_type\": null, \"authorization\": \"" +
                                  kBasicAuth + "\"}\n"))
        << log;

    // A larger id: its eight bytes, least significant first.
    answer("info", "{\"user_id\": \"7656119812345678\"}");
    EXPECT_TRUE(contains(c.run("usrid again"), "usrid: Ts/FTTMzGwA=\r\n"));
    EXPECT_STREQ("Ts/FTTMzGwA=", usrid_get());
}

TEST_F(Usrid, RefusesTokenAnswersWithoutAUsableToken) {
    const std::string kept = c.run("usrid first"), id = usrid_get() ? usrid_get() : "";
    ASSERT_EQ("ewAAAAAAAAA=", id) << kept;
    struct Case {
        const char *what;
        const std::string *body;
        std::string filter_says;
    };
    const std::string short_token = token_answer(kToken.substr(1)), long_token = token_answer(kToken + "0"),
                      longer_token = token_answer(kToken + "0123456789"), number = "{\"access_token\": 5}",
                      bad_escape = "{\"access_token\": \"\\q" + kToken.substr(2) + "\"}", empty;
    const Case cases[] = {
        {"an error answer", nullptr, "fail to parse access_token\r\n"},
        {"35 characters", &short_token, "access_token: " + kToken.substr(1) + "\r\n\r\n"},
        {"37 characters", &long_token, "fail to parse access_token\r\n"},
        {"46 characters", &longer_token, "fail to parse access_token\r\n"},
        {"a number", &number, "fail to parse access_token\r\n"},
        {"a bad escape", &bad_escape, "fail to parse access_token\r\n"},
        {"an empty answer", &empty, "token reply:\r\n\r\nfail to parse access_token\r\n"},
    };
    for (const Case &k : cases) {
        answer("token", k.body);
        std::ofstream(server->dir() + "/log", std::ios::trunc);
        const std::string out = c.run("usrid C");
        EXPECT_TRUE(contains(out, k.filter_says)) << k.what << ": " << out;
        EXPECT_TRUE(contains(out, "invalid access_token\r\nfail to execute usrid C\r\n")) << k.what << ": " << out;
        EXPECT_FALSE(contains(server->log(), "\"GET\"")) << k.what << ": no information request";
        EXPECT_STREQ(id.c_str(), usrid_get()) << k.what << ": the earlier id stays";
    }
}

TEST_F(Usrid, RefusesInformationAnswersWithoutAUserId) {
    const std::string unquoted = "{\"user_id\": 123}", zero = "{\"user_id\": \"0\"}",
                      letters = "{\"user_id\": \"abc\"}", negative = "{\"user_id\": \"-5\"}",
                      other = "{\"account\": \"123\"}", too_big = "{\"user_id\": \"99999999999999999999\"}",
                      just_too_big = "{\"user_id\": \"18446744073709551616\"}", trailing = "{\"user_id\": \"123abc\"}";
    const std::string *bodies[] = {
        nullptr, &unquoted, &zero, &letters, &negative, &other, &too_big, &just_too_big, &trailing};
    const std::string kept = usrid_get() ? usrid_get() : "";
    for (const std::string *body : bodies) {
        answer("info", body);
        const std::string out = c.run("usrid C");
        EXPECT_TRUE(contains(out, "invalid usrid\r\nfail to execute usrid C\r\n")) << out;
        EXPECT_FALSE(contains(out, "usrid: ewAAAAAAAAA=")) << "123 must not be read from " << (body ? *body : "");
        EXPECT_FALSE(contains(out, "//////////8=")) << "an id of all ones from " << (body ? *body : "");
        EXPECT_EQ(kept, usrid_get() ? usrid_get() : "") << "the earlier id stays";
    }
    // The largest id that fits is an id.
    answer("info", "{\"user_id\": \"18446744073709551615\"}");
    const std::string out = c.run("usrid C");
    EXPECT_TRUE(contains(out, "usrid: 18446744073709551615\r\n\r\nusrid: //////////8=\r\n\r\n")) << out;
}

// An endpoint whose certificate does not verify gets no request: curl says
// why, usrid fails, and the id kept before stays.
TEST_F(Usrid, AnEndpointWhoseCertificateDoesNotVerifyGetsNothing) {
    ASSERT_TRUE(contains(c.run("usrid first"), "usrid: ewAAAAAAAAA=\r\n")) << "the trusted endpoint answers";
    answer("info", "{\"user_id\": \"456\"}");
    std::ofstream(server->dir() + "/log", std::ios::trunc);
    trust_endpoint(false);
    const std::string out = c.run("usrid C");
    trust_endpoint(true);
    EXPECT_TRUE(contains(out, "curl: (60) ")) << out;
    EXPECT_TRUE(contains(out, "invalid access_token\r\nfail to execute usrid C\r\n")) << out;
    EXPECT_FALSE(contains(server->log(), "\"path\"")) << "no request reached the endpoint: " << server->log();
    EXPECT_STREQ("ewAAAAAAAAA=", usrid_get());
}

// usrid runs side by side (one in the background), each finding the filters
// unbound: they are bound once, and both runs get the id.
TEST_F(Usrid, RunsSideBySideBindTheFiltersOnce) {
    const std::string done = "usrid: ewAAAAAAAAA=\r\n\r\n";
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        shell::expect_ok([] {
            zel_linux_unlink("/bin/rp_parse_access_token");
            zel_linux_unlink("/bin/rp_parse_usrid");
            return zel_linux_access("/bin/rp_parse_access_token", 0) == 0 ? 1 : 0;
        });
        // Both lines at once: the shell starts the second while the first
        // is at work in the background.
        c.type("usrid A &\rusrid B\r");
        std::string out;
        while (out.find(done) == out.rfind(done)) {
            const std::string more = c.until(done);
            if (more.find(done) == std::string::npos) break;  // the wait ran out: reported
            out += more;
        }
        EXPECT_FALSE(contains(out, "fail to install")) << out;
        EXPECT_FALSE(contains(out, "fail to execute")) << out;
        EXPECT_NE(out.find(done), out.rfind(done)) << out;
        c.take();
    }
}

TEST_F(Usrid, FailsWithoutTheEndpointOrWithWrongArguments) {
    EXPECT_EQ("format: usrid CODE\r\nfail to execute usrid\r\n", c.run("usrid"));
    EXPECT_EQ("format: usrid CODE\r\nfail to execute usrid a b\r\n", c.run("usrid a b"));

    const std::string unreachable = "https://127.0.0.1:" + std::to_string(curl_test::closed_port());
    usrid_token_base = unreachable.c_str();
    const std::string out = c.run("usrid C");
    usrid_token_base = base.c_str();
    EXPECT_TRUE(contains(out, "token reply:\r\n\r\nfail to parse access_token\r\ninvalid access_token\r\n")) << out;
}

// ---- the filters on their own ----

std::string g_first, g_second;

// "say": writes g_first, waits a little and writes g_second, so a reader
// sees the answer arrive in two pieces.
int say(int, char **) {
    zel_linux_write(1, g_first.data(), g_first.size());
    zel_thread_delay(zel_systimer_ms_to_tick(50));
    zel_linux_write(1, g_second.data(), g_second.size());
    return 0;
}

class AccountFilters : public Usrid {
protected:
    static void SetUpTestSuite() {
        Usrid::SetUpTestSuite();
        shell::install("say", say);
        // The first run of usrid binds the filters.
        shell::console().run("usrid bind");
    }
    std::string filter(const std::string &name, const std::string &first, const std::string &second = "") {
        g_first = first;
        g_second = second;
        return c.run("say | " + name);
    }
};

TEST_F(AccountFilters, TakeTheirValueEvenWhenTheAnswerComesInPieces) {
    const std::string token = "{\"access_token\": \"" + kToken + "\"}";
    EXPECT_EQ("token reply:\r\n" + token + "\r\naccess_token: " + kToken + "\r\n\r\n",
        filter("rp_parse_access_token", token.substr(0, 20), token.substr(20)));
    EXPECT_EQ(kToken, usrid_access_token);

    EXPECT_EQ(
        "usrid reply:\r\n[{\"user_id\": \"42\"}\r\nfail to parse usrid\r\nfail to execute say | rp_parse_usrid\r\n",
        filter("rp_parse_usrid", "[{\"user_id\": \"42\"}"));
    EXPECT_EQ("usrid reply:\r\n{\"a\": {\"user_id\": 1}, \"user_id\": \"42\"}\r\nusrid: 42\r\n\r\n",
        filter("rp_parse_usrid", "{\"a\": {\"user_id\": 1}, ", "\"user_id\": \"42\"}"));
    EXPECT_EQ(42u, usrid_user_id);
}

TEST_F(AccountFilters, SayWhenTheirInputCannotBeRead) {
    // Standard input closed: the first read fails.
    for (auto filter : {rp_parse_access_token_main, rp_parse_usrid_main}) {
        EXPECT_EQ(0, shell::in_process([filter] {
            zel_linux_close(0);
            char name[] = "filter";
            char *argv[] = {name, nullptr};
            return filter(1, argv) == -1 ? 0 : 1;
        }));
    }
    const std::string out = c.take();
    EXPECT_TRUE(contains(out, "fail to get token reply\r\n")) << out;
    EXPECT_TRUE(contains(out, "fail to get usrid reply\r\n")) << out;
}

TEST_F(AccountFilters, LookAtNoMoreThan1023Bytes) {
    // The token lies beyond the first 1023 bytes: not seen.
    const std::string padding = "{\"pad\": \"" + std::string(1020, 'p') + "\", ";
    const std::string out = filter("rp_parse_access_token", padding, "\"access_token\": \"" + kToken + "\"}");
    EXPECT_TRUE(contains(out, "token reply:\r\n" + padding.substr(0, 1023) + "\r\nfail to parse access_token\r\n"))
        << out;
    EXPECT_STREQ("", usrid_access_token);
}

}  // namespace

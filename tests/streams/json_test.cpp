// JSON reader (and the scanner the application reads its configuration
// files with): lookups, string copies, and text that ends too early.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "zel_json.h"
#include "zel_util.h"

namespace {

const char kToken[] = "{\"token_type\":\"bearer\", \"access_token\" : \"0123456789abcdef0123456789abcdef0123\",\n"
                      " \"expires_in\":3599,\"scope\":[\"psn:s2s\",\"openid\"]}";

std::string copy(const char *value) {
    char buf[256];
    int32_t n = zel_json_get_string(value, buf, sizeof buf);
    return n > 0 ? std::string(buf) : "<" + std::to_string(n) + ">";
}

TEST(JsonGet, AccessTokenWithEveryBufferSize) {
    const char *v = zel_json_get(kToken, "access_token");
    ASSERT_NE(nullptr, v);
    EXPECT_EQ('"', *v);
    EXPECT_EQ(ZEL_JSON_STRING, zel_json_get_type(v));
    char buf37[37], buf36[36];
    EXPECT_EQ(37, zel_json_get_string(v, buf37, sizeof buf37));
    EXPECT_EQ(std::string("0123456789abcdef0123456789abcdef0123"), buf37);
    EXPECT_EQ(ZEL_JSON_ERR_SMALL, zel_json_get_string(v, buf36, sizeof buf36));
    EXPECT_EQ(37, zel_json_get_string(v, nullptr, 0));
    EXPECT_EQ(zel_json_get(kToken, "access_token"), zel_json_get(kToken, "/access_token"));
    EXPECT_EQ(kToken, zel_json_get(kToken, ""));
    EXPECT_EQ(kToken, zel_json_get(kToken, "/"));
}

TEST(JsonGet, KeysMatchOverTheirWholeLength) {
    EXPECT_EQ(nullptr, zel_json_get(kToken, "access"));
    EXPECT_EQ(nullptr, zel_json_get(kToken, "access_token_x"));
    EXPECT_EQ(nullptr, zel_json_get(kToken, "user_id"));
    EXPECT_EQ("bearer", copy(zel_json_get("{\"a\":1,\"ab\":\"bearer\"}", "ab")));
    EXPECT_EQ(nullptr, zel_json_get("{1:2}", "1"));      // a member must start with a key
    EXPECT_EQ(nullptr, zel_json_get("{\"a\" 1}", "a"));  // no colon
}

TEST(JsonGet, NestedPathsAndArrayIndexes) {
    const char text[] = "{\"a\":{\"skip\":{\"x\":[1,{\"y\":2}]},\"b\":[10, {\"c\":\"deep\"}, [7, 8], [], \"s,]}\"]}}";
    EXPECT_EQ(std::string("10"), std::string(zel_json_get(text, "a/b/0"), 2));
    EXPECT_EQ("deep", copy(zel_json_get(text, "a/b/1/c")));
    EXPECT_EQ("deep", copy(zel_json_get(text, "\\a\\b\\1\\c")));
    EXPECT_EQ('8', *zel_json_get(text, "a/b/2/1"));
    EXPECT_EQ('8', *zel_json_get(text, "a/b/0x2/01"));  // hexadecimal and octal indexes
    EXPECT_EQ(ZEL_JSON_ARRAY, zel_json_get_type(zel_json_get(text, "a/b/3")));
    EXPECT_EQ("s,]}", copy(zel_json_get(text, "a/b/4")));
    EXPECT_EQ(nullptr, zel_json_get(text, "a/b/5"));    // past the last element
    EXPECT_EQ(nullptr, zel_json_get(text, "a/b/3/0"));  // index 0 of an empty array
    EXPECT_EQ(nullptr, zel_json_get(text, "a/b/0/x"));  // a number has no members
    EXPECT_EQ(ZEL_JSON_OBJECT, zel_json_get_type(zel_json_get(text, "a/skip")));
    EXPECT_EQ(nullptr, zel_json_get("[1,]", "1"));  // a trailing comma ends the array
    EXPECT_EQ(nullptr, zel_json_get("{}", "a"));
}

TEST(JsonType, FirstCharacterDecides) {
    EXPECT_EQ(ZEL_JSON_OTHER, zel_json_get_type("truex"));
    EXPECT_EQ(ZEL_JSON_BOOLEAN, zel_json_get_type("true,"));
    EXPECT_EQ(ZEL_JSON_BOOLEAN, zel_json_get_type("false"));
    EXPECT_EQ(ZEL_JSON_NULL, zel_json_get_type("null}"));
    EXPECT_EQ(ZEL_JSON_OTHER, zel_json_get_type("null5"));
    EXPECT_EQ(ZEL_JSON_OTHER, zel_json_get_type("-1"));
    EXPECT_EQ(ZEL_JSON_NUMBER, zel_json_get_type("0.5"));
    EXPECT_EQ(ZEL_JSON_OTHER, zel_json_get_type("tru"));
    EXPECT_EQ(ZEL_JSON_OTHER, zel_json_get_type(""));
}

TEST(JsonString, EscapesAreResolved) {
    EXPECT_EQ("say \"hi\" now", copy("\"say \\\"hi\\\" now\""));
    EXPECT_EQ("a/b\\c\b\f\n\r\t", copy("\"a\\/b\\\\c\\b\\f\\n\\r\\t\""));
    EXPECT_EQ("0041x", copy("\"\\u0041x\""));
    EXPECT_EQ("<-1>", copy("\"bad \\x escape\""));
    EXPECT_EQ("<-1>", copy("3"));
    EXPECT_EQ("", copy("\"\""));
    char one[1];
    EXPECT_EQ(1, zel_json_get_string("\"\"", one, 1));
    EXPECT_EQ(ZEL_JSON_ERR_SMALL, zel_json_get_string("\"\"", one, 0));
}

// Text in a heap block of exactly its length + 1: a read past the terminator
// lands in the sanitizer's redzone.
std::unique_ptr<char[]> exact(const char *text) {
    size_t n = strlen(text) + 1;
    std::unique_ptr<char[]> p(new char[n]);
    memcpy(p.get(), text, n);
    return p;
}

TEST(JsonUnterminated, NeverReadsPastTheTerminator) {
    char buf[64];
    auto open_string = exact("{\"access_token\":\"0123456789");
    const char *v = zel_json_get(open_string.get(), "access_token");
    ASSERT_NE(nullptr, v);
    EXPECT_EQ(ZEL_JSON_ERR_NOT_STRING, zel_json_get_string(v, buf, sizeof buf));
    EXPECT_EQ(ZEL_JSON_ERR_NOT_STRING, zel_json_get_string(v, nullptr, 0));

    auto open_escape = exact("\"abc\\");
    EXPECT_EQ(ZEL_JSON_ERR_NOT_STRING, zel_json_get_string(open_escape.get(), buf, sizeof buf));

    const char *cases[] = {
        "{\"a\":1,\"access_token",      // the key runs into the end
        "{\"a\":1,\"access_token\"",    // no colon
        "{\"a\":1,\"access_token\":",   // no value
        "{\"a\":1,\"access_token\": ",  // only blanks
        "{\"a\":\"x\\",                 // the text ends in an escape
        "{\"a\":{\"b\":[1,2",           // open containers
        "{\"a\"",
        "[",
        "{",
    };
    for (const char *c : cases) {
        auto text = exact(c);
        EXPECT_EQ(nullptr, zel_json_get(text.get(), "access_token")) << c;
        EXPECT_EQ(nullptr, zel_json_get(text.get(), "a/b/7")) << c;
        EXPECT_EQ(nullptr, zel_json_get(text.get(), "9")) << c;
    }
    auto trunc_true = exact("tr");
    EXPECT_EQ(ZEL_JSON_OTHER, zel_json_get_type(trunc_true.get()));
}

// The configuration file as the application writes it, read back with the
// application's format.
TEST(ConfigScan, PsnLineReadsBothFields) {
    char id[128] = {}, pin[128] = {};
    EXPECT_EQ(2, zel_sscanf("PSNID : 123 PIN  : 4567", "PSNID : %127s PIN  : %127s", id, pin));
    EXPECT_EQ(std::string("123"), id);
    EXPECT_EQ(std::string("4567"), pin);

    std::string file = "PSNID\t: AAAAAAAAAAA=\r\nPIN \t: 12345678\r\n";
    for (int i = 0; i < 4; ++i) file += std::string(55, ' ') + "\n";
    auto text = exact(file.c_str());
    EXPECT_EQ(2, zel_sscanf(text.get(), "PSNID : %127s PIN  : %127s", id, pin));
    EXPECT_EQ(std::string("AAAAAAAAAAA="), id);
    EXPECT_EQ(std::string("12345678"), pin);
}

TEST(ConfigScan, DocumentedQuirks) {
    char s[16] = {};
    EXPECT_EQ(1, zel_sscanf("abcdef", "%3s", s));  // a width w keeps w - 1 characters
    EXPECT_EQ(std::string("ab"), s);
    int d = 0;
    EXPECT_EQ(2, zel_sscanf("12ab", "%d%s", &d, s));
    EXPECT_EQ(12, d);
    EXPECT_EQ(std::string("ab"), s);
    d = -5;
    EXPECT_EQ(0, zel_sscanf("7", "%ld", &d));  // the l is ignored, "d" is then literal
    EXPECT_EQ(-5, d);
}

TEST(ConfigScan, EndsOfTextAndLongWidthsStayInBounds) {
    char a[16] = {}, b[16] = {};
    auto text = exact("abc");
    EXPECT_EQ(1, zel_sscanf(text.get(), "%15s %15s", a, b));
    EXPECT_EQ(std::string("abc"), a);

    unsigned v = 0;
    std::string digits(60, '1');
    auto many = exact(digits.c_str());
    zel_sscanf(many.get(), "%60u", &v);  // a width beyond the scratch buffer is clamped
    auto few = exact("42");
    EXPECT_EQ(1, zel_sscanf(few.get(), "%20u", &v));  // a width beyond the text
    EXPECT_EQ(42u, v);
}

}  // namespace

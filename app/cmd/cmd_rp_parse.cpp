// rp_parse_access_token and rp_parse_usrid: the filters that take the
// token endpoint's answers from their standard input (see usrid.h).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "usrid.h"
#include "zel_json.h"

namespace {

// Reads the answer into reply (at most USRID_REPLY_MAX bytes, up to the end
// of the input, so an answer that arrives in pieces is whole) and
// terminates it. False when the first read fails.
bool read_reply(char (&reply)[USRID_REPLY_MAX + 1]) {
    size_t have = 0;
    while (have < USRID_REPLY_MAX) {
        ssize_t n = read(0, reply + have, USRID_REPLY_MAX - have);
        if (n < 0 && have == 0) return false;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    reply[have] = 0;
    return true;
}

// Reads and prints the `answer` ("token" or "usrid") and finds `key` in
// it (*value: none when missing); false when it could not be read.
bool reply_value(char (&reply)[USRID_REPLY_MAX + 1], const char *answer, const char *key, const char **value) {
    if (!read_reply(reply)) {
        printf("fail to get %s reply\r\n", answer);
        return false;
    }
    printf("%s reply:\r\n%s\r\n", answer, reply);
    *value = zel_json_get(reply, key);
    return true;
}

// `text` is '"', decimal digits that make a number below 2^64, '"'.
bool decimal_in_quotes(const char *text, uint64_t *out) {
    if (text[0] != '"' || text[1] < '0' || text[1] > '9') return false;
    uint64_t n = 0;
    const char *p = text + 1;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (n > (UINT64_MAX - digit) / 10) return false;
        n = n * 10 + digit;
    }
    if (*p != '"') return false;
    *out = n;
    return true;
}

}  // namespace

int rp_parse_access_token_main(int, char **) {
    char reply[USRID_REPLY_MAX + 1];
    const char *value = nullptr;
    if (!reply_value(reply, "token", "access_token", &value)) return -1;
    // A value that is no string, or longer than a token, leaves no token.
    if (!value || zel_json_get_string(value, usrid_access_token, sizeof usrid_access_token) < 0) {
        usrid_access_token[0] = 0;
        printf("fail to parse access_token\r\n");
        return -1;
    }
    printf("access_token: %s\r\n\r\n", usrid_access_token);
    return 0;
}

int rp_parse_usrid_main(int, char **) {
    char reply[USRID_REPLY_MAX + 1];
    const char *value = nullptr;
    if (!reply_value(reply, "usrid", "user_id", &value)) return -1;
    // A decimal number in quotes that fits 64 bits; anything else is no
    // user id (and leaves none).
    uint64_t id = 0;
    if (!value || !decimal_in_quotes(value, &id)) {
        printf("fail to parse usrid\r\n");
        return -1;
    }
    usrid_user_id = id;
    printf("usrid: %llu\r\n\r\n", static_cast<unsigned long long>(usrid_user_id));
    return 0;
}

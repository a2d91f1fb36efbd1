// usrid CODE: the account id for an authorization code, from the account
// provider's token endpoint (see usrid.h).
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "account_config.h"
#include "mbedtls/base64.h"
#include "usrid.h"
#include "zel_shell.h"

char usrid_access_token[USRID_TOKEN_LEN + 1];
uint64_t usrid_user_id;
const char *usrid_token_base = ACCOUNT_TOKEN_BASE;

namespace {

char g_account_id[USRID_ACCOUNT_ID_SIZE];
uint8_t g_usrid_ok;
uint8_t g_filters_bound;

// The credentials curl sends as basic authentication.
#define USRID_AUTH ACCOUNT_CLIENT_ID ":" ACCOUNT_CLIENT_SECRET

const char kTokenRequest[] = "curl -X POST -H \"Content-Type:application/x-www-form-urlencoded\" -d "
                             "\"grant_type=authorization_code&code=${RP_USRCODE}&redirect_uri=" ACCOUNT_REDIRECT_URI
                             "&\" -u " USRID_AUTH " %s/2.0/oauth/token | rp_parse_access_token";
const char kTokenInfoRequest[] = "curl -u " USRID_AUTH " %s/2.0/oauth/token/${RP_ACCESS_TOKEN} | rp_parse_usrid";

// Runs one request line with the endpoint's base address put in; the
// line's status is not looked at (the filter's result tells).
void run_request(const char *format) {
    char line[1024];
    int n = snprintf(line, sizeof line, format, usrid_token_base);
    if (n < 0 || static_cast<size_t>(n) >= sizeof line) {
        printf("token endpoint address too long\r\n");
        return;
    }
    system(line);
}

// Runs of usrid side by side bind the filters once: the binding waits (it
// makes files), so one run holds this lock while it binds and the others
// wait for it rather than bind them again.
pthread_mutex_t g_bind_lock;
bool g_bind_lock_ready;

void bind_filter(const char *path, zel_shell_main_t main) {
    zel_shell_main_t bound = nullptr;
    // A filter that cannot be installed is missing from /bin.
    if (zel_shell_lookup(path, &bound) != 0) (void)zel_linux_install_builtin(path, main);
}

void bind_filters() {
    // Made before anything waits, so by one run only.
    if (!g_bind_lock_ready) {
        pthread_mutex_init(&g_bind_lock, nullptr);
        g_bind_lock_ready = true;
    }
    pthread_mutex_lock(&g_bind_lock);
    bind_filter("/bin/rp_parse_access_token", rp_parse_access_token_main);
    bind_filter("/bin/rp_parse_usrid", rp_parse_usrid_main);
    g_filters_bound = 1;
    pthread_mutex_unlock(&g_bind_lock);
}

}  // namespace

const char *usrid_get(void) { return g_usrid_ok ? g_account_id : nullptr; }

int usrid_main(int argc, char **argv) {
    if (argc != 2) {
        printf("format: %s CODE\r\n", argv[0]);
        return -1;
    }
    bind_filters();

    setenv("RP_USRCODE", argv[1], 1);
    usrid_access_token[0] = 0;
    run_request(kTokenRequest);
    if (strlen(usrid_access_token) != USRID_TOKEN_LEN) {
        printf("invalid access_token\r\n");
        return -1;
    }

    setenv("RP_ACCESS_TOKEN", usrid_access_token, 1);
    usrid_user_id = 0;
    run_request(kTokenInfoRequest);
    if (usrid_user_id == 0) {
        printf("invalid usrid\r\n");
        return -1;
    }

    // The id's bytes, least significant first.
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(usrid_user_id >> (8 * i));
    char text[USRID_ACCOUNT_ID_SIZE];
    size_t length = 0;
    if (mbedtls_base64_encode(reinterpret_cast<unsigned char *>(text), sizeof text, &length, bytes, sizeof bytes) !=
        0) {
        printf("invalid usrid\r\n");
        return -1;
    }
    memcpy(g_account_id, text, length + 1);
    printf("usrid: %s\r\n\r\n", g_account_id);
    g_usrid_ok = 1;
    return 0;
}

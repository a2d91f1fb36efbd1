/* The PSN account id from the account provider's token endpoint.
 *
 * usrid CODE runs two command lines through the shell, each a curl run
 * piped into a filter command of ours:
 *   1. a form POST of the authorization code to "<base>/2.0/oauth/token"
 *      (basic authentication with the client id and secret) into
 *      rp_parse_access_token, which keeps the answer's "access_token" (36
 *      characters);
 *   2. a GET of "<base>/2.0/oauth/token/<token>" with the same
 *      authentication into rp_parse_usrid, which keeps the answer's
 *      "user_id" (a decimal number in quotes).
 * curl checks the server's certificate in both (against the host's trust
 * store, app/trust_store.h): when it does not check, curl answers nothing
 * and the filter finds no value.
 * The user id's 8 bytes, least significant first, in base64 (12
 * characters) are the account id. The code and the token reach the command
 * lines as the variables RP_USRCODE and RP_ACCESS_TOKEN of the usrid
 * process, which the shell expands into single words.
 *
 * The filters read at most 1023 bytes of their standard input (up to its
 * end) and leave their value in the state below, which every process sees.
 * The first run of usrid binds them as "/bin/rp_parse_access_token" and
 * "/bin/rp_parse_usrid" (a run binds whichever of them is not bound; runs
 * side by side bind them once). A user id that is 0, not all digits or
 * beyond 64 bits is no user id.
 *
 * Results: 0 success, -1 failure, each failure printed on one line ending
 * "\r\n" ("invalid access_token", "invalid usrid", "fail to parse ...").
 *
 * This header is plain C and usable by code built against the layer's own
 * C library headers. */
#ifndef USRID_H
#define USRID_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define USRID_TOKEN_LEN 36         /* characters of a valid access token */
#define USRID_ACCOUNT_ID_SIZE 1024 /* the account id text's buffer */
#define USRID_REPLY_MAX 1023       /* bytes of an answer the filters look at */

int usrid_main(int argc, char **argv);
int rp_parse_access_token_main(int argc, char **argv);
int rp_parse_usrid_main(int argc, char **argv);

/* The account id of the last successful run of usrid; none before one. A
 * failed run leaves an earlier id in place. */
const char *usrid_get(void);

/* The token endpoint's base address the command lines use:
 * ACCOUNT_TOKEN_BASE unless pointed elsewhere (the tests' local server). */
extern const char *usrid_token_base;

/* ---- state shared by usrid and its filters ---- */
extern char usrid_access_token[USRID_TOKEN_LEN + 1];
extern uint64_t usrid_user_id;

#ifdef __cplusplus
}
#endif

#endif

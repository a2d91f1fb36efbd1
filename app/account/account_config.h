/* The account provider, as this build of the tool knows it: the OAuth
 * client registered for Remote Play, the token endpoint that answers the
 * authorization code, the sign-in page the user's browser opens, the
 * redirect address the sign-in ends on, and an outside page that shows an
 * account id.
 *
 * The values below are placeholders of the right form: a build for the
 * real provider puts the provider's addresses and credentials here (and
 * nowhere else).
 *
 * This header is plain C and usable by code built against the layer's own
 * C library headers. */
#ifndef ACCOUNT_CONFIG_H
#define ACCOUNT_CONFIG_H

/* The OAuth client: sent as HTTP basic authentication (id as user, secret
 * as password) to the token endpoint; the id also goes into the sign-in
 * page's address. The id is a UUID of 36 characters. */
#define ACCOUNT_CLIENT_ID "7f3a9c12-4b6e-4d81-9e2f-a5c0d7b3e618"
#define ACCOUNT_CLIENT_SECRET "Hq3nWd8sTp5cLx2M"

/* The authorization service; the token endpoint is its "/2.0/oauth/token". */
#define ACCOUNT_TOKEN_BASE "https://auth.account-provider.example/api/authz/v3"

/* The redirect address registered for the client (two path segments deep)
 * and its prefix up to the first segment, which a pasted address must begin
 * with: exactly ACCOUNT_REDIRECT_PREFIX_LEN characters. */
#define ACCOUNT_REDIRECT_PREFIX "https://remoteplay.account-provider.example/app/"
#define ACCOUNT_REDIRECT_PREFIX_LEN 48
#define ACCOUNT_REDIRECT_URI ACCOUNT_REDIRECT_PREFIX "callback"

/* The sign-in page (scheme, host and "/signin/") and the id lookup page. */
#define ACCOUNT_SIGNIN_PAGE "https://signin.account-provider.example/signin/"
#define ACCOUNT_ID_LOOKUP_PAGE "https://psn-id-lookup.example/account-id"

#ifdef __cplusplus
static_assert(sizeof ACCOUNT_CLIENT_ID - 1 == 36, "the client id is a UUID");
static_assert(sizeof ACCOUNT_REDIRECT_PREFIX - 1 == ACCOUNT_REDIRECT_PREFIX_LEN, "the redirect prefix's length");
#endif

#endif

/* The host's system trust store inside the tree.
 *
 * The layer's curl checks every server certificate against the CA bundle
 * it was built to read by default, "/etc/ssl/certs/ca-certificates.crt" in
 * the tree (CURL_CA_BUNDLE in third_party/curl/curl_config.h); the variable
 * CURL_CA_BUNDLE of a program's environment names another bundle instead.
 * app_mount_trust_store mounts the host folder app_trust_store_dir (Debian's
 * ca-certificates keeps its bundle in "/etc/ssl/certs") on the tree's
 * "/etc/ssl/certs", read-only, making the folders on the way.
 *
 * Answers 0, or -1 when the folder could not be mounted (said in the trace):
 * then curl finds no bundle and refuses every certificate it has to check,
 * saying so. */
#ifndef APP_TRUST_STORE_H
#define APP_TRUST_STORE_H

#ifdef __cplusplus
extern "C" {
#endif

/* The host folder; a test points it at a copy before the system starts. */
extern const char *app_trust_store_dir;

/* The tree's folder that holds the default bundle. */
#define APP_TRUST_STORE_MOUNT "/etc/ssl/certs"

int app_mount_trust_store(void);

#ifdef __cplusplus
}
#endif

#endif

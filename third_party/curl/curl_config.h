/* libcurl and curl tool build configuration for the Linux-emulation layer.
 *
 * Written by hand instead of running configure: every HAVE_ below names
 * something the layer's C library really provides.  The layer has POSIX
 * descriptors, poll, BSD sockets over IPv4 with gethostbyname, pthreads and
 * gettimeofday; it has no IPv6, getaddrinfo, signals, alarm, monotonic
 * clock, pwd database or locale.
 *
 * TLS is mbedTLS; names are resolved on a worker thread (threaded resolver
 * over the layer's pthreads and its IPv4 gethostbyname); no content
 * decoding; the protocols are DICT, FILE, FTP, FTPS, GOPHER, GOPHERS, HTTP,
 * HTTPS, IMAP, IMAPS, MQTT, POP3, POP3S, RTSP, SMTP, SMTPS, TELNET and TFTP.
 * NTLM through the winbind helper stays off (it would start a helper
 * program): NTLM_WB_ENABLED is not defined. */
#ifndef ZEL_CURL_CONFIG_H
#define ZEL_CURL_CONFIG_H

/* The platform name in the version line, "curl 7.81.0-DEV (zel) ...". */
#define OS "zel"

/* Protocols and features left out */
#define CURL_DISABLE_LDAP 1
#define CURL_DISABLE_LDAPS 1
#define CURL_DISABLE_SMB 1

/* TLS back end */
#define USE_MBEDTLS 1
/* The CA bundle certificates are checked against unless the program names
 * another (CURL_CA_BUNDLE in its environment, --cacert): the host's system
 * store, which the application mounts read-only at this place in the tree
 * (app/trust_store.h). */
#define CURL_CA_BUNDLE "/etc/ssl/certs/ca-certificates.crt"

/* Name resolution: a worker thread per lookup, IPv4 only */
#define USE_THREADS_POSIX 1
#define HAVE_PTHREAD_H 1

/* Types and sizes (x86-64) */
#define SIZEOF_INT 4
#define SIZEOF_LONG 8
#define SIZEOF_OFF_T 8
#define SIZEOF_CURL_OFF_T 8
#define SIZEOF_SIZE_T 8
#define SIZEOF_TIME_T 8
#define HAVE_LONGLONG 1
#define HAVE_BOOL_T 1
#define HAVE_STDBOOL_H 1
#define HAVE_STRUCT_TIMEVAL 1
#define HAVE_STRUCT_SOCKADDR_STORAGE 1
#define HAVE_SA_FAMILY_T 1
#define HAVE_VARIADIC_MACROS_C99 1
#define HAVE_VARIADIC_MACROS_GCC 1
#define STDC_HEADERS 1

/* Headers of the layer */
#define HAVE_ARPA_INET_H 1
#define HAVE_FCNTL_H 1
#define HAVE_LIBGEN_H 1
#define HAVE_NETDB_H 1
#define HAVE_NETINET_IN_H 1
#define HAVE_NETINET_TCP_H 1
#define HAVE_POLL_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_STRINGS_H 1
#define HAVE_SYS_SELECT_H 1
#define HAVE_SYS_SOCKET_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TIME_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1

/* Calls of the layer */
#define HAVE_BASENAME 1
#define HAVE_FCNTL 1
#define HAVE_FCNTL_O_NONBLOCK 1
#define HAVE_FTRUNCATE 1
#define HAVE_GETSOCKNAME 1
#define HAVE_GETTIMEOFDAY 1
#define HAVE_GMTIME_R 1
#define HAVE_POLL_FINE 1 /* poll(NULL, 0, ms) sleeps */
#define HAVE_RECV 1
#define HAVE_SELECT 1
#define HAVE_SEND 1
#define HAVE_SOCKET 1
#define HAVE_SOCKETPAIR 1
#define HAVE_STRCASECMP 1
#define HAVE_STRDUP 1
#define HAVE_STRTOK_R 1
#define HAVE_STRTOLL 1
#define HAVE_WRITABLE_ARGV 1

#endif

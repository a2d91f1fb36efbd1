/* A handler that serves files of the tree as HTTP responses: it opens the
 * file a request names under a document root and pumps it into the
 * request's response stream. Nothing in the system runs an HTTP server;
 * the handler is the piece such a server would call.
 *
 * open (from a framework thread): the request path (a leading '/' skipped)
 * under the document root; a directory is replaced by its "index.html",
 * else its "index.htm". Status 200 and 0 when a file was found; else status
 * 404 and -7. The response stream (1024 bytes) is ready after a success.
 * respond: starts the request's agent, which copies the whole file into the
 * response stream as its reader makes room; `responding` tells it is under
 * way, `result` its outcome (0 when everything was sent). close: releases
 * the file. */
#ifndef ZEL_LINUX_DEV_HTTP_H
#define ZEL_LINUX_DEV_HTTP_H

#include <stdint.h>

#include "zel_file.h"
#include "zel_stream_ring.h"

extern "C" {

inline constexpr uint32_t ZEL_HTTP_RESPONSE_BUFFER = 1024;

typedef struct zel_http_file_req {
    const char *root; /* document root */
    const char *path; /* request path */
    int status;
    zel_stream_ring_t response;
    uint8_t buffer[ZEL_HTTP_RESPONSE_BUFFER];
    zel_file_t *file;
    uint64_t size;
    zel_eda_t agent;
    zel_file_read_to_stream_t pump;
    uint8_t responding;
    int32_t result;
} zel_http_file_req_t;

typedef struct zel_http_file_ops {
    int (*open)(zel_http_file_req_t *req);
    void (*close)(zel_http_file_req_t *req);
    int (*respond)(zel_http_file_req_t *req);
} zel_http_file_ops_t;

typedef struct zel_http_handler {
    uint32_t flags; /* 4 */
    uintptr_t reserved[3];
    const zel_http_file_ops_t *ops;
    uintptr_t reserved2;
} zel_http_handler_t;

typedef struct zel_http_status {
    int code;
    const char *text;
} zel_http_status_t;

extern const zel_http_handler_t zel_http_file_handler;
/* 200 "OK", 400 "Bad Request", 404 "Not Found", 501 "Not Implemented". */
extern const zel_http_status_t zel_http_file_status[4];

[[nodiscard]] int zel_http_file_open(zel_http_file_req_t *req);
void zel_http_file_close(zel_http_file_req_t *req);
[[nodiscard]] int zel_http_file_respond(zel_http_file_req_t *req);

}  // extern "C"

#endif

// Files of the tree as HTTP responses.
#include "zel_linux_dev_http.h"

#include <string.h>

#include "zel_kernel.h"

namespace {

// Runs a file API call from a thread and answers its result.
int32_t finish(int32_t started) { return started == 0 ? static_cast<int32_t>(zel_eda_get_return_code()) : started; }

zel_file_t *open_in(zel_file_t *dir, const char *path) {
    zel_file_t *node = nullptr;
    return finish(zel_file_open(dir, path, &node)) == 0 ? node : nullptr;
}

zel_http_file_req_t *request_of(zel_eda_t *agent) { return ZEL_CONTAINER_OF(agent, zel_http_file_req_t, agent); }

void pump_handler(zel_eda_t *agent, zel_evt_t evt) {
    zel_http_file_req_t *req = request_of(agent);
    if (evt == ZEL_EVT_INIT) {
        req->responding = 1;
        int32_t r = zel_file_read_to_stream(&req->pump, &req->response.stream, static_cast<uint32_t>(req->size));
        if (r != 0) {
            req->result = r;
            req->responding = 0;
            (void)zel_eda_fini(agent);  // the pump is over: the agent ends (cannot fail)
        }
    } else if (evt == ZEL_EVT_RETURN) {
        req->result = static_cast<int32_t>(zel_eda_get_return_code());
        req->responding = 0;
        (void)zel_eda_fini(agent);  // the pump is over: the agent ends (cannot fail)
    }
}

}  // namespace

extern "C" {

const zel_http_status_t zel_http_file_status[4] = {
    {200, "OK"}, {400, "Bad Request"}, {404, "Not Found"}, {501, "Not Implemented"}};

int zel_http_file_open(zel_http_file_req_t *req) {
    req->status = 404;
    req->file = nullptr;
    zel_file_t *root = open_in(nullptr, req->root);
    if (!root) return -7;
    const char *path = req->path && req->path[0] == '/' ? req->path + 1 : (req->path ? req->path : "");
    zel_file_t *file = open_in(root, path);
    (void)zel_file_close(root);  // -6 only without a call frame: the node then stays referenced
    if (file && (file->attributes & ZEL_FILE_DIR)) {
        zel_file_t *index = open_in(file, "index.html");
        if (!index) index = open_in(file, "index.htm");
        (void)zel_file_close(file);  // -6 only without a call frame: the node then stays referenced
        file = index;
    }
    if (!file) return -7;
    req->file = file;
    req->size = file->size;
    req->response.stream.op = &zel_stream_ring_op;
    req->response.buffer = req->buffer;
    req->response.size = sizeof req->buffer;
    (void)zel_stream_init(&req->response.stream);  // cannot fail
    req->status = 200;
    return 0;
}

void zel_http_file_close(zel_http_file_req_t *req) {
    if (req->file) (void)zel_file_close(req->file);  // -6 only without a call frame: the node then stays referenced
    req->file = nullptr;
}

int zel_http_file_respond(zel_http_file_req_t *req) {
    memset(&req->agent, 0, sizeof req->agent);
    req->agent.handler.plain = pump_handler;
    req->result = 0;
    req->pump.file = req->file;
    zel_eda_t *cur = zel_eda_get_cur();
    return zel_eda_start(&req->agent, cur ? zel_eda_get_prio(cur) : 0, 0);
}

static const zel_http_file_ops_t g_ops = {
    .open = zel_http_file_open,
    .close = zel_http_file_close,
    .respond = zel_http_file_respond,
};
const zel_http_handler_t zel_http_file_handler = {4, {0, 0, 0}, &g_ops, 0};

}  // extern "C"

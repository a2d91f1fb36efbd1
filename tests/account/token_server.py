#!/usr/bin/env python3
"""The account provider's token endpoint, on 127.0.0.1, for the account tests.

    token_server.py DIR [tls]

Prints its port on one line and serves until its standard input ends (the
test process is gone); then it removes DIR and ends. With "tls" it speaks
TLS with DIR/cert.pem and DIR/key.pem.
  POST /2.0/oauth/token          answers the bytes of DIR/www/token
  GET  /2.0/oauth/token/<token>  answers the bytes of DIR/www/info
A missing answer file is a 400 with an error object in JSON. While the file
DIR/www/hold exists, answers wait. Every request
is appended to DIR/log as one JSON line: {"method", "path", "body",
"content_type", "authorization"}.
"""
import http.server
import json
import os
import shutil
import ssl
import sys
import threading
import time

folder = sys.argv[1]
root, log_path = os.path.join(folder, "www"), os.path.join(folder, "log")
log_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def record(self, body=""):
        entry = {"method": self.command, "path": self.path, "body": body,
                 "content_type": self.headers.get("Content-Type"),
                 "authorization": self.headers.get("Authorization")}
        with log_lock, open(log_path, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def answer_file(self, name):
        while os.path.exists(os.path.join(root, "hold")):
            time.sleep(0.01)
        try:
            with open(os.path.join(root, name), "rb") as f:
                body, code = f.read(), 200
        except OSError:
            body, code = b'{"error": "invalid_grant"}', 400
        self.send_response(code)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.record()
        if self.path.startswith("/2.0/oauth/token/"):
            self.answer_file("info")
        else:
            self.send_error(404)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.record(self.rfile.read(length).decode("latin-1"))
        if self.path == "/2.0/oauth/token":
            self.answer_file("token")
        else:
            self.send_error(404)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
if sys.argv[2:] == ["tls"]:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    server.socket = context.wrap_socket(server.socket, server_side=True)


def end_with_the_test():
    sys.stdin.buffer.read()
    shutil.rmtree(folder, ignore_errors=True)
    os._exit(0)


threading.Thread(target=end_with_the_test, daemon=True).start()
print(server.server_address[1], flush=True)
server.serve_forever()

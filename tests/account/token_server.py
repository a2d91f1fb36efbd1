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
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import test_server_util  # noqa: E402

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


test_server_util.serve(Handler, folder)

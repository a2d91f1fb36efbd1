#!/usr/bin/env python3
"""HTTP (or HTTPS) server on 127.0.0.1 for the curl tests and benchmark.

    curl_test_server.py DIR [tls]

Serves the files of DIR/www, logs to DIR/log, and with "tls" wraps its
socket in TLS with DIR/cert.pem and DIR/key.pem. Binds a free port, prints
it on one line and serves until killed, or until its standard input ends
(the test process is gone): then it removes DIR and ends.
  GET  /<file>            the file under DIR/www
  GET  /cut               announces 100000 bytes, sends 1000 and closes
  GET  /hold              answers "held\\n" once /release was asked for
  GET  /release           lets /hold answer
  POST /2.0/oauth/token   records the request, answers a token in JSON
  PUT  /up/<name>         stores the body (plain or chunked) as DIR/up/<name>
  POST /up/<name>         the same
Every request is appended to DIR/log as one JSON line: {"event", "path", ...}.
"""
import http.server
import json
import os
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import test_server_util  # noqa: E402

folder = sys.argv[1]
root, log_path = os.path.join(folder, "www"), os.path.join(folder, "log")
uploads = os.path.join(folder, "up")
released = threading.Event()
log_lock = threading.Lock()


def log(**entry):
    with log_lock, open(log_path, "a") as f:
        f.write(json.dumps(entry) + "\n")


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)

    def log_message(self, *args):
        pass

    def answer(self, body, content_type="text/plain"):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        log(event="received", path=self.path)
        if self.path == "/cut":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"x" * 1000)
            self.wfile.flush()
            self.close_connection = True
        elif self.path == "/hold":
            released.wait(60)
            self.answer(b"held\n")
        elif self.path == "/release":
            released.set()
            self.answer(b"released\n")
        else:
            super().do_GET()
        log(event="answered", path=self.path)

    def body(self):
        if self.headers.get("Expect", "").lower() == "100-continue":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            self.wfile.flush()
        if self.headers.get("Transfer-Encoding", "").lower() != "chunked":
            return self.rfile.read(int(self.headers.get("Content-Length", "0")))
        data = b""
        while True:
            size = int(self.rfile.readline().split(b";")[0], 16)
            if size == 0:
                while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                    pass
                return data
            data += self.rfile.read(size)
            self.rfile.readline()

    def store(self):
        name = os.path.basename(self.path)
        body = self.body()
        os.makedirs(uploads, exist_ok=True)
        with open(os.path.join(uploads, name), "wb") as f:
            f.write(body)
        log(event="stored", path=self.path, method=self.command, length=len(body))
        self.answer(b"stored\n")

    def do_PUT(self):
        if not self.path.startswith("/up/"):
            self.send_error(404)
            return
        self.store()

    def do_POST(self):
        if self.path.startswith("/up/"):
            self.store()
            return
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("latin-1")
        log(event="received", path=self.path, method="POST", body=body,
            content_type=self.headers.get("Content-Type"),
            authorization=self.headers.get("Authorization"))
        if self.path != "/2.0/oauth/token":
            self.send_error(404)
            return
        token = {"access_token": "0123456789abcdef0123456789abcdef0123", "token_type": "bearer"}
        self.answer(json.dumps(token).encode(), "application/json")
        log(event="answered", path=self.path)


test_server_util.serve(Handler, folder)

"""What the tests' HTTP servers share: a threaded server on a free port of
127.0.0.1, TLS when asked, and a life tied to the test process.

    serve(Handler, folder)

With "tls" as the second argument of the script the socket speaks TLS with
folder/cert.pem and folder/key.pem. The port is printed on one line; the
server then serves until killed, or until its standard input ends (the test
process is gone): then it removes the folder and ends.
"""
import http.server
import os
import shutil
import ssl
import sys
import threading


def serve(handler, folder):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
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
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    os._exit(0)

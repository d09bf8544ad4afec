#!/usr/bin/env python3
"""Runs an HTTP case table against a local server of its own.

usage: serve.py RUNNER TABLE

Starts an HTTP server on a free port of 127.0.0.1, and the same server over TLS with a
certificate made for the run (self-signed, so no client that checks certificates accepts it),
writes the table with every "@BASE@" and "@TLS@" replaced by their base URLs into a temporary
file, runs RUNNER on it (with a request time limit of 3 seconds) and exits with its status. The server's routes are the fixtures the
table reads and writes; nothing here reaches the network.
"""
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

# Set when the run ends: the requests that get no answer are let go then.
finished = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=(("Content-Type", "text/plain; charset=utf-8"),)):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def echo(self):
        """The request as text: method and path, the headers but Host by name, the body."""
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        lines = [f"{self.command} {self.path}"]
        names = sorted({name for name in self.headers.keys() if name.lower() != "host"},
                       key=str.lower)
        for name in names:
            for value in self.headers.get_all(name):
                lines.append(f"{name}: {value}")
        lines.append("body: " + body.decode("utf-8", "replace"))
        self.reply(200, "\n".join(lines).encode())

    def route(self):
        path = self.path.split("?")[0]
        if path == "/hello":
            self.reply(200, b"Hello, world\n")
        elif path == "/utf8":
            self.reply(200, "h\u00e9llo".encode())
        elif path == "/bom":
            self.reply(200, b"\xef\xbb\xbfbom")
        elif path == "/binary":
            self.reply(200, b"\x00\x01\xfe\xff", (("Content-Type", "application/octet-stream"),))
        elif path == "/lines":
            self.reply(200, b"a\nb\r\nc")
        elif path == "/empty":
            self.reply(200, b"")
        elif path == "/twice":
            self.reply(200, b"two", (("X-Twice", "a"), ("X-Twice", "b"), ("x-once", "c: d")))
        elif path == "/missing":
            self.reply(404, b"no such page")
        elif path == "/redirect":
            self.reply(302, b"", (("Location", "/hello"),))
        elif path == "/redirect-loop":
            self.reply(302, b"", (("Location", "/redirect-loop"),))
        elif path == "/close-early":
            # Promises 100 bytes, sends 5 and hangs up.
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"short")
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        elif path == "/hangup":
            self.connection.shutdown(socket.SHUT_RDWR)
        elif path == "/silent":
            # Reads the request and never answers: the client's time limit must end the wait.
            self.close_connection = True
            finished.wait()
        else:
            self.echo()

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = do_OPTIONS = route


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client refusing the certificate ends the handshake: expected, not reported


def start(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def tls_server(folder):
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = Server(("127.0.0.1", 0), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    return start(server)


def main():
    runner, table = sys.argv[1], sys.argv[2]
    folder = tempfile.mkdtemp()
    server = start(Server(("127.0.0.1", 0), Handler))
    tls = tls_server(folder)
    base = f"http://127.0.0.1:{server.server_address[1]}"
    with open(table, encoding="utf-8") as source:
        text = source.read().replace("@BASE@", base)
        text = text.replace("@TLS@", f"https://127.0.0.1:{tls.server_address[1]}")
    env = dict(os.environ)
    for name in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                 "ALL_PROXY"):
        env.pop(name, None)
    env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1,localhost"
    # Every response here comes at once: a short limit is only reached by /silent.
    env["ZEL_HTTP_TIMEOUT"] = "3000"
    path = os.path.join(folder, os.path.basename(table))
    with open(path, "w", encoding="utf-8") as target:
        target.write(text)
    status = subprocess.call([runner, path], env=env)
    finished.set()
    server.shutdown()
    tls.shutdown()
    shutil.rmtree(folder, ignore_errors=True)
    sys.exit(status)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Runs an HTTP case table against a local server of its own.

usage: serve.py RUNNER TABLE

Starts an HTTP server on a free port of 127.0.0.1, writes the table with every "@BASE@" replaced
by the server's base URL into a temporary file, runs RUNNER on it and exits with its status. The
server's routes are the fixtures the table reads and writes; nothing here reaches the network.
"""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading


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
        else:
            self.echo()

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = do_OPTIONS = route


def main():
    runner, table = sys.argv[1], sys.argv[2]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    with open(table, encoding="utf-8") as source:
        text = source.read().replace("@BASE@", base)
    env = dict(os.environ)
    for name in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                 "ALL_PROXY"):
        env.pop(name, None)
    env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1,localhost"
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, os.path.basename(table))
        with open(path, "w", encoding="utf-8") as target:
            target.write(text)
        status = subprocess.call([runner, path], env=env)
    server.shutdown()
    sys.exit(status)


if __name__ == "__main__":
    main()

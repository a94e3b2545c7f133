#!/usr/bin/env python3
"""Loopback test server for the program's network code.

  server.py --port-file FILE [--tls-cert C --tls-key K] [--untrusted-cert C --untrusted-key K]
            [--max-lifetime SECONDS]

Listens on 127.0.0.1 only, on ports the OS picks, and writes them to FILE as lines
"http=PORT", "https=PORT", "https_untrusted=PORT" (the file appears complete at once).
Answers come from, in order: the control endpoints under /_control/, a script posted for the
exact path (script.py), then the route modules in routes/ (each module's register(router)).
Every request except control requests is recorded for the tests to read back.
"""
import argparse
import base64
import importlib
import json
import os
import pkgutil
import re
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import httpkit  # noqa: E402
import script  # noqa: E402


class Router:
    """Route modules call add(pattern, handler, methods): `pattern` is a regular expression
    matched against the whole path (without the query); handler(req, match) answers."""

    def __init__(self):
        self.routes = []

    def add(self, pattern, handler, methods=("GET", "HEAD")):
        self.routes.append((re.compile(pattern), handler, tuple(methods) if methods else None))

    def find(self, method, path):
        for rx, handler, methods in self.routes:
            m = rx.fullmatch(path)
            if m and (methods is None or method in methods):
                return handler, m
        return None, None


class Recorder:
    def __init__(self):
        self._lock = threading.Lock()
        self._items = []

    def add(self, item):
        with self._lock:
            item["index"] = len(self._items)
            self._items.append(item)

    def list(self, prefix=""):
        with self._lock:
            return [i for i in self._items if i["path"].startswith(prefix)]

    def clear(self, prefix=""):
        with self._lock:
            self._items = [i for i in self._items if not i["path"].startswith(prefix)]


ROUTER = Router()
RECORDER = Recorder()
SCRIPTS = script.ScriptStore()


def load_routes():
    routes_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "routes")
    for info in sorted(pkgutil.iter_modules([routes_dir]), key=lambda i: i.name):
        module = importlib.import_module("routes." + info.name)
        if hasattr(module, "register"):
            module.register(ROUTER)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KVTestServer/1"
    timeout = 60  # an idle keep-alive connection is dropped after this

    def log_message(self, fmt, *args):
        if os.environ.get("KV_TESTSERVER_VERBOSE"):
            sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    # Parsed request, filled before any handler runs.
    path_only = ""
    query = {}
    body = b""

    def query_value(self, name, default=None):
        values = self.query.get(name)
        return values[0] if values else default

    def _read_body(self):
        n = self.headers.get("Content-Length")
        if n:
            try:
                return self.rfile.read(int(n))
            except ValueError:
                return b""
        if "chunked" in (self.headers.get("Transfer-Encoding") or "").lower():
            data = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    self.rfile.readline()
                    return bytes(data)
                data += self.rfile.read(size)
                self.rfile.readline()
        return b""

    def _dispatch(self):
        # The request line as sent: the base class folds a leading "//" into "/".
        words = self.requestline.split()
        if len(words) == 3:
            self.path = words[1]
        # The absolute form servers must accept (Wine sends it through a proxy's tunnel).
        for scheme in ("http://", "https://"):
            if self.path[:len(scheme)].lower() == scheme:
                rest = self.path[len(scheme):]
                self.path = "/" + rest.partition("/")[2] if "/" in rest else "/"
        # Split by hand: urlsplit would read a path such as "//x/y" as a host.
        path, _, query = self.path.partition("?")
        self.path_only = path.partition("#")[0]
        self.query = parse_qs(query, keep_blank_values=True)
        self.body = self._read_body()
        if self.path_only.startswith("/_control/"):
            return self._control()
        record = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": self.body.decode("utf-8", "replace"),
            "bodyBase64": base64.b64encode(self.body).decode("ascii"),
            "port": self.server.server_address[1],
            "secure": isinstance(self.connection, ssl.SSLSocket),
            "time": time.time(),
        }
        RECORDER.add(record)
        self.record = record
        self.body_sent = 0
        try:
            step = SCRIPTS.next_step(self.path_only)
            if step is not None:
                return script.run_step(self, step)
            handler, match = ROUTER.find(self.command, self.path_only)
            if handler is None:
                return httpkit.send_bytes(self, 404, "not found\n")
            handler(self, match)
        finally:
            # Body bytes handed to the socket for a file answer (what a client may have
            # received before it went away).
            record["sent"] = self.body_sent

    def _control(self):
        name = self.path_only[len("/_control/"):]
        prefix = self.query_value("prefix", "")
        if name == "ping":
            return httpkit.send_bytes(self, 200, "pong\n")
        if name == "requests":
            return httpkit.send_json(self, 200, RECORDER.list(prefix))
        if name == "reset":
            RECORDER.clear(prefix)
            SCRIPTS.clear(prefix)
            return httpkit.send_bytes(self, 204)
        if name == "script" and self.command == "POST":
            try:
                doc = json.loads(self.body.decode("utf-8"))
                SCRIPTS.set(doc["path"], doc["steps"])
            except (ValueError, KeyError, TypeError) as e:
                return httpkit.send_bytes(self, 400, "bad script: %s\n" % e)
            return httpkit.send_bytes(self, 204)
        return httpkit.send_bytes(self, 404, "unknown control\n")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = _dispatch


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False


def tls_server(cert, key):
    srv = Server(("127.0.0.1", 0), Handler)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(cert, key)
    srv.socket = ctx.wrap_socket(srv.socket, server_side=True)
    return srv


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--tls-cert")
    ap.add_argument("--tls-key")
    ap.add_argument("--untrusted-cert")
    ap.add_argument("--untrusted-key")
    ap.add_argument("--max-lifetime", type=float, default=3600,
                    help="stop by itself after this many seconds, whoever forgot to stop it")
    args = ap.parse_args()

    load_routes()
    servers = [("http", Server(("127.0.0.1", 0), Handler))]
    if args.tls_cert:
        servers.append(("https", tls_server(args.tls_cert, args.tls_key)))
    if args.untrusted_cert:
        servers.append(("https_untrusted", tls_server(args.untrusted_cert, args.untrusted_key)))
    for _, srv in servers:
        threading.Thread(target=srv.serve_forever, daemon=True).start()

    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        for name, srv in servers:
            f.write("%s=%d\n" % (name, srv.server_address[1]))
    os.replace(tmp, args.port_file)

    stop = threading.Event()
    try:
        stop.wait(args.max_lifetime)
    except KeyboardInterrupt:
        pass
    for _, srv in servers:
        srv.shutdown()


if __name__ == "__main__":
    main()

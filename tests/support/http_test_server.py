#!/usr/bin/env python3
"""A loopback HTTP/1.1 (or HTTPS) server for Kest's tests, scriptable to misbehave on purpose.

Started by kest_test::TestServer (tests/support/test_server.cpp); see tests/support/README.md.

    http_test_server.py --port-file PATH [--root DIR] [--https CERT KEY] [--port N]

It listens on 127.0.0.1 on an ephemeral port, or on port N (plain HTTP or TLS), plus a second plain-HTTP
port for the control endpoints, and writes "PORT CONTROL_PORT PID" to the port file (written
to a temporary name, then renamed). It exits when its parent process goes away or on
POST /__control/stop. Control endpoints (on either port, never recorded as requests):

    POST /__control/route     add a rule (JSON object, fields in RULE_FIELDS below)
    GET  /__control/requests  JSON list of the requests received so far, oldest first
    POST /__control/reset     drop all rules and the request log
    POST /__control/stop      answer, then exit
"""

import argparse
import base64
import json
import os
import select
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler

CONTROL = "/__control/"
MODES = ("length", "chunked", "close", "truncate", "slow", "silent", "redirect", "endless")
RULE_FIELDS = {
    "path", "prefix", "method",                       # what a rule matches
    "status", "headers", "body", "body_b64", "file",  # what it answers
    "mode", "truncate_at", "chunk", "interval_ms", "location", "announce_length", "delay_ms",
    "times", "effects",
}
EFFECT_FIELDS = {"write_file", "delete_file", "body", "body_b64"}

stopping = threading.Event()


class BadRule(ValueError):
    pass


def decode_body(obj, where):
    if "body" in obj and "body_b64" in obj:
        raise BadRule(f"{where}: give body or body_b64, not both")
    if "body_b64" in obj:
        try:
            return base64.b64decode(obj["body_b64"], validate=True)
        except (ValueError, TypeError) as e:
            raise BadRule(f"{where}: body_b64: {e}")
    body = obj.get("body", "")
    if not isinstance(body, str):
        raise BadRule(f"{where}: body must be a string")
    return body.encode("utf-8")


class State:
    """Rules and the request log, shared by every connection thread."""

    def __init__(self, root):
        self.root = os.path.realpath(root) if root else None
        self.lock = threading.Lock()
        self.rules = []
        self.log = []

    def under_root(self, relative):
        """The full path of a file below the root, or None when there is no root or it would leave it."""
        if self.root is None:
            return None
        full = os.path.realpath(os.path.join(self.root, relative.lstrip("/")))
        if full != self.root and not full.startswith(self.root + os.sep):
            return None
        return full

    def check_rule(self, rule):
        if not isinstance(rule, dict):
            raise BadRule("a rule is a JSON object")
        unknown = set(rule) - RULE_FIELDS
        if unknown:
            raise BadRule(f"unknown rule fields: {sorted(unknown)}")
        if not isinstance(rule.get("path"), str) or not rule["path"].startswith("/"):
            raise BadRule("path must be a string starting with /")
        status = rule.get("status", 200)
        if not isinstance(status, int) or isinstance(status, bool) or not 100 <= status <= 999:
            raise BadRule("status must be a number from 100 to 999")
        mode = rule.setdefault("mode", "length")
        if mode not in MODES:
            raise BadRule(f"mode must be one of {MODES}")
        if mode == "redirect" and not isinstance(rule.get("location"), str):
            raise BadRule("mode redirect needs location")
        if mode == "truncate" and not isinstance(rule.get("truncate_at"), int):
            raise BadRule("mode truncate needs truncate_at")
        if "file" in rule:
            if "body" in rule or "body_b64" in rule:
                raise BadRule("give file or a body, not both")
            if self.under_root(rule["file"]) is None:
                raise BadRule("file needs --root and must lie below it")
        else:
            rule["_body"] = decode_body(rule, "rule")
        headers = rule.get("headers", {})
        if not isinstance(headers, dict) or not all(isinstance(v, str) for v in headers.values()):
            raise BadRule("headers must be an object of strings")
        times = rule.get("times")
        if times is not None and (not isinstance(times, int) or isinstance(times, bool) or times < 1):
            raise BadRule("times must be a positive number")
        effects = rule.get("effects", [])
        if not isinstance(effects, list):
            raise BadRule("effects must be a list")
        for effect in effects:
            if not isinstance(effect, dict) or set(effect) - EFFECT_FIELDS:
                raise BadRule(f"effect fields are {sorted(EFFECT_FIELDS)}")
            name = effect.get("write_file", effect.get("delete_file"))
            if ("write_file" in effect) == ("delete_file" in effect) or not isinstance(name, str):
                raise BadRule("an effect has either write_file or delete_file")
            if self.under_root(name) is None:
                raise BadRule("effects need --root and a path below it")
            if "write_file" in effect:
                effect["_body"] = decode_body(effect, "effect")
        rule["_left"] = times

    def add_rule(self, rule):
        self.check_rule(rule)
        with self.lock:
            self.rules.append(rule)

    def take_rule(self, method, path):
        """The first live rule matching the request; counts the hit against its times."""
        with self.lock:
            for rule in self.rules:
                if rule["_left"] == 0:
                    continue
                if "method" in rule and rule["method"].upper() != method:
                    continue
                if path != rule["path"] and not (rule.get("prefix") and path.startswith(rule["path"])):
                    continue
                if rule["_left"] is not None:
                    rule["_left"] -= 1
                return rule
        return None

    def run_effects(self, rule):
        for effect in rule.get("effects", []):
            if "write_file" in effect:
                full = self.under_root(effect["write_file"])
                os.makedirs(os.path.dirname(full), exist_ok=True)
                temp = f"{full}.{threading.get_ident()}.tmp"
                with open(temp, "wb") as f:
                    f.write(effect["_body"])
                os.replace(temp, full)  # a reader sees the old file or the new one, never half
            else:
                try:
                    os.remove(self.under_root(effect["delete_file"]))
                except FileNotFoundError:
                    pass

    def record(self, entry):
        with self.lock:
            self.log.append(entry)

    def reset(self):
        with self.lock:
            self.rules.clear()
            self.log.clear()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KestTestServer/1"

    def __getattr__(self, name):
        # Any method (GET, POST, PUT, PROPFIND...) goes through dispatch().
        if name.startswith("do_"):
            return self.dispatch
        raise AttributeError(name)

    def log_message(self, format, *args):
        pass

    @property
    def state(self):
        return self.server.state

    # --- reading the request

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def dispatch(self):
        body = self.read_body()
        if self.path.startswith(CONTROL):
            return self.control(body)
        headers = {}
        for name, value in self.headers.items():
            name = name.lower()
            headers[name] = f"{headers[name]}, {value}" if name in headers else value
        self.state.record({"method": self.command, "path": self.path, "headers": headers,
                           "body_b64": base64.b64encode(body).decode("ascii")})
        rule = self.state.take_rule(self.command, self.path)
        if rule is None:
            return self.serve_root()
        self.state.run_effects(rule)
        if rule.get("delay_ms"):
            time.sleep(rule["delay_ms"] / 1000)
        if "file" in rule:
            try:
                with open(self.state.under_root(rule["file"]), "rb") as f:
                    payload = f.read()
            except OSError:
                return self.answer(404, b"no such file\n")
        else:
            payload = rule["_body"]
        self.deliver(rule, payload)

    # --- control endpoints

    def control(self, body):
        what = self.path[len(CONTROL):]
        if what == "route" and self.command == "POST":
            try:
                self.state.add_rule(json.loads(body or b"null"))
            except (ValueError, BadRule) as e:
                return self.answer(400, f"{e}\n".encode())
            return self.answer(200, b"ok\n")
        if what == "requests" and self.command == "GET":
            with self.state.lock:
                text = json.dumps(self.state.log, indent=0)
            return self.answer(200, text.encode(), {"Content-Type": "application/json"})
        if what == "reset" and self.command == "POST":
            self.state.reset()
            return self.answer(200, b"ok\n")
        if what == "stop" and self.command == "POST":
            self.answer(200, b"ok\n")
            self.wfile.flush()
            stopping.set()
            return
        self.answer(404, b"unknown control request\n")

    # --- answers

    def serve_root(self):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        full = self.state.under_root(path)
        if self.command in ("GET", "HEAD") and full and os.path.isfile(full):
            with open(full, "rb") as f:
                return self.answer(200, f.read(), {"Content-Type": "application/octet-stream"})
        self.answer(404, b"not found\n")

    def answer(self, status, body, headers=None):
        self.deliver({"status": status, "headers": headers or {}, "mode": "length"}, body)

    def start(self, status, defaults, rule_headers):
        """Status line and headers; the rule's own headers replace the defaults of the same name."""
        try:
            reason = HTTPStatus(status).phrase
        except ValueError:
            reason = "Status"
        lines = [f"HTTP/1.1 {status} {reason}", f"Date: {self.date_time_string()}",
                 f"Server: {self.server_version}"]
        given = {name.lower() for name in rule_headers}
        lines += [f"{k}: {v}" for k, v in defaults.items() if k.lower() not in given]
        lines += [f"{k}: {v}" for k, v in rule_headers.items()]
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        self.wfile.flush()

    def deliver(self, rule, payload):
        mode = rule.get("mode", "length")
        status = rule.get("status", 301 if mode == "redirect" else 200)
        headers = rule.get("headers", {})
        head = self.command == "HEAD"
        send = self.wfile.write

        if mode == "silent":
            return self.stay_silent()
        if mode in ("length", "slow", "redirect"):
            defaults = {"Content-Length": str(len(payload))}
            if mode == "redirect":
                defaults["Location"] = rule["location"]
            self.start(status, defaults, headers)
            if head:
                return
            if mode != "slow":
                send(payload)
                return
            chunk = max(1, rule.get("chunk", 1024))
            for i in range(0, len(payload), chunk):
                if i:
                    time.sleep(rule.get("interval_ms", 100) / 1000)
                send(payload[i:i + chunk])
                self.wfile.flush()
        elif mode == "chunked":
            self.start(status, {"Transfer-Encoding": "chunked"}, headers)
            if head:
                return
            chunk = max(1, rule.get("chunk", 1000))
            for i in range(0, len(payload), chunk):
                piece = payload[i:i + chunk]
                send(b"%x\r\n%s\r\n" % (len(piece), piece))
            send(b"0\r\n\r\n")
        elif mode == "close":
            self.close_connection = True
            self.start(status, {"Connection": "close"}, headers)
            if not head:
                send(payload)
        elif mode == "truncate":
            self.close_connection = True
            self.start(status, {"Content-Length": str(len(payload)), "Connection": "close"}, headers)
            if not head:
                send(payload[:rule["truncate_at"]])
        elif mode == "endless":
            self.close_connection = True
            defaults = {"Connection": "close"}
            if "announce_length" in rule:
                defaults["Content-Length"] = str(rule["announce_length"])
            self.start(status, defaults, headers)
            if head:
                return
            piece = (payload or b"x") * max(1, rule.get("chunk", 4096) // max(1, len(payload or b"x")))
            while not stopping.is_set():
                send(piece)
                self.wfile.flush()
                if rule.get("interval_ms"):
                    time.sleep(rule["interval_ms"] / 1000)

    def stay_silent(self):
        """Reads and ignores whatever comes until the client hangs up or the server stops."""
        self.close_connection = True
        sock = self.connection
        while not stopping.is_set():
            readable, _, _ = select.select([sock], [], [], 0.2)
            if readable:
                try:
                    if not sock.recv(65536):
                        return
                except (OSError, ssl.SSLError):
                    return


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, state, tls=None, family=socket.AF_INET):
        self.address_family = family
        self.state = state
        self.tls = tls
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        if self.tls is not None:
            # The handshake runs on the connection's own thread, so a stuck or refusing
            # client (an untrusted certificate) does not hold up the other connections.
            try:
                request.settimeout(10)
                request = self.tls.wrap_socket(request, server_side=True)
                request.settimeout(None)
            except (OSError, ssl.SSLError):
                request.close()
                return
            try:
                super().finish_request(request, client_address)
            finally:
                try:
                    request.settimeout(1)
                    request.unwrap()  # close_notify, so a close-delimited body ends cleanly
                except (OSError, ssl.SSLError, ValueError):
                    pass
                request.close()
            return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ConnectionError, ssl.SSLError, TimeoutError)):
            return  # clients that hang up early are what many tests are about
        super().handle_error(request, client_address)


def serve(server):
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--root")
    parser.add_argument("--https", nargs=2, metavar=("CERTFILE", "KEYFILE"))
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    # Keep nothing of the parent's but stdin/stdout/stderr.
    os.closerange(3, 256)
    parent = os.getppid()
    state = State(args.root)

    tls = None
    if args.https:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(*args.https)

    main_server = Server(("127.0.0.1", args.port), state, tls)
    port = main_server.server_address[1]
    servers = [main_server, Server(("127.0.0.1", 0), state)]
    try:
        # Where "localhost" resolves to ::1 first, the client finds us there too.
        servers.append(Server(("::1", port), state, tls, socket.AF_INET6))
    except OSError:
        pass
    for server in servers:
        serve(server)

    temp = f"{args.port_file}.tmp"
    with open(temp, "w") as f:
        f.write(f"{port} {servers[1].server_address[1]} {os.getpid()}\n")
    os.replace(temp, args.port_file)

    while not stopping.wait(0.2):
        if os.getppid() != parent:
            break
    for server in servers:
        server.server_close()
    os._exit(0)  # connection threads may be blocked in a send; they go with the process


if __name__ == "__main__":
    main()

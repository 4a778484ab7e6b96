#!/usr/bin/env python3
"""Loopback HTTP/HTTPS server for the tests.

    testserver.py --base-port N --root DIR --state DIR --certs DIR

Serves files from ROOT with chosen faults (stalls, resets, truncation, redirects, trickling),
records POST requests under STATE/records, and lets a test make any path misbehave by dropping
a rule file into STATE/rules. See README.md beside this file. Standard library only.
"""

import argparse
import base64
import errno
import html
import json
import mimetypes
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import traceback
import urllib.parse
from http.server import BaseHTTPRequestHandler

# Offsets from the base port: (offset, role, certificate name or None for plain HTTP).
PORTS = [
    (80, "test", None),
    (81, "release-cdn", None),
    (82, "download-cdn-1", None),
    (83, "download-cdn-2", None),
    (443, "https", "localhost"),
    (444, "https-wrong-host", "otherhost"),
    (445, "https-untrusted", "untrusted-localhost"),
]

STALL_HOLD_SECONDS = 120
CHUNK = 256 * 1024
RECORD_PATHS = {
    "/collection/biz/upload": "collection",
    "/common/baidu/ocpc": "ocpc",
}
# Route prefixes with a meaning of their own; every other path maps straight into ROOT.
SPECIAL = ("files", "nolength", "redirect", "stall", "reset", "short", "trickle", "status", "record")


class State:
    """Folders and the small amount of shared mutable state of the server."""

    def __init__(self, root, state):
        self.root = os.path.abspath(root)
        self.state = os.path.realpath(state)
        self.rules_dir = os.path.join(self.state, "rules")
        self.records_dir = os.path.join(self.state, "records")
        self.log_path = os.path.join(self.state, "requests.log")
        self.rate_path = os.path.join(self.state, "rate")
        self.lock = threading.Lock()
        self.rule_uses = {}  # (file name, inode, mtime, content) -> times used
        self.last_seq = {}  # record name -> last sequence number handed out
        self.stopping = threading.Event()

    def log_request(self, entry):
        line = json.dumps(entry, ensure_ascii=False) + "\n"
        with self.lock:
            with open(self.log_path, "a", encoding="utf-8") as f:
                f.write(line)

    def match_rule(self, port, method, path):
        """The action of the first rule (by file name) that matches, or None. Counts its use."""
        try:
            names = sorted(n for n in os.listdir(self.rules_dir) if n.endswith(".json"))
        except OSError:
            return None
        for name in names:
            full = os.path.join(self.rules_dir, name)
            try:
                with open(full, "rb") as f:
                    raw = f.read()
                    st = os.fstat(f.fileno())
                rule = json.loads(raw.decode("utf-8"))
            except (OSError, ValueError):
                continue  # removed meanwhile or not (yet) a whole document
            if not isinstance(rule, dict) or rule.get("path") != path:
                continue
            try:
                rule_port = int(rule.get("port", 0) or 0)
                times = None if rule.get("times") is None else int(rule["times"])
            except (TypeError, ValueError):
                continue
            if rule_port not in (0, port):
                continue
            if "method" in rule and str(rule["method"]).upper() != method:
                continue
            action = str(rule.get("action", ""))
            if times is not None:
                # Keyed by identity and content, so a file written anew under the same name
                # starts counting again.
                key = (name, st.st_ino, st.st_mtime_ns, raw)
                with self.lock:
                    used = self.rule_uses.get(key, 0)
                    if used >= times:
                        continue
                    self.rule_uses[key] = used + 1
            return action
        return None

    def rate(self):
        try:
            with open(self.rate_path, "r", encoding="ascii") as f:
                value = int(f.read().strip() or "0")
            return value if value > 0 else None
        except (OSError, ValueError):
            return None

    def write_record(self, name, record):
        folder = os.path.join(self.records_dir, name)
        os.makedirs(folder, exist_ok=True)
        with self.lock:
            seq = self.last_seq.get(name, 0)
            for entry in os.listdir(folder):
                stem = entry[:-5] if entry.endswith(".json") else ""
                if stem.isdigit():
                    seq = max(seq, int(stem))
            seq += 1
            self.last_seq[name] = seq
            final = os.path.join(folder, "%06d.json" % seq)
            # Readers glob *.json; the temporary name does not match and the rename is atomic.
            temp = os.path.join(folder, ".%06d.tmp" % seq)
            with open(temp, "w", encoding="utf-8") as f:
                json.dump(record, f, ensure_ascii=False, indent=1)
            os.replace(temp, final)
        return final


class ClientGone(Exception):
    pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvTestServer/1.0"
    sys_version = ""
    timeout = 150  # idle keep-alive connections and blocked sends end after this
    disable_nagle_algorithm = True

    # --- plumbing -------------------------------------------------------------------------

    @property
    def st(self):
        return self.server.st

    @property
    def port(self):
        return self.server.server_address[1]

    def log_message(self, fmt, *args):
        pass  # requests.log is the record of traffic

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except (ClientGone, ConnectionError, socket.timeout, ssl.SSLError, BrokenPipeError):
            self.close_connection = True
        except OSError as e:
            if e.errno not in (errno.EBADF, errno.ECONNRESET, errno.EPIPE, errno.ENOTCONN):
                self.report_error()
            self.close_connection = True
        except Exception:
            self.report_error()
            self.close_connection = True

    def report_error(self):
        sys.stderr.write("testserver: error on port %d, %s %s\n" % (self.port, self.command, self.path))
        traceback.print_exc(file=sys.stderr)
        sys.stderr.flush()

    def write(self, data):
        try:
            self.wfile.write(data)
        except (OSError, ValueError) as e:
            raise ClientGone() from e

    def start_response(self, code, headers, length=None, close=False):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if length is not None:
            self.send_header("Content-Length", str(length))
        if close:
            self.send_header("Connection", "close")  # also sets close_connection
        self.end_headers()

    def split_target(self):
        parts = urllib.parse.urlsplit(self.path)
        return urllib.parse.unquote(parts.path or "/"), parts.query

    def log_entry(self, path, query):
        self.st.log_request({
            "time": round(time.time(), 3),
            "port": self.port,
            "tls": self.server.tls,
            "method": self.command,
            "path": path + ("?" + query if query else ""),
            "headers": {k.lower(): v for k, v in self.headers.items()},
        })

    # --- methods --------------------------------------------------------------------------

    def do_GET(self):
        self.dispatch(head=False)

    def do_HEAD(self):
        self.dispatch(head=True)

    def do_POST(self):
        path, query = self.split_target()
        self.log_entry(path, query)
        body = self.read_body()
        action = self.st.match_rule(self.port, "POST", path)
        if action and not self.apply_rule(action, path, lambda: self.json_reply(), head=False):
            return
        name = RECORD_PATHS.get(path)
        if name is None and path.startswith("/record/"):
            name = path[len("/record/"):]
            if not name or "/" in name or name.startswith("."):
                name = None
        if name is None:
            self.send_page(404, head=False)
            return
        try:
            text = body.decode("utf-8")
        except UnicodeDecodeError:
            text = None
        self.st.write_record(name, {
            "port": self.port,
            "method": "POST",
            "path": path + ("?" + query if query else ""),
            "headers": {k.lower(): v for k, v in self.headers.items()},
            "header_order": list(self.headers.keys()),
            "body_b64": base64.b64encode(body).decode("ascii"),
            "body": text,
        })
        self.json_reply().send(self, head=False)

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            chunks = []
            while True:
                size_line = self.rfile.readline(1024)
                if not size_line:
                    raise ClientGone()
                size = int(size_line.split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline(1024) not in (b"\r\n", b"\n", b""):
                        pass  # trailers
                    return b"".join(chunks)
                chunks.append(self.read_exact(size))
                self.rfile.readline(1024)
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.read_exact(length)

    def read_exact(self, n):
        data = self.rfile.read(n) if n > 0 else b""
        if len(data) != n:
            raise ClientGone()
        return data

    def json_reply(self):
        return Body(200, [("Content-Type", "application/json")], data=b'{"code":0}')

    # --- GET routing ----------------------------------------------------------------------

    def dispatch(self, head):
        path, query = self.split_target()
        self.log_entry(path, query)
        params = urllib.parse.parse_qs(query)
        action = self.st.match_rule(self.port, self.command, path)
        if action and not self.apply_rule(action, path, lambda: self.route_body(path), head):
            return

        segments = path.lstrip("/").split("/", 1)
        route, rest = segments[0], (segments[1] if len(segments) > 1 else "")
        if route == "files":
            self.serve_file(rest, head)
        elif route == "nolength":
            self.serve_file(rest, head, mode="nolength")
        elif route in ("stall", "reset", "short"):
            self.serve_file(rest, head, mode=route)
        elif route == "trickle":
            try:
                step = max(1, int(params.get("bytes", ["1024"])[0]))
                pause = max(0, int(params.get("ms", ["100"])[0]))
            except ValueError:
                self.send_page(400, head)
                return
            self.serve_file(rest, head, mode="trickle", trickle=(step, pause))
        elif route == "redirect":
            self.redirect_chain(rest, query, head)
        elif route == "status":
            try:
                code = int(rest.split("/")[0])
            except ValueError:
                code = 400
            self.send_page(code if 200 <= code <= 599 else 400, head)
        else:
            self.serve_file(path.lstrip("/"), head)

    def route_body(self, path):
        """What a rule's stall/short/reset sends: the file the path would serve, or a filler."""
        segments = path.lstrip("/").split("/", 1)
        if segments[0] in SPECIAL and len(segments) > 1:
            rel = segments[1]
            if segments[0] == "redirect" and "/" in rel:
                rel = rel.split("/", 1)[1]
        else:
            rel = path.lstrip("/")
        full = self.resolve(rel)
        if full:
            return Body(200, [("Content-Type", content_type(full))], path=full)
        return Body(200, [("Content-Type", "application/octet-stream")], data=b"x" * 65536)

    def resolve(self, rel):
        rel = rel.lstrip("/")
        if not rel:
            return None
        # A lexical check: ".." may not leave ROOT, but symbolic links inside it are followed.
        full = os.path.normpath(os.path.join(self.st.root, rel))
        if not full.startswith(self.st.root + os.sep) or not os.path.isfile(full):
            return None
        return full

    def serve_file(self, rel, head, mode="full", trickle=None):
        full = self.resolve(rel)
        if not full:
            self.send_page(404, head)
            return
        Body(200, [("Content-Type", content_type(full))], path=full).send(
            self, head, mode=mode, trickle=trickle, rate=self.st.rate())

    def redirect_chain(self, rest, query, head):
        count, _, rel = rest.partition("/")
        try:
            n = int(count)
        except ValueError:
            self.send_page(404, head)
            return
        if n <= 0:
            self.serve_file(rel, head)
            return
        target = "/redirect/%d/%s" % (n - 1, rel) if n > 1 else "/files/" + rel
        self.send_redirect(urllib.parse.quote(target) + ("?" + query if query else ""), head)

    def send_redirect(self, location, head):
        if location.startswith("/"):
            host = self.headers.get("Host") or "127.0.0.1:%d" % self.port
            location = "%s://%s%s" % ("https" if self.server.tls else "http", host, location)
        Body(302, [("Location", location), ("Content-Type", "text/html")],
             data=page(302, "Found", "Moved to %s" % location)).send(self, head)

    def send_page(self, code, head):
        reason = self.responses.get(code, ("Status",))[0]
        if code in (204, 304):
            self.start_response(code, [])
            return
        Body(code, [("Content-Type", "text/html")], data=page(code, reason)).send(self, head)

    # --- rules ----------------------------------------------------------------------------

    def apply_rule(self, action, path, make_body, head):
        """Carries out a rule. Returns True when normal handling should go on afterwards."""
        if action.startswith("delay_ms:"):
            try:
                time.sleep(max(0, int(action.split(":", 1)[1])) / 1000.0)
            except ValueError:
                sys.stderr.write("testserver: bad delay in rule %r for %s\n" % (action, path))
            return True
        if action.startswith("redirect:"):
            self.send_redirect(action.split(":", 1)[1], head)
            return False
        if action.isdigit():
            self.send_page(int(action), head)
            return False
        if action in ("stall", "short", "reset"):
            make_body().send(self, head, mode=action)
            return False
        if action == "close":
            self.close_connection = True
            return False
        if action == "hang":
            self.close_connection = True
            self.hold_open()
            return False
        sys.stderr.write("testserver: unknown rule action %r for %s\n" % (action, path))
        return True

    def hold_open(self):
        """Sends nothing more until the client leaves, the hold time ends or the server stops."""
        deadline = time.monotonic() + STALL_HOLD_SECONDS
        self.connection.settimeout(0.5)
        while time.monotonic() < deadline and not self.st.stopping.is_set():
            try:
                if not self.connection.recv(65536):
                    break
            except socket.timeout:
                continue
            except ssl.SSLWantReadError:
                continue
            except (OSError, ValueError):
                break
        self.close_connection = True

    def abort_connection(self):
        # SO_LINGER with a zero time-out turns close() into a reset.
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.rfile.close()
            self.connection.close()
        except OSError:
            pass
        self.close_connection = True


class Body:
    """A response: status, headers and a body from memory or from a file."""

    def __init__(self, code, headers, data=None, path=None):
        self.code = code
        self.headers = headers
        self.data = data
        self.path = path
        self.size = len(data) if data is not None else os.path.getsize(path)

    def send(self, h, head, mode="full", trickle=None, rate=None):
        close = mode in ("nolength", "short", "stall", "reset")
        h.start_response(self.code, self.headers, length=None if mode == "nolength" else self.size, close=close)
        if head:
            return
        limit = self.size // 2 if mode in ("stall", "short", "reset") else self.size
        if mode == "trickle":
            step, pause = trickle
            self.stream(h, limit, step=step, pause=pause / 1000.0)
        else:
            self.stream(h, limit, rate=rate)
        if mode == "stall":
            h.hold_open()
        elif mode == "reset":
            time.sleep(0.1)  # lets the client take in the part sent before the reset discards it
            h.abort_connection()
        # short and nolength end with the normal close that close_connection asks for

    def stream(self, h, limit, rate=None, step=None, pause=0.0):
        if self.data is not None:
            source = None
        else:
            source = open(self.path, "rb")
        try:
            if source is not None and rate is None and step is None and not h.server.tls:
                try:
                    h.connection.sendfile(source, 0, limit)
                except (OSError, ValueError) as e:
                    raise ClientGone() from e
                return
            sent = 0
            started = time.monotonic()
            block = step or (min(CHUNK, max(1024, rate // 20)) if rate else CHUNK)
            while sent < limit:
                n = min(block, limit - sent)
                piece = self.data[sent:sent + n] if source is None else source.read(n)
                if not piece:
                    break
                h.write(piece)
                sent += len(piece)
                if step is not None and sent < limit:
                    time.sleep(pause)
                elif rate:
                    ahead = started + sent / rate - time.monotonic()
                    if ahead > 0:
                        time.sleep(ahead)
        finally:
            if source is not None:
                source.close()


def page(code, reason, text=None):
    body = "<!DOCTYPE html>\n<html><head><title>%d %s</title></head><body><h1>%d %s</h1><p>%s</p></body></html>\n" % (
        code, html.escape(reason), code, html.escape(reason), html.escape(text or reason))
    return body.encode("utf-8")


def content_type(path):
    guessed, _ = mimetypes.guess_type(path)
    return guessed or "application/octet-stream"


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port, st, tls_context):
        self.st = st
        self.tls = tls_context is not None
        self.tls_context = tls_context
        super().__init__(("127.0.0.1", port), Handler)

    def finish_request(self, request, client_address):
        if not self.tls_context:
            super().finish_request(request, client_address)
            return
        # The handshake runs here, on the connection's own thread, so a client that never
        # completes it (or refuses the certificate) holds up no one else.
        request.settimeout(15)
        try:
            conn = self.tls_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            super().finish_request(conn, client_address)
        finally:
            # An orderly TLS close (close_notify), so a body ended by closing the connection
            # reads as ended, not as a broken connection.
            try:
                conn.settimeout(1)
                conn.unwrap()
            except (ssl.SSLError, OSError, ValueError):
                pass
            try:
                conn.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        if isinstance(exc, (ConnectionError, socket.timeout, ssl.SSLError, ClientGone)):
            return
        sys.stderr.write("testserver: unhandled error on port %d\n" % self.server_address[1])
        traceback.print_exc(file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description="Loopback test server")
    parser.add_argument("--base-port", type=int, default=18000)
    parser.add_argument("--root", required=True, help="folder of the served files")
    parser.add_argument("--state", required=True, help="folder for ready, requests.log, rules/, records/, rate")
    parser.add_argument("--certs", required=True, help="folder made by make-certs.sh")
    args = parser.parse_args()

    os.makedirs(args.root, exist_ok=True)
    os.makedirs(args.state, exist_ok=True)
    st = State(args.root, args.state)
    os.makedirs(st.rules_dir, exist_ok=True)
    os.makedirs(st.records_dir, exist_ok=True)
    ready = os.path.join(st.state, "ready")
    try:
        os.remove(ready)
    except FileNotFoundError:
        pass

    servers = []
    for offset, role, cert in PORTS:
        context = None
        if cert:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(args.certs, cert + ".pem"), os.path.join(args.certs, cert + ".key"))
        port = args.base_port + offset
        try:
            servers.append(Server(port, st, context))
        except OSError as e:
            sys.stderr.write("testserver: cannot listen on 127.0.0.1:%d (%s): %s\n" % (port, role, e))
            for s in servers:
                s.server_close()
            return 1

    def stop(signum, frame):
        st.stopping.set()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    threads = []
    for s in servers:
        t = threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
        t.start()
        threads.append(t)

    temp = ready + ".tmp"
    with open(temp, "w", encoding="ascii") as f:
        f.write("%d\n" % os.getpid())
    os.replace(temp, ready)
    sys.stderr.write("testserver: pid %d listening on 127.0.0.1, base port %d\n" % (os.getpid(), args.base_port))
    sys.stderr.flush()

    while not st.stopping.wait(0.5):
        pass

    for s in servers:
        s.shutdown()
        s.server_close()
    try:
        with open(ready, "r", encoding="ascii") as f:
            if f.readline().strip() == str(os.getpid()):
                os.remove(ready)
    except OSError:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

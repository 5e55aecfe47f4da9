#!/usr/bin/env python3
"""HTTP and HTTPS servers on 127.0.0.1 for the transport tests.

  http_test_server.py start DIR   makes a test authority and certificates in
                                  DIR with openssl, starts the servers in the
                                  background and returns once DIR/servers.txt
                                  lists their ports
  http_test_server.py stop DIR    stops them

Servers (names in servers.txt): http (plain), https (certificate for
localhost and 127.0.0.1 from the test authority), expired (the same names,
validity over in the past), wronghost (only the name wrong.example),
unknown (from an authority nobody trusts). servers.txt also names the
authority's certificate (ca, PEM; ca_der, DER) and the record file.

Every request is appended to the record file as one JSON object: server,
method, path, version, headers (in order), body (hex). What the server
answers depends on the path:
  /status/N        status N, body "OK"
  /redirect        302 to /status/200 on the same server (tag kept)
  /chunked         200, body "part00;" to "part39;" in 40 chunks
  /nul             200, body "before", NUL, "after"
  /echo            200, the request body
  /auth            401 with a Basic challenge unless the request has an
                   Authorization header; then 200, body "welcome"
  /big             200, 17 MB of "x" (Content-Length given)
  /hang            reads the request and never answers (until the client
                   goes, or 120 s)
The servers end by themselves after 30 minutes.
"""

import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LIFETIME_SECONDS = 30 * 60
HANG_SECONDS = 120


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


CA_CONFIG = """[ca]
default_ca = test_ca
[test_ca]
database = {name}.index
new_certs_dir = .
serial = {name}.serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
"""


def make_authority(directory, name, subject):
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", name + ".key", "-out", name + ".pem", "-days", "30",
            "-subj", "/CN=" + subject,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=directory)
    with open(os.path.join(directory, name + ".cnf"), "w") as config:
        config.write(CA_CONFIG.format(name=name))
    open(os.path.join(directory, name + ".index"), "w").close()
    with open(os.path.join(directory, name + ".serial"), "w") as serial:
        serial.write("%032x\n" % int.from_bytes(os.urandom(15), "big"))


def make_leaf(directory, authority, name, alt_names, dates):
    openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
            "-subj", "/CN=" + alt_names[0].split(":", 1)[1],
            "-addext", "subjectAltName=" + ",".join(alt_names),
            "-addext", "extendedKeyUsage=serverAuth", cwd=directory)
    openssl("ca", "-batch", "-notext", "-config", authority + ".cnf", "-cert", authority + ".pem",
            "-keyfile", authority + ".key", "-in", name + ".csr", "-out", name + ".pem", *dates,
            cwd=directory)


def make_certificates(directory):
    current = ["-days", "30"]
    past = ["-startdate", "20200101000000Z", "-enddate", "20210101000000Z"]
    local_names = ["DNS:localhost", "IP:127.0.0.1"]
    # A name of its own for each run: a Wine prefix that trusted an earlier
    # run's authority must not take that one for this one's issuer.
    make_authority(directory, "ca", "Vornlink Test Authority " + os.urandom(4).hex())
    make_authority(directory, "other_ca", "Untrusted Test Authority")
    make_leaf(directory, "ca", "https", local_names, current)
    make_leaf(directory, "ca", "expired", local_names, past)
    make_leaf(directory, "ca", "wronghost", ["DNS:wrong.example"], current)
    make_leaf(directory, "other_ca", "unknown", local_names, current)
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=directory)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestDMS/1.0"

    def log_message(self, *args):
        pass

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except (ConnectionError, ssl.SSLError, OSError):
            self.close_connection = True

    def record(self, body):
        entry = {
            "server": self.server.name,
            "method": self.command,
            "path": self.path,
            "version": self.request_version,
            "headers": [[key, value] for key, value in self.headers.items()],
            "body": body.hex(),
        }
        with self.server.record_lock:
            with open(self.server.record_path, "a") as record:
                record.write(json.dumps(entry) + "\n")

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for key, value in headers:
            self.send_header(key, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        self.record(body)
        path, _, query = self.path.partition("?")
        if path.startswith("/status/"):
            status = int(path.split("/")[2])
            self.answer(status, b"" if status in (204, 304) else b"OK")
        elif path == "/redirect":
            self.answer(302, b"moved", [("Location", "/status/200?" + query)])
        elif path == "/chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.send_header("Connection", "close")
            self.end_headers()
            for part in range(40):
                data = b"part%02d;" % part
                self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
                self.wfile.flush()
                time.sleep(0.002)
            self.wfile.write(b"0\r\n\r\n")
            self.close_connection = True
        elif path == "/nul":
            self.answer(200, b"before\0after")
        elif path == "/echo":
            self.answer(200, body)
        elif path == "/auth":
            if self.headers.get("Authorization"):
                self.answer(200, b"welcome")
            else:
                self.answer(401, b"who?", [("WWW-Authenticate", 'Basic realm="dms"')])
        elif path == "/big":
            size = 17 << 20
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.send_header("Connection", "close")
            self.end_headers()
            piece = b"x" * 65536
            for _ in range(size // len(piece)):
                self.wfile.write(piece)
            self.close_connection = True
        elif path == "/hang":
            self.connection.settimeout(HANG_SECONDS)
            try:
                # Returns when the client closes (or after the time-out).
                self.connection.recv(1)
            except (OSError, ssl.SSLError):
                pass
            self.close_connection = True
        else:
            self.answer(404, b"no such test path")

    do_GET = serve
    do_POST = serve
    do_PUT = serve


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def start_servers(directory):
    record_path = os.path.join(directory, "record.jsonl")
    record_lock = threading.Lock()
    servers = {}
    for name in ("http", "https", "expired", "wronghost", "unknown"):
        server = Server(("127.0.0.1", 0), Handler)
        server.name = name
        server.record_path = record_path
        server.record_lock = record_lock
        if name != "http":
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(directory, name + ".pem"),
                                    os.path.join(directory, name + ".key"))
            # The handshake happens on the handler's thread, not in accept.
            server.socket = context.wrap_socket(server.socket, server_side=True,
                                                do_handshake_on_connect=False)
        servers[name] = server
        threading.Thread(target=server.serve_forever, daemon=True).start()
    return servers


def run(directory):
    servers = start_servers(directory)
    lines = ["%s=%d" % (name, server.server_address[1]) for name, server in servers.items()]
    lines += ["ca=" + os.path.join(directory, "ca.pem"),
              "ca_der=" + os.path.join(directory, "ca.der"),
              "record=" + os.path.join(directory, "record.jsonl")]
    temporary = os.path.join(directory, "servers.txt.new")
    with open(temporary, "w") as info:
        info.write("\n".join(lines) + "\n")
    os.replace(temporary, os.path.join(directory, "servers.txt"))
    time.sleep(LIFETIME_SECONDS)


def stop(directory):
    try:
        with open(os.path.join(directory, "server.pid")) as pid_file:
            pid = int(pid_file.read().strip())
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass
    for name in ("servers.txt", "server.pid"):
        try:
            os.remove(os.path.join(directory, name))
        except OSError:
            pass


def start(directory):
    stop(directory)
    os.makedirs(directory, exist_ok=True)
    for name in os.listdir(directory):
        os.remove(os.path.join(directory, name))
    make_certificates(directory)
    log = open(os.path.join(directory, "server.log"), "w")
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "run", directory],
                             stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                             start_new_session=True)
    with open(os.path.join(directory, "server.pid"), "w") as pid_file:
        pid_file.write(str(child.pid))
    for _ in range(200):
        if os.path.exists(os.path.join(directory, "servers.txt")):
            print("transport test servers ready in " + directory)
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    print("transport test servers did not start; see " + os.path.join(directory, "server.log"))
    return 1


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "run"):
        print(__doc__)
        return 2
    directory = os.path.abspath(sys.argv[2])
    if sys.argv[1] == "start":
        return start(directory)
    if sys.argv[1] == "stop":
        stop(directory)
        return 0
    run(directory)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""HTTP and HTTPS servers on 127.0.0.1 for the transport tests: http_test_server.py start|stop DIR

start makes a test authority and certificates in DIR, starts the servers (see make_certificates;
paths: Handler.serve) and returns once DIR/servers.txt names their ports, ca, ca_der and the record
file (a JSON line per request). They run until stop, or until the program that started them
(CTest) has gone; DIR/server.log says how they ended.
"""

import json, os, signal, socket, ssl, subprocess, sys, threading, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

# The authorities' configuration, {name} filled in.
CA_CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "test_ca.cnf")
EC_KEY = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
# The authorities sign with RSA, whose signature always has the key's length: Wine rejects an ECDSA
# signature whose r or s is shorter than the curve (about one in 128), failing HTTPS tests at random.
RSA_KEY = ["-newkey", "rsa:2048", "-nodes"]


def openssl(directory, *args):
    subprocess.run(["openssl", *args], cwd=directory, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(directory):
    def authority(name, subject):
        openssl(directory, "req", "-x509", *RSA_KEY, "-keyout", name + ".key", "-out", name + ".pem",
                "-days", "30", "-subj", "/CN=" + subject,
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        for suffix, text in ((".cnf", open(CA_CONFIG).read().format(name=name)), (".index", ""),
                             (".serial", "%032x\n" % int.from_bytes(os.urandom(15), "big"))):
            with open(os.path.join(directory, name + suffix), "w") as file:
                file.write(text)

    def leaf(ca, name, alt_names, dates):
        openssl(directory, "req", "-new", *EC_KEY, "-keyout", name + ".key", "-out", name + ".csr",
                "-subj", "/CN=" + alt_names[0].split(":", 1)[1],
                "-addext", "subjectAltName=" + ",".join(alt_names),
                "-addext", "extendedKeyUsage=serverAuth")
        openssl(directory, "ca", "-batch", "-notext", "-config", ca + ".cnf", "-cert", ca + ".pem",
                "-keyfile", ca + ".key", "-in", name + ".csr", "-out", name + ".pem", *dates)

    current, local = ["-days", "30"], ["DNS:localhost", "IP:127.0.0.1"]
    # A name per run: a Wine prefix that trusted an earlier run's authority must not take it for this.
    authority("ca", "Vornlink Test Authority " + os.urandom(4).hex())
    authority("other_ca", "Untrusted Test Authority")
    leaf("ca", "https", local, current)
    leaf("ca", "expired", local, ["-startdate", "20200101000000Z", "-enddate", "20210101000000Z"])
    leaf("ca", "wronghost", ["DNS:wrong.example"], current)
    leaf("other_ca", "unknown", local, current)
    openssl(directory, "x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")


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

    def answer(self, status, body=b"", headers=(), length=None):
        self.send_response(status)
        for key, value in headers:
            self.send_header(key, value)
        if length != "chunked":
            self.send_header("Content-Length", str(len(body) if length is None else length))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def serve(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        entry = {"server": self.server.name, "method": self.command, "path": self.path,
                 "version": self.request_version, "headers": list(map(list, self.headers.items())),
                 "body": body.hex()}
        with self.server.record_lock, open(self.server.record_path, "a") as record:
            record.write(json.dumps(entry) + "\n")
        path, _, query = self.path.partition("?")
        if path.startswith("/status/"):
            status = int(path.split("/")[2])
            self.answer(status, b"" if status in (204, 304) else b"OK")
        elif path == "/redirect":
            self.answer(302, b"moved", [("Location", "/status/200?" + query)])
        elif path == "/chunked":
            self.answer(200, headers=[("Transfer-Encoding", "chunked")], length="chunked")
            for part in range(40):
                self.wfile.write(b"7\r\npart%02d;\r\n" % part)
                self.wfile.flush()
                time.sleep(0.002)
            self.wfile.write(b"0\r\n\r\n")
        elif path in ("/nul", "/echo"):
            self.answer(200, b"before\0after" if path == "/nul" else body)
        elif path == "/nul-then-more":  # the NUL in one read, more bytes in a later one
            self.answer(200, length=12)
            self.wfile.write(b"before\0af")
            self.wfile.flush()
            time.sleep(0.3)
            self.wfile.write(b"ter")
        elif path == "/auth":
            if self.headers.get("Authorization"):
                self.answer(200, b"welcome")
            else:
                self.answer(401, b"who?", [("WWW-Authenticate", 'Basic realm="dms"')])
        elif path == "/big":
            self.answer(200, length=17 << 20)
            for _ in range(17 << 4):
                self.wfile.write(b"x" * 65536)
        elif path == "/hang":
            self.connection.settimeout(120)
            try:
                self.connection.recv(1)  # returns when the client goes
            except (OSError, ssl.SSLError):
                pass
            self.close_connection = True
        else:
            self.answer(404, b"no such test path")

    do_GET = do_POST = do_PUT = serve


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128  # a burst of connections is queued, not refused


def log(text):
    print(time.strftime("%H:%M:%S ") + text, flush=True)


def sender(info):
    try:
        with open("/proc/%d/cmdline" % info.si_pid, "rb") as cmdline:
            return "%d (%s)" % (info.si_pid, cmdline.read().replace(b"\0", b" ").decode().strip())
    except OSError:
        return "%d" % info.si_pid


def serve_until_stopped(owner):
    """Returns at a stop signal or once `owner` (the starter's parent) has gone; says which."""
    signals = {signal.SIGTERM, signal.SIGINT, signal.SIGHUP}
    while True:
        info = signal.sigtimedwait(signals, 1.0)
        if info is not None:
            log("stopped by signal %d from process %s" % (info.si_signo, sender(info)))
            return
        try:
            os.kill(owner, 0)
        except ProcessLookupError:
            log("stopped: process %d, which started the servers, has ended" % owner)
            return


def run(directory, owner):
    # The stop signals wait for serve_until_stopped, in every thread.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT, signal.SIGHUP})
    lines, lock = [], threading.Lock()
    for name in ("http", "https", "expired", "wronghost", "unknown"):
        server = Server(("127.0.0.1", 0), Handler)
        server.name, server.record_lock = name, lock
        server.record_path = os.path.join(directory, "record.jsonl")
        if name != "http":
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(directory, name + ".pem"),
                                    os.path.join(directory, name + ".key"))
            # The handshake happens on the handler's thread, not in accept.
            server.socket = context.wrap_socket(server.socket, server_side=True,
                                                do_handshake_on_connect=False)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        lines.append("%s=%d" % (name, server.server_address[1]))
    lines += ["%s=%s" % (key, os.path.join(directory, file)) for key, file in
              (("ca", "ca.pem"), ("ca_der", "ca.der"), ("record", "record.jsonl"))]
    with open(os.path.join(directory, "servers.txt.new"), "w") as info:
        info.write("\n".join(lines) + "\n")
    os.replace(os.path.join(directory, "servers.txt.new"), os.path.join(directory, "servers.txt"))
    log("serving: " + " ".join(lines[:5]))
    serve_until_stopped(owner)


def stop(directory):
    try:
        with open(os.path.join(directory, "server.pid")) as pid_file:
            pid = int(pid_file.read().strip())
        # Only the servers of DIR: the number may have passed to another process since.
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            words = cmdline.read().split(b"\0")
        if os.fsencode(os.path.abspath(__file__)) in words and os.fsencode(directory) in words:
            os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass
    for name in ("servers.txt", "server.pid"):
        if os.path.exists(os.path.join(directory, name)):
            os.remove(os.path.join(directory, name))


def start(directory):
    stop(directory)
    os.makedirs(directory, exist_ok=True)
    for name in os.listdir(directory):
        os.remove(os.path.join(directory, name))
    make_certificates(directory)
    log = open(os.path.join(directory, "server.log"), "w")
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "run", directory,
                              str(os.getppid())],
                             stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
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


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in ("start", "stop", "run"):
        sys.exit(__doc__)
    directory = os.path.abspath(sys.argv[2])
    if sys.argv[1] == "run":
        sys.exit(run(directory, int(sys.argv[3])))
    sys.exit({"start": start, "stop": lambda d: stop(d) or 0}[sys.argv[1]](directory))

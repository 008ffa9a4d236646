"""Does clifclient resume TLS sessions across its connections?

A TLS front end (Python's ssl module, the stand-in's certificate) passes each
connection on to the stand-in CMS serving plain HTTP and notes whether the client's
handshake resumed an earlier session. The client runs a short command and a command
that it polls for a second; the table counts full and resumed handshakes per service,
for the current client and, when given, an earlier build of it. A client that goes on over the logon's
connection shows its clif calls under the logon's connection (none of its own).

usage: tls_resumption.py BUILD_DIR [BASELINE_CLIENT]
"""

import os
import re
import select
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from vel_testsupport import make_command, make_pki, write_client_config  # noqa: E402

LOGON_PATH = "/velsoap/services/VelpiMain5_0"
INVOKE_PATH = "/jboss-net/services/clifservice"


class TlsFront:
    """Accepts TLS on 127.0.0.1, relays bytes to a plain-HTTP back end, records per
    connection the request path and whether the session was resumed."""

    def __init__(self, pem, backend_port):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(pem)
        self.backend_port = backend_port
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.connections = []  # (path, resumed)
        self.stopping = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while not self.stopping:
            ready, _, _ = select.select([self.listener], [], [], 0.2)
            if not ready:
                continue
            raw, _ = self.listener.accept()
            try:
                self.relay(raw)
            except (OSError, ssl.SSLError):
                pass
            finally:
                raw.close()

    def relay(self, raw):
        raw.settimeout(30)
        tls = self.context.wrap_socket(raw, server_side=True)
        resumed = tls.session_reused
        backend = socket.create_connection(("127.0.0.1", self.backend_port), timeout=30)
        first = b""
        try:
            open_ends = {tls: backend, backend: tls}
            while open_ends:
                ready, _, _ = select.select(list(open_ends), [], [], 30)
                if not ready:
                    break
                for source in ready:
                    data = source.recv(65536)
                    if not data:
                        if source is backend:
                            open_ends.clear()
                        else:
                            del open_ends[source]
                            backend.shutdown(socket.SHUT_WR)
                        break
                    if source is tls and not first:
                        first = data
                    open_ends[source].sendall(data)
        finally:
            backend.close()
            try:
                tls.close()
            except OSError:
                pass
        path = first.split(b" ", 2)[1].decode() if first.count(b" ") >= 2 else "?"
        self.connections.append((path, resumed))

    def stop(self):
        self.stopping = True
        self.thread.join(timeout=10)
        self.listener.close()


def main():
    build = os.path.abspath(sys.argv[1])
    clients = [("current", os.path.join(build, "vel", "client", "clifclient"))]
    if len(sys.argv) > 2 and sys.argv[2]:
        clients.append(("baseline", os.path.abspath(sys.argv[2])))
    pki = make_pki()
    work = tempfile.mkdtemp(prefix="vel-bench-tls-")
    cms = None
    front = None
    try:
        commands = os.path.join(work, "commands")
        make_command(commands, "hello", "echo hello\n")
        make_command(commands, "pause", "sleep 1\n")
        users = os.path.join(work, "users")
        with open(users, "w") as f:
            f.write("admin:secret\n")
        cms = subprocess.Popen([os.path.join(build, "vel", "tools", "cms", "velcms"), "--port", "0", "--http",
                                "--users", users, "--commands", commands, "--poll-ms", "10"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        match = re.search(r":(\d+)", cms.stdout.readline().decode().rsplit("//", 1)[-1])
        front = TlsFront(pki.server_pem, int(match.group(1)))
        base = "https://127.0.0.1:%d" % front.port
        print("TLS session resumption of clifclient (handshakes seen by a TLS front end)")
        print("%-9s %-8s %-8s %8s %8s" % ("client", "command", "service", "full", "resumed"))
        for name, program in clients:
            bin_dir = os.path.join(work, name, "bin")
            write_client_config(bin_dir, base + LOGON_PATH, base + INVOKE_PATH)
            for command in ("hello", "pause"):
                os.symlink(program, os.path.join(bin_dir, command))
                before = len(front.connections)
                result = subprocess.run([os.path.join(bin_dir, command), "--user", "admin", "--pass", "secret"],
                                        env={"PATH": "/usr/bin:/bin", "HOME": work}, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
                if result.returncode != 0:
                    raise RuntimeError("client failed: %r %r" % (result.stdout, result.stderr))
                seen = front.connections[before:]
                for label, path in (("logon", LOGON_PATH), ("clif", INVOKE_PATH)):
                    mine = [resumed for p, resumed in seen if p == path]
                    print("%-9s %-8s %-8s %8d %8d" % (name, command, label, mine.count(False), mine.count(True)))
    finally:
        if front:
            front.stop()
        if cms:
            cms.send_signal(signal.SIGTERM)
            try:
                cms.wait(timeout=30)
            except subprocess.TimeoutExpired:
                cms.kill()
                cms.wait(timeout=30)
            cms.stdout.close()
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()

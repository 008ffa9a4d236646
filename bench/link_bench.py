"""clifclient over a link with a round-trip time: the delaying proxy (delay_proxy.py) in front of the
stand-in CMS over TLS, at about 0 ms, 10 ms and 50 ms RTT, side by side with an earlier client.

Measured, median wall time of each:
1. the shortest command: logon and an invoke that completes (the stand-in answers a quick command
   at once), over TLS 1.3 and over TLS 1.2 (the stand-in capped at 1.2);
2. one status call: a command whose output comes in 1 KiB replies, about 20 status calls without
   pauses between them, less the shortest command, per status call;
3. the output relay: RELAY_MIB of output; 4. the input relay: RELAY_MIB piped to standard input.
Each figure also in round trips: the time the link adds over the run at about 0 ms RTT, divided
by the RTT. Each run's TCP connections (counted by the proxy) and TLS handshakes (full, resumed,
as the stand-in records them) are given beside it.

usage: link_bench.py BUILD_DIR RUNS RELAY_RUNS RELAY_MIB [BASELINE_CLIENT]
(BUILD_DIR holds client/clifclient and tools/cms/velcms, directly or under vel/)
"""

import glob
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, HERE)
from delay_proxy import DelayProxy  # noqa: E402
from vel_testsupport import make_command, make_pki, write_client_config  # noqa: E402

LOGON_PATH = "/velsoap/services/VelpiMain5_0"
INVOKE_PATH = "/jboss-net/services/clifservice"
RTTS = (0, 10, 50)
STATUS_OUTPUT = 20 * 1024  # bytes, in 1 KiB replies
MIB = 1 << 20


def built(build, *parts):
    for base in (os.path.join(build, "vel"), build):
        path = os.path.join(base, *parts)
        if os.path.exists(path):
            return path
    raise SystemExit("not built: %s" % os.path.join(*parts))


class Cms:
    """A stand-in CMS over TLS, recording each request's handshake."""

    def __init__(self, velcms, work, name, pem, extra):
        self.record = os.path.join(work, name, "record")
        os.makedirs(self.record)
        users = os.path.join(work, "users")
        cmd = [velcms, "--port", "0", "--tls", pem, "--users", users, "--commands", os.path.join(work, "commands"),
               "--poll-ms", "10", "--record", self.record, "--answer-within-ms", "300"] + extra
        self.process = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        stdin=subprocess.DEVNULL)
        self.port = int(re.search(r":(\d+)\s*$", self.process.stdout.readline().decode()).group(1))

    def handshakes(self):
        kinds = {"full": 0, "resumed": 0}
        for name in glob.glob(os.path.join(self.record, "handshake-*.txt")):
            with open(name) as f:
                kind = f.read()
            if kind in kinds:
                kinds[kind] += 1
        return kinds

    def status_calls(self):
        count = 0
        for name in glob.glob(os.path.join(self.record, "request-*.http")):
            with open(name, "rb") as f:
                count += b"<ns5:status" in f.read()
        return count

    def clear(self):
        for name in os.listdir(self.record):
            os.remove(os.path.join(self.record, name))

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()


class Run:
    def __init__(self, seconds, connections, handshakes, status_calls):
        self.seconds, self.connections, self.handshakes, self.status_calls = \
            seconds, connections, handshakes, status_calls


def run_once(program, bin_dir, cms, proxy, command, work, stdin_path=None, expect_out=None):
    cms.clear()
    before = proxy.connections
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    start = time.monotonic()
    try:
        result = subprocess.run([os.path.join(bin_dir, command), "--user", "admin", "--pass", "secret"],
                                env={"PATH": "/usr/bin:/bin", "HOME": work, "LANG": "C"}, stdin=stdin,
                                stdout=subprocess.PIPE if expect_out is not None else subprocess.DEVNULL,
                                stderr=subprocess.PIPE, timeout=1800)
    finally:
        if stdin_path:
            stdin.close()
    seconds = time.monotonic() - start
    if result.returncode != 0 or (expect_out is not None and result.stdout != expect_out):
        raise RuntimeError("%s failed: %r %r" % (command, result.returncode, result.stderr[-500:]))
    time.sleep(0.05)  # the stand-in records the last request before it answers; the proxy counts at once
    return Run(seconds, proxy.connections - before, cms.handshakes(), cms.status_calls())


def median_run(runs):
    seconds = statistics.median(r.seconds for r in runs)
    last = runs[-1]
    return Run(seconds, last.connections, last.handshakes, last.status_calls)


def main():
    build = os.path.abspath(sys.argv[1])
    runs, relay_runs, relay_mib = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    clients = [("current", built(build, "client", "clifclient"))]
    if len(sys.argv) > 5 and sys.argv[5]:
        clients.append(("baseline", os.path.abspath(sys.argv[5])))
    velcms = built(build, "tools", "cms", "velcms")
    pki = make_pki()
    work = tempfile.mkdtemp(prefix="vel-bench-link-")
    servers, proxies = [], []
    try:
        commands = os.path.join(work, "commands")
        make_command(commands, "hello", "echo hello\n")
        make_command(commands, "chunks", "head -c %d /dev/zero | tr '\\0' x\n" % STATUS_OUTPUT)
        make_command(commands, "output", "head -c %d /dev/zero\n" % (relay_mib * MIB))
        make_command(commands, "input", "cat > /dev/null\n")
        with open(os.path.join(work, "users"), "w") as f:
            f.write("admin:secret\n")
        input_file = os.path.join(work, "input.txt")
        line = b"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-_=+.\n"
        with open(input_file, "wb") as f:
            f.write(line * (relay_mib * MIB // len(line)))
        cms = {"tls13": Cms(velcms, work, "tls13", pki.server_pem, []),
               "tls12": Cms(velcms, work, "tls12", pki.server_pem, ["--tls-max", "1.2"]),
               "small": Cms(velcms, work, "small", pki.server_pem, ["--max-chunk", "1024"])}
        servers.extend(cms.values())

        # All links at once, and each round runs every RTT and client in turn, so that a change in
        # the machine's load falls on all of them alike.
        proxy = {(name, rtt): DelayProxy(server.port, rtt) for name, server in cms.items() for rtt in RTTS}
        proxies.extend(proxy.values())
        bins = {}
        for client, program in clients:
            for (name, rtt), link in proxy.items():
                bin_dir = os.path.join(work, "%s-%d-%s" % (client, rtt, name), "bin")
                base = "https://127.0.0.1:%d" % link.port
                write_client_config(bin_dir, base + LOGON_PATH, base + INVOKE_PATH, ca_cert=pki.ca_cert)
                for command in ("hello", "chunks", "output", "input"):
                    os.symlink(program, os.path.join(bin_dir, command))
                bins[(client, name, rtt)] = bin_dir

        results = {}  # (measure, client, rtt) -> Run

        def measure(key, name, command, count, **kw):
            done = {}
            for _ in range(count):
                for rtt in RTTS:
                    for client, _ in clients:
                        bin_dir = bins[(client, name, rtt)]
                        done.setdefault((client, rtt), []).append(
                            run_once(os.path.join(bin_dir, command), bin_dir, cms[name], proxy[(name, rtt)],
                                     command, work, **kw))
            for (client, rtt), runs_done in done.items():
                results[(key, client, rtt)] = median_run(runs_done)
            print("  (%s done)" % key, file=sys.stderr, flush=True)

        measure("shortest, TLS 1.3", "tls13", "hello", runs, expect_out=b"hello\n")
        measure("shortest, TLS 1.2", "tls12", "hello", runs, expect_out=b"hello\n")
        measure("20 KiB in 1 KiB replies", "small", "chunks", runs)
        measure("output relay", "tls13", "output", relay_runs)
        measure("input relay", "tls13", "input", relay_runs, stdin_path=input_file)

        print("clifclient over a link of 0, 10 and 50 ms RTT (delaying proxy in front of the stand-in, TLS)")
        print("%-26s %-9s %4s %10s %8s %6s %10s %7s" %
              ("measure", "client", "RTT", "median s", "link RTT", "TCP", "TLS f/r", "status"))
        for key in ("shortest, TLS 1.3", "shortest, TLS 1.2", "20 KiB in 1 KiB replies",
                    "output relay", "input relay"):
            for client, _ in clients:
                zero = results[(key, client, 0)]
                for rtt in RTTS:
                    r = results[(key, client, rtt)]
                    units = "" if rtt == 0 else "%.2f" % ((r.seconds - zero.seconds) * 1000 / rtt)
                    print("%-26s %-9s %4d %10.3f %8s %6d %10s %7d" %
                          (key, client, rtt, r.seconds, units, r.connections,
                           "%d/%d" % (r.handshakes["full"], r.handshakes["resumed"]), r.status_calls))
        print()
        print("one status call, in RTT (link time of the 20 KiB command less the shortest, per status call):")
        for client, _ in clients:
            for rtt in RTTS[1:]:
                def added(key):
                    return results[(key, client, rtt)].seconds - results[(key, client, 0)].seconds
                calls = results[("20 KiB in 1 KiB replies", client, rtt)].status_calls
                per_call = (added("20 KiB in 1 KiB replies") - added("shortest, TLS 1.3")) / calls
                print("  %-9s %3d ms RTT: %.2f RTT per status call (%d calls)" %
                      (client, rtt, per_call * 1000 / rtt, calls))
        print("relays, in RTT per status call (link time of the relay over its status calls):")
        for key in ("output relay", "input relay"):
            for client, _ in clients:
                for rtt in RTTS[1:]:
                    r, zero = results[(key, client, rtt)], results[(key, client, 0)]
                    print("  %-12s %-9s %3d ms RTT: %.2f RTT per status call, %.1f MiB/s" %
                          (key, client, rtt, (r.seconds - zero.seconds) * 1000 / rtt / max(r.status_calls, 1),
                           relay_mib / r.seconds))
    finally:
        for proxy in proxies:
            proxy.close()
        for server in servers:
            server.stop()
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()

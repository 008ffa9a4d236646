"""clifclient against the stand-in CMS over TLS on 127.0.0.1, side by side with curl.

1. A short command end to end (logon, invoke, status until complete, output, exit):
   median wall time of the client, and of curl sending the same sequence of HTTPS POSTs
   with the same bodies (captured from the stand-in's recorded requests), one
   connection per request, all requests in one curl process.
2. The cost of one status call: the extra wall time per extra status call, for the
   client polling a command that runs for a second and for curl repeating a status
   request on a running command.
3. Output relay: a command writing OUTPUT_MIB (and a quarter of it) to standard output:
   throughput, the client's peak resident size and CPU time per MiB, the stand-in's CPU
   time per MiB. With BASELINE_CLIENT (an earlier build of clifclient), both clients
   relay in turn, several rounds at the smaller size, and the medians are compared.
4. Memory within one reply: the whole output in a single status reply (the stand-in's
   chunk as large as the output), peak resident size against the decoded bytes.
5. Input relay: INPUT_MIB of text lines piped to the client's standard input.
6. Where the client's instructions go while it relays output (callgrind, 16 MiB).

usage: client_bench.py BUILD_DIR RUNS OUTPUT_MIB INPUT_MIB [BASELINE_CLIENT]
"""

import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from vel_testsupport import (StandInCms, envelope, make_command, make_pki, status_xml,  # noqa: E402
                             write_client_config)

MIB = 1 << 20
CLK_TCK = os.sysconf("SC_CLK_TCK")
STATUS_REPEATS = 100         # status requests in curl's long sequence
PAUSE_SECONDS = 1            # run time of the command the client polls for the status cost
INPUT_LINE = b"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-_=+.\n"  # 68 bytes
TIMEOUT = 600


def client_env(home):
    # A small, fixed environment: the client sends all of it with every call.
    return {"PATH": "/usr/bin:/bin", "HOME": home, "LANG": "C"}


class Measured:
    """Peak resident size (KiB) and CPU seconds of one client run, as run-measured reports them."""

    def __init__(self, build, work):
        self.tool = os.path.join(build, "run-measured")
        self.report = os.path.join(work, "measured")

    def argv(self, argv):
        return [self.tool, self.report] + argv

    def read(self):
        with open(self.report) as f:
            fields = dict(item.split("=") for item in f.read().split())
        return int(fields["maxrss_kib"]), float(fields["user_s"]) + float(fields["sys_s"])


def process_cpu_seconds(pid):
    """User plus system time of a running process, from /proc."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


class Client:
    """clifclient installed under the remote commands' names in a "bin" directory that
    holds its configuration (the client runs the command it is named after)."""

    def __init__(self, build, directory, cms, program=None):
        write_client_config(directory, cms.logon_url, cms.invoke_url)
        self.dir = directory
        self.program = program or os.path.join(build, "vel", "client", "clifclient")
        self.env = client_env(directory)

    def argv(self, command, *args):
        path = os.path.join(self.dir, command)
        if not os.path.lexists(path):
            os.symlink(self.program, path)
        return [path, "--user", "admin", "--pass", "secret"] + list(args)

    def run(self, *args):
        start = time.perf_counter()
        result = subprocess.run(self.argv(*args), env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
        elapsed = time.perf_counter() - start
        if result.returncode != 0:
            raise RuntimeError("client %s failed (%d): %s %s" % (args, result.returncode, result.stdout[-500:],
                                                                  result.stderr[-500:]))
        return elapsed, result.stdout


class CurlReplay:
    """curl posting recorded request bodies, one new connection per request (Connection:
    close), TLS sessions resumed across them as curl does within one process."""

    def __init__(self, work, ca_cert):
        self.dir = os.path.join(work, "curl")
        os.makedirs(self.dir)
        self.ca_cert = ca_cert
        self.count = 0

    def argv(self, requests):
        """requests: list of (url, headers dict, body bytes)."""
        argv = ["curl", "--silent", "--show-error", "--cacert", self.ca_cert]
        for i, (url, headers, body) in enumerate(requests):
            self.count += 1
            body_file = os.path.join(self.dir, "body-%d" % self.count)
            with open(body_file, "wb") as f:
                f.write(body)
            if i > 0:
                argv += ["--next", "--silent", "--show-error", "--cacert", self.ca_cert]
            argv += ["--http1.1", "-H", "Connection: close", "-H", "Expect:"]
            for name, value in headers.items():
                argv += ["-H", "%s: %s" % (name, value)]
            argv += ["--data-binary", "@" + body_file, "--output", os.path.join(self.dir, "reply-%d" % i), url]
        return argv

    def run(self, requests, late_from=None):
        """Posts the requests; from index late_from on, a status call may find the command
        already finished and its session gone (the client would have stopped polling)."""
        argv = self.argv(requests)
        start = time.perf_counter()
        result = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=TIMEOUT)
        elapsed = time.perf_counter() - start
        if result.returncode != 0:
            raise RuntimeError("curl failed (%d): %s" % (result.returncode, result.stderr.decode()[-500:]))
        for i in range(len(requests)):
            with open(os.path.join(self.dir, "reply-%d" % i), "rb") as f:
                reply = f.read()
            late = late_from is not None and i >= late_from and b"Unknown session" in reply
            if b"Fault>" in reply and not late:
                raise RuntimeError("curl request %d got a fault: %r" % (i, reply[-300:]))
        return elapsed


class Sessions:
    """The stand-in numbers the commands it starts "session-1", "session-2", ... in order."""

    def __init__(self):
        self.started = 0

    def next_id(self):
        self.started += 1
        return "session-%d" % self.started


def with_session(body, session_id):
    return re.sub(rb">session-\d+<", b">" + session_id.encode() + b"<", body)


def request_of(cms, recorded):
    """(url, headers, body) that replays a recorded request."""
    path = recorded.request_line.split(" ")[1]
    headers = {"Content-Type": recorded.headers.get("content-type", "text/xml; charset=utf-8")}
    if recorded.raw_soap_action is not None:
        headers["SOAPAction"] = recorded.raw_soap_action
    return (cms.base_url + path, headers, recorded.body)


def short_command(cms, client, curl, sessions, runs):
    """Median wall time of a short command, client and curl, alternating in one loop."""
    seen = len(cms.requests())
    client.run("hello")
    sessions.next_id()
    captured = cms.requests()[seen:]
    kinds = [r.operation() for r in captured]
    if kinds[:2] != ["logon", "invoke"] or set(kinds[2:]) != {"status"}:
        raise RuntimeError("unexpected request sequence %s" % kinds)
    logon, invoke, status = (request_of(cms, captured[0]), request_of(cms, captured[1]),
                             request_of(cms, captured[2]))
    status_calls = len(captured) - 2

    client_times, curl_times, client_calls = [], [], []
    for _ in range(runs):
        seen = len(cms.requests())
        elapsed, out = client.run("hello")
        sessions.next_id()
        if out != b"hello\n":
            raise RuntimeError("unexpected output %r" % out)
        client_times.append(elapsed)
        client_calls.append(len(cms.requests()) - seen)

        session_id = sessions.next_id()
        url, headers, body = status
        sequence = [logon, invoke] + [(url, headers, with_session(body, session_id))] * status_calls
        curl_times.append(curl.run(sequence, late_from=3))
    return {"client": client_times, "curl": curl_times, "client_calls": client_calls,
            "curl_calls": 2 + status_calls, "requests": (logon, invoke, status)}


def status_cost(cms, client, curl, sessions, runs, short, measured):
    """Extra wall time per extra status call, client and curl, alternating; and the CPU
    time per status call of the client and of the stand-in while the client polls."""
    logon, invoke, status = short["requests"]
    # curl: the same status request again and again on a command that runs for a while.
    long_invoke = (invoke[0], invoke[1], invoke[2].replace(b">hello<", b">wait<"))
    if long_invoke[2] == invoke[2]:
        raise RuntimeError("cannot find the command name in the recorded invoke request")
    base_calls = statistics.median(short["client_calls"])
    client_extra, curl_extra, client_cpu, server_cpu = [], [], [], []
    for _ in range(max(5, runs // 4)):
        seen = len(cms.requests())
        server_before = process_cpu_seconds(cms.process.pid)
        start = time.perf_counter()
        subprocess.run(measured.argv(client.argv("pause")), env=client.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT, check=True)
        elapsed = time.perf_counter() - start
        server = process_cpu_seconds(cms.process.pid) - server_before
        sessions.next_id()
        calls = len(cms.requests()) - seen
        client_extra.append((elapsed - statistics.median(short["client"])) / (calls - base_calls))
        client_cpu.append(measured.read()[1] / calls)
        server_cpu.append(server / calls)

        session_id = sessions.next_id()
        url, headers, body = status
        sequence = [logon, long_invoke] + [(url, headers, with_session(body, session_id))] * STATUS_REPEATS
        elapsed = curl.run(sequence)
        curl_extra.append((elapsed - statistics.median(short["curl"])) /
                          (STATUS_REPEATS - (short["curl_calls"] - 2)))
    return {"client": statistics.median(client_extra), "curl": statistics.median(curl_extra),
            "client_cpu": statistics.median(client_cpu), "server_cpu": statistics.median(server_cpu)}


def curl_floor(cms, client, curl, sessions, measured, mib, rounds):
    """CPU per MiB of curl fetching the status replies of a command that writes MIB to its
    output (the same requests as the client's, the replies to /dev/null): the cost of TLS and
    HTTP for those bytes, without decoding them or writing them out. Medians of ROUNDS."""
    seen = len(cms.requests())
    subprocess.run(client.argv("flood", str(MIB)), env=client.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT, check=True)
    sessions.next_id()
    captured = cms.requests()[seen:]
    logon, invoke, status = (request_of(cms, captured[0]), request_of(cms, captured[1]),
                             request_of(cms, captured[2]))
    size_text = str(MIB).encode()
    invoke = (invoke[0], invoke[1], invoke[2].replace(b">" + size_text + b"<", b">%d<" % (mib * MIB)))
    if size_text in invoke[2]:
        raise RuntimeError("cannot find the output size in the recorded invoke request")
    cpu = []
    for _ in range(rounds):
        session_id = sessions.next_id()
        url, headers, body = status
        # Enough status calls to drain the output, 1 MiB per reply, and some to spare.
        sequence = [logon, invoke] + [(url, headers, with_session(body, session_id))] * (mib + mib // 4 + 8)
        argv = curl.argv(sequence)
        argv = [shutil.which("curl")] + [a if not a.startswith(curl.dir + "/reply-") else "/dev/null" for a in argv[1:]]
        result = subprocess.run(measured.argv(argv), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=TIMEOUT)
        if result.returncode != 0:
            raise RuntimeError("curl failed (%d): %s" % (result.returncode, result.stderr.decode()[-500:]))
        cpu.append(measured.read()[1])
    return statistics.median(cpu) / mib


class PlainCms:
    """The stand-in without request recording, for the bulk transfers."""

    def __init__(self, velcms, work, pem, commands, max_chunk=None):
        users = os.path.join(work, "users-plain")
        with open(users, "w") as f:
            f.write("admin:secret\n")
        self.err = open(os.path.join(work, "velcms-plain.err"), "ab")
        argv = [velcms, "--port", "0", "--tls", pem, "--users", users, "--commands", commands, "--poll-ms", "10"]
        if max_chunk:
            argv += ["--max-chunk", str(max_chunk)]
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=self.err, stdin=subprocess.DEVNULL)
        line = self.process.stdout.readline().decode()
        match = re.search(r"(https://\S+)", line)
        if not match:
            self.stop()
            raise RuntimeError("velcms did not start: %r" % line)
        self.base_url = match.group(1)
        self.logon_url = self.base_url + "/velsoap/services/VelpiMain5_0"
        self.invoke_url = self.base_url + "/jboss-net/services/clifservice"

    def cpu(self):
        return process_cpu_seconds(self.process.pid)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=30)
        self.process.stdout.close()
        self.err.close()


def output_relay(cms, client, measured, size):
    """Runs "flood SIZE"; returns (seconds, client peak KiB, client CPU s, server CPU s)."""
    server_before = cms.cpu()
    start = time.perf_counter()
    process = subprocess.Popen(measured.argv(client.argv("flood", str(size))), env=client.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    received = 0
    watchdog = threading.Timer(TIMEOUT, process.kill)
    watchdog.start()
    try:
        while True:
            block = process.stdout.read(MIB)
            if not block:
                break
            received += len(block)
        status = process.wait(timeout=TIMEOUT)
    finally:
        watchdog.cancel()
        process.stdout.close()
    elapsed = time.perf_counter() - start
    if status != 0 or received != size:
        raise RuntimeError("output relay: status %d, %d of %d bytes" % (status, received, size))
    return (elapsed,) + measured.read() + (cms.cpu() - server_before,)


def input_relay(cms, client, measured, size):
    """Pipes SIZE bytes of text lines into "sink"; returns as output_relay does."""
    server_before = cms.cpu()
    start = time.perf_counter()
    process = subprocess.Popen(measured.argv(client.argv("sink")), env=client.env, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def feed():
        block = INPUT_LINE * (MIB // len(INPUT_LINE) + 1)
        left = size
        try:
            while left > 0:
                piece = block[:min(left, len(block))]
                process.stdin.write(piece)
                left -= len(piece)
            process.stdin.close()
        except BrokenPipeError:
            pass

    feeder = threading.Thread(target=feed, daemon=True)
    feeder.start()
    watchdog = threading.Timer(TIMEOUT, process.kill)
    watchdog.start()
    try:
        out = process.stdout.read()
        status = process.wait(timeout=TIMEOUT)
    finally:
        watchdog.cancel()
        process.stdout.close()
    feeder.join(timeout=30)
    elapsed = time.perf_counter() - start
    if status != 0 or out.strip() != str(size).encode():
        raise RuntimeError("input relay: status %d, remote count %r, expected %d" % (status, out, size))
    return (elapsed,) + measured.read() + (cms.cpu() - server_before,)


# Groups of the client's exclusive instruction counts while it relays output.
PROFILE_GROUPS = [
    ("gSOAP base64 reader (soap_getbase64, soap_get)", lambda f: re.search(r":soap_get(base64)? ", f + " ")),
    ("client's base64 reader (readBase64Text)", lambda f: "readBase64Text" in f),
    ("TLS (libcrypto, libssl)", lambda f: "libcrypto" in f or "libssl" in f),
    ("memory copies (memcpy, memmove)", lambda f: "memcpy" in f or "memmove" in f),
]
PROFILE_MIB = 16
ONE_REPLY_MIB = [64, 256]    # output in one reply, for the memory within one reply


def output_profile(cms, client, work):
    """Exclusive instructions per group for one output relay of PROFILE_MIB under callgrind."""
    out_file = os.path.join(work, "callgrind.client")
    argv = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file] + client.argv(
        "flood", str(PROFILE_MIB * MIB))
    result = subprocess.run(argv, env=client.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, timeout=TIMEOUT)
    if result.returncode != 0:
        raise RuntimeError("callgrind run failed: %s" % result.stderr.decode()[-1000:])
    annotated = subprocess.run(["callgrind_annotate", "--threshold=100", out_file], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, timeout=120).stdout.decode()
    total, groups = 0, [0] * (len(PROFILE_GROUPS) + 1)
    for line in annotated.splitlines():
        match = re.match(r"\s*([\d,]+)\s+\([^)]*\)\s+(.*)$", line)
        if not match:
            continue
        count, what = int(match.group(1).replace(",", "")), match.group(2)
        if what.startswith("PROGRAM TOTALS"):
            total = count
            continue
        for i, (_, belongs) in enumerate(PROFILE_GROUPS):
            if belongs(what):
                groups[i] += count
                break
        else:
            groups[-1] += count
    return total, groups


def ms(seconds):
    return seconds * 1000.0


RELAY_HEADER = "%-10s %-9s %8s %10s %14s %16s %16s" % ("size MiB", "client", "seconds", "MB/s", "client RSS KiB",
                                                      "client CPU ms/MiB", "server CPU ms/MiB")


def relay_row(mib, label, figures):
    elapsed, peak, cpu, server = figures
    return "%-10d %-9s %8.2f %10.1f %14d %16.2f %16.2f" % (mib, label, elapsed, mib * MIB / 1e6 / elapsed, peak,
                                                          ms(cpu) / mib, ms(server) / mib)


def medians(rows):
    return tuple(statistics.median(column) for column in zip(*rows))


def side_by_side(cms, clients, measured, mib, rounds):
    """Output relays of MIB, the clients in turn for ROUNDS rounds; median figures per client."""
    rows = {label: [] for label, _ in clients}
    for _ in range(rounds):
        for label, client in clients:
            rows[label].append(output_relay(cms, client, measured, mib * MIB))
    return {label: medians(found) for label, found in rows.items()}


def idle_peak(client, measured):
    """The client's peak resident size for a command without output: its constant part."""
    subprocess.run(measured.argv(client.argv("hello")), env=client.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT, check=True)
    return measured.read()[0]


def whole_output_reply(path, size):
    """An invoke reply that carries SIZE bytes of output and completes the command."""
    body = envelope('<ns5:invokeResponse><invokeReturn xsi:type="ns1:clifstatus">%s</invokeReturn>'
                    '</ns5:invokeResponse>' % status_xml(sessionId="s", complete=True, pollPeriod=10, returnCode=0,
                                                         outOpen=False, errOpen=False, out=os.urandom(size),
                                                         err=b"")).encode("ascii")
    with open(path, "wb") as f:
        f.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: %d\r\n"
                b"Connection: close\r\n\r\n" % len(body))
        f.write(body)


def one_reply_memory(velcms, work, pem, commands, clients, build, measured, sizes, rounds):
    """Peak resident size with the whole output in the invoke reply, per client and size: the
    stand-in answers the invoke with a scripted reply that holds all the bytes."""
    print("Memory within one reply (all output in the invoke reply; %d rounds, medians)" % rounds)
    print("%-10s %-9s %14s %14s %14s %16s" % ("reply MiB", "client", "client RSS KiB", "idle RSS KiB",
                                             "RSS / decoded", "(RSS-idle)/dec."))
    for mib in sizes:
        cms_dir = os.path.join(work, "cms-one-reply-%d" % mib)
        os.makedirs(cms_dir)
        reply = os.path.join(work, "reply-%d.http" % mib)
        whole_output_reply(reply, mib * MIB)
        with StandInCms(velcms, cms_dir, tls_pem=pem, commands_dir=commands, poll_ms=10) as cms:
            cms.cpu = lambda: process_cpu_seconds(cms.process.pid)
            for label, program in clients:
                client = Client(build, os.path.join(cms_dir, label, "bin"), cms, program)
                idle = idle_peak(client, measured)
                peaks = []
                for _ in range(rounds):
                    # The next run's requests: logon, then the invoke this reply answers.
                    os.symlink(reply, os.path.join(cms.script_dir, "reply-%04d.http" % (len(cms.requests()) + 2)))
                    peaks.append(output_relay(cms, client, measured, mib * MIB)[1])
                peak = statistics.median(peaks)
                print("%-10d %-9s %14d %14d %14.2f %16.2f" % (mib, label, peak, idle, peak / (mib * 1024.0),
                                                              (peak - idle) / (mib * 1024.0)))
        os.remove(reply)


def print_profile(cms, client, work, label):
    total, groups = output_profile(cms, client, work)
    print("Client instructions while relaying %d MiB of output (callgrind, exclusive), %s client"
          % (PROFILE_MIB, label))
    print("%-50s %12s %8s" % ("part", "M instr/MiB", "share"))
    labels = [label for label, _ in PROFILE_GROUPS] + ["everything else"]
    for name, count in zip(labels, groups):
        print("%-50s %12.1f %7.1f%%" % (name, count / 1e6 / PROFILE_MIB, 100.0 * count / total))
    print("%-50s %12.1f" % ("total", total / 1e6 / PROFILE_MIB))


def main():
    build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    output_mib, input_mib = int(sys.argv[3]), int(sys.argv[4])
    baseline = os.path.abspath(sys.argv[5]) if len(sys.argv) > 5 and sys.argv[5] else None
    velcms = os.path.join(build, "vel", "tools", "cms", "velcms")
    pki = make_pki()
    work = tempfile.mkdtemp(prefix="vel-bench-client-")
    try:
        commands = os.path.join(work, "commands")
        make_command(commands, "hello", "echo hello\n")
        make_command(commands, "pause", "sleep %d\n" % PAUSE_SECONDS)
        make_command(commands, "wait", "sleep 30\n")
        make_command(commands, "flood", 'exec head -c "$1" /dev/zero\n')
        make_command(commands, "sink", "exec wc -c\n")

        cms_dir = os.path.join(work, "cms")
        os.makedirs(cms_dir)
        with StandInCms(velcms, cms_dir, tls_pem=pki.server_pem, commands_dir=commands, poll_ms=10) as cms:
            client = Client(build, os.path.join(work, "client", "bin"), cms)
            curl = CurlReplay(work, pki.ca_cert)
            sessions = Sessions()
            short = short_command(cms, client, curl, sessions, runs)
            call = status_cost(cms, client, curl, sessions, runs, short, Measured(build, work))
            floor_mib = max(1, output_mib // 4)
            floor = curl_floor(cms, client, curl, sessions, Measured(build, work), floor_mib, max(3, runs // 6))

        print("Client round trips over TLS on 127.0.0.1 (stand-in CMS), %d runs, alternating" % runs)
        client_median, curl_median = statistics.median(short["client"]), statistics.median(short["curl"])
        client_calls = statistics.median(short["client_calls"])
        print("%-34s %10s %8s %12s" % ("short command (echo hello)", "median ms", "calls", "ms per call"))
        print("%-34s %10.2f %8g %12.2f" % ("clifclient", ms(client_median), client_calls,
                                            ms(client_median) / client_calls))
        print("%-34s %10.2f %8d %12.2f" % ("curl, same POSTs, same bodies", ms(curl_median), short["curl_calls"],
                                            ms(curl_median) / short["curl_calls"]))
        print("%-34s %10.3f %8s %12.3f" % ("ratio client/curl", client_median / curl_median, "",
                                            (client_median / client_calls) / (curl_median / short["curl_calls"])))
        print("%-34s %10.3f   (curl %.3f ms, ratio client/curl %.3f)" % (
            "one more status call, ms", ms(call["client"]), ms(call["curl"]), call["client"] / call["curl"]))
        print("%-34s %10.3f   (stand-in CMS %.3f ms)" % ("CPU per status call, client, ms", ms(call["client_cpu"]),
                                                         ms(call["server_cpu"])))
        print()

        plain = PlainCms(velcms, work, pki.server_pem, commands)
        try:
            relay_client = Client(build, os.path.join(work, "client-plain", "bin"), plain)
            measured = Measured(build, work)

            clients = [("current", relay_client)]
            if baseline:
                clients.append(("baseline", Client(build, os.path.join(work, "client-baseline", "bin"), plain,
                                                   baseline)))
            small, large = max(1, output_mib // 4), output_mib
            rounds = max(3, runs // 6)
            print("Output relay (command writes N MiB to standard output; 1 MiB per status reply;"
                  " %d rounds at %d MiB, 1 at %d MiB, clients in turn, medians)" % (rounds, small, large))
            print(RELAY_HEADER)
            figures = {}
            for mib, count in sorted({small: rounds, large: 1}.items()):
                figures[mib] = side_by_side(plain, clients, measured, mib, count)
                for label, _ in clients:
                    print(relay_row(mib, label, figures[mib][label]))
            print("curl fetching the same replies (%d MiB, to /dev/null): %.2f ms CPU per MiB" % (floor_mib, ms(floor)))
            for mib in sorted(figures):
                current = figures[mib]["current"]
                seconds_per_mib = current[0] / mib
                print("%d MiB: stand-in CPU %.0f%% of the wall time (%.2f of %.2f ms per MiB), client CPU %.0f%%"
                      % (mib, 100.0 * current[3] / current[0], ms(current[3]) / mib, ms(seconds_per_mib),
                         100.0 * current[2] / current[0]))
                if baseline:
                    old = figures[mib]["baseline"]
                    print("%d MiB: current/baseline: client CPU per MiB %.3f, MB/s %.3f, peak RSS %.3f"
                          % (mib, current[2] / old[2], old[0] / current[0], current[1] / old[1]))
            print()
            if baseline:
                one_reply_memory(velcms, work, pki.server_pem, commands,
                                 [("current", None), ("baseline", baseline)], build, measured,
                                 ONE_REPLY_MIB, 3)
                print()
            print("Input relay (N MiB of %d-byte lines piped to standard input; remote wc -c)" % len(INPUT_LINE))
            print("%-10s %8s %10s %14s %16s %16s" % ("size MiB", "seconds", "MB/s", "client RSS KiB",
                                                     "client CPU ms/MiB", "server CPU ms/MiB"))
            for mib in sorted({max(1, input_mib // 4), input_mib}):
                elapsed, peak, cpu, server = input_relay(plain, relay_client, measured, mib * MIB)
                print("%-10d %8.2f %10.1f %14d %16.2f %16.2f" % (
                    mib, elapsed, mib * MIB / 1e6 / elapsed, peak, ms(cpu) / mib, ms(server) / mib))
            if shutil.which("valgrind") and shutil.which("callgrind_annotate"):
                for label, client in clients:
                    print()
                    print_profile(plain, client, work, label)
        finally:
            plain.stop()
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()

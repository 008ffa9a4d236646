"""clifclient's input relay beside its output relay, against the stand-in CMS over TLS on 127.0.0.1.

For each size (SMALL_MIB and LARGE_MIB), RUNS rounds (LARGE_RUNS for the large size, default
RUNS); each round runs, one after the other:
1. output: the remote command writes SIZE bytes ("head -c SIZE /dev/zero"); the client's standard
   output is read and counted;
2. pipe: SIZE bytes of a pseudo-random stream (every MiB different) are written into the client's
   standard input through a pipe;
3. file: the same bytes from a file that the client's standard input is redirected from.
For input the remote command is "sha256sum": the digest it prints must equal that of the bytes
sent, so every byte arrived once and in order. Reported: the median wall time and throughput,
the client's peak resident size (largest of the runs) and CPU time per MiB (median), the
stand-in's CPU time per MiB (median), and the ratios of the input throughputs to the output
relay's of the same round.

usage: input_bench.py BUILD_DIR RUNS SMALL_MIB LARGE_MIB [LARGE_RUNS]
"""

import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from client_bench import MIB, Client, Measured, PlainCms  # noqa: E402
from vel_testsupport import make_command, make_pki  # noqa: E402

TIMEOUT = 3600
BASE_BLOCK = random.Random(12).randbytes(MIB)


def blocks(size):
    """The input stream: SIZE bytes in MiB blocks, each starting with its own number."""
    number = 0
    left = size
    while left > 0:
        block = number.to_bytes(8, "big") + BASE_BLOCK[8:]
        yield block[:min(left, MIB)]
        left -= MIB
        number += 1


def write_input_file(path, size):
    digest = hashlib.sha256()
    with open(path, "wb") as f:
        for block in blocks(size):
            digest.update(block)
            f.write(block)
    return digest.hexdigest()


def measured_run(cms, client, measured, argv, stdin, feed=None):
    """Runs the client; returns (seconds, start of its standard output, bytes of it, peak KiB,
    client CPU s, server CPU s)."""
    server_before = cms.cpu()
    start = time.perf_counter()
    process = subprocess.Popen(measured.argv(argv), env=client.env, stdin=stdin, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    feeder = None
    if feed is not None:
        feeder = threading.Thread(target=feed, args=(process.stdin,), daemon=True)
        feeder.start()
    watchdog = threading.Timer(TIMEOUT, process.kill)
    watchdog.start()
    head, count = b"", 0
    try:
        while True:
            block = process.stdout.read(MIB)
            if not block:
                break
            if len(head) < 4096:
                head += block[:4096]
            count += len(block)
        status = process.wait(timeout=TIMEOUT)
        errors = process.stderr.read()
    finally:
        watchdog.cancel()
        process.stdout.close()
        process.stderr.close()
    if feeder is not None:
        feeder.join(timeout=60)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise RuntimeError("client status %d: %r" % (status, errors[-500:]))
    peak, cpu = measured.read()
    return elapsed, head, count, peak, cpu, cms.cpu() - server_before


def output_relay(cms, client, measured, size):
    elapsed, _, count, peak, cpu, server = measured_run(cms, client, measured, client.argv("flood", str(size)),
                                                        subprocess.DEVNULL)
    if count != size:
        raise RuntimeError("output relay: %d of %d bytes" % (count, size))
    return elapsed, peak, cpu, server


def pipe_input(cms, client, measured, size, expected):
    def feed(stdin):
        try:
            for block in blocks(size):
                stdin.write(block)
            stdin.close()
        except BrokenPipeError:
            pass

    result = measured_run(cms, client, measured, client.argv("digest"), subprocess.PIPE, feed)
    check_digest("pipe", result[1], expected)
    return result[0], result[3], result[4], result[5]


def file_input(cms, client, measured, path, expected):
    with open(path, "rb") as stdin:
        result = measured_run(cms, client, measured, client.argv("digest"), stdin)
    check_digest("file", result[1], expected)
    return result[0], result[3], result[4], result[5]


def check_digest(mode, output, expected):
    if output.split()[:1] != [expected.encode()]:
        raise RuntimeError("%s input: remote digest %r, expected %s" % (mode, output[:100], expected))


def main():
    build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    sizes = [int(sys.argv[3]) * MIB, int(sys.argv[4]) * MIB]
    rounds = [runs, int(sys.argv[5]) if len(sys.argv) > 5 else runs]
    velcms = os.path.join(build, "vel", "tools", "cms", "velcms")
    pki = make_pki()
    work = tempfile.mkdtemp(prefix="vel-bench-input-")
    modes = ("output", "pipe", "file")
    try:
        commands = os.path.join(work, "commands")
        make_command(commands, "flood", 'exec head -c "$1" /dev/zero\n')
        make_command(commands, "digest", "exec sha256sum\n")
        cms = PlainCms(velcms, work, pki.server_pem, commands)
        try:
            client = Client(build, os.path.join(work, "client", "bin"), cms)
            measured = Measured(build, work)
            rows = []
            for size, size_runs in zip(sizes, rounds):
                path = os.path.join(work, "input-%d" % size)
                expected = write_input_file(path, size)
                results = {mode: [] for mode in modes}
                for _ in range(size_runs):
                    results["output"].append(output_relay(cms, client, measured, size))
                    results["pipe"].append(pipe_input(cms, client, measured, size, expected))
                    results["file"].append(file_input(cms, client, measured, path, expected))
                os.remove(path)
                rows.append((size, results))
        finally:
            cms.stop()
    finally:
        shutil.rmtree(work, True)

    mib = MIB
    print("Input relay beside the output relay (%s rounds, in turn; input digest checked remotely)"
          % " and ".join("%d MiB: %d" % (size // MIB, n) for size, n in zip(sizes, rounds)))
    print("%-9s %-7s %9s %9s %15s %17s %17s" % ("size MiB", "relay", "seconds", "MB/s", "client RSS KiB",
                                              "client CPU ms/MiB", "server CPU ms/MiB"))
    for size, results in rows:
        for mode in modes:
            runs_of = results[mode]
            seconds = statistics.median(r[0] for r in runs_of)
            print("%-9d %-7s %9.2f %9.1f %15d %17.2f %17.2f" % (
                size // mib, mode, seconds, size / 1e6 / seconds, max(r[1] for r in runs_of),
                1000 * statistics.median(r[2] for r in runs_of) / (size / mib),
                1000 * statistics.median(r[3] for r in runs_of) / (size / mib)))
    print()
    print("%-9s %22s %22s" % ("size MiB", "pipe/output (MB/s)", "file/output (MB/s)"))
    for size, results in rows:
        ratios = {mode: statistics.median(out[0] / own[0] for out, own in zip(results["output"], results[mode]))
                  for mode in ("pipe", "file")}
        print("%-9d %22.3f %22.3f" % (size // mib, ratios["pipe"], ratios["file"]))
    small, large = rows[0][1], rows[-1][1]
    print("client peak RSS, %d MiB / %d MiB: pipe %.3f, file %.3f" % (
        sizes[-1] // mib, sizes[0] // mib, max(r[1] for r in large["pipe"]) / max(r[1] for r in small["pipe"]),
        max(r[1] for r in large["file"]) / max(r[1] for r in small["file"])))


if __name__ == "__main__":
    main()

"""What the call trace (VEL_CLIF_TRACE) costs clifclient: a command that takes many status calls,
run against the stand-in CMS over TLS on 127.0.0.1 by the client with the trace off and on, and by
an earlier build without the trace (BASELINE_CLIENT), in turn, RUNS rounds each.

Reports the median CPU time (user + system) of the client per run and per call, and the median wall
time per run. The trace's lines go to a file, as they would to a terminal or a log. CPU time on a
shared machine varies by several per cent from run to run; the instruction counts of one run under
callgrind (valgrind) are exact: what the start and end of a call cost (checkSoapCall, endSoapCall,
with the trace's hooks inside them) against what a whole status call costs.

usage: trace_cost.py CLIFCLIENT VELCMS RUNS [BASELINE_CLIENT]
"""

import re

import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from vel_testsupport import StandInCms, make_command, make_pki, write_client_config  # noqa: E402

LINES = 100  # output lines, one every 2 ms; the stand-in answers a status call every 2 ms


def main():
    client, velcms, runs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
    baseline = os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 else None
    work = tempfile.mkdtemp(prefix="trace-cost-")
    try:
        commands = os.path.join(work, "commands")
        make_command(commands, "velnode", "i=0; while [ $i -lt %d ]; do echo line $i; sleep 0.002; i=$((i+1)); done\n"
                     % LINES)
        with StandInCms(velcms, os.path.join(work, "cms"), tls_pem=make_pki().server_pem, commands_dir=commands,
                        poll_ms=2) as cms:
            variants = [("trace off", client, {}), ("trace on", client, {"VEL_CLIF_TRACE": "1"})]
            if baseline:
                variants.insert(0, ("baseline (no trace)", baseline, {}))
            programs = {}
            for name, program, _ in variants:
                bindir = os.path.join(work, name.split()[0] + "-" + name.split()[-1].strip("()"), "bin")
                os.makedirs(bindir)
                os.symlink(program, os.path.join(bindir, "velnode"))
                write_client_config(bindir, cms.logon_url, cms.invoke_url)
                programs[name] = os.path.join(bindir, "velnode")
            cpu = {name: [] for name, _, _ in variants}
            wall = {name: [] for name, _, _ in variants}
            calls = {name: [] for name, _, _ in variants}
            for _ in range(runs):
                for name, _, extra in variants:
                    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}
                    env.update(extra)
                    before = resource.getrusage(resource.RUSAGE_CHILDREN)
                    start = time.monotonic()
                    with open(os.path.join(work, "stderr"), "wb") as err:
                        result = subprocess.run([programs[name], "--user", "admin", "--pass", "secret"],
                                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err,
                                                env=env, timeout=120, check=False)
                    wall[name].append(time.monotonic() - start)
                    after = resource.getrusage(resource.RUSAGE_CHILDREN)
                    if result.returncode != 0 or result.stdout.count(b"\n") != LINES:
                        raise RuntimeError("%s: exit %d" % (name, result.returncode))
                    cpu[name].append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
                    before_calls = sum(1 for f in os.listdir(cms.record_dir) if f.startswith("request-"))
                    calls[name].append(before_calls)
                    shutil.rmtree(cms.record_dir)
                    os.makedirs(cms.record_dir)
                    if extra:
                        with open(os.path.join(work, "stderr"), "rb") as f:
                            traced = f.read().count(b"velnode: trace: ")
                        if traced != before_calls:
                            raise RuntimeError("%d trace lines for %d calls" % (traced, before_calls))
            if shutil.which("valgrind") and shutil.which("callgrind_annotate"):
                counted = {name: callgrind_counts(work, name, programs[name], extra, cms)
                           for name, _, extra in variants}
        print("%d rounds, a command of %d output lines; medians per run" % (runs, LINES))
        print("%-22s %8s %12s %16s %10s" % ("client", "calls", "CPU ms", "CPU us per call", "wall ms"))
        for name, _, _ in variants:
            n = statistics.median(calls[name])
            c = statistics.median(cpu[name]) * 1e3
            print("%-22s %8d %12.1f %16.1f %10.1f" % (name, n, c, c * 1e3 / n, statistics.median(wall[name]) * 1e3))
        if shutil.which("valgrind") and shutil.which("callgrind_annotate"):
            print("\ninstructions (callgrind, one run each)")
            print("%-22s %8s %26s %22s" % ("client", "calls", "call start + end per call", "status call, each"))
            for name, _, _ in variants:
                calls_made, guard, status, status_calls = counted[name]
                print("%-22s %8d %26.0f %22.0f" % (name, calls_made, guard / calls_made, status / status_calls))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def callgrind_counts(work, name, program, extra, cms):
    """(calls, instructions in checkSoapCall and endSoapCall, instructions in status calls, status calls)."""
    out = os.path.join(work, "callgrind." + name.split()[0] + name.split()[-1].strip("()"))
    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}
    env.update(extra)
    with open(os.path.join(work, "stderr"), "wb") as err:
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, program, "--user", "admin",
                        "--pass", "secret"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err,
                       env=env, timeout=600, check=True)
    calls_made = sum(1 for f in os.listdir(cms.record_dir) if f.startswith("request-"))
    shutil.rmtree(cms.record_dir)
    os.makedirs(cms.record_dir)
    report = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", out],
                            stdout=subprocess.PIPE, check=True).stdout.decode(errors="replace")
    totals = {}
    for line in report.splitlines():
        # The function's own line (inlined parts are listed again under the headers they come from).
        match = re.match(r"\s*([\d,]+) \([^)]*\)\s+\S*/(?:SoapCallGuard|soapClient)\.cpp:"
                         r"(checkSoapCall|endSoapCall|soap_call_ns5__status)\(", line)
        # The summary comes first; the annotated sources after it list some functions again.
        if match and match.group(2) not in totals:
            totals[match.group(2)] = int(match.group(1).replace(",", ""))
    status_calls = max(1, calls_made - 2)
    return (calls_made, totals.get("checkSoapCall", 0) + totals.get("endSoapCall", 0),
            totals.get("soap_call_ns5__status", 0), status_calls)


if __name__ == "__main__":
    main()

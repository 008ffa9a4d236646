"""The launcher's own work before the virtual machine starts: command tables, trace off
and on, paths, and a class path built from a library directory of 10, 200 and 2000 jars.

For each tree it runs vellauncher-prejvm (the launcher stopped where JNI_CreateJavaVM
would run) for the wall time from main to that point (median) and, under callgrind,
the instructions executed in main, in total and per step. The share is that wall time
over the median start-up of the real vellauncher on the same tree (process start to
the first line of the hello-world main), measured in the same run.

usage: launcher_prejvm.py BUILD_DIR RUNS
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

JDK = os.environ["JAVA_HOME"]  # set by bench/run.sh
JAR_COUNTS = (10, 200, 2000)
TRACE_LEVELS = "0,31"  # value and message lines, entry and exit lines
EMPTY_ZIP = b"PK\x05\x06" + bytes(18)  # a valid archive without entries

# Steps reported from callgrind's inclusive counts; "inlined" where the compiler
# folded the function into its caller.
STEPS = [
    ("tables", "VelCLI::createCLI"),
    ("class path", "VelCMD::readClassPath"),
    ("dir scans", "VelCMD::getFilesFromDir"),
    ("lib path", "VelCMD::readShlibPath"),
    ("java home", "VelCMD::readJavaHome"),
    ("trace init", "VelDebugInit::VelDebugInit"),
    ("options", "VelCMD::startJVM"),
]

# Binds an empty directory over /var/opt (over /var where /var/opt is missing) in a private
# mount namespace, so that the trace file of /var/opt/vel/logs lands there and the
# machine's own directories stay untouched.
NAMESPACE_SCRIPT = ('target=/var/opt; [ -d "$target" ] || target=/var; '
                    'mount --bind "$1" "$target" && mkdir -p /var/opt/vel/logs && shift && exec "$@"')


def make_tree(root, stage, jars):
    """An install tree whose library directory holds the hello-world vel.jar, the key
    set-up's authenticate.jar and empty archives up to the given count."""
    lib = os.path.join(root, "opt", "vel", "lib")
    os.makedirs(lib)
    os.makedirs(os.path.join(root, "opt", "vel", "patch"))
    os.symlink(JDK, os.path.join(root, "opt", "vel", "j2re"))
    for name in ("vel.jar", "authenticate.jar"):
        shutil.copyfile(os.path.join(stage, "opt", "vel", "lib", name), os.path.join(lib, name))
    for i in range(jars - 2):
        with open(os.path.join(lib, "library-%04d.jar" % i), "wb") as f:
            f.write(EMPTY_ZIP)


def in_namespace(var_opt, argv):
    return ["unshare", "-m", "--propagation", "private", "sh", "-c", NAMESPACE_SCRIPT, "sh", var_opt] + argv


def namespace_works(var_opt):
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        return False
    probe = subprocess.run(in_namespace(var_opt, ["true"]), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
    return probe.returncode == 0


def run_probe(argv, env):
    result = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    text = result.stdout.decode()
    match = re.search(r"prejvm_ns=(\d+) options=(\d+) classpath_bytes=(\d+)", text)
    if result.returncode != 0 or not match:
        raise RuntimeError("probe failed: %s %s" % (text, result.stderr.decode()))
    return int(match.group(1)), int(match.group(3))


def callgrind(argv, env, out_file, wrap):
    """Instructions executed inside main, in total and per step (inclusive)."""
    command = wrap(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file, "--toggle-collect=main"]
                   + argv)
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    if result.returncode != 0:
        raise RuntimeError("callgrind failed: %s" % result.stderr.decode()[-2000:])
    annotated = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", out_file],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120).stdout.decode()
    total, steps = None, {}
    for line in annotated.splitlines():
        match = re.match(r"\s*([\d,]+)\s+\([^)]*\)\s+(.*)$", line)
        if not match:
            continue
        count, what = int(match.group(1).replace(",", "")), match.group(2)
        if what.startswith("PROGRAM TOTALS"):
            total = count
            continue
        symbol = what.split(":", 1)[1] if ":" in what else what
        for label, prefix in STEPS:
            if symbol.startswith(prefix + "("):
                steps[label] = max(steps.get(label, 0), count)
    return total, steps


def start_up_medians(build, work, trees, runs):
    """Median start-up of the real launcher per tree, round-robin in one timer run."""
    plan = os.path.join(work, "plan")
    command = os.path.join(work, "real", "velnode")
    os.makedirs(os.path.dirname(command))
    os.symlink(os.path.join(build, "vel", "launcher", "vellauncher"), command)
    with open(plan, "w") as f:
        for jars, base in trees:
            f.write("%d\tenv:VEL_BASE_DIR=%s\t%s\n" % (jars, base, command))
    out = subprocess.run([os.path.join(build, "startup-timer"), plan, str(runs), "2"], stdout=subprocess.PIPE,
                         timeout=60 + runs * len(trees) * 10, check=True).stdout.decode()
    samples = {}
    for line in out.splitlines():
        if not line.startswith("#"):
            name, _, first, _ = line.split(" ")
            samples.setdefault(int(name), []).append(int(first))
    return {jars: statistics.median(values) for jars, values in samples.items()}


def main():
    build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    stage = os.path.join(build, "bench-stage")
    have_valgrind = shutil.which("valgrind") is not None and shutil.which("callgrind_annotate") is not None
    work = tempfile.mkdtemp(prefix="vel-bench-prejvm-")
    rows = []
    try:
        var_opt = os.path.join(work, "var-opt")
        os.makedirs(var_opt)
        trace_possible = namespace_works(var_opt)
        probe = os.path.join(work, "velnode")
        os.symlink(os.path.join(build, "vellauncher-prejvm"), probe)
        trees = []
        for jars in JAR_COUNTS:
            base = os.path.join(work, "base-%d" % jars)
            make_tree(base, stage, jars)
            trees.append((jars, base))
        start_up = start_up_medians(build, work, trees, runs)
        for jars, base in trees:
            for trace in (False, True):
                env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "VEL_BASE_DIR": base}
                wrap = lambda argv: argv
                if trace:
                    if not trace_possible:
                        rows.append((jars, trace, None, None, None, None, {}))
                        continue
                    env["VEL_DTRACE"] = TRACE_LEVELS
                    wrap = lambda argv: in_namespace(var_opt, argv)
                times = []
                for _ in range(runs):
                    elapsed, classpath = run_probe(wrap([probe]), env)
                    times.append(elapsed)
                total, steps = None, {}
                if have_valgrind:
                    total, steps = callgrind([probe], env, os.path.join(work, "callgrind.out"), wrap)
                rows.append((jars, trace, statistics.median(times), classpath, start_up[jars], total, steps))
    finally:
        shutil.rmtree(work, True)

    print("Launcher work before the virtual machine: velnode stopped at JNI_CreateJavaVM")
    print("pre-JVM: median of %d runs, main to JNI_CreateJavaVM; start-up: real velnode on the same tree,"
          " median of %d runs" % (runs, runs))
    print("%-6s %-6s %12s %12s %12s %10s %10s" % ("jars", "trace", "pre-JVM us", "start-up ms", "share",
                                                  "main Ir", "cp bytes"))
    for jars, trace, median_ns, classpath, start_ns, total, steps in rows:
        if median_ns is None:
            print("%-6d %-6s   (skipped: needs root and a private mount namespace)" % (jars, "on"))
            continue
        print("%-6d %-6s %12.1f %12.1f %11.2f%% %10s %10d" % (
            jars, "on" if trace else "off", median_ns / 1e3, start_ns / 1e6, 100.0 * median_ns / start_ns,
            "%.2fM" % (total / 1e6) if total else "-", classpath))
    if have_valgrind:
        print()
        print("instructions per step, inclusive (thousands)")
        labels = [label for label, _ in STEPS]
        print("%-10s" % "jars/trace" + "".join("%11s" % label for label in labels))
        for jars, trace, median_ns, classpath, start_ns, total, steps in rows:
            if median_ns is not None:
                print("%-10s" % ("%d/%s" % (jars, "on" if trace else "off")) +
                      "".join("%11s" % ("%.1f" % (steps[label] / 1e3) if label in steps else "inlined")
                              for label in labels))


if __name__ == "__main__":
    main()

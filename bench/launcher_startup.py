"""Launcher start-up: time from process start to the first line printed by the Java
main of a hello-world command class, for vellauncher (a CLI and an auxiliary command),
the JDK's java launcher and the JNI floor, all with the same class path and options,
run round-robin in one run.

usage: launcher_startup.py BUILD_DIR RUNS
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile

JDK = os.environ["JAVA_HOME"]  # set by bench/run.sh
SHOW_PREFIX = "addJVMOption(): "

# command name, launcher kind, Java class, arguments main receives, what the launcher
# calls in Java before main (CLI commands set up the keys)
SET_KEYS = "com/orva/vel/utilities/authenticate/VelAuthenticate.setKeys"
COMMANDS = [
    ("velnode", "CLI", "com/orva/vel/cli/VelCommandDispatcher", ["velnode"], SET_KEYS),
    ("velversion", "aux", "com/orva/vel/utilities/version/VelVersion", [], None),
]


def launcher_options(command, env):
    """The option list the launcher hands to the virtual machine, as it shows it."""
    shown = subprocess.run([command], env=dict(env, VEL_SHOW_JVM_OPTS="1"), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=60, check=True).stdout.decode()
    return [line[len(SHOW_PREFIX):] for line in shown.splitlines() if line.startswith(SHOW_PREFIX)]


def java_arguments(options, java_class, args):
    """The same start for the java launcher: class path as -cp, the launcher's empty
    options left out (java would take one for the class name), unknown options ignored
    as the launcher asks the virtual machine to."""
    result = [os.path.join(JDK, "bin", "java"), "-XX:+IgnoreUnrecognizedVMOptions"]
    for option in options:
        if option.startswith("-Djava.class.path="):
            result += ["-cp", option[len("-Djava.class.path="):]]
        elif option:
            result.append(option)
    return result + [java_class.replace("/", ".")] + args


def median_ms(values):
    return statistics.median(values) / 1e6


def main():
    build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    stage = os.path.join(build, "bench-stage")
    work = tempfile.mkdtemp(prefix="vel-bench-start-")
    try:
        env = dict(os.environ, VEL_BASE_DIR=stage)
        for name in ("VEL_DTRACE", "VEL_USE_ENV", "VEL_JVM_OPTS", "JAVA_TOOL_OPTIONS", "JDK_JAVA_OPTIONS",
                     "_JAVA_OPTIONS", "VEL_SHOW_JVM_OPTS", "VEL_VERBOSE_TRACE", "VEL_GC_TRACE"):
            env.pop(name, None)
        variants = []
        for command, kind, java_class, args, first in COMMANDS:
            path = os.path.join(work, command)
            os.symlink(os.path.join(build, "vel", "launcher", "vellauncher"), path)
            options = launcher_options(path, env)
            floor = [os.path.join(build, "jni-floor")]
            variants.append(("%s (%s)" % (command, kind), [path]))
            variants.append(("floor, %s options" % command, floor + options + ["--", java_class] + args))
            if first:
                variants.append(("floor+setKeys, %s options" % command,
                                 floor + ["--first", first] + options + ["--", java_class] + args))
            variants.append(("java, %s options" % command, java_arguments(options, java_class, args)))
        plan = os.path.join(work, "plan")
        with open(plan, "w") as f:
            for name, argv in variants:
                f.write("\t".join([name] + argv) + "\n")
        timer = subprocess.run([os.path.join(build, "startup-timer"), plan, str(runs), "3"], env=env,
                               stdout=subprocess.PIPE, timeout=60 + runs * len(variants) * 10, check=True)
    finally:
        shutil.rmtree(work, True)

    first, total, first_lines = {}, {}, {}
    for line in timer.stdout.decode().splitlines():
        if line.startswith("# "):
            name, _, text = line[2:].partition(" first-line: ")
            first_lines[name] = text
            continue
        fields = line.split(" ")
        name = " ".join(fields[:-3])
        first.setdefault(name, []).append(int(fields[-2]))
        total.setdefault(name, []).append(int(fields[-1]))

    print("Launcher start-up: process start to the first line of main, %d runs each, round-robin" % runs)
    print("%-30s %12s %10s %12s   %s" % ("variant", "median ms", "min ms", "exit med ms", "first line"))
    for name, _ in variants:
        print("%-30s %12.1f %10.1f %12.1f   %s" % (name, median_ms(first[name]), min(first[name]) / 1e6,
                                                   median_ms(total[name]), first_lines.get(name, "")))
    print()
    print("%-26s %14s %14s %22s" % ("ratio (medians)", "launcher/floor", "launcher/java",
                                     "launcher/floor+setKeys"))
    for command, kind, _, _, first_call in COMMANDS:
        own = "%s (%s)" % (command, kind)
        launcher = statistics.median(first[own])
        floor = statistics.median(first["floor, %s options" % command])
        java = statistics.median(first["java, %s options" % command])
        with_keys = "-"
        if first_call:
            with_keys = "%.3f" % (launcher / statistics.median(first["floor+setKeys, %s options" % command]))
        print("%-26s %14.3f %14.3f %22s" % (own, launcher / floor, launcher / java, with_keys))


if __name__ == "__main__":
    main()

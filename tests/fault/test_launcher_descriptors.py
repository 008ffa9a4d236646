"""vellauncher started with standard descriptors closed: the trace file and the files the JVM
opens must never take their place (Java's output would land in them).

usage: test_launcher_descriptors.py  (environment as for the launcher tests: VEL_LAUNCHER,
VEL_STAGE_DIR, VEL_ERROREXIT_PROBE, VEL_JAVA_EXTRAS_DIR)
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher"))
from launcher_env import Workspace, mount_namespace_problem, namespaced, run  # noqa: E402

NAMESPACE_PROBLEM = mount_namespace_problem()


def closing(*fds):
    def close_them():
        for fd in fds:
            os.close(fd)
    return close_them


class ClosedDescriptors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.ws = Workspace()
        cls.count = 0

    @classmethod
    def tearDownClass(cls):
        cls.ws.close()

    def test_command_runs_with_all_three_closed(self):
        result = run([self.ws.link("velnode"), "a"], env=self.ws.env(), preexec_fn=closing(0, 1, 2))
        self.assertEqual(0, result.status)

    def test_output_stays_on_open_descriptors(self):
        result = run([self.ws.link("velnode"), "a"], env=self.ws.env(), preexec_fn=closing(0))
        self.assertEqual((0, "com.orva.vel.cli.VelCommandDispatcher", ""),
                         (result.status, result.main_class(), result.err))

    def traced(self, closed, args=("a",), **env):
        """Runs velnode traced in a private /var/opt; returns the result and the trace text."""
        ClosedDescriptors.count += 1
        var_opt = os.path.join(self.ws.root, "var-opt-%d" % ClosedDescriptors.count)
        log_dir = os.path.join(var_opt, "vel", "logs")
        os.makedirs(log_dir)
        result = run(namespaced([(var_opt, "/var/opt")], [self.ws.link("velnode")] + list(args)),
                     env=self.ws.env(VEL_DTRACE="0", **env), preexec_fn=closing(*closed))
        files = os.listdir(log_dir)
        self.assertEqual(1, len(files), files)
        with open(os.path.join(log_dir, files[0]), encoding="utf-8", errors="replace") as f:
            return result, f.read()

    @unittest.skipIf(NAMESPACE_PROBLEM, NAMESPACE_PROBLEM)
    def test_java_output_never_lands_in_the_trace_file(self):
        result, trace = self.traced((1,), VEL_SHOW_JVM_OPTS="1")
        self.assertEqual(0, result.status, result.err)
        self.assertIn("Debug started", trace)
        strays = [line for line in trace.splitlines() if line.startswith(("main ", "addJVMOption(): "))]
        self.assertEqual([], strays[:3])

    @unittest.skipIf(NAMESPACE_PROBLEM, NAMESPACE_PROBLEM)
    def test_error_messages_never_land_in_the_trace_file(self):
        # A class path without the command classes: the launcher ends through its error exit.
        empty = os.path.join(self.ws.root, "empty-base")
        os.makedirs(empty, exist_ok=True)
        result, trace = self.traced((2,), VEL_BASE_DIR=empty)
        self.assertEqual(1, result.status)
        self.assertIn("Debug started", trace)
        # The trace names the message in a value line of its own; the message itself, as written
        # to standard error, must not appear as a line of the trace.
        self.assertIn("logMsg='ERROR:", trace)
        self.assertEqual([], [line for line in trace.splitlines() if line.startswith("ERROR:")])


if __name__ == "__main__":
    unittest.main(verbosity=2)

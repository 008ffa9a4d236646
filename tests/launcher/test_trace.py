"""Black-box tests of the launcher's trace file. The trace directory is the fixed
/var/opt/vel/logs/, so each run gets a private /var/opt in its own mount namespace (root only)."""

import os
import re
import unittest

from launcher_env import Workspace, mount_namespace_problem, namespaced, run

BANNER = re.compile(r"\A[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}\n\n")
CALL_LINE = re.compile(r"^(?P<src>\S+ *):(?P<indent> *)(?:Entering (?P<enter>.+)\(\)|"
                       r"Leaving  (?P<leave>.+)\(\) at (?P<line>\d+))$")
VALUE_LINE = re.compile(r"^\S+ *: {5}\S")
STARTED = "launcher/VelDebugInit.cpp:     Debug started: "


NAMESPACE_PROBLEM = mount_namespace_problem()


@unittest.skipIf(NAMESPACE_PROBLEM, NAMESPACE_PROBLEM)
class TraceFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.ws = Workspace()
        cls.count = 0

    @classmethod
    def tearDownClass(cls):
        cls.ws.close()

    def traced(self, levels, name="velnode", args=("a",), base=None, logs=True):
        """Runs a command with VEL_DTRACE; returns the result and the trace file's text (or None)."""
        TraceFile.count += 1
        var_opt = os.path.join(self.ws.root, "var-opt-%d" % TraceFile.count)
        os.makedirs(os.path.join(var_opt, "vel", "logs") if logs else var_opt)
        env = self.ws.env(base) if base else self.ws.env()
        if levels is not None:
            env["VEL_DTRACE"] = levels
        result = run(namespaced([(var_opt, "/var/opt")], [self.ws.link(name)] + list(args)), env=env)
        log_dir = os.path.join(var_opt, "vel", "logs")
        files = os.listdir(log_dir) if os.path.isdir(log_dir) else []
        if not files:
            return result, None
        self.assertEqual(files, ["%s.dbg.%d" % (name.lower(), result.pid)])
        with open(os.path.join(log_dir, files[0]), encoding="utf-8") as f:
            return result, f.read()

    def body(self, text):
        match = BANNER.match(text)
        self.assertIsNotNone(match, text[:80])
        return text[match.end():].splitlines()

    def assertNested(self, lines):
        """Entry and exit lines pair up, indented by 2 per nesting level."""
        stack = []
        for line in lines:
            match = CALL_LINE.match(line)
            if not match:
                continue
            if match.group("enter"):
                self.assertEqual(len(match.group("indent")), 2 * len(stack), line)
                stack.append(match.group("enter"))
            else:
                self.assertEqual(stack[-1:], [match.group("leave")], line)
                stack.pop()
                self.assertEqual(len(match.group("indent")), 2 * len(stack), line)
        self.assertEqual(stack, [])

    def test_no_file_without_levels(self):
        for levels in [None, ""]:
            with self.subTest(levels=levels):
                result, text = self.traced(levels)
                self.assertEqual(result.status, 0)
                self.assertIsNone(text)
                self.assertEqual(result.err, "")

    def test_unused_level_gives_only_the_banner(self):
        for levels in ["1", ",,,", ",", "5,30"]:
            with self.subTest(levels=levels):
                result, text = self.traced(levels)
                self.assertEqual(result.status, 0)
                self.assertEqual(self.body(text), [])

    def test_level_0_messages_and_values_only(self):
        result, text = self.traced("0")
        lines = self.body(text)
        self.assertEqual(lines[0], STARTED)
        self.assertFalse(any(CALL_LINE.match(line) for line in lines))
        note = "launcher/VelMain.cpp:       (NOTE: If this is a daemon running in the foreground, I may not log again.)"
        for line in lines[1:]:
            self.assertTrue(VALUE_LINE.match(line) or line == note, line)
        self.assertIn("launcher/VelJvm.cpp :     option.c_str()='-Xint'", lines)
        self.assertIn("launcher/VelMain.cpp:     argv[i]='velnode'", lines)
        self.assertIn("launcher/VelMain.cpp:     argc=2", lines)
        self.assertIn("launcher/VelJvm.cpp :     value='<NULL>'", lines)
        self.assertIn(note, lines)

    def test_level_31_calls_only(self):
        result, text = self.traced("31")
        lines = self.body(text)
        self.assertTrue(all(CALL_LINE.match(line) for line in lines), lines)
        self.assertEqual(lines[0], "launcher/VelJvm.cpp :Entering VelCMD::startJVM()")
        self.assertEqual(lines[1], 'launcher/VelJvm.cpp :  Entering "addJVMOption"()')
        self.assertRegex(lines[2], r'^launcher/VelJvm.cpp :  Leaving  "addJVMOption"\(\) at \d+$')
        self.assertRegex(lines[-1], r"^launcher/VelMain.cpp:Leaving  VelCMD::endJVM\(\) at \d+$")
        self.assertNested(lines)
        for label in ["VelCMD::readKeys", "VelCMD::resetUID", "VelCMD::callMain", "VelCMD::convertArgs",
                      "VelCMD::ConvertString", "VelCMD::readClassPath", "VelCMD::getFilesFromDir",
                      '"insertInstallDir"', "VelCMD::readBasePath", "VelCMD::readShlibPath",
                      "VelCMD::readJavaHome", "VelCMD::genOptionString(string,char*)",
                      "VelCMD::genOptionString(string,string)"]:
            self.assertTrue(any(line.endswith(":Entering %s()" % label) or
                                (" Entering %s()" % label) in line for line in lines), label)

        # The keys and the privileges have a source file of their own; its path fills the field.
        at = lines.index("launcher/VelPriv.cpp:Entering VelCMD::readKeys()")
        self.assertEqual(lines[at + 1], "launcher/VelPriv.cpp:  Entering VelCMD::resetUID()")
        self.assertRegex(lines[at + 2], r"^launcher/VelPriv.cpp:  Leaving  VelCMD::resetUID\(\) at \d+$")
        self.assertRegex(lines[at + 3], r"^launcher/VelPriv.cpp:Leaving  VelCMD::readKeys\(\) at \d+$")

        _, empty_fields = self.traced(",,31,")
        self.assertEqual(self.body(empty_fields), lines)

    def test_both_levels_indent_messages_by_depth(self):
        result, text = self.traced("0,31")
        lines = self.body(text)
        self.assertEqual(lines[:3], [STARTED, "launcher/VelJvm.cpp :Entering VelCMD::startJVM()",
                                     "launcher/VelJvm.cpp :     Setting heap size according to default values"])
        self.assertNested(lines)
        # Inside startJVM (depth 1) messages carry 4 blanks until a nested call has returned, then 6.
        self.assertIn("launcher/VelCLI.cpp :     enter localVMargs", lines)
        self.assertIn("launcher/VelCLI.cpp :       exit localVMargs", lines)
        self.assertIn("launcher/VelJvm.cpp :       Start the JVM.", lines)
        # A depth-2 operation that calls another: 2 + 4 blanks before, 4 + 4 inside the inner one.
        at = lines.index("launcher/VelJvm.cpp :  Entering VelCMD::genOptionString(string,char*)()")
        self.assertEqual(lines[at + 1:at + 4], [
            "launcher/VelJvm.cpp :       Incoming:",
            "launcher/VelJvm.cpp :       value='<NULL>'",
            "launcher/VelJvm.cpp :    Entering VelCMD::genOptionString(string,string)()"])
        self.assertEqual(lines[at + 4], "launcher/VelJvm.cpp :         Incoming:")

    def test_bad_level_is_reported_and_others_apply(self):
        result, text = self.traced("40,0")
        self.assertEqual(result.err, "DBG: Bad debug level number - 40\n")
        self.assertEqual(result.status, 0)
        lines = self.body(text)
        self.assertEqual(lines[0], STARTED)
        self.assertFalse(any(CALL_LINE.match(line) for line in lines))

    def test_error_exit_ends_the_trace(self):
        base = self.ws.tree("noclass")
        os.remove(base + "/opt/vel/lib/vel.jar")
        result, text = self.traced("0,31", name="velversion", base=base)
        self.assertEqual(result.status, 1)
        lines = self.body(text)
        self.assertEqual(lines[-5:-1], [
            "launcher/VelMain.cpp:     myName.c_str()='velversion'",
            "launcher/VelCMD.cpp :  Entering VelCMD::errorExit()",
            "launcher/VelCMD.cpp :       logMsg='ERROR:   The command 'velversion' cannot load the class "
            "com/orva/vel/utilities/version/VelVersion.",
            "Perhaps the command is restricted to administrative users.'"])
        self.assertRegex(lines[-1], r"^launcher/VelCMD.cpp :  Leaving  VelCMD::errorExit\(\) at \d+$")

    def test_each_process_writes_its_own_file(self):
        first, _ = self.traced("0", name="VelVersion")
        self.assertEqual(first.status, 0)
        second, _ = self.traced("0", name="velversion")
        self.assertNotEqual(first.pid, second.pid)

    def test_unknown_name_writes_no_trace(self):
        result, text = self.traced("0,31", name="velnothing")
        self.assertEqual((result.status, result.out, result.err, text), (1, "", "", None))

    def test_missing_trace_directory_is_reported_and_the_command_runs(self):
        result, text = self.traced("0,31", logs=False)
        self.assertIsNone(text)
        self.assertEqual(result.err,
                         "Can't open debug trace file. '/var/opt/vel/logs/velnode.dbg.%d'\n"
                         "Error #2 - No such file or directory\n" % result.pid)
        self.assertEqual(result.status, 0)
        self.assertIn("main com.orva.vel.cli.VelCommandDispatcher", result.lines())


if __name__ == "__main__":
    unittest.main()

"""The error exit writes to the system log with priority error, passing the message as data.
Each run gets a private /dev whose /dev/log is this test's socket (mount namespace, root only)."""

import os
import shutil
import unittest

from launcher_env import EXTRAS, STAGE, SyslogCatcher, Workspace, mount_namespace_problem, run

PROBE = os.environ["VEL_ERROREXIT_PROBE"]
LOG_ERR_USER = b"<11>"   # facility user (the default), priority error


NAMESPACE_PROBLEM = mount_namespace_problem()


@unittest.skipIf(NAMESPACE_PROBLEM, NAMESPACE_PROBLEM)
class ErrorExitSyslog(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()
        self.catcher = SyslogCatcher(self.ws)

    def tearDown(self):
        self.catcher.close()
        self.ws.close()

    def assertLogged(self, message, ident):
        received = self.catcher.messages()
        self.assertEqual(len(received), 1, received)
        entry = received[0]
        self.assertTrue(entry.startswith(LOG_ERR_USER), entry)
        self.assertTrue(entry.endswith((" %s: " % ident).encode() + message.encode()), entry)

    def test_per_cent_signs_arrive_unchanged(self):
        message = "ERROR:   100% done %s %n %d%%"
        result = run(self.catcher.argv([PROBE, message]))
        self.assertEqual((result.status, result.err), (1, message + "\n"))
        self.assertLogged(message, "errorexit_probe")

    def test_launcher_failure_goes_to_the_log(self):
        base = self.ws.tree("noclass")
        os.remove(base + "/opt/vel/lib/vel.jar")
        result = run(self.catcher.argv([self.ws.link("velversion")]), env=self.ws.env(base))
        self.assertEqual(result.status, 1)
        self.assertLogged("ERROR:   The command 'velversion' cannot load the class "
                          "com/orva/vel/utilities/version/VelVersion.\n"
                          "Perhaps the command is restricted to administrative users.", "velversion")

    def test_java_failures_go_to_the_log(self):
        base = self.ws.tree("nomain")
        shutil.copy(os.path.join(EXTRAS, "nomain.jar"), base + "/opt/vel/patch/")
        cases = [
            (["velnode", "--throw"], self.ws.env(STAGE),
             "ERROR:   velnode received an exception from Java Virtual Machine."),
            (["velnode"], self.ws.env(base),
             "ERROR:   velnode cannot find the method main([Ljava/lang/String;)V in the "
             "class com/orva/vel/cli/VelCommandDispatcher."),
            (["velversion"], self.ws.env(STAGE, VEL_JVM_OPTS="-Xmxfoo"),
             "ERROR:   Cannot create Java Virtual Machine for velversion."),
        ]
        for argv, env, message in cases:
            with self.subTest(message=message):
                result = run(self.catcher.argv([self.ws.link(argv[0])] + argv[1:]), env=env)
                self.assertEqual(result.status, 1)
                self.assertLogged(message, argv[0])

    def test_no_log_entry_on_success(self):
        result = run(self.catcher.argv([self.ws.link("velversion")]), env=self.ws.env())
        self.assertEqual(result.status, 0, result.err)
        self.assertEqual(self.catcher.messages(timeout=0.3), [])


if __name__ == "__main__":
    unittest.main()

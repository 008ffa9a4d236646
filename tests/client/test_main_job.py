"""The README's main job, end to end: clifclient -> stand-in CMS over HTTPS -> launcher -> Java.

    python3 test_main_job.py MAIN_JOB_SCRIPT BUILD_DIR
"""

import os
import subprocess
import sys
import unittest

SCRIPT = None
BUILD = None
JDK = os.environ["VEL_JDK_HOME"]


class MainJob(unittest.TestCase):
    def test_remote_command_runs_through_the_launcher(self):
        env = dict(os.environ, JAVA_HOME=JDK)
        result = subprocess.run(["bash", SCRIPT, BUILD], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=120, env=env)
        out = result.stdout.decode(errors="replace")
        self.assertEqual(0, result.returncode, out + result.stderr.decode(errors="replace"))
        # The launcher alone, then the same launcher behind the client.
        self.assertIn("main com.orva.vel.utilities.version.VelVersion\n", out)
        self.assertIn("main com.orva.vel.cli.VelCommandDispatcher\nargc=3\narg[0]=velnode\narg[1]=-l\n"
                      "arg[2]=two words\n", out)
        self.assertIn("arg[1]=--exit=3\n[exit status 3]\n", out)
        self.assertIn("[stderr] ERROR:   velnode received an exception from Java Virtual Machine.\n"
                      "[exit status 1]\n", out)
        self.assertIn('Example: <commandname> --user "mydomain\\myusername" --pass yourpasswd\n'
                      "[stderr] velnode: logon refused by the CMS (", out)
        # What a user sees: the command on the CMS, the input arriving there, the trace, the causes.
        self.assertIn("velhosts is running on the CMS, arguments: --list two words\n"
                      "the CMS received input line 1: node-a\nthe CMS received input line 2: node-b\n", out)
        self.assertRegex(out, r"\[stderr\] velhosts: trace: invoke https://127\.0\.0\.1:\d+/jboss-net/services/"
                              r"clifservice: HTTP 200, sent \d+ B, received \d+ B, ")
        self.assertIn("unable to get local issuer certificate\n[stderr] velhosts: certificate subject: CN=127.0.0.1; "
                      "issuer: CN=vel demo CA", out)
        self.assertIn("everything would work\n[exit status 0]\n", out)


if __name__ == "__main__":
    SCRIPT, BUILD = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)

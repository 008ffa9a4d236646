"""clifclient's command line, logon choice and connection help, run as a user would."""

import os
import subprocess
import time

import clif_fixture as cf
from clif_texts import (CMS_ARGUMENT, CONNECTION_HELP, EMPTY_ARGUMENT, ENV_ARGUMENT, NO_CONFIG_FOR_URLS, PARSE_ERROR,
                        PASSWORD_ARGUMENT, USERNAME_ARGUMENT)

PRINT_ARGS = 'for a in "$@"; do printf "[%s]" "$a"; done; echo\n'


class CommandLine(cf.ClifTestCase):
    def setUp(self):
        self.command("velnode", PRINT_ARGS)
        self.command("veluser", 'echo "veluser $*"\n')

    def test_options_anywhere_in_all_spellings_are_taken_out(self):
        for args in (["-a", "--user", "admin", "b", "--pass", "secret", "--cms", "h", "--env", "X=1", "c"],
                     ["--username", "nobody", "-a", "--password", "wrong", "b", "--user", "admin",
                      "--password", "secret", "c", "--cms", "x", "--cms", "y"]):
            with self.subTest(args=args):
                result = self.run_client(args, user=False)
                self.assertEqual((0, b"[-a][b][c]\n", b""), (result.returncode, result.stdout, result.stderr))
                logon = self.sent()[0]
                self.assertEqual(("admin", "secret"),
                                 (cf.child_text(logon, "username"), cf.child_text(logon, "password")))
                self.assertEqual(["velnode", "-a", "b", "c"], cf.forwarded_args(self.sent()[1]))

    def test_command_name_is_the_program_name(self):
        result = self.run_client(["-l"], name="veluser")
        self.assertEqual(b"veluser -l\n", result.stdout)
        self.assertEqual(["veluser", "-l"], cf.forwarded_args(self.sent()[1]))

    def test_ordinary_arguments_are_forwarded_unchanged(self):
        args = ["--user=smith", "-user", "--USER", "", "a b", "--", "-x", "--cmsx", "ü"]
        result = self.run_client(args)
        self.assertEqual(0, result.returncode)
        self.assertEqual("".join("[%s]" % a for a in args).encode() + b"\n", result.stdout)

    def test_cms_and_env_as_last_argument_are_forwarded(self):
        for last in ("--cms", "--env"):
            with self.subTest(last=last):
                result = self.run_client(["-l", last])
                self.assertEqual(b"[-l][%s]\n" % last.encode(), result.stdout)
        result = self.run_client(["--cms", "host", "-l"])
        self.assertEqual(b"[-l]\n", result.stdout)

    def assertRefused(self, args, expected_output, user=False):
        result = self.run_client(args, user=user)
        self.assertEqual((1, expected_output, b""), (result.returncode, result.stdout, result.stderr))
        self.assertEqual([], self.sent(), "nothing may be sent after a command-line error")

    def test_user_or_password_as_last_argument_is_an_error(self):
        self.assertRefused(["-l", "--user"], PARSE_ERROR + USERNAME_ARGUMENT)
        self.assertRefused(["-l", "--password"], PARSE_ERROR + PASSWORD_ARGUMENT)

    def test_value_starting_with_dash_is_refused(self):
        self.assertRefused(["--user", "-x"], PARSE_ERROR + USERNAME_ARGUMENT)
        self.assertRefused(["--cms", "-x"], PARSE_ERROR + CMS_ARGUMENT)
        self.assertRefused(["--env", "-x"], PARSE_ERROR + ENV_ARGUMENT)

    def test_empty_value_is_announced_before_the_block(self):
        self.assertRefused(["--user", ""], EMPTY_ARGUMENT + PARSE_ERROR + USERNAME_ARGUMENT)
        self.assertRefused(["--pass", "", "--cms", ""],
                           EMPTY_ARGUMENT + EMPTY_ARGUMENT + PARSE_ERROR + PASSWORD_ARGUMENT + CMS_ARGUMENT)

    def test_all_errors_in_bit_order(self):
        self.assertRefused(["--env", "-e", "--cms", "-c", "--user", "-u", "--pass"],
                           PARSE_ERROR + PASSWORD_ARGUMENT + USERNAME_ARGUMENT + CMS_ARGUMENT + ENV_ARGUMENT)

    def test_many_env_options_are_read_at_once(self):
        # 50 000 options; the missing configuration file ends the run right after the command line.
        bindir = os.path.join(self.work, "no-config", "bin")
        os.makedirs(bindir, exist_ok=True)
        if not os.path.lexists(os.path.join(bindir, "velnode")):
            os.symlink(cf.CLIFCLIENT, os.path.join(bindir, "velnode"))
        args = [a for i in range(50000) for a in ("--env", "V%05d=%d" % (i, i))]
        try:
            result = self.run_client(args + ["--cms", "h"], argv0=os.path.join(bindir, "velnode"), timeout=20)
        except subprocess.TimeoutExpired:
            self.fail("50 000 --env options were not read within 20 s")
        self.assertEqual((2, NO_CONFIG_FOR_URLS),
                         (result.returncode, result.stdout))

    def test_env_value_without_equals_is_an_environment_error(self):
        self.assertRefused(["--env", "NOEQUALS", "-l"], PARSE_ERROR + ENV_ARGUMENT, user=True)


class Logon(cf.ClifTestCase):
    def setUp(self):
        self.command("velnode", 'echo ran\n')

    def test_user_and_password(self):
        result = self.run_client(["--user", "admin", "--pass", "secret"], user=False)
        self.assertEqual((0, b"ran\n"), (result.returncode, result.stdout))
        self.assertEqual(["logon", "invoke"], [r.operation() for r in self.sent()[:2]])
        logon = self.sent()[0]
        self.assertEqual(("admin", "secret"), (cf.child_text(logon, "username"), cf.child_text(logon, "password")))
        self.assertEqual("admin", cf.child_text(self.sent()[1], "in1"))
        # One connection and one full TLS handshake per command: the invocation goes on over the
        # logon's connection.
        self.assertEqual(["full"] + ["kept"] * (len(self.sent()) - 1), [r.handshake for r in self.sent()])

    def test_user_alone_logs_on_with_the_cms_key(self):
        result = self.run_client(["--user", "admin"], user=False)
        self.assertEqual((0, b"ran\n"), (result.returncode, result.stdout))
        self.assertEqual(["getCMSConfigPath", "logonAsRoot", "invoke"], [r.operation() for r in self.sent()[:3]])
        self.assertEqual(["full"] + ["kept"] * (len(self.sent()) - 1), [r.handshake for r in self.sent()])
        root_logon = self.sent()[1]
        self.assertEqual("admin", cf.child_text(root_logon, "username"))
        self.assertEqual(b"cms private key bytes\n",
                         cf.vt.base64.b64decode(cf.child_text(root_logon, "cmsPrivateKeyBytes")))

    def test_tls_session_is_offered_to_the_same_host_and_port_only(self):
        # 127.1 reaches the same server under another host name: the invocation makes its own handshake.
        other_host = self.cms.invoke_url.replace("://127.0.0.1:", "://127.1:")
        bindir = self.stage_install(os.path.join(self.work, "otherhost"),
                                    cfg_text="velpimainurl=%s\nclifserviceurl=%s\n" % (self.cms.logon_url, other_host))
        result = self.run_client([], argv0=os.path.join(bindir, "velnode"))
        self.assertEqual((0, b"ran\n"), (result.returncode, result.stdout))
        self.assertEqual(["full", "full"], [r.handshake for r in self.sent()[:2]])

    def test_tls_session_is_resumed_when_the_logon_connection_closes(self):
        # A logon reply with "Connection: close" (scripted, with the token of an earlier run): the
        # invocation opens its own connection and resumes the logon's TLS session on it.
        self.assertEqual(0, self.run_client([]).returncode)
        token = cf.child_text(self.sent()[1], "in0")
        self.script(1, cf.logon_reply(token))
        result = self.run_client([])
        self.assertEqual((0, b"ran\n"), (result.returncode, result.stdout))
        self.assertEqual(["full", "resumed"] + ["kept"] * (len(self.sent()) - 2), [r.handshake for r in self.sent()])

    def test_password_alone_uses_the_local_login_name(self):
        result = self.run_client(["--pass", "localpw"], user=False)
        self.assertEqual((0, b"ran\n"), (result.returncode, result.stdout))
        logon = self.sent()[0]
        self.assertEqual((cf.LOCAL_USER, "localpw"),
                         (cf.child_text(logon, "username"), cf.child_text(logon, "password")))
        self.assertEqual(cf.LOCAL_USER, cf.child_text(self.sent()[1], "in1"))

    def cmdline_while_running(self, args):
        """The client's /proc/PID/cmdline once its logon has gone out, and its exit status, output and error.
        The remote command runs until the command line has been read."""
        read = os.path.join(self.work, "cmdline-read")
        if os.path.exists(read):
            os.remove(read)
        self.command("velnode", 'while [ ! -e "%s" ]; do sleep 0.05; done; echo ran\n' % read)
        self.first_request = len(self.cms.requests()) + 1
        client = subprocess.Popen([os.path.join(self.bindir, "velnode")] + args,
                                  env=cf.BASE_ENV, cwd=self.work, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            # Once the logon has gone out, the command line has been read.
            deadline = time.monotonic() + 20
            while not self.sent() and time.monotonic() < deadline:
                time.sleep(0.02)
            with open("/proc/%d/cmdline" % client.pid, "rb") as f:
                cmdline = f.read()
            open(read, "w").close()
            out, err = client.communicate(timeout=30)
        finally:
            if client.poll() is None:
                client.kill()
                client.communicate()
        return cmdline, client.returncode, out, err

    def test_password_does_not_show_in_the_process_table(self):
        cmdline, status, out, err = self.cmdline_while_running(["--user", "admin", "--pass", "secret"])
        self.assertIn(b"\0--pass\0", cmdline)
        self.assertNotIn(b"secret", cmdline)
        self.assertEqual((0, b"ran\n", b""), (status, out, err))
        self.assertEqual("secret", cf.child_text(self.sent()[0], "password"))

    def test_password_given_with_equals_is_forwarded_but_hidden(self):
        # "--pass=..." is no option: forwarded unchanged, but blanked in the process table and named
        # on standard error.
        args = ["--user", "admin", "--pass", "secret", "--pass=first-hidden", "-l", "--password=second-hidden"]
        cmdline, status, out, err = self.cmdline_while_running(args)
        self.assertNotIn(b"hidden", cmdline)
        self.assertIn(b"\0--pass=", cmdline)
        self.assertIn(b"\0--password=", cmdline)
        self.assertEqual((0, b"ran\n"), (status, out))
        self.assertEqual(b"velnode: --pass=VALUE is not an option: it is passed on to the command as it is\n"
                         b"velnode: --password=VALUE is not an option: it is passed on to the command as it is\n",
                         err)
        self.assertEqual(["velnode", "--pass=first-hidden", "-l", "--password=second-hidden"],
                         cf.forwarded_args(self.sent()[1]))

    def test_empty_token_is_a_failed_logon(self):
        self.script(1, cf.logon_reply(""))
        result = self.run_client([])
        self.assertEqual((255, CONNECTION_HELP), (result.returncode, result.stdout))


class ConfigurationDirectory(cf.ClifTestCase):
    """Which CLIClientConfig.cfg is read shows in the LOCALE entry each one sets."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.pathdir = cls.stage_install(os.path.join(cls.work, "viapath"), extra_words=["LOCALE=from_path"])
        cls.cwddir = cls.stage_install(os.path.join(cls.work, "viacwd"), extra_words=["LOCALE=from_cwd"])
        os.makedirs(os.path.join(cls.work, "viacwd", "sub"))

    def setUp(self):
        self.command("velnode", 'echo "$LOCALE"\n')

    def test_from_the_program_path(self):
        result = self.run_client([], argv0=os.path.join(self.pathdir, "..", "bin", "velnode"))
        self.assertEqual(b"from_path\n", result.stdout)

    def test_from_the_search_path_with_empty_pieces(self):
        result = self.run_client([], argv0="velnode", env={"PATH": "/nonexistent::" + self.pathdir + ":"})
        self.assertEqual(b"from_path\n", result.stdout)

    def test_from_the_working_directory(self):
        result = self.run_client([], argv0="velnode", executable=os.path.join(self.pathdir, "velnode"),
                                 env={"PATH": "/nonexistent"}, cwd=os.path.join(self.work, "viacwd", "sub"))
        self.assertEqual(b"from_cwd\n", result.stdout)

    def test_dot_slash_program(self):
        result = self.run_client([], argv0="./velnode", cwd=self.cwddir)
        self.assertEqual(b"from_cwd\n", result.stdout)


if __name__ == "__main__":
    cf.main()

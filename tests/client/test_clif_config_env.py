"""clifclient's configuration file and the environment map it sends to the CMS."""

import ctypes
import os
import resource
import shutil
import socket
import tempfile

import clif_fixture as cf
from clif_fixture import invoke_reply, status_reply
from clif_texts import NO_CONFIG_FOR_CMS, NO_CONFIG_FOR_URLS


class ConfigurationFile(cf.ClifTestCase):
    def setUp(self):
        self.command("velnode", "echo ran\n")

    def install(self, name, **config):
        return self.stage_install(os.path.join(self.work, name), **config)

    def test_word_rules_and_last_entry_wins(self):
        cms = self.cms
        bindir = self.install("words", cfg_text=(
            "velpimainurl=https://127.0.0.1:1/wrong\n"
            "# velpimainurl=%s comment words are ignored\n"
            "clifserviceurl = https://127.0.0.1:1/x clifserviceurlX=https://127.0.0.1:1/y\n\n"
            "\tvelpimainurl=%s   clifserviceurl=%s\n" % (cms.logon_url, cms.logon_url, cms.invoke_url)))
        result = self.run_client([], argv0=os.path.join(bindir, "velnode"))
        self.assertEqual((0, b"ran\n"), (result.returncode, result.stdout))

    def test_missing_file(self):
        bindir = os.path.join(self.work, "empty", "bin")
        os.makedirs(bindir)
        os.symlink(cf.CLIFCLIENT, os.path.join(bindir, "velnode"))
        result = self.run_client([], argv0=os.path.join(bindir, "velnode"))
        self.assertEqual((2, NO_CONFIG_FOR_CMS + NO_CONFIG_FOR_URLS), (result.returncode, result.stdout))
        self.assertEqual(b"velnode: cannot read the configuration file %s/../bin/CLIClientConfig.cfg: No such file or "
                         b"directory\n" % bindir.encode(), result.stderr.splitlines(True)[0])
        result = self.run_client(["--cms", "somehost"], argv0=os.path.join(bindir, "velnode"))
        self.assertEqual((2, NO_CONFIG_FOR_URLS), (result.returncode, result.stdout))
        self.assertEqual([], self.sent())

    def test_file_that_is_no_regular_file_cannot_be_read(self):
        # A FIFO would block the open, a link to /dev/zero would be read without end (an
        # address-space limit makes that fail fast instead of filling the machine; a sanitizer
        # build, which reserves terabytes of shadow memory, runs without it).
        with open(cf.CLIFCLIENT, "rb") as f:
            sanitized = b"__asan_init" in f.read()

        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        for kind in ("FIFO", "link to /dev/zero", "directory", "UNIX socket"):
            with self.subTest(kind=kind):
                bindir = os.path.join(self.work, "not-regular-" + kind.split()[0], "bin")
                os.makedirs(bindir)
                os.symlink(cf.CLIFCLIENT, os.path.join(bindir, "velnode"))
                cfg = os.path.join(bindir, "CLIClientConfig.cfg")
                if kind == "FIFO":
                    os.mkfifo(cfg)
                elif kind == "directory":
                    os.mkdir(cfg)
                elif kind == "UNIX socket":
                    listener = socket.socket(socket.AF_UNIX)
                    listener.bind(cfg)
                    self.addCleanup(listener.close)
                else:
                    os.symlink("/dev/zero", cfg)
                limit = limit_memory if kind.startswith("link") and not sanitized else None
                result = self.run_client([], argv0=os.path.join(bindir, "velnode"), timeout=10, preexec_fn=limit)
                self.assertEqual((13, NO_CONFIG_FOR_CMS + NO_CONFIG_FOR_URLS), (result.returncode, result.stdout))
                self.assertEqual(b"velnode: cannot read the configuration file %s: not a regular file\n"
                                 % os.path.join(bindir, "..", "bin", "CLIClientConfig.cfg").encode(),
                                 result.stderr.splitlines(True)[0])
                self.assertEqual([], self.sent())

    def test_unreadable_file(self):
        # Root reads any file, so as root the client runs as "nobody" from a copy it may execute.
        top = tempfile.mkdtemp(prefix="clif-unreadable-")
        try:
            os.chmod(top, 0o755)
            bindir = os.path.join(top, "bin")
            os.makedirs(bindir)
            shutil.copy(cf.CLIFCLIENT, os.path.join(bindir, "velnode"))
            cfg = os.path.join(bindir, "CLIClientConfig.cfg")
            with open(cfg, "w") as f:
                f.write("velpimainurl=%s\n" % self.cms.logon_url)
            os.chmod(cfg, 0)
            drop = None
            if os.getuid() == 0:
                def drop():
                    os.setgid(65534)
                    os.setuid(65534)
            result = self.run_client([], argv0=os.path.join(bindir, "velnode"), cwd=top, preexec_fn=drop)
            self.assertEqual((13, NO_CONFIG_FOR_CMS + NO_CONFIG_FOR_URLS), (result.returncode, result.stdout))
        finally:
            shutil.rmtree(top, ignore_errors=True)


class EnvironmentMap(cf.ClifTestCase):
    """The map travels with the invoke call; the stand-in's reply ends the run at once."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.filebin = cls.stage_install(os.path.join(cls.work, "withfile"), extra_words=[
            "LINE_END=\\r\\n", "LOCALE=xx_XX", "ENCODING=first", "ENCODING=file-enc"])
        cls.locales = cls.make_locales()

    @classmethod
    def make_locales(cls):
        """Compiles a few locales into a private LOCPATH; None when the locale sources are missing."""
        path = os.path.join(cls.work, "locales")
        os.makedirs(path)
        for source, charmap, name in (("de_DE", "ISO-8859-1", "de_DE.ISO-8859-1"),
                                      ("de_DE@euro", "ISO-8859-15", "de_DE.ISO-8859-15@euro"),
                                      ("de_DE@euro", "UTF-8", "de_DE@euro")):
            try:
                cf.vt.run(["localedef", "-i", source, "-f", charmap, os.path.join(path, name)],
                                 timeout=60)
            except OSError:
                return None
            if not os.path.isdir(os.path.join(path, name)):
                return None
        return path

    def env_map(self, args=(), env=None, argv0=None, cwd=None):
        self.script(2, invoke_reply(complete=True, returnCode=0, sessionId="s"))
        result = self.run_client(list(args), env=env, argv0=argv0, cwd=cwd)
        self.assertEqual(0, result.returncode, result.stdout)
        return cf.env_items(self.sent()[1])

    def test_caller_variables_in_key_order(self):
        items = self.env_map(env={"ZED": "last", "AAA": "first", "abc": "lower", "EMPTY": "", "EQ": "a=b"})
        keys = [k for k, _ in items]
        self.assertEqual(sorted(keys, key=lambda k: k.encode()), keys)
        self.assertEqual(len(set(keys)), len(keys))
        env = dict(items)
        for key, value in {"ZED": "last", "AAA": "first", "abc": "lower", "EMPTY": "", "EQ": "a=b",
                           "PATH": "/usr/bin:/bin"}.items():
            self.assertEqual(value, env.get(key), key)

    def test_malformed_environment_entries_are_not_sent(self):
        # Such entries cannot be made through os.environ: the child execs by hand.
        envp_entries = [b"NOEQUALS", b"=leading", b"GOOD=1", b"PATH=/usr/bin:/bin", b"LC_ALL=C"]
        program = os.path.join(self.bindir, "velnode").encode()
        argv = (ctypes.c_char_p * 6)(program, b"--user", b"admin", b"--pass", b"secret", None)
        envp = (ctypes.c_char_p * (len(envp_entries) + 1))(*envp_entries, None)

        def exec_with_raw_environment():
            ctypes.CDLL(None).execve(program, argv, envp)

        self.script(2, invoke_reply(complete=True, returnCode=0, sessionId="s"))
        self.first_request = len(self.cms.requests()) + 1
        result = cf.vt.run(["/bin/false"], timeout=30, stdin=cf.subprocess.DEVNULL, cwd=self.work,
                           preexec_fn=exec_with_raw_environment)
        self.assertEqual(0, result.returncode, result.stdout)
        keys = [k for k, _ in cf.env_items(self.sent()[1])]
        self.assertIn("GOOD", keys)
        self.assertNotIn("NOEQUALS", keys)
        self.assertFalse([k for k in keys if k == "" or k.startswith("=") or "leading" in k], keys)

    def test_same_map_with_every_status_call(self):
        self.script(2, invoke_reply(complete=False, sessionId="s"))
        self.script(3, status_reply(complete=False, sessionId="s"))
        self.script(4, status_reply(complete=True, returnCode=0, sessionId="s"))
        self.run_client([], env={"TZ": "Europe/Berlin"})
        maps = [cf.env_items(r) for r in self.sent()[1:]]
        self.assertEqual(3, len(maps))
        self.assertTrue(all(m == maps[0] for m in maps))

    def test_c_locale(self):
        env = dict(self.env_map(env={"LC_ALL": "C"}))
        self.assertEqual(("en_US", "UTF-8", "\n"), (env["LOCALE"], env["ENCODING"], env["LINE_END"]))
        env = dict(self.env_map(env={"LC_ALL": "xx_NOWHERE.none"}))
        self.assertEqual(("en_US", "UTF-8"), (env["LOCALE"], env["ENCODING"]))

    def test_locale_names_with_encoding_and_modifier(self):
        if self.locales is None:
            self.skipTest("localedef or the locale sources are not installed")
        for name, locale, encoding in (("de_DE.ISO-8859-1", "de_DE", "ISO-8859-1"),
                                       ("de_DE.ISO-8859-15@euro", "de_DE", "ISO-8859-15"),
                                       ("de_DE@euro", "de_DE", "UTF-8")):
            with self.subTest(name=name):
                env = dict(self.env_map(env={"LOCPATH": self.locales, "LC_ALL": name}))
                self.assertEqual((locale, encoding, "\n"), (env["LOCALE"], env["ENCODING"], env["LINE_END"]))

    def test_working_directory_ends_in_a_slash(self):
        env = dict(self.env_map(env={"CWD": "/from/caller"}, cwd=self.work))
        self.assertEqual(self.work + "/", env["CWD"])
        env = dict(self.env_map(cwd="/"))
        self.assertEqual("/", env["CWD"])

    def test_file_entries(self):
        env = dict(self.env_map(argv0=os.path.join(self.filebin, "velnode"),
                                env={"LINE_END": "caller", "LOCALE": "caller"}))
        self.assertEqual(("\r\n", "xx_XX", "file-enc"), (env["LINE_END"], env["LOCALE"], env["ENCODING"]))

    def test_env_options_first_one_wins_over_file_and_caller(self):
        env = dict(self.env_map(["--env", "TZ=UTC", "--env", "TZ=GMT", "--env", "LOCALE=fr_FR",
                                 "--env", "LINE_END=;", "--env", "NEW=x=y", "--env", "BLANK="],
                                argv0=os.path.join(self.filebin, "velnode"), env={"TZ": "Caller/Zone"}))
        self.assertEqual(("UTC", "fr_FR", ";", "x=y", "", "file-enc"),
                         (env["TZ"], env["LOCALE"], env["LINE_END"], env["NEW"], env["BLANK"], env["ENCODING"]))

    def test_dtflang_comes_last(self):
        for dtflang, locale, encoding in (("ja_JP.eucJP", "ja_JP", "eucJP"), ("C", "C", "env-enc"),
                                          ("", "fr_FR", "env-enc"), ("pt_BR@x", "pt_BR", "env-enc")):
            with self.subTest(dtflang=dtflang):
                env = dict(self.env_map(["--env", "LOCALE=fr_FR", "--env", "ENCODING=env-enc"],
                                        env={"DTFLANG": dtflang}))
                self.assertEqual((locale, encoding), (env["LOCALE"], env["ENCODING"]))


if __name__ == "__main__":
    cf.main()

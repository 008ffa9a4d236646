"""What clifclient tells its user when a step fails: standard output and the exit status stay
exactly as they were, and standard error names the cause, behind the command name.

Each case drives one failure an administrator meets when setting the client up, from the name
of the host to the CMS key file, and checks the three streams.
"""

import os
import re
import sys
import socket

import clif_fixture as cf
import vel_testsupport as vt
from clif_texts import (CONNECTION_HELP, INVOKE_FAILED, LOGON_SETUP_FAILED, NO_CONFIG_FOR_CMS, NO_CONFIG_FOR_URLS,
                        PANIC_LINE)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fault"))
from fault_server import FaultServer, http_response, reply  # noqa: E402


def closed_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


class Causes(cf.ClifTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # A plain-HTTP CMS whose configuration directory holds no key file.
        cls.plain_config = os.path.join(cls.work, "plainconfig")
        os.makedirs(cls.plain_config)
        cls.plain = vt.StandInCms(cf.VELCMS, os.path.join(cls.work, "plain"), tls_pem=None,
                                  users={"admin": "secret"}, commands_dir=cls.cms.commands_dir,
                                  config_dir=cls.plain_config)
        os.makedirs(cls.plain.work_dir)
        cls.plain.start()

    @classmethod
    def tearDownClass(cls):
        cls.plain.stop()
        super().tearDownClass()

    def setUp(self):
        self.command("velnode", "echo ran\n")

    def install(self, **config):
        """A fresh install directory; config as for vt.write_client_config."""
        top = os.path.join(self.work, "%s-%d" % (self._testMethodName, len(os.listdir(self.work))))
        bindir = os.path.join(top, "bin")
        os.makedirs(bindir)
        os.symlink(cf.CLIFCLIENT, os.path.join(bindir, "velnode"))
        config.setdefault("logon_url", self.cms.logon_url)
        config.setdefault("invoke_url", self.cms.invoke_url)
        vt.write_client_config(bindir, **config)
        return bindir

    @staticmethod
    def tried(bindir, name):
        """The path the client tries for a file of its configuration directory."""
        return os.path.join(bindir, "..", "bin", name)

    def run_in(self, bindir, args=(), user=True, **kwargs):
        return self.run_client(list(args), argv0=os.path.join(bindir, "velnode"), user=user, **kwargs)

    def assertRun(self, result, status, stdout, *causes):
        """Exit status and standard output exactly; each cause pattern matches a line of standard error."""
        self.assertEqual((status, stdout), (result.returncode, result.stdout), result.stderr)
        lines = result.stderr.decode("latin-1").splitlines()
        for cause in causes:
            self.assertTrue(any(re.search(cause, line) for line in lines),
                            "no line matching %r in:\n%s" % (cause, result.stderr.decode("latin-1")))
        for line in lines:
            self.assertTrue(line.startswith("velnode: "), line)
            self.assertNotIn("secret", line)

    # ---- the network and the services

    def test_host_that_does_not_resolve(self):
        bindir = self.install(logon_url="https://no-such-host.invalid:50001" + vt.LOGON_PATH)
        self.assertRun(self.run_in(bindir), 255, CONNECTION_HELP,
                       r"^velnode: cannot resolve host no-such-host\.invalid \(https://no-such-host\.invalid:50001"
                       r"/velsoap/services/VelpiMain5_0\): \S")

    def test_refused_port(self):
        port = closed_port()
        bindir = self.install(logon_url="https://127.0.0.1:%d/velsoap" % port)
        self.assertRun(self.run_in(bindir), 255, CONNECTION_HELP,
                       r"^velnode: cannot connect to 127\.0\.0\.1 port %d \(https://127\.0\.0\.1:%d/velsoap\): "
                       r"Connection refused$" % (port, port))

    def test_http_against_the_tls_port(self):
        url = self.cms.logon_url.replace("https://", "http://")
        bindir = self.install(logon_url=url)
        self.assertRun(self.run_in(bindir), 255, CONNECTION_HELP,
                       re.escape("velnode: warning: the password goes in clear text to " + url),
                       r"127\.0\.0\.1 port \d+ \(%s" % re.escape(url),
                       r"^velnode: if the server speaks TLS on that port, the URL must start with https://$")

    def test_https_against_a_plain_http_server(self):
        url = self.plain.logon_url.replace("http://", "https://")
        bindir = self.install(logon_url=url)
        self.assertRun(self.run_in(bindir, timeout=90), 255, CONNECTION_HELP,
                       r"^velnode: TLS handshake with 127\.0\.0\.1 port \d+ \(%s\) failed: " % re.escape(url),
                       r"^velnode: the server did not answer in TLS; if it serves plain HTTP on that port, the "
                       r"URL must start with http://$")

    def test_server_certificate_from_another_ca(self):
        bindir = self.install(ca_cert=vt.make_pki().public_ca_cert)
        self.assertRun(self.run_in(bindir), 255, CONNECTION_HELP,
                       r"^velnode: the certificate of 127\.0\.0\.1 port \d+ \(%s\) does not verify against "
                       r"%s: unable to get local issuer certificate$"
                       % (re.escape(self.cms.logon_url), re.escape(self.tried(bindir, "server_cert.pem"))),
                       r"^velnode: certificate subject: CN=127\.0\.0\.1; issuer: CN=testca ")

    def test_server_certificate_itself_in_place_of_its_ca(self):
        # The server's own certificate as the trust anchor: refused while the client trusts CA
        # certificates only; once such a certificate may be pinned, the call goes through.
        leaf = os.path.join(self.work, "server-only.pem")
        with open(vt.make_pki().server_pem) as f:
            text = f.read()
        with open(leaf, "w") as f:
            f.write(text[text.index("-----BEGIN CERTIFICATE-----"):])
        bindir = self.install(ca_cert=leaf)
        result = self.run_in(bindir)
        if result.returncode == 0:
            self.assertEqual((b"ran\n", b""), (result.stdout, result.stderr))
            return
        self.assertRun(result, 255, CONNECTION_HELP,
                       r"does not verify against %s: " % re.escape(self.tried(bindir, "server_cert.pem")),
                       r"^velnode: certificate subject: CN=127\.0\.0\.1; issuer: CN=testca \(server_cert\.pem holds "
                       r"this certificate itself; it must hold the certificate of its issuer, the CA that signed it\)$")

    def test_http_error_status(self):
        not_found = reply(http_response("no", 404, content_type="text/html"))
        with FaultServer(vt.make_pki().server_pem, [not_found]) as server:
            bindir = self.install(logon_url=server.url)
            self.assertRun(self.run_in(bindir), 255, CONNECTION_HELP,
                           r"^velnode: HTTP 404 Not Found from %s \(logon call\)$" % re.escape(server.url),
                           r"^velnode: no logon service at that path: check velpimainurl= in %s$"
                           % re.escape(self.tried(bindir, "CLIClientConfig.cfg")))

    # ---- the configuration

    def test_key_typo_and_empty_configuration_file(self):
        for name, text, unknown in (("typo", "velpimainur=%s\nclifserviceurl=%s\n"
                                     % (self.cms.logon_url, self.cms.invoke_url), "velpimainur="),
                                    ("empty", "", None)):
            with self.subTest(name):
                bindir = self.install(cfg_text=text)
                causes = [r"^velnode: no URL for the logon service: %s has no velpimainurl= entry$"
                          % re.escape(self.tried(bindir, "CLIClientConfig.cfg"))]
                if unknown:
                    causes.append(r"^velnode: entries with unknown keys, which set nothing: %s$" % unknown)
                self.assertRun(self.run_in(bindir), 255, CONNECTION_HELP, *causes)

    def test_configuration_file_through_a_link_on_path(self):
        bindir = self.install()
        pathdir = os.path.join(self.work, "usr-local-bin")
        os.makedirs(pathdir, exist_ok=True)
        link = os.path.join(pathdir, "velnode")
        if not os.path.lexists(link):
            os.symlink(os.path.join(bindir, "velnode"), link)
        result = self.run_client([], argv0="velnode", executable=link,
                                 env={"PATH": pathdir + ":/usr/bin:/bin"})
        tried = os.path.join(pathdir, "..", "bin", "CLIClientConfig.cfg")
        self.assertRun(result, 2, NO_CONFIG_FOR_CMS + NO_CONFIG_FOR_URLS,
                       r"^velnode: cannot read the configuration file %s: No such file or directory$"
                       % re.escape(tried),
                       r"^velnode: %s is a symbolic link to %s: the configuration directory is taken from the path "
                       r"the command was started by, not from the link's target \(%s exists: put %s on PATH"
                       % (re.escape(link), re.escape(os.path.join(bindir, "velnode")),
                          re.escape(os.path.join(bindir, "..", "bin", "CLIClientConfig.cfg")), re.escape(bindir)))

    def test_tls_files(self):
        cases = (("randomfile", None, r"cannot read {path}: No such file or directory \(it seeds the TLS random "
                                      r"generator; make it with: head -c 1024 /dev/urandom > {path}\)$"),
                 ("randomfile", b"", r"{path} is empty \(it seeds"),
                 ("server_cert.pem", None, r"cannot read {path}: No such file or directory$"),
                 ("server_cert.pem", b"", r"{path} holds no PEM certificate \(it must hold the CA certificate"))
        for name, content, cause in cases:
            with self.subTest(name=name, content=content):
                bindir = self.install()
                path = self.tried(bindir, name)
                os.remove(path)
                if content is not None:
                    with open(path, "wb") as f:
                        f.write(content)
                result = self.run_in(bindir)
                self.assertRun(result, 255, LOGON_SETUP_FAILED + CONNECTION_HELP,
                               "^velnode: " + cause.format(path=re.escape(path)))
                self.assertEqual(1, len(result.stderr.splitlines()), result.stderr)

    # ---- the logon and the calls

    def test_refused_logon(self):
        for name, logon in (("wrong password", ["--user", "admin", "--pass", "wrong"]),
                            ("unknown user", ["--user", "nobody-here", "--pass", "secret"])):
            with self.subTest(name):
                result = self.run_in(self.bindir, logon, user=False)
                self.assertRun(result, 255, CONNECTION_HELP,
                               r"^velnode: logon refused by the CMS \(%s\): Logon failed: unknown user or wrong "
                               r"password$" % re.escape(self.cms.logon_url))
                self.assertNotIn(b"wrong", result.stderr.replace(b"wrong password", b""))

    def test_logon_without_password_off_the_cms(self):
        bindir = self.install(logon_url=self.plain.logon_url, invoke_url=self.plain.invoke_url)
        self.assertRun(self.run_in(bindir, ["--user", "admin"], user=False), 255, CONNECTION_HELP,
                       r"^velnode: logon without a password: cannot read the CMS key file %s: No such file or "
                       r"directory$" % re.escape(os.path.join(self.plain_config, ".rconfig.server")),
                       r"^velnode: that logon works only on the CMS itself")

    def test_fault_of_the_invoke_call(self):
        bindir = self.install()
        os.rename(os.path.join(bindir, "velnode"), os.path.join(bindir, "velnosuch"))
        result = self.run_client([], argv0=os.path.join(bindir, "velnosuch"))
        self.assertEqual((255, INVOKE_FAILED + b"Unknown command: velnosuch\n"), (result.returncode, result.stdout))
        self.assertEqual(b"velnosuch: invoke refused by the CMS (%s): Unknown command: velnosuch\n"
                         % self.cms.invoke_url.encode(), result.stderr)

    def test_fault_of_a_status_call(self):
        started = cf.invoke_reply(complete=False, pollPeriod=0, sessionId="s")
        with FaultServer(vt.make_pki().server_pem, [reply(http_response(cf.logon_reply("tok"))),
                                                    reply(http_response(started)),
                                                    reply(http_response(cf.fault_reply("Unknown session: s"), 500))
                                                    ]) as server:
            bindir = self.install(logon_url=server.url, invoke_url=server.url)
            self.assertRun(self.run_in(bindir), 255, PANIC_LINE + b"Unknown session: s\n",
                           r"^velnode: status refused by the CMS \(%s\): Unknown session: s$" % re.escape(server.url))

    def test_password_over_plain_http_still_goes(self):
        bindir = self.install(logon_url=self.plain.logon_url, invoke_url=self.plain.invoke_url)
        result = self.run_in(bindir)
        self.assertEqual((0, b"ran\n"), (result.returncode, result.stdout))
        self.assertEqual(b"velnode: warning: the password goes in clear text to %s (an https:// URL would "
                         b"protect it)\n" % self.plain.logon_url.encode(), result.stderr)


    # ---- clifclient --check: each mistake of the configuration found without a logon

    def test_check_finds_each_mistake_without_a_logon(self):
        pki = vt.make_pki()
        plain_as_https = self.plain.logon_url.replace("http://", "https://")
        tls_as_http = self.cms.invoke_url.replace("https://", "http://")
        cases = (
            ("good", {}, None),
            ("host", dict(logon_url="https://no-such-host.invalid:50001/x"), r"FAIL  logon service: cannot resolve"),
            ("port", dict(invoke_url="https://127.0.0.1:%d/x" % closed_port()),
             r"FAIL  clif service: cannot connect to 127\.0\.0\.1 port \d+ .*Connection refused"),
            ("other CA", dict(ca_cert=pki.public_ca_cert), r"FAIL  logon service: the certificate of .* does not verify"),
            ("https to plain", dict(logon_url=plain_as_https), r"FAIL  logon service: TLS handshake with .* failed"),
            ("http to TLS", dict(invoke_url=tls_as_http), r"FAIL  clif service: .*URL must start with https://"),
            ("key typo", dict(cfg_text="velpimainur=%s\nclifserviceurl=%s\n" % (self.cms.logon_url,
                                                                               self.cms.invoke_url)),
             r"FAIL  logon service: no URL for the logon service"),
            ("empty file", dict(cfg_text=""), r"FAIL  clif service: no URL for the clif service"),
            ("no randomfile", dict(random_bytes=None), r"FAIL  randomfile: cannot read .*randomfile"),
            ("empty randomfile", dict(random_bytes=0), r"FAIL  randomfile: .*randomfile is empty"),
            ("no server_cert.pem", dict(ca_cert=False), r"FAIL  server_cert.pem: cannot read"),
        )
        for name, config, problem in cases:
            with self.subTest(name):
                bindir = self.install(**config)
                os.symlink(cf.CLIFCLIENT, os.path.join(bindir, "clifclient"))
                logons = sum(1 for r in self.cms.requests() if r.operation().startswith("logon"))
                result = vt.run([os.path.join(bindir, "clifclient"), "--check"], env=cf.BASE_ENV, timeout=90)
                out = result.stdout.decode()
                self.assertIn("configuration directory: %s/../bin/\n" % bindir, out)
                if problem is None:
                    self.assertEqual(0, result.returncode, out)
                    self.assertTrue(out.endswith("everything would work\n"), out)
                    self.assertRegex(out, r"ok    logon service: .*TLSv1\.[23], the server's certificate verifies")
                else:
                    self.assertEqual(1, result.returncode, out)
                    self.assertRegex(out, problem)
                    self.assertRegex(out, r"\d problems? found: the commands would fail\n\Z")
                self.assertEqual(b"", result.stderr)
                self.assertEqual(logons, sum(1 for r in self.cms.requests() if r.operation().startswith("logon")))


if __name__ == "__main__":
    cf.main()

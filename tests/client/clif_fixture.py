"""Black-box fixture for clifclient: the built program under command names,
talking over TLS to the stand-in CMS.

    python3 test_x.py CLIFCLIENT VELCMS [unittest options]

ClifTestCase starts one stand-in CMS per test class (users "admin"/"secret" and
the local login name/"localpw"), stages an install directory "bin" whose
command links ("velnode", "veluser") point to the built client, and writes the
client configuration there. Helpers run the client with a small fixed
environment and read what the stand-in recorded of each request.
"""

import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vel_testsupport as vt  # noqa: E402

CLIFCLIENT = None
VELCMS = None

BASE_ENV = {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}
LOCAL_USER = pwd.getpwuid(os.getuid()).pw_name


def main():
    global CLIFCLIENT, VELCMS
    CLIFCLIENT = os.path.abspath(sys.argv[1])
    VELCMS = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)


def logon_reply(token):
    return vt.envelope('<ns0:logonResponse><logonReturn xsi:type="xsd:string">%s</logonReturn>'
                       '</ns0:logonResponse>' % token)


def invoke_reply(**status):
    return vt.envelope('<ns5:invokeResponse><invokeReturn xsi:type="ns1:clifstatus">%s</invokeReturn>'
                       '</ns5:invokeResponse>' % vt.status_xml(**status))


def status_reply(**status):
    return vt.envelope('<ns5:statusResponse><statusReturn xsi:type="ns1:clifstatus">%s</statusReturn>'
                       '</ns5:statusResponse>' % vt.status_xml(**status))


def fault_reply(string):
    return vt.envelope(vt.fault_body("SOAP-ENV:Server", string))


def _operation_element(request):
    body = request.root().find("{%s}Body" % vt.NS["SOAP-ENV"])
    return list(body)[0]


def child_text(request, name):
    element = _operation_element(request).find(name)
    return None if element is None else (element.text or "")


def env_items(request):
    """The environment map of an invoke or status request, as (key, value) pairs in sent order."""
    items = []
    for item in _operation_element(request).find("in2").findall("item"):
        items.append((item.findtext("key") or "", item.findtext("value") or ""))
    return items


def forwarded_args(request):
    return [e.text or "" for e in _operation_element(request).find("in3")]


def status_input(request):
    """(input bytes, input-open flag) of a status request."""
    return vt.base64.b64decode(child_text(request, "in3") or ""), child_text(request, "in4")


def arrival(request_path):
    return os.stat(request_path).st_mtime


class ClifTestCase(unittest.TestCase):
    users = None

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="clif-test-")
        pki = vt.make_pki()
        cls.cms_config = os.path.join(cls.work, "cmsconfig")
        os.makedirs(cls.cms_config)
        with open(os.path.join(cls.cms_config, ".rconfig.server"), "wb") as f:
            f.write(b"cms private key bytes\n")
        users = {"admin": "secret", LOCAL_USER: "localpw"}
        cls.cms = vt.StandInCms(VELCMS, os.path.join(cls.work, "cms"), tls_pem=pki.server_pem, users=users,
                                commands_dir=os.path.join(cls.work, "commands"), config_dir=cls.cms_config)
        os.makedirs(cls.cms.work_dir)
        cls.cms.start()
        cls.bindir = cls.stage_install(os.path.join(cls.work, "install"))

    @classmethod
    def tearDownClass(cls):
        cls.cms.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def stage_install(cls, top, extra_words=(), cfg_text=None):
        """An install directory top/bin with command links and a configuration for the stand-in."""
        bindir = os.path.join(top, "bin")
        os.makedirs(bindir, exist_ok=True)
        for name in ("velnode", "veluser"):
            os.symlink(CLIFCLIENT, os.path.join(bindir, name))
        vt.write_client_config(bindir, cls.cms.logon_url, cls.cms.invoke_url, extra_words=extra_words,
                               cfg_text=cfg_text)
        return bindir

    def command(self, name, script):
        path = os.path.join(self.cms.commands_dir, name)
        if os.path.lexists(path):
            os.remove(path)
        vt.make_command(self.cms.commands_dir, name, script)

    def run_client(self, args, name="velnode", stdin=subprocess.DEVNULL, env=None, cwd=None,
                   argv0=None, executable=None, timeout=30, user=True, **popen):
        """Runs bindir/name with args ("--user admin --pass secret" first unless user is False)."""
        program = argv0 or os.path.join(self.bindir, name)
        logon = ["--user", "admin", "--pass", "secret"] if user else []
        full_env = dict(BASE_ENV)
        full_env.update(env or {})
        self.first_request = len(self.cms.requests()) + 1
        return vt.run([program] + logon + list(args), timeout=timeout, stdin=stdin, env=full_env,
                      cwd=cwd or self.work, executable=executable, **popen)

    def sent(self):
        """The requests of the last run, in order."""
        return [r for r in self.cms.requests() if r.number >= self.first_request]

    def script(self, offset, body, status=200):
        """Scripts the reply to the request at offset (1 = first) of the next run."""
        self.cms.script_reply(len(self.cms.requests()) + offset, body, status)

    def request_path(self, request):
        return os.path.join(self.cms.record_dir, "request-%04d.http" % request.number)

    def assertOperations(self, expected):
        self.assertEqual(expected, [r.operation() for r in self.sent()])

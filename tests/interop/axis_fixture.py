"""Black-box fixture: clifclient under a command name against the two services deployed in
Apache Axis 1.4's stand-alone HTTP server.

    python3 test_axis_interop.py CLIFCLIENT [unittest options]

Environment: JAVA_HOME (the JDK that runs Axis), AXIS_JAR_DIR (default
/usr/share/java, where Debian's libaxis-java puts axis.jar and the jars it needs) and
VEL_REQUIRE_AXIS (when set, a missing Axis is an error; otherwise the tests are skipped).

The service classes under java/ are compiled once per process (javac --release 8 -g, so that
Axis can read the parameter names from the class files). AxisTestCase starts one Axis server per
test class with the class's global parameters (AXIS_PARAMETERS) in its server-config.wsdd and
the class's status record (STATUS_CLASS: ClifStatus, or BoxedClifStatus with wrapper types), on a
free port of 127.0.0.1, and stages an install directory whose "velnode" link points to the
client, configured with plain HTTP URLs of that server.

The services record every call in WORK/record/call-NNNN.txt ("name=value" lines; strings and
bytes in hex, "null" for null) and answer invoke and status from WORK/script.txt (one reply per
line, see ScriptStep.java; the last line repeats).
"""

import atexit
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import vel_testsupport as vt  # noqa: E402

CLIFCLIENT = None
JAVA_HOME = os.environ["JAVA_HOME"]
AXIS_JAR_DIR = os.environ.get("AXIS_JAR_DIR") or "/usr/share/java"
AXIS_JARS = ("axis.jar", "axis-jaxrpc.jar", "axis-saaj.jar", "commons-discovery.jar",
             "commons-logging.jar", "wsdl4j.jar")

LOGON_PATH = "/velsoap/services/VelpiMain5_0"
INVOKE_PATH = "/jboss-net/services/clifservice"
BASE_ENV = {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}


def main():
    global CLIFCLIENT
    CLIFCLIENT = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)


def hex_text(text):
    return text.encode("utf-8").hex()


# ---------------------------------------------------------------- the Java side

_classes = None


def axis_classpath():
    return [os.path.join(AXIS_JAR_DIR, jar) for jar in AXIS_JARS]


def compiled_classes():
    """Compiles the service classes once per process; returns the class directory."""
    global _classes
    if _classes is not None:
        return _classes
    missing = [jar for jar in axis_classpath() if not os.path.exists(jar)]
    if missing and os.environ.get("VEL_REQUIRE_AXIS"):
        raise RuntimeError("Axis 1.4 is not installed (libaxis-java): %s missing" % missing[0])
    if missing:
        raise unittest.SkipTest("Axis 1.4 is not installed (libaxis-java): %s missing" % missing[0])
    out = tempfile.mkdtemp(prefix="vel-axis-classes-")
    atexit.register(shutil.rmtree, out, True)
    source_dir = os.path.join(HERE, "java", "velinterop")
    sources = sorted(os.path.join(source_dir, name) for name in os.listdir(source_dir) if name.endswith(".java"))
    result = vt.run([os.path.join(JAVA_HOME, "bin", "javac"), "--release", "8", "-g", "-nowarn",
                     "-cp", ":".join(axis_classpath()), "-d", out] + sources, timeout=180)
    if result.returncode != 0:
        raise RuntimeError("javac failed:\n" + result.stderr.decode(errors="replace"))
    _classes = out
    return out


class AxisServer:
    """One Axis server with the two services, in work_dir, with the given global parameters."""

    def __init__(self, work_dir, parameters, users, status_class="ClifStatus"):
        self.work_dir = work_dir
        self.parameters = parameters
        self.status_class = status_class
        self.users = users
        self.process = None

    def start(self):
        os.makedirs(os.path.join(self.work_dir, "record"), exist_ok=True)
        os.makedirs(self.cms_config_dir, exist_ok=True)
        with open(os.path.join(HERE, "server-config.wsdd.in")) as f:
            template = f.read()
        lines = "".join('  <parameter name="%s" value="%s"/>\n' % item for item in self.parameters.items())
        service = {"ClifStatus": "ClifService", "BoxedClifStatus": "BoxedClifService"}[self.status_class]
        config = (template.replace("@PARAMETERS@\n", lines)
                  .replace("@CLIF_SERVICE_CLASS@", "velinterop." + service)
                  .replace("@CLIF_STATUS_CLASS@", "velinterop." + self.status_class))
        with open(os.path.join(self.work_dir, "server-config.wsdd"), "w") as f:
            f.write(config)
        with open(os.path.join(self.work_dir, "users.txt"), "w") as f:
            f.write("".join("%s:%s\n" % item for item in self.users.items()))
        self.script([])
        cmd = [os.path.join(JAVA_HOME, "bin", "java"), "-Xmx128m", "-XX:TieredStopAtLevel=1",
               "-XX:+UseSerialGC", "-Dvelinterop.dir=" + self.work_dir,
               "-cp", ":".join([compiled_classes()] + axis_classpath()),
               "velinterop.LoopbackAxisServer", self.work_dir]
        self.err_file = open(os.path.join(self.work_dir, "axis.err"), "wb")
        # Its standard input is a pipe that only this process holds: when the test process ends in
        # any way, the server sees the end of its input and exits.
        self.process = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.err_file, cwd=self.work_dir)
        url, line = vt.read_printed_url(self.process, r"(http://127\.0\.0\.1:\d+)", 60)
        if not url:
            self.stop()
            with open(os.path.join(self.work_dir, "axis.err"), "rb") as f:
                raise RuntimeError("Axis did not start: %r\n%s" % (line, f.read().decode(errors="replace")))
        self.base_url = url
        self.logon_url = self.base_url + LOGON_PATH
        self.invoke_url = self.base_url + INVOKE_PATH

    def stop(self):
        if self.process is None:
            return
        self.process.stdin.close()  # the server ends at the end of its input
        vt.end_server_process(self.process, self.err_file)
        self.process = None

    @property
    def cms_config_dir(self):
        return os.path.join(self.work_dir, "cmsconfig")

    def script(self, steps):
        """The replies of the next command: a list of dicts, one per invoke or status call."""
        lines = []
        for step in steps:
            words = []
            for name, value in step.items():
                if isinstance(value, bool):
                    value = "true" if value else "false"
                elif isinstance(value, (bytes, bytearray)):
                    value = bytes(value).hex()
                elif value is None:
                    value = "-"
                words.append("%s=%s" % (name, value))
            lines.append(" ".join(words) + "\n")
        path = os.path.join(self.work_dir, "script.txt")
        with open(path + ".tmp", "w") as f:
            f.write("".join(lines))
        os.replace(path + ".tmp", path)

    def calls(self):
        """Every call recorded so far, in arrival order, as CallRecord objects."""
        record_dir = os.path.join(self.work_dir, "record")
        found = []
        for name in sorted(os.listdir(record_dir)):
            if re.fullmatch(r"call-\d+\.txt", name):
                with open(os.path.join(record_dir, name)) as f:
                    found.append(CallRecord(f.read()))
        return found


class CallRecord:
    """One call as the service received it."""

    def __init__(self, text):
        self.lines = [line.partition("=")[::2] for line in text.splitlines()]
        self.op = self.value("op")

    def value(self, name):
        for key, value in self.lines:
            if key == name:
                return value
        return None

    def string(self, name):
        value = self.value(name)
        return None if value in (None, "null") else bytes.fromhex(value).decode("utf-8")

    def bytes(self, name):
        value = self.value(name)
        return None if value in (None, "null") else bytes.fromhex(value)

    def array(self, name):
        return [bytes.fromhex(v).decode("utf-8") for k, v in self.lines if k == name + ".item"]

    def map(self, name):
        """The map as a dict; a key or value of another class than String shows as '!class!...'."""
        result = {}
        for key, value in self.lines:
            if key == name + ".item":
                k, _, v = value.partition(":")
                result[_decode(k)] = _decode(v)
        return result


def _decode(text):
    if text.startswith("!"):
        return text
    return None if text == "null" else bytes.fromhex(text).decode("utf-8")


# ---------------------------------------------------------------- the test case

class AxisTestCase(unittest.TestCase):
    AXIS_PARAMETERS = {}
    STATUS_CLASS = "ClifStatus"
    USERS = {"admin": "secret"}

    @classmethod
    def setUpClass(cls):
        cls.work = os.path.realpath(tempfile.mkdtemp(prefix="vel-axis-"))
        cls.axis = AxisServer(os.path.join(cls.work, "axis"), cls.AXIS_PARAMETERS, cls.USERS, cls.STATUS_CLASS)
        try:
            cls.axis.start()
        except BaseException:
            shutil.rmtree(cls.work, ignore_errors=True)
            raise
        cls.bindir = os.path.join(cls.work, "install", "bin")
        os.makedirs(cls.bindir)
        os.symlink(CLIFCLIENT, os.path.join(cls.bindir, "velnode"))
        vt.write_client_config(cls.bindir, cls.axis.logon_url, cls.axis.invoke_url)
        cls.cwd = os.path.join(cls.work, "cwd")
        os.makedirs(cls.cwd)

    @classmethod
    def tearDownClass(cls):
        cls.axis.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def run_client(self, args, steps, stdin=b"", env=None, logon=("--user", "admin", "--pass", "secret"),
                   timeout=30):
        """Runs velnode with the logon options and args; the service answers with steps. The services
        are plain HTTP here: the client's warning that the password goes in clear text is checked
        and taken off standard error."""
        self.axis.script(steps)
        self.first_call = len(self.axis.calls())
        full_env = dict(BASE_ENV)
        full_env.update(env or {})
        result = vt.run([os.path.join(self.bindir, "velnode")] + list(logon) + list(args), timeout=timeout,
                        input=stdin, env=full_env, cwd=self.cwd)
        warning = b"velnode: warning: the password goes in clear text to %s (an https:// URL would protect it)\n" \
            % self.axis.logon_url.encode()
        if "--pass" in logon:
            self.assertTrue(result.stderr.startswith(warning), result.stderr)
            result.stderr = result.stderr[len(warning):]
        return result

    def calls(self):
        """The calls of the last run."""
        return self.axis.calls()[self.first_call:]

    def expected_env_map(self, env):
        """What the client makes of env: the variables, the locale of "C", a line feed, the directory."""
        expected = dict(BASE_ENV)
        expected.update(env)
        expected.update({"LOCALE": "en_US", "ENCODING": "UTF-8", "LINE_END": "\n", "CWD": self.cwd + "/"})
        return expected

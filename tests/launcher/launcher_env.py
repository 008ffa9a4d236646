"""Shared helpers of the vellauncher black-box tests: run the built launcher under command
names, against copies of the staged install tree, optionally inside a private mount namespace."""

import os
import shutil
import socket
import subprocess
import tempfile

LAUNCHER = os.environ["VEL_LAUNCHER"]
STAGE = os.environ["VEL_STAGE_DIR"]
EXTRAS = os.environ["VEL_JAVA_EXTRAS_DIR"]
JDK = os.environ.get("VEL_JDK_HOME", "")  # the build JDK, for the tests that name it
TIMEOUT = 60

# Every test starts from this environment, not from the caller's.
BASE_ENV = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}

CLI_DISPATCHER = "com.orva.vel.cli.VelCommandDispatcher"
AUX_DISPATCHER = "com.orva.vel.cli.VelAuxillaryDispatcher"


def is_root():
    return os.geteuid() == 0


def mount_namespace_problem():
    """Why this machine cannot give a test a private mount namespace, or None if it can."""
    if not is_root():
        return "needs root for a private mount namespace"
    for directory in ["/opt", "/var/opt", "/dev"]:
        try:
            os.makedirs(directory, exist_ok=True)  # standard directories a fresh system may lack
        except OSError as error:
            return "no %s to stand in for: %s" % (directory, error)
    try:
        probe = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c",
                                "mount -t tmpfs tmpfs /opt"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=TIMEOUT)
    except OSError as error:
        return "unshare is not available: %s" % error
    if probe.returncode != 0:
        return "this machine refuses private mount namespaces (no mount privilege)"
    return None


def suid_capable_directory():
    """A directory for set-user-ID copies: the temporary directory, else the working directory,
    whichever is not mounted nosuid; None if neither will do."""
    for directory in [tempfile.gettempdir(), os.getcwd()]:
        if not os.statvfs(directory).f_flag & os.ST_NOSUID:
            return directory
    return None


class Result:
    def __init__(self, proc, stdout, stderr):
        self.pid = proc.pid
        self.status = proc.returncode
        self.out = stdout.decode("utf-8", "replace")
        self.err = stderr.decode("utf-8", "replace")

    def lines(self):
        return self.out.splitlines()

    def options(self):
        prefix = "addJVMOption(): "
        return [line[len(prefix):] for line in self.lines() if line.startswith(prefix)]

    def main_class(self):
        for line in self.lines():
            if line.startswith("main "):
                return line[5:]
        return None

    def args(self):
        return [line.split("=", 1)[1] for line in self.lines() if line.startswith("arg[")]

    def prop(self, name):
        for line in self.lines():
            if line.startswith("property " + name + "="):
                return line.split("=", 1)[1]
        return None

    def value(self, key):
        for line in self.lines():
            if line.startswith(key + " "):
                return line[len(key) + 1:]
        return None


def run(argv, env=None, cwd=None, executable=None, preexec_fn=None):
    proc = subprocess.Popen(argv, executable=executable, env=env if env is not None else dict(BASE_ENV),
                            cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, preexec_fn=preexec_fn)
    try:
        out, err = proc.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise
    return Result(proc, out, err)


class Workspace:
    """A temporary directory with links named after commands, and copies of the staged tree."""

    def __init__(self, parent=None):
        self.root = tempfile.mkdtemp(prefix="vellauncher-test-", dir=parent)
        os.chmod(self.root, 0o755)
        self.bin = os.path.join(self.root, "bin")
        os.mkdir(self.bin)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def link(self, name, target=LAUNCHER, directory=None):
        path = os.path.join(directory or self.bin, name)
        if not os.path.lexists(path):
            os.symlink(target, path)
        return path

    def tree(self, name="tree"):
        """A private copy of the staged tree (base path) that a test may change."""
        base = os.path.join(self.root, name)
        shutil.copytree(STAGE, base, symlinks=True)
        return base

    def env(self, base=STAGE, **extra):
        env = dict(BASE_ENV)
        if base is not None:
            env["VEL_BASE_DIR"] = base
        env.update(extra)
        return env

    def command(self, name, args=(), env=None, **kwargs):
        return run([self.link(name)] + list(args), env=env if env is not None else self.env(), **kwargs)


# Runs a command inside a private mount namespace after binding directories over system paths
# ("mount --bind SOURCE TARGET" pairs), so a test can stand in for /opt, /var/opt or /dev.
NAMESPACE_SCRIPT = r'''
n=$1; shift
while [ "$n" -gt 0 ]; do mount --bind "$1" "$2" || exit 97; shift 2; n=$((n-1)); done
exec "$@"
'''


def namespaced(binds, argv):
    flat = []
    for source, target in binds:
        flat += [source, target]
    return ["unshare", "-m", "--propagation", "private", "sh", "-c", NAMESPACE_SCRIPT, "sh",
            str(len(binds))] + flat + list(argv)


# A private /dev: the usual device nodes plus /dev/log bound to a test's socket.
DEV_SCRIPT = r'''
dev=$1; sock=$2; shift 2
mount -t tmpfs tmpfs "$dev" || exit 97
for n in null zero full random urandom tty; do
  touch "$dev/$n" && mount --bind "/dev/$n" "$dev/$n" || exit 97
done
ln -s /proc/self/fd "$dev/fd"
touch "$dev/log" && mount --bind "$sock" "$dev/log" || exit 97
mount --rbind "$dev" /dev || exit 97
exec "$@"
'''


class SyslogCatcher:
    """Receives what the system log interface sends to /dev/log in a private /dev."""

    def __init__(self, workspace):
        self.dev = os.path.join(workspace.root, "dev")
        os.mkdir(self.dev)
        self.path = os.path.join(workspace.root, "log.sock")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        os.chmod(self.path, 0o666)

    def argv(self, argv):
        return ["unshare", "-m", "--propagation", "private", "sh", "-c", DEV_SCRIPT, "sh",
                self.dev, self.path] + list(argv)

    def messages(self, timeout=2.0):
        received = []
        self.sock.settimeout(timeout)
        try:
            while True:
                received.append(self.sock.recv(65536))
                self.sock.settimeout(0.2)
        except socket.timeout:
            pass
        return received

    def close(self):
        self.sock.close()

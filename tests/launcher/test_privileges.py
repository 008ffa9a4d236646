"""Black-box tests of a set-user-ID launcher started by an unprivileged user: keys with the start
privileges, the Java main with the caller's own user ID and mask 022, and a secure start that
ignores the caller's choice of code and files. Needs root (users, set-user-ID copies, a private
/opt in a mount namespace, since a secure start only uses the default tree)."""

import glob
import os
import pwd
import re
import shutil
import subprocess
import unittest

from launcher_env import (BASE_ENV, LAUNCHER, STAGE, TIMEOUT, Workspace, mount_namespace_problem, namespaced, run,
                          suid_capable_directory)

COMMANDS = ["velnode", "velversion", "velpassword", "velinit"]
# What a secure start adds behind "-ea": no attach listener, no performance-data file, no crash or
# compiler-replay report with memory contents.
SECURE_START_OPTIONS = ["-XX:+DisableAttachMechanism", "-XX:-UsePerfData", "-XX:ErrorFile=/dev/null",
                        "-XX:-DumpReplayDataOnError"]
JCMD = os.path.join(STAGE, "opt", "vel", "j2re", "bin", "jcmd")


def add_user(name):
    subprocess.run(["useradd", "--system", "--no-create-home", "--user-group", "--shell",
                    "/usr/sbin/nologin", name], check=True, timeout=30)
    return pwd.getpwnam(name).pw_uid


def remove_user(name):
    subprocess.run(["userdel", name], timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The runtime keeps a per-user performance data directory in /tmp.
    shutil.rmtree("/tmp/hsperfdata_" + name, ignore_errors=True)


def restrictive_mask():
    os.umask(0o077)


SUID_DIRECTORY = suid_capable_directory()
PROBLEM = mount_namespace_problem() or (None if SUID_DIRECTORY else "no directory here honours set-user-ID")


@unittest.skipIf(PROBLEM, PROBLEM)
class SetUserIdLauncher(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.ws = Workspace(SUID_DIRECTORY)
        cls.users = []
        suffix = str(os.getpid())
        cls.runner = "vlr" + suffix
        cls.owner = "vlo" + suffix
        try:
            cls.runner_uid = add_user(cls.runner)
            cls.runner_gid = pwd.getpwnam(cls.runner).pw_gid
            cls.users.append(cls.runner)
            cls.owner_uid = add_user(cls.owner)
            cls.users.append(cls.owner)
            cls.opt = os.path.join(cls.ws.root, "opt")
            os.mkdir(cls.opt)
            shutil.copytree(os.path.join(STAGE, "opt", "vel"), os.path.join(cls.opt, "vel"), symlinks=True)
            cls.var_opt = os.path.join(cls.ws.root, "var-opt")
            os.makedirs(os.path.join(cls.var_opt, "vel", "logs"))
            os.chmod(os.path.join(cls.var_opt, "vel", "logs"), 0o1777)
            cls.owner_gid = pwd.getpwnam(cls.owner).pw_gid
            cls.root_bin = cls.install_copy("root-bin", 0)
            cls.owner_bin = cls.install_copy("owner-bin", cls.owner_uid)
            cls.group_bin = cls.install_copy("group-bin", 0, group=cls.owner_gid, mode=0o2755)
            cls.caps_bin = cls.install_copy("caps-bin", 0, mode=0o755, capabilities="cap_dac_read_search+ep")
            cls.plain_bin = cls.install_copy("plain-bin", 0, mode=0o755)
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for name in cls.users:
            remove_user(name)
        cls.ws.close()

    @classmethod
    def install_copy(cls, directory, owner, group=-1, mode=0o4755, capabilities=None):
        path = os.path.join(cls.ws.root, directory)
        os.mkdir(path, 0o755)
        program = os.path.join(path, "vellauncher")
        shutil.copy(LAUNCHER, program)
        os.chown(program, owner, group)
        os.chmod(program, mode)   # after chown, which clears the set-user-ID and set-group-ID bits
        if capabilities:
            subprocess.run(["setcap", capabilities, program], check=True, timeout=30)
        for name in COMMANDS:
            cls.ws.link(name, "vellauncher", directory=path)
        return path

    def start(self, bin_dir, name, env=None, as_runner=True, args=()):
        argv = [os.path.join(bin_dir, name)] + list(args)
        if as_runner:
            argv = ["setpriv", "--reuid", self.runner, "--regid", self.runner, "--clear-groups"] + argv
        binds = [(self.opt, "/opt"), (self.var_opt, "/var/opt")]
        return run(namespaced(binds, argv), env=env if env is not None else self.ws.env(None),
                   preexec_fn=restrictive_mask)

    def ids(self, real, effective, saved, mask):
        return "uid=%d,%d,%d umask=%s" % (real, effective, saved, mask)

    def assertNoPrivilegeLeft(self, result, mask):
        """The Java main runs with the caller's user and group IDs, and no thread of the process
        holds a capability."""
        user, group = self.runner_uid, self.runner_gid
        self.assertEqual(result.status, 0, result.err)
        self.assertEqual(result.value("ids"), self.ids(user, user, user, mask))
        self.assertEqual(result.value("gids"), "%d,%d,%d" % (group, group, group))
        caps = re.fullmatch(r"threads=(\d+) " + "/".join(["0" * 16] * 4), result.value("caps"))
        self.assertTrue(caps, result.value("caps"))
        self.assertGreater(int(caps.group(1)), 1)   # the virtual machine's threads, too
        self.assertNotDumpable(result, "procOwner")

    def assertNotDumpable(self, result, key):
        """/proc/PID/status belongs to root, not to the caller: the process is not dumpable."""
        self.assertEqual(result.value(key), "0", result.out)

    def check_copy(self, bin_dir, key_uid=None, key_gid=None, key_caps=None):
        """Keys with the start privileges, then none of them left for the Java main."""
        user, group = self.runner_uid, self.runner_gid
        key_uid = user if key_uid is None else key_uid
        key_gid = group if key_gid is None else key_gid
        node = self.start(bin_dir, "velnode")
        self.assertEqual(node.status, 0, node.err)
        self.assertEqual(node.lines()[0], "setKeys " + self.ids(user, key_uid, key_uid, "0077"))
        self.assertEqual(node.value("setKeysGids"), "%d,%d,%d" % (group, key_gid, key_gid))
        if key_caps:
            self.assertIn(key_caps, node.value("setKeysCaps"))
        self.assertNotDumpable(node, "setKeysProcOwner")
        self.assertNoPrivilegeLeft(node, "0022")

        for name in ["velversion", "velpassword"]:
            result = self.start(bin_dir, name)
            self.assertNotIn("setKeys", result.out)
            self.assertNoPrivilegeLeft(result, "0022")

        # velinit gives up its privileges too, but keeps the mask it inherited.
        init = self.start(bin_dir, "velinit")
        self.assertNotIn("setKeys", init.out)
        self.assertNoPrivilegeLeft(init, "0077")

    def test_copy_owned_by_root(self):
        self.check_copy(self.root_bin, 0)

    def test_copy_owned_by_an_ordinary_owner_keeps_no_saved_id(self):
        self.check_copy(self.owner_bin, self.owner_uid)

    def test_copy_set_group_id_keeps_no_group(self):
        self.check_copy(self.group_bin, key_gid=self.owner_gid)

    def test_copy_with_file_capabilities_keeps_none_in_any_thread(self):
        held = "0000000000000004/0000000000000004/0000000000000000/0000000000000000"   # cap_dac_read_search
        self.check_copy(self.caps_bin, key_caps=held)

    def test_starter_that_holds_the_capabilities_leaves_no_dumpable_process(self):
        # Root runs the command for the caller and hands on the capabilities the copy would raise
        # (inherited, or inherited and ambient), so the exec raises nothing and the kernel leaves the process
        # dumpable: the launcher makes itself non-dumpable before setKeys, for the whole run.
        inherited = ["--inh-caps=+dac_read_search"]
        ambient = inherited + ["--ambient-caps=+dac_read_search"]
        binds = [(self.opt, "/opt"), (self.var_opt, "/var/opt")]
        for bin_dir, handed_on, secure in [(self.caps_bin, inherited, True), (self.caps_bin, ambient, True),
                                           (self.plain_bin, ambient, False)]:
            with self.subTest(bin_dir=bin_dir, handed_on=handed_on):
                argv = ["setpriv", "--reuid", self.runner, "--regid", self.runner, "--clear-groups"] + handed_on
                argv += [os.path.join(bin_dir, "velnode")]
                node = run(namespaced(binds, argv), env=self.ws.env(None), preexec_fn=restrictive_mask)
                self.assertEqual(node.status, 0, node.err)
                self.assertIn("0000000000000004/0000000000000004", node.value("setKeysCaps"))
                self.assertNotDumpable(node, "setKeysProcOwner")
                if secure:
                    self.assertNoPrivilegeLeft(node, "0022")
                else:
                    # No secure start: the Java main keeps what its starter gave it.
                    self.assertIn("0000000000000004/0000000000000004", node.value("caps"))
                    self.assertNotDumpable(node, "procOwner")

    def hostile_env(self, base):
        return self.ws.env(base, VEL_USE_ENV="", CLASSPATH="/evil/classes.jar", LD_LIBRARY_PATH="/evil/lib",
                           JAVA_HOME="/evil/jre", VEL_JVM_OPTS="-Dvel.injected=1", VEL_GC_TRACE="",
                           VEL_EPROF_TRACE="", VEL_DTRACE="0,31", VEL_SHOW_JVM_OPTS="", FOREGROUND="",
                           JAVA_TOOL_OPTIONS="-Dvel.injected=1", _JAVA_OPTIONS="-Dvel.injected=2")

    def secure_copies(self):
        return [self.root_bin, self.owner_bin, self.group_bin, self.caps_bin]

    def test_secure_start_ignores_the_callers_choice_of_code_and_files(self):
        for bin_dir in self.secure_copies():
            with self.subTest(bin_dir=bin_dir):
                result = self.start(bin_dir, "velnode", env=self.hostile_env("/evil"))
                self.assertEqual(result.status, 0, result.err)
                options = result.options()
                self.assertEqual(len(options), 29, options)
                self.assertEqual(options[22:27], ["-ea"] + SECURE_START_OPTIONS)
                self.assertEqual(options[14], "")   # no VEL_BASE_DIR
                self.assertTrue(options[16].startswith("-Djava.class.path=/opt/vel/lib/vel.jar:"), options[16])
                self.assertEqual(options[17], "-Djava.home=/opt/vel/j2re/")
                self.assertTrue(options[18].startswith("-Djava.library.path=/opt/vel/j2re/lib/i386/:"))
                self.assertEqual(options[-2], "-DFOREGROUND=true")
                self.assertFalse([o for o in options if "evil" in o or "injected" in o or "-Xloggc" in o
                                  or "hprof" in o], options)
                self.assertEqual(os.listdir(os.path.join(self.var_opt, "vel", "logs")), [])
                self.assertEqual(result.main_class(), "com.orva.vel.cli.VelCommandDispatcher")
                # Nor does the runtime take options from its own variables, also not with file
                # capabilities alone, where it does not see a privileged process.
                self.assertNotIn("Picked up", result.err)

    def test_root_start_is_not_secure_and_honours_the_variables(self):
        base = self.ws.tree("alt")
        env = self.hostile_env(base)
        del env["VEL_EPROF_TRACE"], env["JAVA_HOME"], env["LD_LIBRARY_PATH"], env["JAVA_TOOL_OPTIONS"]
        del env["_JAVA_OPTIONS"]
        result = self.start(self.root_bin, "velnode", env=env, as_runner=False)
        self.assertEqual(result.status, 0, result.err)
        options = result.options()
        self.assertEqual(len(options), 27, options)
        self.assertFalse(set(SECURE_START_OPTIONS) & set(options), options)
        self.assertEqual(options[14], "-DVEL_BASE_DIR=" + base)
        self.assertTrue(options[16].startswith("-Djava.class.path=/evil/classes.jar:" + base), options[16])
        self.assertIn("-Dvel.injected=1", options)
        self.assertIn("-Xloggc:" + base + "/var/opt/vel/logs/velnode.gc.log", options)
        self.assertEqual(result.value("ids"), "uid=0,0,0 umask=0022")
        traces = os.listdir(os.path.join(self.var_opt, "vel", "logs"))
        self.assertEqual(traces, ["velnode.dbg.%d" % result.pid])
        os.remove(os.path.join(self.var_opt, "vel", "logs", traces[0]))

    def as_runner(self, argv, **kwargs):
        return subprocess.run(["setpriv", "--reuid", self.runner, "--regid", self.runner, "--clear-groups"]
                              + argv, env=dict(BASE_ENV, HOME="/tmp"), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=TIMEOUT, **kwargs)

    def test_caller_cannot_reach_into_a_running_command(self):
        # velnode holds the keys in its heap while it reads its input: the caller may neither attach
        # (a heap dump, an agent) nor make it copy its memory into a crash report of the caller's.
        work = os.path.join(self.ws.root, "caller-dir")
        os.mkdir(work)
        os.chmod(work, 0o777)
        argv = ["setpriv", "--reuid", self.runner, "--regid", self.runner, "--clear-groups",
                os.path.join(self.root_bin, "velnode"), "--read-stdin"]
        binds = [(self.opt, "/opt"), (self.var_opt, "/var/opt")]
        proc = subprocess.Popen(namespaced(binds, argv), env=self.ws.env(None), cwd=work, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=restrictive_mask)
        perf_data = "/tmp/hsperfdata_root/%d" % proc.pid
        try:
            while not proc.stdout.readline().startswith(b"caps "):
                self.assertIsNone(proc.poll(), "velnode ended before it read its input")
            self.assertFalse(os.path.exists(perf_data))
            dump = os.path.join(work, "heap.hprof")
            attach = self.as_runner([JCMD, "-J-XX:-UsePerfData", "-J-Dsun.tools.attach.attachTimeout=3000",
                                     str(proc.pid), "GC.heap_dump", dump], cwd=work)
            self.assertNotEqual(attach.returncode, 0, attach.stdout)
            self.assertFalse(os.path.exists(dump))
            self.assertIsNone(proc.poll())
            self.assertEqual(self.as_runner(["kill", "-SEGV", str(proc.pid)]).returncode, 0)
            proc.communicate(timeout=TIMEOUT)
            self.assertNotEqual(proc.returncode, 0)
            reports = [name for name in os.listdir(work) if name.startswith("hs_err")]
            self.assertEqual(reports + glob.glob("/tmp/hs_err_pid%d.log" % proc.pid), [])
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
            for leftover in [perf_data, "/tmp/hs_err_pid%d.log" % proc.pid]:
                if os.path.lexists(leftover):
                    os.remove(leftover)

    def test_root_trace_refuses_what_a_caller_planted_in_the_log_directory(self):
        # The log directory is writable by everyone here: the caller plants the name of the next
        # trace file (the shell's PID is the launcher's after exec) before root starts the command.
        victim = os.path.join(self.var_opt, "victim")   # on the same mount, for the hard link
        logs = os.path.join(self.var_opt, "vel", "logs")
        plants = {"symbolic link": 'ln -s "$0" "$1"', "hard link": 'ln "$0" "$1"', "FIFO": 'mkfifo "$1"'}
        errors = {"symbolic link": "Error #40 - Too many levels of symbolic links",
                  "hard link": "Error #31 - Too many links", "FIFO": "Error #6 - No such device or address"}
        for kind, plant in plants.items():
            with self.subTest(kind=kind):
                with open(victim, "w") as f:
                    f.write("precious\n")
                script = plant + ' && exec "$2" x'
                argv = ["sh", "-c", script.replace('"$1"', '/var/opt/vel/logs/velversion.dbg.$$'),
                        "/var/opt/victim", "", os.path.join(self.root_bin, "velversion")]
                binds = [(self.opt, "/opt"), (self.var_opt, "/var/opt")]
                result = run(namespaced(binds, argv), env=self.ws.env(None, VEL_DTRACE="0,31"))
                try:
                    trace = "/var/opt/vel/logs/velversion.dbg.%d" % result.pid
                    self.assertEqual(result.err, "Can't open debug trace file. '%s'\n%s\n" % (trace, errors[kind]))
                    self.assertEqual(result.status, 0)
                    self.assertEqual(result.args(), ["x"])
                    with open(victim) as f:
                        self.assertEqual(f.read(), "precious\n")
                finally:
                    for name in os.listdir(logs):
                        os.remove(os.path.join(logs, name))


if __name__ == "__main__":
    unittest.main()

"""Black-box tests of vellauncher run as a user runs it: through links named after commands,
against the staged install tree (VEL_BASE_DIR) and private copies of it."""

import os
import shutil
import subprocess
import sys
import unittest

from launcher_env import (AUX_DISPATCHER, BASE_ENV, CLI_DISPATCHER, EXTRAS, JDK, LAUNCHER, STAGE,
                          Workspace, mount_namespace_problem, namespaced, run)

CLI_COMMANDS = ["velexec", "velnode", "velngroup", "veltool", "veluser", "velrole", "veltoolbox",
                "velauth", "veldebug", "velquery", "velfolder", "velmib", "velstm", "veltask",
                "velwbemsub", "velreport"]
AUX_COMMANDS = {
    "orvafw": "com.orva.vel.config.VelRC",
    "velconfigrepo": "com.orva.vel.core.repository.VelConfigRepositoryCLI",
    "velrepositorysave": "com.orva.vel.core.repository.VelPgSQLBackup",
    "velrepositoryrestore": "com.orva.vel.core.repository.VelPgSQLRestore",
    "veldbdatasave": "com.orva.vel.core.repository.VelRepositorySave",
    "velversion": "com.orva.vel.utilities.version.VelVersion",
    "velinitialization": "com.orva.vel.config.VelInitialization",
    "velinventory": "com.orva.vel.core.tools.datacollection.detached.DetachedCollectorService",
    "velinit": "com.orva.vel.config.VelInit",
    "velgethostname": "com.orva.vel.utilities.VelGetHostName",
    "velmakekeys": "com.orva.vel.utilities.authenticate.VelKeyPairGen",
}
AUX2_COMMANDS = ["velnodesecurity", "velagentconfig", "velpassword", "velinitconfig", "vellog",
                 "veloracleconfig", "velgetdbinfo"]

NAMESPACE_PROBLEM = mount_namespace_problem()
CONSOLE_CLASS_PATH = "/opt/orvaconsole/webapps/ROOT/ui/jsp/resources:/opt/orvaconsole/lib"


def jar_listing(directory):
    """The archives a directory contributes, in the order the directory delivers them."""
    try:
        names = os.listdir(directory)
    except OSError:
        return []
    taken = []
    for name in names:
        at = name.find(".jar")
        if at >= 0 and at + 4 == len(name):
            taken.append(directory + name)
    return taken


def expected_class_path(base, caller=None):
    parts = [caller] if caller is not None else []
    parts += jar_listing(base + "/opt/vel/patch/")
    parts.append(base + "/opt/vel/lib/vel.jar")
    parts += jar_listing(base + "/opt/vel/lib/")
    parts += jar_listing(base + "/opt/vel/j2re/lib/")
    parts.append(CONSOLE_CLASS_PATH)
    return ":".join(parts)


def default_library_path(base):
    dirs = ["/opt/vel/j2re/lib/i386/", "/opt/vel/j2re/lib/i386/server",
            "/opt/vel/j2re/lib/i386/native_threads", "/opt/vel/j2re/lib/i386/hotspot",
            "/opt/vel/lib/", "/opt/vel/j2re/lib/"]
    return ":".join(base + d for d in dirs) + ":/usr/lib:/opt/orvaconsole/lib"


def expected_options(base, cli, display="", browser="", path="/usr/bin:/bin"):
    head = ["-client", "-Xint"] if cli else []
    return head + [
        "-Xms16m", "-Xmx128m", "-Xmn8m",
        "-XX:SurvivorRatio=3", "-XX:TargetSurvivorRatio=75", "-XX:MinHeapFreeRatio=30",
        "-XX:MaxHeapFreeRatio=50", "-XX:+UseCMSCompactAtFullCollection",
        "-Dsun.rmi.dgc.server.gcInterval=1800000", "-Dsun.rmi.dgc.client.gcInterval=1800000",
        "-Dvel.display=" + display if display else "",
        "-Dvel.browser=" + browser if browser else "",
        "-DVEL_BASE_DIR=" + base if base else "",
        "-Dnetworkaddress.cache.ttl=30",
        "-Djava.class.path=" + expected_class_path(base),
        "-Djava.home=" + base + "/opt/vel/j2re/",
        "-Djava.library.path=" + default_library_path(base),
        "-Djava.security.policy=" + base + "/etc/opt/vel/config/java.policy",
        "-Dvel.codeBase=" + base + "/opt/vel/lib/*",
        "-Djava.protocol.handler.pkgs=org.apache.naming.resources",
        "-ea",
        "-Dvel.path=" + path if path else "",
    ]


# Runs PROGRAM with exactly the argument vector that follows it (none at all, or an empty program
# name), which subprocess and os.exec* refuse: execv straight from the C library, in the
# environment the interpreter was given.
EXEC_SCRIPT = ("import ctypes, os, sys\n"
               "libc = ctypes.CDLL(None, use_errno=True)\n"
               "args = [os.fsencode(a) for a in sys.argv[2:]]\n"
               "argv = (ctypes.c_char_p * (len(args) + 1))(*args, None)\n"
               "libc.execv(os.fsencode(sys.argv[1]), argv)\n"
               "sys.exit(99)\n")


def exec_argv(program, argv):
    return [sys.executable, "-I", "-c", EXEC_SCRIPT, program] + list(argv)


class LauncherTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.ws = Workspace()

    @classmethod
    def tearDownClass(cls):
        cls.ws.close()

    def assertRan(self, result, java_class, args):
        self.assertEqual(result.status, 0, result.err)
        self.assertEqual(result.main_class(), java_class)
        self.assertEqual(result.args(), args)
        self.assertEqual(result.err, "")


class CommandTables(LauncherTestCase):
    def test_cli_commands_pass_their_name_first(self):
        for name in CLI_COMMANDS:
            with self.subTest(name=name):
                self.assertRan(self.ws.command(name, ["a", "b"]), CLI_DISPATCHER, [name, "a", "b"])
        self.assertRan(self.ws.command("veldbgui", ["x"]), "com.orva.vel.gui.debug_gui.VelDebugMain",
                       ["veldbgui", "x"])

    def test_aux2_commands_pass_their_name_first(self):
        for name in AUX2_COMMANDS:
            with self.subTest(name=name):
                self.assertRan(self.ws.command(name, ["-a"]), AUX_DISPATCHER, [name, "-a"])
        self.assertRan(self.ws.command("velvtb"), "com.orva.vel.visualtoolbuilder.TBGuiDriver",
                       ["velvtb"])

    def test_aux_commands_drop_their_name(self):
        for name, java_class in AUX_COMMANDS.items():
            with self.subTest(name=name):
                self.assertRan(self.ws.command(name, ["x", "y z"]), java_class, ["x", "y z"])

    def test_aux_command_without_arguments_gets_empty_array(self):
        result = self.ws.command("velinit")
        self.assertRan(result, AUX_COMMANDS["velinit"], [])
        self.assertIn("argc=0", result.lines())

    def test_names_are_case_folded_and_java_sees_the_name_as_typed(self):
        result = self.ws.command("VELNODE", ["a"], env=self.ws.env(DISPLAY=":7"))
        self.assertRan(result, CLI_DISPATCHER, ["VELNODE", "a"])
        self.assertIn("display=unset", result.lines())
        self.assertRan(self.ws.command("VelVersion", ["q"]), AUX_COMMANDS["velversion"], ["q"])

    def test_started_by_full_path(self):
        directory = os.path.join(self.ws.root, "deep", "er")
        os.makedirs(directory)
        path = self.ws.link("velnode", directory=directory)
        result = run([path, "a", "b"], env=self.ws.env())
        self.assertRan(result, CLI_DISPATCHER, ["velnode", "a", "b"])

    def test_unknown_names_end_silently_with_status_1(self):
        names = ["vellauncher", "velnodex", "velinventoryDMI", "velinventorydmi", "", "velnode/",
                 "velnode" + "x" * 300, "v" * 255 + "velnode"]
        for name in names:
            with self.subTest(name=name[:40]):
                env = self.ws.env(VEL_DTRACE="0,31", VEL_SHOW_JVM_OPTS="")
                result = run(exec_argv(LAUNCHER, [name, "a"]), env=env)
                self.assertEqual((result.status, result.out, result.err), (1, "", ""))


    def test_empty_argument_vector_ends_with_status_1(self):
        # execve with no argv[0] at all; newer kernels hand the program an empty name instead.
        result = run(exec_argv(LAUNCHER, []))
        self.assertEqual((result.status, result.out, result.err), (1, "", ""))


class DisplayHandling(LauncherTestCase):
    def test_display_removed_for_velnode_only(self):
        env = self.ws.env(DISPLAY=":7", VEL_SHOW_JVM_OPTS="")
        node = self.ws.command("velnode", env=env)
        self.assertEqual(node.options()[12], "")
        self.assertIn("display=unset", node.lines())
        self.assertEqual(node.prop("vel.display"), None)
        user = self.ws.command("veluser", env=env)
        self.assertEqual(user.options()[12], "-Dvel.display=:7")
        self.assertIn("display=:7", user.lines())
        self.assertEqual(user.prop("vel.display"), ":7")
        version = self.ws.command("velversion", env=env)
        self.assertEqual(version.options()[10], "-Dvel.display=:7")


class JvmOptions(LauncherTestCase):
    def test_full_list_for_cli_and_other_commands(self):
        env = self.ws.env(DISPLAY=":7", BROWSER="firefox", VEL_SHOW_JVM_OPTS="")
        node = self.ws.command("velnode", env=env)
        self.assertEqual(node.options(), expected_options(STAGE, cli=True, browser="firefox"))
        self.assertEqual(len(node.options()), 24)
        self.assertEqual(node.status, 0)
        # Options are echoed before the virtual machine starts.
        self.assertTrue(node.lines()[23].startswith("addJVMOption(): -Dvel.path="))
        version = self.ws.command("velversion", env=env)
        self.assertEqual(version.options(),
                         expected_options(STAGE, cli=False, display=":7", browser="firefox"))
        self.assertEqual(len(version.options()), 22)

    def test_no_echo_without_show_variable(self):
        result = self.ws.command("velnode")
        self.assertEqual(result.options(), [])
        self.assertEqual(result.status, 0)

    def test_unset_values_give_empty_options(self):
        env = {"VEL_BASE_DIR": STAGE, "VEL_SHOW_JVM_OPTS": "", "LANG": "C.UTF-8"}
        result = self.ws.command("veluser", env=env)
        self.assertEqual(result.options(), expected_options(STAGE, cli=True, path=""))
        self.assertEqual(result.status, 0)

    def test_optional_variables(self):
        base = self.ws.tree("optional")
        logs = base + "/var/opt/vel/logs/"
        env = self.ws.env(base, VEL_SHOW_JVM_OPTS="", VEL_GC_TRACE="", FOREGROUND="",
                          VEL_VERBOSE_TRACE="")
        result = self.ws.command("velnode", env=env)
        options = result.options()
        self.assertEqual(options[22:], ["-ea", "-verbose:class", "-Xloggc:" + logs + "velnode.gc.log",
                                        "-DFOREGROUND=true", "-Dvel.path=/usr/bin:/bin"])
        self.assertEqual(result.status, 0, result.err)
        self.assertEqual(result.prop("FOREGROUND"), "true")
        self.assertTrue(os.path.exists(logs + "velnode.gc.log"))
        self.assertTrue(any(line.startswith("[") and "class,load" in line for line in result.lines()))

    def test_profiler_agent_is_asked_for_and_missing_in_this_runtime(self):
        base = self.ws.tree("eprof")
        env = self.ws.env(base, VEL_SHOW_JVM_OPTS="", VEL_EPROF_TRACE="x")
        result = self.ws.command("velversion", env=env)
        self.assertEqual(result.options()[21], "-Xrunhprof:file=" + base + "/var/opt/vel/logs/velversion.eprof")
        self.assertEqual(len(result.options()), 23)
        # This runtime ships no such agent: it reports that itself (on standard output) and
        # ends the process with status 1 before the launcher gets control back.
        self.assertEqual(result.status, 1)
        self.assertIn("Could not find agent library hprof", result.out)
        self.assertIsNone(result.main_class())

    def test_user_options_are_split_at_blanks(self):
        env = self.ws.env(VEL_SHOW_JVM_OPTS="", FOREGROUND="1",
                          VEL_JVM_OPTS="  -Dvel.one=1   x-Dvel.two=2\t-Dz=3 nodash  -Xss1m ")
        result = self.ws.command("velversion", env=env)
        self.assertEqual(result.options()[20:], ["-ea", "-Dvel.one=1", "-Dvel.two=2\t-Dz=3", "-Xss1m",
                                                 "-DFOREGROUND=true", "-Dvel.path=/usr/bin:/bin"])
        self.assertEqual(result.status, 0, result.err)
        for value in ["", "no dashes here", "   "]:
            with self.subTest(value=value):
                env = self.ws.env(VEL_SHOW_JVM_OPTS="", VEL_JVM_OPTS=value)
                self.assertEqual(len(self.ws.command("velversion", env=env).options()), 22)

    def test_exactly_forty_options_start_and_the_41st_fails(self):
        words = " ".join("-Dvel.word%d=%d" % (i, i) for i in range(16))
        result = self.ws.command("velnode", env=self.ws.env(VEL_SHOW_JVM_OPTS="", VEL_JVM_OPTS=words))
        self.assertEqual(len(result.options()), 40)
        self.assertEqual(result.status, 0, result.err)
        self.assertEqual(result.main_class(), CLI_DISPATCHER)

        result = self.ws.command("velnode", env=self.ws.env(VEL_SHOW_JVM_OPTS="",
                                                            VEL_JVM_OPTS=words + " -Dvel.more=1"))
        self.assertEqual(result.status, 1)
        self.assertEqual(len(result.options()), 40)
        self.assertEqual(result.options()[-1], "-Dvel.more=1")
        self.assertEqual(result.err, "VelDaemon::addJVMOption: Insufficient space for option\n")
        self.assertIsNone(result.main_class())

    def test_all_trace_variables_with_twelve_and_thirteen_words(self):
        base = self.ws.tree("forty")
        words = " ".join("-Dvel.word%d=%d" % (i, i) for i in range(12))
        env = self.ws.env(base, VEL_SHOW_JVM_OPTS="", VEL_VERBOSE_TRACE="", VEL_GC_TRACE="",
                          VEL_EPROF_TRACE="", FOREGROUND="", VEL_JVM_OPTS=words)
        full = self.ws.command("velnode", env=env)
        self.assertEqual(len(full.options()), 40)
        self.assertNotIn("Insufficient space", full.err)
        env["VEL_JVM_OPTS"] = words + " -Dvel.word12=12"
        over = self.ws.command("velnode", env=env)
        self.assertEqual(over.status, 1)
        # FOREGROUND is the 40th; the closing -Dvel.path would be the 41st.
        self.assertEqual(len(over.options()), 40)
        self.assertEqual(over.options()[-2:], ["-Dvel.word12=12", "-DFOREGROUND=true"])
        self.assertEqual(over.err, "VelDaemon::addJVMOption: Insufficient space for option\n")

    def test_user_option_length_limit(self):
        longest = "-Dvel.long=" + "v" * (255 - len("-Dvel.long="))
        result = self.ws.command("velversion", env=self.ws.env(VEL_SHOW_JVM_OPTS="", VEL_JVM_OPTS=longest))
        self.assertEqual(result.options()[21], longest)
        self.assertEqual(result.status, 0, result.err)
        result = self.ws.command("velversion",
                                 env=self.ws.env(VEL_SHOW_JVM_OPTS="", VEL_JVM_OPTS="-Da=1 " + longest + "v"))
        self.assertEqual(result.status, 1)
        self.assertEqual(result.err, "ERROR:   velversion cannot use a VEL_JVM_OPTS option longer "
                                     "than 255 characters.\n")
        self.assertEqual(result.options()[-1], "-Da=1")
        self.assertIsNone(result.main_class())

    def test_virtual_machine_that_cannot_be_created(self):
        result = self.ws.command("velversion", env=self.ws.env(VEL_JVM_OPTS="-Xmxfoo"))
        self.assertEqual(result.status, 1)
        self.assertTrue(result.err.endswith("ERROR:   Cannot create Java Virtual Machine for velversion.\n"),
                        result.err)
        self.assertEqual(result.out, "")


class InstallPaths(LauncherTestCase):
    def show(self, name, env):
        env = dict(env, VEL_SHOW_JVM_OPTS="")
        return dict(o.split("=", 1) for o in self.ws.command(name, env=env).options() if o.startswith("-D"))

    def test_class_path_order_and_patch_precedence(self):
        base = self.ws.tree("patched")
        shutil.copy(os.path.join(EXTRAS, "velversion-patch.jar"), base + "/opt/vel/patch/")
        shutil.copy(os.path.join(EXTRAS, "nomain.jar"), base + "/opt/vel/patch/zz.jar")
        result = self.ws.command("velversion", env=self.ws.env(base, VEL_SHOW_JVM_OPTS=""))
        self.assertEqual(result.main_class(), "patched com.orva.vel.utilities.version.VelVersion")
        class_path = result.options()[14]
        self.assertEqual(class_path, "-Djava.class.path=" + expected_class_path(base))
        entries = class_path.split("=", 1)[1].split(":")
        self.assertEqual(sorted(entries[:2]), [base + "/opt/vel/patch/velversion-patch.jar",
                                               base + "/opt/vel/patch/zz.jar"])
        self.assertEqual(entries[2], base + "/opt/vel/lib/vel.jar")
        self.assertEqual(sorted(entries[3:5]), [base + "/opt/vel/lib/authenticate.jar",
                                                base + "/opt/vel/lib/vel.jar"])
        self.assertEqual(entries[5:], [base + "/opt/vel/j2re/lib/jrt-fs.jar",
                                       "/opt/orvaconsole/webapps/ROOT/ui/jsp/resources",
                                       "/opt/orvaconsole/lib"])

    @unittest.skipIf(NAMESPACE_PROBLEM, NAMESPACE_PROBLEM)
    def test_product_runtime_in_todays_layout_comes_before_the_build_jdk(self):
        # /opt/vel/j2re holds a runtime with lib/server/libjvm.so: the dynamic linker takes that one.
        opt = os.path.join(self.ws.root, "runtime-opt")
        os.makedirs(opt + "/vel")
        os.symlink(JDK, opt + "/vel/j2re")
        result = run(namespaced([(opt, "/opt")], [self.ws.link("velversion"), "x"]),
                     env=self.ws.env(LD_DEBUG="libs"))
        self.assertEqual((result.status, result.args()), (0, ["x"]), result.err)
        loaded = [line.split("calling init: ", 1)[1] for line in result.err.splitlines()
                  if "calling init: " in line and line.endswith("/libjvm.so")]
        self.assertEqual(loaded, ["/opt/vel/j2re/lib/server/libjvm.so"])

    # A base path on a file system with 64-bit inode numbers: an overlay whose lower layer is on
    # another file system than its upper one numbers the lower files above 2^63 (xino). The
    # archives of the lib directory must still be on the class path, on a 32-bit build too.
    OVERLAY_SCRIPT = r'''
ws=$1; shift
mkdir -p "$ws/lower" "$ws/rw" "$ws/merged" || exit 97
mount -t tmpfs tmpfs "$ws/lower" && mount -t tmpfs tmpfs "$ws/rw" || exit 97
cp -a "$VEL_STAGE_DIR/." "$ws/lower/" && mkdir "$ws/rw/upper" "$ws/rw/work" || exit 97
mount -t overlay overlay -o "lowerdir=$ws/lower,upperdir=$ws/rw/upper,workdir=$ws/rw/work,xino=on" \
  "$ws/merged" || exit 98
stat -c %i "$ws/merged/opt/vel/lib/authenticate.jar" > "$ws/inode"
exec "$@"
'''

    @unittest.skipIf(NAMESPACE_PROBLEM, NAMESPACE_PROBLEM)
    def test_class_path_with_64_bit_inode_numbers(self):
        ws = os.path.join(self.ws.root, "xino")
        os.mkdir(ws)
        merged = ws + "/merged"
        env = self.ws.env(merged, VEL_SHOW_JVM_OPTS="", VEL_STAGE_DIR=STAGE)
        result = run(["unshare", "-m", "--propagation", "private", "sh", "-c", self.OVERLAY_SCRIPT, "sh", ws,
                      self.ws.link("velversion")], env=env)
        if result.status == 98:
            self.skipTest("no overlay file system with xino=on: " + result.err)
        with open(ws + "/inode") as f:
            self.assertGreater(int(f.read()), 2 ** 32, "the overlay did not number the files above 2^32")
        self.assertEqual((result.status, result.main_class()), (0, "com.orva.vel.utilities.version.VelVersion"),
                         result.err)
        class_path = [o for o in result.options() if o.startswith("-Djava.class.path=")][0].split("=", 1)[1]
        self.assertEqual(sorted(e for e in class_path.split(":") if e.startswith(merged + "/opt/vel/lib/")),
                         [merged + "/opt/vel/lib/authenticate.jar", merged + "/opt/vel/lib/vel.jar",
                          merged + "/opt/vel/lib/vel.jar"])

    def test_default_tree_without_base(self):
        for env in [dict(BASE_ENV), dict(BASE_ENV, VEL_BASE_DIR="")]:
            with self.subTest(env=env):
                props = self.show("velversion", env)
                self.assertEqual(props["-Djava.home"], "/opt/vel/j2re/")
                self.assertEqual(props["-Djava.library.path"], default_library_path(""))
                self.assertEqual(props["-Djava.class.path"], expected_class_path(""))
                self.assertEqual(props["-Djava.security.policy"], "/etc/opt/vel/config/java.policy")
                self.assertEqual(props["-Dvel.codeBase"], "/opt/vel/lib/*")
                self.assertNotIn("-DVEL_BASE_DIR", props)

    def test_caller_paths_only_with_use_env(self):
        env = self.ws.env(CLASSPATH="/mine/%b/x.jar", LD_LIBRARY_PATH="/mylib/%b",
                          JAVA_HOME=JDK)
        props = self.show("velversion", env)
        self.assertEqual(props["-Djava.class.path"], expected_class_path(STAGE))
        self.assertEqual(props["-Djava.home"], STAGE + "/opt/vel/j2re/")
        self.assertEqual(props["-Djava.library.path"], default_library_path(STAGE))

        env["VEL_USE_ENV"] = ""
        props = self.show("velversion", env)
        self.assertEqual(props["-Djava.class.path"], expected_class_path(STAGE, "/mine/" + STAGE + "/x.jar"))
        self.assertEqual(props["-Djava.home"], JDK)
        self.assertEqual(props["-Djava.library.path"], "/mylib/%b:/opt/orvaconsole/lib")

    def test_use_env_fallbacks(self):
        env = self.ws.env(VEL_USE_ENV="1", LD_LIBRARY_PATH="")
        props = self.show("velversion", env)
        self.assertEqual(props["-Djava.library.path"], "/opt/orvaconsole/lib")
        self.assertEqual(props["-Djava.home"], STAGE + "/opt/vel/j2re/")
        self.assertEqual(props["-Djava.class.path"], expected_class_path(STAGE))
        del env["LD_LIBRARY_PATH"]
        self.assertEqual(self.show("velversion", env)["-Djava.library.path"], default_library_path(STAGE))

    def test_base_path_holding_the_token(self):
        base = os.path.join(self.ws.root, "x%b")
        os.symlink(STAGE, base)
        props = self.show("velversion", self.ws.env(base))
        self.assertEqual(props["-DVEL_BASE_DIR"], base)
        self.assertEqual(props["-Djava.home"], base + "/opt/vel/j2re/")
        # The class path gets a second replacement, which expands the token the base brought in.
        twice = base.replace("%b", base)
        self.assertEqual(props["-Djava.class.path"],
                         expected_class_path(base).replace("%b", base))
        self.assertTrue(props["-Djava.class.path"].startswith(twice + "/opt/vel/lib/vel.jar"))

    def test_missing_directories_contribute_nothing(self):
        base = os.path.join(self.ws.root, "empty-base")
        os.mkdir(base)
        props = self.show("velversion", self.ws.env(base))
        self.assertEqual(props["-Djava.class.path"], base + "/opt/vel/lib/vel.jar:" + CONSOLE_CLASS_PATH)


class JavaMain(LauncherTestCase):
    def test_arguments_are_decoded_from_raw_bytes_by_the_locale(self):
        utf8 = run([self.ws.link("velversion"), b"caf\xc3\xa9", b"\xff", ""],
                   env=self.ws.env(LANG="C.UTF-8"))
        self.assertEqual(utf8.args(), ["caf\\u00e9", "\\ufffd", ""])
        latin = run([self.ws.link("velversion"), b"caf\xe9"], env=self.ws.env(LANG="", LC_ALL="C.UTF-8"))
        self.assertEqual(latin.args(), ["caf\\ufffd"])
        ascii_locale = run([self.ws.link("velversion"), b"caf\xc3\xa9"], env=self.ws.env(LANG="C"))
        self.assertEqual(ascii_locale.status, 0, ascii_locale.err)
        self.assertEqual(ascii_locale.args(), ["caf\\ufffd\\ufffd"])

    def test_argument_in_a_single_byte_locale_reaches_java_intact(self):
        # The runtime's default character set is UTF-8 whatever the locale from JDK 18 on: the
        # locale's own character set must decode the arguments all the same.
        if not shutil.which("localedef"):
            self.skipTest("no localedef here")
        locales = os.path.join(self.ws.root, "locales")
        os.mkdir(locales)
        made = subprocess.run(["localedef", "-i", "en_US", "-f", "ISO-8859-1", locales + "/en_US.ISO-8859-1"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if made.returncode not in (0, 1) or not os.path.isdir(locales + "/en_US.ISO-8859-1"):
            self.skipTest("no ISO-8859-1 locale can be made here: " + made.stdout.decode(errors="replace"))
        latin = run([self.ws.link("velversion"), b"caf\xe9", b"\xa4\xff"],
                    env=self.ws.env(LANG="", LC_ALL="en_US.ISO-8859-1", LOCPATH=locales))
        self.assertEqual(latin.status, 0, latin.err)
        self.assertEqual(latin.args(), ["caf\\u00e9", "\\u00a4\\u00ff"])

    def test_normal_return_is_status_0_and_java_exit_status_passes(self):
        self.assertEqual(self.ws.command("velversion").status, 0)
        self.assertEqual(self.ws.command("velversion", ["--exit=7"]).status, 7)

    def test_missing_class(self):
        base = self.ws.tree("noclass")
        os.remove(base + "/opt/vel/lib/vel.jar")
        result = self.ws.command("velversion", env=self.ws.env(base))
        self.assertEqual(result.status, 1)
        self.assertEqual(result.out, "")
        self.assertEqual(result.err,
                         "Error:   Orva Fleetwise might not be initialized.\n"
                         "         Please run `velinitconfig -a` before executing this command.\n"
                         "ERROR:   The command 'velversion' cannot load the class "
                         "com/orva/vel/utilities/version/VelVersion.\n"
                         "Perhaps the command is restricted to administrative users.\n")

    def test_missing_main(self):
        base = self.ws.tree("nomain")
        shutil.copy(os.path.join(EXTRAS, "nomain.jar"), base + "/opt/vel/patch/")
        result = self.ws.command("velnode", env=self.ws.env(base))
        self.assertEqual(result.status, 1)
        self.assertTrue(result.err.endswith(
            "ERROR:   velnode cannot find the method main([Ljava/lang/String;)V in the class "
            "com/orva/vel/cli/VelCommandDispatcher.\n"), result.err)
        self.assertIsNone(result.main_class())

    def test_main_throwing(self):
        result = self.ws.command("velnode", ["--throw"])
        self.assertEqual(result.status, 1)
        self.assertIn("java.lang.IllegalStateException: stand-in failure requested", result.err)
        self.assertTrue(result.err.endswith(
            "ERROR:   velnode received an exception from Java Virtual Machine.\n"), result.err)

    def test_missing_authentication_class(self):
        base = self.ws.tree("noauth")
        os.remove(base + "/opt/vel/lib/authenticate.jar")
        result = self.ws.command("veluser", env=self.ws.env(base))
        self.assertEqual((result.status, result.err), (1, "ERROR:   veluser cannot find the VelAuthenticate class.\n"))
        self.assertEqual(result.out, "")
        # Commands without key handling do not need it.
        self.assertEqual(self.ws.command("velpassword", env=self.ws.env(base)).status, 0)

    def test_missing_set_keys_method(self):
        base = self.ws.tree("nosetkeys")
        os.remove(base + "/opt/vel/lib/authenticate.jar")
        shutil.copy(os.path.join(EXTRAS, "authenticate-nosetkeys.jar"), base + "/opt/vel/lib/")
        result = self.ws.command("veluser", env=self.ws.env(base))
        self.assertEqual((result.status, result.err),
                         (1, "ERROR:    veluser cannot find the method VelAuthenticate.setKeys().\n"))
        self.assertEqual(result.out, "")

    def test_exception_from_set_keys_stops_the_command(self):
        result = self.ws.command("velnode", env=self.ws.env(VEL_STANDIN_SETKEYS="throw"))
        self.assertEqual(result.status, 1)
        self.assertIn("java.lang.IllegalStateException: stand-in key failure requested", result.err)
        self.assertTrue(result.err.endswith(
            "ERROR:   velnode received an exception from VelAuthenticate.setKeys().\n"), result.err)
        self.assertTrue(result.out.startswith("setKeys "))
        self.assertIsNone(result.main_class())


if __name__ == "__main__":
    unittest.main()

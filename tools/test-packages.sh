#!/usr/bin/env bash
# Package test: builds the Debian packages vel-launcher and vel-clifclient from a built tree,
# installs them on this machine with dpkg, runs a launcher command and a client command from the
# installed paths (the client against the stand-in CMS, which runs the installed launcher against
# the stand-in Java classes), and removes both packages again, checking that nothing is left.
# Before that: the staged installs of `cmake --install` (each component alone, DESTDIR, prefix,
# a try-out with VEL_BASE_DIR), the set-user-ID variant of the launcher package, and that the
# manual pages render without warnings.
#
# Needs root, and a machine on which the product is not installed (a CI machine): it refuses to
# run when /opt/vel exists or either package is installed. Another apt or dpkg at work on the
# machine is waited for (tools/package-lock.sh); a lock held too long ends the test with status 75
# and a line "infrastructure: ...".
#
# Usage: tools/test-packages.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tools/jdk.sh"
# shellcheck source=tools/package-lock.sh
source "$top/tools/package-lock.sh"

launcher_pkg=vel-launcher
client_pkg=vel-clifclient
launcher_bin=/opt/vel/bin
client_bin=/opt/vel/clif/bin
# The command names that get a link, read from launcher/VelCommands.txt as cmake/Commands.cmake
# reads them: the cli table, then the aux, aux2 and special tables; a name with capitals gets none.
commands() {
  awk -v cli="$1" '/^[a-z]/ && $2 == tolower($2) && ($1 == "cli") == cli { print $2 }' "$top/launcher/VelCommands.txt"
}
mapfile -t cli_commands < <(commands 1)
mapfile -t aux_commands < <(commands 0)

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# Runs a command with a time limit; its output goes to $work/out and $work/err, its status to $status.
status=0
run() { status=0; timeout 60 "$@" > "$work/out" 2> "$work/err" || status=$?; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# dpkg ARGS...: once the package system is free; its output is shown when it fails, and the test
# ends there (with 75 when the lock stayed taken).
dpkg_step() {
  local status=0
  with_package_lock dpkg "$@" > "$work/dpkg.log" 2>&1 || status=$?
  ((status == 0)) && return 0
  cat "$work/dpkg.log" >&2
  exit $((status == vel_infrastructure_status ? status : 1))
}

if [[ $(id -u) -ne 0 ]]; then
  echo "test-packages: must run as root (it installs and removes Debian packages)" >&2
  exit 1
fi
if [[ -e /opt/vel ]] || installed $launcher_pkg || installed $client_pkg; then
  echo "test-packages: the product is installed on this machine (/opt/vel or a vel package); not touching it" >&2
  exit 1
fi
for f in "$build/CPackConfig.cmake" "$build/stage/opt/vel/lib/vel.jar" "$build/tools/cms/velcms"; do
  [[ -e $f ]] || { echo "test-packages: $f missing: build the tree first" >&2; exit 1; }
done

var_existed=0
[[ -e /var/opt/vel ]] && var_existed=1
# dpkg removes the directories a purged package brought, /opt and /var/opt among them when no other
# package claims them: put back the ones this machine had before.
system_dirs=()
for d in /opt /var/opt; do [[ -d $d ]] && system_dirs+=("$d"); done
work=$(mktemp -d /tmp/vel-packages.XXXXXX)
cleanup() {
  for d in "${system_dirs[@]}"; do mkdir -p "$d"; done
  rm -f "$client_bin/server_cert.pem" "$client_bin/randomfile" 2>/dev/null || true
  for p in $client_pkg $launcher_pkg; do
    if dpkg-query -W "$p" > /dev/null 2>&1; then with_package_lock dpkg --purge "$p" > /dev/null 2>&1 || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT
start=$SECONDS

# ---- staged installs: each component alone, by prefix and by DESTDIR, and a try-out
echo "== staged installs"
cmake --install "$build" --prefix "$work/stage-l" --component launcher > /dev/null
check "launcher component alone" test -x "$work/stage-l/opt/vel/bin/vellauncher" -a ! -e "$work/stage-l/opt/vel/clif"
check "launcher component: one link per command (36)" \
  test "$(find "$work/stage-l/opt/vel/bin" -type l -lname vellauncher | wc -l)" -eq 36
check "launcher component: log directory and manual page" \
  test -d "$work/stage-l/var/opt/vel/logs" -a -f "$work/stage-l/usr/share/man/man8/vellauncher.8.gz"
check "launcher not set-user-ID by default" test ! -u "$work/stage-l/opt/vel/bin/vellauncher"
check "launcher run path: product directories, then the JDK" \
  bash -c "readelf -d '$work/stage-l/opt/vel/bin/vellauncher' | grep -q 'RUNPATH.*\[/opt/vel/lib:/opt/vel/j2re/lib/i386:/opt/vel/j2re/lib/i386/server:/opt/vel/j2re/lib:/opt/vel/j2re/lib/server:$JAVA_HOME/lib/server\]'"

DESTDIR=$work/dest cmake --install "$build" --prefix / --component client > /dev/null
check "client component alone, with DESTDIR" \
  test -x "$work/dest/opt/vel/clif/bin/clifclient" -a ! -e "$work/dest/opt/vel/bin"
check "client component: one link per CLI command (17)" \
  test "$(find "$work/dest/opt/vel/clif/bin" -type l -lname clifclient | wc -l)" -eq 17
check "client component: sample configuration and manual page" \
  test -f "$work/dest/opt/vel/clif/bin/CLIClientConfig.cfg" -a -f "$work/dest/usr/share/man/man1/clifclient.1.gz" \
    -a "$(readlink "$work/dest/usr/share/man/man1/velnode.1.gz")" = clifclient.1.gz
echo "clifserviceurl=https://cms.example:50001/mine" > "$work/dest/opt/vel/clif/bin/CLIClientConfig.cfg"
DESTDIR=$work/dest cmake --install "$build" --prefix / --component client > /dev/null
check "a second install keeps the existing configuration" \
  grep -qx "clifserviceurl=https://cms.example:50001/mine" "$work/dest/opt/vel/clif/bin/CLIClientConfig.cfg"

# The try-out: the launcher's staged tree plus the stand-in Java classes, found through VEL_BASE_DIR.
cp -a "$build/stage/." "$work/stage-l/"
run env VEL_BASE_DIR="$work/stage-l" "$work/stage-l/opt/vel/bin/velversion" try-out
check "staged try-out: velversion runs the stand-in class" \
  test $status -eq 0 -a "$(head -3 "$work/out")" = "$(printf 'main com.orva.vel.utilities.version.VelVersion\nargc=1\narg[0]=try-out')"

# ---- manual pages render without warnings
echo "== manual pages"
for page in "$top/man/clifclient.1" "$top/man/vellauncher.8"; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" > "$work/man.out" 2> "$work/man.err" || true
  check "$(basename "$page") renders without warnings" test ! -s "$work/man.err" -a -s "$work/man.out"
  [[ -s $work/man.err ]] && sed 's/^/    /' "$work/man.err" >&2
done

# ---- the packages
echo "== packages"
(cd "$build" && cpack -G DEB -B "$work/pkg" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; exit 1; }
arch=$(dpkg --print-architecture)
launcher_deb=$(ls "$work"/pkg/${launcher_pkg}_*.deb)
client_deb=$(ls "$work"/pkg/${client_pkg}_*.deb)
check "both packages are built for this machine's architecture ($arch)" \
  test "$(basename "$launcher_deb" .deb | sed 's/.*_//') $(basename "$client_deb" .deb | sed 's/.*_//')" = "$arch $arch"
field() { dpkg-deb -f "$1" "$2"; }
check "launcher package name" test "$(field "$launcher_deb" Package)" = $launcher_pkg
check "client package name" test "$(field "$client_deb" Package)" = $client_pkg
check "package architecture fields" test "$(field "$launcher_deb" Architecture) $(field "$client_deb" Architecture)" = "$arch $arch"
# The packages of this release that hold the libraries the programs were linked against: the
# launcher's libjvm.so (through its run path's JDK), the client's gSOAP and OpenSSL libraries.
owner() { dpkg-query -S "$(readlink -f "$1")" 2>/dev/null | sed -n '1s/[:,].*//p'; }
depends() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/[[:space:]]*(.*//; s/^[[:space:]]*//'; }
jre=$(owner "$JAVA_HOME/lib/server/libjvm.so")
check "launcher depends on the Java runtime it was linked against (${jre:-none found})" \
  bash -c "[[ -n '$jre' ]] && grep -qx '$jre' <<< '$(depends "$launcher_deb")'"
for lib in $(ldd "$build/client/clifclient" | awk '$3 ~ /libgsoap|libssl|libcrypto/ { print $3 }'); do
  pkg=$(owner "$lib")
  check "client depends on $pkg ($(basename "$lib"))" \
    bash -c "[[ -n '$pkg' ]] && grep -qx '$pkg' <<< '$(depends "$client_deb")'"
done
for deb in "$launcher_deb" "$client_deb"; do
  check "$(basename "$deb"): no package twice in Depends ($(depends "$deb" | sort | uniq -d | xargs))" \
    test -z "$(depends "$deb" | sort | uniq -d)"
done
# Installed-Size counts the files (KiB each rounded up), not the targets of the command links: at
# least the regular files' KiB, at most one KiB more per other entry.
for deb in "$launcher_deb" "$client_deb"; do
  read -r file_kib others < <(dpkg-deb --fsys-tarfile "$deb" | tar -tv | awk '
    /^-/ { kib += int(($3 + 1023) / 1024); next } { others++ } END { print kib + 0, others + 0 }')
  size=$(field "$deb" Installed-Size)
  check "$(basename "$deb"): Installed-Size $size KiB for $file_kib KiB of files and $others links and directories" \
    test "$size" -ge "$file_kib" -a "$size" -le $((file_kib + others))
done
check "client configuration is a conffile" \
  bash -c "dpkg-deb -I '$client_deb' conffiles | grep -qx '$client_bin/CLIClientConfig.cfg'"
dpkg-deb -c "$launcher_deb" > "$work/launcher.list"
check "packaged launcher is not set-user-ID" \
  grep -q '^-rwxr-xr-x root/root .* ./opt/vel/bin/vellauncher$' "$work/launcher.list"
for deb in "$launcher_deb" "$client_deb"; do
  rm -rf "$work/x" && dpkg-deb -x "$deb" "$work/x"
  for page in "$work"/x/usr/share/man/man*/*.gz; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" > /dev/null 2> "$work/man.err" || true
    check "packaged $(basename "$page") renders without warnings" test ! -s "$work/man.err"
  done
done

# lintian is not among the CI dependencies (it is large); where it is installed, it must find
# nothing beyond the notes the packages override.
if command -v lintian > /dev/null; then
  lintian --fail-on error,warning "$launcher_deb" "$client_deb" > "$work/lintian.log" 2>&1 || true
  grep -E '^(E|W):' "$work/lintian.log" > "$work/lintian.problems" || true
  check "lintian finds no errors or warnings" test ! -s "$work/lintian.problems"
  sed 's/^/    /' "$work/lintian.problems" >&2
fi

# The set-user-ID variant: a launcher-only configuration with VEL_INSTALL_SETUID=ON.
cmake -S "$top" -B "$work/suid" -DCMAKE_BUILD_TYPE=Release -DVEL_BUILD_CLIENT=OFF -DVEL_BUILD_TESTS=OFF \
  -DVEL_INSTALL_SETUID=ON > "$work/suid.log" 2>&1 &&
  cmake --build "$work/suid" -j 2 >> "$work/suid.log" 2>&1 &&
  (cd "$work/suid" && cpack -G DEB -B "$work/suid/pkg" >> "$work/suid.log" 2>&1) || { cat "$work/suid.log" >&2; exit 1; }
dpkg-deb -c "$work"/suid/pkg/${launcher_pkg}_*.deb > "$work/suid.list"
check "with VEL_INSTALL_SETUID=ON the packaged launcher is set-user-ID root" \
  grep -q '^-rwsr-xr-x root/root .* ./opt/vel/bin/vellauncher$' "$work/suid.list"
if command -v lintian > /dev/null; then
  lintian "$work"/suid/pkg/${launcher_pkg}_*.deb 2>&1 | grep -E '^(E|W):' > "$work/lintian.problems" || true
  check "lintian accepts the set-user-ID launcher package" test ! -s "$work/lintian.problems"
  sed 's/^/    /' "$work/lintian.problems" >&2
fi

# ---- installed on this machine
echo "== install"
dpkg_step -i "$launcher_deb" "$client_deb"
check "both packages installed" bash -c "dpkg-query -W $launcher_pkg $client_pkg > /dev/null"
for cmd in vellauncher "${cli_commands[@]}" "${aux_commands[@]}"; do
  [[ -x $launcher_bin/$cmd ]] || fail "$launcher_bin/$cmd missing"
done
for cmd in clifclient "${cli_commands[@]}"; do
  [[ -x $client_bin/$cmd ]] || fail "$client_bin/$cmd missing"
done
pass "command links in $launcher_bin and $client_bin"

# A launcher command from /opt/vel/bin against the stand-in Java classes.
cp -a "$build/stage" "$work/base"
run env VEL_BASE_DIR="$work/base" $launcher_bin/velversion -v
check "velversion from $launcher_bin: status 0, the version class gets its arguments" \
  test $status -eq 0 -a "$(head -3 "$work/out")" = "$(printf 'main com.orva.vel.utilities.version.VelVersion\nargc=1\narg[0]=-v')"
run env VEL_BASE_DIR="$work/base" PATH="$launcher_bin:/usr/bin:/bin" velinitconfig --exit=4
check "velinitconfig found on PATH: the Java command's exit status comes through" \
  test $status -eq 4 -a "$(sed -n 3p "$work/out")" = "arg[0]=velinitconfig"
run $launcher_bin/vellauncher
check "vellauncher under its own name: status 1, no output" test $status -eq 1 -a ! -s "$work/out" -a ! -s "$work/err"

# A client command from /opt/vel/clif/bin against the stand-in CMS, whose velnode is the
# installed launcher. The client's configuration directory is its own bin directory.
PYTHONPATH=$top/tests/support timeout 150 python3 - "$build/tools/cms/velcms" "$work" \
  "$client_bin" "$launcher_bin" > "$work/client.log" 2>&1 <<'PY' || { cat "$work/client.log" >&2; fail "client commands"; }
import os, subprocess, sys
import vel_testsupport as vts

velcms, work, client_bin, launcher_bin = sys.argv[1:5]
pki = vts.make_pki()
cms_env = dict(os.environ, VEL_BASE_DIR=os.path.join(work, "base"))
commands = os.path.join(work, "commands")
vts.link_command(commands, "velnode", os.path.join(launcher_bin, "vellauncher"))
failed = []

def expect(what, condition):
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failed.append(what)

with vts.StandInCms(velcms, os.path.join(work, "cms"), tls_pem=pki.server_pem, commands_dir=commands,
                    env=cms_env) as cms:
    # The installed sample, pointed at the stand-in: its URLs are the product's default paths.
    with open(os.path.join(client_bin, "CLIClientConfig.cfg")) as f:
        sample = f.read()
    expect("the installed sample names both services on localhost:50001",
           "velpimainurl=https://localhost:50001/" in sample and "clifserviceurl=https://localhost:50001/" in sample)
    vts.write_client_config(client_bin, cfg_text=sample.replace("https://localhost:50001", cms.base_url))
    env = dict(os.environ, PATH=client_bin + ":/usr/bin:/bin")
    # Found on PATH, as administrators run it.
    r = vts.run(["velnode", "--user", "admin", "--pass", "secret", "-l"], input=b"node-a\n",
                cwd=work, env=env, timeout=60)
    out = r.stdout.decode(errors="replace")
    expect("velnode from %s runs velnode on the CMS through the launcher (status %d)" % (client_bin, r.returncode),
           r.returncode == 0 and "main com.orva.vel.cli.VelCommandDispatcher\nargc=2\narg[0]=velnode\narg[1]=-l\n" in out)
    if r.returncode != 0:
        print(out, r.stderr.decode(errors="replace"), open(os.path.join(work, "cms", "velcms.err")).read())
    r = vts.run([os.path.join(client_bin, "velnode"), "--user", "admin", "--pass", "secret", "--exit=3"],
                stdin=subprocess.DEVNULL, cwd=work, env=env, timeout=60)
    expect("the remote exit status is the client's (3)", r.returncode == 3)
    r = vts.run([os.path.join(client_bin, "velnode"), "--user", "admin", "--pass", "wrong", "-l"],
                stdin=subprocess.DEVNULL, cwd=work, env=env, timeout=60)
    expect("a refused logon ends with 255", r.returncode == 255 and b"There was a problem connecting" in r.stdout)
sys.exit(1 if failed else 0)
PY
sed 's/^/  /' "$work/client.log"

# The configuration is a conffile: a changed one survives reinstalling and removing the package,
# and purging removes it.
echo "# changed by the administrator" >> "$client_bin/CLIClientConfig.cfg"
dpkg_step -i "$client_deb"
check "reinstalling keeps a changed configuration" grep -q "changed by the administrator" "$client_bin/CLIClientConfig.cfg"
rm -f "$client_bin/server_cert.pem" "$client_bin/randomfile"
dpkg_step -r $client_pkg
check "removing keeps a changed configuration" grep -q "changed by the administrator" "$client_bin/CLIClientConfig.cfg"

# ---- removed again
echo "== remove"
dpkg_step --purge $client_pkg $launcher_pkg
check "both packages purged" bash -c "! dpkg-query -W $launcher_pkg $client_pkg > /dev/null 2>&1"
for d in "${system_dirs[@]}"; do mkdir -p "$d"; done
check "nothing left under /opt/vel" test ! -e /opt/vel
if ((var_existed == 0)); then
  check "nothing left under /var/opt/vel" test ! -e /var/opt/vel
fi
check "manual pages and package documentation removed" \
  test ! -e /usr/share/man/man1/clifclient.1.gz -a ! -e /usr/share/man/man8/vellauncher.8.gz \
       -a ! -e /usr/share/doc/$launcher_pkg -a ! -e /usr/share/doc/$client_pkg

echo "test-packages: $failures failure(s), $((SECONDS - start)) s"
((failures == 0))

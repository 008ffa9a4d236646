#!/usr/bin/env bash
# Fresh Debian trees (debootstrap --variant=minbase), all made the same way (tools/debian-tree.sh),
# each named RELEASE-ARCH:
#   bookworm-amd64, trixie-amd64
#          a pristine tree of Debian 12 and one of Debian 13 with nothing but git run the README's
#          set-up: its main-job command (tools/demo.sh), then the installation, build and ctest part
#          of its test command (VEL_CTEST_ONLY=1 tools/test.sh). A package the README's commands do
#          not install fails it. Where the release has further JDKs (tools/releases.txt: Debian 13
#          has 25 beside its default 21), the ctest suite then runs once more with each of them
#          (JAVA_HOME chooses, in a build directory of its own).
#   bookworm-i386
#          the 32-bit programs: a tree of its own, kept with its packages between runs, builds the
#          project, runs the whole ctest suite and tools/test-packages.sh (which makes the _i386
#          packages with cpack, installs them there and runs their commands). A test that i386
#          skips and bookworm-amd64 does not fails the step. On a kernel that runs no 32-bit x86
#          programs the tree is skipped; this machine's apt then fetches the i386 index that the
#          tree would use instead.
# Each tree builds a git clone of this checkout's HEAD (untracked and uncommitted files stay out).
# Runs as root; the trees and the pristine bases live in VEL_TREE_CACHE (/var/cache/vel-trees).
# Prints the time of each step. A step that the machine stopped (debootstrap, the archive, the
# network, a package lock: exit status 75 of the scripts) is listed on an "infrastructure:" line
# apart from the "FAIL:" lines; the run then ends with 75 unless something failed.
#
# Usage: tools/test-trees.sh [BUILD_DIR]     (VEL_TREES: the trees to run, default "bookworm-amd64
#        trixie-amd64 bookworm-i386"; when bookworm-amd64 does not run, the i386 skips are compared
#        with its last run, else with BUILD_DIR's)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
host_build=${1:-$top/build}
cache=${VEL_TREE_CACHE:-/var/cache/vel-trees}
trees=${VEL_TREES:-bookworm-amd64 trixie-amd64 bookworm-i386}
# shellcheck source=tools/debian-tree.sh
source "$top/tools/debian-tree.sh"

if [[ $(id -u) -ne 0 ]]; then
  echo "test-trees: must run as root (debootstrap, chroot, mounts)" >&2
  exit 1
fi
bash "$top/tools/deps.sh" trees
mkdir -p "$cache"
exec 9> "$cache/lock"
flock 9   # one run at a time uses the cached trees

run_tree=
cleanup() {
  tree_unmount
  [[ -n $run_tree ]] && tree_remove "$run_tree"
  [[ -n ${bundle:-} ]] && rm -f "$bundle"
  true
}
tree_traps
tree_cleanup() { cleanup; }

times=()
failures=()
stopped=()
skipped=()
# LABEL LOG COMMAND...: runs the command with its output in LOG (shown when it fails), records its time.
timed() {
  local label=$1 log=$2 start=$SECONDS status=0
  shift 2
  echo "-- $label"
  "$@" > "$log" 2>&1 || status=$?
  times+=("$label: $((SECONDS - start)) s")
  grep -E '^(deps|build|ctest|test-packages|infrastructure):|tests passed|tests failed|^The following tests FAILED|^[[:space:]]+[0-9]+ - .* \(Failed\)' \
    "$log" | sed 's/^/   /' || true
  if ((status)); then
    echo "   failed (status $status); the end of $log:"
    tail -n 80 "$log" | sed 's/^/   | /'
  fi
  return $status
}
# WHAT STATUS: a failed step, the machine's (status 75) or the project's.
failed() {
  if (($2 == 75)); then stopped+=("$1"); else failures+=("$1"); fi
}
# WHAT: a step that only the machine can fail (the tree's making, its archive, the clone).
stopped_by() { stopped+=("$1"); }

bundle=$(mktemp "$cache/vel.XXXXXX.bundle")
git -C "$top" bundle create -q "$bundle" HEAD
commit=$(git -C "$top" rev-parse --short HEAD)

# Puts a fresh clone of HEAD at /root/vel in a mounted tree.
clone_into() {
  local arch=$1 dir=$2
  rm -rf "$dir/root/vel"
  cp "$bundle" "$dir/root/vel.bundle" &&
    tree_run "$arch" "$dir" git -c advice.detachedHead=false -c init.defaultBranch=main clone -q /root/vel.bundle /root/vel &&
    rm -f "$dir/root/vel.bundle"
}

# The tests that a ctest log reports skipped: for each ctest test its own count of skipped cases
# (unittest's "skipped=N", GoogleTest's SKIPPED), and each skipped case by name.
skipped_tests() {
  awk '
    /^[0-9]+\/[0-9]+ Testing: / { test = $3 }
    / \.\.\. skipped/ { sub(/ \.\.\. skipped.*/, ""); print test ": " $0 }
    /^\[  SKIPPED \] [^0-9]/ { print test ": " $4 }
    match($0, /skipped=[0-9]+/) { print test ": " substr($0, RSTART, RLENGTH) }
    /^\[  SKIPPED \] [0-9]+ test/ { print test ": gtest skipped=" $4 }
  ' "$1" | sort -u
}

# The OpenJDK versions of a release after its default (tools/releases.txt).
further_jdks() {
  awk -v release="$1" '$1 == release && !/^#/ { n = split($3, v, ","); for (i = 2; i <= n; i++) print v[i] }' \
    "$top/tools/releases.txt"
}

# A pristine tree of RELEASE (amd64) runs the README's two commands.
fresh_tree() {
  local release=$1 name=$1-amd64 status
  local base=$cache/$name-minbase.tar
  if [[ ! -e $base ]]; then
    timed "$name debootstrap" "$cache/$name-debootstrap.log" tree_debootstrap "$release" amd64 "$cache/$name" ||
      { stopped_by "$name: debootstrap"; return 0; }
    tar -C "$cache/$name" -cf "$base.new" . && mv "$base.new" "$base"
    tree_remove "$cache/$name"
  fi
  rm -f "$cache/$name-LastTest.log"
  run_tree=$(mktemp -d "$cache/$name-run.XXXXXX")
  timed "$name unpack of the pristine tree" "$cache/$name-unpack.log" tar -C "$run_tree" -xpf "$base" ||
    { stopped_by "$name: unpack"; return 0; }
  tree_configure "$run_tree" "$release" && tree_mount "$run_tree" || { stopped_by "$name: mounts"; return 0; }
  echo "   apt source: $(cat "$run_tree/etc/apt/sources.list") (no security or updates suite)"
  # Downloads are kept for the next run; the installed system is new each time.
  tree_bind "$cache/apt-archives-$name" "$run_tree/var/cache/apt/archives" || { stopped_by "$name: mounts"; return 0; }
  timed "$name git" "$cache/$name-git.log" tree_run amd64 "$run_tree" bash -c \
    'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git' ||
    { stopped_by "$name: apt-get update, git"; return 0; }
  clone_into amd64 "$run_tree" || { stopped_by "$name: clone"; return 0; }
  status=0
  timed "$name README main job: bash tools/demo.sh (packages, build, job)" "$cache/$name-demo.log" \
    tree_run amd64 "$run_tree" bash -c 'cd /root/vel && bash tools/demo.sh' || status=$?
  if ((status)); then
    failed "$name: tools/demo.sh" $status
  elif ! grep -q 'main com.orva.vel.cli.VelCommandDispatcher' "$cache/$name-demo.log"; then
    failures+=("$name: the main job did not run the remote command")
  fi
  status=0
  timed "$name README test command, ctest part: VEL_CTEST_ONLY=1 bash tools/test.sh" "$cache/$name-test.log" \
    tree_run amd64 "$run_tree" bash -c 'cd /root/vel && VEL_CTEST_ONLY=1 bash tools/test.sh' || status=$?
  ((status == 0)) || failed "$name: VEL_CTEST_ONLY=1 tools/test.sh" $status
  cp "$run_tree/root/vel/build/Testing/Temporary/LastTest.log" "$cache/$name-LastTest.log" 2>/dev/null || true
  local jdk
  for jdk in $(further_jdks "$release"); do
    status=0
    timed "$name ctest with JDK $jdk: JAVA_HOME=.../java-$jdk-openjdk-amd64 VEL_CTEST_ONLY=1 bash tools/test.sh" \
      "$cache/$name-jdk$jdk.log" tree_run amd64 "$run_tree" bash -c \
      "cd /root/vel && JAVA_HOME=/usr/lib/jvm/java-$jdk-openjdk-amd64 VEL_BUILD_DIR=/root/vel/build-jdk$jdk \
       VEL_CTEST_ONLY=1 bash tools/test.sh" || status=$?
    ((status == 0)) || failed "$name: ctest with JDK $jdk" $status
  done
  tree_unmount
  tree_remove "$run_tree"
  run_tree=
}

i386_tree() {
  local release=bookworm name=bookworm-i386 status
  local tree=$cache/$name
  if [[ ! -d $tree ]]; then
    timed "$name debootstrap" "$cache/$name-debootstrap.log" tree_debootstrap $release i386 "$tree" ||
      { stopped_by "$name: debootstrap"; return 0; }
  fi
  tree_configure "$tree" $release && tree_mount "$tree" || { stopped_by "$name: mounts"; return 0; }
  echo "   apt source: $(cat "$tree/etc/apt/sources.list") (no security or updates suite)"
  timed "$name git" "$cache/$name-git.log" tree_run i386 "$tree" bash -c \
    'dpkg-query -W git > /dev/null 2>&1 ||
     { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git; }' ||
    { stopped_by "$name: apt-get update, git"; return 0; }
  clone_into i386 "$tree" || { stopped_by "$name: clone"; return 0; }
  status=0
  timed "$name packages: bash tools/deps.sh" "$cache/$name-deps.log" \
    tree_run i386 "$tree" bash /root/vel/tools/deps.sh || status=$?
  if ((status)); then
    failed "$name: tools/deps.sh" $status
    return 0
  fi
  status=0
  timed "$name build and ctest: VEL_CTEST_ONLY=1 bash tools/test.sh" "$cache/$name-test.log" \
    tree_run i386 "$tree" bash -c 'cd /root/vel && VEL_CTEST_ONLY=1 bash tools/test.sh' || status=$?
  ((status == 0)) || failed "$name: build or ctest" $status
  status=0
  timed "$name package test: tools/test-packages.sh (cpack, install, run, purge)" "$cache/$name-packages.log" \
    tree_run i386 "$tree" bash -c 'cd /root/vel && bash tools/test-packages.sh build' || status=$?
  ((status == 0)) || failed "$name: tools/test-packages.sh" $status
  local program file_class
  for program in launcher/vellauncher client/clifclient; do
    file_class=$(readelf -h "$tree/root/vel/build/$program" 2>/dev/null | awk '/Class:/ { print $2 }')
    [[ $file_class == ELF32 ]] || failures+=("$name: $program is ${file_class:-missing}, not ELF32")
  done

  # The bookworm-amd64 tree's log of this run, else of the last one, else this machine's build.
  local baseline=$cache/bookworm-amd64-LastTest.log
  [[ -e $baseline ]] || baseline=$host_build/Testing/Temporary/LastTest.log
  local log=$tree/root/vel/build/Testing/Temporary/LastTest.log
  if [[ ! -e $baseline || ! -e $log ]]; then
    failures+=("$name: no ctest logs to compare skips ($baseline, $log)")
  else
    skipped_tests "$baseline" > "$cache/bookworm-amd64-skipped.txt"
    skipped_tests "$log" > "$cache/$name-skipped.txt"
    local extra
    extra=$(comm -13 "$cache/bookworm-amd64-skipped.txt" "$cache/$name-skipped.txt")
    if [[ -n $extra ]]; then
      echo "skipped on i386 but not on amd64:"
      sed 's/^/    /' <<< "$extra"
      failures+=("$name: skips that amd64 does not have")
    fi
  fi
  tree_unmount
}

echo "== fresh Debian trees ($trees), commit $commit"
for tree in $trees; do
  case $tree in
    bookworm-amd64 | trixie-amd64) fresh_tree "${tree%-amd64}" ;;
    bookworm-i386)
      # A kernel built without 32-bit x86 support (IA32 emulation) can run no i386 program, so
      # there is no tree to test in; the step says so, and this machine's apt shows that the
      # tree's archive index can be fetched.
      if arch-test i386 > /dev/null 2>&1; then
        i386_tree
      else
        skipped+=("$tree: this kernel runs no 32-bit x86 programs ($(arch-test i386 2>&1 | head -1 || true))")
        echo "-- ${skipped[-1]}: skipped"
        timed "$tree index, fetched by this machine's apt: $(tree_sources bookworm)" "$cache/$tree-index.log" \
          tree_index_check bookworm i386 || stopped_by "$tree: the archive's i386 index"
      fi ;;
    *) echo "test-trees: no tree $tree (bookworm-amd64, trixie-amd64, bookworm-i386)" >&2; exit 2 ;;
  esac
done
printf '  %s\n' "${times[@]}"
((${#skipped[@]} == 0)) || printf 'SKIPPED: %s\n' "${skipped[@]}"
((${#stopped[@]} == 0)) || printf 'infrastructure: %s (stopped by the machine, not by the project)\n' "${stopped[@]}"
if ((${#failures[@]})); then
  printf 'FAIL: %s\n' "${failures[@]}"
  exit 1
fi
((${#stopped[@]} == 0)) || exit 75
echo "test-trees: passed"

#!/usr/bin/env bash
# Fresh Debian 12 trees (debootstrap --variant=minbase), both made the same way (tools/debian-tree.sh):
#   amd64  a pristine tree with nothing but git runs the README's set-up: its main-job command
#          (tools/demo.sh), then the installation, build and ctest part of its test command
#          (VEL_CTEST_ONLY=1 tools/test.sh). A package the README's commands do not install fails it.
#   i386   the 32-bit programs: a tree of its own, kept with its packages between runs, builds the
#          project, runs the whole ctest suite and tools/test-packages.sh (which makes the _i386
#          packages with cpack, installs them there and runs their commands). A test that i386
#          skips and amd64 does not fails the step.
# Each tree builds a git clone of this checkout's HEAD (untracked and uncommitted files stay out).
# Runs as root; the trees and the pristine amd64 base live in VEL_TREE_CACHE (/var/cache/vel-trees).
# Prints the time of each step.
#
# Usage: tools/test-trees.sh [BUILD_DIR]     (VEL_TREES: the trees to run, default "amd64 i386"; when
#        only i386 runs, the last amd64 tree's ctest log is compared, else BUILD_DIR's)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
host_build=${1:-$top/build}
cache=${VEL_TREE_CACHE:-/var/cache/vel-trees}
trees=${VEL_TREES:-amd64 i386}
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
# LABEL LOG COMMAND...: runs the command with its output in LOG (shown when it fails), records its time.
timed() {
  local label=$1 log=$2 start=$SECONDS status=0
  shift 2
  echo "-- $label"
  "$@" > "$log" 2>&1 || status=$?
  times+=("$label: $((SECONDS - start)) s")
  grep -E '^(deps|build|ctest|test-packages):|tests passed|tests failed' "$log" | sed 's/^/   /' || true
  if ((status)); then
    echo "   failed (status $status); the end of $log:"
    tail -n 80 "$log" | sed 's/^/   | /'
  fi
  return $status
}

bundle=$(mktemp "$cache/vel.XXXXXX.bundle")
git -C "$top" bundle create -q "$bundle" HEAD
commit=$(git -C "$top" rev-parse --short HEAD)

# Puts a fresh clone of HEAD at /root/vel in a mounted tree.
clone_into() {
  local arch=$1 dir=$2
  rm -rf "$dir/root/vel"
  cp "$bundle" "$dir/root/vel.bundle" &&
    tree_run "$arch" "$dir" git -c advice.detachedHead=false clone -q /root/vel.bundle /root/vel &&
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

failures=()
skipped=()

amd64_tree() {
  local base=$cache/bookworm-amd64-minbase.tar
  if [[ ! -e $base ]]; then
    timed "amd64 debootstrap" "$cache/amd64-debootstrap.log" tree_debootstrap amd64 "$cache/bookworm-amd64" ||
      return 1
    tar -C "$cache/bookworm-amd64" -cf "$base.new" . && mv "$base.new" "$base"
    tree_remove "$cache/bookworm-amd64"
  fi
  rm -f "$cache/amd64-LastTest.log"
  run_tree=$(mktemp -d "$cache/amd64-run.XXXXXX")
  timed "amd64 unpack of the pristine tree" "$cache/amd64-unpack.log" tar -C "$run_tree" -xpf "$base" || return 1
  tree_configure "$run_tree" && tree_mount "$run_tree" || return 1
  # Downloads are kept for the next run; the installed system is new each time.
  tree_bind "$cache/apt-archives-amd64" "$run_tree/var/cache/apt/archives" || return 1
  timed "amd64 git" "$cache/amd64-git.log" tree_run amd64 "$run_tree" bash -c \
    'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git' || return 1
  clone_into amd64 "$run_tree" || return 1
  timed "amd64 README main job: bash tools/demo.sh (packages, build, job)" "$cache/amd64-demo.log" \
    tree_run amd64 "$run_tree" bash -c 'cd /root/vel && bash tools/demo.sh' || failures+=("amd64: tools/demo.sh")
  grep -q 'main com.orva.vel.cli.VelCommandDispatcher' "$cache/amd64-demo.log" ||
    failures+=("amd64: the main job did not run the remote command")
  timed "amd64 README test command, ctest part: VEL_CTEST_ONLY=1 bash tools/test.sh" "$cache/amd64-test.log" \
    tree_run amd64 "$run_tree" bash -c 'cd /root/vel && VEL_CTEST_ONLY=1 bash tools/test.sh' ||
    failures+=("amd64: VEL_CTEST_ONLY=1 tools/test.sh")
  cp "$run_tree/root/vel/build/Testing/Temporary/LastTest.log" "$cache/amd64-LastTest.log" 2>/dev/null || true
  tree_unmount
  tree_remove "$run_tree"
  run_tree=
}

i386_tree() {
  local tree=$cache/bookworm-i386
  if [[ ! -d $tree ]]; then
    timed "i386 debootstrap" "$cache/i386-debootstrap.log" tree_debootstrap i386 "$tree" || return 1
  fi
  tree_configure "$tree" && tree_mount "$tree" || return 1
  timed "i386 git" "$cache/i386-git.log" tree_run i386 "$tree" bash -c \
    'dpkg-query -W git > /dev/null 2>&1 ||
     { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git; }' || return 1
  clone_into i386 "$tree" || return 1
  timed "i386 packages: bash tools/deps.sh" "$cache/i386-deps.log" tree_run i386 "$tree" bash /root/vel/tools/deps.sh ||
    { failures+=("i386: tools/deps.sh"); return 1; }
  timed "i386 build and ctest: VEL_CTEST_ONLY=1 bash tools/test.sh" "$cache/i386-test.log" \
    tree_run i386 "$tree" bash -c 'cd /root/vel && VEL_CTEST_ONLY=1 bash tools/test.sh' ||
    failures+=("i386: build or ctest")
  timed "i386 package test: tools/test-packages.sh (cpack, install, run, purge)" "$cache/i386-packages.log" \
    tree_run i386 "$tree" bash -c 'cd /root/vel && bash tools/test-packages.sh build' ||
    failures+=("i386: tools/test-packages.sh")
  local program file_class
  for program in launcher/vellauncher client/clifclient; do
    file_class=$(readelf -h "$tree/root/vel/build/$program" 2>/dev/null | awk '/Class:/ { print $2 }')
    [[ $file_class == ELF32 ]] || failures+=("i386: $program is ${file_class:-missing}, not ELF32")
  done

  # The amd64 tree's log of this run, else of the last one, else this machine's build.
  local baseline=$cache/amd64-LastTest.log
  [[ -e $baseline ]] || baseline=$host_build/Testing/Temporary/LastTest.log
  local log=$tree/root/vel/build/Testing/Temporary/LastTest.log
  if [[ ! -e $baseline || ! -e $log ]]; then
    failures+=("i386: no ctest logs to compare skips ($baseline, $log)")
  else
    skipped_tests "$baseline" > "$cache/amd64-skipped.txt"
    skipped_tests "$log" > "$cache/i386-skipped.txt"
    local extra
    extra=$(comm -13 "$cache/amd64-skipped.txt" "$cache/i386-skipped.txt")
    if [[ -n $extra ]]; then
      echo "skipped on i386 but not on amd64:"
      sed 's/^/    /' <<< "$extra"
      failures+=("i386: skips that amd64 does not have")
    fi
  fi
  tree_unmount
}

echo "== fresh Debian trees ($trees), commit $commit"
for arch in $trees; do
  case $arch in
    amd64) amd64_tree || failures+=("amd64: tree") ;;
    i386)
      # A kernel built without 32-bit x86 support (IA32 emulation) can run no i386 program, so
      # there is no tree to test in; the step says so and the amd64 tree still counts.
      if arch-test i386 > /dev/null 2>&1; then
        i386_tree || failures+=("i386: tree")
      else
        skipped+=("i386: this kernel runs no 32-bit x86 programs ($(arch-test i386 2>&1 | head -1 || true))")
        echo "-- ${skipped[-1]}: skipped"
      fi ;;
    *) echo "test-trees: no tree $arch" >&2; exit 2 ;;
  esac
done
printf '  %s\n' "${times[@]}"
if ((${#failures[@]})); then
  printf 'FAIL: %s\n' "${failures[@]}"
  exit 1
fi
((${#skipped[@]} == 0)) || printf 'SKIPPED: %s\n' "${skipped[@]}"
echo "test-trees: passed"

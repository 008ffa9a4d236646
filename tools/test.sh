#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite: the ctest suite of the
# normal build, then each further suite of tools/test-*.sh (fuzzers, packages, sanitizers, static
# analysis, the fresh Debian trees). Every suite runs even when an earlier one failed; the last
# line counts them. A suite that ends with status 75 was stopped by the machine, not by the project
# (an archive, the network or a package lock; its line "infrastructure: ..." says which): it is
# counted apart, and the run then ends with 75 unless a suite failed. Arguments go to ctest.
#   VEL_CTEST_ONLY=1  the installation, the build and the ctest suite alone, without the further
#                     suites (tools/test-trees.sh runs that part in fresh Debian trees)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/deps.sh"
source "$top/tools/jdk.sh"
build=${VEL_BUILD_DIR:-$top/build}
start=$SECONDS
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
echo "build: $((SECONDS - start)) s"

passed=0
failed=()
stopped=()
start=$SECONDS
if (cd "$build" && ctest --output-on-failure -j 2 "$@"); then
  passed=$((passed + 1))
else
  failed+=(ctest)
fi
echo "ctest: $((SECONDS - start)) s"
if [[ -z ${VEL_CTEST_ONLY:-} ]]; then
  for suite in "$top"/tools/test-*.sh; do
    [ -e "$suite" ] || continue
    echo "== $(basename "$suite")"
    start=$SECONDS
    status=0
    bash "$suite" "$build" || status=$?
    case $status in
      0) passed=$((passed + 1)) ;;
      75) stopped+=("$(basename "$suite")") ;;
      *) failed+=("$(basename "$suite")") ;;
    esac
    echo "$(basename "$suite"): $((SECONDS - start)) s"
  done
fi
((${#failed[@]} == 0)) || echo "failed suites: ${failed[*]}"
((${#stopped[@]} == 0)) || echo "infrastructure: suites stopped by the machine, not the project: ${stopped[*]}"
counts="suites: $passed passed, ${#failed[@]} failed"
((${#stopped[@]} == 0)) || counts+=", ${#stopped[@]} stopped by the infrastructure"
echo "$counts"
((${#failed[@]} == 0)) || exit 1
((${#stopped[@]} == 0)) || exit 75

#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite: the ctest suite of the
# normal build, then each further suite of tools/test-*.sh (fuzzers, packages, sanitizers, static
# analysis, the fresh Debian trees). Every suite runs even when an earlier one failed; the last
# line counts them.
#
# Arguments go to ctest and run that selection alone, without the further suites:
#   bash tools/test.sh -R client.test_clif_causes
#
# A suite that ends with status 75 was stopped by the machine, not by the project (an archive, the
# network or a package lock; its own "infrastructure: ..." line says which). It is counted as
# skipped, listed on an "infrastructure:" line, and does not fail the run.
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

# The failed tests of the last ctest run, each with the first lines of its output from the first
# line that reports a failure (unittest's FAIL:/ERROR:, GoogleTest's Failure, a traceback) on.
failed_tests() {
  local dir=$build/Testing/Temporary name
  [[ -r $dir/LastTestsFailed.log ]] || return 0
  echo "failed tests:"
  while IFS=: read -r _ name; do
    echo "  $name"
    awk -v testing="Testing: $name" -v ended="\"$name\" end time" '
      $0 ~ /^[0-9]+\/[0-9]+ Testing: / && substr($0, index($0, "Testing: ")) == testing { on = 1; next }
      on && !out && /^Output:$/ { out = 1; getline; next }
      on && out && ($0 == "<end of output>" || index($0, ended) == 1) { exit }
      on && out { line[n++] = $0 }
      END {
        from = 0
        for (i = 0; i < n; i++)
          if (line[i] ~ /^(FAIL|ERROR):|Failure|\[  FAILED  \]|^Traceback|[Ee]rror:/) { from = i; break }
        for (i = from; i < n && i < from + 12; i++) print "    | " line[i]
      }
    ' "$dir/LastTest.log"
  done < "$dir/LastTestsFailed.log"
}

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
if [[ -z ${VEL_CTEST_ONLY:-} ]] && (($# == 0)); then
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
if ((${#failed[@]})); then
  [[ ${failed[0]} != ctest ]] || failed_tests
  echo "failed suites: ${failed[*]}"
fi
((${#stopped[@]} == 0)) || echo "infrastructure: stopped by the machine, not the project: ${stopped[*]}"
echo "suites: $passed passed, ${#failed[@]} failed, ${#stopped[@]} skipped"
((${#failed[@]} == 0))

#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite: the ctest suite of the
# normal build, then each further suite of tools/test-*.sh (fuzzers, packages, sanitizers, static
# analysis). Every suite runs even when an earlier one failed; the last line counts them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/deps.sh"
export JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
build=${VEL_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"

passed=0
failed=()
if (cd "$build" && ctest --output-on-failure -j 2 "$@"); then
  passed=$((passed + 1))
else
  failed+=(ctest)
fi
for suite in "$top"/tools/test-*.sh; do
  [ -e "$suite" ] || continue
  echo "== $(basename "$suite")"
  if bash "$suite" "$build"; then
    passed=$((passed + 1))
  else
    failed+=("$(basename "$suite")")
  fi
done
((${#failed[@]} == 0)) || echo "failed suites: ${failed[*]}"
echo "suites: $passed passed, ${#failed[@]} failed"
((${#failed[@]} == 0))

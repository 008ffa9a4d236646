#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite: the ctest suite of the
# normal build, then each further suite of tools/test-*.sh (sanitizers, fuzzers, packages, ...).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/deps.sh"
export JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
build=${VEL_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
(cd "$build" && ctest --output-on-failure -j 2 "$@")
for suite in "$top"/tools/test-*.sh; do
  [ -e "$suite" ] || continue
  echo "== $(basename "$suite")"
  bash "$suite" "$build"
done

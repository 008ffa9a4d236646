#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on its embedded default.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/deps.sh"
source "$top/tools/jdk.sh"
build=${VEL_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
exec bash "$top/tools/main-job.sh" "$build"

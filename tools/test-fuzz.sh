#!/usr/bin/env bash
# Fuzz suite: builds the libFuzzer harnesses of tests/fuzz with the clang of this machine's Debian
# release (tools/releases.txt), AddressSanitizer and UndefinedBehaviorSanitizer on, in a build
# directory of their own, BUILD_DIR-fuzz, and runs each for a bounded time from its committed seed
# corpus. Any crash, leak, time-out or sanitizer report fails the suite; the input that caused it is
# kept in BUILD_DIR-fuzz/fuzz-findings/.
#   usage: tools/test-fuzz.sh BUILD_DIR          (VEL_FUZZ_SECONDS: time per harness, default 12)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build="$(realpath -m "$1")-fuzz"   # absolute: the harnesses are looked up below it
seconds=${VEL_FUZZ_SECONDS:-12}
bash "$top/tools/deps.sh" fuzz
source "$top/tools/jdk.sh"

CC=clang-$vel_clang CXX=clang++-$vel_clang cmake -S "$top" -B "$build" -DVEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target vel_fuzzers -j 2

findings="$build/fuzz-findings"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vel-fuzz-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$findings"
# An allocation the allocator cannot make returns null, as glibc's malloc does: the runtime then
# fails the call with its out-of-memory error (a reply whose Content-Length is a large negative
# number asks for such a buffer; corpus soap_reply/http_error_negative_length).
export ASAN_OPTIONS="suppressions=$top/cmake/sanitize/asan.supp:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

failed=()
for seeds in "$top"/tests/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  harness="$build/tests/fuzz/fuzz_$name"
  if [ ! -x "$harness" ]; then
    echo "== fuzz_$name: not built" >&2
    failed+=("$name")
    continue
  fi
  mkdir -p "$scratch/$name"
  echo "== fuzz_$name (${seconds}s)"
  # New inputs go to the scratch corpus only; the committed seeds stay as they are. The harness's
  # own stdout and stderr are closed (-close_fd_mask=3): libFuzzer still reports every crash.
  if ! (cd "$scratch" && "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
          -max_len=8192 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/$name-" \
          "$scratch/$name" "$seeds" > "$scratch/$name.log" 2>&1); then
    tail -n 60 "$scratch/$name.log" >&2
    failed+=("$name")
  else
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$scratch/$name.log" | tr '\n' ' ' || true
    echo
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found problems in: ${failed[*]} (inputs in $findings)" >&2
  exit 1
fi
echo "fuzzing: no findings"

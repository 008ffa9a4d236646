#!/usr/bin/env bash
# Builds the programs and the benchmark helpers (Release, in build-bench) and prints the
# benchmark tables: launcher start-up, the launcher's work before the JVM, TLS session
# resumption and the client's round trips and relays. Run on demand, as root on Debian 12.
#
# Knobs (environment): VEL_BENCH_START_RUNS (launcher start-ups per variant, default 51),
# VEL_BENCH_RUNS (other repeated measurements per variant, default 31),
# VEL_BENCH_OUTPUT_MIB (output relay size, default 1024), VEL_BENCH_INPUT_MIB (input relay
# size beside it, default 100), VEL_BENCH_RELAY_RUNS (rounds of the input bench, default 3; one
# round at the large size), VEL_BENCH_RELAY_MIB (its two sizes, default "256 4096"),
# VEL_BENCH_BASELINE (a git revision whose client the output relay, the memory within one reply
# and the TLS counts are compared with, side by side; default 4700657, the client before its own
# Base64 reader and the TLS session hand-over; empty: no comparison), VEL_BENCH_LINK_RUNS (runs of
# each short measurement over the delayed link, default 9; the relays there take
# VEL_BENCH_RELAY_RUNS), VEL_BENCH_LINK_MIB (relay size over the delayed link, default 256).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-bench
start_runs=${VEL_BENCH_START_RUNS:-51}
runs=${VEL_BENCH_RUNS:-31}
output_mib=${VEL_BENCH_OUTPUT_MIB:-1024}
input_mib=${VEL_BENCH_INPUT_MIB:-100}
relay_runs=${VEL_BENCH_RELAY_RUNS:-3}
read -r relay_small relay_large <<< "${VEL_BENCH_RELAY_MIB:-256 4096}"
link_runs=${VEL_BENCH_LINK_RUNS:-9}
link_mib=${VEL_BENCH_LINK_MIB:-256}

bash "$root/tools/deps.sh"
source "$root/tools/jdk.sh"
# The baselines and counters the benchmarks use besides the build's own packages.
extra=(curl valgrind util-linux)
missing=()
for p in "${extra[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

mkdir -p "$build"
cmake -S "$root/bench" -B "$build" -DCMAKE_BUILD_TYPE=Release > "$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 > "$build/build.log" 2>&1 || { tail -50 "$build/build.log"; exit 1; }

# The baseline client, built from git beside the current one (Release, client only).
baseline_rev=${VEL_BENCH_BASELINE-4700657}
baseline_client=""
if [[ -n $baseline_rev ]]; then
  git -C "$root" rev-parse -q --verify "$baseline_rev^{commit}" > /dev/null ||
    { echo "VEL_BENCH_BASELINE: no revision $baseline_rev in this clone" >&2; exit 1; }
  rm -rf "$build/baseline-src"
  mkdir -p "$build/baseline-src"
  git -C "$root" archive "$baseline_rev" | tar -x -C "$build/baseline-src"
  cmake -S "$build/baseline-src" -B "$build/baseline" -DCMAKE_BUILD_TYPE=Release -DVEL_BUILD_TESTS=OFF \
    -DVEL_BUILD_LAUNCHER=OFF > "$build/baseline-configure.log" 2>&1 || { cat "$build/baseline-configure.log"; exit 1; }
  cmake --build "$build/baseline" -j2 --target clifclient > "$build/baseline-build.log" 2>&1 ||
    { tail -50 "$build/baseline-build.log"; exit 1; }
  baseline_client=$build/baseline/client/clifclient
fi

echo "== Machine"
echo "date:      $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "commit:    $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
echo "baseline:  ${baseline_rev:-none} (client only)"
echo "cpus:      $(nproc) x $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "memory:    $(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
echo "kernel:    $(uname -r)"
echo "load:      $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min, before the runs)"
echo "java:      $("$JAVA_HOME/bin/java" -version 2>&1 | head -1)"
echo "curl:      $(curl --version | head -1 | cut -d' ' -f1-2), $(openssl version)"
echo

load() { echo "(load average now: $(cut -d' ' -f1-3 /proc/loadavg))"; }

echo "== Launcher"
python3 "$root/bench/launcher_startup.py" "$build" "$start_runs"
echo
python3 "$root/bench/launcher_prejvm.py" "$build" "$runs"
load
echo
echo "== Client"
python3 "$root/bench/tls_resumption.py" "$build" "$baseline_client"
echo
python3 "$root/bench/client_bench.py" "$build" "$runs" "$output_mib" "$input_mib" "$baseline_client"
load
echo
python3 "$root/bench/input_bench.py" "$build" "$relay_runs" "$relay_small" "$relay_large" 1
load
echo
python3 "$root/bench/link_bench.py" "$build" "$link_runs" "$relay_runs" "$link_mib" "$baseline_client"
load

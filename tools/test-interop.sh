#!/usr/bin/env bash
# Interoperability suite: the clifclient of build directory $1 against the logon and clif
# services deployed in Apache Axis 1.4 (Debian's libaxis-java, installed by tools/deps.sh), in
# Axis's three ways of writing RPC/encoded replies. Takes some seconds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
# Here a missing Axis is an error, not a reason to skip.
export VEL_REQUIRE_AXIS=1
timeout 600 python3 "$top/tests/interop/test_axis_interop.py" "$build/client/clifclient"

#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need (run as root): those of the build
# and of the ctest suite always, and those of the further suites named as arguments:
#   fuzz    clang 14 and its sanitizer runtime (tools/test-fuzz.sh)
#   static  clang 14, clang-tidy and cppcheck (tools/test-static.sh)
#   trees   debootstrap (tools/test-trees.sh)
# Prints how long the installation took.
set -euo pipefail
pkgs=(cmake g++ make pkg-config python3 openssl libssl-dev gsoap libgsoap-dev
      zlib1g-dev openjdk-17-jdk-headless googletest libgtest-dev libgmock-dev locales dpkg-dev file man-db
      libaxis-java libcap2-bin)
for suite in "$@"; do
  case $suite in
    fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    static) pkgs+=(clang-14 clang-tidy cppcheck) ;;
    trees) pkgs+=(debootstrap arch-test) ;;
    *) echo "deps.sh: unknown suite $suite (fuzz, static, trees)" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  start=$SECONDS
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
  echo "deps: ${#missing[@]} packages and what they need installed in $((SECONDS - start)) s"
fi

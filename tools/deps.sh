#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need (run as root).
set -euo pipefail
pkgs=(cmake g++ make pkg-config python3 openssl libssl-dev gsoap libgsoap-dev
      zlib1g-dev openjdk-17-jdk-headless googletest libgtest-dev libgmock-dev locales dpkg-dev man-db
      libaxis-java clang-14 libclang-rt-14-dev clang-tidy cppcheck)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

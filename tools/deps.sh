#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (run as root), those of this machine's
# Debian release (tools/releases.txt): those of the build and of the ctest suite always, and those
# of the further suites named as arguments:
#   fuzz    the release's clang and its sanitizer runtime (tools/test-fuzz.sh)
#   static  the release's clang, clang-tidy, clang-format and cppcheck (tools/test-static.sh)
#   trees   debootstrap (tools/test-trees.sh)
# The JDK is the one JAVA_HOME names when it names one of Debian's (/usr/lib/jvm/java-N-openjdk-ARCH),
# else the release's default. Prints how long the installation took.
# A package that the release does not have fails with status 1; a download that fails or a package
# system that stays locked, with status 75 and a line "infrastructure: ..." (tools/package-lock.sh).
# An index that apt-get update cannot fetch is named on such a line, and the installation goes on.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/release.sh
source "$top/tools/release.sh"
# shellcheck source=tools/package-lock.sh
source "$top/tools/package-lock.sh"

jdk=${vel_jdks[0]}
if [[ ${JAVA_HOME:-} =~ ^/usr/lib/jvm/java-([0-9]+)-openjdk-[a-z0-9]+/?$ ]]; then
  jdk=${BASH_REMATCH[1]}
fi
clang=$vel_clang
pkgs=(cmake g++ make pkg-config python3 openssl libssl-dev gsoap libgsoap-dev
      zlib1g-dev "openjdk-$jdk-jdk-headless" googletest libgtest-dev libgmock-dev locales dpkg-dev file
      man-db libaxis-java libcap2-bin)
for suite in "$@"; do
  case $suite in
    fuzz) pkgs+=("clang-$clang" "libclang-rt-$clang-dev") ;;
    static) pkgs+=("clang-$clang" "clang-tidy-$clang" "clang-format-$clang" cppcheck) ;;
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
  status=0
  with_package_lock apt-get update -qq || status=$?
  ((status != vel_infrastructure_status)) || exit $status
  # An index that could not be fetched (a mirror in the middle of a sync, a security archive out of
  # step) leaves apt with the others: the installation goes on with what apt has.
  update_failed=$status
  ((update_failed == 0)) ||
    echo "infrastructure: apt-get update did not fetch every index (see above); going on with the indexes apt has" >&2
  unknown=()
  for p in "${missing[@]}"; do
    apt-cache show "$p" > /dev/null 2>&1 || unknown+=("$p")
  done
  if ((${#unknown[@]})); then
    ((update_failed == 0)) || infrastructure_failure "no index that apt has lists ${unknown[*]}"
    echo "deps: Debian's $vel_release has no package ${unknown[*]}" >&2
    exit 1
  fi
  status=0
  with_package_lock apt-get -o DPkg::Lock::Timeout="${VEL_LOCK_WAIT:-600}" install -y -qq "${missing[@]}" ||
    status=$?
  ((status != vel_infrastructure_status)) || exit $status
  ((status == 0)) || infrastructure_failure "apt-get install failed (the archive or the network; see above)"
  echo "deps: ${#missing[@]} packages and what they need installed in $((SECONDS - start)) s"
fi

# Sourced by the scripts: this machine's Debian release (VERSION_CODENAME in /etc/os-release) and
# the versions that tools/releases.txt lists for it:
#   vel_release  the codename (bookworm, trixie)
#   vel_jdks     the OpenJDK versions of the release, an array, the default first (17; 21 25)
#   vel_clang    the clang version of the release (14; 19)
# On a release that the table does not list it says which ones it does, and fails.
vel_release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
vel_jdks=()
vel_clang=
vel_release_row=$(awk -v release="$vel_release" '$1 == release && !/^#/ { print $3, $4 }' \
  "$(dirname "${BASH_SOURCE[0]}")/releases.txt")
if [[ -z $vel_release || -z $vel_release_row ]]; then
  echo "this machine runs $(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-an unknown system}");" \
       "the project is built on the Debian releases of tools/releases.txt:" \
       "$(awk '!/^#/ && NF { printf "%s%s (%s)", sep, $2, $1; sep = ", " }' "$(dirname "${BASH_SOURCE[0]}")/releases.txt")" >&2
  return 2
fi
read -r vel_release_jdks vel_clang <<< "$vel_release_row"
IFS=, read -r -a vel_jdks <<< "$vel_release_jdks"
unset vel_release_row vel_release_jdks

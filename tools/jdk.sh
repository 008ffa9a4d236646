# Sourced by the scripts: the JDK they build and run with, JAVA_HOME if it is set, else the default
# OpenJDK of this machine's Debian release (tools/releases.txt) for its architecture.
# shellcheck source=tools/release.sh
source "$(dirname "${BASH_SOURCE[0]}")/release.sh"
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-${vel_jdks[0]}-openjdk-$(dpkg --print-architecture)}

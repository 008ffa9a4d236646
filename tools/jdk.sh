# Sourced by the scripts: the JDK they build and run with, JAVA_HOME if it is set, else Debian's
# OpenJDK 17 of this machine's architecture.
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-$(dpkg --print-architecture)}

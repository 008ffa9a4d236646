#!/usr/bin/env bash
# The main job on its embedded default: the whole system on one machine.
#
#   1. The launcher alone: an install tree is staged under a temporary VEL_BASE_DIR and
#      velversion runs through a link to vellauncher, as on the CMS itself.
#   2. End to end: the stand-in CMS serves the logon and clif services over HTTPS on 127.0.0.1
#      with a certificate made for this run; its commands directory holds velnode, a link to
#      vellauncher. The client side is a bin directory with velnode linked to clifclient and its
#      configuration (server_cert.pem, randomfile, CLIClientConfig.cfg). Running velnode there
#      logs on, runs velnode on the "CMS" through the launcher's JVM, relays piped input and shows
#      the remote output, standard error and exit status.
#   3. What a user sees: a shell command on the "CMS" that names itself and echoes the input it
#      receives, the call trace (VEL_CLIF_TRACE), and failures with the cause that the client
#      writes on standard error, then the same mistake found by clifclient --check.
#
# Usage: tools/main-job.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
launcher=$build/launcher/vellauncher
client=$build/client/clifclient
velcms=$build/tools/cms/velcms
stage=$build/stage

work=$(mktemp -d)
cms_pid=
cleanup() {
  if [[ -n $cms_pid ]]; then
    kill -TERM "$cms_pid" 2>/dev/null || true
    wait "$cms_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Runs a shown command line; its standard error is shown after its output, marked, and then
# its exit status (that of the first failing command of a pipeline).
show() {
  echo "\$ $*"
  local status=0
  bash -o pipefail -c "$*" 2> "$work/stderr" || status=$?
  sed 's/^/[stderr] /' "$work/stderr"
  echo "[exit status $status]"
  echo
}

# ---- the install tree of the CMS: stand-in Java classes in opt/vel/lib, the runtime in opt/vel/j2re
cp -a "$stage" "$work/base"
mkdir -p "$work/cms/bin" "$work/cms/commands" "$work/cms/config"
ln -s "$launcher" "$work/cms/bin/velversion"
ln -s "$launcher" "$work/cms/commands/velnode"
export VEL_BASE_DIR=$work/base

echo "=== 1. The launcher alone, on the CMS ==="
echo
show "cd '$work/cms/bin' && ./velversion -v | grep -v '^property'"

# ---- a fresh CA and server certificate for 127.0.0.1
pki=$work/pki
mkdir "$pki"
ossl() { openssl "$@" >/dev/null 2>&1; }
ossl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -keyout "$pki/ca.key" -out "$pki/ca.pem" -subj "/CN=vel demo CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
ossl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -keyout "$pki/server.key" -out "$pki/server.csr" -subj "/CN=127.0.0.1"
printf 'basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n' \
  > "$pki/server.ext"
ossl x509 -req -in "$pki/server.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -set_serial "$RANDOM$RANDOM" \
  -days 1 -extfile "$pki/server.ext" -out "$pki/server.crt"
cat "$pki/server.key" "$pki/server.crt" > "$pki/server.pem"

# ---- the stand-in CMS, on a free port; it runs commands with its own VEL_BASE_DIR and PATH
printf 'admin:secret\n' > "$work/cms/users"
"$velcms" --host 127.0.0.1 --port 0 --tls "$pki/server.pem" --users "$work/cms/users" \
  --commands "$work/cms/commands" --config-dir "$work/cms/config" --poll-ms 200 \
  > "$work/cms/url" 2> "$work/cms/velcms.err" &
cms_pid=$!
base_url=
for _ in $(seq 100); do
  base_url=$(grep -o 'https://[^ ]*' "$work/cms/url" 2>/dev/null || true)
  [[ -n $base_url ]] && break
  kill -0 "$cms_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $base_url ]]; then
  echo "the stand-in CMS did not start:" >&2
  cat "$work/cms/velcms.err" >&2
  exit 1
fi

# ---- the client side: velnode linked to clifclient, its configuration in the same bin directory
clientbin=$work/client/bin
mkdir -p "$clientbin"
ln -s "$client" "$clientbin/velnode"
cp "$pki/ca.pem" "$clientbin/server_cert.pem"
head -c 1024 /dev/urandom > "$clientbin/randomfile"
cat > "$clientbin/CLIClientConfig.cfg" <<CFG
velpimainurl=$base_url/velsoap/services/VelpiMain5_0
clifserviceurl=$base_url/jboss-net/services/clifservice
CFG

echo "=== 2. clifclient -> stand-in CMS over HTTPS ($base_url) -> launcher -> Java ==="
echo
echo "client configuration directory $clientbin:"
sed 's/^/    /' "$clientbin/CLIClientConfig.cfg"
echo
export PATH=$clientbin:$PATH
cd "$work"
show "printf 'node-a\\nnode-b\\n' | velnode --user admin --pass secret -l 'two words' | grep -v '^property'"
show "velnode --user admin --pass secret --exit=3 | grep '^arg'"
show "velnode --user admin --pass secret --throw | grep '^main'"
show "velnode --user admin --pass wrong -l"

echo "=== 3. What a user sees: the command on the CMS, the input arriving there, failures and their causes ==="
echo
cat > "$work/cms/commands/velhosts" <<'SH'
#!/bin/sh
echo "velhosts is running on the CMS, arguments: $*"
n=0
while IFS= read -r line; do
  n=$((n + 1))
  echo "the CMS received input line $n: $line"
done
echo "velhosts: $n lines of input, exit status 4" >&2
exit 4
SH
chmod +x "$work/cms/commands/velhosts"
ln -s "$client" "$clientbin/velhosts"
ln -s "$client" "$clientbin/clifclient"
show "printf 'node-a\\nnode-b\\n' | velhosts --user admin --pass secret --list 'two words'"
show "VEL_CLIF_TRACE=1 velhosts --user admin --pass secret --list < /dev/null"
show "velhosts --user admin --pass wrong --list"
# A server_cert.pem that holds another CA's certificate instead of the one that signed the CMS's.
cp "$clientbin/server_cert.pem" "$work/server_cert.pem.good"
ossl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -keyout "$pki/other.key" -out "$clientbin/server_cert.pem" -subj "/CN=some other CA"
show "velhosts --user admin --pass secret --list"
show "clifclient --check"
cp "$work/server_cert.pem.good" "$clientbin/server_cert.pem"
show "clifclient --check"

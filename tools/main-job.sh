#!/usr/bin/env bash
# The main job on its embedded default: stages an install tree under a temporary VEL_BASE_DIR
# and runs management commands through the launcher, installed as links named after them.
# Usage: tools/main-job.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
launcher=$build/launcher/vellauncher
stage=$build/stage

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The install tree: the stand-in Java command classes in opt/vel/lib, the runtime in opt/vel/j2re.
cp -a "$stage" "$work/base"
mkdir "$work/bin"
for command in velversion velnode; do
  ln -s "$launcher" "$work/bin/$command"
done
export VEL_BASE_DIR=$work/base
export PATH=$work/bin:$PATH

echo "\$ velversion -v"
velversion -v
echo
echo "\$ velnode -lt"
velnode -lt

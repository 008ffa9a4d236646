#!/bin/sh
# Usage: installed-size.sh DEB
# Sets the Installed-Size field of a built package to what its files take once installed, counted
# as dpkg-gencontrol counts them: each regular file its size in KiB rounded up, each directory and
# each symbolic link one KiB. (CPack counts a symbolic link at the size of the file it points to, so
# every command link of the product would count as a whole program.) Only the control member of the
# package is written again; its files stay as they are.
set -eu
deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

kib=$(dpkg-deb --fsys-tarfile "$deb" | tar -tv --numeric-owner | awk '
  /^-/ { kib += int(($3 + 1023) / 1024); next }
  /^h/ { next }
  { kib += 1 }
  END { print kib + 0 }')

member=$(ar t "$deb" | grep '^control\.tar')
mkdir "$work/control"
dpkg-deb --ctrl-tarfile "$deb" | tar -x -C "$work/control"
sed -i "s/^Installed-Size: .*/Installed-Size: $kib/" "$work/control/control"
grep -q "^Installed-Size: $kib\$" "$work/control/control"
tar -C "$work/control" --owner=0 --group=0 --numeric-owner --sort=name -cf "$work/control.tar" .
case $member in
  control.tar) ;;
  control.tar.gz) gzip -9n "$work/control.tar" ;;
  control.tar.xz) xz "$work/control.tar" ;;
  control.tar.zst) zstd -q --rm "$work/control.tar" ;;
  *) echo "installed-size.sh: $deb has an unknown control member $member" >&2; exit 1 ;;
esac
# ar replaces the member in its place: debian-binary, control, data stay in that order.
(cd "$work" && ar rD "$deb" "$member")

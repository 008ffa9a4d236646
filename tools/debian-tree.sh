# Sourced by tools/test-trees.sh: Debian 12 minbase trees made by debootstrap from the archive that
# this machine's apt uses, the mounts a build and test run needs inside a tree, undone on every exit,
# and commands run in a tree under its architecture's personality (linux32 for i386).
#
# Inside a mounted tree its / is a mount point of its own (a bind mount of the tree onto itself),
# so that tests can give themselves private mount namespaces; /proc, /sys, /dev, /dev/pts and a
# /dev/shm of its own are mounted. Every mount is private, so nothing propagates to the machine.

tree_suite=bookworm
tree_mounts=()

# The first archive URI of the suite in apt's own configuration: deb822 sources first, then the
# one-line form.
tree_mirror() {
  local f uri=
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -e $f ]] || continue
    uri=$(awk -v suite="$tree_suite" '
      BEGIN { RS = ""; FS = "\n" }
      {
        types = ""; uris = ""; suites = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^Types:/) types = $i
          else if ($i ~ /^URIs:/) uris = $i
          else if ($i ~ /^Suites:/) suites = $i
          else if ($i ~ /^Enabled:/) enabled = $i
        }
        if (enabled !~ /no/ && types ~ /[ \t]deb([ \t]|$)/ && (suites " ") ~ ("[ \t]" suite "[ \t]")) {
          sub(/^URIs:[ \t]*/, "", uris); split(uris, u, /[ \t]+/); print u[1]; exit
        }
      }' "$f")
    [[ -n $uri ]] && break
  done
  if [[ -z $uri ]]; then
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v suite="$tree_suite" '
      $1 == "deb" {
        i = 2
        if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        if ($(i + 1) == suite) { print $i; exit }
      }')
  fi
  [[ -n $uri ]] || { echo "no archive for $tree_suite in /etc/apt/sources.list*" >&2; return 1; }
  echo "$uri"
}

# Makes a minbase tree of ARCH in DIR (which must not exist), all or nothing.
tree_debootstrap() {
  local arch=$1 dir=$2 mirror
  mirror=$(tree_mirror) || return 1
  rm -rf --one-file-system "$dir.new"
  debootstrap --arch="$arch" --variant=minbase "$tree_suite" "$dir.new" "$mirror" > "$dir.log" 2>&1 ||
    { tail -n 30 "$dir.log" >&2; return 1; }
  mv "$dir.new" "$dir"
}

# The machine's way to the archive, for apt in the tree: its sources, the apt settings of how to
# fetch (Acquire::...), and name resolution.
tree_configure() {
  local dir=$1 f
  rm -f "$dir"/etc/apt/sources.list "$dir"/etc/apt/sources.list.d/*
  [[ -e /etc/apt/sources.list ]] && cp /etc/apt/sources.list "$dir/etc/apt/"
  for f in /etc/apt/sources.list.d/*; do [[ -e $f ]] && cp "$f" "$dir/etc/apt/sources.list.d/"; done
  for f in /etc/apt/apt.conf.d/*; do
    [[ -f $f ]] && grep -q '^[[:space:]]*Acquire' "$f" && cp "$f" "$dir/etc/apt/apt.conf.d/"
  done
  cp -L /etc/resolv.conf "$dir/etc/resolv.conf"
  cp /etc/hosts "$dir/etc/hosts"
}

# mount ARGS... MOUNT_POINT, made private at once and remembered for tree_unmount.
tree_mount_one() {
  local point=${*: -1}
  mount "$@" || return 1
  tree_mounts+=("$point")
  mount --make-private "$point"
}

tree_mount() {
  local dir=$1
  tree_unmount_below "$dir"
  tree_mount_one --bind "$dir" "$dir" &&
    tree_mount_one -t proc proc "$dir/proc" &&
    tree_mount_one -t sysfs sysfs "$dir/sys" &&
    tree_mount_one --bind /dev "$dir/dev" &&
    tree_mount_one --bind /dev/pts "$dir/dev/pts" &&
    tree_mount_one -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$dir/dev/shm"
}

# Binds a directory of the machine (made if missing) onto one of a mounted tree.
tree_bind() {
  local from=$1 to=$2
  mkdir -p "$from" "$to"
  tree_mount_one --bind "$from" "$to"
}

# Undoes this process's mounts, innermost first; a busy one is detached lazily.
tree_unmount() {
  local i
  for ((i = ${#tree_mounts[@]} - 1; i >= 0; i--)); do
    umount "${tree_mounts[i]}" 2>/dev/null || umount -l "${tree_mounts[i]}" || true
  done
  tree_mounts=()
}

# Mounts left below DIR by a run that was killed outright.
tree_unmount_below() {
  local dir=$1 point
  awk -v dir="$dir" '$5 == dir || index($5, dir "/") == 1 { print $5 }' /proc/self/mountinfo |
    sort -r | while read -r point; do umount -l "$point" || true; done
}

# Removes a tree, but never through a mount that is still there.
tree_remove() {
  local dir=$1
  if awk -v dir="$dir" '$5 == dir || index($5, dir "/") == 1 { found = 1 } END { exit !found }' \
      /proc/self/mountinfo; then
    echo "not removing $dir: something is still mounted below it" >&2
    return 1
  fi
  rm -rf --one-file-system "$dir"
}

# Undoes the mounts on every exit, including a failure and a signal.
tree_traps() {
  trap 'tree_cleanup' EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
tree_cleanup() { tree_unmount; }

# Runs a command as root in a mounted tree, from a clean environment, under the personality of the
# tree's architecture.
tree_run() {
  local arch=$1 dir=$2
  shift 2
  local personality=()
  [[ $arch == i386 ]] && personality=(linux32)
  "${personality[@]}" chroot "$dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${http_proxy:+http_proxy=$http_proxy} ${https_proxy:+https_proxy=$https_proxy} "$@"
}

# Sourced by tools/test-trees.sh: Debian minbase trees of any release and architecture, made by
# debootstrap from the archive that this machine's apt uses, the mounts a build and test run needs
# inside a tree, undone on every exit, and commands run in a tree under its architecture's
# personality (linux32 for i386).
#
# Inside a mounted tree its / is a mount point of its own (a bind mount of the tree onto itself),
# so that tests can give themselves private mount namespaces; /proc, /sys, /dev, /dev/pts and a
# /dev/shm of its own are mounted. Every mount is private, so nothing propagates to the machine.

tree_mounts=()

# The archive URI of this machine's own release in apt's configuration (deb822 sources first, then
# the one-line form): the mirror that every tree uses, whatever its release.
tree_mirror() {
  local f uri= suite
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -e $f ]] || continue
    uri=$(awk -v suite="$suite" '
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
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v suite="$suite" '
      $1 == "deb" {
        i = 2
        if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        if ($(i + 1) == suite) { print $i; exit }
      }')
  fi
  [[ -n $uri ]] || { echo "no archive for ${suite:-this release} in /etc/apt/sources.list*" >&2; return 1; }
  echo "$uri"
}

# The apt source of a tree of SUITE: the release itself, main, from the machine's mirror. A tree only
# builds and tests, so it has neither the security suite nor the updates suite: their indexes change
# between the archive's syncs, and a mirror caught in the middle of one ("File has unexpected size
# ... Mirror sync in progress?") would stop the tree's apt-get update.
tree_sources() {
  local suite=$1 mirror
  mirror=$(tree_mirror) || return 1
  echo "deb $mirror $suite main"
}

# Makes a minbase tree of SUITE and ARCH in DIR (which must not exist), all or nothing. A debootstrap
# older than the release has no script of that name; the release is then made with the script of
# unstable (sid), which serves every release since Debian 8.
tree_debootstrap() {
  local suite=$1 arch=$2 dir=$3 mirror script=()
  mirror=$(tree_mirror) || return 1
  if [[ ! -e /usr/share/debootstrap/scripts/$suite ]]; then
    echo "debootstrap has no script for $suite: making it with the script of sid"
    script=(/usr/share/debootstrap/scripts/sid)
  fi
  rm -rf --one-file-system "$dir.new"
  debootstrap --arch="$arch" --variant=minbase "$suite" "$dir.new" "$mirror" "${script[@]}" > "$dir.log" 2>&1 ||
    { tail -n 30 "$dir.log" >&2; return 1; }
  mv "$dir.new" "$dir"
}

# The tree's apt source (tree_sources) and the machine's way to the archive: the apt settings of
# how to fetch (Acquire::...), and name resolution.
tree_configure() {
  local dir=$1 suite=$2 f
  rm -f "$dir"/etc/apt/sources.list "$dir"/etc/apt/sources.list.d/*
  tree_sources "$suite" > "$dir/etc/apt/sources.list" || return 1
  for f in /etc/apt/apt.conf.d/*; do
    [[ -f $f ]] && grep -q '^[[:space:]]*Acquire' "$f" && cp "$f" "$dir/etc/apt/apt.conf.d/"
  done
  cp -L /etc/resolv.conf "$dir/etc/resolv.conf"
  cp /etc/hosts "$dir/etc/hosts"
}

# The index of SUITE for ARCH, fetched by this machine's own apt from the tree's source, with a
# state directory of its own (nothing of the machine's apt changes): shows that the source a tree
# of that architecture would get can be read, where there is no such tree to run.
tree_index_check() {
  local suite=$1 arch=$2 state
  state=$(mktemp -d)
  chmod 755 "$state"   # apt's download user writes below it
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/parts"
  touch "$state/status"
  tree_sources "$suite" > "$state/sources.list" || { rm -rf "$state"; return 1; }
  local status=0
  apt-get -q -o APT::Architecture="$arch" -o APT::Architectures::="$arch" \
    -o Dir::State="$state" -o Dir::State::Lists="$state/lists" -o Dir::State::status="$state/status" \
    -o Dir::Cache="$state/cache" -o Dir::Etc::SourceList="$state/sources.list" \
    -o Dir::Etc::SourceParts="$state/parts" -o Debug::NoLocking=true update || status=$?
  ((status)) || ls "$state/lists/" | grep -q "_binary-${arch}_Packages" || status=1
  rm -rf "$state"
  return $status
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

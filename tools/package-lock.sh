# Sourced by the scripts that install or remove Debian packages: apt-get and dpkg that wait for
# another apt or dpkg on the machine to finish (up to VEL_LOCK_WAIT seconds, default 600) instead of
# failing, and the way a failure of the machine rather than of the project ends a script: a line
# "infrastructure: ..." and exit status 75 (tools/test.sh and tools/test-trees.sh count those apart
# from test failures).
vel_infrastructure_status=75

# Ends the script as a failure that is not the project's.
infrastructure_failure() {
  echo "infrastructure: $*" >&2
  exit $vel_infrastructure_status
}

# COMMAND...: runs it, and again while it fails only because another process holds the package
# system's lock (apt's lists and archive locks, dpkg's frontend and database locks). A command
# that failed on a lock has changed nothing, so running it again is safe.
with_package_lock() {
  local limit=${VEL_LOCK_WAIT:-600} start=$SECONDS err status said=
  err=$(mktemp)
  while :; do
    status=0
    "$@" 2> "$err" || status=$?
    if ((status == 0)) || ! grep -qE 'Could not get lock|Unable to (lock|acquire)|lock was locked by|database (area )?is locked' "$err"; then
      cat "$err" >&2
      rm -f "$err"
      return $status
    fi
    if ((SECONDS - start >= limit)); then
      cat "$err" >&2
      rm -f "$err"
      echo "infrastructure: another process held the package system's lock for ${limit} s" >&2
      return $vel_infrastructure_status
    fi
    [[ -n $said ]] || echo "waiting for another apt or dpkg to finish: $(grep -m1 -iE 'lock' "$err")" >&2
    said=1
    sleep 5
  done
}

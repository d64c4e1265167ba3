#!/usr/bin/env bash
# Runs a test executable as an ordinary user (nobody), so that permission faults cannot hide
# behind root, which may read, write and remove everything. The tests run as root in CI.
#
#   run-unprivileged.sh <test executable> [arguments...]
#
# Exits 77 (reported as skipped) when not started as root: the ordinary run is unprivileged then.
set -euo pipefail

executable=$1
shift
uid=65534
gid=65534

if [[ $(id -u) -ne 0 ]]; then
  echo "not running as root: the suite's own run is already unprivileged"
  exit 77
fi
command -v setpriv >/dev/null || { echo "setpriv (util-linux) is missing" >&2; exit 1; }
as_user=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
if [[ $("${as_user[@]}" id -u) != "$uid" ]]; then
  echo "could not become user $uid" >&2
  exit 1
fi

# A fresh place of the user's own: a copy of the executable (the build tree may not be readable
# for that user), a home and a temporary folder. Removed as root afterwards, whatever the tests
# left in it (read-only folders included).
place=$(mktemp -d /tmp/quillbarrow-unprivileged.XXXXXX)
trap 'rm -rf "$place"' EXIT
chmod 0755 "$place"
install -m 0755 "$executable" "$place/"
mkdir -m 0700 "$place/home" "$place/tmp"
chown "$uid:$gid" "$place/home" "$place/tmp"

# Stay in the suite's working folder when that user may enter it.
if ! "${as_user[@]}" test -r . -a -x .; then
  cd "$place/home"
fi

status=0
HOME="$place/home" TMPDIR="$place/tmp" XDG_RUNTIME_DIR="$place/tmp" XDG_CACHE_HOME="$place/home/.cache" \
  XDG_CONFIG_HOME="$place/home/.config" \
  "${as_user[@]}" "$place/$(basename "$executable")" "$@" || status=$?
exit "$status"

#!/usr/bin/env bash
# Runs a test executable with a disk that ignores letter case, as exFAT and FAT sticks and SD
# cards do: a small exFAT image on a loop device, mounted through FUSE for the run only, and
# named to the tests in QUILLBARROW_CASE_FOLDING_FOLDER.
#
#   run-on-case-folding-disk.sh <test executable> [arguments...]
#
# Exits 77 (reported as skipped) when this machine cannot mount one: not root, no FUSE, or no
# exFAT tools (`scripts/setup.sh e2e` installs them).
set -euo pipefail

executable=$1
shift

skip() {
  echo "no disk that ignores case can be mounted here: $1"
  exit 77
}
[[ $(id -u) -eq 0 ]] || skip "mounting needs root"
[[ -e /dev/fuse ]] || skip "/dev/fuse is missing"
for tool in mkfs.exfat mount.exfat-fuse losetup; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup.sh e2e installs it)"
done

place=$(mktemp -d /tmp/quillbarrow-casefold.XXXXXX)
device=""
cleanup() {
  if mountpoint -q "$place/disk" 2>/dev/null; then
    umount "$place/disk" || umount -l "$place/disk" || true
  fi
  if [[ -n $device ]]; then
    losetup -d "$device" || true
  fi
  rm -rf "$place"
}
trap cleanup EXIT

truncate -s 32M "$place/disk.img"
mkfs.exfat "$place/disk.img" >/dev/null
device=$(losetup -f --show "$place/disk.img") || skip "no loop device could be set up"
mkdir "$place/disk"
mount.exfat-fuse "$device" "$place/disk" >/dev/null 2>&1 || skip "the exFAT disk could not be mounted"
# Make sure it is the kind of disk the tests need.
touch "$place/disk/probe"
[[ -e "$place/disk/PROBE" ]] || { echo "the mounted disk tells letter case apart" >&2; exit 1; }
rm "$place/disk/probe"

status=0
QUILLBARROW_CASE_FOLDING_FOLDER="$place/disk" "$executable" "$@" || status=$?
exit "$status"

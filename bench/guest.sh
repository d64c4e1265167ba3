#!/usr/bin/env bash
# Runs benchmark steps inside the emulated-device guest (started through
# scripts/e2e/run-in-guest.sh, which sets QUILLBARROW_E2E_SHARE and QUILLBARROW_E2E_RESPONDER).
#
#   bench/guest.sh BIN_DIR STEP [, STEP ...]
#
# BIN_DIR holds quillbarrow_bench and quillbarrow_bench_libmtp. Steps, separated by a lone ",":
#   make-file PATH BYTES     a file of random bytes at PATH in the served folder, unless it exists
#   make-folder PATH COUNT   a folder of COUNT empty files, unless it exists. With uMTP-Responder it
#                            lives in the guest's memory and is mounted into the served folder:
#                            the responder reads the served folder through 9p, so slowly that
#                            listing a folder of 8,000 files there outlasts libmtp's time limit.
#   make-photos PATH COUNT   a folder of COUNT files of 20 to 200 KB (quillbarrow_bench make-photos),
#                            unless it exists; with uMTP-Responder in the guest's memory, as above
#                            (the folder only: uploads into such a folder fail there, see below)
#   run ARGS...              quillbarrow_bench ARGS...; it must succeed and print a table row
# Exits with the first failing step's status.
set -euo pipefail

[ $# -ge 2 ] || { sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0" >&2; exit 2; }
bin=$1
shift
share=${QUILLBARROW_E2E_SHARE:?run me through scripts/e2e/run-in-guest.sh}
responder=${QUILLBARROW_E2E_RESPONDER:?run me through scripts/e2e/run-in-guest.sh}
# The computer's side of every transfer (downloads, sources of uploads, the state folder where the
# interrupted-upload log lives) is a memory file system of its own. The guest's home lies on the
# host's root, shared through 9p, where every file operation is a round trip to the host; and its
# /tmp is the root's overlay, where making or renaming a file goes through the overlay's own
# layers first (0.3 ms a call in the guest): a computer's own disk does neither, and a download's
# hidden staging file and its rename made each file dearer there than plain libmtp's one file.
local_root=/tmp/quillbarrow-bench-local
if ! mountpoint -q "$local_root"; then
  mkdir -p "$local_root"
  mount -t tmpfs -o mode=1777 tmpfs "$local_root"
fi
export TMPDIR=$local_root
export XDG_STATE_HOME=$local_root/state

make_file() {
  local path=$share/$1 bytes=$2
  [ -e "$path" ] && return 0
  mkdir -p "$(dirname "$path")"
  head -c "$bytes" /dev/urandom >"$path.part"
  mv "$path.part" "$path"
}

make_folder() {
  local path=$share/$1 count=$2 folder
  [ -e "$path" ] && return 0
  if [ "$responder" = umtp ]; then
    folder=/tmp/quillbarrow-bench-folders/$1
    mkdir -p "$folder" "$path"
  else
    folder=$path
    mkdir -p "$folder"
  fi
  (cd "$folder" && for i in $(seq -w 1 "$count"); do : >"file-$i.txt"; done)
  if [ "$responder" = umtp ]; then
    mount --bind "$folder" "$path"
  fi
}

make_photos() {
  local path=$share/$1 count=$2 folder
  [ -e "$path" ] && return 0
  if [ "$responder" = umtp ]; then
    # Only the folder itself: the uploads beside it go to the shared folder. uMTP-Responder never
    # answers the request for a new object's details when the object was written into a folder
    # mounted there from the guest's memory, so every upload into one (plain libmtp's as well)
    # waited 60 s for that answer and failed.
    folder=/tmp/quillbarrow-bench-folders/$1
    mkdir -p "$folder" "$path"
    mount --bind "$folder" "$path"
  fi
  "$bin/quillbarrow_bench" make-photos "$path" "$count"
}

run_bench() {
  local output status=0
  output=$(mktemp)
  # libmtp names the device on stderr at every open; that is noise here.
  set +o pipefail
  "$bin/quillbarrow_bench" "$@" 2>&1 | grep --line-buffered -v 'is a QEMU Virtual MTP\|UNKNOWN in libmtp\|Please report this VID' |
    tee "$output"
  status=${PIPESTATUS[0]}
  set -o pipefail
  if [ "$status" -eq 0 ] && ! grep -q "^| $responder | " "$output"; then
    echo "guest.sh: quillbarrow_bench $* printed no table" >&2
    status=1
  fi
  rm -f "$output"
  return "$status"
}

step=()
run_step() {
  [ ${#step[@]} -gt 0 ] || return 0
  case "${step[0]}" in
    make-file) [ ${#step[@]} -eq 3 ] || { echo "guest.sh: make-file PATH BYTES" >&2; exit 2; }; make_file "${step[1]}" "${step[2]}" ;;
    make-folder) [ ${#step[@]} -eq 3 ] || { echo "guest.sh: make-folder PATH COUNT" >&2; exit 2; }; make_folder "${step[1]}" "${step[2]}" ;;
    make-photos) [ ${#step[@]} -eq 3 ] || { echo "guest.sh: make-photos PATH COUNT" >&2; exit 2; }; make_photos "${step[1]}" "${step[2]}" ;;
    run) run_bench "${step[@]:1}" ;;
    *) echo "guest.sh: unknown step '${step[0]}'" >&2; exit 2 ;;
  esac
  step=()
}

for argument in "$@"; do
  if [ "$argument" = , ]; then
    run_step
  else
    step+=("$argument")
  fi
done
run_step

#!/usr/bin/env bash
# Builds the release configuration, runs the benchmarks inside the emulated-device guest for each
# responder and prints one table of the figures, each beside libmtp's own tools and plain libmtp
# calls on the same responder in the same guest. Needs root (the guest); about 15 minutes for
# both responders at the default sizes.
#
#   bench/run.sh [options]
#
#   --responders LIST   which responders, space-separated (default "qemu umtp")
#   --size-mb N         the transferred file (default 100)
#   --memory-size-mb N  the smaller file of the memory comparison (default 10)
#   --rounds N          rounds of the transfers (default 3)
#   --objects N         objects in the listed folder (default 10000)
#   --list-rounds N     rounds of the listing (default 3)
#   --uploads N         files of 1 MB sent into the listed folder (default 5; 0 for none). QEMU's
#                       device only: uMTP-Responder fails an upload into a folder of 10,000
#                       objects for plain libmtp too (the read of the new object's metadata ends
#                       in a PTP I/O error after 40 s, and the device answers nothing more).
#   --no-mtp-files      skip the one run of mtp-files over the device with the big folder
#   --photos N          files of 20 to 200 KB pasted each way (default 2000)
#   --photo-rounds N    rounds of the photo pastes (default 3)
#   --downloads-only    the transfers of the file one way only: downloads
#   --workloads LIST    which workloads, space-separated (default "transfers listing photos")
#
# Each responder gets two guests: one whose device serves only the transferred files (libmtp's
# tools list the whole device before every transfer, so a big folder would swamp their times),
# then one with the big folder. Every guest's full output is kept in the log folder printed at
# the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

responders="qemu umtp"
size_mb=100
memory_size_mb=10
rounds=3
objects=10000
list_rounds=3
uploads=5
mtp_files=--mtp-files
photos=2000
photo_rounds=3
downloads_only=
workloads="transfers listing photos"

usage() {
  sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0" >&2
  exit 2
}
number() { [[ "$2" =~ ^[0-9]+$ ]] || { echo "run.sh: $1 needs a whole number, not '$2'" >&2; exit 2; }; }

while [ $# -gt 0 ]; do
  case "$1" in
    --responders) responders=$2; shift 2 ;;
    --size-mb) number "$1" "$2"; size_mb=$2; shift 2 ;;
    --memory-size-mb) number "$1" "$2"; memory_size_mb=$2; shift 2 ;;
    --rounds) number "$1" "$2"; rounds=$2; shift 2 ;;
    --objects) number "$1" "$2"; objects=$2; shift 2 ;;
    --list-rounds) number "$1" "$2"; list_rounds=$2; shift 2 ;;
    --uploads) number "$1" "$2"; uploads=$2; shift 2 ;;
    --no-mtp-files) mtp_files=; shift ;;
    --photos) number "$1" "$2"; photos=$2; shift 2 ;;
    --photo-rounds) number "$1" "$2"; photo_rounds=$2; shift 2 ;;
    --downloads-only) downloads_only=--downloads-only; shift ;;
    --workloads) workloads=$2; shift 2 ;;
    -h | --help) usage ;;
    *) echo "run.sh: unknown option '$1'" >&2; usage ;;
  esac
done
for responder in $responders; do
  case "$responder" in qemu | umtp) ;; *) echo "run.sh: unknown responder '$responder'" >&2; exit 2 ;; esac
done

bash scripts/setup.sh e2e
cmake --preset release >/dev/null
cmake --build --preset release --target quillbarrow_bench quillbarrow_bench_libmtp
bin=$root/build/release/bench
logs=$(mktemp -d /tmp/quillbarrow-bench-logs.XXXXXX)
shares=()
trap 'rm -rf "${shares[@]}"' EXIT

new_share() {
  share=$(mktemp -d /tmp/quillbarrow-bench-share.XXXXXX)
  shares+=("$share")
}

# The guest's files live in its memory, on a file system that may take half of it: the source
# copy and one download of the transferred file must fit there at once, beside the programs.
guest_memory=$((4 * size_mb + 1024))
[ "$guest_memory" -ge 2048 ] || guest_memory=2048
# Each round moves the file about four times each way at some 10 MB/s on the slower responder.
timeout=$((3600 + rounds * size_mb))

in_guest() {
  local responder=$1 log=$2
  shift 2
  echo "== $responder: $log"
  # Two guest CPUs for uMTP-Responder, which runs in the guest beside the benchmark.
  bash scripts/e2e/run-in-guest.sh --responder "$responder" --memory "$guest_memory" --share "$share" \
    --timeout "$timeout" \
    -- bash "$root/bench/guest.sh" "$bin" "$@" 2>&1 | tee "$logs/$responder-$log.log"
  return "${PIPESTATUS[0]}"
}

started=$(date +%s)
wants() { [[ " $workloads " == *" $1 "* ]]; }

for responder in $responders; do
  if wants transfers; then
    new_share
    mkdir -p "$share/bench"
    head -c $((size_mb * 1000000)) /dev/urandom >"$share/bench/big.bin"
    head -c $((memory_size_mb * 1000000)) /dev/urandom >"$share/bench/small.bin"
    memory=(, run memory bench/small.bin , run memory bench/big.bin)
    [ -z "$downloads_only" ] || memory=()
    in_guest "$responder" transfers \
      run transfers bench/big.bin --rounds "$rounds" $downloads_only "${memory[@]}"
    rm -rf "$share"
  fi

  if wants photos; then
    new_share
    in_guest "$responder" photos \
      make-photos bench/photos "$photos" , run photos bench/photos --rounds "$photo_rounds"
    rm -rf "$share"
  fi

  wants listing || continue
  new_share
  folder=folder-$objects
  if [ "$responder" = qemu ]; then
    # QEMU's device reads the host's folder itself: making it here is quickest.
    mkdir "$share/$folder"
    (cd "$share/$folder" && seq -f "file-%05g.txt" 1 "$objects" | xargs touch)
  fi
  extra=()
  [ "$uploads" -eq 0 ] || [ "$responder" = umtp ] || extra+=(--uploads "$uploads")
  [ -z "$mtp_files" ] || extra+=("$mtp_files")
  in_guest "$responder" listing \
    make-folder "$folder" "$objects" , run listing "$folder" --rounds "$list_rounds" "${extra[@]}"
  rm -rf "$share"
done

echo
echo "All figures ($(($(date +%s) - started)) s; logs in $logs):"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); guest under" \
  "QEMU $(qemu-system-x86_64 --version | head -n 1 | awk '{print $4}') TCG (1 guest CPU with qemu, 2 with umtp)"
echo
echo "| responder | measurement | ours | libmtp's tool | ours vs tool | plain libmtp | ours vs plain |"
echo "|---|---|---|---|---|---|---|"
for responder in $responders; do
  for log in transfers listing; do
    [ -f "$logs/$responder-$log.log" ] && grep -h "^| $responder |" "$logs/$responder-$log.log" || true
  done
done
if wants photos; then
  echo
  for responder in $responders; do
    grep -h "^| responder | paste\|^|---|---|---|---|---|$\|^| $responder | \(up\|down\)load (coordinator)" \
      "$logs/$responder-photos.log" || true
  done
fi

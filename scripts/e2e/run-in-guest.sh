#!/usr/bin/env bash
# Runs a host-built program inside a throw-away QEMU guest that has a real MTP device attached,
# streams the program's output live and exits with the program's exit code.
#
#   scripts/e2e/run-in-guest.sh [options] -- PROGRAM [ARGS...]
#
#   --responder qemu|umtp  the MTP device (default qemu):
#                            qemu  QEMU's usb-mtp device on an xHCI bus, serving the shared folder
#                                  read-write (46f4:0004 "QEMU: Virtual MTP");
#                            umtp  uMTP-Responder inside the guest on dummy_hcd and a FunctionFS
#                                  gadget, serving the shared folder (1d6b:0100; libmtp treats it
#                                  like an Android phone).
#   --share DIR            the folder the device serves (default: a new empty folder, removed
#                          afterwards). The guest sees it read-write at the same path.
#   --run-dir DIR          the run folder, shared read-write at the same path, for results
#                          (default: a new folder, removed afterwards; a given one is kept).
#   --timeout SECONDS      the guest is killed by its pid after this long (default 600); exit 124.
#   --cwd DIR              working folder of PROGRAM in the guest (default: the current one).
#   --env NAME=VALUE       set a variable for PROGRAM (repeatable). These are passed through
#                          unasked: QUILLBARROW_*, GTEST_*, QT_*, LIBMTP_*, LIBUSB_*, ASAN_OPTIONS,
#                          UBSAN_OPTIONS, LSAN_OPTIONS.
#   --memory MB, --cpus N  guest size (default 1024 MB; 1 CPU with qemu, 2 with umtp, where the
#                          responder shares the guest with PROGRAM). With qemu, QEMU's main loop
#                          and every emulated CPU run on one host CPU, the main loop at a
#                          real-time priority (see "Placement" below): more CPUs add nothing.
#   --storage-name NAME    the storage's description on the device (default "Shared").
#   --skip-code N          exit with N (instead of 125) when this machine cannot run guests: not
#                          root, or scripts/e2e/setup.sh fails (the runner calls it when the
#                          guest is missing or was built from other sources).
#   --verbose              also print the guest's console and the timings.
#
# PROGRAM runs as root in a chroot whose root is the host's root (read-only 9p) under a tmpfs
# overlay: anything built on the host runs unchanged, linked to the same libraries. Writes outside
# the shared and run folders vanish with the guest; its /run starts empty. It has no network.
# udev's daemon runs, so libusb sees devices leave and arrive. Its stdout and stderr arrive
# together through the guest's second serial port. It finds in its environment:
#   QUILLBARROW_E2E=1, QUILLBARROW_E2E_RESPONDER (qemu|umtp), QUILLBARROW_E2E_SHARE (the served
#   folder), QUILLBARROW_E2E_RUN_DIR, QUILLBARROW_E2E_REQUESTS (see below).
#
# Unplugging and plugging the device from inside the guest (e.g. in the middle of a transfer):
# create a file named after the action in $QUILLBARROW_E2E_REQUESTS, then wait for "<action>.done"
# to appear there; its first line is "ok" or "error: <why>". Remove the .done file before asking
# for the same action again.
#   unplug  qemu: the guest resets the usb-mtp device (see "Unplugging QEMU's device" below),
#                 then the host runs device_del on it through QEMU's monitor and answers once
#                 QEMU reports the device deleted (surprise removal, as a cable pull);
#           umtp: the guest unbinds the gadget from its controller (the device leaves the bus)
#                 and stops uMTP-Responder.
#   plug    brings the same device back (qemu: device_add; umtp: a fresh uMTP-Responder and the
#           gadget bound again). Object handles may differ afterwards: find objects by name.
#   hmp     any QEMU monitor command: write the command line to another name, then rename it to
#           "hmp"; "hmp.done" holds "ok" and then the command's output. E.g. "info usb".
# Requests are noticed within about 50 ms (qemu) or 100 ms (umtp). Example, in C:
#   snprintf(p, sizeof p, "%s/unplug", getenv("QUILLBARROW_E2E_REQUESTS")); fclose(fopen(p, "w"));
#   then poll for access("<requests>/unplug.done", F_OK) == 0.
# From the host, the monitor is also open while the guest runs: QMP at <private>/qmp.sock and
# the human monitor at <private>/monitor.sock (printed with --verbose); see qmp-request.pl.
#
# Exit codes: PROGRAM's own; 124 when the timeout killed the guest; 125 when the guest failed
# before or around PROGRAM (the reason and the guest's console are printed); or --skip-code.
# Guests are independent: any number may run at once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"

responder=qemu
share=
run_dir=
timeout=600
cwd=$PWD
memory=1024
cpus=
storage_name=Shared
skip_code=125
verbose=no
extra_env=()

usage() {
  sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --responder) responder=$2; shift 2 ;;
    --share) share=$2; shift 2 ;;
    --run-dir) run_dir=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --cwd) cwd=$2; shift 2 ;;
    --env) extra_env+=("$2"); shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --cpus) cpus=$2; shift 2 ;;
    --storage-name) storage_name=$2; shift 2 ;;
    --skip-code) skip_code=$2; shift 2 ;;
    --verbose) verbose=yes; shift ;;
    --) shift; break ;;
    -h | --help) usage ;;
    *) echo "run-in-guest: unknown option '$1'" >&2; usage ;;
  esac
done
[ $# -gt 0 ] || usage
case "$responder" in qemu | umtp) ;; *) echo "run-in-guest: unknown responder '$responder'" >&2; exit 2 ;; esac
[ -n "$cpus" ] || { [ "$responder" = qemu ] && cpus=1 || cpus=2; }
[[ "$timeout" =~ ^[0-9]+$ ]] || { echo "run-in-guest: --timeout needs whole seconds" >&2; exit 2; }
for assignment in "${extra_env[@]}"; do
  [[ "$assignment" =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || { echo "run-in-guest: --env needs NAME=VALUE, not '$assignment'" >&2; exit 2; }
done

say() { echo "run-in-guest: $*" >&2; }

# This machine's ability to run a guest at all; anything missing here is not a test failure.
cannot_run() {
  say "cannot run the guest here: $*"
  exit "$skip_code"
}

# Prints what keeps the guest from booting, or nothing when it is ready.
unready() {
  local cache=$qb_e2e_cache_root/current file
  command -v qemu-system-x86_64 >/dev/null || { echo "qemu-system-x86_64 is missing"; return; }
  [ "$responder" = qemu ] || command -v umtprd >/dev/null || { echo "umtprd is missing"; return; }
  for file in kernel initramfs.cpio locale-shim.so stamp modules.list udev/udevadm; do
    [ -e "$cache/$file" ] || { echo "the guest cache has no $file"; return; }
  done
  [ "$(cat "$cache/stamp")" = "$(qb_e2e_guest_stamp "$cache/modules.list")" ] ||
    echo "the guest cache was built from other sources"
}

[ "$(id -u)" -eq 0 ] || cannot_run "the emulated-device runs need root"
problem=$(unready)
if [ -n "$problem" ] && [ -z "${QUILLBARROW_E2E_IN_SETUP:-}" ]; then
  say "$problem: running scripts/e2e/setup.sh"
  QUILLBARROW_E2E_IN_SETUP=1 bash "$here/setup.sh" >&2 || cannot_run "scripts/e2e/setup.sh failed"
  problem=$(unready)
fi
[ -z "$problem" ] || cannot_run "$problem"
qemu=$(command -v qemu-system-x86_64)
cache=$(readlink -f "$qb_e2e_cache_root/current")

# Private, host-only files: monitor sockets (short paths: a socket path has 107 bytes at most),
# the serial logs.
private=$(mktemp -d /tmp/qb-e2e.XXXXXX)
remove_after=("$private")
qemu_pid=
tail_pid=

cleanup() {
  if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill -KILL "$qemu_pid" 2>/dev/null || true
  fi
  if [ -n "$tail_pid" ] && kill -0 "$tail_pid" 2>/dev/null; then
    kill "$tail_pid" 2>/dev/null || true
  fi
  rm -rf "${remove_after[@]}"
}
trap cleanup EXIT
trap 'say "interrupted"; exit 130' INT
trap 'say "terminated"; exit 143' TERM HUP

if [ -z "$share" ]; then
  share=$(mktemp -d /tmp/qb-e2e-share.XXXXXX)
  remove_after+=("$share")
fi
if [ -z "$run_dir" ]; then
  run_dir=$(mktemp -d /tmp/qb-e2e-run.XXXXXX)
  remove_after+=("$run_dir")
fi
mkdir -p "$share" "$run_dir"
share=$(cd "$share" && pwd -P)
run_dir=$(cd "$run_dir" && pwd -P)
[ "$share" != "$run_dir" ] || { say "the shared folder and the run folder must differ"; exit 2; }
guest="$run_dir/guest"
requests="$run_dir/requests"
rm -rf "$guest" "$requests"
mkdir -p "$guest" "$requests"

# What the guest's /init needs to know (sourced by busybox sh there).
{
  printf 'QB_RESPONDER=%q\n' "$responder"
  printf 'QB_SHARE=%q\n' "$share"
  printf 'QB_RUN=%q\n' "$run_dir"
  printf 'QB_STORAGE_NAME=%q\n' "${storage_name//\"/}"
  printf 'QB_SERIAL=%q\n' "QB$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
  printf 'QB_USB_WAIT=%q\n' 60
  printf 'QB_UDEV=%q\n' "$(readlink -f "$cache/udev")"
} >"$guest/job.env"

# The job itself, run by the host's bash inside the guest's chroot with an empty environment.
{
  echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM=dumb'
  while IFS= read -r name; do
    case "$name" in
      QUILLBARROW_* | GTEST_* | QT_* | LIBMTP_* | LIBUSB_* | ASAN_OPTIONS | UBSAN_OPTIONS | LSAN_OPTIONS)
        printf 'export %s=%q\n' "$name" "${!name}" ;;
    esac
  done < <(compgen -e)
  for assignment in "${extra_env[@]}"; do
    printf 'export %s=%q\n' "${assignment%%=*}" "${assignment#*=}"
  done
  printf 'export QUILLBARROW_E2E=1 QUILLBARROW_E2E_RESPONDER=%q QUILLBARROW_E2E_SHARE=%q QUILLBARROW_E2E_RUN_DIR=%q QUILLBARROW_E2E_REQUESTS=%q\n' \
    "$responder" "$share" "$run_dir" "$requests"
  printf 'cd -- %q 2>/dev/null || cd /\n' "$cwd"
  printf ': >%q\n' "$guest/started"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$guest/job.sh"

# QEMU's option syntax doubles a comma inside a value.
opt() { printf '%s' "${1//,/,,}"; }

# Under software emulation the guest's time-stamp counter is the host's. A guest that measures
# its frequency itself while the host is busy can get it wrong by a factor of two (a run once
# counted 451 s of test time in 190 s), and then its clock, and every time limit of the program,
# runs that much fast. So the host measures it (tsc-khz.c, built once into the cache) and the
# guest's kernel is told; it only refines the figure within 1 %.
host_tsc_khz() {
  local program
  program="$qb_e2e_cache_root/tsc-khz.$(sha256sum <"$here/tsc-khz.c" | cut -c1-16)"
  if [ ! -x "$program" ]; then
    gcc -O2 -o "$program.$$" "$here/tsc-khz.c" && mv "$program.$$" "$program" || return 1
  fi
  "$program"
}
clock=
if tsc_khz=$(host_tsc_khz 2>/dev/null) && [[ "$tsc_khz" =~ ^[1-9][0-9]+$ ]]; then
  clock=" tsc_early_khz=$tsc_khz"
else
  say "cannot measure the host's time-stamp counter: the guest measures it itself"
fi

kernel=$(readlink -f "$cache/kernel")
# No AES instructions: QEMU 7.2's emulation of them gives wrong results, and Qt's string hash,
# which uses them where the processor has them, then puts almost every string in one bucket:
# every QHash and QSet keyed by strings (the transfer engine's paths and names) became a list in
# the guest, a paste of 2,000 files spending seconds on its lookups. Without them Qt hashes in
# plain code, as on a processor that lacks them.
args=(
  -S -name quillbarrow-e2e,debug-threads=on -machine q35 -nodefaults -no-user-config -display none -no-reboot -nic none
  -accel tcg,thread=multi -cpu max,-aes -smp "$cpus" -m "$memory"
  -kernel "$kernel" -initrd "$cache/initramfs.cpio"
  -append "console=ttyS0 mitigations=off tsc=reliable no_timer_check${clock} panic=-1 quillbarrow.responder=$responder"
  -chardev "file,id=console,path=$(opt "$private/console.log")" -device isa-serial,chardev=console
  -chardev "file,id=output,path=$(opt "$private/output.log"),append=on" -device isa-serial,chardev=output
  -qmp "unix:$(opt "$private/qmp.sock"),server=on,wait=off"
  -monitor "unix:$(opt "$private/monitor.sock"),server=on,wait=off"
  -fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap"
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot
  -fsdev "local,id=run,path=$(opt "$run_dir"),security_model=passthrough,multidevs=remap"
  -device virtio-9p-pci,fsdev=run,mount_tag=run
  -fsdev "local,id=share,path=$(opt "$share"),security_model=passthrough,multidevs=remap"
  -device virtio-9p-pci,fsdev=share,mount_tag=share
)
if [ "$responder" = qemu ]; then
  args+=(-device qemu-xhci,id=xhci
    -device "usb-mtp,id=mtp,bus=xhci.0,rootdir=$(opt "$share"),readonly=off,desc=$(opt "$storage_name")")
fi

: >"$private/output.log"
started=$(date +%s.%N)
# QEMU dies with this script (pdeathsig), so a killed runner leaves no guest behind.
LD_PRELOAD="$cache/locale-shim.so" setpriv --pdeathsig KILL -- "$qemu" "${args[@]}" \
  </dev/null >"$private/qemu.log" 2>&1 &
qemu_pid=$!
tail -q -n +1 -f -s 0.1 --pid="$qemu_pid" "$private/output.log" &
tail_pid=$!

# QEMU's usb-mtp device answers the creation of an object (a folder at once, a file when its
# data arrives) before it knows the object: it takes in its own new objects only when QEMU's main
# loop reads the inotify events of the served folder. Until then it refuses every request that
# names the object, which libmtp reports as 0x02FE (an error where data was expected), and it
# hands the next new object the number it promised this one. libmtp asks about every object it
# has just created, so on a busy host, where the main loop waits for a turn while the emulated
# CPU goes on, uploads and new folders failed. Placement takes the race away: the main loop and
# the emulated CPUs share one host CPU, and the main loop has a real-time priority, so the moment
# the device's mkdir or open makes an event readable the main loop preempts the emulated CPU,
# which runs no further guest instruction until the loop has taken the object in. The threads
# the main loop starts later (QEMU's I/O workers) keep the normal priority; the CPU is chosen
# among those this runner may use. uMTP-Responder keeps its own objects: nothing to place.
# Both responders' guests also get a better share of a busy host than its ordinary processes:
# the emulated CPUs and the main loop (which serves the guest's 9p shares) run at nice -10.
# libmtp gives a device 300 ms to answer the cancel of a transfer and the status request after
# it; uMTP-Responder answers from inside the guest, and a guest slowed down by the host's load
# missed that and dropped off the bus. A machine that refuses either (no CAP_SYS_NICE) fails the
# run with the reason.
guest_nice=-10

# The host CPUs this runner may use, one per line.
allowed_cpus() {
  local list range ranges
  list=$(awk '/^Cpus_allowed_list:/ { print $2 }' /proc/self/status)
  IFS=, read -ra ranges <<<"$list"
  for range in "${ranges[@]}"; do
    seq "${range%-*}" "${range#*-}"
  done
}

# The threads of QEMU's emulated CPUs, one per line.
cpu_threads() {
  # The monitor answers once the machine exists; "info cpus" names each emulated CPU's thread.
  perl "$here/qmp-request.pl" "$private/qmp.sock" hmp "info cpus" 2>&1 |
    sed -n 's/.*thread_id=\([0-9][0-9]*\).*/\1/p'
}

# Places QEMU's threads as described above; prints why it cannot.
place_qemu_threads() {
  local cpus cpu threads tid reason
  threads=$(cpu_threads) || true
  [ -n "$threads" ] || { echo "QEMU's monitor does not name the emulated CPUs' threads"; return; }
  for tid in "$qemu_pid" $threads; do
    renice -n "$guest_nice" -p "$tid" >/dev/null 2>&1 || { echo "cannot renice thread $tid to $guest_nice"; return; }
  done
  [ "$responder" = qemu ] || return 0
  mapfile -t cpus < <(allowed_cpus)
  cpu=${cpus[$((qemu_pid % ${#cpus[@]}))]}
  for tid in "$qemu_pid" $threads; do
    taskset -p -c "$cpu" "$tid" >/dev/null 2>&1 || { echo "cannot move thread $tid to host CPU $cpu"; return; }
  done
  if ! reason=$(chrt --fifo --reset-on-fork -p 1 "$qemu_pid" 2>&1); then
    echo "cannot give QEMU's main loop a real-time priority: $reason"
    return
  fi
  [ "$verbose" = no ] || say "QEMU's main loop (real-time) and emulated CPUs on host CPU $cpu"
}

# QEMU starts paused: the threads are placed before the guest runs.
for _ in $(seq 500); do
  [ -S "$private/qmp.sock" ] && break
  kill -0 "$qemu_pid" 2>/dev/null || break
  sleep 0.02
done
start_error=
if kill -0 "$qemu_pid" 2>/dev/null; then
  start_error=$(place_qemu_threads)
fi
if [ -z "$start_error" ] && ! start_error=$(perl "$here/qmp-request.pl" "$private/qmp.sock" hmp cont 2>&1); then
  start_error="cannot start the guest's CPUs through QEMU's monitor: $start_error"
fi
if [ -n "$start_error" ] && kill -0 "$qemu_pid" 2>/dev/null; then
  say "$start_error"
  kill -KILL "$qemu_pid" 2>/dev/null || true
fi
[ "$verbose" = no ] || say "guest pid $qemu_pid, QMP $private/qmp.sock, monitor $private/monitor.sock"

# Serves the program's requests that only the host can carry out: the request `name`, asked
# for by the file `file` (by default named after it), answered in "<name>.done".
serve_request() {
  local name=$1 file=${2:-$requests/$1} result
  local request=(perl "$here/qmp-request.pl" "$private/qmp.sock" "$name")
  case "$name" in
    plug) request+=("$share" "$storage_name") ;;
    hmp) request+=("$(cat "$file")") ;;
  esac
  # The helper prints "ok" or the command's output, or "error: ..." when QEMU refuses.
  if result=$("${request[@]}" 2>&1); then
    [ "$name" != hmp ] || result=$(printf 'ok\n%s' "$result")
  else
    case "$result" in error:*) ;; *) result="error: $result" ;; esac
  fi
  [ "$verbose" = no ] || say "request $name: $(head -n 1 <<<"$result")"
  rm -f "$file"
  printf '%s\n' "$result" >"$requests/$name.done.tmp"
  mv "$requests/$name.done.tmp" "$requests/$name.done"
}

# Unplugging QEMU's device: QEMU 7.2's usb-mtp device does nothing when it is deleted while a
# session is open (the unplug tests pull it in the middle of a transfer). Its inotify watches on
# the served folders stay registered, with callbacks into the freed device, and when anything
# later changes one of those folders (the device plugged in next writing there) QEMU reads freed
# memory and now and then crashes (exit status 139). The device drops its watches and its session
# when it is reset, so the guest resets it through usbfs (usb-reset.c, in the initramfs) and then
# hands the request on as "unplug.reset", which the host serves by deleting the device. To the
# program the device is gone either way: its next transfer fails as after a cable pull.
#
# The loop that serves requests runs ahead of ordinary work too, so that a test waiting for an
# answer is not kept waiting by the host's load.
renice -n "$guest_nice" -p $$ >/dev/null 2>&1 || true
deadline=$(($(date +%s%N) / 1000000 + timeout * 1000))
timed_out=no
while kill -0 "$qemu_pid" 2>/dev/null; do
  if [ "$(($(date +%s%N) / 1000000))" -ge "$deadline" ]; then
    timed_out=yes
    # Whether the guest was running at all (or stood paused, never started) tells a hung guest
    # from one that never ran: both leave the program's output empty.
    status=$(perl "$here/qmp-request.pl" "$private/qmp.sock" hmp "info status" 2>&1 | tr -d '\r' | head -n 1) || true
    say "timeout after ${timeout} s (QEMU: ${status:-no answer}): killing the guest (pid $qemu_pid)"
    kill -TERM "$qemu_pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      kill -0 "$qemu_pid" 2>/dev/null || break
      sleep 0.2
    done
    kill -KILL "$qemu_pid" 2>/dev/null || true
    break
  fi
  if [ "$responder" = qemu ]; then
    # The guest hands an unplug request on as "unplug.reset" once it has reset the device.
    [ ! -e "$requests/unplug.reset" ] || serve_request unplug "$requests/unplug.reset"
    for name in plug hmp; do
      [ ! -e "$requests/$name" ] || serve_request "$name"
    done
  elif [ -e "$requests/hmp" ]; then
    serve_request hmp
  fi
  sleep 0.05
done
qemu_status=0
wait "$qemu_pid" || qemu_status=$?
qemu_pid=
wait "$tail_pid" || true
tail_pid=
finished=$(date +%s.%N)
cp "$private/console.log" "$guest/console.log" 2>/dev/null || true

show_guest_logs() {
  if [ -s "$private/qemu.log" ]; then
    say "QEMU said:"
    sed 's/^/  | /' "$private/qemu.log" >&2
  fi
  if [ -s "$private/console.log" ]; then
    say "the guest's console:"
    tail -n 60 "$private/console.log" | sed 's/^/  | /' >&2
  fi
  if [ -s "$guest/umtprd.log" ]; then
    say "uMTP-Responder's log (last lines):"
    tail -n 30 "$guest/umtprd.log" | sed 's/^/  | /' >&2
  fi
}

if [ "$verbose" = yes ]; then
  show_guest_logs
  if [ -e "$guest/started" ]; then
    command_started=$(stat -c %.9Y "$guest/started")
    say "$(awk -v s="$started" -v c="$command_started" -v f="$finished" \
      'BEGIN { printf "boot to command %.1f s, command and power-off %.1f s", c - s, f - c }')"
  fi
fi

if [ "$timed_out" = yes ]; then
  [ "$verbose" = yes ] || show_guest_logs
  exit 124
fi
if [ -e "$guest/exit-code" ]; then
  code=$(cat "$guest/exit-code")
  # A program that failed leaves the guest's side of the story too: the console's last lines
  # and uMTP-Responder's log, which are gone with the run folder otherwise.
  [ "$code" = 0 ] || [ "$verbose" = yes ] || show_guest_logs
  exit "$code"
fi
if [ -e "$guest/error" ]; then
  say "the guest could not run the program: $(cat "$guest/error")"
else
  say "the guest stopped without running the program to its end (QEMU exit status $qemu_status)"
fi
[ "$verbose" = yes ] || show_guest_logs
exit 125

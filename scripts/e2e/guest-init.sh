#!/bin/busybox sh
# /init of the guest's initramfs (busybox). It builds the guest's root from the host's root
# (9p, read-only) under a tmpfs overlay, mounts the run folder and the served folder at the same
# paths as on the host, brings up the MTP responder, runs the job inside a chroot with its output
# on the second serial port, leaves the exit code in the run folder and powers off.
# Everything it needs to know comes from the run folder's guest/job.env, written by the runner.

export PATH=/bin
console=/dev/ttyS0

say() { echo "guest: $*" >"$console"; }

# Milestones with the guest's uptime, on the console: the runner shows them with --verbose and
# when a run fails, so that a hung guest tells how far it came.
mark() {
  read -r up _ </proc/uptime
  say "$up $*"
}

# Records why the guest could not run the job; the runner reports it and fails the run.
fail() {
  say "$*"
  if [ -d /run-host/guest ]; then
    echo "$*" >/run-host/guest/error
  elif [ -n "$QB_RUN" ] && [ -d "/newroot$QB_RUN/guest" ]; then
    echo "$*" >"/newroot$QB_RUN/guest/error"
  fi
  halt_guest
}

halt_guest() {
  sync
  poweroff -f
  reboot -f
}

# Polls (every 20 ms) until the USB device VID:PID has enumerated, at most $2 seconds.
wait_for_usb() {
  want=$1
  tries=$(($2 * 50))
  while [ "$tries" -gt 0 ]; do
    for d in /sys/bus/usb/devices/*; do
      [ -r "$d/idVendor" ] || continue
      if [ "$(cat "$d/idVendor"):$(cat "$d/idProduct")" = "$want" ] && [ -r "$d/configuration" ]; then
        return 0
      fi
    done
    usleep 20000
    tries=$((tries - 1))
  done
  return 1
}

wait_for_file() {
  tries=$(($2 * 50))
  while [ ! -e "$1" ] && [ "$tries" -gt 0 ]; do
    usleep 20000
    tries=$((tries - 1))
  done
  [ -e "$1" ]
}

# uMTP-Responder runs from the host's root; it is ready once FunctionFS shows its endpoints.
umtprd_pid=
start_umtprd() {
  chroot $r /usr/bin/umtprd -conf /run/umtprd.conf </dev/null >>$r/run/umtprd.log 2>&1 &
  umtprd_pid=$!
  wait_for_file $r/dev/ffs-mtp/ep1 "$QB_USB_WAIT"
}

stop_umtprd() {
  [ -n "$umtprd_pid" ] || return 0
  kill "$umtprd_pid" 2>/dev/null
  wait "$umtprd_pid" 2>/dev/null
  umtprd_pid=
  # Its endpoints vanish once FunctionFS has seen it go.
  tries=250
  while [ -e $r/dev/ffs-mtp/ep1 ] && [ "$tries" -gt 0 ]; do
    usleep 20000
    tries=$((tries - 1))
  done
}

load() {
  for m in "$@"; do
    modprobe "$m" || fail "cannot load module $m"
  done
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec </dev/null >$console 2>&1

# The responder comes on the kernel command line so that the USB side can start enumerating
# while the shares are being mounted.
responder=
for word in $(cat /proc/cmdline); do
  case "$word" in quillbarrow.responder=*) responder=${word#*=} ;; esac
done
case "$responder" in
  qemu) load xhci_pci ;;
  umtp) load dummy_hcd libcomposite usb_f_fs ;;
esac
mark "init started"
load virtio_pci 9pnet_virtio 9p overlay

ninep="trans=virtio,version=9p2000.L,msize=512000"
mkdir -p /run-host /lower /upper /newroot
mount -t 9p -o "$ninep,cache=none" run /run-host || fail "cannot mount the run folder"
[ -r /run-host/guest/job.env ] || fail "the run folder has no guest/job.env"
. /run-host/guest/job.env
mark "run folder mounted"

# Nothing the program reads from the host's root changes while it runs (the folders that do are
# mounted on their own below), so it may be cached freely.
mount -t 9p -o "$ninep,ro,cache=loose" hostroot /lower || fail "cannot mount the host's root"
mount -t tmpfs -o mode=0755 tmpfs /upper
mkdir -p /upper/data /upper/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work /newroot ||
  fail "cannot mount the overlay root"

r=/newroot
mount -t proc proc $r/proc
mount -t sysfs sysfs $r/sys
mount -t devtmpfs devtmpfs $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts devpts $r/dev/pts
mount -t tmpfs tmpfs $r/dev/shm
mount -t tmpfs -o mode=0755 tmpfs $r/run

# The run and served folders sit at their host paths (above the fresh /run, should they be in it).
mkdir -p "$r$QB_RUN" "$r$QB_SHARE"
mount -o move /run-host "$r$QB_RUN" || fail "cannot move the run folder to $QB_RUN"
guest_dir="$r$QB_RUN/guest"
mount -t 9p -o "$ninep,cache=none" share "$r$QB_SHARE" || fail "cannot mount the served folder"

stty -F /dev/ttyS1 raw -echo 2>/dev/null
mark "root ready"

case "$QB_RESPONDER" in
  qemu)
    wait_for_usb 46f4:0004 "$QB_USB_WAIT" || fail "QEMU's MTP device did not enumerate"
    # Unplug requests: QEMU's device is reset from here before the host deletes it, which it
    # does on "unplug.reset" (see "Unplugging QEMU's device" in the runner). With no device to
    # reset, the host answers the request as QEMU does.
    (
      f="$r$QB_RUN/requests/unplug"
      while :; do
        if [ -e "$f" ]; then
          why=$(usb-reset 46f4:0004 2>&1)
          case $? in
            0 | 2) mv "$f" "$f.reset" ;;
            *)
              rm -f "$f"
              echo "error: the device could not be reset before its removal: $why" >"$f.done.tmp" &&
                mv "$f.done.tmp" "$f.done"
              ;;
          esac
        fi
        usleep 20000
      done
    ) &
    ;;
  umtp)
    mount -t configfs configfs /sys/kernel/config 2>/dev/null
    g=/sys/kernel/config/usb_gadget/quillbarrow
    mkdir $g $g/strings/0x409 $g/configs/c.1 $g/configs/c.1/strings/0x409 $g/functions/ffs.mtp ||
      fail "cannot create the USB gadget"
    echo 0x1D6B >$g/idVendor
    echo 0x0100 >$g/idProduct
    echo "$QB_SERIAL" >$g/strings/0x409/serialnumber
    echo "Quillbarrow" >$g/strings/0x409/manufacturer
    echo "Quillbarrow test phone" >$g/strings/0x409/product
    echo "MTP" >$g/configs/c.1/strings/0x409/configuration
    echo 120 >$g/configs/c.1/MaxPower
    ln -s $g/functions/ffs.mtp $g/configs/c.1/
    mkdir -p $r/dev/ffs-mtp
    mount -t functionfs mtp $r/dev/ffs-mtp || fail "cannot mount FunctionFS"
    cat >$r/run/umtprd.conf <<EOF
loop_on_disconnect 1
storage "$QB_SHARE" "$QB_STORAGE_NAME" "rw"
manufacturer "Quillbarrow"
product "Quillbarrow test phone"
serial "$QB_SERIAL"
firmware_version "1"
interface "MTP"
usb_vendor_id  0x1D6B
usb_product_id 0x0100
usb_class 0x6
usb_subclass 0x1
usb_protocol 0x1
usb_dev_version 0x3008
usb_functionfs_mode 0x1
usb_dev_path   "/dev/ffs-mtp/ep0"
usb_epin_path  "/dev/ffs-mtp/ep1"
usb_epout_path "/dev/ffs-mtp/ep2"
usb_epint_path "/dev/ffs-mtp/ep3"
usb_max_packet_size 0x200
EOF
    udc=$(ls /sys/class/udc | head -n 1)
    start_umtprd || fail "uMTP-Responder did not open its endpoints"
    # Once in load-check runs beside busy loops the first bind was refused although the responder
    # had opened its endpoints: a few more tries before the run is failed, with the kernel's reason.
    tries=10
    until echo "$udc" 2>$r/run/bind.err >$g/UDC; do
      tries=$((tries - 1))
      [ "$tries" -gt 0 ] || fail "cannot bind the gadget to $udc: $(cat $r/run/bind.err)"
      usleep 200000
    done
    wait_for_usb 1d6b:0100 "$QB_USB_WAIT" || fail "uMTP-Responder's device did not enumerate"
    mark "gadget bound"

    # Unplug and plug requests: the gadget lives in this guest, so the guest serves them.
    # Unplugging unbinds the gadget (the host side sees the device leave at once, as when the
    # cable is pulled) and then stops the responder; plugging starts a fresh responder and binds
    # again, as a phone does when it is plugged back in. A responder left running would close
    # and reopen its endpoints after the unbind, and that close unbinds a gadget bound meanwhile.
    (
      while :; do
        for f in "$r$QB_RUN/requests/unplug" "$r$QB_RUN/requests/plug"; do
          [ -e "$f" ] || continue
          result=ok
          bound=$(cat $g/UDC)
          if [ "${f##*/}" = unplug ]; then
            if [ -z "$bound" ]; then
              result="error: the device is not plugged in"
            else
              echo "" >$g/UDC 2>/dev/null || result="error: the gadget cannot be unbound from $bound"
              stop_umtprd
            fi
          else
            # A responder that dropped off the bus by itself (it unbinds the gadget when it
            # closes its endpoints) may still be running: the device comes back with a fresh one.
            if [ -n "$bound" ]; then
              result="error: the device is already plugged in"
            elif ! { stop_umtprd; start_umtprd; }; then
              result="error: uMTP-Responder did not open its endpoints"
            elif ! echo "$udc" >$g/UDC 2>/dev/null; then
              result="error: the gadget cannot be bound to $udc"
            fi
          fi
          rm -f "$f"
          echo "$result" >"$f.done.tmp" && mv "$f.done.tmp" "$f.done"
        done
        usleep 100000
      done
    ) &
    ;;
  *)
    fail "unknown responder '$QB_RESPONDER'"
    ;;
esac

# udev's daemon relays the kernel's device events to libusb, which otherwise never hears of a
# device that leaves or arrives after the program started. The trigger records the devices that
# are already there, as a desktop's boot does.
udev() { chroot $r /usr/bin/env -i SYSTEMD_IGNORE_CHROOT=1 PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
udev "$QB_UDEV/systemd-udevd" --daemon || fail "cannot start udev's daemon"
mark "udev started"
udev "$QB_UDEV/udevadm" trigger --action=add --subsystem-match=usb
udev "$QB_UDEV/udevadm" settle --timeout=30 || fail "udev did not settle"
mark "device ready"
chroot $r /usr/bin/env -i /bin/bash --noprofile --norc "$QB_RUN/guest/job.sh" </dev/null >/dev/ttyS1 2>&1
code=$?
mark "program ended"
[ -f $r/run/umtprd.log ] && cp $r/run/umtprd.log "$guest_dir/umtprd.log"
echo "$code" >"$guest_dir/exit-code.tmp" && mv "$guest_dir/exit-code.tmp" "$guest_dir/exit-code"
halt_guest

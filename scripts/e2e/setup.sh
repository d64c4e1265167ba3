#!/usr/bin/env bash
# Prepares the emulated-device runs: installs the "e2e" package group, then builds and caches,
# outside the repository, what the throw-away guest boots from:
#   - the guest kernel, taken from the Debian package that linux-image-amd64 depends on,
#     decompressed to an ELF vmlinux booted through QEMU's PVH entry (3 s faster under TCG than
#     the compressed image; the bzImage is kept as the fall-back if that boot fails here),
#   - a busybox initramfs with only the modules the guest needs (scripts/e2e/guest-init.sh is its
#     /init) and usb-reset (scripts/e2e/usb-reset.c),
#   - the locale shim preloaded into QEMU (scripts/e2e/locale-shim.c),
#   - udev's daemon (from the udev package, unpacked, not installed) for the guest.
# The cache sits in ${QUILLBARROW_E2E_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillbarrow-e2e},
# one folder per kernel package version, with "current" pointing at the one in use. A newer
# kernel in the archive, or a change to the init, usb-reset or the shim, rebuilds it; otherwise this takes
# about a second. Safe to run concurrently (it holds a lock on the cache).
set -euo pipefail
script_args=("$@")
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
# shellcheck source=common.sh
. "$here/common.sh"

say() { echo "e2e setup: $*" >&2; }

bash "$repo/scripts/setup.sh" e2e

mkdir -p "$qb_e2e_cache_root"
temporaries=()
trap 'rm -rf "${temporaries[@]}"' EXIT
exec 9>"$qb_e2e_cache_root/.lock"
flock 9

# The kernel image package that the metapackage points at, and its version. Without package
# lists (a fresh machine) apt knows nothing yet: fetch them once. Offline, keep the cached kernel.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
  apt-get update >/dev/null
  package=$(kernel_package)
fi
version=
if [ -n "$package" ]; then
  version=$(apt-cache policy "$package" | awk '$1 == "Candidate:" { print $2; exit }')
fi
if [ -z "$package" ] || [ -z "$version" ] || [ "$version" = "(none)" ]; then
  if [ -e "$qb_e2e_cache_root/current/kernel" ]; then
    say "apt cannot name the current kernel package; keeping the cached $(readlink "$qb_e2e_cache_root/current")"
    key=$(readlink "$qb_e2e_cache_root/current")
  else
    say "apt cannot name the kernel package that linux-image-amd64 depends on"
    exit 1
  fi
else
  key="${package}_${version}"
fi
dir="$qb_e2e_cache_root/$key"

# Package lists that have gone stale name versions the archive no longer has: refresh them once
# and start over, since the versions (and so the cache's key) may change.
download() {
  local into=$1 what=$2
  if (cd "$into" && apt-get download -q -o APT::Sandbox::User=root "$what" >/dev/null); then
    return 0
  fi
  if [ -z "${QUILLBARROW_E2E_LISTS_REFRESHED:-}" ] && [ "$(id -u)" -eq 0 ]; then
    say "cannot download $what: refreshing the package lists"
    apt-get update >/dev/null
    rm -rf "${temporaries[@]}"
    exec 9>&-
    QUILLBARROW_E2E_LISTS_REFRESHED=1 exec bash "$0" "${script_args[@]}"
  fi
  say "cannot download $what"
  exit 1
}

modules_wanted() {
  printf '%s\n' "${QB_E2E_MODULES_COMMON[@]}" "${QB_E2E_MODULES_QEMU[@]}" "${QB_E2E_MODULES_UMTP[@]}" | sort -u
}

# Downloads and unpacks the kernel package, keeps the kernel and the wanted modules with all
# their dependencies.
extract_kernel() {
  local work deb release image offset
  say "fetching $package $version"
  work=$(mktemp -d "$qb_e2e_cache_root/.build.XXXXXX")
  temporaries+=("$work")
  download "$work" "$package=$version"
  deb=$(ls "$work"/*.deb)
  dpkg-deb -x "$deb" "$work/root"
  release=$(ls "$work/root/lib/modules")
  image="$work/root/boot/vmlinuz-$release"

  mkdir -p "$work/out/modules/lib/modules/$release"
  busybox depmod -b "$work/root" "$release"
  local all="$work/root/lib/modules/$release" name path
  : >"$work/out/modules.list"
  for name in $(modules_wanted); do
    # modules.dep names files with "-" or "_" as the module's source had it.
    path=$(awk -F: -v n="$name" '{ f = $1; sub(/.*\//, "", f); sub(/\.ko$/, "", f); gsub(/-/, "_", f)
                                   if (f == n) { print $0; exit } }' "$all/modules.dep")
    if [ -z "$path" ]; then
      if grep -q "/${name//_/[-_]}\.ko\$" "$all/modules.builtin"; then
        continue # built into the kernel
      fi
      say "the kernel $release has no module $name"
      return 1
    fi
    echo "$name" >>"$work/out/modules.list"
    for f in ${path/:/}; do
      mkdir -p "$(dirname "$work/out/modules/lib/modules/$release/$f")"
      cp "$all/$f" "$work/out/modules/lib/modules/$release/$f"
    done
  done
  cp "$all/modules.builtin" "$all/modules.order" "$work/out/modules/lib/modules/$release/"
  busybox depmod -b "$work/out/modules" "$release"

  # The compressed image carries the kernel as one XZ stream after its boot stub.
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$image" | head -n 1 | cut -d: -f1)
  if [ -n "$offset" ] && tail -c +$((offset + 1)) "$image" >"$work/kernel.xz" &&
    xz -dc --single-stream "$work/kernel.xz" >"$work/out/vmlinux" 2>/dev/null &&
    readelf -n "$work/out/vmlinux" 2>/dev/null | grep -c 'Unknown note type: (0x00000012)' >/dev/null; then
    echo pvh >"$work/out/kernel.kind"
    ln -s vmlinux "$work/out/kernel"
  else
    say "no PVH entry found in the kernel: booting the compressed image"
    rm -f "$work/out/vmlinux"
    echo bzimage >"$work/out/kernel.kind"
    ln -s bzImage "$work/out/kernel"
  fi
  cp "$image" "$work/out/bzImage"
  echo "$release" >"$work/out/release"
  modules_wanted >"$work/out/modules.wanted"
  rm -rf "$dir"
  mv "$work/out" "$dir"
}

build_guest() {
  local stage applet
  say "building the initramfs and the locale shim"
  stage=$(mktemp -d "$qb_e2e_cache_root/.stage.XXXXXX")
  temporaries+=("$stage")
  mkdir -p "$stage/bin" "$stage/dev" "$stage/proc" "$stage/sys" "$stage/lib"
  cp /bin/busybox "$stage/bin/busybox"
  for applet in $(/bin/busybox --list); do
    [ "$applet" = busybox ] || ln -s busybox "$stage/bin/$applet"
  done
  cp -a "$dir/modules/lib/modules" "$stage/lib/"
  install -m 0755 "$here/guest-init.sh" "$stage/init"
  gcc -static -O2 -Wall -Wextra -o "$stage/bin/usb-reset" "$here/usb-reset.c"
  (cd "$stage" && find . | LC_ALL=C sort | cpio -o -H newc --quiet --reproducible) >"$dir/initramfs.cpio.tmp"
  mv "$dir/initramfs.cpio.tmp" "$dir/initramfs.cpio"
  gcc -shared -fPIC -O2 -Wall -Wextra -o "$dir/locale-shim.so.tmp" "$here/locale-shim.c"
  mv "$dir/locale-shim.so.tmp" "$dir/locale-shim.so"
  qb_e2e_guest_stamp "$dir/modules.list" >"$dir/stamp"
}

# The guest runs udev's daemon, as a desktop does: libusb learns of devices that come and go
# only through it. Taken from the archive's udev package, used from the cache, never installed.
fetch_udev() {
  local work udev_version=$1
  say "fetching udev $udev_version"
  work=$(mktemp -d "$qb_e2e_cache_root/.build.XXXXXX")
  temporaries+=("$work")
  download "$work" "udev=$udev_version"
  dpkg-deb -x "$work"/udev_*.deb "$work/root"
  mkdir -p "$work/udev"
  cp "$work/root/bin/udevadm" "$work/udev/udevadm"
  ln -s udevadm "$work/udev/systemd-udevd"
  if ! "$work/udev/udevadm" --version >/dev/null; then
    say "udev's udevadm $udev_version does not run on this machine"
    return 1
  fi
  echo "$udev_version" >"$work/udev/version"
  rm -rf "$dir/udev"
  mv "$work/udev" "$dir/udev"
  rm -f "$dir/boot-checked"
}

if [ ! -e "$dir/kernel" ] || [ ! -e "$dir/release" ] || [ "$(modules_wanted)" != "$(cat "$dir/modules.wanted" 2>/dev/null)" ]; then
  extract_kernel
fi
udev_version=$(apt-cache policy udev 2>/dev/null | awk '$1 == "Candidate:" { print $2; exit }')
if [ -z "$udev_version" ] || [ "$udev_version" = "(none)" ]; then
  [ -x "$dir/udev/udevadm" ] || { say "apt cannot name a udev package"; exit 1; }
elif [ "$udev_version" != "$(cat "$dir/udev/version" 2>/dev/null)" ]; then
  fetch_udev "$udev_version"
fi
if [ ! -e "$dir/stamp" ] || [ "$(cat "$dir/stamp")" != "$(qb_e2e_guest_stamp "$dir/modules.list")" ] ||
  [ ! -e "$dir/initramfs.cpio" ] || [ ! -e "$dir/locale-shim.so" ]; then
  build_guest
  rm -f "$dir/boot-checked"
fi

ln -sfn "$key" "$qb_e2e_cache_root/current.tmp"
mv -T "$qb_e2e_cache_root/current.tmp" "$qb_e2e_cache_root/current"

# A guest built from new inputs boots once here, so that a kernel that cannot boot through PVH
# on this machine falls back to the compressed image now rather than failing every test later.
export QUILLBARROW_E2E_IN_SETUP=1 # the runner must not call this script back
if [ ! -e "$dir/boot-checked" ] && [ "$(id -u)" -ne 0 ]; then
  say "the guests need root: their boot is checked when this runs as root"
elif [ ! -e "$dir/boot-checked" ]; then
  say "checking that the guest boots ($(cat "$dir/kernel.kind"))"
  if ! bash "$here/run-in-guest.sh" --responder qemu --timeout 120 -- /bin/true; then
    if [ "$(cat "$dir/kernel.kind")" = pvh ]; then
      say "the PVH boot failed: falling back to the compressed kernel image"
      echo bzimage >"$dir/kernel.kind"
      ln -sfn bzImage "$dir/kernel"
      bash "$here/run-in-guest.sh" --responder qemu --timeout 180 -- /bin/true ||
        { say "the guest does not boot"; exit 1; }
    else
      say "the guest does not boot"
      exit 1
    fi
  fi
  touch "$dir/boot-checked"
fi

# Older kernels' caches are of no further use.
for old in "$qb_e2e_cache_root"/*; do
  case "$(basename "$old")" in
    "$key" | current) ;;
    *) rm -rf "$old" ;;
  esac
done
say "ready: $dir"

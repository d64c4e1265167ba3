#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and runs with, when missing.
# Idempotent: a machine that already has them is left untouched. Needs root for apt-get.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkgconf
  qt6-base-dev qcoro-qt6-dev libmtp-dev libmtp-runtime
  libgtest-dev libgmock-dev
  xvfb xauth fonts-dejavu-core
  # Files are opened with the user's default application through xdg-open.
  xdg-utils
  # The window's icons: a freedesktop theme, and Qt's SVG plugins to draw its symbolic icons.
  adwaita-icon-theme libqt6svg6
)
# Extra groups, named on the command line: "e2e" adds what the emulated-device runs need.
for group in "$@"; do
  case "$group" in
    # The guests, and a disk that ignores letter case (exFAT through FUSE) for copies onto one.
    e2e) packages+=(qemu-system-x86 busybox-static cpio xz-utils mtp-tools umtp-responder gcc libc6-dev
                   libacl1 libblkid1 libcap2 libkmod2 libselinux1 exfat-fuse exfatprogs) ;;
    *) echo "setup.sh: unknown package group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# Update the package lists once, only when an install is needed.
if ! apt-get install -y --no-install-recommends "${missing[@]}"; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

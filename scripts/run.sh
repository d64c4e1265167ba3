#!/usr/bin/env bash
# Starts Quillbarrow from a fresh clone: installs the Debian packages that are missing, builds the
# release preset and runs the application with the arguments given. The device backend is the
# real libmtp one unless QUILLBARROW_BACKEND says otherwise (QUILLBARROW_BACKEND=mock serves a
# pretend phone, for trying the application without one).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! bash scripts/setup.sh; then
  # Installing needs root: ask through sudo when there is one.
  if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
    sudo bash scripts/setup.sh
  else
    exit 1
  fi
fi
cmake --preset release >/dev/null
cmake --build --preset release --target quillbarrow
exec build/release/src/app/quillbarrow "$@"

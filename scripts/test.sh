#!/usr/bin/env bash
# Sets the machine up, builds the debug and the sanitizer configurations and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The guest the end-to-end tests boot (packages, kernel, initramfs; cached after the first run).
bash scripts/e2e/setup.sh

for preset in debug asan; do
  echo "== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== ${preset}: test"
  ctest --preset "$preset"
done

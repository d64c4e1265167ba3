#!/usr/bin/env bash
# Renders every scene of the snapshot program into a temporary folder and checks that each
# listed scene left a non-empty PNG. Usage: render-all.sh PATH-TO-quillbarrow-snapshot
set -euo pipefail
program="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

"$program" --out "$out" >/dev/null
missing=0
while read -r name _; do
  if [ ! -s "$out/$name.png" ]; then
    echo "render-all: scene $name left no picture" >&2
    missing=1
  fi
done < <("$program" --list)
count=$(ls "$out" | wc -l)
echo "render-all: $count scenes rendered"
exit "$missing"

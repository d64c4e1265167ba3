#!/usr/bin/env bash
# Starts the real quillbarrow executable on a private Xvfb server with the xcb platform and the
# mock backend, in a throw-away home, and passes when the application
#   - prints that its window was shown (exposed on the X server) and the mock device is listed,
#   - exits with code 0 on its own after that (it quits as the menu's Quit does), and
#   - writes nothing to stderr but its own informational log lines (no warning of Qt or ours).
# Every wait is on an event, bounded generously for a busy machine; no fixed sleep decides.
# Usage: smoke-test.sh PATH-TO-quillbarrow
set -euo pipefail

program="$1"
bound_seconds="${SMOKE_BOUND_SECONDS:-240}"
work="$(mktemp -d)"
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "smoke: $*" >&2
  for f in app.out app.err xvfb.log; do
    if [ -s "$work/$f" ]; then
      echo "---- $f" >&2
      cat "$work/$f" >&2
    fi
  done
  exit 1
}

command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/setup.sh installs it)"

# Xvfb picks a free display itself and writes its number once it accepts connections.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1600x1000x24 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
if ! read -r -t "$bound_seconds" display <"$work/displayfd" || [ -z "$display" ]; then
  fail "Xvfb did not start within ${bound_seconds}s"
fi

mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
# A clean environment, but for the sanitizer settings of a sanitizer build.
sanitizer_settings=()
for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  if [ -n "${!name:-}" ]; then
    sanitizer_settings+=("$name=${!name}")
  fi
done
status=0
env -i "${sanitizer_settings[@]}" PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
  XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" XDG_DATA_HOME="$work/home/.local/share" \
  DISPLAY=":$display" QT_QPA_PLATFORM=xcb QUILLBARROW_BACKEND=mock LANG=C.UTF-8 \
  QT_MESSAGE_PATTERN='%{type} %{category}: %{message}' \
  timeout "$bound_seconds" "$program" --smoke-test >"$work/app.out" 2>"$work/app.err" || status=$?

[ "$status" -ne 124 ] || fail "the application did not finish within ${bound_seconds}s"
[ "$status" -eq 0 ] || fail "the application exited with code $status"
grep -qx 'quillbarrow: window shown; devices: Pixel 8' "$work/app.out" ||
  fail "the application did not report its window shown with the mock device listed"
# Our own informational lines are allowed; anything else (a Qt warning, our own error) is not.
if grep -v -E '^(debug|info) com\.quillbarrow\.app\.[A-Za-z]+: ' "$work/app.err" | grep -q .; then
  fail "the application wrote warnings to stderr"
fi
echo "smoke: window shown on :$display with the mock device, clean exit"

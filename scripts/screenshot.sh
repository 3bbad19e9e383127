#!/usr/bin/env bash
# Builds Sorrel, runs it on a virtual screen and saves what a person would see there.
# Usage: scripts/screenshot.sh [out.png]   (default: build/screenshot.png)
set -euo pipefail

# Runs inside the virtual screen: a window manager (when one is installed) draws the
# window frames and captions, the program shows its window, the screen is saved.
inside() {
  local program="$1" out="$2" wm_pid="" pid
  if command -v openbox >/dev/null; then
    openbox --sm-disable >/dev/null 2>&1 & wm_pid=$!
    sleep 1
  else
    echo "screenshot: no window manager installed; windows will have no frames" >&2
  fi
  QT_QPA_PLATFORM=xcb "$program" & pid=$!
  local shown=""
  for _ in $(seq 1 100); do
    if xwininfo -root -tree 2>/dev/null | grep -q '("Sorrel" "Sorrel")'; then shown=1; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  local status=0
  if [ -n "$shown" ]; then
    # Give it time to paint.
    sleep 1
    import -window root "$out"
  else
    echo "screenshot: the program showed no window" >&2
    status=1
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ -n "$wm_pid" ]; then kill "$wm_pid" 2>/dev/null || true; fi
  return "$status"
}
if [ "${1:-}" = "--inside" ]; then
  inside "$2" "$3"
  exit
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build/screenshot.png}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
mkdir -p "$(dirname "$out")"

cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target Sorrel

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
  export XDG_RUNTIME_DIR
fi
xvfb-run -a -s "-screen 0 1024x768x24" bash "$root/scripts/screenshot.sh" --inside "$root/build/release/bin/Sorrel" "$out"
echo "screenshot: $out"

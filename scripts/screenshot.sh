#!/usr/bin/env bash
# Builds Sorrel, runs it on a virtual screen (xvfb-run, openbox drawing the frames) in the
# sample working folder, and saves what a person sees there as PNG files:
#   main-window.png   the main window after start-up with the Kite demo sequence, SLM on
#   run.png           the main window while the demo sequence runs
#   live-view.png     the live view of the SLM during that run
#   entry-editor.png  the entry editor
#   kite-setup.png    the Kite board's setup dialog
#   wren-setup.png    the Wren board's setup dialog (a second start on a Wren board)
# Usage: scripts/screenshot.sh [folder]   (default: build/screenshots)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# Sorrel in the sample folder with settings of its own, on the simulated board $1, tracing
# into $2. Sets SORREL_PID.
start_sorrel() {
  local board="$1" trace="$2"
  local registry
  registry="$(mktemp -d)"
  SORREL_REGISTRY="$registry" "$root/build/release/bin/sorrel-samples" --seed-settings "$WORK" "$board" >/dev/null
  (cd "$WORK" && SORREL_REGISTRY="$registry" SORREL_SIM="$board" SORREL_SIM_TRACE="$trace" QT_QPA_PLATFORM=xcb \
     exec "$root/build/release/bin/Sorrel" --live-view) &
  SORREL_PID=$!
}

stop_sorrel() {
  kill -TERM "$SORREL_PID" 2>/dev/null || true
  wait "$SORREL_PID" 2>/dev/null || true
}

# Runs inside the virtual screen.
inside() {
  local out="$1" main live dialog
  # shellcheck source=xsession.sh
  source "$root/scripts/xsession.sh"
  WORK="$root/build/release/share/sorrel/samples"
  SCRATCH="$(mktemp -d)"
  trap 'stop_sorrel; stop_window_manager; rm -rf "$SCRATCH"' EXIT
  start_window_manager

  start_sorrel kite "$SCRATCH/kite"
  main=$(wait_window "Sorrel Version 8.0")
  live=$(wait_window "SLM Live View")
  # The last of the demo's fifteen frames is on the board: START follows at once.
  wait_file "$SCRATCH/kite/frame-0014.pgm"
  sleep 1
  click_control "$main" 295 76 30 12  # SLM power ON: the screen image shows the entry
  sleep 0.5
  capture_window "$main" "$out/main-window.png"
  click_control "$main" 295 91 65 38  # START
  sleep 1.5
  capture_window "$main" "$out/run.png"
  capture_window "$live" "$out/live-view.png"
  click_control "$main" 295 91 65 38  # STOP
  sleep 0.5  # the run timer's next tick ends the run and unlocks the controls
  click_control "$main" 9 139 61 13   # Edit Image List...
  dialog=$(wait_window "Edit Sequence Record" 10)
  sleep 0.5
  capture_window "$dialog" "$out/entry-editor.png"
  click_control "$dialog" 129 122 50 14  # Cancel
  click_control "$main" 295 28 65 14  # Board Setup...
  dialog=$(wait_window "512x512 SLM Driver Board Setup" 10)
  sleep 0.5
  capture_window "$dialog" "$out/kite-setup.png"
  press_key "$dialog" Escape
  stop_sorrel

  start_sorrel wren "$SCRATCH/wren"
  main=$(wait_window "Sorrel Version 8.0")
  wait_file "$SCRATCH/wren/frame-0014.pgm"
  sleep 1
  click_control "$main" 295 28 65 14
  dialog=$(wait_window "256x256 SLM Driver Board Setup" 10)
  sleep 0.5
  capture_window "$dialog" "$out/wren-setup.png"
  press_key "$dialog" Escape
  stop_sorrel
}
if [ "${1:-}" = "--inside" ]; then
  inside "$2"
  exit
fi

out="${1:-$root/build/screenshots}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
mkdir -p "$out"

cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target Sorrel SorrelSamples SorrelHelp

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
  export XDG_RUNTIME_DIR
fi
xvfb-run -a -s "-screen 0 1800x1000x24" bash "$root/scripts/screenshot.sh" --inside "$out"
echo "screenshots: $out"
ls "$out"

#!/usr/bin/env bash
# The README's run command as a newcomer meets it: a fresh clone, no stored settings, a
# virtual screen. The first run builds, makes the sample folder, seeds the settings, starts
# Sorrel, which downloads the demo sequence and reaches START; the screen image then shows
# the selected entry, the operator changes the frame rate, and Sorrel is ended by SIGTERM
# through its shutdown sequence, saving its settings. The second run starts with them and
# seeds nothing. Says how long each run took from the command to START.
# Usage: tests/scripts/first-run.sh [work-folder]   (default: build/first-run, kept between
# runs so a later run of this test builds incrementally)
set -euo pipefail
source_tree="$(cd "$(dirname "$0")/../.." && pwd)"
base="${1:-$source_tree/build/first-run}"
case "$base" in /*) ;; *) base="$PWD/$base" ;; esac
clone="$base/clone"
limit=900  # seconds for everything, a cold build included

if [ "${2:-}" = "--inside" ]; then
  source "$source_tree/scripts/xsession.sh"
  start_window_manager
  trap 'stop_window_manager' EXIT
  run_once() {
    local name="$1" trace="$base/trace-$1" started main live pid
    rm -rf "$trace"
    started=$(date +%s%N)
    (cd "$clone" && SORREL_SIM_TRACE="$trace" QT_QPA_PLATFORM=xcb exec bash scripts/run.sh) > "$base/$name.log" 2>&1 &
    pid=$!
    # The live view opens once start-up has reached START (the main window shows before).
    live=$(wait_window "SLM Live View" "$limit")
    main=$(wait_window "Sorrel Version 8.0" "$limit")
    # The live view may open over the main window: closed, as a person closes it, the
    # pictures and clicks are the main window's.
    press_key "$live" Escape
    wait_gone "$live" 10
    local ms=$((($(date +%s%N) - started) / 1000000))
    echo "$name run: $((ms / 1000)).$(printf %03d $((ms % 1000))) s from the command to START"
    [ -e "$trace/frame-0014.pgm" ] || echo "$name run: the demo's last frame was not downloaded"
    sleep 0.5
    if [ "$name" = first ]; then
      import -window "$main" "$base/started.png"
      click_control "$main" 295 76 30 12    # SLM power ON
      sleep 0.5
      import -window "$main" "$base/powered.png"
      click_control "$main" 158 242 20 10   # the frame-rate slider, above its thumb: a page up
    fi
    sleep 0.5
    kill -TERM "$pid"
    local status=0
    wait "$pid" || status=$?
    echo "$name run: ended with status $status"
  }
  run_once first
  cp "$XDG_CONFIG_HOME/sorrel/sorrel.reg" "$base/after-first.reg"
  run_once second
  cp "$XDG_CONFIG_HOME/sorrel/sorrel.reg" "$base/after-second.reg"
  exit 0
fi

fail() {
  echo "first-run: FAILED: $*" >&2
  exit 1
}

mkdir -p "$base"
rm -f "$base"/*.log "$base"/*.png "$base"/*.reg
if [ -d "$clone/.git" ]; then
  git -C "$clone" fetch -q "$source_tree" HEAD
  git -C "$clone" reset -q --hard FETCH_HEAD
else
  git clone -q "$source_tree" "$clone"
fi
# A newcomer's account: no settings yet, the default folder of the run command.
export HOME="$base/home" XDG_CONFIG_HOME="$base/home/.config"
rm -rf "$HOME"
mkdir -p "$HOME"
unset SORREL_REGISTRY SORREL_SIM
export XDG_RUNTIME_DIR="$base/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

timeout "$limit" xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$base" --inside | tee "$base/report.txt"

report="$(cat "$base/report.txt")"
grep -q "first run: ended with status 0" <<<"$report" || fail "the first run did not end cleanly (see $base/first.log)"
grep -q "second run: ended with status 0" <<<"$report" || fail "the second run did not end cleanly (see $base/second.log)"
grep -q "settings stored for the kite demo sequence" "$base/first.log" || fail "the first run seeded no settings"
grep -q "keeps its settings in $XDG_CONFIG_HOME/sorrel/sorrel.reg" "$base/first.log" || fail "the run did not say where the settings are"
if grep -q "settings stored" "$base/second.log"; then fail "the second run seeded the settings again"; fi
if grep -q "was not downloaded" <<<"$report"; then fail "the demo sequence was not downloaded whole"; fi

# The screen image (128 x 128 at 44, 323 of the client area): the power-off picture at
# start, then the selected entry, the blazed grating of period 16 running along x: every
# row alike, a ramp that starts over every 4 pixels.
python3 - "$base" <<'PY' || fail "the screen image is not what the main window should show"
import subprocess, sys
base = sys.argv[1]
def grey(png):
    raw = subprocess.run(["convert", png, "-crop", "128x128+44+323", "+repage", "-colorspace", "Gray", "-depth", "8",
                          "gray:-"], capture_output=True, check=True).stdout
    assert len(raw) == 128 * 128, len(raw)
    return [raw[r * 128:(r + 1) * 128] for r in range(128)]
started, powered = grey(base + "/started.png"), grey(base + "/powered.png")
assert started != powered, "the power switch changed nothing on the screen image"
assert all(row == powered[0] for row in powered), "rows differ: not the grating"
row = powered[0]
assert len(set(row)) > 2, "a flat row"
assert all(row[x + 4] == row[x] for x in range(124)), "not a period of 4 pixels"
assert any(row[x + 1] > row[x] for x in range(4)), "no ramp"
assert len({tuple(r) for r in started}) > 1, "the power-off picture has rows of its own"
PY

value() { sed -n "s/^\"$1\"=\"\(.*\)\"$/\1/p" "$2"; }
first_rate=$(value FrameRate "$base/after-first.reg")
[ -n "$first_rate" ] || fail "no frame rate was saved"
[ "$first_rate" != 10 ] || fail "the frame rate the operator set (page up from 10) was not saved"
[ "$(value FrameRate "$base/after-second.reg")" = "$first_rate" ] || fail "the second run did not start with the saved frame rate"
case "$(value SequenceFile "$base/after-second.reg")" in
  */share/sorrel/samples/Sequence_Files/Kite_demo.sif) ;;
  *) fail "the demo sequence is not the stored sequence" ;;
esac
echo "first-run: passed (frame rate saved as $first_rate and kept by the second run)"

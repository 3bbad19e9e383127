#!/usr/bin/env bash
# Fault drills in the windowed program itself (offscreen), driven from outside as a lab's
# script would: each Sorrel runs in a working folder of its own making, its message boxes
# go to a transcript (SORREL_UI_TRANSCRIPT: written, not shown, answered OK), and what
# the operator would have seen, the exit status and the files it leaves are checked. A
# program still open at the end of its drill is ended by SIGTERM, as a terminal ends it.
# Every wait has a limit: a hang fails the drill.
#
#   drill                        what the transcript holds, in order                            outcome
#   no card                      ERROR: Could not locate PCI board, ...; WARNING: At least one   stays open; SIGTERM: status 0, settings saved
#                                WriteFrameBuffer call failed
#   cards of another model only  ERROR: The hardware found was not 256 or 512 hardware          ends by itself, status 0, nothing saved
#   3.3 V supply low             ERROR: 3.3 Volt Status Low; ERROR: INIT Bits 0 0 0 0;           ends by itself, status 0, nothing saved
#                                ERROR: SDRAM Bits 19 0 0 0
#   DAC fault                    ERROR: Could not power the DAC board.\n Is DAC power cable      ends by itself, status 0, nothing saved
#                                connected?\n
#   card held by a running       the second: ERROR: There are no available 512 PCI boards to     the second ends by SIGTERM with status 0; the
#   Sorrel                       open, is the software already running?; WARNING: At least one   first's trace is untouched and it still ends
#                                WriteFrameBuffer call failed. The first: nothing                by SIGTERM with the lasers at zero, power off
#   settings folder read-only    nothing; one line on standard error: Settings not saved to ...  status 0; the stored settings unchanged
#   settings folder missing      ERROR: Error reading Board Type from registry, defaulted to     status 0; the folder is made at the save
#                                Kite_SLM; Sorrel: Could not read SIF
#   unreadable entries           (SIGTERM in the middle of the download of 3000 entries whose     ends by the signal (143) with the lasers at
#                                pattern folder is gone)                                          zero, power off and the card closed last
#
# SIGTERM under a start-up box that really waits (on a virtual X screen of the script's own,
# no transcript) ends the program by SIGTERM, every card it holds at zero gain with the SLM
# off, nothing saved: the no-card box, the DAC box inside the board's power-up, the missing
# PowerOff.bmp box (gains set), and a third Sorrel's box beside the held drill's first.
#
# A signal with the board service's clients connected, one watching the status stream and one
# calling as fast as it can, ends the program as without them (status 0), every laser at zero
# gain and the SLM off, the card closed last; the stream ends, the caller meets its error, and
# neither hangs.
#
# Usage: fault_drills.sh <path of the Sorrel program> <path of sorrelctl>
set -uo pipefail

program="$(realpath "$1")"
sorrelctl="$(realpath "$2")"
scratch="$(mktemp -d /tmp/sorrel-drills-XXXXXX)"
export XDG_RUNTIME_DIR="$scratch/runtime"  # claims of these programs only
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
pids=()
program_args=()  # what start() passes to Sorrel
trap 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$scratch"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A 128 x 128 8-bit bitmap, a grey palette and a diagonal ramp: what PowerOff.bmp holds.
bitmap128() {
  printf 'BM\x36\x44\x00\x00\x00\x00\x00\x00\x36\x04\x00\x00'
  printf '\x28\x00\x00\x00\x80\x00\x00\x00\x80\x00\x00\x00\x01\x00\x08\x00'
  printf '\x00\x00\x00\x00\x00\x40\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00'
  local i
  for ((i = 0; i < 256; i++)); do printf '%b' "\\x$(printf %02x $i)\\x$(printf %02x $i)\\x$(printf %02x $i)\\x00"; done
  for ((i = 0; i < 128; i++)); do head -c 128 /dev/zero | tr '\0' "\\$(printf %03o $((i * 2)))"; done
}

# A working folder: two Zernike patterns, a table, the power-off picture, a sequence of
# three entries and the settings pointing at it. Prints nothing.
make_work() {
  local work="$1" i
  mkdir -p "$work/Image_Files" "$work/Sequence_Files" "$work/registry" "$work/trace"
  printf 'Power=1.5\nAstigX=0.3\n' >"$work/Image_Files/defocus.zrn"
  printf 'ComaY=0.8\nTrefoilX=-0.4\n' >"$work/Image_Files/coma.zrn"
  for ((i = 0; i < 256; i++)); do echo "$i $i"; done >"$work/Image_Files/linear.lut"
  # Made once: written byte by byte, it takes seconds on a busy machine.
  [ -f "$scratch/PowerOff.bmp" ] || bitmap128 >"$scratch/PowerOff.bmp"
  cp "$scratch/PowerOff.bmp" "$work/PowerOff.bmp"
  printf '%s, %s\n' "$work/Image_Files/defocus.zrn" "$work/Image_Files/linear.lut" \
    "$work/Image_Files/coma.zrn" "$work/Image_Files/linear.lut" \
    "$work/Image_Files/defocus.zrn" "$work/Image_Files/linear.lut" >"$work/Sequence_Files/demo.sif"
  cat >"$work/registry/sorrel.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]
"LaserDuty"="50"
"FrameRate"="100"
"LaserAGain"="200"
"LaserBGain"="100"
"LC_Type"="1"
"TrueFrames"="3"
"BoardType"="Kite_SLM"
"SequenceFile"="$work/Sequence_Files/demo.sif"
"PhaseCompFileName"=""
"SysPhaseCompFileName"=""
"ApplyCorrection"="0"
"HideComp"="0"

EOF
}

# start <work> <name> [VAR=value ...] [-- wrapper...]: runs Sorrel in <work> with its
# transcript, output and error in <work>/<name>.*; its process id goes into $started.
start() {
  local work="$1" name="$2"
  shift 2
  local vars=() wrapper=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do vars+=("$1"); shift; done
  [ "${1:-}" = "--" ] && { shift; wrapper=("$@"); }
  (cd "$work" && exec env SORREL_REGISTRY="$work/registry" SORREL_UI_TRANSCRIPT="$work/$name.transcript" \
     "${vars[@]}" "${wrapper[@]}" "$program" "${program_args[@]}" >"$work/$name.out" 2>"$work/$name.err") &
  started=$!
  pids+=("$started")
}

# until_true <seconds> <command...>: true once the command succeeds, false at the limit.
until_true() {
  local limit=$(($1 * 10))
  shift
  for ((n = 0; n < limit; n++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

lines() { [ -f "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }

# finish <pid> <seconds>: waits for the process to end; its exit status goes into $status,
# 999 when it did not end in time (it is killed then).
finish() {
  if until_true "$2" gone "$1"; then
    wait "$1"
    status=$?
  else
    kill -9 "$1" 2>/dev/null
    status=999
  fi
}

expect_transcript() {
  local file="$1" drill="$2"
  shift 2
  local expected
  expected="$(printf '%s\n' "$@")"
  [ "$(cat "$file" 2>/dev/null)" = "$expected" ] || fail "$drill: transcript was:
$(cat "$file" 2>/dev/null)
expected:
$expected"
}

expect_status() {
  [ "$2" = "$3" ] || fail "$1: exit status $2, expected $3"
}

# start_shown <work> <name> [VAR=value ...]: start(), on the virtual screen when there is one,
# with the live view, which opens only once start-up is done: that is how ready() knows.
start_shown() {
  local work="$1" name="$2"
  shift 2
  if [ -n "$x_display" ]; then
    program_args=(--live-view)
    start "$work" "$name" QT_QPA_PLATFORM=xcb DISPLAY="$x_display" "$@"
    program_args=()
  else
    start "$work" "$name" "$@"
  fi
}

# ready <work> <pid>: a Sorrel started by start_shown() is done starting. Without a virtual
# screen, a moment past its frames' download has to serve.
ready() {
  if [ -n "$x_display" ]; then
    until_true 120 box_shown "$2" "SLM Live View"
  else
    until_true 30 test -f "$1/trace/frame-0002.pgm" && sleep 2
  fi
}

# term_after_messages <work> <drill>: once the Sorrel just started by start_shown() has shown
# its two messages and is done starting, ends it by SIGTERM; it must end with 0.
term_after_messages() {
  local pid=$started
  until_true 30 lines "$1/sorrel.transcript" 2 || fail "$2: no messages"
  ready "$1" "$pid" || fail "$2: start-up did not end"
  kill -TERM "$pid"
  finish "$pid" 30
  expect_status "$2" "$status" 0
}

# A virtual X screen for the boxes that must really wait; empty when none can be had.
x_display=""
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/x-display" 2>"$scratch/x.err" &
  pids+=("$!")
  disown  # ended by the trap without a word from the shell
  if until_true 30 test -s "$scratch/x-display"; then
    x_display=":$(cat "$scratch/x-display")"
  else
    fail "the virtual X screen did not start: $(cat "$scratch/x.err")"
  fi
else
  echo "SKIPPED: signals under waiting boxes (Xvfb and xdotool are needed)" >&2
fi

# A shown window of the process with exactly this title.
box_shown() { DISPLAY="$x_display" xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" >/dev/null 2>&1; }

# last_write <log> <after line> <register>: the last value written to a board register
# after the given line of a trace's register log; empty when none was.
last_write() {
  awk -v from="$2" -v reg="$3" 'NR > from && $2 == "W" && $3 == 2 && $4 == reg { v = $5 } END { print v }' "$1"
}

# term_under_box <drill> <work> <title> <held|none> [VAR=value ...]: Sorrel in <work>, its
# boxes on the virtual screen waiting for OK; SIGTERM once the box titled <title> shows. It
# must end by SIGTERM and save nothing; holding a card, it must have written both gains
# zero after the box showed and left the SLM off in its last word to the control register.
term_under_box() {
  local drill="$1" work="$2" title="$3" held="$4" log="$2/trace/registers.log" before=0 register value
  shift 4
  cp "$work/registry/sorrel.reg" "$work/stored.before"
  start "$work" box SORREL_UI_TRANSCRIPT= QT_QPA_PLATFORM=xcb DISPLAY="$x_display" "$@"
  until_true 60 box_shown "$started" "$title" || fail "$drill: no box titled $title showed"
  [ -f "$log" ] && before=$(wc -l <"$log")
  kill -TERM "$started"
  finish "$started" 30
  expect_status "$drill" "$status" $((128 + 15))
  cmp -s "$work/registry/sorrel.reg" "$work/stored.before" || fail "$drill: the settings were written"
  [ "$held" = held ] || return 0
  for register in 10 14; do
    value=$(last_write "$log" "$before" "$register")
    [ "${value:6:2}" = 00 ] || fail "$drill: register $register last written \"$value\", not a zero gain"
  done
  value=$(last_write "$log" 0 00)
  [ -n "$value" ] && (((16#$value & 0x400) == 0)) || fail "$drill: the SLM left powered (control $value)"
}

drill_signals_under_boxes() {
  [ -n "$x_display" ] || return 0
  make_work "$scratch/box-none"
  term_under_box "no card, box" "$scratch/box-none" ERROR none SORREL_SIM=none
  make_work "$scratch/box-dac"
  term_under_box "DAC fault, box" "$scratch/box-dac" ERROR held SORREL_SIM=kite:dac-fault \
    SORREL_SIM_TRACE="$scratch/box-dac/trace"
  make_work "$scratch/box-poweroff"
  rm "$scratch/box-poweroff/PowerOff.bmp"
  term_under_box "PowerOff.bmp missing, box" "$scratch/box-poweroff" WARNING held SORREL_SIM=kite \
    SORREL_SIM_TRACE="$scratch/box-poweroff/trace"
}

NO_BOARDS="ERROR: There are no available 512 PCI boards to open, is the software already running?"
WRITE_FAILED="WARNING: At least one WriteFrameBuffer call failed"

drill_no_card() {
  local work="$scratch/none"
  make_work "$work"
  start_shown "$work" sorrel SORREL_SIM=none
  term_after_messages "$work" "no card"
  expect_transcript "$work/sorrel.transcript" "no card" \
    "ERROR: Could not locate PCI board, is the PCI board plugged into computer?" "$WRITE_FAILED"
  grep -q '"LaserAGain"="200"' "$work/registry/sorrel.reg" || fail "no card: settings not saved"
}

# Ends by itself with status 0 after its messages, and saves nothing.
drill_fatal() {
  local drill="$1" bus="$2"
  shift 2
  local work="$scratch/$bus"
  make_work "$work"
  cp "$work/registry/sorrel.reg" "$work/stored.before"
  start "$work" sorrel SORREL_SIM="$bus"
  finish "$started" 30
  expect_status "$drill" "$status" 0
  expect_transcript "$work/sorrel.transcript" "$drill" "$@"
  cmp -s "$work/registry/sorrel.reg" "$work/stored.before" || fail "$drill: the settings were written"
}

drill_held() {
  local work="$scratch/held"
  make_work "$work"
  start_shown "$work" first SORREL_SIM=kite SORREL_SIM_TRACE="$work/trace"
  local first=$started
  ready "$work" "$first" || fail "held: the first Sorrel did not start"
  cp "$work/trace/registers.log" "$work/log.before"
  (cd "$work/trace" && cat frame-*) >"$work/frames.before"
  start_shown "$work" second SORREL_SIM=kite SORREL_SIM_TRACE="$work/trace"
  local second=$started
  until_true 30 lines "$work/second.transcript" 2 || fail "held: the second said nothing"
  ready "$work" "$second" || fail "held: the second did not end its start-up"
  kill -TERM "$second"
  finish "$second" 30
  expect_status "held, second" "$status" 0
  expect_transcript "$work/second.transcript" "held" "$NO_BOARDS" "$WRITE_FAILED"
  [ ! -s "$work/first.transcript" ] || fail "held: the first showed a message"
  [ -z "$x_display" ] || term_under_box "held, a third under its box" "$work" ERROR none SORREL_SIM=kite
  local before
  before=$(stat -c %s "$work/log.before")
  cmp -s -n "$before" "$work/log.before" "$work/trace/registers.log" || fail "held: the first's register log changed"
  (cd "$work/trace" && cat frame-*) | cmp -s - "$work/frames.before" || fail "held: the first's frames changed"
  gone "$first" && fail "held: the first Sorrel ended"
  kill -TERM "$first"
  finish "$first" 30
  expect_status "held, first" "$status" 0
  # The first's shutdown still reached its card: gains to zero, power off, then closed.
  local shutdown
  shutdown="$(tail -n +$(($(wc -l <"$work/log.before") + 1)) "$work/trace/registers.log")"
  grep -q ' W 2 10 [0-9a-f]\{6\}00$' <<<"$shutdown" || fail "held: the first's lasers were not set to zero gain"
  [ "$(tail -n 1 "$work/trace/registers.log" | awk '{print $3, $4, $5}')" = "2 00 00000000" ] ||
    fail "held: the first's card was not closed last"
}

drill_settings_read_only() {
  local work="$scratch/readonly"
  make_work "$work"
  cp "$work/registry/sorrel.reg" "$work/stored.before"
  if [ "$(id -u)" -eq 0 ]; then
    # Permissions do not stop root: a read-only mount of the folder, seen by this program only.
    start_shown "$work" sorrel SORREL_SIM=kite SORREL_SIM_TRACE="$work/trace" -- \
      unshare -m sh -c 'mount --make-rprivate / && mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" &&
                        exec "$@"' "$work/registry"
  else
    chmod 555 "$work/registry"
    start_shown "$work" sorrel SORREL_SIM=kite SORREL_SIM_TRACE="$work/trace"
  fi
  local pid=$started
  ready "$work" "$pid" || fail "read-only settings: Sorrel did not start"
  kill -TERM "$pid"
  finish "$pid" 30
  expect_status "read-only settings" "$status" 0
  chmod 755 "$work/registry"
  [ ! -s "$work/sorrel.transcript" ] || fail "read-only settings: a message was shown"
  cmp -s "$work/registry/sorrel.reg" "$work/stored.before" || fail "read-only settings: the stored settings changed"
  local said
  said="$(grep -v '^Sorrel: ended by signal' "$work/sorrel.err")"
  [ "$(grep -c . <<<"$said")" = 1 ] && grep -q "^Settings not saved to $work/registry/sorrel.reg: " <<<"$said" ||
    fail "read-only settings: standard error was: $said"
}

drill_settings_missing() {
  local work="$scratch/missing"
  make_work "$work"
  rm -r "$work/registry"
  start_shown "$work" sorrel SORREL_SIM=kite
  term_after_messages "$work" "missing settings"
  expect_transcript "$work/sorrel.transcript" "missing settings" \
    "ERROR: Error reading Board Type from registry, defaulted to Kite_SLM" "Sorrel: Could not read SIF"
  [ "$(stat -c %a "$work/registry" 2>/dev/null)" = 775 ] || fail "missing settings: the folder was not made"
  grep -q '"BoardType"="Kite_SLM"' "$work/registry/sorrel.reg" 2>/dev/null || fail "missing settings: nothing saved"
}

drill_unreadable_entries() {
  local work="$scratch/unreadable" i
  make_work "$work"
  for ((i = 0; i < 3000; i++)); do echo "$work/gone/p$i.bmp, $work/Image_Files/linear.lut"; done \
    >"$work/Sequence_Files/demo.sif"
  start "$work" sorrel SORREL_SIM=kite SORREL_SIM_TRACE="$work/trace"
  local pid=$started
  until_true 60 test -f "$work/trace/frame-0020.pgm" || fail "unreadable entries: the download did not get going"
  kill -TERM "$pid"
  finish "$pid" 30
  expect_status "unreadable entries" "$status" 143
  [ ! -f "$work/trace/frame-2999.pgm" ] || fail "unreadable entries: the signal waited for the whole download"
  grep ' W 2 10 [0-9a-f]\{6\}00$' "$work/trace/registers.log" >/dev/null ||
    fail "unreadable entries: the lasers were not set to zero gain"
  [ "$(tail -n 1 "$work/trace/registers.log" | awk '{print $3, $4, $5}')" = "2 00 00000000" ] ||
    fail "unreadable entries: the card was not closed last"
}

drill_service_clients() {
  local work="$scratch/served" socket="$XDG_RUNTIME_DIR/sorrel/board.sock" watcher caller register value
  make_work "$work"
  sed -i 's/^"HideComp"="0"$/&\n"BoardService"="1"/' "$work/registry/sorrel.reg"
  start_shown "$work" sorrel SORREL_SIM=kite SORREL_SIM_TRACE="$work/trace"
  local pid=$started
  ready "$work" "$pid" || fail "service clients: Sorrel did not start"
  until_true 30 test -S "$socket" || fail "service clients: the board service did not start"
  "$sorrelctl" power on >"$work/power.out" 2>&1 || fail "service clients: power on refused: $(cat "$work/power.out")"
  # Through the window's service alone: once it has gone, a call must fail, not open the card.
  "$sorrelctl" watch --service "$socket" >"$work/watch.out" 2>&1 &
  watcher=$!
  pids+=("$watcher")
  (while "$sorrelctl" select 1 --service "$socket" && "$sorrelctl" select 2 --service "$socket"; do :; done) \
    >"$work/select.out" 2>&1 &
  caller=$!
  pids+=("$caller")
  until_true 30 test -s "$work/watch.out" || fail "service clients: the stream said nothing"
  kill -TERM "$pid"
  finish "$pid" 30
  expect_status "service clients" "$status" 0
  finish "$watcher" 30
  # A stream the service ends is ended as the client asked: status 0, and it says why.
  expect_status "service clients, the watching client" "$status" 0
  [ "$(tail -n 1 "$work/watch.out")" = "sorrelctl: watch: the board service ended" ] ||
    fail "service clients: the watching client did not say the service ended: $(tail -n 1 "$work/watch.out")"
  finish "$caller" 30
  [ "$status" != 999 ] || fail "service clients: the calling client hung"
  for register in 10 14; do
    value=$(last_write "$work/trace/registers.log" 0 "$register")
    [ "${value:6:2}" = 00 ] || fail "service clients: register $register last written \"$value\", not a zero gain"
  done
  value=$(last_write "$work/trace/registers.log" 0 00)
  [ -n "$value" ] && (((16#$value & 0x400) == 0)) || fail "service clients: the SLM left powered (control $value)"
  [ "$(tail -n 1 "$work/trace/registers.log" | awk '{print $3, $4, $5}')" = "2 00 00000000" ] ||
    fail "service clients: the card was not closed last"
}

drill_no_card
drill_service_clients
drill_unreadable_entries
drill_fatal "another model only" "other" "ERROR: The hardware found was not 256 or 512 hardware"
drill_fatal "3.3 V supply low" "kite:3v3-low" "ERROR: 3.3 Volt Status Low" "ERROR: INIT Bits 0 0 0 0" \
  "ERROR: SDRAM Bits 19 0 0 0"
drill_fatal "DAC fault" "kite:dac-fault" 'ERROR: Could not power the DAC board.\n Is DAC power cable connected?\n'
drill_held
drill_signals_under_boxes
drill_settings_read_only
drill_settings_missing

if [ "$failures" -ne 0 ]; then
  echo "$failures drill check(s) failed" >&2
  exit 1
fi
echo "every drill ended as expected"

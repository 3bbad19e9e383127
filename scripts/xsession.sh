# Driving Sorrel's windows on a virtual X screen, for the screenshot and first-run scripts
# (sourced, not run): a window manager for the frames, windows found by their titles,
# controls clicked where the dialog layout puts them, windows captured with their frames.

# Starts openbox, so windows get frames and captions; its process id in XWM_PID.
start_window_manager() {
  XWM_PID=""
  if command -v openbox >/dev/null; then
    openbox --sm-disable >/dev/null 2>&1 &
    XWM_PID=$!
    sleep 1
  else
    echo "xsession: no window manager installed; windows will have no frames" >&2
  fi
}

stop_window_manager() {
  if [ -n "${XWM_PID:-}" ]; then kill "$XWM_PID" 2>/dev/null || true; fi
}

# The id of a shown window whose title starts with $1, waiting up to $2 seconds (default 60);
# fails when none shows.
wait_window() {
  local title="$1" limit="${2:-60}" id i
  for ((i = 0; i < limit * 5; i++)); do
    id=$(xdotool search --onlyvisible --name "^${title}" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  echo "xsession: no window titled \"$title\" showed within ${limit} s" >&2
  return 1
}

# Waits until window $1 is no longer shown, up to $2 seconds (default 60).
wait_gone() {
  local win="$1" limit="${2:-60}" i shown
  for ((i = 0; i < limit * 5; i++)); do
    shown="$(xdotool search --onlyvisible --name . 2>/dev/null || true)"
    grep -x "$win" <<<"$shown" >/dev/null || return 0
    sleep 0.2
  done
  echo "xsession: window $win still shown after ${limit} s" >&2
  return 1
}

# Waits until a file exists, up to $2 seconds (default 60).
wait_file() {
  local file="$1" limit="${2:-60}" i
  for ((i = 0; i < limit * 5; i++)); do
    [ -e "$file" ] && return 0
    sleep 0.2
  done
  echo "xsession: $file did not appear within ${limit} s" >&2
  return 1
}

# Clicks the middle of a control of window $1 given by its place in dialog units (x y cx cy),
# by the hosts' rule: x * 6 / 4 and y * 13 / 8 pixels.
click_control() {
  local win=$1 x=$2 y=$3 cx=$4 cy=$5
  local px=$(((x * 6 / 4 + (x + cx) * 6 / 4) / 2)) py=$(((y * 13 / 8 + (y + cy) * 13 / 8) / 2))
  xdotool mousemove --window "$win" "$px" "$py" click 1
  sleep 0.3
}

# A key to window $1, made the active window first; typed as a person types it.
press_key() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
  xdotool key "$2"
  sleep 0.3
}

# Window $1 into the PNG file $2, with its frame when a window manager drew one.
capture_window() {
  xdotool windowraise "$1" 2>/dev/null || true
  sleep 0.3
  import -frame -window "$1" "$2"
}

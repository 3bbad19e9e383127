#!/usr/bin/env bash
# The Debian package, installed into a scratch root without a container (dpkg --root, the
# maintainer scripts run outside a chroot with DPKG_ROOT set): its files where Debian puts
# them, the machine-wide board service's systemd unit valid and its command one the
# installed tool takes, no test support in its libraries, dependencies computed from the binaries, the sorrel
# group and the group-writable settings folder; the installed program run offscreen from
# another working folder, with no help from the environment to find its libraries, and
# started as the desktop menu starts it by an operator who is not root; then removed and
# purged cleanly.
# Usage: tests/cmake/install-deb.sh BUILD_FOLDER   (after cpack made BUILD_FOLDER/package/*.deb)
set -euo pipefail
build="$(cd "${1:?usage: install-deb.sh BUILD_FOLDER}" && pwd)"
if [ "$(id -u)" -ne 0 ]; then
  # dpkg sets the files' owners as the package says.
  exec sudo "$0" "$@"
fi
debs=("$build"/package/sorrel_*.deb)
deb="${debs[0]}"
triplet="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
scratch="$(mktemp -d)"
root="$scratch/root"
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "install-deb: FAILED: $*" >&2
  exit 1
}
[ -f "$deb" ] || fail "no package in $build/package"

mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info" "$root/etc"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# An account database of its own for the group the package adds.
for f in group gshadow passwd shadow; do : > "$root/etc/$f"; done
cp /etc/login.defs "$root/etc/"
dpkg_root() { dpkg --root="$root" --force-script-chrootless --force-depends "$@"; }

depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libstdc++6 libqt6widgets6 python3-numpy; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
dpkg_root -i "$deb" > "$scratch/dpkg.log" 2>&1 || fail "dpkg -i: $(cat "$scratch/dpkg.log")"

for f in usr/bin/Sorrel usr/bin/sorrelctl usr/bin/sorrel-samples usr/share/doc/sorrel/real-card.md usr/lib/python3/dist-packages/sorrel/__init__.py usr/share/sorrel/samples/PowerOff.bmp usr/share/sorrel/samples/Sequence_Files/Kite_demo.sif \
         usr/share/sorrel/samples/Sequence_Files/Wren_demo.sif usr/share/sorrel/help/index.html \
         usr/share/icons/hicolor/scalable/apps/sorrel.svg usr/share/applications/sorrel.desktop \
         usr/lib/systemd/system/sorrel-board.service; do
  [ -f "$root/$f" ] || fail "/$f is not installed"
done
for library in OrvBoard KiteBoard WrenBoard pci ui ui_qt; do
  [ -f "$root/usr/lib/$triplet/sorrel/lib$library.so" ] || fail "lib$library.so is not in /usr/lib/$triplet/sorrel"
done
entry="$root/usr/share/applications/sorrel.desktop"
grep -q '^Exec=Sorrel ' "$entry" || fail "the desktop entry does not start Sorrel"
# The folder the menu starts it in, when the entry names one, is one the package installs.
entry_folder="$(sed -n 's/^Path=//p' "$entry")"
[ -z "$entry_folder" ] || [ -d "$root$entry_folder" ] || fail "the desktop entry's folder $entry_folder is not installed"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry"; fi
# The unit as systemd reads it, its command the installed tool's (systemd finds it on its
# own PATH; here it is named in the scratch root).
unit="$root/usr/lib/systemd/system/sorrel-board.service"
exec_start="$(sed -n 's/^ExecStart=//p' "$unit")"
if command -v systemd-analyze >/dev/null; then
  sed "s|^ExecStart=sorrelctl |ExecStart=$root/usr/bin/sorrelctl |" "$unit" > "$scratch/sorrel-board.service"
  said="$(systemd-analyze verify "$scratch/sorrel-board.service" 2>&1)" || fail "the unit does not verify: $said"
fi
# With two cards, as the unit's comment gives them in a drop-in.
read -ra serve <<<"${exec_start/\$CARDS/--card 0000:03:00.0 --card 0000:04:00.0}"
[ "${serve[0]}" = sorrelctl ] || fail "the unit does not start sorrelctl: $exec_start"
said="$("$root/usr/bin/sorrelctl" "${serve[@]:1}" --help)" || fail "the installed sorrelctl does not take the unit's $exec_start: $said"
grep -q '^sorrel:x:[0-9]*:' "$root/etc/group" || fail "no sorrel group"
gid="$(awk -F: '$1 == "sorrel" { print $3 }' "$root/etc/group")"
[ "$(stat -c '%a %g' "$root/var/lib/sorrel")" = "2775 $gid" ] || fail "/var/lib/sorrel is $(stat -c '%a %g' "$root/var/lib/sorrel")"
[ "$(stat -c '%a %g' "$root/var/lib/sorrel/sorrel.lock")" = "660 $gid" ] || fail "the settings lock is $(stat -c '%a %g' "$root/var/lib/sorrel/sorrel.lock")"
for binary in "$root/usr/bin/Sorrel" "$root/usr/bin/sorrelctl" "$root"/usr/lib/python3/dist-packages/sorrel/_core*.so; do
  libraries="$(ldd "$binary")"
  if grep -q "not found" <<<"$libraries"; then fail "$binary does not find its libraries: $(grep 'not found' <<<"$libraries")"; fi
done
# The build tree's libraries carry test support the installed ones leave out: the installed
# libraries export none of it, and the programs need nothing that only the build tree has.
for library in "$root/usr/lib/$triplet/sorrel"/*.so "$root"/usr/lib/python3/dist-packages/sorrel/_core*.so; do
  exported="$(nm -DC --defined-only "$library")"
  if grep -i testing <<<"$exported" >/dev/null; then fail "$library exports test support: $(grep -i testing <<<"$exported" | head -3)"; fi
done
for binary in "$root/usr/bin/Sorrel" "$root/usr/bin/sorrelctl" "$root/usr/bin/sorrel-samples"; do
  resolved="$(ldd -r "$binary" 2>&1)"
  if grep "undefined symbol" <<<"$resolved" >/dev/null; then fail "$binary needs what is not installed: $(grep 'undefined symbol' <<<"$resolved" | head -3)"; fi
done

# The installed programs from another working folder: a copy of the installed samples, with
# settings that open the demo sequence.
work="$scratch/work"
cp -r "$root/usr/share/sorrel/samples" "$work"
mkdir "$scratch/settings"
cat > "$scratch/settings/sorrel.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]
"LaserDuty"="50"
"FrameRate"="10"
"LaserAGain"="200"
"LC_Type"="1"
"TrueFrames"="12"
"BoardType"="Kite_SLM"
"SequenceFile"="$work/Sequence_Files/Kite_demo.sif"
"PhaseCompFileName"=""
"SysPhaseCompFileName"=""
"ApplyCorrection"="0"
"HideComp"="0"
REG
# Replaces the calling (sub)shell, so a background run's $! is the program itself.
in_work() {
  cd "$work"
  exec env -i PATH=/usr/bin:/bin HOME="$scratch" XDG_RUNTIME_DIR="$scratch" SORREL_SIM=kite \
    SORREL_SIM_TRACE="$scratch/trace" SORREL_REGISTRY="$scratch/settings" QT_QPA_PLATFORM=offscreen "$@"
}
# Each names the set-up guide where the package installed it.
for command in "Sorrel --list-cards" "sorrelctl cards"; do
  said="$(in_work "$root/usr/bin/${command%% *}" "${command#* }")" || fail "$command: $said"
  grep -q "^Backend serving this process: simulated" <<<"$said" || fail "$command: $said"
  guide="$(sed -n 's/^Setting a card up: //p' <<<"$said")"
  [ "$guide" = "$root/usr/share/doc/sorrel/real-card.md" ] && [ -f "$guide" ] || fail "$command names the guide $guide"
done
# The installed module, imported by the system's Python from the scratch root, composes a
# Kite frame and drives the simulated board.
said="$(in_work env PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c '
import sorrel
phase = sorrel.zernike({"Power": 1.0}, board="kite")
assert phase.shape == (512, 512) and phase.dtype.name == "uint8", phase.shape
with sorrel.open_board() as board:
    board.write_frame(0, phase)
    board.select(0)
print("module ok")')" || fail "the installed Python module: $said"
grep -q "^module ok" <<<"$said" || fail "the installed Python module: $said"
# The start from the desktop menu, by an operator of the sorrel group who is not root, with a
# home of their own and the package's machine-wide settings store (still empty): the entry's
# Exec in its folder (the home when it names none), the installed programs first on PATH, on
# a virtual screen. It must open the demo in a working folder of the operator's, reach its
# main window, and save the settings when SIGTERM ends it, with status 0.
operator=65534
home="$scratch/home"
mkdir -p "$home" "$scratch/runtime" "$scratch/menu-trace"
chown "$operator:$gid" "$home" "$scratch/runtime" "$scratch/menu-trace"
chmod 700 "$scratch/runtime"
chmod 755 "$scratch"
read -ra command <<<"$(sed -n 's/^Exec=//p' "$entry")"
cat > "$scratch/menu-start.sh" <<'SH'
# On the virtual screen: starts the entry's command as the operator in the entry's folder
# (the home when empty), waits for the end of start-up, ends it by SIGTERM; prints the store's
# file id and the program's working folder before the end, then the exit status.
store="$1/sorrel.reg" folder="${2:-$5}" operator="$3" group="$4" home="$5"
shift 5
cd "$folder"
setpriv --reuid="$operator" --regid="$group" --clear-groups env -i PATH="$ROOT/usr/bin:/usr/bin:/bin" \
  HOME="$home" XDG_RUNTIME_DIR="$RUNTIME" DISPLAY="$DISPLAY" SORREL_SIM=kite SORREL_SIM_TRACE="$TRACE" \
  SORREL_REGISTRY="$(dirname "$store")" "$@" >"$LOG" 2>&1 &
pid=$!
for _ in $(seq 1 600); do
  # The live view opens once start-up is done (the main window shows during it).
  xdotool search --all --onlyvisible --pid "$pid" --name "^SLM Live View$" >/dev/null 2>&1 && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
stat -c %i "$store" 2>/dev/null || echo none
readlink "/proc/$pid/cwd" || echo none
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
echo "$status"
SH
ended="$(ROOT="$root" RUNTIME="$scratch/runtime" TRACE="$scratch/menu-trace" LOG="$scratch/menu.log" \
  xvfb-run -a -s "-ac -screen 0 1280x1024x24" bash "$scratch/menu-start.sh" "$root/var/lib/sorrel" \
  "${entry_folder:+$root$entry_folder}" "$operator" "$gid" "$home" "${command[@]}")" ||
  fail "the start from the menu: $ended"
shown_store="$(sed -n 1p <<<"$ended")"
[ "$(sed -n 3p <<<"$ended")" = 0 ] || fail "the start from the menu ended with status $(sed -n 3p <<<"$ended"): $(cat "$scratch/menu.log")"
own="$home/.local/share/sorrel/samples"
[ "$(sed -n 2p <<<"$ended")" = "$own" ] || fail "the menu's Sorrel worked in $(sed -n 2p <<<"$ended"), not in $own"
[ "$(stat -c %u "$own/Sequence_Files/Kite_demo.sif" 2>/dev/null)" = "$operator" ] ||
  fail "no working folder of the operator's at $own: $(cat "$scratch/menu.log")"
[ -e "$scratch/menu-trace/frame-0014.pgm" ] || fail "the demo sequence was not downloaded: $(cat "$scratch/menu.log")"
grep -qx "\"SequenceFile\"=\"$own/Sequence_Files/Kite_demo.sif\"" "$root/var/lib/sorrel/sorrel.reg" ||
  fail "the machine-wide store does not open the operator's demo: $(cat "$root/var/lib/sorrel/sorrel.reg")"
# Settings are saved by replacing the file whole: a new file once the window had shown.
[ "$shown_store" != none ] && [ "$(stat -c %i "$root/var/lib/sorrel/sorrel.reg")" != "$shown_store" ] ||
  fail "the settings were not saved at the end: $(cat "$scratch/menu.log")"

dpkg_root -r sorrel > "$scratch/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$scratch/dpkg.log")"
[ ! -e "$root/usr/bin/Sorrel" ] || fail "the program stays after removal"
[ ! -d "$root/usr" ] || [ -z "$(find "$root/usr" -type f)" ] || fail "files stay after removal: $(find "$root/usr" -type f | sed -n 1,3p)"
[ -d "$root/var/lib/sorrel" ] || fail "removal took the settings folder (only purging may)"
dpkg_root -P sorrel > "$scratch/dpkg.log" 2>&1 || fail "dpkg -P: $(cat "$scratch/dpkg.log")"
[ ! -e "$root/var/lib/sorrel" ] || fail "purging left /var/lib/sorrel"
echo "install-deb: passed ($(basename "$deb"), Depends: $depends)"

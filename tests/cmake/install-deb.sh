#!/usr/bin/env bash
# The Debian package, installed into a scratch root without a container (dpkg --root, the
# maintainer scripts run outside a chroot with DPKG_ROOT set): its files where Debian puts
# them, dependencies computed from the binaries, the sorrel group and the group-writable
# settings folder; the installed program run offscreen from another working folder, with
# no help from the environment to find its libraries; then removed and purged cleanly.
# Usage: tests/cmake/install-deb.sh BUILD_FOLDER   (after cpack made BUILD_FOLDER/package/*.deb)
set -euo pipefail
build="$(cd "${1:?usage: install-deb.sh BUILD_FOLDER}" && pwd)"
if [ "$(id -u)" -ne 0 ]; then
  # dpkg sets the files' owners as the package says.
  exec sudo "$0" "$@"
fi
deb="$(ls "$build"/package/sorrel_*.deb | head -n 1)"
triplet="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
scratch="$(mktemp -d)"
root="$scratch/root"
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "install-deb: FAILED: $*" >&2
  exit 1
}

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

for f in usr/bin/Sorrel usr/bin/sorrelctl usr/lib/python3/dist-packages/sorrel/__init__.py usr/share/sorrel/samples/PowerOff.bmp usr/share/sorrel/samples/Sequence_Files/Kite_demo.sif \
         usr/share/sorrel/samples/Sequence_Files/Wren_demo.sif usr/share/sorrel/help/index.html \
         usr/share/icons/hicolor/scalable/apps/sorrel.svg usr/share/applications/sorrel.desktop; do
  [ -f "$root/$f" ] || fail "/$f is not installed"
done
for library in OrvBoard KiteBoard WrenBoard pci ui ui_qt; do
  [ -f "$root/usr/lib/$triplet/sorrel/lib$library.so" ] || fail "lib$library.so is not in /usr/lib/$triplet/sorrel"
done
grep -q '^Exec=Sorrel' "$root/usr/share/applications/sorrel.desktop" || fail "the desktop entry does not start Sorrel"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$root/usr/share/applications/sorrel.desktop"; fi
grep -q '^sorrel:x:[0-9]*:' "$root/etc/group" || fail "no sorrel group"
gid="$(awk -F: '$1 == "sorrel" { print $3 }' "$root/etc/group")"
[ "$(stat -c '%a %g' "$root/var/lib/sorrel")" = "2775 $gid" ] || fail "/var/lib/sorrel is $(stat -c '%a %g' "$root/var/lib/sorrel")"
[ "$(stat -c '%a %g' "$root/var/lib/sorrel/sorrel.lock")" = "660 $gid" ] || fail "the settings lock is $(stat -c '%a %g' "$root/var/lib/sorrel/sorrel.lock")"
for binary in "$root/usr/bin/Sorrel" "$root/usr/bin/sorrelctl" "$root"/usr/lib/python3/dist-packages/sorrel/_core*.so; do
  if ldd "$binary" | grep -q "not found"; then fail "$binary does not find its libraries: $(ldd "$binary" | grep 'not found')"; fi
done

# The installed program from another working folder: a copy of the installed samples, with
# settings that open the demo sequence (all but LaserBGain, which only a save of Sorrel's adds).
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
(in_work "$root/usr/bin/Sorrel" --list-cards) | grep -q "^Backend serving this process: simulated" || fail "--list-cards"
(in_work "$root/usr/bin/sorrelctl" cards) | grep -q "^Backend serving this process: simulated" || fail "sorrelctl cards"
# The installed module, imported by the system's Python from the scratch root, composes a
# Kite frame and drives the simulated board.
(in_work env PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c '
import sorrel
phase = sorrel.zernike({"Power": 1.0}, board="kite")
assert phase.shape == (512, 512) and phase.dtype.name == "uint8", phase.shape
with sorrel.open_board() as board:
    board.write_frame(0, phase)
    board.select(0)
print("module ok")') | grep -q "^module ok" || fail "the installed Python module"
# A start-up that reaches the main window saves the settings when SIGTERM ends it, with
# status 0; one ended before it is ready saves nothing and ends by the signal.
in_work "$root/usr/bin/Sorrel" > "$scratch/sorrel.log" 2>&1 &
pid=$!
# The demo's last frame on the board; START comes right after it.
for _ in $(seq 1 300); do
  [ -e "$scratch/trace/frame-0014.pgm" ] && break
  sleep 0.1
done
sleep 1
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "the installed program ended with status $status: $(cat "$scratch/sorrel.log")"
grep -q '^"LaserBGain"=' "$scratch/settings/sorrel.reg" || fail "the settings were not saved: it never reached its window: $(cat "$scratch/settings/sorrel.reg" "$scratch/sorrel.log")"

dpkg_root -r sorrel > "$scratch/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$scratch/dpkg.log")"
[ ! -e "$root/usr/bin/Sorrel" ] || fail "the program stays after removal"
[ ! -d "$root/usr" ] || [ -z "$(find "$root/usr" -type f)" ] || fail "files stay after removal: $(find "$root/usr" -type f | head -n 3)"
[ -d "$root/var/lib/sorrel" ] || fail "removal took the settings folder (only purging may)"
dpkg_root -P sorrel > "$scratch/dpkg.log" 2>&1 || fail "dpkg -P: $(cat "$scratch/dpkg.log")"
[ ! -e "$root/var/lib/sorrel" ] || fail "purging left /var/lib/sorrel"
echo "install-deb: passed ($(basename "$deb"), Depends: $depends)"

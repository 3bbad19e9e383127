#!/usr/bin/env bash
# Installs what is missing, builds Sorrel and its sample working folder, and runs Sorrel in
# that folder on the simulated Kite board, with the live view of the SLM open. A first run
# stores settings that load the demo sequence; later runs keep what the operator chose.
#   SORREL_REGISTRY  the settings folder (default: ~/.config/sorrel, or $XDG_CONFIG_HOME/sorrel)
#   SORREL_SIM       the simulated bus (default: kite)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show Sorrel's window on (DISPLAY is not set); on a virtual screen: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi
cmake --preset release >/dev/null
cmake --build --preset release --target Sorrel SorrelSamples SorrelHelp

work="$PWD/build/release/share/sorrel/samples"
# The demo never writes the machine-wide store, as root neither: settings go to a folder of
# the user who runs it.
export SORREL_REGISTRY="${SORREL_REGISTRY:-${XDG_CONFIG_HOME:-$HOME/.config}/sorrel}"
export SORREL_SIM="${SORREL_SIM:-kite}"
./build/release/bin/sorrel-samples --seed-settings "$work" kite
echo "Sorrel works in $work and keeps its settings in $SORREL_REGISTRY/sorrel.reg"
echo "Press START to run the demo sequence; the live view shows what the SLM shows."
cd "$work"
exec "$OLDPWD/build/release/bin/Sorrel" --live-view "$@"

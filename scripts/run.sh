#!/usr/bin/env bash
# Installs what is missing, builds Sorrel and runs it on the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target Sorrel
exec ./build/release/bin/Sorrel

#!/usr/bin/env bash
# Installs what is missing, builds every test and runs them: the release build with the
# Qt host (then its Debian package, installed into a scratch root, and the run command's
# first and second run from a fresh clone), then the AddressSanitizer +
# UndefinedBehaviorSanitizer build, then the ThreadSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
# With the Python module and sorrelctl from a script's side (label python) and the Debian
# package in a scratch root (label package).
ctest --preset release -j "$jobs"
# The run command on a fresh clone under xvfb-run.
bash tests/scripts/first-run.sh

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# The saves killed at random are the release stage's: what they check is the bytes a killed
# process leaves on disk, and under the sanitizers they take minutes.
ctest --preset asan -j "$jobs" -E 'SavesKilledAtRandom'

cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
# The preset sets TSAN_OPTIONS, with the suppressions for the system's gRPC, protobuf and
# Abseil, which are not built with ThreadSanitizer (tests/tsan-system-libs.supp).
ctest --preset tsan -j "$jobs" -E 'SavesKilledAtRandom'

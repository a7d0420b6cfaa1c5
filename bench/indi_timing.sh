#!/bin/sh
# Times an INDI exposure (CCD_EXPOSURE to the FITS BLOB in the client) through indiserver and
# indi_kyr_ccd against kyr-sim paced at 115200 baud (goal: ratio within 1.02), a 64 x 64
# sub-frame against it (goal: within 0.35 of its time) and an abort (goal: free within 0.5 s).
#   bench/indi_timing.sh [BUILD-DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-release}
./scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKYR_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kyr-indi-timing
"$build/bench/kyr-indi-timing" --baud 115200

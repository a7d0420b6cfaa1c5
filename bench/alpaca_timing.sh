#!/bin/sh
# Times an Alpaca exposure (startexposure to the ImageBytes array in the client) through
# kyr-alpaca against kyr-sim paced at 115200 baud (goal: ratio within 1.02), and shows the
# JSON array's cost beside it.
#   bench/alpaca_timing.sh [BUILD-DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-release}
./scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKYR_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kyr-alpaca-timing
"$build/bench/kyr-alpaca-timing" --baud 115200

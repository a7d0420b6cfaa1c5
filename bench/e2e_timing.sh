#!/bin/sh
# Times a screen-image download and a firmware upload against kyr-sim at 115200 baud, then the
# download through ser2net with contrib/ser2net.yaml (raw and RFC 2217), and prints each
# against the wire-time bound of the bytes exchanged (goals: ratio within 1.05 on the line,
# within 1.02 through ser2net). Last, the download through ser2net behind kyr-delay-proxy,
# against the wire time plus one round trip per request (goal: within 1.10, and the image
# bit-exact): at 150 ms one way over RFC 2217, then at 350 ms over raw TCP (about three
# minutes: 201 round trips of 0.7 s).
#   bench/e2e_timing.sh [BUILD-DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-release}
./scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKYR_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kyr-e2e-timing kyr-sim kyr-delay-proxy
export QT_QPA_PLATFORM=offscreen
for what in download upload; do
    "$build/bench/kyr-e2e-timing" "$what" --baud 115200 --sim "$build/src/sim/kyr-sim"
done
for via in raw rfc2217; do
    "$build/bench/kyr-e2e-timing" download --baud 115200 --sim "$build/src/sim/kyr-sim" \
        --via "$via" --ser2net-config contrib/ser2net.yaml
done
# The download twice more, plainly and through the window that draws each row as it arrives:
# the two ratios should stay within 1 % of each other.
for how in "" --window; do
    "$build/bench/kyr-e2e-timing" download --baud 115200 --sim "$build/src/sim/kyr-sim" $how
done
# A remote observatory's link: 300 ms round trip; then an intercontinental one, 700 ms.
"$build/bench/kyr-e2e-timing" download --baud 115200 --sim "$build/src/sim/kyr-sim" \
    --via rfc2217 --ser2net-config contrib/ser2net.yaml --delay 150
"$build/bench/kyr-e2e-timing" download --baud 115200 --sim "$build/src/sim/kyr-sim" \
    --via raw --ser2net-config contrib/ser2net.yaml --delay 350

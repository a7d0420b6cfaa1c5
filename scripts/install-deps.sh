#!/bin/sh
# Installs every Debian package the console needs to build, test, fuzz, benchmark and package.
# Idempotent: packages already present are skipped. Needs root (or prints the command).
set -eu

PACKAGES="
ca-certificates
g++
cmake
ninja-build
pkg-config
clang
libclang-rt-14-dev
qt6-base-dev
qt6-serialport-dev
qt6-qpa-plugins
libgl-dev
fontconfig
fonts-dejavu-core
fonts-liberation
libgtest-dev
libgmock-dev
libbenchmark-dev
libcfitsio-dev
libasio-dev
nlohmann-json3-dev
fitsverify
libindi-dev
indi-bin
xvfb
xauth
dpkg-dev
help2man
librsvg2-bin
desktop-file-utils
appstream
man-db
ser2net
python3-serial
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

cmd="apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them as root with:" >&2
    echo "  apt-get update && $cmd" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=300 update
$cmd

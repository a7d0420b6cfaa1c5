#!/bin/sh
# Builds the Debian package from a built tree, unpacks it with dpkg-deb into a temporary root
# and checks what an installation needs: programs that run from there, a valid desktop entry
# and metainfo, icons, man pages that render, the documents, and dependencies that come from
# the programs' libraries and from nothing on this machine. Then builds it again: the same
# bytes, every file dated at the release.
#   check_package.sh CPACK BUILD_DIR VERSION PACKAGE_VERSION RELEASE_EPOCH "PROGRAMS" "DEPENDENCIES"
set -eu
cpack=$1 build=$2 version=$3 package_version=$4 release_epoch=$5 programs=$6 dependencies=$7
app_id=org.kyrconsole.KyrConsole

work=$(mktemp -d "${TMPDIR:-/tmp}/kyr-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack" >&2
    exit 1
fi
set -- "$work"/out/*.deb
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "FAIL: expected one .deb, got: $*" >&2
    exit 1
fi
deb=$1
ddeb=$work/out/kyr-console-dbgsym_${package_version}_$(dpkg-deb -f "$deb" Architecture).ddeb
root=$work/root
dpkg-deb -x "$deb" "$root"

# Control data: name, version, the libraries' packages, no paths of this machine.
[ "$(dpkg-deb -f "$deb" Package)" = kyr-console ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$package_version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
case "$package_version" in "$version"-*) ;; *) fail "package version $package_version is not of $version" ;; esac
[ -n "$(dpkg-deb -f "$deb" Homepage)" ] || fail "no Homepage"
depends=$(dpkg-deb -f "$deb" Depends)
for d in $dependencies; do
    case "$depends" in *"$d"*) ;; *) fail "Depends lacks $d: $depends" ;; esac
done
case "$depends" in *-dev*) fail "Depends names a development package: $depends" ;; esac
[ -n "$(dpkg-deb -f "$deb" Description | sed -n 2p)" ] || fail "no long description"
info=$(dpkg-deb -I "$deb")
for p in "$build" "$(cd "$build" && pwd -P)" /usr/local /home /tmp; do
    case "$info" in *"$p"*) fail "dpkg-deb -I mentions $p" ;; esac
done
# Outside /usr only kyr-alpaca's environment file, which the observer edits.
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -v '^\./$' |
    grep -vx '\./etc/' | grep -vx '\./etc/default/' | grep -vx '\./etc/default/kyr-alpaca' \
    >"$work/outside" || true
[ ! -s "$work/outside" ] || fail "files outside /usr: $(cat "$work/outside")"

# The programs run from the unpacked root and answer --version and --help.
for p in $programs; do
    exe=$root/usr/bin/$p
    if [ ! -x "$exe" ]; then
        fail "usr/bin/$p missing"
        continue
    fi
    first=$("$exe" --version | head -n 1)
    [ "$first" = "$p (KYR Remote Operation Console) $version" ] || fail "$p --version: $first"
    "$exe" --help >"$work/help" || fail "$p --help exit status"
    grep -q "^Usage: $p" "$work/help" || fail "$p --help: $(head -n 1 "$work/help")"
    if readelf -d "$exe" | grep -q 'RPATH\|RUNPATH'; then fail "$p keeps a library path"; fi
    # Stripped: the debug information is in the dbgsym package, found by the build ID.
    if readelf -S "$exe" | grep -q '\.debug_info'; then fail "$p is not stripped"; fi
    build_id=$(readelf -n "$exe" | sed -n 's/.*Build ID: *//p')
    dpkg-deb -c "$ddeb" 2>/dev/null | grep -q "/usr/lib/debug/\.build-id/$(echo "$build_id" | cut -c1-2)/$(echo "$build_id" | cut -c3-)\.debug$" ||
        fail "no debug symbols for $p (build ID $build_id) in $(basename "$ddeb")"
    page=$root/usr/share/man/man1/$p.1.gz
    if [ ! -f "$page" ]; then
        fail "man page $p(1) missing"
        continue
    fi
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/man.txt" 2>"$work/man.err" ||
        fail "man -l $p.1.gz"
    [ ! -s "$work/man.err" ] || fail "$p(1) warnings: $(cat "$work/man.err")"
    grep -q "^NAME" "$work/man.txt" && grep -q "$p" "$work/man.txt" && grep -q "$version" "$work/man.txt" ||
        fail "$p(1) renders without its name or version"
done
case " $programs " in
*" indi_kyr_ccd "*)
    grep -q "<version>$version</version>" "$root/usr/share/indi/indi_kyr.xml" ||
        fail "usr/share/indi/indi_kyr.xml missing or not of version $version"
    ;;
esac

# kyr-alpaca's systemd unit: installed, not enabled, its environment file a conffile.
case " $programs " in
*" kyr-alpaca "*)
    unit=$root/usr/lib/systemd/system/kyr-alpaca.service
    defaults=$root/etc/default/kyr-alpaca
    if [ ! -f "$unit" ] || [ ! -f "$defaults" ]; then
        fail "kyr-alpaca.service or /etc/default/kyr-alpaca missing"
    else
        grep -qx 'EnvironmentFile=/etc/default/kyr-alpaca' "$unit" || fail "unit's EnvironmentFile"
        grep -q '^ExecStart=kyr-alpaca --line ${KYR_ALPACA_LINE} --listen ${KYR_ALPACA_LISTEN}' "$unit" ||
            fail "unit's ExecStart"
        grep -qx 'KYR_ALPACA_LINE=/dev/ttyUSB0' "$defaults" || fail "default line"
        grep -qx 'KYR_ALPACA_LISTEN=127.0.0.1:11111' "$defaults" || fail "default listen address"
        dpkg-deb -I "$deb" conffiles 2>/dev/null | grep -qx /etc/default/kyr-alpaca ||
            fail "/etc/default/kyr-alpaca is not a conffile"
        for script in preinst postinst prerm postrm; do
            if dpkg-deb -I "$deb" "$script" >/dev/null 2>&1; then fail "a $script enables or starts units"; fi
        done
        if command -v systemd-analyze >/dev/null; then
            # Every key known; only the program itself is not installed here.
            systemd-analyze verify --man=no "$unit" 2>&1 |
                grep -v 'Command kyr-alpaca is not executable' >"$work/unit.log" || true
            [ ! -s "$work/unit.log" ] || fail "systemd-analyze verify: $(cat "$work/unit.log")"
        fi
    fi
    ;;
esac

# Desktop entry, metainfo and icons.
desktop=$root/usr/share/applications/$app_id.desktop
if desktop-file-validate "$desktop" >"$work/dfv" 2>&1 && [ ! -s "$work/dfv" ]; then :; else
    fail "desktop-file-validate: $(cat "$work/dfv")"
fi
grep -qx 'Name=KYR Remote Console' "$desktop" || fail "desktop Name"
grep -qx 'Categories=Science;Astronomy;' "$desktop" || fail "desktop Categories"
grep -qx "Icon=$app_id" "$desktop" || fail "desktop Icon"
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$work/asv" 2>&1 || fail "appstreamcli: $(cat "$work/asv")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo release version"
grep -q '<url type="homepage">https://' "$metainfo" || fail "metainfo homepage"
icons=$root/usr/share/icons/hicolor
[ -f "$icons/scalable/apps/$app_id.svg" ] || fail "scalable icon missing"
for size in 16 22 24 32 48 64 128 256; do
    png=$icons/${size}x$size/apps/$app_id.png
    # PNG signature, then the width and height of its header chunk.
    dims=$(od -An -tu1 -N24 "$png" 2>/dev/null | tr -s ' \n' ' ' |
        awk '{ print ($2 == 80 && $3 == 78 && $4 == 71) ? ($17*16777216 + $18*65536 + $19*256 + $20) "x" ($21*16777216 + $22*65536 + $23*256 + $24) : "-" }')
    [ "$dims" = "${size}x$size" ] || fail "icon ${size}x$size is $dims"
done

# Documents: the README for the installed programs (not the source tree's), the remote
# telescope's how-to with its ser2net configuration, changelogs, copyright, lintian's notes.
doc=$root/usr/share/doc/kyr-console
grep -q 'kyrctl' "$doc/README.md" || fail "README missing"
if grep -q '\./kyr\|build/src' "$doc/README.md"; then fail "README speaks of the source tree"; fi
grep -q 'dialout' "$doc/README.md" || fail "README says nothing of the dialout group"
grep -q 'examples/ser2net.yaml' "$doc/remote-telescope.md" || fail "remote-telescope.md"
cmp -s "$doc/examples/ser2net.yaml" "$(dirname "$0")/../../contrib/ser2net.yaml" ||
    fail "examples/ser2net.yaml is not contrib/ser2net.yaml"
grep -q '^License: GPL-3.0-or-later' "$doc/copyright" || fail "copyright file"
grep -q '^Source: https://' "$doc/copyright" || fail "copyright file without Source:"
gzip -dc "$doc/changelog.gz" | grep -q "^## $version " || fail "changelog.gz lacks $version"
gzip -dc "$doc/changelog.Debian.gz" | head -n 1 | grep -q "^kyr-console ($package_version) " ||
    fail "changelog.Debian.gz does not start with $package_version"
[ -f "$root/usr/share/lintian/overrides/kyr-console" ] || fail "lintian overrides missing"

# kyr-console --simulator finds the simulator beside itself, and on the PATH when apart.
if [ -x "$root/usr/bin/kyr-console" ]; then
    run_console() {
        env -u KYR_SIM QT_QPA_PLATFORM=offscreen PATH="$1" "$2" --screenshot "$work/shot.png" \
            --simulator >"$work/console.log" 2>&1 && [ -s "$work/shot.png" ]
    }
    run_console /usr/bin:/bin "$root/usr/bin/kyr-console" ||
        fail "installed kyr-console --simulator: $(cat "$work/console.log")"
    mkdir "$work/apart"
    cp "$root/usr/bin/kyr-console" "$work/apart/"
    rm -f "$work/shot.png"
    run_console "$root/usr/bin:/usr/bin:/bin" "$work/apart/kyr-console" ||
        fail "kyr-console --simulator with kyr-sim on the PATH: $(cat "$work/console.log")"
fi

# Every file in md5sums as dpkg checks them (by its path in the package); the debug symbols
# share the main package's documents.
mkdir "$work/dbgsym"
dpkg-deb -x "$ddeb" "$work/dbgsym"
for f in "$deb" "$ddeb"; do
    case $f in *.ddeb) r=$work/dbgsym ;; *) r=$root ;; esac
    dpkg-deb --ctrl-tarfile "$f" | tar -xOf - ./md5sums >"$work/md5sums"
    # Outside usr/ only the conffiles (kyr-alpaca's environment file).
    (dpkg-deb --ctrl-tarfile "$f" | tar -xOf - ./conffiles 2>/dev/null || true) |
        sed 's|^/||' >"$work/conffiles"
    grep -v '^[0-9a-f]\{32\}  usr/' "$work/md5sums" | cut -c35- | grep -vxF -f "$work/conffiles" \
        >"$work/outside-md5" || true
    [ ! -s "$work/outside-md5" ] || fail "$(basename "$f"): md5sums names $(head -n 1 "$work/outside-md5")"
    (cd "$r" && md5sum --quiet -c "$work/md5sums") >"$work/md5.log" 2>&1 ||
        fail "$(basename "$f"): md5sums: $(head -n 3 "$work/md5.log")"
done
[ "$(readlink "$work/dbgsym/usr/share/doc/kyr-console-dbgsym")" = kyr-console ] ||
    fail "$(basename "$ddeb") without its usr/share/doc link"

# Reproducible: a second build of the same tree gives the same bytes, and every file, the
# control members included, is dated at the release (SOURCE_DATE_EPOCH), not at the build.
if "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/again" >"$work/cpack.log" 2>&1; then
    for f in "$deb" "$ddeb"; do
        cmp -s "$f" "$work/again/$(basename "$f")" || fail "a second build of $(basename "$f") differs"
    done
else
    fail "second cpack: $(cat "$work/cpack.log")"
fi
for f in "$deb" "$ddeb"; do
    for part in --fsys-tarfile --ctrl-tarfile; do
        dpkg-deb "$part" "$f" | TZ=UTC tar -tv --full-time -f - | awk '{ print $4 " " $5 }' |
            sort -u >"$work/times"
        [ "$(cat "$work/times")" = "$(TZ=UTC date -d "@$release_epoch" '+%Y-%m-%d %H:%M:%S')" ] ||
            fail "$(basename "$f") $part: file times $(tr '\n' ' ' <"$work/times")"
    done
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed on $(basename "$deb")" >&2
    exit 1
fi
echo "$(basename "$deb"): all checks passed"

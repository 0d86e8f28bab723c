#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks the tree, then makes
# the Debian package and checks that it carries the same tree, dependencies
# read off the libraries, that lintian finds nothing at the error and warning
# levels nor a missing hardening flag, and that dpkg would install it here. Usage:
#   tests/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

id=org.qelplayer.Qel
tree=(
    bin/qel
    share/applications/$id.desktop
    share/metainfo/$id.metainfo.xml
    share/icons/hicolor/16x16/apps/$id.png
    share/icons/hicolor/32x32/apps/$id.png
    share/icons/hicolor/48x48/apps/$id.png
    share/icons/hicolor/scalable/apps/$id.svg
    share/man/man1/qel.1.gz
    share/doc/qel/changelog.gz
    share/doc/qel/copyright
)

echo "== cmake --install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for path in "${tree[@]}"; do
    [ -s "$prefix/$path" ] || fail "not installed: $path"
done
[ -x "$prefix/bin/qel" ] || fail "bin/qel is not executable"
for size in 16 32 48; do
    geometry=$(identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png")
    [ "$geometry" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $geometry"
done
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
grep -qx "Exec=qel %f" "$prefix/share/applications/$id.desktop" || fail "Exec does not take a file"
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "Icon is not the installed one"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "metainfo"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/qel.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page: $warnings"
man -l "$prefix/share/man/man1/qel.1.gz" 2>/dev/null | grep -q "Ctrl+Alt+X" || fail "man page has no keys"

echo "== the default applications with only Qel installed"
# xdg-open asks xdg-mime; the launcher must be offered for videos, never for folders.
update-desktop-database "$prefix/share/applications"
query_default() {
    env -i PATH="$PATH" HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CONFIG_DIRS="$work/none" \
        XDG_DATA_HOME="$work/home/data" XDG_DATA_DIRS="$prefix/share" xdg-mime query default "$1"
}
for type in video/mpeg video/x-ms-wmv video/x-ms-asf; do
    [ "$(query_default "$type")" = "$id.desktop" ] || fail "Qel is not the application for $type"
done
folders=$(query_default inode/directory)
[ -z "$folders" ] || fail "folders open with $folders"

echo "== cpack -G DEB"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/deb/qel_*.deb 2>/dev/null | head -1)
if [ -z "$deb" ]; then
    fail "no package made"
else
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for library in libmpv libpulse0 libqt6widgets6 libqt6dbus6 libc6; do
        grep -q "$library" <<<"$depends" || fail "the package does not depend on $library"
    done
    grep -q fonts-vlgothic <<<"$depends" || fail "the package does not depend on the window's font"
    listing=$(dpkg-deb -c "$deb")
    for path in "${tree[@]}"; do
        grep -q "\./usr/$path\$" <<<"$listing" || fail "not in the package: /usr/$path"
    done
    # Hardening tags are only informational here: fail on them too, except
    # no-fortify-functions, which lintian also gives when no call has a size
    # known at compile time; the fortified build is checked below instead.
    lintian --display-info --fail-on none "$deb" >"$work/lintian.log" 2>&1 ||
        { cat "$work/lintian.log" >&2; fail "lintian did not run"; }
    cat "$work/lintian.log"
    tags=$(grep -E '^[EW]: |hardening-' "$work/lintian.log" | grep -v hardening-no-fortify-functions || true)
    [ -z "$tags" ] || fail "lintian: $(tr '\n' ';' <<<"$tags")"
    dpkg-deb -x "$deb" "$work/unpacked"
    program=$work/unpacked/usr/bin/qel
    # Whole outputs first: grep -q would end readelf early, and pipefail would count that.
    dynamic=$(readelf -d "$program") segments=$(readelf -lW "$program")
    symbols=$(readelf -W --dyn-syms "$program") sections=$(readelf -SW "$program")
    grep -Eq 'FLAGS.*BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || fail "the program is not bound now"
    grep -q GNU_RELRO <<<"$segments" || fail "the program has no RELRO segment"
    grep -q __stack_chk_fail <<<"$symbols" || fail "the program has no stack protector"
    ! grep -q '\.debug_' <<<"$sections" || fail "the packaged program is not stripped"
    grep -q -- '-D_FORTIFY_SOURCE=2.*shell/main.cpp' "$build/compile_commands.json" ||
        fail "the program is built without _FORTIFY_SOURCE"
    dpkg --dry-run -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg would not install it"; }
fi

[ "$failures" -eq 0 ] && echo "install tree and package: all checks passed"
exit $((failures > 0))

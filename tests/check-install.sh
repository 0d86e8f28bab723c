#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the tree, then makes
# the Debian package and checks that it carries the same tree, dependencies
# read off the libraries, and that dpkg would install it here. Usage:
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
    share/man/man1/qel.1
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
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/qel.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page: $warnings"
man -l "$prefix/share/man/man1/qel.1" 2>/dev/null | grep -q "Ctrl+Alt+X" || fail "man page has no keys"

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
    dpkg --dry-run -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg would not install it"; }
fi

[ "$failures" -eq 0 ] && echo "install tree and package: all checks passed"
exit $((failures > 0))

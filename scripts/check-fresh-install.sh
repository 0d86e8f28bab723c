#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that the README's two commands work on a minimal Debian 12 or 13:
# builds a minbase root of the release with debootstrap (cached between runs),
# copies this checkout in, runs scripts/run.sh there against an Xvfb of this
# machine until the window maps, then runs scripts/test.sh there with every
# label that needs no network. Runs as root. Slow (a bootstrap, some 500
# packages and two builds), so it is not part of the test command. Usage:
#   scripts/check-fresh-install.sh bookworm|trixie
# QEL_FRESH_CACHE: where the bootstraps and logs are kept (default
# /var/cache/qel-fresh). QEL_FRESH_MIRROR: the Debian mirror (default: this
# machine's apt source for the release, or else for its own release).
# QEL_FRESH_TIMEOUT: seconds for the first command (default 3600).
# Bash reads a script as it runs it: the braces make it read this one whole
# first, so that editing the checkout during the long run cannot change it.
{
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
suite=${1:-}
case "$suite" in
    bookworm) release="Debian 12" ;;
    trixie) release="Debian 13" ;;
    *) echo "usage: scripts/check-fresh-install.sh bookworm|trixie" >&2; exit 2 ;;
esac
labels='offscreen|e2e|sound|packaging|wayland'
cache=${QEL_FRESH_CACHE:-/var/cache/qel-fresh}
timeout=${QEL_FRESH_TIMEOUT:-3600}
[ "$(id -u)" -eq 0 ] || { echo "check-fresh-install: run as root (debootstrap, chroot, mount)" >&2; exit 1; }
"$root/scripts/install-deps.sh" fresh

# The first "deb" source for a suite, deb822 or one-line style.
host_mirror() { # suite
    local suite=$1
    local files=(/etc/apt/sources.list.d/*.sources)
    [ -e "${files[0]}" ] && awk -v suite="$suite" 'BEGIN { RS = "" }
        {
            types = ""; suites = ""; uris = ""; enabled = "yes"
            n = split($0, lines, "\n")
            for (i = 1; i <= n; i++) {
                line = lines[i]
                if (sub(/^Types:[ \t]*/, "", line)) types = line
                else if (sub(/^Suites:[ \t]*/, "", line)) suites = line
                else if (sub(/^URIs:[ \t]*/, "", line)) uris = line
                else if (sub(/^Enabled:[ \t]*/, "", line)) enabled = line
            }
            if (enabled != "no" && (" " types " ") ~ / deb / && (" " suites " ") ~ (" " suite " ")) {
                split(uris, u, /[ \t]+/); print u[1]; exit
            }
        }' "${files[@]}" | head -n 1
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk -v suite="$suite" '$1 == "deb" {
            i = 2
            if ($i ~ /^\[/) while ($i !~ /\]$/) i++
            if ($i ~ /^\[/ || $i ~ /\]$/) i++
            if ($(i + 1) == suite) { print $i; exit }
        }'
}
mirror=${QEL_FRESH_MIRROR:-}
[ -n "$mirror" ] || mirror=$(host_mirror "$suite" 2>/dev/null | head -n 1 || true)
# The archive that serves this machine's release serves the others too.
[ -n "$mirror" ] || mirror=$(host_mirror "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" 2>/dev/null |
    head -n 1 || true)
[ -n "$mirror" ] || { echo "check-fresh-install: no apt source for $suite here; set QEL_FRESH_MIRROR" >&2; exit 1; }

mkdir -p "$cache"
log=$cache/$suite
tarball=$cache/$suite-minbase.tar
if [ ! -s "$tarball" ]; then
    echo "== debootstrap --variant=minbase $suite from $mirror (kept in $tarball)"
    staging=$(mktemp -d "$cache/bootstrap.XXXXXX")
    chmod 755 "$staging"
    debootstrap --variant=minbase "$suite" "$staging" "$mirror" >"$log-debootstrap.log" 2>&1 ||
        { tail -n 30 "$log-debootstrap.log" >&2; rm -rf --one-file-system "$staging"; exit 1; }
    tar -C "$staging" -cf "$tarball.part" .
    mv "$tarball.part" "$tarball"
    rm -rf --one-file-system "$staging"
fi

chroot_dir=$(mktemp -d "$cache/root.XXXXXX")
work=$(mktemp -d)
mounts=()
pids=()
cleanup() {
    local i process
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        { kill "${pids[i]}" && wait "${pids[i]}"; } 2>/dev/null || true
    done
    # Whatever is still running inside the root was started from here.
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/root" 2>/dev/null)" = "$chroot_dir" ] && kill -9 "${process#/proc/}" 2>/dev/null
    done
    sleep 1
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
    done
    # Never delete through a mount that is still there (the host's /dev).
    if findmnt -rn -o TARGET | grep -q "^$chroot_dir/"; then
        echo "check-fresh-install: mounts left under $chroot_dir; not removing it" >&2
    else
        rm -rf --one-file-system "$chroot_dir"
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mount_in() { # type-or-bind, source, target under the root
    mkdir -p "$chroot_dir$3"
    if [ "$1" = bind ]; then mount --bind "$2" "$chroot_dir$3"; else mount -t "$1" "$2" "$chroot_dir$3"; fi
    mounts+=("$chroot_dir$3")
}

tar -C "$chroot_dir" -xf "$tarball"
# mktemp made it 0700; as the root folder it must let every user through (the
# tests that drop privileges reach their scratch folders through it).
chmod 755 "$chroot_dir"
mount_in proc proc /proc
mount_in sysfs sysfs /sys
mount_in bind /dev /dev
mount_in bind /dev/pts /dev/pts
mount_in tmpfs tmpfs /dev/shm
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true

echo "== copying the checkout to /src/qel"
mkdir -p "$chroot_dir/src/qel"
git -C "$root" ls-files -z --cached --others --exclude-standard |
    tar -C "$root" --null -T - -cf - | tar -C "$chroot_dir/src/qel" -xf -

in_root() { # command...: as root in the fresh system, in the checkout, with a clean environment
    chroot "$chroot_dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# The host's X server: clients in the root reach it through its abstract socket.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
display=":$(tr -d '\n' <"$work/display")"

echo "== scripts/run.sh (log: $log-run.log)"
in_root DISPLAY="$display" /bin/bash -c 'cd /src/qel && exec scripts/run.sh' >"$log-run.log" 2>&1 &
run_pid=$!
pids+=($run_pid)
started=$SECONDS
mapped=""
while [ $((SECONDS - started)) -lt "$timeout" ]; do
    mapped=$(DISPLAY=$display xdotool search --onlyvisible --class qel 2>/dev/null | head -n 1 || true)
    [ -n "$mapped" ] && break
    kill -0 "$run_pid" 2>/dev/null || break
    sleep 2
done
if [ -z "$mapped" ]; then
    tail -n 40 "$log-run.log" >&2
    echo "FAIL: scripts/run.sh did not map the window (after $((SECONDS - started)) s)" >&2
    exit 1
fi
run_seconds=$((SECONDS - started))
echo "scripts/run.sh: the window mapped after $run_seconds s"
sleep 2
kill -0 "$run_pid" 2>/dev/null || { tail -n 40 "$log-run.log" >&2; echo "FAIL: Qel ended at once" >&2; exit 1; }
kill "$run_pid"
wait "$run_pid" 2>/dev/null || true

echo "== scripts/test.sh -L '$labels' (log: $log-test.log)"
started=$SECONDS
if ! in_root /bin/bash -c 'cd /src/qel && exec scripts/test.sh -L "$1"' test "$labels" >"$log-test.log" 2>&1; then
    tail -n 60 "$log-test.log" >&2
    echo "FAIL: scripts/test.sh -L '$labels' on $release (after $((SECONDS - started)) s)" >&2
    exit 1
fi
grep -E '^[0-9]+% tests passed|^Total Test time' "$log-test.log" || true
echo "scripts/test.sh -L '$labels': passed after $((SECONDS - started)) s"
echo "fresh install: both commands passed on a minimal $release ($suite)"
exit
}

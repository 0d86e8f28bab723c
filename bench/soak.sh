#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The soak: Qel loops over twenty one-second clips in its real window for ten
# minutes under a private X server and sound server, while resident memory and
# open descriptors are sampled every 30 s. The table replaces the soak section
# of docs/reliability.md. Usage:
#   bench/soak.sh             ten minutes
#   bench/soak.sh --smoke     one minute, sampled every 10 s, nothing written
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=600
every=30
rss_limit=5
smoke=""
if [ "${1:-}" = "--smoke" ]; then
    smoke=1
    seconds=60
    every=10
    rss_limit=40
fi
build_dir=${QEL_BENCH_BUILD:-$root/build-bench}
"$root/scripts/install-deps.sh" build run bench
"$root/scripts/build.sh" "$build_dir" Release -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=ON

work=$(mktemp -d)
source "$root/scripts/servers.sh"
start_x_server soak
export DISPLAY=$x_display
start_sound_server

"$root/bench/make-soak-clips.sh" "$work/clips"
status=0
"$build_dir/bench/qel_soak" --media "$work/clips" --seconds "$seconds" --every "$every" \
    --rss-limit "$rss_limit" --out "$work/soak.md" || status=$?
if [ -z "$smoke" ] && [ -s "$work/soak.md" ]; then
    # Everything up to the marker stays; the soak's own table follows it.
    doc="$root/docs/reliability.md"
    marker='<!-- soak table: written by bench/soak.sh -->'
    {
        sed "\|^$marker\$|q" "$doc"
        echo
        echo "Run of $(date -u +%Y-%m-%d), $seconds s, sampled every $every s:"
        echo
        cat "$work/soak.md"
    } >"$work/reliability.md"
    grep -qxF "$marker" "$work/reliability.md" && mv "$work/reliability.md" "$doc"
    echo "Written: docs/reliability.md"
fi
exit $status

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Qel and the benchmarks (Release), makes the
# benchmark media with ffmpeg, starts a private X server and sound server, and
# measures Qel side by side with mpv. The table goes to docs/performance.md
# (before the notes kept in bench/performance-notes.md). Usage:
#   bench/run.sh            the full run: 5 pairs, 20 s clips (about 15 minutes);
#                           QEL_BENCH_PAIRS=N for more pairs (steadier medians)
#   bench/run.sh --smoke    a run of a few seconds that only checks the instrument
#   bench/run.sh --only G   some groups, printed only: playback, switch, quiet,
#                           startup, listing, or several with commas (quiet,startup)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
smoke=""
only=""
[ "${1:-}" = "--smoke" ] && smoke=1
[ "${1:-}" = "--only" ] && only=${2:?"--only needs groups: playback, switch, quiet, startup, listing"}
build_dir=${QEL_BENCH_BUILD:-$root/build-bench}
pairs=${QEL_BENCH_PAIRS:-5}
"$root/scripts/install-deps.sh" build run bench
"$root/scripts/build.sh" "$build_dir" Release -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=ON

work=$(mktemp -d)
source "$root/scripts/servers.sh"
start_x_server bench
export DISPLAY=$x_display
start_sound_server
start_session_bus

start_pipewire_server

if [ -n "$smoke" ]; then
    media="$work/media"
    "$root/bench/make-bench-media.sh" "$media" 2
    "$build_dir/bench/qel_bench" --media "$media" --pairs 1 --seconds 2 --smoke --out "$work/table.md"
    exit 0
fi
media="$build_dir/bench-media"
"$root/bench/make-bench-media.sh" "$media" 20
if [ -n "$only" ]; then
    "$build_dir/bench/qel_bench" --media "$media" --pairs "$pairs" --seconds 20 --only "$only"
    exit 0
fi
"$build_dir/bench/qel_bench" --media "$media" --pairs "$pairs" --seconds 20 --out "$work/table.md"
{
    echo "# Performance"
    echo
    echo "Made by \`bench/run.sh\` on a real run; every figure below comes from it."
    echo
    cat "$work/table.md"
    echo
    cat "$root/bench/performance-notes.md"
} >"$root/docs/performance.md"
echo "Written: docs/performance.md"
